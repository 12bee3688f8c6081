// The plug-in's exported interface: ten cdecl functions found by name.
//
// Every argument occupies one 32-bit slot on the 32-bit host. The 8- and
// 16-bit arguments are declared here as their full 32-bit slots and cut to
// their low bits inside, so nothing depends on whether a caller extended
// them; the stack layout is the same either way.
#pragma once

#include <cstdint>

#include "plugin/game_date.h"

#if defined(_WIN32)
#define TARVELD_CDECL __cdecl
#define TARVELD_EXPORT
#else
#define TARVELD_CDECL
#define TARVELD_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

TARVELD_EXPORT std::uint16_t TARVELD_CDECL DLLVer(void);
TARVELD_EXPORT std::uint16_t TARVELD_CDECL DLLVerInt(void);
TARVELD_EXPORT const char* TARVELD_CDECL DLLDesc(void);
TARVELD_EXPORT void TARVELD_CDECL DLLInit(std::uint32_t unused);
TARVELD_EXPORT void TARVELD_CDECL DLLFree(void);
TARVELD_EXPORT void TARVELD_CDECL GameTime(std::int32_t game_time, std::int32_t second_value);
// scenario_number: 16-bit signed in the low half of its slot; unused4 and
// unused6 are 8-bit arguments that the plug-in does not read.
TARVELD_EXPORT void TARVELD_CDECL ScenLoad(std::uint32_t unused1, std::uint32_t scenario_number,
                                           const char* scenario_name, std::uint32_t unused4,
                                           const char* series_name, std::uint32_t unused6,
                                           std::int32_t game_time, std::int32_t second_value,
                                           const tarveld::GameDateRec* start_date);
TARVELD_EXPORT void TARVELD_CDECL MsgLog(const char* message);
TARVELD_EXPORT void TARVELD_CDECL TimeFactor(std::int32_t time_factor);
// unit: 8-bit unsigned in the low bits of its slot.
TARVELD_EXPORT void TARVELD_CDECL UnitSink(std::uint32_t unit, const char* group);

}  // extern "C"
