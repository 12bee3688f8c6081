#include "plugin/journal.h"

#include "platform/platform.h"
#include "plugin/game_calendar.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"
#include "report/exceptions.h"
#include "report/format_values.h"

namespace tarveld {
namespace {

namespace layout = journal_format;

void AppendPadded(std::string& out, std::string_view field, std::size_t width) {
  out.append(field);
  if (field.size() < width)
    out.append(width - field.size(), ' ');
}

// Appends `text` with each line break, CR LF counted as one, turned into
// one space: the rule the report applies to its values.
void AppendFlattened(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    out += ' ';
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
  }
}

}  // namespace

std::string JournalDate(const GameDateRec* start, std::int32_t game_time) {
  if (start == nullptr)
    return std::string(layout::kNoStartDate);
  return FormatGameDate(AdvanceGameDate(*start, game_time));
}

std::string ScenarioJournalText(const GameDateRec* start, std::string_view scenario) {
  std::string text(layout::kScenarioStart);
  text += start != nullptr ? FormatGameDate(*start) : std::string(layout::kNoScenarioStart);
  text += layout::kScenarioName;
  text += scenario;
  return text;
}

std::string JournalLine(std::string_view date, std::int32_t game_time, JournalEvent event,
                        std::string_view text) {
  const std::string time =
      FormatValues(layout::kGameTimePattern, {FormatValue::Integer(game_time)});
  std::string line;
  line.reserve(layout::kDateWidth + time.size() + layout::kWordWidth +
               3 * layout::kSeparator.size() + text.size());
  AppendPadded(line, date, layout::kDateWidth);
  line += layout::kSeparator;
  line += time;
  line += layout::kSeparator;
  AppendPadded(line, JournalWord(event), layout::kWordWidth);
  line += layout::kSeparator;
  AppendFlattened(line, text);
  return line;
}

std::string JournalPath() {
  return PathBesideHost(kJournalFileName);
}

namespace {

// What the journal's failure texts add after the path.
std::string SystemErrorCause(const platform::IoResult& result) {
  return " (system error " + std::to_string(result.os_error) + ")";
}

// Appends `line` to the journal at `path`, or throws what failed.
void AppendOrThrow(const std::string& path, std::string_view line) {
  const platform::IoResult result = platform::Current().AppendLine(path, line);
  if (result.ok())
    return;
  const std::string cause = SystemErrorCause(result);
  if (result.status == platform::IoStatus::kWriteFailed)
    throw EWriteError("Unable to append to file \"" + path + "\"" + cause, result.os_error);
  throw EFCreateError("Unable to open file \"" + path + "\" for appending" + cause,
                      result.os_error);
}

}  // namespace

void AppendToJournal(std::string_view line) {
  const std::string path = JournalPath();
  AppendOrThrow(path, line);
  Writer().RequestFlush(path);
}

void JournalScenario(const GameDateRec* start_date, std::int32_t game_time,
                     std::string_view scenario) {
  AppendToJournal(JournalLine(JournalDate(start_date, game_time), game_time,
                              JournalEvent::kScenario, ScenarioJournalText(start_date, scenario)));
}

namespace {

const GameDateRec* StartCopy(const PluginSession& session) {
  return session.StartDateCopy ? &*session.StartDateCopy : nullptr;
}

}  // namespace

void JournalMessage(const PluginSession& session, const char* message) {
  AppendToJournal(JournalLine(JournalDate(StartCopy(session), session.GameClock), session.GameClock,
                              JournalEvent::kMessage,
                              message != nullptr ? std::string_view(message) : std::string_view()));
}

void JournalTimeFactor(const PluginSession& session) {
  AppendToJournal(JournalLine(JournalDate(StartCopy(session), session.GameClock), session.GameClock,
                              JournalEvent::kTimeFactor, session.TimeFactorText));
}

void JournalFailure(const PluginSession& session, std::string_view text) {
  AppendOrThrow(JournalPath(), JournalLine(JournalDate(StartCopy(session), session.GameClock),
                                           session.GameClock, JournalEvent::kFailure, text));
}

// The date of a sinking is the one the sinking itself computed; it is empty
// only when there was no start record.
void JournalSinking(const PluginSession& session) {
  AppendToJournal(JournalLine(
      session.SinkDateText.empty() ? layout::kNoStartDate : std::string_view(session.SinkDateText),
      session.GameClock, JournalEvent::kSinking, session.SinkText));
}

}  // namespace tarveld
