// Times the page in the system's Chromium, for docs/aar.md: how soon a
// page is usable, and how long a filter query, one more keystroke, a zoom,
// a kind switched off and a loss followed take, each with the layout it
// causes.
//
//   node tests/page/bench.mjs PAGE.html [RUNS]
//
// A script added to the head of a copy of the page watches the page's
// script: "usable" is performance.now() once that has shown the first page
// of the log (or everything, on a page short enough to have loaded first)
// and a layout has been asked for; "loaded", once every row has come and
// the page is ready; "longest", the longest task the main thread began in
// between, the longest a click or a scroll could wait while the rest of
// the page loads (Chromium reports tasks of 50 ms or more, so 0 is less).
//
// Two ways of opening it:
// - driven by Playwright, which also times each interaction in the page,
//   from the event to the end of the layout it causes, and takes "cpu",
//   the time the page's main thread ran until it was usable, from a
//   Chromium trace: on a shared machine the wall clock also counts the
//   time other programs had the processor, the thread's own time does
//   not. DevTools is attached, and keeps a decoded copy of the page,
//   which costs the main thread a long task when the last byte comes.
// - "plain": Chromium started with the page, as a player's double-click
//   starts it, and no DevTools; the page tells its figures on the console,
//   which Chromium writes to standard error. "cold" is the first load, in
//   a browser just started; "warm" the same page opened again at once.
//
// Not a test: speed goals are figures, not assertions.
import {spawn} from 'node:child_process';
import {once} from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {chromium} from 'playwright-core';

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const [file, runsText] = process.argv.slice(2);
const runs = Number(runsText || 5);
const copy = path.join(path.dirname(file), 'bench-copy.html');
const page_ = fs.readFileSync(file, 'utf8');
const watch = `<script>(function () {
  var root = document.documentElement, usable = 0, longest = 0;
  var plain = location.search.indexOf('plain') >= 0, again = location.search.indexOf('again') >= 0;
  new PerformanceObserver(function (list) {
    list.getEntries().forEach(function (task) {
      if (usable && task.startTime > usable) longest = Math.max(longest, task.duration);
    });
  }).observe({type: 'longtask', buffered: true});
  new MutationObserver(function () {
    var state = root.getAttribute('data-script');
    if (state && !usable) {
      document.body.offsetHeight;
      usable = performance.now();
      performance.mark('usable');
      root.setAttribute('data-usable', String(usable));
    }
    if (state !== 'ready') return;
    var loaded = performance.now();
    // Long tasks are told a little after they end.
    setTimeout(function () {
      root.setAttribute('data-longest', String(longest));
      root.setAttribute('data-loaded', String(loaded));
      if (!plain) return;
      console.log('bench ' + (again ? 'warm' : 'cold') + ' ' + usable + ' ' + loaded + ' ' + longest);
      if (!again) location.replace(location.pathname + '?plain&again');
    }, 200);
  }).observe(root, {attributes: true, attributeFilter: ['data-script']});
})();</script>`;
fs.writeFileSync(copy, page_.replace('<head>\n', '<head>\n' + watch));

// One plain run: a browser of its own, with a profile of its own.
async function plainRun() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tarveld-bench-'));
  const chrome = spawn(CHROMIUM, ['--headless=new', '--no-sandbox', '--disable-gpu', '--user-data-dir=' + profile,
                                  '--enable-logging=stderr', '--v=0', '--window-size=1280,900',
                                  'file://' + path.resolve(copy) + '?plain'],
                       {stdio: ['ignore', 'ignore', 'pipe'], detached: true});
  const figures = {};
  try {
    await new Promise((done, fail) => {
      let text = '';
      const timer = setTimeout(() => fail(new Error('Chromium told no figures in 60 s')), 60000);
      chrome.stderr.on('data', (chunk) => {
        text += chunk;
        for (const m of text.matchAll(/bench (cold|warm) ([\d.]+) ([\d.]+) ([\d.]+)/g)) figures[m[1]] = m.slice(2).map(Number);
        if (figures.warm) {
          clearTimeout(timer);
          done();
        }
      });
    });
  } finally {
    // The browser's whole process group: its helpers may still be
    // writing into the profile.
    const exited = once(chrome, 'exit');
    process.kill(-chrome.pid);
    await exited;
    fs.rmSync(profile, {recursive: true, force: true, maxRetries: 10, retryDelay: 100});
  }
  return figures;
}

const browser = await chromium.launch({executablePath: CHROMIUM, args: ['--no-sandbox', '--disable-gpu']});
const results = {usable: [], cpu: [], loaded: [], longest: [], filter: [], keystroke: [], zoom: [], kinds: [], follow: []};
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
// The thread time of the tasks the thread that parsed the page began
// before the page was usable.
function mainThreadTime(events) {
  const parse = events.find((e) => e.name === 'ParseHTML' && e.args?.beginData?.url?.endsWith('bench-copy.html'));
  const usable = events.find((e) => e.name === 'usable' && e.pid === parse.pid);
  const tasks = events.filter((e) => e.pid === parse.pid && e.tid === parse.tid && e.ph === 'X' && e.ts <= usable.ts &&
                                     (e.name === 'RunTask' || e.name === 'ThreadControllerImpl::RunTask'));
  return tasks.reduce((sum, e) => sum + (e.tdur || 0), 0) / 1000;
}
const settle = (page) => page.evaluate(() => new Promise((done) => requestAnimationFrame(() => setTimeout(done, 50))));
for (let run = 0; run < runs; run++) {
  const page = await browser.newPage({viewport: {width: 1280, height: 900}});
  const trace = path.join(path.dirname(file), 'bench-trace.json');
  await browser.startTracing(page, {path: trace, categories: ['devtools.timeline', 'disabled-by-default-devtools.timeline', 'blink.user_timing']});
  await page.goto('file://' + copy);
  await page.waitForSelector('html[data-loaded]');
  await browser.stopTracing();
  const usable = Number(await page.getAttribute('html', 'data-usable'));
  results.usable.push(usable);
  results.loaded.push(Number(await page.getAttribute('html', 'data-loaded')));
  results.longest.push(Number(await page.getAttribute('html', 'data-longest')));
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
const plain = {'cold usable': [], 'cold loaded': [], 'warm usable': [], 'warm loaded': [], 'warm longest': []};
for (let run = 0; run < runs; run++) {
  const {cold, warm} = await plainRun();
  plain['cold usable'].push(cold[0]);
  plain['cold loaded'].push(cold[1]);
  plain['warm usable'].push(warm[0]);
  plain['warm loaded'].push(warm[1]);
  plain['warm longest'].push(warm[2]);
}
fs.rmSync(copy);
const range = (list) => `${Math.round(Math.min(...list))} to ${Math.round(Math.max(...list))} ms`;
console.log('Driven by Playwright, DevTools attached:');
for (const [name, list] of Object.entries(results)) console.log(`  ${name.padEnd(12)} ${range(list)}  (${list.map(Math.round).join(', ')})`);
console.log('Plain, no DevTools:');
for (const [name, list] of Object.entries(plain)) console.log(`  ${name.padEnd(12)} ${range(list)}  (${list.map(Math.round).join(', ')})`);
