// The layout of a journal line, which the plug-in writes (journal.cpp) and
// the after-action page reads back (aar/journal_reader.cpp). Both take it
// from here, so a change to the layout cannot reach one side only.
//
//   1942-06-04 04:33:03 | 00100183 | SINKING    | 00100183: GroupID=Escort 2, UnitID=03, Sinking
//
// The date field, padded to kDateWidth; the game time, at least
// kGameTimeDigits digits; the event's word, padded to kWordWidth; the
// text. Wider values are kept whole. This header holds no state and pulls
// in nothing of the session.
#pragma once

#include <cstddef>
#include <string_view>

#include "plugin/file_names.h"

namespace tarveld {

// kFailure: a write of the report or a flush of the journal that failed,
// or worked again after failing (failure_notices.h).
enum class JournalEvent { kScenario, kMessage, kTimeFactor, kSinking, kFailure };

namespace journal_format {

inline constexpr std::string_view kSeparator = " | ";
// A date of a four-digit year, "1942-06-04 04:33:03".
inline constexpr std::size_t kDateWidth = 19;
// The longest event word, "TIMEFACTOR".
inline constexpr std::size_t kWordWidth = 10;
// The game time is written "%8.8d": zero-padded to eight digits, a minus
// sign before them when negative.
inline constexpr char kGameTimePattern[] = "%8.8d";
inline constexpr std::size_t kGameTimeDigits = 8;
// The date field of a line written without a start record.
inline constexpr std::string_view kNoStartDate = "no start date";

// A SCENARIO line's text: "Start=1942-06-04 04:30:00, Scenario=Convoy/Scen#3",
// or "Start=none, ..." without a start record.
inline constexpr std::string_view kScenarioStart = "Start=";
inline constexpr std::string_view kScenarioName = ", Scenario=";
inline constexpr std::string_view kNoScenarioStart = "none";

struct EventWord {
  JournalEvent event;
  std::string_view word;
};

inline constexpr EventWord kEventWords[] = {{JournalEvent::kScenario, "SCENARIO"},
                                            {JournalEvent::kMessage, "MESSAGE"},
                                            {JournalEvent::kTimeFactor, "TIMEFACTOR"},
                                            {JournalEvent::kSinking, "SINKING"},
                                            {JournalEvent::kFailure, "FAILURE"}};

}  // namespace journal_format

// "SCENARIO", "MESSAGE", "TIMEFACTOR", "SINKING", "FAILURE"; "EVENT" for a
// value outside the enumeration.
constexpr std::string_view JournalWord(JournalEvent event) {
  for (const journal_format::EventWord& known : journal_format::kEventWords) {
    if (known.event == event)
      return known.word;
  }
  return "EVENT";
}

static_assert(JournalWord(JournalEvent::kTimeFactor).size() == journal_format::kWordWidth);

}  // namespace tarveld
