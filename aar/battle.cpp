#include "aar/battle.h"

#include <algorithm>
#include <map>
#include <utility>

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

// The log in game-time order, the sinkings' rows in it, and the runs of
// failures: each run begins at a failure of a file that was working and
// ends at the line saying it works again.
}  // namespace

void ArrangeLog(Battle& battle) {
  auto add = [&battle](EventKind kind, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      battle.log.push_back({kind, i});
  };
  battle.log.clear();
  add(EventKind::kMessage, battle.messages.size());
  add(EventKind::kLoss, battle.sinkings.size());
  add(EventKind::kTimeFactor, battle.time_factors.size());
  add(EventKind::kFailure, battle.failures.size());
  // The files' order within one game time: each kind's list is in file
  // order, and the journal's line numbers are gone, so kinds at one time
  // keep the order messages, losses, changes, failures. A loss's message
  // ("Escort 5 reports unit 3 sinking") then stands next to it.
  std::stable_sort(battle.log.begin(), battle.log.end(),
                   [&battle](const LogRow& a, const LogRow& b) {
                     return battle.MomentOf(a).game_time < battle.MomentOf(b).game_time;
                   });
  battle.sinking_rows.assign(battle.sinkings.size(), 0);
  battle.failure_runs.clear();
  std::optional<std::size_t> open[2];  // the open run of the report, of the journal
  for (std::size_t row = 0; row < battle.log.size(); ++row) {
    const LogRow& entry = battle.log[row];
    if (entry.kind == EventKind::kLoss)
      battle.sinking_rows[entry.index] = row;
    if (entry.kind != EventKind::kFailure)
      continue;
    const Failure& failure = battle.failures[entry.index];
    std::optional<std::size_t>& run = open[failure.file == FailedFile::kReport ? 0 : 1];
    if (failure.recovered) {
      if (run)
        battle.failure_runs[*run].until = failure.at;
      run.reset();
      continue;
    }
    if (!run) {
      run = battle.failure_runs.size();
      FailureRun& begun = battle.failure_runs.emplace_back();
      begun.file = failure.file;
      begun.from = failure.at;
      begun.reason = failure.reason;
      begun.row = row;
    }
    battle.failure_runs[*run].last_attempt = failure.at;
  }
}

namespace {

// Numbers each battle's play of its scenario.
void NumberPlays(std::vector<Battle>& battles) {
  std::map<std::string, int> plays;
  for (Battle& battle : battles) {
    if (battle.has_scenario)
      battle.play = ++plays[battle.scenario];
  }
}

// Takes the entries' texts: the journal is the largest thing held.
std::vector<Battle> BattlesOfJournal(JournalRead& journal) {
  std::vector<Battle> battles;
  for (JournalEntry& entry : journal.entries) {
    const Moment at{std::move(entry.date), entry.game_time};
    if (entry.kind == JournalKind::kScenario) {
      Battle& battle = battles.emplace_back();
      battle.scenario = std::move(entry.text);
      battle.start_date = std::move(entry.start_date);
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
        battle.messages.push_back({at, std::move(entry.text)});
        break;
      case JournalKind::kSinking:
        battle.sinkings.push_back({at, std::move(entry.group), std::move(entry.unit)});
        break;
      case JournalKind::kTimeFactor:
        battle.time_factors.push_back({at, entry.time_factor});
        break;
      case JournalKind::kFailure:
        battle.failures.push_back({at, entry.failed_file, entry.recovered, std::move(entry.reason),
                                   std::move(entry.text)});
        break;
      case JournalKind::kScenario:
        break;
    }
  }
  journal.entries.clear();
  journal.entries.shrink_to_fit();
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

const Moment& Battle::MomentOf(const LogRow& row) const {
  switch (row.kind) {
    case EventKind::kLoss:
      return sinkings[row.index].at;
    case EventKind::kTimeFactor:
      return time_factors[row.index].at;
    case EventKind::kFailure:
      return failures[row.index].at;
    case EventKind::kMessage:
      break;
  }
  return messages[row.index].at;
}

AfterAction BuildAfterAction(const JournalRead* journal, const ReportRead* report) {
  std::optional<JournalRead> copy;
  if (journal != nullptr)
    copy = *journal;
  return BuildAfterActionFrom(std::move(copy), report);
}

AfterAction BuildAfterActionFrom(std::optional<JournalRead>&& journal_read,
                                 const ReportRead* report) {
  JournalRead* journal = journal_read ? &*journal_read : nullptr;
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
  for (Battle& battle : after.battles) {
    Settle(battle);
    ArrangeLog(battle);
  }
  NumberPlays(after.battles);
  return after;
}

}  // namespace tarveld::aar
