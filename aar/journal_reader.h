// Reading the battle journal, Tarveld.log, one line at a time, in the
// layout the plug-in writes (plugin/journal_format.h, docs/journal.md):
//
//   1942-06-04 04:33:03 | 00100183 | SINKING    | 00100183: GroupID=Escort 2, UnitID=03, Sinking
//
// Every line is checked whole: a line that is not one the plug-in writes is
// skipped and counted, never half-read. That covers a last line cut short
// by a crash (no line break), a line cut short whose end the next write
// supplied (a SINKING, TIMEFACTOR or SCENARIO text that stops early), lines
// of an older layout and foreign text.
//
// FAILURE lines say when the plug-in could not write the report or flush
// the journal, and when it could again:
//
//   ... | FAILURE    | report: not written: the disk was full (EWriteError: ...)
//   ... | FAILURE    | report: written again
//   ... | FAILURE    | journal: not flushed: access was denied (EOSError: ...)
//   ... | FAILURE    | journal: flushed again
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/journal_format.h"

namespace tarveld::aar {

// The kinds of line, as the plug-in names them (journal_format.h).
using JournalKind = JournalEvent;

// What a FAILURE line is about.
enum class FailedFile { kReport, kJournal };

// One line the plug-in wrote. Texts keep the file's bytes.
struct JournalEntry {
  std::size_t line = 0;  // 1-based, counted in the file
  JournalKind kind = JournalKind::kMessage;
  std::string date;  // "1942-06-04 04:33:03"; empty for "no start date"
  std::int64_t game_time = 0;
  std::string text;              // kMessage: the message; kScenario: the scenario's name
  std::string start_date;        // kScenario: its Start=, empty for "none"
  std::string group;             // kSinking
  std::string unit;              // kSinking: the unit's number as written ("03")
  std::int64_t time_factor = 0;  // kTimeFactor
  // kFailure: the file, whether it works again (the "written again" and
  // "flushed again" lines), and for a failure the reason as the plug-in
  // names it ("the disk was full"); `text` keeps the whole line's text.
  FailedFile failed_file = FailedFile::kReport;
  bool recovered = false;
  std::string reason;
};

struct JournalRead {
  std::vector<JournalEntry> entries;  // in file order
  std::size_t lines = 0;              // lines in the file, empty ones included
  std::size_t skipped = 0;            // lines left out
  // The numbers of the first kSkippedLinesKept lines left out, for the page
  // to name them.
  std::vector<std::size_t> skipped_lines;
};

inline constexpr std::size_t kSkippedLinesKept = 10;

// Reads a whole journal. A UTF-8 byte-order mark at the start (an editor's)
// is passed over; lines may end in CR LF or LF alone; empty lines, which the
// plug-in may leave when it cannot tell how the file ended, are neither
// read nor counted as skipped.
JournalRead ReadJournal(std::string_view bytes);

// The entry that one line (without its line break) holds; false when the
// line is not one the plug-in writes.
bool ReadJournalLine(std::string_view line, JournalEntry& entry);

}  // namespace tarveld::aar
