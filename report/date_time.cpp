// Date-time values: encoding from a calendar date, the local clock, and
// rendering by a pattern.
//
// Rendering decodes the value once into a DecodedDateTime, then walks the
// pattern element by element (date_pattern.h) with a DateTimeWriter. The
// writer owns the result and its 255-character limit: every element's text
// is one piece, whether it comes from the pattern given or from a pattern
// of the settings that an element brings in ("c", "t", "ddddd", ...), and a
// piece that does not fit whole is left out. A letter run without an
// element of its own gives one piece per letter; the " " between the date
// and the time of "c" is a piece of its own.
#include "report/date_time.h"

#include <cmath>
#include <cstdint>

#include "platform/platform.h"
#include "report/ascii_case.h"
#include "report/calendar.h"
#include "report/date_pattern.h"
#include "report/exceptions.h"

namespace tarveld {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86400000;
constexpr std::size_t kMaxResultLength = 255;
constexpr int kMaxDepth = 2;

// Day numbers with a calendar date: from 0001-01-01 up to 2^53, beyond
// which a double no longer tells every day apart.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 9007199254740992.0;

// The fields a pattern can show. Year, month and day are 0 for a day
// outside [kFirstDay, kLastDay]; everything is 0 for NaN and infinities.
struct DecodedDateTime {
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  int weekday = 0;  // 1 = Sunday .. 7 = Saturday
  int hour = 0;     // 0..23; 24 only when the fraction rounds up to a whole day
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

DecodedDateTime Decode(TDateTime value) {
  DecodedDateTime t;
  if (!std::isfinite(value))
    return t;

  const double whole = std::trunc(value);
  const int rest = static_cast<int>(std::fmod(whole, 7.0));  // exact, (-7, 7)
  t.weekday = WeekdayOfDayNumber(rest);
  if (whole >= kFirstDay && whole <= kLastDay) {
    const CivilDate date = CivilFromDayNumber(static_cast<std::int64_t>(whole));
    t.year = date.year;
    t.month = date.month;
    t.day = date.day;
  }

  // Before day 0 the fraction counts backwards, so its magnitude is the
  // time of day. value - whole is exact.
  const double fraction = std::fabs(value - whole);
  const std::int64_t ms = std::llround(fraction * kMillisecondsPerDay);  // [0, 86400000]
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

std::string Digits(std::int64_t value, std::size_t min_digits) {
  std::string text = std::to_string(value);
  if (text.size() < min_digits)
    text.insert(0, min_digits - text.size(), '0');
  return text;
}

class DateTimeWriter {
 public:
  DateTimeWriter(const DecodedDateTime& t, const TFormatSettings& settings)
      : t_(t), settings_(settings) {}

  // Renders `pattern` at `depth`; with `time_flag` every "m" is a minute.
  void Render(std::string_view pattern, int depth, bool time_flag) {
    if (depth >= kMaxDepth)
      return;
    const bool twelve_hour = UsesTwelveHourClock(pattern);
    char previous = ' ';  // the letter of the last letter run, ' ' after a space run
    DateElement e;
    for (std::size_t pos = 0; pos < pattern.size();) {
      pos = ParseDateElement(pattern, pos, e);
      using Kind = DateElement::Kind;
      switch (e.kind) {
        case Kind::kLetters:
          RenderLetters(e, previous, depth, time_flag, twelve_hour);
          previous = e.letter;
          break;
        case Kind::kSpaces:
          Append(e.text);
          previous = ' ';
          break;
        case Kind::kQuoted:
        case Kind::kOther:
          Append(e.text);
          break;
        case Kind::kDateSeparator:
          Append(std::string_view(&settings_.DateSeparatorChar, 1));
          break;
        case Kind::kTimeSeparator:
          Append(std::string_view(&settings_.TimeSeparatorChar, 1));
          break;
        case Kind::kAmPmTexts:
          Append(IsMorning() ? settings_.AmText : settings_.PmText);
          break;
        case Kind::kAmPmPair:  // "am/pm": "am" or "pm" as written
          Append(IsMorning() ? e.text.substr(0, 2) : e.text.substr(3, 2));
          break;
        case Kind::kAPPair:  // "a/p": "a" or "p" as written
          Append(IsMorning() ? e.text.substr(0, 1) : e.text.substr(2, 1));
          break;
        case Kind::kIllegal:
          throw EConvertError("Illegal character in format string");
      }
    }
  }

  std::string Take() { return std::move(out_); }

 private:
  bool IsMorning() const { return t_.hour < 12; }

  // Adds `piece` whole when the result then stays within the limit.
  void Append(std::string_view piece) {
    if (out_.size() + piece.size() <= kMaxResultLength)
      out_.append(piece);
  }

  void AppendNumber(std::int64_t value, std::size_t min_digits) {
    Append(Digits(value, min_digits));
  }

  void RenderLetters(const DateElement& e, char previous, int depth, bool time_flag,
                     bool twelve_hour) {
    const std::size_t n = e.count;
    switch (e.letter) {
      case 'd':
        if (n <= 2) {
          AppendNumber(t_.day, n);
        } else if (n == 3) {
          Append(settings_.DayAbbreviations[t_.weekday]);
        } else if (n == 4) {
          Append(settings_.DayNames[t_.weekday]);
        } else {
          Render(n == 5 ? settings_.ShortDatePattern : settings_.LongDatePattern, depth + 1, false);
        }
        break;
      case 'm':
        if (previous == 'h' || time_flag) {
          AppendNumber(t_.minute, n == 1 ? 1 : 2);
        } else if (n <= 2) {
          AppendNumber(t_.month, n);
        } else {
          Append(n == 3 ? settings_.MonthAbbreviations[t_.month] : settings_.MonthNames[t_.month]);
        }
        break;
      case 'y':
        if (n <= 2) {
          AppendNumber(t_.year % 100, 2);
        } else {
          AppendNumber(t_.year, 4);
        }
        break;
      case 'h': {
        int hour = t_.hour;
        if (twelve_hour)
          hour = hour % 12 == 0 ? 12 : hour % 12;
        AppendNumber(hour, n == 1 ? 1 : 2);
        break;
      }
      case 'n':
        AppendNumber(t_.minute, n == 1 ? 1 : 2);
        break;
      case 's':
        AppendNumber(t_.second, n == 1 ? 1 : 2);
        break;
      case 'z':
        AppendNumber(t_.millisecond, n == 1 ? 1 : 3);
        break;
      case 't':
        Render(n == 1 ? settings_.ShortTimePattern : settings_.LongTimePattern, depth + 1, true);
        break;
      case 'c':
        Render(settings_.ShortDatePattern, depth + 1, false);
        if (t_.hour != 0 || t_.minute != 0 || t_.second != 0) {
          Append(" ");
          Render(settings_.LongTimePattern, depth + 1, true);
        }
        break;
      default:  // no element of its own: each letter in capitals
        for (char c : e.text) {
          const char upper = AsciiUpper(c);
          Append(std::string_view(&upper, 1));
        }
        break;
    }
  }

  const DecodedDateTime t_;
  const TFormatSettings& settings_;
  std::string out_;
};

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const double date = static_cast<double>(DayNumberFromCivil(year, month, day));
  const std::int64_t ms = std::int64_t{hour} * 3600000 + std::int64_t{minute} * 60000 +
                          std::int64_t{second} * 1000 + millisecond;
  const double time = static_cast<double>(ms) / kMillisecondsPerDay;
  // Decoding reads the magnitude of the fraction as the time of day, so
  // before day 0 the time is counted away from zero.
  return date >= 0 ? date + time : date - time;
}

TDateTime LocalNow() {
  const platform::LocalTime now = platform::Current().LocalClock();
  const double date = static_cast<double>(DayNumberFromCivil(now.year, now.month, now.day));
  const std::int64_t ms = std::int64_t{now.hour} * 3600000 + std::int64_t{now.minute} * 60000 +
                          std::int64_t{now.second} * 1000 + now.millisecond;
  return date + static_cast<double>(ms) / kMillisecondsPerDay;
}

std::string RenderDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings) {
  DateTimeWriter writer(Decode(value), settings);
  writer.Render(pattern.empty() ? std::string_view("C") : pattern, 0, false);
  return writer.Take();
}

std::string DateTimeText(TDateTime value) {
  return RenderDateTime("c", value, ProcessFormatSettings());
}

}  // namespace tarveld
