// A stand-in plug-in for testing the host: every entry point prints what it
// received, raw slots in hex, so a test sees exactly what the host passed.
// Built twice: complete, and with TARVELD_PROBE_PARTIAL lacking MsgLog and
// UnitSink, as an older or broken library would.
#include <cinttypes>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "plugin/exports.h"

namespace {

const tarveld::GameDateRec* start_date = nullptr;

void PrintText(const char* label, const char* text) {
  if (text == nullptr) {
    std::printf(" %s=null", label);
    return;
  }
  std::printf(" %s=[", label);
  for (const char* p = text; *p != '\0'; ++p)
    std::printf("%02X", static_cast<unsigned char>(*p));
  std::printf("]");
}

void PrintRecord(const tarveld::GameDateRec* record) {
  if (record == nullptr) {
    std::printf(" record=null");
    return;
  }
  std::printf(" record=%" PRId32 "-%" PRId32 "-%" PRId32 " %" PRId32 ":%" PRId32 ":%" PRId32
              " extra %" PRId32,
              record->Year, record->Month, record->Day, record->Hour, record->Minute,
              record->Second, record->Extra);
}

void End() {
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

extern "C" {

TARVELD_EXPORT std::uint16_t TARVELD_CDECL DLLVer(void) {
  return 7;
}
TARVELD_EXPORT std::uint16_t TARVELD_CDECL DLLVerInt(void) {
  return 65535;
}
TARVELD_EXPORT const char* TARVELD_CDECL DLLDesc(void) {
  return "probe \"desc\"\t\x01";
}

TARVELD_EXPORT void TARVELD_CDECL DLLInit(std::uint32_t unused) {
  std::printf("probe: DLLInit %08" PRIX32, unused);
  End();
}

TARVELD_EXPORT void TARVELD_CDECL DLLFree(void) {
  std::printf("probe: DLLFree");
  End();
}

TARVELD_EXPORT void TARVELD_CDECL GameTime(std::int32_t game_time, std::int32_t second_value) {
  std::printf("probe: GameTime %08" PRIX32 " %08" PRIX32, static_cast<std::uint32_t>(game_time),
              static_cast<std::uint32_t>(second_value));
  End();
}

TARVELD_EXPORT void TARVELD_CDECL ScenLoad(std::uint32_t unused1, std::uint32_t scenario_number,
                                           const char* scenario_name, std::uint32_t unused4,
                                           const char* series_name, std::uint32_t unused6,
                                           std::int32_t game_time, std::int32_t second_value,
                                           const tarveld::GameDateRec* start) {
  start_date = start;
  std::printf("probe: ScenLoad %08" PRIX32 " %08" PRIX32, unused1, scenario_number);
  PrintText("name", scenario_name);
  std::printf(" %08" PRIX32, unused4);
  PrintText("series", series_name);
  std::printf(" %08" PRIX32 " %08" PRIX32 " %08" PRIX32, unused6,
              static_cast<std::uint32_t>(game_time), static_cast<std::uint32_t>(second_value));
  PrintRecord(start);
  End();
}

TARVELD_EXPORT void TARVELD_CDECL TimeFactor(std::int32_t time_factor) {
  std::printf("probe: TimeFactor %08" PRIX32, static_cast<std::uint32_t>(time_factor));
  End();
}

#if !defined(TARVELD_PROBE_PARTIAL)

TARVELD_EXPORT void TARVELD_CDECL MsgLog(const char* message) {
  // A message "throw" makes the call end by an exception, as a failing
  // report write does in the real plug-in.
  if (message != nullptr && std::string(message) == "throw") {
    throw std::runtime_error("probe failure");
  }
  std::printf("probe: MsgLog");
  PrintText("message", message);
  End();
}

// Reads the start record through the pointer kept from ScenLoad, as the
// real plug-in does at every sinking.
TARVELD_EXPORT void TARVELD_CDECL UnitSink(std::uint32_t unit_number, const char* group) {
  std::printf("probe: UnitSink %08" PRIX32, unit_number);
  PrintText("group", group);
  PrintRecord(start_date);
  End();
}

#endif

}  // extern "C"
