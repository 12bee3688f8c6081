#include "aar/page_assets.h"

namespace tarveld::aar {

const std::string_view kPageStyle = R"css(
:root{--ink:#1d2125;--muted:#545d66;--rule:#d9dde1;--paper:#fff;--band:#f4f6f8;--loss:#b3261e;--tempo:#1f5fa8;--fail:#8a3c00}
*{box-sizing:border-box}
[hidden]{display:none!important}
html{-webkit-text-size-adjust:100%;text-size-adjust:100%}
body{margin:0 auto;max-width:1120px;padding:24px 28px 48px;font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;color:var(--ink);background:var(--paper);overflow-wrap:break-word}
h1{font-size:28px;margin:0 0 4px}
h2{font-size:22px;margin:0 0 10px}
h3{font-size:17px;margin:26px 0 8px}
a{color:#0b57a4}
.lede{font-size:17px;color:var(--muted);margin:0 0 12px}
.sources{margin:0;padding-left:20px;color:var(--muted);font-size:14px}
.note{background:#fff7e0;border-left:4px solid #e0a800;padding:6px 12px;margin:10px 0;font-size:14px}
.notice.failure{background:#fdeeec;border-left:4px solid var(--loss);padding:6px 12px;margin:10px 0;font-size:15px}
.notice.failure p{margin:0}
.campaign{margin:26px 0;border-top:1px solid var(--rule);padding-top:12px}
caption{text-align:left;color:var(--muted);font-size:14px;padding:0 0 4px}
.battle{border-top:3px solid var(--ink);margin-top:34px;padding-top:14px}
.battle h2 .num{color:var(--muted);font-weight:400;margin-right:6px}
.battle h2 .play{font-size:14px;font-weight:400;color:var(--muted);margin-left:6px}
.facts{display:grid;grid-template-columns:repeat(auto-fill,minmax(170px,1fr));gap:8px 18px;margin:0 0 14px}
.facts div{background:var(--band);padding:6px 10px;border-radius:4px}
.facts dt{font-size:12px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em}
.facts dd{margin:0;font-weight:600;font-variant-numeric:tabular-nums}
.facts dd small{font-weight:400;color:var(--muted);font-size:13px}
figure{margin:0}
.scroll{overflow-x:auto;-webkit-overflow-scrolling:touch}
.scroll:focus-visible,.timeline a:focus-visible{outline:3px solid var(--tempo);outline-offset:2px}
svg.timeline{width:100%;height:auto;display:block;background:var(--paper);touch-action:pan-y}
.timeline text{font:15px system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;fill:#3c434a}
.timeline .band{font-weight:600;fill:var(--ink)}
.timeline .none{fill:var(--muted);font-style:italic}
.timeline .level{text-anchor:end;fill:var(--tempo)}
.timeline .tick-label{text-anchor:middle;fill:var(--muted)}
.timeline .sink-label{fill:var(--loss);paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}
.timeline .sink-label.end{text-anchor:end}
.timeline .grid{stroke:#eceff1}
.timeline .axis{stroke:#8a939b}
.timeline .lead{stroke:#e4b4ae}
.timeline .sink{fill:var(--loss);stroke:#fff;stroke-width:1.5}
.timeline a.mark:hover .sink,.timeline a.mark:focus .sink{stroke:var(--ink);stroke-width:3}
.timeline .step{fill:none;stroke:var(--tempo);stroke-width:2}
.timeline .step.dense{stroke-width:1}
.timeline .ticks{stroke:#6f7a84;stroke-width:1.4}
.timeline .selection{fill:rgba(31,95,168,.15);stroke:var(--tempo)}
.zoom{display:flex;flex-wrap:wrap;gap:6px;align-items:center;margin:0 0 6px}
.zoom .window-text{margin-right:auto;font-size:14px;color:var(--muted)}
button{font:inherit;font-size:14px;min-height:30px;min-width:30px;padding:3px 10px}
figcaption{font-size:13px;color:var(--muted);margin-top:4px}
figcaption .key-sink{color:var(--loss)}
figcaption .key-step{color:var(--tempo)}
.wide{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:14px}
th,td{text-align:left;vertical-align:top;padding:3px 8px;border-bottom:1px solid var(--rule)}
thead th{font-size:12px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em;border-bottom:2px solid var(--rule)}
tfoot th,tfoot td{font-weight:600;border-top:2px solid var(--rule)}
.n{text-align:right;font-variant-numeric:tabular-nums}
td a,th a{display:inline-block;min-height:24px}
.barcell{width:28%}
.bar{display:block;height:12px;margin-top:4px;background:var(--loss);min-width:2px;border-radius:2px}
.sr{position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0);white-space:nowrap}
.print-only{display:none}
.every-loss td{font-variant-numeric:tabular-nums}
table.events{table-layout:fixed}
.events .c-date{width:11.5em}
.events .c-time{width:6.5em}
.events .c-kind{width:7.5em}
.events td:nth-child(1),.events td:nth-child(2){white-space:nowrap;font-variant-numeric:tabular-nums;color:var(--muted)}
.events td:nth-child(3){font-size:12px;text-transform:uppercase;letter-spacing:.04em;color:var(--muted)}
.events tr:not(.k-loss):not(.k-tf):not(.k-fail) td:nth-child(3)::before{content:"Message"}
.events tr.k-loss td{color:var(--loss)}
.events tr.k-tf td:nth-child(3),.events tr.k-tf td:nth-child(4){color:var(--tempo)}
.events tr.k-fail td{color:var(--fail);font-weight:600}
.events.more thead tr{position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0)}
.events tr.target{background:#fff1b8;outline:2px solid #b07d00}
.events tr:target{background:#fff1b8}
.whole{max-height:24em;overflow:auto;overflow-wrap:break-word;border-left:2px solid var(--rule);padding-left:6px}
summary{cursor:pointer;min-height:24px;color:#0b57a4}
tbody.chunk{content-visibility:auto}
.tools{display:flex;flex-wrap:wrap;gap:8px 16px;align-items:center;margin:0 0 8px}
.tools .filter{flex:1 1 260px;display:flex;gap:8px;align-items:center}
.tools .filter input{flex:1;min-width:0;font:inherit;min-height:34px;padding:5px 8px;border:1px solid #767f88;border-radius:4px}
.kinds{border:0;margin:0;padding:0;display:flex;flex-wrap:wrap;gap:4px 14px;align-items:center}
.kinds legend{float:left;margin-right:8px;padding:0;font-size:14px}
.kinds label{display:inline-flex;align-items:center;gap:5px;min-height:30px}
.kinds input{width:24px;height:24px;margin:0}
.kinds small{color:var(--muted)}
.tools .window,.tools .count{margin:0;font-size:14px;color:var(--muted)}
.pager{display:flex;gap:8px;align-items:center;margin:6px 0;font-size:14px;color:var(--muted)}
.none-here{color:var(--muted);font-style:italic}
footer{margin-top:40px;border-top:1px solid var(--rule);padding-top:8px;color:var(--muted);font-size:13px}
@media (max-width:640px){
body{padding:12px 12px 32px;font-size:16px}
h1{font-size:24px}
h2{font-size:20px}
.facts{grid-template-columns:repeat(auto-fill,minmax(140px,1fr))}
svg.timeline{min-width:820px}
table{font-size:14px}
table.events,.events tbody,.events tr,.events td{display:block;width:auto}
.events colgroup,.events thead tr:not(.print-only){position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0)}
.events tr{display:grid;grid-template-columns:auto auto 1fr;gap:0 10px;padding:6px 0;border-bottom:1px solid var(--rule)}
.events td{border:0;padding:0}
.events td:nth-child(3){text-align:right}
.events td:nth-child(4){grid-column:1/-1;font-size:15px}
.barcell{width:22%}
}
@page{margin:12mm}
@media print{
body{max-width:none;padding:0;font-size:11pt}
.battle{break-before:page;border-top:none;margin-top:0}
.battle.first{break-before:auto}
.print-only{display:table-row}
.print-only th{font-size:10pt;text-transform:none;letter-spacing:0;color:var(--ink)}
thead{display:table-header-group}
tr{break-inside:avoid}
h2,h3{break-after:avoid}
.tools,.pager,.zoom,.zoom-help{display:none!important}
.scroll,.wide{overflow:visible}
svg.timeline{min-width:0;break-inside:avoid}
.timeline text{font-size:16px}
tbody.chunk{content-visibility:visible}
.events.shown tbody[hidden]{display:table-row-group!important}
.events.more thead tr{position:static;width:auto;height:auto;overflow:visible;clip:auto}
a{color:inherit;text-decoration:none}
.events tr.target{outline:none}
}
)css";

const std::string_view kErrorRecorderScript = R"js(
window.addEventListener('error', function (event) {
  var root = document.documentElement;
  var seen = root.getAttribute('data-script-errors');
  root.setAttribute('data-script-errors', (seen ? seen + ' | ' : '') + (event.message || 'error'));
});
)js";

const std::string_view kPageScript = R"js(
(function () {
  'use strict';
  var PAGE = 500;
  // Rows laid out at once: the rest of a page follows as the reader
  // scrolls towards it. Rows, not the script, are what a keystroke or a
  // zoom costs the browser, so a redraw lays out few.
  var SLICE = 50;
  // Rows shown before a row followed to: what led to it.
  var BEFORE = 40;
  var LOSSES = 100, LOSS_GROUP = 20;
  var SVG = 'http://www.w3.org/2000/svg';
  var wanted = new URLSearchParams(window.location.search).get('filter') || '';
  var logs = {};
  var timelines = {};

  function count(n) {
    return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  }

  // Case and accents do not count: "cafe" finds "Caf\u00e9".
  function fold(text) {
    return text.normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase();
  }

  // Markup's text: the five references the page writes for a file's
  // characters, and the numbered ones it writes for its own, so that the
  // page is ASCII wherever the files' texts are.
  var REFS = {lt: '<', gt: '>', quot: '"', '#39': "'", amp: '&'};
  function unescape(html) {
    return html.replace(/&(lt|gt|quot|amp|#\d+);/g, function (all, name) {
      return REFS[name] || String.fromCodePoint(Number(name.slice(1)));
    });
  }

  // The text rows show, for the filter: their markup less tags, each row's
  // start a line break and what `rowStart` gives, in one pass, for the
  // whole log's text is folded at once. No text holds a line break: the
  // page writes them as spaces.
  function plain(html, rowStart) {
    return fold(html.replace(/<(tr\b)?[^>]*>|&(lt|gt|quot|amp|#\d+);/g, function (all, row, name) {
      return row ? '\n' + (rowStart ? rowStart() : '') : !name ? ' ' : REFS[name] || String.fromCodePoint(Number(name.slice(1)));
    }));
  }

  // The number written at `at` of `line`, read without a copy.
  function numberAt(line, at) {
    var sign = 1, n = 0, digit;
    if (line.charCodeAt(at) === 45) { sign = -1; at++; }
    while ((digit = line.charCodeAt(at) - 48) >= 0 && digit <= 9) { n = n * 10 + digit; at++; }
    return sign * n;
  }

  // A row other than a message, as the page writes it: its kind and time
  // factor. A message's row has no attribute: a ">" follows its "tr".
  var ROW = /<tr id="[^"]*" class="k-(\w+)"(?: data-f="(-?\d+)")?>/y;
  // Rows read at a time once the first page is shown: a few milliseconds,
  // so that a click or a keystroke between two slices is answered at once.
  var SLICE_READ = 2000;
  var later = window.requestIdleCallback || function (task) { return setTimeout(task, 0); };

  function setUpLog(log) {
    var number = log.getAttribute('data-battle');
    // The rows as the page writes them, one after the other: the first
    // page's block, then the groups of every later block. The script may
    // run before the later blocks are parsed: it shows the first page, and
    // what needs every row waits until the page has loaded. Only the first
    // page's rows are read before the page is shown; the rest in idle
    // slices, or at once when something needs them all.
    var blocks = log.getElementsByTagName('noscript');
    var source = blocks[0].textContent;
    var arrived = false;  // every block in `source`
    var waiting = [];     // what waits for them
    var total = Number(log.getAttribute('data-rows'));
    // One array per field, not one object per row: a log of 100,000 rows
    // would otherwise keep the garbage collector busy. A row's markup is
    // the text from its start to the next row's.
    var begins = [], kind = [], time = [], changes = [];
    // The page writes a row's date as its time of day alone ("04:31:33")
    // on the day the last whole date named: each row's day, and the days.
    var dayOf = [], days = [];
    var next = source.indexOf('<tr', source.indexOf('<tbody'));
    var whole = false;  // every row read
    var folded = null;  // each row's text, for the filter
    var table = log.querySelector('table.shown');
    var tools = log.querySelector('.tools');
    var input = tools.querySelector('input[type=search]');
    var boxes = tools.querySelectorAll('.kinds input');
    var windowText = tools.querySelector('.window');
    var countText = tools.querySelector('.count');
    var pagers = log.querySelectorAll('.pager');
    // The rows the filter, kinds and window let through, in order: one
    // array for the log's life, so that a keystroke leaves no garbage of
    // a hundred thousand numbers. Until every row is read, the log shows
    // its first page, and the rows read are the matches.
    var matches = new Int32Array(total), found = total;
    var start = 0, end = 0, laid = 0;  // the page, and how much of it is laid out
    var span = null;
    var lastWords = [], lastHits = null;
    // Past the last row laid out: when it comes near the screen, the next
    // rows of the page are laid out.
    var more = document.createElement('div');
    more.className = 'more';
    more.setAttribute('aria-hidden', 'true');
    table.after(more);
    // An entry may be older than the rows laid out since (a busy browser
    // delivers several at once), so where the marker stands now decides.
    var watcher = window.IntersectionObserver ? new IntersectionObserver(function () {
      if (more.getBoundingClientRect().top < window.innerHeight + 600) layOut(laid + SLICE);
    }, {rootMargin: '0px 0px 600px 0px'}) : null;

    // Rows up to `limit` read: where each begins, its kind and game time.
    function readTo(limit) {
      while (next >= 0 && begins.length < limit) {
        var k = 'msg', f = 0, cell = next + 4;
        if (source.charCodeAt(next + 3) !== 62) {
          ROW.lastIndex = next;
          var m = ROW.exec(source);
          k = m ? m[1] : 'msg';
          f = m && m[2] ? Number(m[2]) : 0;
          cell = source.indexOf('>', next) + 1;
        }
        var timeCell = source.indexOf('<td>', cell + 4);
        var t = numberAt(source, timeCell + 4);
        if (k === 'tf') changes.push({t: t, f: f});
        // A whole date ends in " HH:MM:SS"; a time of day or a dash is shorter.
        if (timeCell - cell - 4 > 9) {
          var day = source.slice(cell + 4, timeCell - 9);
          if (day !== days[days.length - 1]) days.push(day);
        }
        dayOf.push(days.length - 1);
        begins.push(next);
        matches[begins.length - 1] = begins.length - 1;
        kind.push(k);
        time.push(t);
        next = source.indexOf('<tr', cell);
      }
      if (next < 0 && arrived && !whole) {
        whole = true;
        // The count the page was written with stands until every row is
        // read; should they differ, what was read is shown.
        if (begins.length !== total) {
          total = found = begins.length;
          var all = new Int32Array(total);
          for (var i = 0; i < total; i++) all[i] = i;
          matches = all;
          show();
        }
      }
    }

    function readAll() {
      if (!whole) readTo(Infinity);
    }

    function readLater() {
      readTo(begins.length + SLICE_READ);
      if (next >= 0) later(readLater);
    }

    // The later blocks, once the page has loaded: a block's groups go on
    // where the last one's end.
    function arrive() {
      if (arrived) return;
      var parts = [source];
      for (var b = 1; b < blocks.length; b++) {
        var text = blocks[b].textContent;
        parts.push(text.slice(text.indexOf('<tbody'), text.lastIndexOf('</tbody>') + 8));
      }
      var read = source.length;
      source = parts.join('');
      arrived = true;
      if (next < 0) next = source.indexOf('<tr', read);
      readTo(begins.length);  // ends the reading of a log with no more rows
      waiting.splice(0).forEach(function (task) { task(); });
      if (next >= 0) later(readLater);
    }

    // `task` now, or once every row has come. A task asked for again while
    // it waits runs once, in the place of the last asking, so that what
    // the reader did last has the last word.
    function whenRead(task) {
      if (arrived) return task();
      var at = waiting.indexOf(task);
      if (at >= 0) waiting.splice(at, 1);
      waiting.push(task);
      countText.textContent = 'Reading the log\u2026';
    }

    // The markup of row `i`: to the next row, or to its group's end, with
    // its day written back.
    function htmlOf(i) {
      var html = source.slice(begins[i], i + 1 < begins.length ? begins[i + 1] : next >= 0 ? next : source.length);
      var cut = html.indexOf('</tbody');
      if (cut >= 0) html = html.slice(0, cut);
      var date = html.indexOf('<td>') + 4;
      if (html.charCodeAt(date + 2) === 58 && dayOf[i] >= 0) html = html.slice(0, date) + days[dayOf[i]] + ' ' + html.slice(date);
      return html;
    }

    function foldAll() {
      if (folded || !arrived) return;
      readAll();
      // The whole log at once: one pass over its text costs a fraction of
      // a hundred thousand small ones. Each row's text begins with its day,
      // which the page writes on few rows.
      var row = 0;
      var texts = total ? plain(source.slice(begins[0]), function () { return (days[dayOf[row++]] || '') + ' '; }).split('\n') : [''];
      folded = texts.length === total + 1 ? texts.slice(1) : begins.map(function (b, i) { return plain(htmlOf(i)); });
    }

    // Every row of the page is written at once, a group of SLICE rows to
    // a <tbody>; the groups past what the screen needs stay hidden, which
    // costs the browser no layout, until the reader scrolls towards them.
    function layOut(to) {
      var groups = table.tBodies;
      while (laid < Math.min(to, end)) {
        groups[(laid - start) / SLICE].hidden = false;
        laid = Math.min(end, laid + SLICE);
      }
      // The rows not laid out yet keep their room, as many times the
      // height of those laid out, so that the pager below the log stays
      // where the reader is heading instead of moving away as they come.
      more.style.height = laid < end && laid > start ?
          Math.round(table.offsetHeight * (end - laid) / (laid - start)) + 'px' : '';
      if (watcher) {
        // Observed afresh, so that a marker still near the screen after
        // the rows just shown calls again.
        watcher.unobserve(more);
        if (laid < end) watcher.observe(more);
      } else if (laid < end) {
        layOut(end);
      }
    }

    function write(from, to) {
      var parts = [];
      for (var i = from; i < to; i++) {
        if ((i - from) % SLICE === 0) parts.push(i === from ? '<tbody hidden>' : '</tbody><tbody hidden>');
        parts.push(htmlOf(matches[i]));
      }
      Array.prototype.slice.call(table.tBodies).forEach(function (group) { group.remove(); });
      table.insertAdjacentHTML('beforeend', (parts.length ? parts.join('') : '<tbody>') + '</tbody>');
      laid = from;
    }

    // The row at `at` of the matches, which the page at hand holds.
    function rowAt(at) {
      return table.tBodies[Math.floor((at - start) / SLICE)].rows[(at - start) % SLICE];
    }

    // The page of rows from `start`, shown up to at least `upTo`.
    // The rows that can be written: until every row has come, those read.
    function writable() {
      return arrived ? found : Math.min(found, begins.length);
    }

    function show(upTo) {
      start = Math.max(0, Math.min(start, found - 1));
      end = Math.min(writable(), start + PAGE);
      write(start, end);
      layOut(Math.max(start + SLICE, upTo || 0));
      countText.textContent = found === total ? count(total) + ' rows'
                                              : count(found) + ' of ' + count(total) + ' rows';
      var paged = found > PAGE;
      Array.prototype.forEach.call(pagers, function (pager) {
        pager.hidden = !paged;
        pager.querySelector('.status').textContent =
            'rows ' + count(found ? start + 1 : 0) + '\u2013' + count(end) + ' of ' + count(found);
        pager.querySelector('.previous').disabled = start === 0;
        pager.querySelector('.next').disabled = end >= found;
      });
      log.setAttribute('data-shown', String(found));
    }

    // The rows holding every word. A query that only adds to the last one
    // (a keystroke more) looks only among the last one's rows.
    function rowsWith(words) {
      var narrower = lastHits && lastWords.every(function (old) {
        return words.some(function (word) { return word.indexOf(old) >= 0; });
      });
      var from = narrower ? lastHits : null;
      var hits = [];
      for (var n = from ? from.length : total, j = 0; j < n; j++) {
        var i = from ? from[j] : j, text = folded[i], all = true;
        for (var w = 0; w < words.length && all; w++) all = text.indexOf(words[w]) >= 0;
        if (all) hits.push(i);
      }
      lastWords = words;
      lastHits = hits;
      return hits;
    }

    function apply() {
      readAll();
      applied = asked();
      var kinds = {};
      Array.prototype.forEach.call(boxes, function (box) { kinds[box.value] = box.checked; });
      var words = fold(input.value).split(/\s+/).filter(Boolean);
      var candidates = null;
      if (words.length) {
        foldAll();
        candidates = rowsWith(words);
      }
      found = 0;
      for (var n = candidates ? candidates.length : total, j = 0; j < n; j++) {
        var i = candidates ? candidates[j] : j;
        if (kinds[kind[i]] && (!span || (time[i] >= span[0] && time[i] <= span[1]))) matches[found++] = i;
      }
      start = 0;
      show();
    }

    // Where the row `index` stands among the matches, or -1.
    function positionOf(index) {
      var low = 0, high = found;
      while (low < high) {
        var middle = (low + high) >> 1;
        if (matches[middle] < index) low = middle + 1;
        else high = middle;
      }
      return low < found && matches[low] === index ? low : -1;
    }

    function turn(by) {
      readAll();
      start = Math.max(0, start + by * PAGE);
      show();
      table.scrollIntoView({block: 'start'});
    }

    // The row `index` of the log, highlighted, with the rows before it in
    // view: whatever hides it (filter, kinds, window) is set aside first.
    function goTo(index) {
      readAll();
      if (!(index >= 0 && index < total)) return;
      var at = positionOf(index);
      if (at < 0) {
        input.value = '';
        Array.prototype.forEach.call(boxes, function (box) { box.checked = true; });
        if (span && timelines[number]) timelines[number].reset();
        span = null;
        windowText.hidden = true;
        apply();
        at = index;
      }
      start = Math.max(0, at - BEFORE);
      show(at + 1);
      var shown = rowAt(at);
      Array.prototype.forEach.call(document.querySelectorAll('tr.target'), function (old) {
        old.classList.remove('target');
      });
      shown.classList.add('target');
      shown.tabIndex = -1;
      shown.scrollIntoView({block: 'center'});
      shown.focus({preventScroll: true});
      // A page opened at a row: the browser keeps the row at the top of
      // the screen until the page has loaded, out of sight of what led to it.
      if (document.readyState !== 'complete') {
        window.addEventListener('load', function () {
          window.requestAnimationFrame(function () { shown.scrollIntoView({block: 'center'}); });
        }, {once: true});
      }
      log.setAttribute('data-target', String(index));
    }

    function applyWhenRead() { whenRead(apply); }
    // What the filter and the kinds say, and what they said when the log
    // was last shown from them.
    function asked() {
      return input.value + Array.prototype.map.call(boxes, function (box) { return box.checked ? '1' : '0'; }).join('');
    }
    var applied = null;
    // A browser going back to the page restores the box and the kinds
    // after the page has loaded: the log follows what they say.
    window.addEventListener('pageshow', function () {
      if (applied !== null && asked() !== applied) applyWhenRead();
    });
    input.addEventListener('focus', foldAll);
    input.addEventListener('input', applyWhenRead);
    Array.prototype.forEach.call(boxes, function (box) { box.addEventListener('change', applyWhenRead); });
    Array.prototype.forEach.call(pagers, function (pager) {
      pager.querySelector('.previous').addEventListener('click', function () { whenRead(function () { turn(-1); }); });
      pager.querySelector('.next').addEventListener('click', function () { whenRead(function () { turn(1); }); });
    });
    input.value = wanted;
    tools.hidden = false;
    table.hidden = false;
    // The log as written needs its first page. A query in the address, or
    // a kind the browser kept unticked from the last visit, needs every row.
    // The first block is the whole of a short log.
    readTo(PAGE);
    if (document.readyState !== 'loading' || begins.length >= total) arrive();
    if (wanted || Array.prototype.some.call(boxes, function (box) { return !box.checked; })) {
      applyWhenRead();
    } else {
      applied = asked();
      show();
    }
    logs[number] = {
      arrive: arrive,
      arrived: function () { return arrived; },
      whenRead: whenRead,
      // Every row's kind and game time, once all are read.
      rows: function () { readAll(); return {kind: kind, time: time, changes: changes}; },
      goTo: function (index) { whenRead(function () { goTo(index); }); },
      read: function () { return whole; },
      // Paper asked for while the page loads gets the rows read so far.
      all: function () { readAll(); start = 0; end = writable(); write(0, end); layOut(end); },
      page: function () { show(); },
      // The timeline's window narrows the log; null is the whole battle.
      narrow: function (window_, text) {
        span = window_;
        windowText.hidden = !window_;
        windowText.textContent = window_ ? 'Only rows from ' + text : '';
        apply();
      }
    };
  }

  // Every loss of a battle, from the rows its losses table keeps in
  // <noscript>, which are then shown. Returns what reads them for the
  // timeline's markers when it is first drawn: the link, game time, label.
  var LOSS = /^<tr class="loss" data-label="([^"]*)"><td><a href="#b\d+-e(\d+)">[^<]*<\/a><td>(-?\d+)<td>/;
  function lossesOf(section) {
    var holder = section.querySelector('.losses-all');
    if (!holder) return function () { return []; };
    var lines = holder.querySelector('noscript').textContent.split('\n').filter(function (line) {
      return line.lastIndexOf('<tr', 0) === 0;
    });
    // A hundred rows at first, in groups laid out as the reader comes near
    // them: a table of thousands takes the browser seconds to lay out, and
    // even those hundred added 15 ms to the page's opening. Every row comes
    // on demand, and on paper.
    var table = holder.querySelector('table.shown');
    var near = document.createElement('div');  // past the rows laid out
    near.setAttribute('aria-hidden', 'true');
    table.after(near);
    // The groups not shown yet keep their room, as the log's rows do, so
    // that the button below the table stays where the reader is heading,
    // and nothing below it moves once the page is shown.
    function keepRoom() {
      var hidden = table.querySelectorAll('tbody[hidden]').length, shown = table.tBodies.length - hidden;
      var rows = 0;  // the height of the groups shown
      for (var i = 0; i < shown && hidden; i++) rows += table.tBodies[i].offsetHeight;
      near.style.height = hidden && shown ? Math.round(rows * hidden / shown) + 'px' : '';
    }
    var watcher = window.IntersectionObserver ? new IntersectionObserver(function () {
      var group = table.querySelector('tbody[hidden]');
      var coming = group && near.getBoundingClientRect().top < window.innerHeight + 600;
      if (coming) group.hidden = false;
      keepRoom();
      // Observed afresh after a group came, so that a marker still near
      // the screen calls again; else the reader's scrolling will.
      if (coming) {
        watcher.unobserve(near);
        if (table.querySelector('tbody[hidden]')) watcher.observe(near);
      }
    }, {rootMargin: '0px 0px 600px 0px'}) : null;
    function render(all) {
      var shown = all ? lines : lines.slice(0, LOSSES), html = '';
      for (var i = 0; i < shown.length; i += LOSS_GROUP)
        html += (i && watcher && !all ? '<tbody hidden>' : '<tbody>') + shown.slice(i, i + LOSS_GROUP).join('') + '</tbody>';
      Array.prototype.slice.call(table.tBodies).forEach(function (group) { group.remove(); });
      table.insertAdjacentHTML('beforeend', html || '<tbody></tbody>');
      table.hidden = false;
      keepRoom();
      if (watcher) watcher.observe(near);
    }
    render(false);
    if (lines.length > LOSSES) {
      var more = document.createElement('button');
      more.type = 'button';
      more.className = 'all-losses';
      more.textContent = 'Show all ' + count(lines.length) + ' losses';
      more.addEventListener('click', function () { render(true); more.remove(); });
      holder.appendChild(more);
      window.addEventListener('beforeprint', function () { render(true); });
    }
    var losses = null;
    return function () {
      return losses || (losses = lines.map(function (line) {
        var m = LOSS.exec(line);
        return {t: Number(m[3]), row: m[2], label: unescape(m[1])};
      }));
    };
  }

  // --- The timeline, drawn again at the scale of a window of game time ---

  var W = 1000, LEFT = 120, RIGHT = 984, LANES = 3, LANE = 19, CHAR = 9, NEAR = 12;
  var STEPS = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200,
               86400, 172800, 604800, 1209600, 2419200, 7862400, 15724800, 31449600];

  function make(name, attributes, text) {
    var element = document.createElementNS(SVG, name);
    Object.keys(attributes).forEach(function (key) { element.setAttribute(key, attributes[key]); });
    if (text !== undefined) element.textContent = text;
    return element;
  }

  function tickStep(span) {
    for (var i = 0; i < STEPS.length; i++) if (span / STEPS[i] <= 7) return STEPS[i];
    var step = STEPS[STEPS.length - 1];
    while (span / step > 7) step *= 10;
    return step;
  }

  function setUpTimeline(figure) {
    var number = figure.getAttribute('data-battle');
    var log = logs[number];
    var section = figure.closest('section');
    var lo = Number(figure.getAttribute('data-lo')), hi = Number(figure.getAttribute('data-hi'));
    var originT = figure.getAttribute('data-origin-t');
    var originS = Number(figure.getAttribute('data-origin-s'));
    var dated = originT !== null;
    originT = Number(originT);
    var unknown = figure.hasAttribute('data-unknown');
    var scroll = figure.querySelector('.scroll');
    var zoom = figure.querySelector('.zoom');
    var windowText = zoom.querySelector('.window-text');
    var readLosses = lossesOf(section);
    var losses, kinds, times, changes, levels;
    var view = [lo, hi];

    // What a drawing needs, read when the first is drawn: until the reader
    // changes the window, the page keeps the drawing it was written with.
    function readRows() {
      if (losses) return;
      var rows = log ? log.rows() : {kind: [], time: [], changes: []};
      kinds = rows.kind;
      times = rows.time;
      changes = rows.changes;
      levels = changes.map(function (row) { return row.f; })
          .sort(function (a, b) { return a - b; })
          .filter(function (f, i, all) { return i === 0 || all[i - 1] !== f; });
      losses = readLosses();
    }

    function when(t, full) {
      if (!dated) return 'game time ' + t;
      var text = new Date((originS + Math.max(t, originT) - originT - 2209161600) * 1000).toISOString();
      return full ? text.slice(0, 10) + ' ' + text.slice(11, 19) : text.slice(11, 19);
    }

    function x(t) {
      return view[1] === view[0] ? (LEFT + RIGHT) / 2 : LEFT + (t - view[0]) * (RIGHT - LEFT) / (view[1] - view[0]);
    }

    function timeAt(px) {
      return Math.round(view[0] + (Math.min(Math.max(px, LEFT), RIGHT) - LEFT) * (view[1] - view[0]) / (RIGHT - LEFT));
    }

    // Losses in the window, nearer than a marker's width sharing one.
    function markers() {
      var list = [];
      losses.forEach(function (loss) {
        if (loss.t < view[0] || loss.t > view[1]) return;
        var at = x(loss.t);
        var last = list[list.length - 1];
        if (last && at - last.x < NEAR) last.losses.push(loss);
        else list.push({x: at, losses: [loss]});
      });
      return list;
    }

    function draw() {
      readRows();
      var marks = markers();
      var lanes = [];
      marks.forEach(function (mark) {
        mark.text = mark.losses.length > 1 ? count(mark.losses.length) + ' lost' : mark.losses[0].label;
        var width = mark.text.length * CHAR;
        mark.end = mark.x + 4 + width > W;
        mark.left = mark.end ? mark.x - 4 - width : mark.x + 4;
        mark.lane = -1;
        for (var lane = 0; lane < LANES; lane++) {
          if (lanes[lane] === undefined || lanes[lane] + 4 <= mark.left) {
            lanes[lane] = mark.left + width;
            mark.lane = lane;
            break;
          }
        }
      });
      var used = lanes.length;
      var markerY = 18 + used * LANE;
      var factorTop = markerY + 20;
      var band = Math.max(64, (levels.length - 1) * 19);
      var tickBottom = factorTop + 24 + band + 20 + 30;
      var axisY = tickBottom + 4;
      var height = axisY + 26;
      var svg = make('svg', {'class': 'timeline', viewBox: '0 0 ' + W + ' ' + height, role: 'group',
                             'aria-labelledby': 'timeline-' + number + '-title',
                             'aria-describedby': 'timeline-' + number + '-desc'});
      svg.appendChild(make('title', {id: 'timeline-' + number + '-title'}, 'Timeline of battle ' + number));
      svg.appendChild(make('desc', {id: 'timeline-' + number + '-desc'},
          (view[0] === lo && view[1] === hi ? 'The whole battle: ' : 'From ' + when(view[0], true) + ' to ' + when(view[1], true) + ': ') +
          (unknown ? 'losses and time-factor changes not known (no journal read). '
                   : count(losses.filter(function (l) { return l.t >= view[0] && l.t <= view[1]; }).length) + ' units lost. ') +
          'Each loss marker links to its row in the log.'));
      // The axis.
      var step = tickStep(view[1] - view[0]);
      svg.appendChild(make('line', {'class': 'axis', x1: LEFT, y1: axisY, x2: RIGHT, y2: axisY}));
      // Steps fall on round dates, or round game times without a date.
      var shift = dated ? originS - originT : 0;
      for (var t = Math.ceil((view[0] + shift) / step) * step - shift; t <= view[1]; t += step) {
        var at = x(t);
        svg.appendChild(make('line', {'class': 'grid', x1: at, y1: 6, x2: at, y2: axisY + 4}));
        var label = !dated ? String(t) : step >= 86400 ? when(t, true).slice(0, 10)
                  : step < 60 ? when(t, false) : when(t, false).slice(0, 5);
        svg.appendChild(make('text', {'class': 'tick-label', x: at, y: axisY + 19}, label));
      }
      svg.appendChild(make('text', {'class': 'band', x: 0, y: axisY + 19}, dated ? when(view[0], true).slice(0, 10) : 'game time'));
      // Losses.
      svg.appendChild(make('text', {'class': 'band', x: 0, y: markerY + 5}, 'Losses'));
      if (unknown || !losses.length) {
        svg.appendChild(make('text', {'class': 'none', x: LEFT, y: markerY + 5},
            unknown ? 'not known: only the battle journal records losses, and none was read' : 'no unit lost'));
      }
      // The time factor, from the one in force at the window's start.
      svg.appendChild(make('text', {'class': 'band', x: 0, y: factorTop + 11}, 'Time factor'));
      if (unknown || !changes.length) {
        svg.appendChild(make('text', {'class': 'none', x: LEFT, y: factorTop + band / 2 + 5},
            unknown ? 'not known: only the battle journal records time-factor changes, and none was read'
                    : 'no change of the time factor'));
      } else {
        var levelY = function (f) {
          return levels.length === 1 ? factorTop + 24 + band / 2
                                     : factorTop + 24 + band - levels.indexOf(f) * band / (levels.length - 1);
        };
        levels.forEach(function (f) {
          svg.appendChild(make('text', {'class': 'level', x: LEFT - 6, y: levelY(f) + 5}, '\u00d7' + f));
        });
        var d = '', lastX = null;
        changes.forEach(function (row) {
          if (row.t > view[1]) return;
          var px = Math.max(x(row.t), LEFT);
          if (row.t <= view[0] || d === '') d = 'M' + px + ' ' + levelY(row.f);
          else d += 'H' + px + 'V' + levelY(row.f);
          lastX = px;
        });
        if (d) {
          d += 'H' + Math.max(x(Math.min(hi, view[1])), lastX + 8);
          svg.appendChild(make('path', {'class': changes.length > 100 ? 'step dense' : 'step', d: d}));
        }
      }
      // Messages, counted per two units of width.
      svg.appendChild(make('text', {'class': 'band', x: 0, y: tickBottom - 6}, 'Messages'));
      var slots = {}, most = 0;
      for (var i = 0; i < times.length; i++) {
        if (kinds[i] !== 'msg' || times[i] < view[0] || times[i] > view[1]) continue;
        var slot = Math.floor((x(times[i]) - LEFT) / 2);
        slots[slot] = (slots[slot] || 0) + 1;
        most = Math.max(most, slots[slot]);
      }
      var ticks = '';
      var bits = function (n) { return Math.floor(Math.log2(n)) + 1; };
      Object.keys(slots).forEach(function (slot) {
        ticks += 'M' + (LEFT + Number(slot) * 2 + 1) + ' ' + tickBottom + 'v-' + (6 + bits(slots[slot]) * 24 / bits(most)).toFixed(1);
      });
      if (ticks) svg.appendChild(make('path', {'class': 'ticks', d: ticks}));
      else svg.appendChild(make('text', {'class': 'none', x: LEFT, y: tickBottom - 6}, 'no message'));
      // Markers, each a link to its first loss's row; several zoom in on a click.
      marks.forEach(function (mark) {
        if (mark.lane >= 0) {
          svg.appendChild(make('line', {'class': 'lead', x1: mark.x, y1: markerY - 7, x2: mark.x, y2: markerY - 9 - mark.lane * LANE}));
          svg.appendChild(make('text', {'class': mark.end ? 'sink-label end' : 'sink-label',
                                        x: mark.end ? mark.left + mark.text.length * CHAR : mark.left,
                                        y: markerY - 12 - mark.lane * LANE}, mark.text));
        }
      });
      marks.forEach(function (mark) {
        var first = mark.losses[0], last = mark.losses[mark.losses.length - 1];
        var link = make('a', {href: '#b' + number + '-e' + first.row, 'class': 'mark'});
        var several = mark.losses.length > 1;
        link.setAttribute('aria-label', several
            ? count(mark.losses.length) + ' units lost from ' + when(first.t, true) + ' to ' + when(last.t, true)
            : first.label + ', ' + when(first.t, true));
        if (several && last.t > first.t) link.setAttribute('data-zoom', first.t + ' ' + last.t);
        var circle = make('circle', {'class': 'sink', cx: mark.x, cy: markerY, r: several ? 7 : 5});
        circle.appendChild(make('title', {}, link.getAttribute('aria-label')));
        link.appendChild(circle);
        svg.appendChild(link);
      });
      scroll.replaceChildren(svg);
      controls(marks.length);
    }

    // The window's text and the buttons, for the drawing on screen.
    function controls(marks) {
      figure.setAttribute('data-view', view[0] + ' ' + view[1]);
      figure.setAttribute('data-markers', String(marks));
      var whole = view[0] === lo && view[1] === hi;
      windowText.textContent = whole ? 'The whole battle' : 'From ' + when(view[0], true) + ' to ' + when(view[1], true);
      zoom.querySelector('.reset').disabled = whole;
      zoom.querySelector('.zoom-out').disabled = whole;
      zoom.querySelector('.zoom-in').disabled = view[1] - view[0] < 4;
      zoom.querySelector('.earlier').disabled = whole || view[0] <= lo;
      zoom.querySelector('.later').disabled = whole || view[1] >= hi;
    }

    // A drawing needs every row: one asked for while the page loads is
    // drawn once they have come.
    function show(from, to, narrowLog) {
      whenRead(function () { showNow(from, to, narrowLog); });
    }

    // `task` once the log's rows have come. Each asking is a task of its
    // own, so that steps asked for while the page loads each start where
    // the last one ended.
    function whenRead(task) {
      if (!log || log.arrived()) return task();
      windowText.textContent = 'Reading the log\u2026';
      log.whenRead(function () { task(); });
    }
    function step(task) {
      return function () { whenRead(task); };
    }

    function showNow(from, to, narrowLog) {
      from = Math.max(lo, Math.floor(from));
      to = Math.min(hi, Math.ceil(to));
      if (to - from < 2) {
        var middle = (from + to) / 2;
        from = Math.max(lo, Math.floor(middle - 1));
        to = Math.min(hi, from + 2);
      }
      view = [from, to];
      draw();
      if (narrowLog !== false && log) {
        var whole = from === lo && to === hi;
        log.narrow(whole ? null : [from, to], when(from, true) + ' to ' + when(to, true));
      }
    }

    function scale(by) {
      var middle = (view[0] + view[1]) / 2, half = (view[1] - view[0]) * by / 2;
      show(middle - half, middle + half);
    }

    function pan(by) {
      var span = view[1] - view[0], shift = span * by;
      if (view[0] + shift < lo) shift = lo - view[0];
      if (view[1] + shift > hi) shift = hi - view[1];
      show(view[0] + shift, view[1] + shift);
    }

    var drag = null;
    function unitsAt(event, svg) {
      var box = svg.getBoundingClientRect();
      return (event.clientX - box.left) * W / box.width;
    }
    function startDrag(event) {
      var svg = event.target.closest('svg.timeline');
      if (event.button !== 0 || !svg || event.target.closest('a')) return;
      var from = unitsAt(event, svg);
      var band = make('rect', {'class': 'selection', x: from, y: 0, width: 0, height: svg.viewBox.baseVal.height});
      svg.appendChild(band);
      svg.setPointerCapture(event.pointerId);
      drag = {svg: svg, from: from, band: band};
      event.preventDefault();
    }
    scroll.addEventListener('pointerdown', startDrag);
    scroll.addEventListener('pointermove', function (event) {
      if (!drag) return;
      var now = unitsAt(event, drag.svg);
      drag.band.setAttribute('x', Math.min(now, drag.from));
      drag.band.setAttribute('width', Math.abs(now - drag.from));
    });
    scroll.addEventListener('pointerup', function (event) {
      if (!drag) return;
      var now = unitsAt(event, drag.svg), from = drag.from;
      drag.band.remove();
      drag = null;
      if (Math.abs(now - from) < 4) return;
      show(timeAt(Math.min(now, from)), timeAt(Math.max(now, from)));
    });
    scroll.addEventListener('click', function (event) {
      var link = event.target.closest('a[data-zoom]');
      if (!link) return;
      var span = link.getAttribute('data-zoom').split(' ').map(Number);
      var pad = Math.max(1, (span[1] - span[0]) / 4);
      event.preventDefault();
      show(span[0] - pad, span[1] + pad);
    });
    scroll.tabIndex = 0;
    scroll.setAttribute('role', 'region');
    scroll.setAttribute('aria-label', 'Timeline of battle ' + number + ': + and \u2212 zoom, arrows move, 0 shows the whole battle');
    scroll.addEventListener('keydown', function (event) {
      var keys = {'+': step(function () { scale(0.5); }), '=': step(function () { scale(0.5); }),
                  '-': step(function () { scale(2); }),
                  ArrowLeft: step(function () { pan(-0.25); }), ArrowRight: step(function () { pan(0.25); }),
                  '0': function () { show(lo, hi); }, Escape: function () { show(lo, hi); }};
      if (!keys[event.key] || event.target.closest('a')) return;
      keys[event.key]();
      event.preventDefault();
    });
    zoom.querySelector('.zoom-in').addEventListener('click', step(function () { scale(0.5); }));
    zoom.querySelector('.zoom-out').addEventListener('click', step(function () { scale(2); }));
    zoom.querySelector('.earlier').addEventListener('click', step(function () { pan(-0.5); }));
    zoom.querySelector('.later').addEventListener('click', step(function () { pan(0.5); }));
    zoom.querySelector('.reset').addEventListener('click', function () { show(lo, hi); });
    zoom.hidden = false;
    figure.querySelector('.zoom-help').hidden = false;
    controls(scroll.querySelectorAll('a.mark').length);
    // The first redraw's reading, done once the log's rows are read.
    later(function prepare() {
      if (log && !log.read()) later(prepare);
      else readRows();
    });
    timelines[number] = {reset: function () { view = [lo, hi]; draw(); }};
  }

  // "#b3-e42": row 42 of battle 3's log, as a loss's link or a friend's
  // address gives it.
  function follow() {
    var m = /^#b(\d+)-e(\d+)$/.exec(window.location.hash);
    if (m && logs[m[1]]) logs[m[1]].goTo(Number(m[2]));
  }

  // The battles parsed so far: when the script runs before the page has
  // loaded, the first battle's, and the others' once it has.
  function setUpBattles() {
    Array.prototype.forEach.call(document.querySelectorAll('.log'), function (log) {
      if (!logs[log.getAttribute('data-battle')]) setUpLog(log);
    });
    Array.prototype.forEach.call(document.querySelectorAll('.timeline-figure'), function (figure) {
      if (!timelines[figure.getAttribute('data-battle')]) setUpTimeline(figure);
    });
  }

  function loaded() {
    setUpBattles();
    Object.keys(logs).forEach(function (n) { logs[n].arrive(); });
    follow();
    document.documentElement.setAttribute('data-script', 'ready');
  }

  setUpBattles();
  document.addEventListener('click', function (event) {
    var link = event.target.closest && event.target.closest('a[href^="#b"]');
    if (link && !link.hasAttribute('data-zoom') && link.getAttribute('href') === window.location.hash) {
      event.preventDefault();
      follow();
    }
  });
  window.addEventListener('hashchange', follow);
  // Paper gets every matching row, not the page on screen.
  window.addEventListener('beforeprint', function () { Object.keys(logs).forEach(function (n) { logs[n].all(); }); });
  window.addEventListener('afterprint', function () { Object.keys(logs).forEach(function (n) { logs[n].page(); }); });
  if (document.readyState === 'loading') {
    // The first page is shown and answers; the rest is on its way.
    document.documentElement.setAttribute('data-script', 'first-page');
    document.addEventListener('DOMContentLoaded', loaded);
  } else {
    loaded();
  }
})();
)js";

}  // namespace tarveld::aar
