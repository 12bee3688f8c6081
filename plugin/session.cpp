#include "plugin/session.h"

#include "platform/platform.h"
#include "plugin/report_writer.h"
#include "report/date_time.h"
#include "report/format_values.h"

namespace tarveld {
namespace {

// A store on the report whose rewrites go to the report writer.
std::unique_ptr<TIniFile> OpenReport(const std::string& path) {
  return std::make_unique<TIniFile>(path, false, Writer());
}

std::string TextOf(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

// " 1942-06-04 04:30:00": the leading blank is part of the value as handed
// over, so the line is written "Game Date = 1942-..." by the write that adds it.
std::string GameDateValue(const GameDateRec& date) {
  return FormatGameDate(" %4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", date);
}

}  // namespace

std::string ScenarioText(std::int16_t scenario_number, const char* scenario_name,
                         const char* series_name) {
  if (scenario_number == -1)
    return TextOf(scenario_name);
  // Numbers count from 0 in the host and from 1 in the report.
  return TextOf(series_name) + "/Scen#" + IntegerText(std::int32_t{scenario_number} + 1);
}

std::string FormatGameDate(std::string_view pattern, const GameDateRec& date) {
  return FormatValues(pattern,
                      {FormatValue::Integer(date.Year), FormatValue::Integer(date.Month),
                       FormatValue::Integer(date.Day), FormatValue::Integer(date.Hour),
                       FormatValue::Integer(date.Minute), FormatValue::Integer(date.Second)});
}

PluginSession& Session() {
  static PluginSession session;
  return session;
}

std::string PathBesideHost(std::string_view file_name) {
  std::string path = platform::Current().ExecutablePath();
  // Keep the directory with its final separator, whichever kind it is.
  const auto separator = path.find_last_of("\\/:");
  path.erase(separator == std::string::npos ? 0 : separator + 1);
  return path.append(file_name);
}

std::string ReportPath() {
  return PathBesideHost(kReportFileName);
}

void BeginReport(PluginSession& session) {
  // A GUI framework would initialise its application object here. Nothing of
  // it is visible to the host or in the report, so there is nothing to do.
  const std::string path = ReportPath();
  // A report handed to the writer exists, even before it reaches the disk.
  // The writer is asked first: asked second, it could land its text just
  // after the disk said "no file", and both would say no.
  if (Writer().HoldsTextFor(path) || platform::Current().IsExistingFile(path))
    return;
  session.Report = OpenReport(path);
  session.Report->PutText("Initial Start", "Actual Date ", " " + DateTimeText(LocalNow()));
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

  // Opening may fail; the previous store then stays the session's. The new
  // store starts from the newest report, written or still with the writer.
  auto store = OpenReport(ReportPath());
  session.Report = std::move(store);

  session.Report->PutText("Session Start", "Game Date ", GameDateValue(session.CurrentDate));
  session.Report->PutInteger("Session Start", "Game Time ", session.GameClock);
  session.Report->PutText("Session Start", "Scenario ",
                          ScenarioText(scenario_number, scenario_name, series_name));
}

void LogMessage(PluginSession& session, const char* message) {
  session.LogKey = IntegerText(session.GameClock);
  // A report that existed at DLLInit gets no store until a scenario loads;
  // open one now rather than lose the message.
  if (!session.Report)
    session.Report = OpenReport(ReportPath());
  session.Report->PutText("log", session.LogKey, TextOf(message));
}

}  // namespace tarveld
