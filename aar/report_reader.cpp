#include "aar/report_reader.h"

#include <algorithm>

#include "aar/game_dates.h"
#include "report/ini_file.h"

namespace tarveld::aar {
namespace {

void ReadSessionStart(const TIniFileSection& section, ReportRead& read) {
  // Which of the three keys the session at hand has seen.
  bool has_date = false, has_time = false, has_scenario = false;
  auto begin_if = [&](bool seen) {
    if (read.sessions.empty() || seen) {
      read.sessions.emplace_back();
      has_date = has_time = has_scenario = false;
    }
    return &read.sessions.back();
  };
  for (const auto& key : section.Keys) {
    if (IsComment(key->Name))
      continue;
    if (NamesMatch(key->Name, "Game Date")) {
      begin_if(has_date)->start_date = key->Value;
      has_date = true;
    } else if (NamesMatch(key->Name, "Game Time")) {
      ReportSession* session = begin_if(has_time);
      session->game_time = ReadDecimal(key->Value, true);
      if (!session->game_time)
        ++read.not_understood;
      has_time = true;
    } else if (NamesMatch(key->Name, "Scenario")) {
      begin_if(has_scenario)->scenario = key->Value;
      has_scenario = true;
    } else {
      ++read.not_understood;
    }
  }
}

}  // namespace

ReportRead ReadReportSections(const TIniFileSectionList& sections) {
  ReportRead read;
  for (const auto& section : sections) {
    if (NamesMatch(section->Name, "Initial Start")) {
      for (const auto& key : section->Keys) {
        if (IsComment(key->Name))
          continue;
        if (NamesMatch(key->Name, "Actual Date") && read.actual_date.empty())
          read.actual_date = key->Value;
        else
          ++read.not_understood;
      }
    } else if (NamesMatch(section->Name, "Session Start")) {
      ReadSessionStart(*section, read);
    } else if (NamesMatch(section->Name, "log")) {
      for (const auto& key : section->Keys) {
        if (IsComment(key->Name))
          continue;
        if (const auto game_time = ReadDecimal(key->Name, true))
          read.messages.push_back({*game_time, key->Value});
        else
          ++read.not_understood;
      }
    } else if (!IsComment(section->Name)) {
      // Comments are no content; any other section is one the plug-in
      // never writes.
      read.not_understood += 1 + section->Keys.size();
    }
  }
  std::stable_sort(
      read.messages.begin(), read.messages.end(),
      [](const ReportMessage& a, const ReportMessage& b) { return a.game_time < b.game_time; });
  return read;
}

ReportRead ReadReportFile(const std::string& path) {
  const TIniFile store(path);
  return ReadReportSections(store.Sections());
}

}  // namespace tarveld::aar
