// Clock readings into text. A date-time value is a double: its whole part
// counts days since 1899-12-30 (day 0) in the proleptic Gregorian calendar,
// its fraction is the elapsed part of the day.
#pragma once

#include <string>
#include <string_view>

#include "report/format_settings.h"

namespace tarveld {

using TDateTime = double;

// The date-time value of a calendar date and time of day. Preconditions:
// month 1..12, day within the month. Before 1899-12-30 the time of day is
// subtracted from the day number, so that the value decodes to the same
// date and time (decoding reads the magnitude of the fraction).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

// The present local date and time: the clock's day number plus the elapsed
// part of the day.
TDateTime LocalNow();

// Renders `value` by a date-time pattern ("c", "yyyy-mm-dd hh:nn:ss", ...);
// an empty pattern counts as "C". Patterns that elements bring in from
// `settings` ("c", "t", "tt", "ddddd", "dddddd") are rendered one level
// deep: inside them those elements bring in nothing more (a "c" there
// still gives its space before the absent time).
//
// The result holds at most 255 characters: each element's text (of the
// pattern given or of one brought in; each letter of a run without an
// element of its own) is added whole when it fits and left out when it
// does not, and later texts that fit are still added.
//
// Values outside 0001-01-01 .. day 2^53 show year, month and day as 0;
// NaN and infinities show every field as 0. Raises EConvertError for an
// "a" that begins no AM/PM element.
std::string RenderDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings);

// The short date, then (unless the time is 00:00:00) a space and the long
// time, in the process's regional settings.
std::string DateTimeText(TDateTime value);

}  // namespace tarveld
