#include "plugin/session.h"

#include "platform/directory_part.h"
#include "platform/platform.h"
#include "plugin/report_writer.h"
#include "report/date_time.h"
#include "report/format_values.h"

namespace tarveld {
namespace {

std::string TextOf(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

// " 1942-06-04 04:30:00": the leading blank is part of the value as handed
// over, so the line is written "Game Date = 1942-..." by the write that adds it.
std::string GameDateValue(const GameDateRec& date) {
  return " " + FormatGameDate(date);
}

}  // namespace

std::string ScenarioText(std::int16_t scenario_number, const char* scenario_name,
                         const char* series_name) {
  if (scenario_number == -1)
    return TextOf(scenario_name);
  // Numbers count from 0 in the host and from 1 in the report.
  return TextOf(series_name) + "/Scen#" + IntegerText(std::int32_t{scenario_number} + 1);
}

std::string FormatGameDate(const GameDateRec& date) {
  return FormatValues("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d",
                      {FormatValue::Integer(date.Year), FormatValue::Integer(date.Month),
                       FormatValue::Integer(date.Day), FormatValue::Integer(date.Hour),
                       FormatValue::Integer(date.Minute), FormatValue::Integer(date.Second)});
}

PluginSession& Session() {
  static PluginSession session;
  return session;
}

std::string PathBesideHost(std::string_view file_name) {
  std::string path = platform::DirectoryPart(platform::Current().ExecutablePath());
  path += file_name;
  return path;
}

std::string ReportPath() {
  return PathBesideHost(kReportFileName);
}

void BeginReport(PluginSession&) {
  // A GUI framework would initialise its application object here. Nothing of
  // it is visible to the host or in the report, so there is nothing to do.
  // Whether the report exists is the writer's question: it alone knows
  // what is on its way to the disk.
  Writer().Begin(ReportPath(), " " + DateTimeText(LocalNow()));
}

void SetGameTime(PluginSession& session, std::int32_t game_time, std::int32_t second_value) {
  session.GameClock = game_time;
  session.ClockAux = second_value;
}

void LoadScenario(PluginSession& session, std::int16_t scenario_number, const char* scenario_name,
                  const char* series_name, std::int32_t game_time, std::int32_t second_value,
                  const GameDateRec* start_date) {
  session.GameClock = game_time;
  session.ClockAux = second_value;
  session.StartDate = start_date;
  // Without a record there is no date to copy; all zeros is what is then
  // recorded, rather than reading through a null reference.
  session.CurrentDate = start_date != nullptr ? *start_date : GameDateRec{};
  session.StartDateCopy.reset();
  if (start_date != nullptr)
    session.StartDateCopy = *start_date;

  // Opening may fail; the previous store then stays the current one, and
  // the writer drops this call's three entries. The new store starts from
  // the newest report, written or still on its way.
  const std::string path = ReportPath();
  Writer().Open(path);
  Writer().Put(path, "Session Start", "Game Date ", GameDateValue(session.CurrentDate));
  Writer().Put(path, "Session Start", "Game Time ", IntegerText(session.GameClock));
  Writer().Put(path, "Session Start", "Scenario ",
               ScenarioText(scenario_number, scenario_name, series_name));
}

void LogMessage(PluginSession& session, const char* message) {
  session.LogKey = IntegerText(session.GameClock);
  Writer().Put(ReportPath(), "log", session.LogKey, TextOf(message));
}

}  // namespace tarveld
