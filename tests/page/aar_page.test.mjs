// The after-action page as a player uses it, in the system's Chromium:
// clicking a loss, dragging across the timeline, typing into the filter,
// a 390 px phone, paper, and axe-core's accessibility rules, on every
// shape of battle in shapes.mjs.
//
//   TARVELD_AAR=build/linux/aar/tarveld-aar node --test tests/page/
//
// A missing Chromium or tarveld-aar fails the run: it is never a skip.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';
import {createRequire} from 'node:module';
import {chromium} from 'playwright-core';
import {GROUPS, Journal, writeShapes} from './shapes.mjs';

const require = createRequire(import.meta.url);
const AXE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const AAR = process.env.TARVELD_AAR;

let browser;
let pages;  // shape -> file URL of its page
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tarveld-page-'));

before(async () => {
  assert.ok(AAR && fs.existsSync(AAR), 'TARVELD_AAR must name the built tarveld-aar');
  assert.ok(fs.existsSync(CHROMIUM), `no Chromium at ${CHROMIUM} (scripts/setup --test-tools installs it)`);
  pages = {};
  for (const [shape, dir] of Object.entries(writeShapes(scratch))) {
    execFileSync(AAR, [dir]);
    pages[shape] = 'file://' + path.join(dir, 'Tarveld-AAR.html');
  }
  browser = await chromium.launch({executablePath: CHROMIUM, args: ['--no-sandbox', '--disable-gpu']});
});

after(async () => {
  await browser?.close();
  fs.rmSync(scratch, {recursive: true, force: true});
});

async function open(shape, {width = 1280, height = 900, hash = '', query = ''} = {}) {
  const page = await browser.newPage({viewport: {width, height}});
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.goto(pages[shape] + query + hash);
  await page.waitForSelector('html[data-script="ready"]');
  page.errors = errors;
  return page;
}

// The rows the log of battle `n` shows, as [kind, game time, text].
function shownRows(page, n = 1) {
  return page.$$eval(`#battle-${n} table.events.shown tbody tr`, (rows) => rows.map((row) => [
    row.className.replace(/\s*target\s*/, '') || 'msg', Number(row.cells[1].textContent), row.cells[3].textContent]));
}

// How far `control`, below `table`, moves while the reader scrolls to it
// and the table's groups not laid out yet come.
async function movedWhileScrolledTo(page, control, table) {
  const offset = () => control.evaluate((e) => e.getBoundingClientRect().top + window.scrollY);
  const before = await offset();
  await control.scrollIntoViewIfNeeded();
  await page.waitForFunction((selector) => !document.querySelector(`${selector} tbody[hidden]`), table);
  return (await offset()) - before;
}

function inViewport(page, selector) {
  return page.$eval(selector, (element) => {
    const box = element.getBoundingClientRect();
    return box.top >= 0 && box.bottom <= window.innerHeight;
  });
}

describe('from a loss to its moment', () => {
  test('a timeline marker opens the log at its loss, highlighted, with what came before in view', async () => {
    const page = await open('long');
    const marker = page.locator('#battle-1 svg.timeline a.mark:not([data-zoom])').nth(5);
    const href = await marker.getAttribute('href');
    await marker.click();
    assert.equal(new URL(page.url()).hash, href);
    const target = page.locator('#battle-1 tr.target');
    assert.equal(await target.count(), 1);
    assert.equal(await target.getAttribute('id'), href.slice(1));
    assert.match(await target.getAttribute('class'), /k-loss/);
    assert.ok(await inViewport(page, '#battle-1 tr.target'));
    // The row before it shows too: what led to the loss.
    const before = await page.$eval('#battle-1 tr.target', (row) => {
      const previous = row.previousElementSibling;
      const box = previous.getBoundingClientRect();
      return box.top >= 0;
    });
    assert.ok(before);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('a link with the fragment reopens at that moment, the log turned to its page', async () => {
    // The losses table's last link: the battle's last loss, far past the first 500 rows.
    const first = await open('long');
    const href = await first.locator('#battle-1 table.every-loss tr.loss a').last().getAttribute('href');
    await first.close();
    const row = Number(href.split('-e')[1]);
    assert.ok(row > 500, `row ${row} should be past the first page`);
    const page = await open('long', {hash: href});
    assert.equal(await page.locator(`#battle-1 tr.target${href}`).count(), 1);
    assert.ok(await inViewport(page, '#battle-1 tr.target'));
    const status = await page.locator('#battle-1 .pager .status').first().textContent();
    assert.match(status, /^rows [\d,]+–[\d,]+ of 5,000$/);
    await page.close();
  });

  test('a loss hidden by the filter is still reached: the filter steps aside', async () => {
    const page = await open('long', {query: '?filter=weather'});
    assert.equal(await page.getAttribute('#battle-1 .log', 'data-shown'), '0');
    await page.locator('#battle-1 table.every-loss a').first().click();
    // The link changes the address, and the page follows it in a task of
    // its own, which a busy machine may run after the click returns.
    await page.waitForSelector('#battle-1 tr.target');
    assert.equal(await page.locator('#battle-1 tr.target.k-loss').count(), 1);
    await page.close();
  });
});

describe('a timeline that zooms', () => {
  test('losses too close to tell apart share one counted marker, which splits as you zoom in', async () => {
    const page = await open('long');
    const cluster = page.locator('#battle-1 svg.timeline a.mark[data-zoom]');
    const labels = await page.locator('#battle-1 svg.timeline .sink-label').allTextContents();
    assert.ok(labels.includes('18 lost'), labels.join(' | '));
    const before = Number(await page.getAttribute('#battle-1 figure', 'data-markers'));
    await cluster.filter({has: page.locator('title', {hasText: '18 units lost'})}).click();
    const afterZoom = Number(await page.getAttribute('#battle-1 figure', 'data-markers'));
    assert.ok(afterZoom >= 18, `${afterZoom} markers after the zoom, ${before} before`);
    const zoomed = await page.locator('#battle-1 svg.timeline .sink-label').allTextContents();
    assert.ok(!zoomed.some((label) => / lost$/.test(label)), zoomed.join(' | '));
    await page.close();
  });

  test('dragging selects a window: the drawing and the log narrow to it, and one control resets', async () => {
    const page = await open('long');
    const svg = page.locator('#battle-1 svg.timeline');
    const box = await svg.boundingBox();
    await page.mouse.move(box.x + box.width * 0.3, box.y + box.height * 0.5);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.4, box.y + box.height * 0.5, {steps: 5});
    await page.mouse.up();
    const [from, to] = (await page.getAttribute('#battle-1 figure', 'data-view')).split(' ').map(Number);
    const [lo, hi] = ['data-lo', 'data-hi'].map((a) => page.getAttribute('#battle-1 figure', a));
    const span = Number(await hi) - Number(await lo);
    assert.ok(Math.abs((to - from) / span - 0.1 / 0.864) < 0.02, `window ${from}–${to} of ${span}`);
    const shown = Number(await page.getAttribute('#battle-1 .log', 'data-shown'));
    assert.ok(shown > 0 && shown < 1000, `${shown} rows in the window`);
    for (const [, t] of await shownRows(page)) assert.ok(t >= from && t <= to, `row at ${t}`);
    assert.match(await page.locator('#battle-1 .tools .window').textContent(), /^Only rows from 1942-06-0\d/);
    await page.locator('#battle-1 .zoom .reset').click();
    assert.equal(await page.getAttribute('#battle-1 .log', 'data-shown'), '5000');
    assert.equal(await page.getAttribute('#battle-1 figure', 'data-view'), `${await lo} ${await hi}`);
    await page.close();
  });

  test('the keyboard zooms, moves and resets, and reaches every marker', async () => {
    const page = await open('long');
    const region = page.locator('#battle-1 .scroll');
    await region.focus();
    await page.keyboard.press('+');
    await page.keyboard.press('+');
    const [from, to] = (await page.getAttribute('#battle-1 figure', 'data-view')).split(' ').map(Number);
    assert.ok(to - from < 2 * 86400 / 3);
    await page.keyboard.press('ArrowRight');
    const [moved] = (await page.getAttribute('#battle-1 figure', 'data-view')).split(' ').map(Number);
    assert.ok(moved > from);
    await page.keyboard.press('0');
    assert.equal(await page.locator('#battle-1 .zoom .reset').isDisabled(), true);
    // Tab from the drawing lands on a marker, and Enter follows it.
    await page.keyboard.press('Tab');
    const focused = await page.evaluate(() => document.activeElement.closest('a.mark')?.getAttribute('href') || '');
    assert.match(focused, /^#b1-e\d+$/);
    await page.close();
  });

  test('every time-factor level is named and the step line reaches the last moment', async () => {
    const page = await open('long');
    const levels = await page.locator('#battle-1 svg.timeline .level').allTextContents();
    assert.deepEqual(levels, ['×1', '×2', '×4', '×8', '×15', '×30', '×60']);
    const [pathEnd, axisEnd] = await page.$eval('#battle-1 svg.timeline', (svg) => {
      const box = svg.querySelector('.step').getBBox();
      return [box.x + box.width, Number(svg.querySelector('.axis').getAttribute('x2'))];
    });
    assert.ok(pathEnd > axisEnd, `the line ends at ${pathEnd}, the battle at ${axisEnd}`);
    await page.close();
  });

  test('labels of different groups never read the same', async () => {
    const page = await open('long');
    const labels = await page.$$eval('#battle-1 tr.loss', (rows) => rows.map((r) => [r.cells[2].textContent, r.dataset.label.replace(/ · \d+$/, '')]));
    const groupOf = new Map();
    for (const [group, label] of labels) {
      assert.equal(groupOf.get(label) ?? group, group, `"${label}" stands for two groups`);
      groupOf.set(label, group);
    }
    assert.equal(groupOf.size, 12);
    await page.close();
  });
});

describe('the log', () => {
  test('the filter matches every word, whatever the case and accents, over every kind', async () => {
    const page = await open('texts');
    const input = page.locator('#battle-1 input[type=search]');
    await input.fill('cafe');
    const texts = (await shownRows(page)).map((row) => row[2]);
    assert.equal(texts.length, 2, texts.join(' | '));
    assert.ok(texts.some((t) => t.startsWith('Café crème')));
    await input.fill('CAFE montreal');
    assert.equal((await shownRows(page)).length, 1);
    await input.fill('group é');  // a loss's text
    assert.deepEqual((await shownRows(page)).map((row) => row[0]), ['k-loss']);
    await page.close();
  });

  test('a query typed on and taken back finds what the same query finds afresh', async () => {
    const page = await open('long');
    const input = page.locator('#battle-1 input[type=search]');
    const shown = async () => Number(await page.getAttribute('#battle-1 .log', 'data-shown'));
    const counts = {};
    for (const query of ['bearing 0', 'bearing 04', 'bearing 045', 'bearing 04', 'reports 045', 'bearing']) {
      await input.fill(query);
      counts[query] = counts[query] ?? await shown();
      assert.equal(await shown(), counts[query], `"${query}" typed on from the last query`);
    }
    for (const query of Object.keys(counts)) {
      const fresh = await open('long', {query: '?filter=' + encodeURIComponent(query)});
      assert.equal(Number(await fresh.getAttribute('#battle-1 .log', 'data-shown')), counts[query], `"${query}" afresh`);
      await fresh.close();
    }
    assert.ok(counts['bearing 045'] > 0 && counts['bearing 045'] < counts['bearing 04']);
    await page.close();
  });

  test('a page of the log shows its rows as the reader scrolls to them, and paper gets them all', async () => {
    const page = await open('long');
    const visible = () => page.$$eval('#battle-1 table.events.shown tbody:not([hidden]) tr', (rows) => rows.length);
    const first = await visible();
    assert.ok(first > 0 && first < 500, `${first} rows laid out at first`);
    // Scrolling on towards the pager below the log, as a reader does.
    for (let step = 0; step < 40 && await visible() < 500; step++) {
      await page.locator('#battle-1 .pager').last().scrollIntoViewIfNeeded();
      await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
    }
    assert.equal(await visible(), 500);
    const times = await page.$$eval('#battle-1 table.events.shown tbody tr', (rows) => rows.map((r) => Number(r.cells[1].textContent)));
    assert.equal(times.length, 500);
    assert.deepEqual(times, [...times].sort((a, b) => a - b));
    await page.evaluate(() => window.dispatchEvent(new Event('beforeprint')));
    await page.emulateMedia({media: 'print'});
    assert.equal(await page.$$eval('#battle-1 table.events.shown tbody tr', (rows) => rows.filter((r) => r.getClientRects().length).length), 5000);
    await page.close();
  });

  test('back on the page, the log follows the kinds the browser restores', async () => {
    const page = await open('long');
    await page.locator('#battle-1 .kinds input[value=msg]').uncheck();
    await page.goto('about:blank');
    await page.goBack();
    await page.waitForSelector('html[data-script="ready"]');
    assert.equal(await page.isChecked('#battle-1 .kinds input[value=msg]'), false);
    await page.waitForSelector('#battle-1 .log[data-shown="100"]');
    await page.close();
  });

  test('kinds switch on and off, and the pager sits above and below', async () => {
    const page = await open('long');
    await page.locator('#battle-1 .kinds input[value=msg]').uncheck();
    const kinds = new Set((await shownRows(page)).map((row) => row[0]));
    assert.deepEqual([...kinds].sort(), ['k-loss', 'k-tf']);
    assert.equal(await page.getAttribute('#battle-1 .log', 'data-shown'), '100');
    await page.locator('#battle-1 .kinds input[value=msg]').check();
    const pagers = page.locator('#battle-1 .pager');
    assert.equal(await pagers.count(), 2);
    // The rows still to come keep their room: the pager below stays put
    // while the reader scrolls to it and they are laid out.
    const lower = pagers.last();
    const moved = await movedWhileScrolledTo(page, lower, '#battle-1 .log table.shown');
    assert.ok(Math.abs(moved) < 100, `the pager below moved ${moved} px as the rows came`);
    await lower.locator('.next').click();
    assert.match(await pagers.first().locator('.status').textContent(), /^rows 501–1,000 of 5,000$/);
    const times = (await shownRows(page)).map((row) => row[1]);
    assert.deepEqual(times, [...times].sort((a, b) => a - b), 'rows in game-time order');
    await page.close();
  });

  test('the button for every loss stays put while the losses above it come', async () => {
    const j = new Journal();
    j.scenario('1942-06-04 04:30:00', 'Many losses/Scen#1');
    for (let i = 0; i < 300; i++) j.loss(100000 + 10 * i, GROUPS[i % 12], i + 1);
    const dir = path.join(scratch, 'many-losses');
    fs.mkdirSync(dir, {recursive: true});
    fs.writeFileSync(path.join(dir, 'Tarveld.log'), j.bytes());
    execFileSync(AAR, [dir]);
    pages.manyLosses = 'file://' + path.join(dir, 'Tarveld-AAR.html');
    const page = await open('manyLosses');
    const button = page.locator('#battle-1 .all-losses');
    assert.equal(await button.textContent(), 'Show all 300 losses');
    const moved = await movedWhileScrolledTo(page, button, '#battle-1 .losses-all table.shown');
    assert.ok(Math.abs(moved) < 100, `the button moved ${moved} px as the losses came`);
    await button.click();
    assert.equal(await page.locator('#battle-1 .losses-all table.shown tbody tr').count(), 300);
    await page.close();

    // Paper gets every loss, with no room left for groups still to come.
    const paper = await open('manyLosses');
    const room = () => paper.$eval('#battle-1 .losses-all table.shown + div', (e) => e.offsetHeight);
    await paper.waitForFunction(() => document.querySelector('#battle-1 .losses-all table.shown + div').offsetHeight > 0);
    await paper.evaluate(() => window.dispatchEvent(new Event('beforeprint')));
    assert.equal(await room(), 0);
    await paper.close();
  });

  // A browser that has not idled since the page opened: the script has read
  // the first page of rows and one slice more, and the reader acts.
  async function openUnread() {
    const page = await browser.newPage({viewport: {width: 1280, height: 900}});
    page.errors = [];
    page.on('pageerror', (error) => page.errors.push(String(error)));
    await page.addInitScript(() => {
      window.idleTasks = [];
      window.requestIdleCallback = (task) => window.idleTasks.push(task);
    });
    await page.goto(pages.long);
    await page.waitForSelector('html[data-script="ready"]');
    // The log's first slice: 2,500 of its 5,000 rows read.
    await page.evaluate(() => {
      const slice = window.idleTasks.findIndex((task) => task.name === 'readLater');
      window.idleTasks.splice(slice, 1)[0]();
    });
    return page;
  }

  test('rows not yet read when the reader acts are found all the same', async () => {
    const fresh = await open('long', {query: '?filter=bearing%2004'});
    const expected = await fresh.getAttribute('#battle-1 .log', 'data-shown');
    await fresh.close();
    let page = await openUnread();
    assert.equal(await page.locator('#battle-1 .tools .count').textContent(), '5,000 rows');
    await page.evaluate(() => {
      const input = document.querySelector('#battle-1 input[type=search]');
      input.value = 'bearing 04';
      input.dispatchEvent(new Event('input'));
    });
    assert.equal(await page.getAttribute('#battle-1 .log', 'data-shown'), expected);
    await page.close();

    page = await openUnread();
    await page.locator('#battle-1 .kinds input[value=msg]').uncheck();
    assert.equal(await page.getAttribute('#battle-1 .log', 'data-shown'), '100');
    await page.close();

    // Page by page to the sixth, past the rows read: in game-time order.
    page = await openUnread();
    let last = -Infinity;
    for (let turn = 1; turn <= 5; turn++) {
      // The pager above the rows: the one below moves as rows are laid out.
      await page.locator('#battle-1 .pager').first().locator('.next').click();
      const times = (await shownRows(page)).map((row) => row[1]);
      assert.equal(times.length, 500);
      assert.ok(times[0] >= last, `page ${turn + 1} begins before the one before it ends`);
      assert.deepEqual(times, [...times].sort((a, b) => a - b));
      last = times[times.length - 1];
    }
    assert.match(await page.locator('#battle-1 .pager .status').first().textContent(), /^rows 2,501–3,000 of 5,000$/);
    await page.close();

    // The battle's last loss, far past the rows read, followed as a link
    // or an address gives it.
    page = await openUnread();
    const href = await page.locator('#battle-1 table.every-loss a').last().getAttribute('href');
    await page.evaluate((hash) => { window.location.hash = hash; }, href);
    await page.waitForSelector(`#battle-1 tr.target${href}`);
    assert.equal(await page.locator(`#battle-1 tr.target${href}`).count(), 1);
    assert.ok(await inViewport(page, '#battle-1 tr.target'));
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  // The long battle's page served up to the end of its script, which
  // follows the log's first page, and the rest once `release` is called:
  // what a reader does while a long log is still on its way.
  async function openLoading() {
    const bytes = fs.readFileSync(new URL(pages.long));
    const cut = bytes.indexOf('</script>', bytes.indexOf('<noscript><table class="events">')) + 10;
    let release;
    const rest = new Promise((done) => { release = done; });
    const server = http.createServer(async (request, response) => {
      response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
      response.write(bytes.subarray(0, cut));
      await rest;
      response.end(bytes.subarray(cut));
    });
    await new Promise((done) => server.listen(0, '127.0.0.1', done));
    const page = await browser.newPage({viewport: {width: 1280, height: 900}});
    page.errors = [];
    page.on('pageerror', (error) => page.errors.push(String(error)));
    page.release = async () => { release(); await page.waitForSelector('html[data-script="ready"]'); server.close(); };
    await page.goto(`http://127.0.0.1:${server.address().port}/`, {waitUntil: 'commit'});
    await page.waitForSelector('html[data-script="first-page"]');
    return page;
  }

  test('while the rest of a long log loads, the first page shows and what the reader asks for follows', async () => {
    const fresh = await open('long', {query: '?filter=bearing%2004'});
    await fresh.locator('#battle-1 .zoom-in').click();
    await fresh.locator('#battle-1 .zoom-in').click();
    const expected = await fresh.getAttribute('#battle-1 .log', 'data-shown');
    const view = await fresh.getAttribute('#battle-1 .timeline-figure', 'data-view');
    await fresh.close();

    let page = await openLoading();
    assert.equal((await shownRows(page)).length, 500);
    assert.ok(await page.locator('#battle-1 .tools').isVisible());
    // Paper asked for now gets the rows read so far, each once.
    await page.evaluate(() => window.dispatchEvent(new Event('beforeprint')));
    const printed = (await shownRows(page)).map((row) => row[1] + row[2]);
    assert.equal(new Set(printed).size, printed.length);
    await page.evaluate(() => window.dispatchEvent(new Event('afterprint')));
    // Each step taken starts where the last ended.
    await page.locator('#battle-1 input[type=search]').fill('bearing 04');
    await page.locator('#battle-1 .zoom-in').click();
    await page.locator('#battle-1 .zoom-in').click();
    assert.equal(await page.locator('#battle-1 .tools .count').textContent(), 'Reading the log\u2026');
    await page.release();
    assert.equal(await page.getAttribute('#battle-1 .timeline-figure', 'data-view'), view);
    assert.equal(await page.getAttribute('#battle-1 .log', 'data-shown'), expected);
    assert.deepEqual(page.errors, []);
    await page.close();

    // The battle's last loss, in a block not yet parsed, followed.
    page = await openLoading();
    const href = await page.locator('#battle-1 table.every-loss a').last().getAttribute('href');
    await page.evaluate((hash) => { window.location.hash = hash; }, href);
    await page.release();
    await page.waitForSelector(`#battle-1 tr.target${href}`);
    assert.ok(await inViewport(page, '#battle-1 tr.target'));
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('every row shown has its whole date, and the filter finds rows by their day', async () => {
    const page = await open('long');
    const input = page.locator('#battle-1 input[type=search]');
    const dates = () => page.$$eval('#battle-1 table.events.shown tbody tr', (rows) => rows.map((r) => r.cells[0].textContent));
    let rows = 0;
    for (const day of ['1942-06-04', '1942-06-05', '1942-06-06']) {
      await input.fill(day);
      const shown = Number(await page.getAttribute('#battle-1 .log', 'data-shown'));
      assert.ok(shown > 0, `nothing on ${day}`);
      for (const date of await dates()) assert.match(date, new RegExp(`^${day} \\d\\d:\\d\\d:\\d\\d$`));
      rows += shown;
    }
    assert.equal(rows, 5000, 'each row on one day');
    await input.fill('');
    await page.locator('#battle-1 .pager').last().locator('.next').click();
    for (const date of await dates()) assert.match(date, /^1942-06-0[456] \d\d:\d\d:\d\d$/);
    await page.close();
  });

  test('a very long text is shortened, opens whole, and hostile texts stay text', async () => {
    const page = await open('texts');
    assert.equal(await page.getAttribute('html', 'data-pwned'), null);
    const long = page.locator('#battle-1 table.events.shown details');
    assert.equal(await long.count(), 1);
    assert.match(await long.locator('summary').textContent(), /Read all 409,600 characters/);
    await long.locator('summary').click();
    assert.equal((await long.locator('.whole').textContent()).length, 409600);
    const texts = (await shownRows(page)).map((row) => row[2]);
    assert.ok(texts.includes('A'.repeat(1999) + '!'), 'a 2,000-character text is whole');
    assert.ok(texts.some((t) => t.startsWith('<script>')));
    assert.equal(await page.locator('script').count(), 2);
    await page.close();
  });
});

describe('what the page says', () => {
  test('losses are ranked by group, most first, with their first and last loss', async () => {
    const page = await open('long');
    const ranked = await page.$$eval('#battle-1 table.ranked tbody tr', (rows) => rows.map((r) => Number(r.cells[1].textContent)));
    assert.equal(ranked.length, 12);
    assert.deepEqual(ranked, [...ranked].sort((a, b) => b - a));
    assert.equal(ranked.reduce((a, b) => a + b, 0), 60);
    await page.close();
  });

  test('a campaign has one summary with totals and links to every battle', async () => {
    const page = await open('campaign');
    const rows = page.locator('.campaign table.summary tbody tr');
    assert.equal(await rows.count(), 20);
    await rows.nth(12).locator('a').click();
    assert.equal(new URL(page.url()).hash, '#battle-13');
    const totals = await page.$$eval('.campaign tfoot td.n', (cells) => cells.map((c) => c.textContent));
    assert.deepEqual(totals, ['600', '50', '20']);
    const groups = await page.$$eval('.campaign table.ranked tbody tr', (r) => r.map((row) => Number(row.cells[1].textContent)));
    assert.equal(groups.reduce((a, b) => a + b, 0), 50);
    await page.close();
  });

  test('without a journal the timeline says losses and time-factor changes are not known', async () => {
    const page = await open('reportOnly');
    const texts = await page.locator('#battle-1 svg.timeline .none').allTextContents();
    assert.ok(texts.some((t) => /^not known: only the battle journal records losses/.test(t)), texts.join(' | '));
    assert.ok(texts.some((t) => /^not known: .*time-factor changes/.test(t)));
    assert.ok(!texts.includes('no unit lost'));
    await page.close();
  });

  test('failures to write the files are notices at the battle top and rows of their own', async () => {
    const page = await open('failures');
    const notices = await page.locator('#battle-1 .notice.failure').allTextContents();
    assert.equal(notices.length, 2);
    assert.match(notices[0], /^The report could not be written from 10:42 to 10:47: another program held it\./);
    assert.match(notices[1], /^The journal could not be flushed from 10:48 on: the disk was full\. The last attempt that failed was at 10:48/);
    await page.locator('#battle-1 .notice.failure a').first().click();
    assert.match(await page.locator('#battle-1 tr.target').getAttribute('class'), /k-fail/);
    await page.close();
  });
});

describe('phone and paper', () => {
  for (const shape of ['long', 'campaign', 'texts', 'failures']) {
    test(`${shape} at 390 px: no sideways page, no text under 12 px, tap targets of 24 px`, async () => {
      const page = await open(shape, {width: 390, height: 844});
      assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 390),
                `page is ${await page.evaluate(() => document.documentElement.scrollWidth)} px wide`);
      const small = await page.evaluate(() => {
        const found = [];
        const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
        while (walker.nextNode()) {
          const element = walker.currentNode.parentElement;
          if (!walker.currentNode.textContent.trim() || element.closest('noscript,title,desc,script,style,[hidden],.print-only,details:not([open]) > :not(summary)')) continue;
          if (element.getClientRects().length === 0) continue;
          let size = parseFloat(getComputedStyle(element).fontSize);
          const svg = element.closest('svg');
          if (svg) size *= svg.getBoundingClientRect().width / svg.viewBox.baseVal.width;
          if (size < 12) found.push(`${size.toFixed(1)} px: ${walker.currentNode.textContent.slice(0, 30)}`);
        }
        return found;
      });
      assert.deepEqual(small.slice(0, 5), []);
      const tiny = await page.$$eval('button:not([hidden]), input, td a, th a, summary', (targets) => targets
          .filter((t) => t.getClientRects().length && !t.closest('[hidden]'))
          .map((t) => [t.getBoundingClientRect(), t.outerHTML.slice(0, 60)])
          .filter(([box]) => box.height < 24 || box.width < 24).map(([box, html]) => `${box.width}x${box.height} ${html}`));
      assert.deepEqual(tiny.slice(0, 5), []);
      await page.close();
    });
  }

  test('on a phone the log puts the date above the text, and the timeline scrolls sideways', async () => {
    const page = await open('long', {width: 390, height: 844});
    const [date, text] = await page.$eval('#battle-1 table.events.shown tbody tr', (row) => [row.cells[0], row.cells[3]].map((c) => c.getBoundingClientRect()));
    assert.ok(date.bottom <= text.top + 1, 'the date stands above the text');
    assert.ok(text.width > 300, `the text has ${text.width} px`);
    const [scroll, svg] = await page.$eval('#battle-1 .scroll', (s) => [s.clientWidth, s.scrollWidth]);
    assert.ok(svg > scroll, 'the drawing is wider than the screen and scrolls');
    await page.close();
  });

  test('on paper each battle starts a page, names itself on every page, and the timeline text is 8 pt or more', async () => {
    const page = await open('campaign');
    await page.emulateMedia({media: 'print'});
    const breaks = await page.$$eval('section.battle', (s) => s.map((e) => getComputedStyle(e).breakBefore));
    assert.ok(breaks.every((b) => b === 'page'), breaks.join());
    const heads = await page.$$eval('section.battle table.events thead tr.print-only', (r) => r.map((row) => [getComputedStyle(row).display, row.textContent]));
    assert.equal(heads.length, 20);
    assert.ok(heads.every(([display, text], i) => display === 'table-row' && text.startsWith(`Battle ${i + 1}: Convoy/Scen#`)));
    // A4 with 12 mm margins: 186 mm of width for the drawing.
    await page.setViewportSize({width: 703, height: 1000});
    const points = await page.$eval('#battle-1 svg.timeline', (svg) => {
      const text = svg.querySelector('text');
      return parseFloat(getComputedStyle(text).fontSize) * svg.getBoundingClientRect().width / svg.viewBox.baseVal.width * 0.75;
    });
    assert.ok(points >= 8, `${points.toFixed(1)} pt`);
    const pdf = await page.pdf({format: 'A4'});
    const pageCount = (pdf.toString('latin1').match(/\/Type\s*\/Page[^s]/g) || []).length;
    assert.ok(pageCount >= 21, `${pageCount} pages for 20 battles and the summary`);
    await page.close();
  });
});

describe('paper', () => {
  // A4 with 12 mm margins: 186 by 273 mm of page, at 96 CSS px an inch.
  const PAGE_WIDTH = 703, PAGE_HEIGHT = Math.floor(273 / 25.4 * 96);
  for (const shape of ['long', 'campaign', 'texts']) {
    test(`${shape} on paper: no table held whole to leave half a page empty, and only a battle forces a new page`, async () => {
      const page = await open(shape, {width: PAGE_WIDTH, height: 1000});
      await page.evaluate(() => window.dispatchEvent(new Event('beforeprint')));
      await page.emulateMedia({media: 'print'});
      const found = await page.evaluate((pageHeight) => {
        const held = [], forced = [];
        for (const element of document.querySelectorAll('body *')) {
          const style = getComputedStyle(element);
          const height = element.getBoundingClientRect().height;
          // Held together, a block taller than a quarter page leaves the
          // rest of a page empty when it does not fit there. A row may be
          // held, and the drawing, which is shorter than half a page.
          const allowed = element.tagName === 'TR' || (element.matches('svg.timeline') && height < pageHeight / 2);
          if (style.breakInside.startsWith('avoid') && height > pageHeight / 4 && !allowed)
            held.push(`${element.tagName}.${element.getAttribute('class')} ${Math.round(height)} px`);
          for (const side of [style.breakBefore, style.breakAfter]) {
            if (['page', 'left', 'right', 'recto', 'verso'].includes(side) && !element.matches('section.battle'))
              forced.push(`${element.tagName}.${element.getAttribute('class')}`);
          }
        }
        const battles = [...document.querySelectorAll('section.battle[id^="battle-"]')].map((s) => getComputedStyle(s).breakBefore);
        return {held, forced, battles};
      }, PAGE_HEIGHT);
      assert.deepEqual(found.held, []);
      assert.deepEqual(found.forced, []);
      // Each battle starts a page; a battle alone shares its first page with the heading.
      const expected = found.battles.length === 1 ? ['auto'] : found.battles.map(() => 'page');
      assert.deepEqual(found.battles, expected);
      // Printed, the pages hold what the laid-out page holds, with room for
      // each page's repeated table headers and the battles' own pages: a
      // table pushed whole to the next page would leave more pages than that.
      const height = await page.evaluate(() => document.documentElement.scrollHeight);
      const pdf = await page.pdf({format: 'A4'});
      const pages = (pdf.toString('latin1').match(/\/Type\s*\/Page[^s]/g) || []).length;
      const filled = height / PAGE_HEIGHT;
      assert.ok(pages >= Math.ceil(filled), `${pages} pages for ${filled.toFixed(1)} pages of content`);
      assert.ok(pages <= Math.ceil(filled * 1.12) + found.battles.length, `${pages} pages for ${filled.toFixed(1)} pages of content`);
      await page.close();
    });
  }
});

describe('accessibility', () => {
  // Each shape on a wide screen, the long battle on a phone too: axe takes
  // seconds a page on this machine.
  for (const [shape, widths] of [['long', [1280, 390]], ['campaign', [1280]], ['texts', [1280, 390]],
                                 ['reportOnly', [1280]], ['failures', [1280]]]) {
    for (const width of widths) {
      test(`axe finds nothing serious on ${shape} at ${width} px`, async () => {
        const page = await open(shape, {width});
        await page.addScriptTag({content: AXE});
        const violations = await page.evaluate(async () => (await window.axe.run(document, {resultTypes: ['violations']})).violations
            .filter((v) => v.impact === 'serious' || v.impact === 'critical')
            .map((v) => `${v.id}: ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(', ')}`));
        assert.deepEqual(violations, []);
        await page.close();
      });
    }
  }
});

describe('without script', () => {
  test('the page is whole: every row, and a loss link leads to its row', async () => {
    const context = await browser.newContext({javaScriptEnabled: false, viewport: {width: 1280, height: 900}});
    const page = await context.newPage();
    await page.goto(pages.long);
    assert.equal(await page.locator('table.events tbody tr').count(), 5000);
    // The log's blocks, each a table of its own, read as one: their
    // columns line up.
    const columns = await page.$$eval('#battle-1 table.events:not(.shown)', (tables) => tables.map((table) =>
      Array.from(table.tBodies[0].rows[0].cells, (cell) => Math.round(cell.getBoundingClientRect().left)).join(' ')));
    assert.equal(columns.length, 4);
    assert.deepEqual(new Set(columns).size, 1, columns.join(' | '));
    const href = await page.locator('#battle-1 svg.timeline a.mark').first().getAttribute('href');
    await page.locator('#battle-1 table.every-loss a').first().click();
    assert.equal(await page.locator(`tr${href}`).count(), 1);
    assert.ok(await inViewport(page, `tr${href}`));
    await context.close();
  });

  test('accented texts, written as character references, read as the game wrote them', async () => {
    const context = await browser.newContext({javaScriptEnabled: false});
    const page = await context.newPage();
    await page.goto(pages.texts);
    const texts = await page.$$eval('table.events tbody tr', (rows) => rows.map((r) => r.cells[3].textContent));
    assert.ok(texts.some((t) => t.startsWith('Café crème')), texts.join(' | ').slice(0, 200));
    assert.ok(texts.includes('cafe without its accent, and CAFÉ in capitals'));
    assert.ok(texts.includes('<i>Group</i> é, unit 03 lost'));
    await context.close();
  });
});
