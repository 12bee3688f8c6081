#include "aar/html_page.h"

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
constexpr std::size_t kRowsPerGroup = 500;
constexpr int kRowHeight = 22;  // px, a row's height for the skipped groups
constexpr std::string_view kDash = "\u2014";

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
    out += after.journal_skipped > after.journal_skipped_lines.size() ? ", \u2026).</p>" : ").</p>";
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

void AppendIndex(std::string& out, const AfterAction& after) {
  out += "<nav class=\"index\" aria-label=\"Battles\"><h2>Battles</h2><ol>";
  for (std::size_t i = 0; i < after.battles.size(); ++i) {
    const Battle& battle = after.battles[i];
    const int number = static_cast<int>(i) + 1;
    out += "<li><a href=\"#" + BattleId(number) + "\">";
    AppendHtml(out, BattleTitle(battle));
    out += "</a>";
    if (battle.play > 1)
      out += " (play " + std::to_string(battle.play) + ")";
    out += " <span>";
    if (!battle.first.date.empty()) {
      AppendHtml(out, battle.first.date);
      out += " \u00b7 ";
    }
    if (KnowsEvents(after))
      out += Count(battle.messages.size(), "message", "messages");
    else
      out += "scenario start";
    if (after.basis == Basis::kJournal) {
      out += " \u00b7 " + Count(battle.sinkings.size(), "sinking", "sinkings") + " \u00b7 " +
             Count(battle.time_factors.size(), "time-factor change", "time-factor changes");
    }
    out += "</span></li>";
  }
  if (!after.unattributed.empty())
    out += "<li><a href=\"#kept\">Messages kept by the report</a></li>";
  out += "</ol></nav>";
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
  AppendFact(out, "Sinkings", journal ? CountText(battle.sinkings.size()) : std::string(kDash));
  AppendFact(out, "Time-factor changes",
             journal ? CountText(battle.time_factors.size()) : std::string(kDash));
  out += "</dl>";
}

void AppendLosses(std::string& out, const Battle& battle) {
  out += "<h3>Losses</h3>";
  if (battle.sinkings.empty()) {
    out += "<p class=\"none-here\">No unit was lost.</p>";
    return;
  }
  // Groups in the order of their first loss, which is the order the
  // battle took them in.
  std::vector<std::pair<std::string_view, std::vector<const Sinking*>>> groups;
  std::map<std::string_view, std::size_t> group_of;
  for (const Sinking& sinking : battle.sinkings) {
    const auto [at, added] = group_of.try_emplace(sinking.group, groups.size());
    if (added)
      groups.emplace_back(sinking.group, std::vector<const Sinking*>());
    groups[at->second].second.push_back(&sinking);
  }
  out += "<p>" + Count(battle.sinkings.size(), "unit", "units") + " lost in " +
         Count(groups.size(), "group", "groups") + ".</p>";
  out +=
      "<table class=\"losses\"><thead><tr><th>Group</th><th>Unit</th><th>Game date</th>"
      "<th>Game time</th></tr></thead>";
  for (const auto& [group, sinkings] : groups) {
    out += "<tbody>";
    for (std::size_t i = 0; i < sinkings.size(); ++i) {
      out += "<tr class=\"loss\">";
      if (i == 0) {
        out += "<th scope=\"rowgroup\" rowspan=\"" + std::to_string(sinkings.size()) + "\">";
        AppendHtml(out, group.empty() ? std::string_view("(no group)") : group);
        out += "<small>" + Count(sinkings.size(), "unit lost", "units lost") + "</small></th>";
      }
      out += "<td>";
      AppendHtml(out, sinkings[i]->unit);
      out += "</td><td>";
      AppendDate(out, sinkings[i]->at.date);
      out += "</td><td>" + std::to_string(sinkings[i]->at.game_time) + "</td></tr>";
    }
    out += "</tbody>";
  }
  out += "</table>";
}

// A message log. Every row is written inside <noscript>: a browser without
// script shows them all as one table; one with script parses none of them
// (it takes the block as plain text, which costs next to nothing), and the
// script shows a page of rows at a time, narrowed by the filter box. A log
// of 100,000 rows would otherwise keep a browser busy for many seconds
// before the page could be used.
void AppendMessageLog(std::string& out, const std::vector<Message>& messages) {
  if (messages.empty()) {
    out += "<p class=\"none-here\">No message.</p>";
    return;
  }
  constexpr std::string_view kHead =
      "<thead><tr><th>Game date</th><th>Game time</th><th>Message</th></tr></thead>";
  out +=
      "<div class=\"log\"><div class=\"tools\" hidden><input type=\"search\" "
      "placeholder=\"Filter messages: type words to look for\" "
      "aria-label=\"Filter messages\"><span class=\"status\" aria-live=\"polite\"></span>"
      "<button type=\"button\" class=\"previous\">Previous</button>"
      "<button type=\"button\" class=\"next\">Next</button></div>"
      "<table class=\"messages shown\" hidden>";
  out += kHead;
  out += "<tbody></tbody></table><noscript><table class=\"messages\">";
  out += kHead;
  for (std::size_t begin = 0; begin < messages.size(); begin += kRowsPerGroup) {
    const std::size_t end = std::min(messages.size(), begin + kRowsPerGroup);
    out += "<tbody class=\"chunk\" style=\"contain-intrinsic-size:auto " +
           std::to_string((end - begin) * kRowHeight) + "px\">\n";
    // One row a line, which is how the script finds them. A cell ends where
    // the next begins: closing tags would add a tenth to a long log's size.
    // The row is closed, or the line break after it would be part of the
    // message.
    for (std::size_t i = begin; i < end; ++i) {
      out += "<tr class=\"msg\"><td>";
      AppendDate(out, messages[i].at.date);
      out += "<td>";
      out += std::to_string(messages[i].at.game_time);
      out += "<td>";
      AppendHtml(out, messages[i].text);
      out += "</tr>\n";
    }
    out += "</tbody>";
  }
  out += "</table></noscript></div>";
}

void AppendBattle(std::string& out, const AfterAction& after, const Battle& battle, int number) {
  // With an index in front, every battle starts a printed page; without
  // one, the first shares its page with the heading.
  const bool first_on_page = number == 1 && after.battles.size() == 1;
  out += "<section class=\"battle";
  out += first_on_page ? " first" : "";
  out += "\" id=\"" + BattleId(number) + "\"><h2><span class=\"num\">Battle " +
         std::to_string(number) + "</span>";
  AppendHtml(out, BattleTitle(battle));
  if (battle.play > 1)
    out += "<span class=\"play\">play " + std::to_string(battle.play) + "</span>";
  out += "</h2>";
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
  out += "<figure>";
  const std::size_t unlabelled = AppendTimeline(out, battle, number);
  out +=
      "<figcaption><span class=\"key-sink\">\u25cf</span> a unit lost (point at it for its "
      "group, unit and date) \u00b7 <span class=\"key-step\">\u2014</span> the time factor "
      "\u00b7 | messages, taller where more came at once.";
  if (unlabelled > 0) {
    out += " " + Count(unlabelled, "loss has", "losses have") +
           " no label for lack of room; Losses lists every one.";
  }
  out += "</figcaption></figure>";
  if (after.basis == Basis::kJournal)
    AppendLosses(out, battle);
  out += "<h3>Messages</h3>";
  AppendMessageLog(out, battle.messages);
  out += "</section>";
}

}  // namespace

std::string RenderPage(const AfterAction& after) {
  std::size_t messages = 0, sinkings = 0;
  for (const Battle& battle : after.battles) {
    messages += battle.messages.size();
    sinkings += battle.sinkings.size();
  }
  std::string out;
  out.reserve(16384 + (messages + after.unattributed.size()) * 120);

  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
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
    out += Count(after.battles.size(), "battle", "battles") + " \u00b7 " +
           Count(messages + after.unattributed.size(), "message", "messages");
    if (after.basis == Basis::kJournal)
      out += " \u00b7 " + Count(sinkings, "unit lost", "units lost");
  }
  out += "</p>";
  AppendSources(out, after);
  out += "</header>\n";
  if (after.battles.size() > 1 || (!after.battles.empty() && !after.unattributed.empty()))
    AppendIndex(out, after);

  for (std::size_t i = 0; i < after.battles.size(); ++i) {
    AppendBattle(out, after, after.battles[i], static_cast<int>(i) + 1);
    out += '\n';
  }
  if (!after.unattributed.empty()) {
    out +=
        "<section class=\"battle\" id=\"kept\"><h2>Messages kept by the report</h2>"
        "<p>The latest message for each game time, over every battle the report lists.</p>";
    AppendMessageLog(out, after.unattributed);
    out += "</section>\n";
  }
  out += "<footer>Made by tarveld-aar from ";
  out += after.has_journal && after.has_report
             ? std::string(kJournalFileName) + " and " + kReportFileName
         : after.has_journal ? kJournalFileName
                             : kReportFileName;
  out +=
      ". Texts are shown as the game wrote them, read in its Windows code page "
      "(Windows-1252).</footer>\n<script>";
  out += kPageScript;
  out += "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace tarveld::aar
