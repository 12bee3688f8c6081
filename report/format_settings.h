// The user's regional settings, as date-time rendering reads them.
#pragma once

#include <array>
#include <string>

namespace tarveld {

// Index 1 = January .. 12 = December; index 0 is unused.
using TMonthNameArray = std::array<std::string, 13>;
// Index 1 = Sunday .. 7 = Saturday; index 0 is unused.
using TWeekNameArray = std::array<std::string, 8>;

struct TFormatSettings {
  char DateSeparatorChar = '/';
  char TimeSeparatorChar = ':';
  std::string ShortDatePattern = "m/d/yy";
  std::string LongDatePattern = "mmmm d, yyyy";
  std::string AmText = "AM";
  std::string PmText = "PM";
  std::string ShortTimePattern = "h:nn";
  std::string LongTimePattern = "h:nn:ss";
  TMonthNameArray MonthAbbreviations = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  TMonthNameArray MonthNames = {"",        "January",  "February", "March",  "April",
                                "May",     "June",     "July",     "August", "September",
                                "October", "November", "December"};
  TWeekNameArray DayAbbreviations = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  TWeekNameArray DayNames = {"",          "Sunday",   "Monday", "Tuesday",
                             "Wednesday", "Thursday", "Friday", "Saturday"};

  // Number, currency and list settings: read at load with the rest, used by
  // nothing this plug-in renders.
  std::string CurrencyString = "$";
  int CurrencyFormat = 0;
  int NegCurrFormat = 0;
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  int CurrencyDecimals = 2;
  char ListSeparator = ',';
  int TwoDigitYearCenturyWindow = 50;
};

// Fills `settings` from the platform's locale items (the user's default
// locale, which becomes the calling thread's). An item that cannot be read
// or does not fit its buffer takes its default: for the month and day names
// and the number, currency and list settings, the value `settings` already
// holds; for the separators, date patterns and AM/PM texts, the values the
// record is constructed with. The time patterns are "h:nn" and "h:nn:ss",
// or "hh:..." when the hour-leading-zero item reads as a non-zero number.
void LoadFormatSettings(TFormatSettings& settings);

// The process-wide settings, filled once when the module loads and only
// read afterwards (tests may assign them).
TFormatSettings& ProcessFormatSettings();

}  // namespace tarveld
