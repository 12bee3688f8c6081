// The model of the page: the battles the files hold, each with its
// messages, sinkings and time-factor changes, and what the page must say
// about its sources. The journal and the report each feed it; the writers
// read nothing else.
//
// How battles are told apart: every scenario start (a SCENARIO line in the
// journal, three "Session Start" keys in the report) begins one, so a
// second play of a scenario is a battle of its own. Events before the
// first scenario start form a battle without a scenario.
//
// Which file tells what: when the journal holds any event, the battles are
// the journal's, since it alone keeps every message, the sinkings and the
// time-factor changes; the report then adds only when the record was
// begun. Otherwise the battles are the report's scenario starts. Its "log"
// keeps the latest message per game time over all plays, keyed by game
// time alone, so with one scenario start its messages are that battle's;
// with several they cannot be told apart and are kept once, for all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "aar/journal_reader.h"
#include "aar/report_reader.h"

namespace tarveld::aar {

// When something happened: the game date ("1942-06-04 04:31:00", empty
// without a start date) and the game time.
struct Moment {
  std::string date;
  std::int64_t game_time = 0;
};

struct Message {
  Moment at;
  std::string text;
};

struct Sinking {
  Moment at;
  std::string group;
  std::string unit;
};

struct TimeFactorChange {
  Moment at;
  std::int64_t factor = 0;
};

// A FAILURE line: the report not written or the journal not flushed, or
// that file working again.
struct Failure {
  Moment at;
  FailedFile file = FailedFile::kReport;
  bool recovered = false;
  std::string reason;  // for a failure: "the disk was full", ...
  std::string text;    // the line's whole text
};

// A run of failures of one file: its first failure, the last attempt that
// failed, and the line that says it worked again (none when the battle
// ended first). `row` is the first failure's place in the battle's log.
struct FailureRun {
  FailedFile file = FailedFile::kReport;
  Moment from;
  Moment last_attempt;
  std::optional<Moment> until;
  std::string reason;  // the first failure's
  std::size_t row = 0;
};

// One row of a battle's log: which kind of event, and its index in that
// kind's list.
enum class EventKind { kMessage, kLoss, kTimeFactor, kFailure };
struct LogRow {
  EventKind kind = EventKind::kMessage;
  std::size_t index = 0;
};

struct Battle {
  bool has_scenario = true;  // false: events before any scenario started
  std::string scenario;
  int play = 1;            // 2 for the second battle of the same scenario, ...
  std::string start_date;  // as the files give it; empty for none
  Moment start;            // the scenario start; the first event without one
  std::vector<Message> messages;
  std::vector<Sinking> sinkings;
  std::vector<TimeFactorChange> time_factors;
  std::vector<Failure> failures;
  Moment first, last;  // the earliest and latest moment, by game time

  // Every event in game-time order (equal times keep the files' order),
  // and where each sinking stands in it: the page's log and its links.
  std::vector<LogRow> log;
  std::vector<std::size_t> sinking_rows;
  std::vector<FailureRun> failure_runs;

  bool HasEvents() const {
    return !messages.empty() || !sinkings.empty() || !time_factors.empty() || !failures.empty();
  }

  // Calls `visit` with the start and then with every event's moment.
  template <typename Visit>
  void ForEachMoment(Visit visit) const {
    visit(start);
    for (const Message& message : messages)
      visit(message.at);
    for (const Sinking& sinking : sinkings)
      visit(sinking.at);
    for (const TimeFactorChange& change : time_factors)
      visit(change.at);
    for (const Failure& failure : failures)
      visit(failure.at);
  }

  // The moment of one row of the log.
  const Moment& MomentOf(const LogRow& row) const;
};

enum class Basis { kJournal, kReport };

struct AfterAction {
  Basis basis = Basis::kJournal;
  std::vector<Battle> battles;
  // The report's messages when it alone was read and lists several
  // scenario starts.
  std::vector<Message> unattributed;

  // What the page says about its sources.
  bool has_journal = false;
  bool has_report = false;
  std::size_t journal_lines = 0;
  std::size_t journal_skipped = 0;
  std::vector<std::size_t> journal_skipped_lines;
  std::string actual_date;  // when the report was begun
  std::size_t report_sessions = 0;
  std::size_t report_messages = 0;
  std::size_t report_not_understood = 0;
};

// Fills a battle's log, its sinkings' rows in it and its runs of failures
// from its events. BuildAfterAction does it for every battle.
void ArrangeLog(Battle& battle);

// The battles in the files that were read; nullptr for a file not found.
AfterAction BuildAfterAction(const JournalRead* journal, const ReportRead* report);

// The same, taking the journal's texts rather than copying them: a long
// journal is then held once, not twice, while the page is made.
AfterAction BuildAfterActionFrom(std::optional<JournalRead>&& journal, const ReportRead* report);

}  // namespace tarveld::aar
