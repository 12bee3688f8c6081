// Times the page in the system's Chromium, for docs/aar.md: how soon a
// page is usable, and how long a filter keystroke, a zoom, a kind switched
// off and a loss followed take, each with the layout it causes.
//
//   node tests/page/bench.mjs PAGE.html [RUNS]
//
// "Usable" is measured by a script added at the end of a copy of the page:
// performance.now() once the page's own script is done and a layout has
// been asked for. Not a test: speed goals are figures, not assertions.
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
const results = {usable: [], filter: [], zoom: [], kinds: [], follow: []};
for (let run = 0; run < runs; run++) {
  const page = await browser.newPage({viewport: {width: 1280, height: 900}});
  await page.goto('file://' + copy);
  await page.waitForSelector('html[data-usable]');
  results.usable.push(Number(await page.getAttribute('html', 'data-usable')));
  // Each step: the work the event causes and the layout after it, in the page.
  const timed = (script) => page.evaluate(script);
  results.filter.push(await timed(() => new Promise((done) => {
    const input = document.querySelector('#battle-1 input[type=search]');
    input.focus();
    const start = performance.now();
    input.value = 'bearing 045';
    input.dispatchEvent(new Event('input'));
    const wait = () => { if (document.querySelector('#battle-1 .log').getAttribute('data-shown') !== String(document.querySelectorAll('#battle-1 noscript').length && -1)) { document.body.offsetHeight; done(performance.now() - start); } };
    setTimeout(function check() { const shown = document.querySelector('#battle-1 .log').getAttribute('data-shown'); if (shown !== window.__before) { document.body.offsetHeight; done(performance.now() - start); } else setTimeout(check, 1); }, 0);
    window.__before = document.querySelector('#battle-1 .log').getAttribute('data-shown');
  })));
  await page.evaluate(() => { const input = document.querySelector('#battle-1 input[type=search]'); input.value = ''; input.dispatchEvent(new Event('input')); });
  await page.waitForFunction(() => document.querySelector('#battle-1 .log').getAttribute('data-shown') === String(document.querySelector('#battle-1 .kinds small') ? document.querySelector('#battle-1 .log').getAttribute('data-shown') : 0));
  await page.waitForTimeout(200);
  results.zoom.push(await timed(() => {
    const start = performance.now();
    document.querySelector('#battle-1 .zoom-in').click();
    document.body.offsetHeight;
    return performance.now() - start;
  }));
  results.kinds.push(await timed(() => {
    const start = performance.now();
    document.querySelector('#battle-1 .kinds input[value=msg]').click();
    document.body.offsetHeight;
    return performance.now() - start;
  }));
  await page.evaluate(() => { document.querySelector('#battle-1 .kinds input[value=msg]').click(); document.querySelector('#battle-1 .reset').click(); });
  results.follow.push(await timed(() => {
    const links = document.querySelectorAll('#battle-1 table.every-loss a');
    const start = performance.now();
    links[links.length - 1].click();
    document.body.offsetHeight;
    return performance.now() - start;
  }));
  await page.close();
}
await browser.close();
fs.rmSync(copy);
const range = (list) => `${Math.round(Math.min(...list))} to ${Math.round(Math.max(...list))} ms`;
for (const [name, list] of Object.entries(results)) console.log(`${name.padEnd(8)} ${range(list)}  (${list.map(Math.round).join(', ')})`);
