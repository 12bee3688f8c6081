#include "aar/battle.h"

#include <map>

#include "aar/game_dates.h"

namespace tarveld::aar {
namespace {

// The date a report-only message stands for, carried forward from its
// battle's start date as the plug-in does; empty without a usable one.
std::string CarriedDate(const std::string& start_date, std::int64_t game_time) {
  const std::optional<std::int64_t> start = DateSeconds(start_date);
  return start ? DateText(CarryForward(*start, game_time)) : std::string();
}

// Sets first and last from every moment of the battle.
void Settle(Battle& battle) {
  battle.first = battle.last = battle.start;
  auto take = [&battle](const Moment& at) {
    if (at.game_time < battle.first.game_time)
      battle.first = at;
    if (at.game_time >= battle.last.game_time)
      battle.last = at;
  };
  battle.ForEachMoment(take);
}

// Numbers each battle's play of its scenario.
void NumberPlays(std::vector<Battle>& battles) {
  std::map<std::string, int> plays;
  for (Battle& battle : battles) {
    if (battle.has_scenario)
      battle.play = ++plays[battle.scenario];
  }
}

std::vector<Battle> BattlesOfJournal(const JournalRead& journal) {
  std::vector<Battle> battles;
  for (const JournalEntry& entry : journal.entries) {
    const Moment at{entry.date, entry.game_time};
    if (entry.kind == JournalKind::kScenario) {
      Battle& battle = battles.emplace_back();
      battle.scenario = entry.text;
      battle.start_date = entry.start_date;
      battle.start = at;
      continue;
    }
    if (battles.empty()) {
      Battle& before = battles.emplace_back();
      before.has_scenario = false;
      before.start = at;
    }
    Battle& battle = battles.back();
    switch (entry.kind) {
      case JournalKind::kMessage:
        battle.messages.push_back({at, entry.text});
        break;
      case JournalKind::kSinking:
        battle.sinkings.push_back({at, entry.group, entry.unit});
        break;
      case JournalKind::kTimeFactor:
        battle.time_factors.push_back({at, entry.time_factor});
        break;
      case JournalKind::kScenario:
        break;
    }
  }
  return battles;
}

std::vector<Battle> BattlesOfReport(const ReportRead& report, std::vector<Message>& unattributed) {
  std::vector<Battle> battles;
  for (const ReportSession& session : report.sessions) {
    Battle& battle = battles.emplace_back();
    battle.scenario = session.scenario;
    // "0000-00-00 00:00:00" is what a start without a date record leaves.
    battle.start_date = DateSeconds(session.start_date) ? session.start_date : std::string();
    battle.start.game_time = session.game_time.value_or(GameTimeOrigin);
    battle.start.date = CarriedDate(battle.start_date, battle.start.game_time);
  }
  if (battles.size() > 1) {
    for (const ReportMessage& message : report.messages)
      unattributed.push_back({{std::string(), message.game_time}, message.text});
    return battles;
  }
  if (battles.empty() && !report.messages.empty()) {
    Battle& before = battles.emplace_back();
    before.has_scenario = false;
    before.start.game_time = report.messages.front().game_time;
  }
  if (!battles.empty()) {
    Battle& battle = battles.front();
    for (const ReportMessage& message : report.messages)
      battle.messages.push_back(
          {{CarriedDate(battle.start_date, message.game_time), message.game_time}, message.text});
  }
  return battles;
}

}  // namespace

AfterAction BuildAfterAction(const JournalRead* journal, const ReportRead* report) {
  AfterAction after;
  after.has_journal = journal != nullptr;
  after.has_report = report != nullptr;
  if (journal != nullptr) {
    after.journal_lines = journal->lines;
    after.journal_skipped = journal->skipped;
    after.journal_skipped_lines = journal->skipped_lines;
  }
  if (report != nullptr) {
    after.actual_date = report->actual_date;
    after.report_sessions = report->sessions.size();
    after.report_messages = report->messages.size();
    after.report_not_understood = report->not_understood;
  }

  if (journal != nullptr && !journal->entries.empty()) {
    after.basis = Basis::kJournal;
    after.battles = BattlesOfJournal(*journal);
  } else if (report != nullptr) {
    after.basis = Basis::kReport;
    after.battles = BattlesOfReport(*report, after.unattributed);
  }
  for (Battle& battle : after.battles)
    Settle(battle);
  NumberPlays(after.battles);
  return after;
}

}  // namespace tarveld::aar
