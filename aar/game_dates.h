// Game dates as the files write them, "1942-06-04 04:31:00", and the few
// sums the page needs on them: seconds to place events on a time axis, a
// date carried forward by a game time, and texts for spans and counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "plugin/game_calendar.h"  // GameTimeOrigin, the plug-in's own

namespace tarveld::aar {

// True when `text` has the shape the plug-in writes a date in: a year of at
// least four digits (a minus sign allowed before it), then "-MM-DD HH:MM:SS"
// with two digits each. Nothing is range-checked.
bool IsDateShaped(std::string_view text);

// Seconds from 1899-12-30 00:00:00 to the date in `text`; nothing when
// `text` is not date-shaped, names no real day (month 1-12, day within
// it, hour 0-23, minute and second 0-59) or its year is beyond ±10^9.
// "0000-00-00 00:00:00", what the report records without a start date, is
// no real day.
std::optional<std::int64_t> DateSeconds(std::string_view text);

// "YYYY-MM-DD HH:MM:SS" for seconds from 1899-12-30 00:00:00.
std::string DateText(std::int64_t seconds);

// The date a game time stands for: the start date carried forward by
// game_time - GameTimeOrigin seconds, the start itself at or below the
// origin. The plug-in computes its journal dates the same way.
std::int64_t CarryForward(std::int64_t start_seconds, std::int64_t game_time);

// The whole of `text` as a signed decimal number of at most eighteen digits,
// which always fits 64 bits; a leading '+' is read only when `plus_allowed`.
std::optional<std::int64_t> ReadDecimal(std::string_view text, bool plus_allowed);

// A span of game time for a reader: "5 h 52 min 15 s", "2 d 3 h", "0 s".
std::string SpanText(std::int64_t seconds);

// A count with thousands separated by commas: "5,012".
std::string CountText(std::size_t count);

}  // namespace tarveld::aar
