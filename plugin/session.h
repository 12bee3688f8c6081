// The plug-in's one process-wide state and the work behind each entry point.
//
// The functions here do what the entry points promise and report failures
// as exceptions; entry_points.cpp is the boundary that catches them. The
// report's store is the report writer's (report_writer.h): the work here
// describes each change of the report and hands it over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "plugin/file_names.h"
#include "plugin/game_date.h"

namespace tarveld {

inline constexpr std::uint16_t kMajorVersion = 1;   // DLLVer
inline constexpr std::uint16_t kMinorVersion = 11;  // DLLVerInt
inline constexpr char kDescription[] = "data collection for After Action Reports";

struct PluginSession {
  std::int32_t GameClock = 0;              // game seconds; GameTimeOrigin stands for the start date
  std::int32_t ClockAux = 0;               // the host's second clock value; kept, never read
  const GameDateRec* StartDate = nullptr;  // the host's record, not a copy
  GameDateRec CurrentDate{};
  // The host's start record as last read, in ScenLoad and at every
  // UnitSink, the calls in which the host keeps it readable; the journal
  // dates its other lines from this copy. None without a record.
  std::optional<GameDateRec> StartDateCopy;
  std::string SinkText;
  std::string SinkDateText;
  std::string TimeFactorText;
  std::string LogKey;
};

// `date` as the report and the journal write it, "1942-06-04 04:30:00":
// Year, Month, Day, Hour, Minute and Second zero-padded, wider values kept
// whole.
std::string FormatGameDate(const GameDateRec& date);

// The session of this loaded module: zeroed at load, never reset.
PluginSession& Session();

// `file_name` in the directory of the host's executable, composed afresh
// from the platform on every call.
std::string PathBesideHost(std::string_view file_name);

// "Tarveld.txt" beside the host's executable.
std::string ReportPath();

// The name a scenario is recorded under: `scenario_name` when
// `scenario_number` is -1, otherwise `series_name` "/Scen#" number + 1. A
// null text counts as empty.
std::string ScenarioText(std::int16_t scenario_number, const char* scenario_name,
                         const char* series_name);

// Begins the report with its "Initial Start" section when there is none.
void BeginReport(PluginSession& session);

void SetGameTime(PluginSession& session, std::int32_t game_time, std::int32_t second_value);

// Records a scenario start in "Session Start". `scenario_number` is -1 for
// a scenario without a number, whose name is `scenario_name`; otherwise the
// entry reads `series_name` "/Scen#" number + 1. A null text counts as
// empty; a null `start_date` records all-zero dates.
void LoadScenario(PluginSession& session, std::int16_t scenario_number, const char* scenario_name,
                  const char* series_name, std::int32_t game_time, std::int32_t second_value,
                  const GameDateRec* start_date);

// Records a host message in "log" under the current game time.
void LogMessage(PluginSession& session, const char* message);

}  // namespace tarveld
