// The host's date record, exactly as the host lays it out in memory.
#pragma once

#include <cstdint>

namespace tarveld {

// Seven consecutive 32-bit signed little-endian integers, 28 bytes, no gaps.
// The host owns it; the plug-in copies it and reads it, never writes it.
struct GameDateRec {
  std::int32_t Year;
  std::int32_t Month;   // 1..12
  std::int32_t Day;     // from 1
  std::int32_t Hour;    // 0..23
  std::int32_t Minute;  // 0..59
  std::int32_t Second;  // 0..59
  std::int32_t Extra;   // the host's own value, carried through unchanged

  friend bool operator==(const GameDateRec&, const GameDateRec&) = default;
};

static_assert(sizeof(GameDateRec) == 28, "the host passes a 28-byte record");

}  // namespace tarveld
