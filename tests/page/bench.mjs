// Times the page in the system's Chromium, for docs/aar.md: how soon a
// page is usable, and how long a filter query, one more keystroke, a zoom,
// a kind switched off and a loss followed take, each with the layout it
// causes.
//
//   node tests/page/bench.mjs PAGE.html [RUNS]
//
// "Usable" is measured by a script added at the end of a copy of the page:
// performance.now() once the page's own script is done and a layout has
// been asked for. Each interaction is timed in the page, from the event to
// the end of the layout it causes. "cpu" is the time the page's main
// thread ran until it was usable, from a Chromium trace: on a shared
// machine the wall clock also counts the time other programs had the
// processor, the thread's own time does not. Not a test: speed goals are
// figures, not assertions.
import fs from 'node:fs';
import path from 'node:path';
import {chromium} from 'playwright-core';

const [file, runsText] = process.argv.slice(2);
const runs = Number(runsText || 5);
const copy = path.join(path.dirname(file), 'bench-copy.html');
const page_ = fs.readFileSync(file, 'utf8');
fs.writeFileSync(copy, page_.replace(/<\/body>\s*<\/html>\s*$/,
    '<script>document.body.offsetHeight;document.documentElement.setAttribute("data-usable",String(performance.now()))</script></body></html>\n'));

const browser = await chromium.launch({executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu']});
const results = {usable: [], cpu: [], filter: [], keystroke: [], zoom: [], kinds: [], follow: []};
// One typed value, timed to the layout after the log shows it.
const type = (value) => new Promise((done) => {
  const log = document.querySelector('#battle-1 .log');
  const input = log.querySelector('input[type=search]');
  const before = log.getAttribute('data-shown');
  const start = performance.now();
  input.value = value;
  input.dispatchEvent(new Event('input'));
  (function check() {
    if (log.getAttribute('data-shown') !== before || performance.now() - start > 5000) {
      document.body.offsetHeight;
      done(performance.now() - start);
    } else {
      setTimeout(check, 0);
    }
  })();
});
const click = (selector) => {
  const start = performance.now();
  document.querySelector(selector).click();
  document.body.offsetHeight;
  return performance.now() - start;
};
// The thread time of the tasks run on the thread that parsed the page.
function mainThreadTime(events) {
  const parse = events.find((e) => e.name === 'ParseHTML' && e.args?.beginData?.url?.endsWith('bench-copy.html'));
  const tasks = events.filter((e) => e.pid === parse.pid && e.tid === parse.tid && e.ph === 'X' &&
                                     (e.name === 'RunTask' || e.name === 'ThreadControllerImpl::RunTask'));
  return tasks.reduce((sum, e) => sum + (e.tdur || 0), 0) / 1000;
}
const settle = (page) => page.evaluate(() => new Promise((done) => requestAnimationFrame(() => setTimeout(done, 50))));
for (let run = 0; run < runs; run++) {
  const page = await browser.newPage({viewport: {width: 1280, height: 900}});
  const trace = path.join(path.dirname(file), 'bench-trace.json');
  await browser.startTracing(page, {path: trace, categories: ['devtools.timeline', 'disabled-by-default-devtools.timeline']});
  await page.goto('file://' + copy);
  await page.waitForSelector('html[data-usable]');
  await browser.stopTracing();
  results.usable.push(Number(await page.getAttribute('html', 'data-usable')));
  results.cpu.push(mainThreadTime(JSON.parse(fs.readFileSync(trace, 'utf8')).traceEvents));
  fs.rmSync(trace);
  // The filter's box takes the focus first, as a player's click gives it.
  await page.evaluate(() => document.querySelector('#battle-1 input[type=search]').focus());
  await settle(page);
  results.filter.push(await page.evaluate(type, 'bearing 04'));
  await settle(page);
  results.keystroke.push(await page.evaluate(type, 'bearing 045'));
  await page.evaluate(type, '');
  await settle(page);
  results.zoom.push(await page.evaluate(click, '#battle-1 .zoom-in'));
  await settle(page);
  results.kinds.push(await page.evaluate(click, '#battle-1 .kinds input[value=msg]'));
  await page.evaluate(() => {
    document.querySelector('#battle-1 .kinds input[value=msg]').click();
    document.querySelector('#battle-1 .reset').click();
  });
  await settle(page);
  // The link changes the address; the page follows it when told so.
  results.follow.push(await page.evaluate(() => new Promise((done) => {
    const log = document.querySelector('#battle-1 .log');
    const links = document.querySelectorAll('#battle-1 table.every-loss a');
    const start = performance.now();
    links[links.length - 1].click();
    (function check() {
      if (log.hasAttribute('data-target') || performance.now() - start > 5000) {
        document.body.offsetHeight;
        done(performance.now() - start);
      } else {
        setTimeout(check, 0);
      }
    })();
  })));
  await page.close();
}
await browser.close();
fs.rmSync(copy);
const range = (list) => `${Math.round(Math.min(...list))} to ${Math.round(Math.max(...list))} ms`;
for (const [name, list] of Object.entries(results)) console.log(`${name.padEnd(9)} ${range(list)}  (${list.map(Math.round).join(', ')})`);
