// Reading the report, Tarveld.txt, through the project's own INI store:
// when the record was begun, every scenario start, and the messages its
// "log" keeps (the latest one per game time, over all plays).
//
// A report in a layout of its own (keys missing, renamed or added, a "log"
// keyed by anything but game times) gives what it can: whatever is not
// understood is counted, not guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/ini_text.h"

namespace tarveld::aar {

// One scenario start: the three "Session Start" keys a scenario load adds.
struct ReportSession {
  std::string start_date;                 // "Game Date" as written; empty when missing
  std::optional<std::int64_t> game_time;  // "Game Time", when a number
  std::string scenario;                   // "Scenario"
};

struct ReportMessage {
  std::int64_t game_time = 0;
  std::string text;
};

struct ReportRead {
  std::string actual_date;  // "Initial Start"'s "Actual Date": the player's local time
  std::vector<ReportSession> sessions;
  std::vector<ReportMessage> messages;  // ordered by game time
  std::size_t not_understood = 0;       // keys and sections the reader left out
};

// What the store's model of a report holds. A new session begins at a
// "Game Date", "Game Time" or "Scenario" key that the session at hand
// already has, so a start with a key missing still counts once. Comments
// are passed over.
ReportRead ReadReportSections(const TIniFileSectionList& sections);

// Opens the report at `path` with the INI store and reads it. Throws the
// store's EFOpenError when the file exists but cannot be read.
ReportRead ReadReportFile(const std::string& path);

}  // namespace tarveld::aar
