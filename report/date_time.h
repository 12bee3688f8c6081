// Clock readings into text. A date-time value is a double: its whole part
// counts days since 1899-12-30 (day 0) in the proleptic Gregorian calendar,
// its fraction is the elapsed part of the day.
#pragma once

#include <string>
#include <string_view>

#include "report/format_settings.h"

namespace tarveld {

using TDateTime = double;

// The date-time value of a calendar date and time of day.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

// The present local date and time.
TDateTime LocalNow();

// Renders `value` by a date-time pattern ("c", "yyyy-mm-dd hh:nn:ss", ...).
// The result holds at most 255 characters. Raises EConvertError for an "a"
// that begins no AM/PM element.
std::string RenderDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings);

// The short date, then (unless the time is 00:00:00) a space and the long
// time, in the process's regional settings.
std::string DateTimeText(TDateTime value);

}  // namespace tarveld
