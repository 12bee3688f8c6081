#include "aar/page_assets.h"

namespace tarveld::aar {

const std::string_view kPageStyle = R"css(
:root{--ink:#1d2125;--muted:#5d6670;--rule:#d9dde1;--paper:#fff;--band:#f4f6f8;--loss:#b3261e;--tempo:#1f5fa8}
*{box-sizing:border-box}
[hidden]{display:none!important}
body{margin:0 auto;max-width:1120px;padding:24px 28px 48px;font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;color:var(--ink);background:var(--paper)}
h1{font-size:28px;margin:0 0 4px}
h2{font-size:22px;margin:0 0 10px}
h3{font-size:17px;margin:26px 0 8px}
.lede{font-size:17px;color:var(--muted);margin:0 0 12px}
.sources{margin:0;padding-left:20px;color:var(--muted);font-size:14px}
.note{background:#fff7e0;border-left:4px solid #e0a800;padding:6px 12px;margin:10px 0;font-size:14px}
.index{margin:22px 0;border-top:1px solid var(--rule);border-bottom:1px solid var(--rule);padding:10px 0}
.index h2{font-size:16px;margin:0 0 6px}
.index ol{margin:0;padding-left:26px}
.index li span{color:var(--muted);font-size:14px}
.battle{border-top:3px solid var(--ink);margin-top:34px;padding-top:14px}
.battle h2 .num{color:var(--muted);font-weight:400;margin-right:6px}
.battle h2 .play{font-size:14px;font-weight:400;color:var(--muted);margin-left:6px}
.facts{display:grid;grid-template-columns:repeat(auto-fill,minmax(170px,1fr));gap:8px 18px;margin:0 0 14px}
.facts div{background:var(--band);padding:6px 10px;border-radius:4px}
.facts dt{font-size:12px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em}
.facts dd{margin:0;font-weight:600;font-variant-numeric:tabular-nums}
.facts dd small{font-weight:400;color:var(--muted)}
figure{margin:0}
svg.timeline{width:100%;height:auto;display:block;background:var(--paper)}
.timeline text{font:11px system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;fill:#3c434a}
.timeline .band{font-weight:600;fill:var(--ink)}
.timeline .none{fill:var(--muted);font-style:italic}
.timeline .level{text-anchor:end;fill:var(--tempo)}
.timeline .tick-label{text-anchor:middle;fill:var(--muted)}
.timeline .sink-label{fill:var(--loss);paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}
.timeline .sink-label.end{text-anchor:end}
.timeline .grid{stroke:#eceff1}
.timeline .axis{stroke:#8a939b}
.timeline .lead{stroke:#e4b4ae}
.timeline .sink{fill:var(--loss)}
.timeline .step{fill:none;stroke:var(--tempo);stroke-width:2}
.timeline .step.dense{stroke-width:1}
.timeline .ticks{stroke:#6f7a84;stroke-width:1.4}
figcaption{font-size:13px;color:var(--muted);margin-top:4px}
figcaption .key-sink{color:var(--loss)}
figcaption .key-step{color:var(--tempo)}
table{border-collapse:collapse;width:100%;font-size:14px}
th,td{text-align:left;vertical-align:top;padding:3px 8px;border-bottom:1px solid var(--rule)}
thead th{white-space:nowrap;font-size:12px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em;border-bottom:2px solid var(--rule)}
.losses tbody th{font-weight:600;width:32%}
.losses tbody th small{display:block;font-weight:400;color:var(--muted)}
.losses td{font-variant-numeric:tabular-nums}
.messages td:nth-child(1),.messages td:nth-child(2){white-space:nowrap;font-variant-numeric:tabular-nums;color:var(--muted)}
.messages td:nth-child(3){overflow-wrap:anywhere}
.messages td:nth-child(1){width:11em}
.messages td:nth-child(2){width:6em}
tbody.chunk{content-visibility:auto}
.tools{display:flex;flex-wrap:wrap;gap:8px;align-items:center;margin:0 0 8px}
.tools input{flex:1 1 260px;font:inherit;padding:5px 8px;border:1px solid #aab2b9;border-radius:4px}
.tools .status{color:var(--muted);font-size:14px;min-width:12em}
.tools button{font:inherit;font-size:14px;padding:4px 10px}
.none-here{color:var(--muted);font-style:italic}
footer{margin-top:40px;border-top:1px solid var(--rule);padding-top:8px;color:var(--muted);font-size:13px}
@media print{
body{max-width:none;padding:0;font-size:11pt}
.battle{break-before:page;border-top:none}
.battle.first{break-before:auto}
.index,.note{break-inside:avoid}
figure{break-inside:avoid}
thead{display:table-header-group}
tr{break-inside:avoid}
.tools{display:none!important}
tbody.chunk{content-visibility:visible}
a{color:inherit;text-decoration:none}
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
  var wanted = new URLSearchParams(window.location.search).get('filter') || '';
  var logs = [];

  function count(n) {
    return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  }

  // The text a row shows, for the filter: its markup less tags and the
  // five character references the page writes.
  function plain(row) {
    return row.replace(/<[^>]*>/g, ' ').replace(/&(lt|gt|quot|#39|amp);/g, function (all, name) {
      return {lt: '<', gt: '>', quot: '"', '#39': "'", amp: '&'}[name];
    }).toLowerCase();
  }

  function setUp(log) {
    // The rows as the page wrote them, one a line, in the <noscript> block
    // that a browser running scripts keeps as plain text.
    var rows = log.querySelector('noscript').textContent.split('\n').filter(function (line) {
      return line.lastIndexOf('<tr', 0) === 0;
    });
    var table = log.querySelector('table.shown');
    var body = table.querySelector('tbody');
    var tools = log.querySelector('.tools');
    var input = tools.querySelector('input');
    var status = tools.querySelector('.status');
    var previous = tools.querySelector('.previous');
    var next = tools.querySelector('.next');
    var texts = null;
    var matches = rows;
    var page = 0;
    var timer = 0;

    function render(list) {
      body.innerHTML = list.join('');
    }

    function show() {
      var pages = Math.max(1, Math.ceil(matches.length / PAGE));
      page = Math.min(Math.max(page, 0), pages - 1);
      render(matches.slice(page * PAGE, (page + 1) * PAGE));
      var what = matches.length === rows.length ? count(rows.length) + ' messages'
                                                : count(matches.length) + ' of ' + count(rows.length) + ' messages';
      status.textContent = pages > 1 ? what + ', page ' + (page + 1) + ' of ' + pages : what;
      previous.hidden = next.hidden = pages === 1;
      previous.disabled = page === 0;
      next.disabled = page === pages - 1;
      log.setAttribute('data-shown', String(matches.length));
    }

    function filter() {
      var words = input.value.toLowerCase().split(/\s+/).filter(Boolean);
      if (words.length === 0) {
        matches = rows;
      } else {
        if (texts === null) {
          texts = rows.map(plain);
        }
        matches = rows.filter(function (row, i) {
          return words.every(function (word) { return texts[i].indexOf(word) >= 0; });
        });
      }
      page = 0;
      show();
    }

    input.addEventListener('input', function () {
      window.clearTimeout(timer);
      timer = window.setTimeout(filter, rows.length > 20000 ? 150 : 0);
    });
    previous.addEventListener('click', function () { page -= 1; show(); });
    next.addEventListener('click', function () { page += 1; show(); });
    input.value = wanted;
    tools.hidden = false;
    table.hidden = false;
    filter();
    // Paper gets every matching row, not the page on screen.
    logs.push({all: function () { render(matches); }, page: show});
  }

  Array.prototype.forEach.call(document.querySelectorAll('.log'), setUp);
  window.addEventListener('beforeprint', function () { logs.forEach(function (l) { l.all(); }); });
  window.addEventListener('afterprint', function () { logs.forEach(function (l) { l.page(); }); });
  document.documentElement.setAttribute('data-script', 'ready');
})();
)js";

}  // namespace tarveld::aar
