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

struct Battle {
  bool has_scenario = true;  // false: events before any scenario started
  std::string scenario;
  int play = 1;            // 2 for the second battle of the same scenario, ...
  std::string start_date;  // as the files give it; empty for none
  Moment start;            // the scenario start; the first event without one
  std::vector<Message> messages;
  std::vector<Sinking> sinkings;
  std::vector<TimeFactorChange> time_factors;
  Moment first, last;  // the earliest and latest moment, by game time

  bool HasEvents() const { return !messages.empty() || !sinkings.empty() || !time_factors.empty(); }

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
  }
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

// The battles in the files that were read; nullptr for a file not found.
AfterAction BuildAfterAction(const JournalRead* journal, const ReportRead* report);

}  // namespace tarveld::aar
