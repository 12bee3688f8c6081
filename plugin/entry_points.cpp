// The exported entry points: the boundary between the host and the plug-in.
//
// No exception may reach the host: an exception unwinding into a C caller
// ends the game. Each entry point runs its work inside Guarded(), which
// catches everything, names the failure on the platform's debug output and
// returns; whatever the work did before it failed stays done.
//
// The journal line of an event is a guarded piece of work of its own,
// before the report's: a report that cannot be written never costs the
// journal its line, and a journal that cannot be written never touches the
// report. Coming first, the line is appended before the report text it
// goes with is handed to the writer, which flushes the journal before it
// renames that text into place: the report on disk never shows an event
// that the journal on disk lacks.
//
// The disk work itself is the report writer's (report_writer.h): an entry
// point changes memory, appends its journal line and returns. Failures of
// the writes it handed over are named later, by the writer, after the
// entry point whose work it was, and told in the journal by the next call
// that appends a line (failure_notices.h).
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "plugin/event_texts.h"
#include "plugin/exports.h"
#include "plugin/failure_notices.h"
#include "plugin/journal.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"
#include "report/exceptions.h"

namespace {

void Report(const char* entry_point, const std::string& failure) {
  try {
    tarveld::platform::Current().DebugOutput(std::string(entry_point) + ": " + failure);
  } catch (...) {
    // Nothing is left to tell it with; the host must still carry on.
  }
}

// True when `work` ran to its end.
template <typename Work>
bool Guarded(const char* entry_point, Work&& work) noexcept {
  try {
    tarveld::Writer().SetCaller(entry_point);
    work();
    return true;
  } catch (const tarveld::Exception& failure) {
    Report(entry_point, tarveld::ClassAndMessage(failure));
  } catch (const std::bad_alloc&) {
    Report(entry_point, "out of memory");
  } catch (const std::exception& failure) {
    Report(entry_point, failure.what());
  } catch (...) {
    Report(entry_point, "unknown failure");
  }
  return false;
}

// The writer's failures due for the journal, each on a line of its own
// before the call's event, dated as that event is. Only the calls that
// append a line take them: they land in the battle being played when they
// were found, GameTime (the call the host makes most) stays in memory, and
// a call costs one append per line due (rarely more than one, never a
// flush: the event's line asks for that). Each line is guarded by itself:
// one that cannot be appended is named as the event's would be and
// dropped, and costs the event nothing.
void JournalDueFailures(const char* entry_point) noexcept {
  const std::vector<std::string> due = tarveld::Notices().TakeDue();
  for (const std::string& text : due)
    Guarded(entry_point, [&] { tarveld::JournalFailure(tarveld::Session(), text); });
}

// The low 16 or 8 bits of an argument slot: all the host's narrow arguments
// carry, whatever the rest of the slot holds.
std::int16_t Low16(std::uint32_t slot) {
  return static_cast<std::int16_t>(slot & 0xFFFFu);
}
std::uint8_t Low8(std::uint32_t slot) {
  return static_cast<std::uint8_t>(slot & 0xFFu);
}

}  // namespace

extern "C" {

std::uint16_t TARVELD_CDECL DLLVer(void) {
  return tarveld::kMajorVersion;
}

std::uint16_t TARVELD_CDECL DLLVerInt(void) {
  return tarveld::kMinorVersion;
}

const char* TARVELD_CDECL DLLDesc(void) {
  return tarveld::kDescription;
}

void TARVELD_CDECL DLLInit(std::uint32_t /*unused*/) {
  Guarded("DLLInit", [] {
    tarveld::Writer().Resume();
    tarveld::BeginReport(tarveld::Session());
  });
}

// Returns once everything handed to the writer is on disk and its thread
// has ended, or after ReportWriter::kFinishTimeoutMs of a failing disk,
// naming what is not written. A host may still call after it, and may
// exit at once after that call: until the next DLLInit each write is made
// inside its call, and no thread is started.
void TARVELD_CDECL DLLFree(void) {
  Guarded("DLLFree", [] {
    tarveld::Writer().Finish();
    tarveld::Writer().StayOnCallerThread();
  });
}

void TARVELD_CDECL GameTime(std::int32_t game_time, std::int32_t second_value) {
  tarveld::SetGameTime(tarveld::Session(), game_time, second_value);
}

void TARVELD_CDECL ScenLoad(std::uint32_t /*unused1*/, std::uint32_t scenario_number,
                            const char* scenario_name, std::uint32_t /*unused4*/,
                            const char* series_name, std::uint32_t /*unused6*/,
                            std::int32_t game_time, std::int32_t second_value,
                            const tarveld::GameDateRec* start_date) {
  JournalDueFailures("ScenLoad: journal");
  Guarded("ScenLoad: journal", [&] {
    tarveld::JournalScenario(
        start_date, game_time,
        tarveld::ScenarioText(Low16(scenario_number), scenario_name, series_name));
  });
  Guarded("ScenLoad", [&] {
    tarveld::LoadScenario(tarveld::Session(), Low16(scenario_number), scenario_name, series_name,
                          game_time, second_value, start_date);
  });
}

// The line is dated from the session as the previous calls left it; the
// report's write changes nothing of it but the log key.
void TARVELD_CDECL MsgLog(const char* message) {
  JournalDueFailures("MsgLog: journal");
  Guarded("MsgLog: journal", [&] { tarveld::JournalMessage(tarveld::Session(), message); });
  Guarded("MsgLog", [&] { tarveld::LogMessage(tarveld::Session(), message); });
}

// The journal records the texts these events composed, so only an event
// whose text was composed gets a line: never a stale one of an earlier event.
void TARVELD_CDECL TimeFactor(std::int32_t time_factor) {
  JournalDueFailures("TimeFactor: journal");
  if (Guarded("TimeFactor", [&] { tarveld::ChangeTimeFactor(tarveld::Session(), time_factor); })) {
    Guarded("TimeFactor: journal", [] { tarveld::JournalTimeFactor(tarveld::Session()); });
  }
}

void TARVELD_CDECL UnitSink(std::uint32_t unit, const char* group) {
  JournalDueFailures("UnitSink: journal");
  if (Guarded("UnitSink", [&] { tarveld::SinkUnit(tarveld::Session(), Low8(unit), group); })) {
    Guarded("UnitSink: journal", [] { tarveld::JournalSinking(tarveld::Session()); });
  }
}

}  // extern "C"
