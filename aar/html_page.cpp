#include "aar/html_page.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "aar/game_dates.h"
#include "aar/html_text.h"
#include "aar/page_assets.h"
#include "aar/timeline_svg.h"

namespace tarveld::aar {
namespace {

// Rows of a message log go out in groups of this many, one <tbody> each,
// so that a browser without script can skip laying out those off screen.
// The first group is the first page the script shows (its PAGE) while the
// rest of the page loads.
constexpr std::size_t kRowsPerGroup = 500;
constexpr int kRowHeight = 22;  // px, a row's height for the skipped groups
// After the first group, the rows go out in blocks of this many, each a
// <noscript> of its own: a browser parses a block in one go, and hands
// control back between two, so the page answers while a long log loads.
constexpr std::size_t kRowsPerBlock = 2000;
constexpr std::string_view kDash = "&#8212;";

std::string Count(std::size_t n, std::string_view one, std::string_view many) {
  return CountText(n) + " " + std::string(n == 1 ? one : many);
}

std::string_view BattleTitle(const Battle& battle) {
  if (!battle.has_scenario)
    return "Before any scenario";
  return battle.scenario.empty() ? std::string_view("(scenario without a name)")
                                 : std::string_view(battle.scenario);
}

// False when the report alone was read and lists several scenario starts:
// no message, and so no span of game time, is known to be one battle's.
bool KnowsEvents(const AfterAction& after) {
  return after.basis == Basis::kJournal || after.unattributed.empty();
}

std::string BattleId(int number) {
  return "battle-" + std::to_string(number);
}

void AppendDate(std::string& out, const std::string& date) {
  if (date.empty())
    out += kDash;
  else
    AppendHtml(out, date);
}

void AppendSources(std::string& out, const AfterAction& after) {
  out += "<ul class=\"sources\">";
  if (after.has_journal) {
    out += "<li>Battle journal <code>";
    out += kJournalFileName;
    out += "</code>: " + Count(after.journal_lines, "line", "lines") + ".</li>";
  } else {
    out += "<li>No battle journal (<code>";
    out += kJournalFileName;
    out += "</code>) was found: only it records sinkings and time-factor changes.</li>";
  }
  if (after.has_report) {
    out += "<li>Report <code>";
    out += kReportFileName;
    out += "</code>: ";
    if (!after.actual_date.empty()) {
      out += "begun ";
      AppendHtml(out, after.actual_date);
      out += " (your computer's date and time), ";
    }
    out += Count(after.report_sessions, "scenario start", "scenario starts") + ", " +
           Count(after.report_messages, "kept message", "kept messages") + ".</li>";
  } else {
    out += "<li>No report (<code>";
    out += kReportFileName;
    out += "</code>) was found.</li>";
  }
  out += "</ul>";

  if (after.journal_skipped > 0) {
    out += "<p class=\"note\" id=\"skipped\">" +
           Count(after.journal_skipped, "journal line was", "journal lines were") +
           " left out: cut short by a crash, or not in the journal's layout (";
    out += after.journal_skipped == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < after.journal_skipped_lines.size(); ++i) {
      out += i == 0 ? "" : ", ";
      out += std::to_string(after.journal_skipped_lines[i]);
    }
    out +=
        after.journal_skipped > after.journal_skipped_lines.size() ? ", &#8230;).</p>" : ").</p>";
  }
  if (after.report_not_understood > 0) {
    out += "<p class=\"note\">" + Count(after.report_not_understood, "entry", "entries") +
           " of the report are not in its usual layout and were left out.</p>";
  }
  if (after.basis == Basis::kJournal && after.has_report && !after.battles.empty()) {
    std::size_t starts = 0;
    for (const Battle& battle : after.battles)
      starts += battle.has_scenario ? 1 : 0;
    if (starts != after.report_sessions) {
      out += "<p class=\"note\">The report lists " +
             Count(after.report_sessions, "scenario start", "scenario starts") +
             " and the journal " + CountText(starts) +
             ": one of the files was begun afresh or is damaged. The battles below follow the "
             "journal.</p>";
    }
  }
  if (after.basis == Basis::kReport && !after.battles.empty()) {
    out +=
        "<p class=\"note\">The battles below come from the report alone. It keeps the latest "
        "message for each game time and no sinkings or time-factor changes; the battle "
        "journal has them all.";
    if (!after.unattributed.empty()) {
      out +=
          " With several scenario starts in it, the report cannot tell which battle a "
          "message belongs to: its messages are listed once, after the battles.";
    }
    out += "</p>";
  }
}

// "10:42" of a moment for a notice: the hour and minute of its game date,
// or its game time when the battle has no start date.
std::string ClockOf(const Moment& at) {
  if (at.date.size() >= 16)
    return at.date.substr(at.date.size() - 8, 5);
  return "game time " + std::to_string(at.game_time);
}

std::string RowId(int battle, std::size_t row) {
  return "b" + std::to_string(battle) + "-e" + std::to_string(row);
}

// A link to a row of a battle's log, its text the moment's date.
void AppendRowLink(std::string& out, int battle, std::size_t row, const Moment& at) {
  out += "<a href=\"#" + RowId(battle, row) + "\">";
  if (at.date.empty())
    out += "game time " + std::to_string(at.game_time);
  else
    AppendHtml(out, at.date);
  out += "</a>";
}

// A row of a table's head that only paper shows, so that every printed
// page of a long table names its battle.
void AppendPrintHead(std::string& out, int columns, const std::string& title_html) {
  out += "<tr class=\"print-only\"><th colspan=\"" + std::to_string(columns) +
         "\" scope=\"colgroup\">" + title_html + "</th></tr>";
}

std::string BattleTitleHtml(const Battle& battle, int number) {
  std::string title = "Battle " + std::to_string(number) + ": ";
  AppendHtml(title, BattleTitle(battle));
  if (battle.play > 1)
    title += " (play " + std::to_string(battle.play) + ")";
  return title;
}

// The losses of groups, most first; equal counts in the order first hit.
struct GroupLosses {
  std::string_view group;
  std::size_t lost = 0;
  std::size_t battles = 0;  // in how many battles it lost units
  const Sinking* first = nullptr;
  const Sinking* last = nullptr;
  std::size_t first_row = 0, last_row = 0;
};

std::vector<GroupLosses> RankGroups(const std::vector<const Battle*>& battles) {
  std::vector<GroupLosses> groups;
  std::map<std::string_view, std::size_t> group_of;
  for (std::size_t b = 0; b < battles.size(); ++b) {
    std::map<std::string_view, bool> seen_here;  // groups that lost units in this battle
    const Battle& battle = *battles[b];
    for (std::size_t i = 0; i < battle.sinkings.size(); ++i) {
      const Sinking& sinking = battle.sinkings[i];
      const auto [at, added] = group_of.try_emplace(sinking.group, groups.size());
      if (added)
        groups.push_back({sinking.group});
      GroupLosses& group = groups[at->second];
      ++group.lost;
      if (!std::exchange(seen_here[sinking.group], true))
        ++group.battles;
      const std::size_t row = battle.sinking_rows[i];
      if (group.first == nullptr || sinking.at.game_time < group.first->at.game_time) {
        group.first = &sinking;
        group.first_row = row;
      }
      if (group.last == nullptr || sinking.at.game_time >= group.last->at.game_time) {
        group.last = &sinking;
        group.last_row = row;
      }
    }
  }
  std::stable_sort(groups.begin(), groups.end(),
                   [](const GroupLosses& a, const GroupLosses& b) { return a.lost > b.lost; });
  return groups;
}

void AppendBar(std::string& out, std::size_t value, std::size_t most) {
  // Whole percent, so the page is the same on every system.
  const std::size_t percent = most == 0 ? 0 : (value * 100 + most - 1) / most;
  out += "<span class=\"bar\" style=\"width:" + std::to_string(percent) +
         "%\" aria-hidden=\"true\"></span>";
}

std::string_view GroupText(std::string_view group) {
  return group.empty() ? std::string_view("(no group)") : group;
}

// The campaign: one row per battle with its counts, the totals, and the
// losses of every group over all battles.
void AppendCampaign(std::string& out, const AfterAction& after) {
  const bool journal = after.basis == Basis::kJournal;
  const bool known = KnowsEvents(after);
  out +=
      "<section class=\"campaign\" aria-labelledby=\"campaign-h\"><h2 id=\"campaign-h\">"
      "Campaign</h2><div class=\"wide\"><table class=\"summary\"><caption>Every battle the files "
      "hold, in the order played</caption><thead><tr><th scope=\"col\">#</th><th "
      "scope=\"col\">Battle</th><th scope=\"col\">Play</th><th scope=\"col\">Start date</th>"
      "<th scope=\"col\">Game time covered</th><th scope=\"col\" class=\"n\">Messages</th>"
      "<th scope=\"col\" class=\"n\">Losses</th><th scope=\"col\" class=\"n\">Time-factor "
      "changes</th></tr></thead><tbody>";
  std::size_t messages = 0, losses = 0, changes = 0;
  for (std::size_t i = 0; i < after.battles.size(); ++i) {
    const Battle& battle = after.battles[i];
    const int number = static_cast<int>(i) + 1;
    messages += battle.messages.size();
    losses += battle.sinkings.size();
    changes += battle.time_factors.size();
    out += "<tr><td>" + std::to_string(number) + "</td><th scope=\"row\"><a href=\"#" +
           BattleId(number) + "\">";
    AppendHtml(out, BattleTitle(battle));
    out += "</a></th><td>" + std::to_string(battle.play) + "</td><td>";
    AppendDate(out, battle.start_date);
    out += "</td><td>";
    out += known ? SpanText(battle.last.game_time - battle.first.game_time) : std::string(kDash);
    out += "</td><td class=\"n\">";
    out += known ? CountText(battle.messages.size()) : std::string(kDash);
    out += "</td><td class=\"n\">";
    out += journal ? CountText(battle.sinkings.size()) : std::string(kDash);
    out += "</td><td class=\"n\">";
    out += journal ? CountText(battle.time_factors.size()) : std::string(kDash);
    out += "</td></tr>";
  }
  out += "</tbody><tfoot><tr><td></td><th scope=\"row\">All " + CountText(after.battles.size()) +
         " battles</th><td></td><td></td><td></td><td class=\"n\">" +
         (known ? CountText(messages + after.unattributed.size())
                : CountText(after.unattributed.size())) +
         "</td><td class=\"n\">" + (journal ? CountText(losses) : std::string(kDash)) +
         "</td><td class=\"n\">" + (journal ? CountText(changes) : std::string(kDash)) +
         "</td></tr></tfoot></table></div>";
  if (!after.unattributed.empty())
    out += "<p><a href=\"#kept\">Messages kept by the report</a></p>";

  if (journal && losses > 0) {
    std::vector<const Battle*> battles;
    for (const Battle& battle : after.battles)
      battles.push_back(&battle);
    const std::vector<GroupLosses> groups = RankGroups(battles);
    out +=
        "<h3>Losses by group, all battles</h3><div class=\"wide\"><table class=\"ranked\">"
        "<thead><tr><th scope=\"col\">Group</th><th scope=\"col\" class=\"n\">Units lost</th>"
        "<th scope=\"col\" class=\"barcell\"><span class=\"sr\">Share</span></th>"
        "<th scope=\"col\" class=\"n\">Battles</th></tr></thead><tbody>";
    for (const GroupLosses& group : groups) {
      out += "<tr><th scope=\"row\">";
      AppendHtml(out, GroupText(group.group));
      out += "</th><td class=\"n\">" + CountText(group.lost) + "</td><td class=\"barcell\">";
      AppendBar(out, group.lost, groups.front().lost);
      out += "</td><td class=\"n\">" + CountText(group.battles) + "</td></tr>";
    }
    out += "</tbody></table></div>";
  }
  out += "</section>\n";
}

void AppendFact(std::string& out, std::string_view term, std::string_view value_html) {
  out += "<div><dt>";
  out += term;
  out += "</dt><dd>";
  out += value_html;
  out += "</dd></div>";
}

// The battle's facts; a dash for what the files read cannot tell.
void AppendFacts(std::string& out, const Battle& battle, const AfterAction& after) {
  const bool known = KnowsEvents(after);
  std::string value;
  out += "<dl class=\"facts\">";
  AppendDate(value, battle.start_date);
  AppendFact(out, "Start date", value);

  value = !known ? std::string(kDash)
                 : SpanText(battle.last.game_time - battle.first.game_time) +
                       " <small>(game time " + std::to_string(battle.first.game_time) + " to " +
                       std::to_string(battle.last.game_time) + ")</small>";
  AppendFact(out, "Game time covered", value);
  value.clear();
  AppendDate(value, battle.first.date);
  AppendFact(out, "First game date", value);
  value.clear();
  AppendDate(value, known ? battle.last.date : std::string());
  AppendFact(out, "Last game date", value);
  AppendFact(out, "Messages", known ? CountText(battle.messages.size()) : std::string(kDash));
  const bool journal = after.basis == Basis::kJournal;
  AppendFact(out, "Losses", journal ? CountText(battle.sinkings.size()) : std::string(kDash));
  AppendFact(out, "Time-factor changes",
             journal ? CountText(battle.time_factors.size()) : std::string(kDash));
  out += "</dl>";
}

// The runs of failures to write the report or flush the journal, as
// notices at the battle's top: a player reading the page must know the
// record has a gap.
void AppendFailureNotices(std::string& out, const Battle& battle, int number) {
  for (const FailureRun& run : battle.failure_runs) {
    const bool report = run.file == FailedFile::kReport;
    out += "<div class=\"notice failure\" role=\"note\"><p><strong>";
    out += report ? "The report could not be written" : "The journal could not be flushed";
    out += "</strong> from " + ClockOf(run.from);
    if (run.until)
      out += " to " + ClockOf(*run.until);
    else
      out += " on";
    out += ": ";
    AppendHtml(out, run.reason);
    out += ".";
    if (!run.until)
      out += " The last attempt that failed was at " + ClockOf(run.last_attempt) +
             "; no later line says it worked again.";
    out += report ? " What the report holds may be older than the journal."
                  : " Journal lines of that time may have been lost in a crash.";
    out += " <a href=\"#" + RowId(number, run.row) + "\">In the log</a></p></div>";
  }
}

// Losses ranked by group, and then every loss in time order, each a link
// to its row in the log.
void AppendLosses(std::string& out, const Battle& battle, int number) {
  out += "<h3>Losses</h3>";
  if (battle.sinkings.empty()) {
    out += "<p class=\"none-here\">No unit was lost.</p>";
    return;
  }
  const std::vector<GroupLosses> groups = RankGroups({&battle});
  const std::string title = BattleTitleHtml(battle, number);
  out += "<p>" + Count(battle.sinkings.size(), "unit", "units") + " lost in " +
         Count(groups.size(), "group", "groups") + ", most first.</p>";
  out += "<div class=\"wide\"><table class=\"ranked\"><thead>";
  AppendPrintHead(out, 5, title);
  out +=
      "<tr><th scope=\"col\">Group</th><th scope=\"col\" class=\"n\">Units lost</th>"
      "<th scope=\"col\" class=\"barcell\"><span class=\"sr\">Share</span></th><th "
      "scope=\"col\">First loss</th><th scope=\"col\">Last loss</th></tr></thead><tbody>";
  for (const GroupLosses& group : groups) {
    out += "<tr><th scope=\"row\">";
    AppendHtml(out, GroupText(group.group));
    out += "</th><td class=\"n\">" + CountText(group.lost) + "</td><td class=\"barcell\">";
    AppendBar(out, group.lost, groups.front().lost);
    out += "</td><td>";
    AppendRowLink(out, number, group.first_row, group.first->at);
    out += "</td><td>";
    AppendRowLink(out, number, group.last_row, group.last->at);
    out += "</td></tr>";
  }
  out += "</tbody></table></div>";

  // Every loss, written like the log inside <noscript>, one row a line: a
  // battle of thousands of losses would otherwise cost the browser a
  // second before the page could be used. The script shows the rows from
  // there, and draws the timeline's markers from them: the row in the log
  // (the link), the game time and the label.
  const std::map<std::string, std::string> labels = GroupLabels(battle.sinkings);
  std::string head = "<caption>Every loss, in time order</caption><thead>";
  AppendPrintHead(head, 4, title);
  head +=
      "<tr><th scope=\"col\">Game date</th><th scope=\"col\">Game time</th><th "
      "scope=\"col\">Group</th><th scope=\"col\">Unit</th></tr></thead>";
  out += "<div class=\"wide losses-all\"><table class=\"every-loss shown\" hidden>" + head +
         "<tbody></tbody></table><noscript><table class=\"every-loss\">" + head + "<tbody>\n";
  for (const LogRow& row : battle.log) {
    if (row.kind != EventKind::kLoss)
      continue;
    const Sinking& sinking = battle.sinkings[row.index];
    const std::size_t at = battle.sinking_rows[row.index];
    out += "<tr class=\"loss\" data-label=\"";
    AppendHtml(out, labels.at(sinking.group));
    out += " &#183; ";
    AppendHtml(out, sinking.unit);
    out += "\"><td>";
    AppendRowLink(out, number, at, sinking.at);
    out += "<td>" + std::to_string(sinking.at.game_time) + "<td>";
    AppendHtml(out, GroupText(sinking.group));
    out += "<td>";
    AppendHtml(out, sinking.unit);
    out += "</tr>\n";
  }
  out += "</tbody></table></noscript></div>";
}

// A text of the log: whole up to kLongText bytes. A longer one shows its
// start, and the rest opens on demand: a browser laying out a text of
// hundreds of kilobytes in a table cell takes seconds to minutes, and a
// page a friend sends must never freeze it.
constexpr std::size_t kLongText = 4000;
constexpr std::size_t kLongTextShown = 1000;

void AppendLogText(std::string& out, std::string_view text) {
  if (text.size() <= kLongText) {
    AppendHtml(out, text);
    return;
  }
  AppendHtmlShortened(out, text, kLongTextShown);
  out += "<details><summary>Read all " + CountText(text.size()) +
         " characters</summary><div class=\"whole\">";
  AppendHtml(out, text);
  out += "</div></details>";
}

// A row's game date in the log: whole on a group's first row and where the
// day changes, else the time of day alone: the day on every row would be a
// tenth of a long log's size. `day` is the day the last whole date named.
// The script writes the day back into each row it shows.
void AppendLogDate(std::string& out, const std::string& date, std::string_view& day) {
  // A date ends in " HH:MM:SS", 9 bytes, whatever the year's width.
  constexpr std::size_t kTimeOfDay = 9;
  if (date.size() <= kTimeOfDay) {
    day = {};
    AppendDate(out, date);
    return;
  }
  const std::string_view whole = date;
  if (whole.substr(0, whole.size() - kTimeOfDay) == day) {
    AppendHtml(out, whole.substr(whole.size() - kTimeOfDay + 1));
    return;
  }
  day = whole.substr(0, whole.size() - kTimeOfDay);
  AppendHtml(out, whole);
}

// One row of a log. Messages, the most rows by far, carry no id or class;
// the other kinds carry an id (losses and notices link to them) and their
// kind. A cell ends where the next begins, and a row where the next row or
// group begins: closing tags and line breaks would add a twentieth to a
// long log's size, and every byte of it costs the browser time before the
// page can be used. The script finds each row at its "<tr", and its end
// at the next row or at the "</tbody" of its group; no row holds either.
void AppendLogRow(std::string& out, const Battle& battle, const LogRow& row, int number,
                  std::size_t at, std::string_view& day) {
  const Moment& moment = battle.MomentOf(row);
  switch (row.kind) {
    case EventKind::kMessage:
      out += "<tr>";
      break;
    case EventKind::kLoss:
      out += "<tr id=\"" + RowId(number, at) + "\" class=\"k-loss\">";
      break;
    case EventKind::kTimeFactor:
      out += "<tr id=\"" + RowId(number, at) + "\" class=\"k-tf\" data-f=\"" +
             std::to_string(battle.time_factors[row.index].factor) + "\">";
      break;
    case EventKind::kFailure:
      out += "<tr id=\"" + RowId(number, at) + "\" class=\"k-fail\">";
      break;
  }
  out += "<td>";
  AppendLogDate(out, moment.date, day);
  out += "<td>";
  out += std::to_string(moment.game_time);
  switch (row.kind) {
    case EventKind::kMessage:
      // The style sheet writes "Message" in the empty cell: most rows are
      // messages, and the word would add a tenth to a long log.
      out += "<td><td>";
      AppendLogText(out, battle.messages[row.index].text);
      break;
    case EventKind::kLoss: {
      const Sinking& sinking = battle.sinkings[row.index];
      out += "<td>Loss<td>";
      AppendHtml(out, GroupText(sinking.group));
      out += ", unit ";
      AppendHtml(out, sinking.unit);
      out += " lost";
      break;
    }
    case EventKind::kTimeFactor:
      out += "<td>Time factor<td>Time factor &#215;" +
             std::to_string(battle.time_factors[row.index].factor);
      break;
    case EventKind::kFailure:
      out += "<td>Failure<td>";
      AppendLogText(out, battle.failures[row.index].text);
      break;
  }
}

void AppendPageScript(std::string& out) {
  out += "<script>";
  out += kPageScript;
  out += "</script>\n";
}

// A battle's log: every event in game-time order. Every row is written
// inside <noscript>: a browser without script shows them all; one with
// script makes none of them (it takes the block as plain text, a fraction
// of the cost of rows), and the script shows a page of rows at a time,
// narrowed by the kinds ticked, the filter and the timeline's window. A log
// of 100,000 rows would otherwise keep a browser busy for many seconds
// before the page could be used.
//
// The first group of rows, the log's first page, is a block of its own.
// The page's script follows the first log's first block, unless
// `script_written` says it is out already: the page is shown and answers
// while the rest of a long log is still being read. Each later block is a
// table of its own with the same fixed columns, so that without script
// they read as one; their heads are there for paper and screen readers.
void AppendLog(std::string& out, const Battle& battle, int number, bool has_title,
               bool& script_written) {
  if (battle.log.empty()) {
    out += "<p class=\"none-here\">Nothing to list.</p>";
    return;
  }
  std::size_t kinds[4] = {};
  for (const LogRow& row : battle.log)
    ++kinds[static_cast<int>(row.kind)];
  static constexpr std::string_view kKindNames[4] = {"Messages", "Losses", "Time factor",
                                                     "Failures"};
  static constexpr std::string_view kKindClasses[4] = {"msg", "loss", "tf", "fail"};
  std::string head =
      "<colgroup><col class=\"c-date\"><col class=\"c-time\"><col "
      "class=\"c-kind\"><col></colgroup><thead>";
  if (has_title)
    AppendPrintHead(head, 4, BattleTitleHtml(battle, number));
  head +=
      "<tr><th scope=\"col\">Game date</th><th scope=\"col\">Game time</th><th "
      "scope=\"col\">Kind</th><th scope=\"col\">What happened</th></tr></thead>";
  const std::string pager =
      "<div class=\"pager\" hidden><button type=\"button\" class=\"previous\">Previous page"
      "</button><span class=\"status\"></span><button type=\"button\" class=\"next\">Next page"
      "</button></div>";
  // data-rows: the script shows the first page before it has read the
  // rest, and says from the start how many rows there are.
  out += "<div class=\"log\" data-battle=\"" + std::to_string(number) + "\" data-rows=\"" +
         std::to_string(battle.log.size()) +
         "\"><div class=\"tools\" hidden><label class=\"filter\"><span>Filter</span><input "
         "type=\"search\" placeholder=\"words to look for\"></label><fieldset "
         "class=\"kinds\"><legend>Show</legend>";
  for (int kind = 0; kind < 4; ++kind) {
    if (kinds[kind] == 0)
      continue;
    out += "<label class=\"k-";
    out += kKindClasses[kind];
    out += "\"><input type=\"checkbox\" checked value=\"";
    out += kKindClasses[kind];
    out += "\">";
    out += kKindNames[kind];
    out += " <small>" + CountText(kinds[kind]) + "</small></label>";
  }
  out +=
      "</fieldset><p class=\"window\" hidden></p><p class=\"count\" aria-live=\"polite\"></p>"
      "</div>" +
      pager + "<table class=\"events shown\" hidden>" + head + "<tbody></tbody></table>" + pager;
  for (std::size_t begin = 0; begin < battle.log.size(); begin += kRowsPerGroup) {
    const std::size_t end = std::min(battle.log.size(), begin + kRowsPerGroup);
    if (begin == 0)
      out += "<noscript><table class=\"events\">" + head;
    else if ((begin - kRowsPerGroup) % kRowsPerBlock == 0)
      out += "<noscript><table class=\"events more\">" + head;
    out += "<tbody class=\"chunk\" style=\"contain-intrinsic-size:auto " +
           std::to_string((end - begin) * kRowHeight) + "px\">";
    std::string_view day;  // none yet: a group's first row has its whole date
    for (std::size_t i = begin; i < end; ++i)
      AppendLogRow(out, battle, battle.log[i], number, i, day);
    out += "</tbody>";
    if (begin == 0 || end == battle.log.size() || (end - kRowsPerGroup) % kRowsPerBlock == 0)
      out += "</table></noscript>";
    if (begin == 0 && !script_written) {
      AppendPageScript(out);
      script_written = true;
    }
  }
  out += "</div>";
}

void AppendBattle(std::string& out, const AfterAction& after, const Battle& battle, int number,
                  bool& script_written) {
  // With a campaign in front, every battle starts a printed page; without
  // one, the first shares its page with the heading.
  const bool first_on_page = number == 1 && after.battles.size() == 1;
  out += "<section class=\"battle";
  out += first_on_page ? " first" : "";
  out += "\" id=\"" + BattleId(number) + "\" aria-labelledby=\"" + BattleId(number) +
         "-h\"><h2 id=\"" + BattleId(number) + "-h\"><span class=\"num\">Battle " +
         std::to_string(number) + "</span>";
  AppendHtml(out, BattleTitle(battle));
  if (battle.play > 1)
    out += "<span class=\"play\">play " + std::to_string(battle.play) + "</span>";
  out += "</h2>";
  AppendFailureNotices(out, battle, number);
  AppendFacts(out, battle, after);

  if (!KnowsEvents(after)) {
    out +=
        "<p class=\"none-here\">The report alone cannot tell which messages are this "
        "battle's: they are under <a href=\"#kept\">Messages kept by the report</a>.</p>"
        "</section>";
    return;
  }
  if (!battle.HasEvents()) {
    out += "<p class=\"none-here\">No events were recorded in this battle.</p></section>";
    return;
  }
  const bool journal = after.basis == Basis::kJournal;
  out += "<h3>Timeline</h3>";
  AppendTimelineFigure(out, battle, number, journal);
  if (journal)
    AppendLosses(out, battle, number);
  out += "<h3>Log</h3>";
  AppendLog(out, battle, number, true, script_written);
  out += "</section>";
}

}  // namespace

std::string RenderPage(const AfterAction& after) {
  std::size_t messages = 0, sinkings = 0;
  for (const Battle& battle : after.battles) {
    messages += battle.messages.size();
    sinkings += battle.sinkings.size();
  }
  // Room for the whole page at once: the log rows are most of it, and a
  // string that grows doubles, which for a long journal is the largest
  // block the program ever asks for.
  std::size_t texts = 0, rows = 0;
  for (const Battle& battle : after.battles) {
    rows += battle.log.size();
    for (const Message& message : battle.messages)
      texts += message.text.size();
  }
  for (const Message& message : after.unattributed)
    texts += message.text.size();
  std::string out;
  out.reserve(65536 + texts + texts / 16 + (rows + after.unattributed.size()) * 72);

  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"description\" content=\"After-action report made by tarveld-aar from the "
      "game's report and battle journal\">\n<title>";
  out += "After-action report";
  if (after.battles.size() == 1) {
    out += ": ";
    AppendHtml(out, BattleTitle(after.battles.front()));
  }
  out += "</title>\n<script>";
  out += kErrorRecorderScript;
  out += "</script>\n<style>";
  out += kPageStyle;
  out += "</style>\n</head>\n<body>\n<header><h1>After-action report</h1><p class=\"lede\">";
  if (after.battles.empty()) {
    out += "The files hold no battle yet.";
  } else {
    out += Count(after.battles.size(), "battle", "battles") + " &#183; " +
           Count(messages + after.unattributed.size(), "message", "messages");
    if (after.basis == Basis::kJournal)
      out += " &#183; " + Count(sinkings, "unit lost", "units lost");
  }
  std::size_t failures = 0;
  for (const Battle& battle : after.battles)
    failures += battle.failure_runs.size();
  if (failures > 0)
    out += "</p><p class=\"notice failure\" role=\"note\"><strong>" +
           Count(failures, "time", "times") +
           " the plug-in could not write its files</strong>: each battle concerned says when.";
  out += "</p>";
  AppendSources(out, after);
  out += "</header>\n";
  out += "<main>\n";
  if (after.battles.size() > 1 || (!after.battles.empty() && !after.unattributed.empty()))
    AppendCampaign(out, after);

  bool script_written = false;  // after the first log's first page, or at the end
  for (std::size_t i = 0; i < after.battles.size(); ++i) {
    AppendBattle(out, after, after.battles[i], static_cast<int>(i) + 1, script_written);
    out += '\n';
  }
  if (!after.unattributed.empty()) {
    Battle kept;
    kept.has_scenario = false;
    kept.messages = after.unattributed;
    for (std::size_t i = 0; i < kept.messages.size(); ++i)
      kept.log.push_back({EventKind::kMessage, i});
    out +=
        "<section class=\"battle\" id=\"kept\" aria-labelledby=\"kept-h\"><h2 id=\"kept-h\">"
        "Messages kept by the report</h2>"
        "<p>The latest message for each game time, over every battle the report lists.</p>";
    AppendLog(out, kept, 0, false, script_written);
    out += "</section>\n";
  }
  out += "</main>\n<footer>Made by tarveld-aar from ";
  out += after.has_journal && after.has_report
             ? std::string(kJournalFileName) + " and " + kReportFileName
         : after.has_journal ? kJournalFileName
                             : kReportFileName;
  out +=
      ". Texts are shown as the game wrote them, read in its Windows code page "
      "(Windows-1252).</footer>\n";
  if (!script_written)
    AppendPageScript(out);
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace tarveld::aar
