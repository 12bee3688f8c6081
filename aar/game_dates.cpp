#include "aar/game_dates.h"

#include "report/calendar.h"

namespace tarveld::aar {
namespace {

constexpr std::int64_t kDay = 86400;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The number of the digits text[begin, begin + count), all of which are
// digits.
std::int64_t DigitsValue(std::string_view text, std::size_t begin, std::size_t count) {
  std::int64_t value = 0;
  for (std::size_t i = begin; i < begin + count; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

// Where the year's digits end: "-MM-DD HH:MM:SS" takes the last 15 bytes.
constexpr std::size_t kAfterYear = 15;

// Appends `separator` and `value` (0..99) in two digits.
void AppendTwoDigits(std::string& text, char separator, std::int64_t value) {
  text += separator;
  text += static_cast<char>('0' + value / 10);
  text += static_cast<char>('0' + value % 10);
}

}  // namespace

bool IsDateShaped(std::string_view text) {
  const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() < sign + 4 + kAfterYear)
    return false;
  const std::size_t year_end = text.size() - kAfterYear;
  for (std::size_t i = sign; i < year_end; ++i) {
    if (!IsDigit(text[i]))
      return false;
  }
  static constexpr char kPattern[] = "-dd-dd dd:dd:dd";
  for (std::size_t i = 0; i < kAfterYear; ++i) {
    const char c = text[year_end + i];
    if (kPattern[i] == 'd' ? !IsDigit(c) : c != kPattern[i])
      return false;
  }
  return true;
}

std::optional<std::int64_t> DateSeconds(std::string_view text) {
  if (!IsDateShaped(text))
    return std::nullopt;
  const bool negative = text[0] == '-';
  const std::size_t year_end = text.size() - kAfterYear;
  const std::size_t year_digits = year_end - (negative ? 1 : 0);
  // Past ten digits a year could overflow below; no game gets there.
  if (year_digits > 10)
    return std::nullopt;
  std::int64_t year = DigitsValue(text, negative ? 1 : 0, year_digits);
  if (year > 1000000000)
    return std::nullopt;
  if (negative)
    year = -year;
  const int month = static_cast<int>(DigitsValue(text, year_end + 1, 2));
  const int day = static_cast<int>(DigitsValue(text, year_end + 4, 2));
  const std::int64_t hour = DigitsValue(text, year_end + 7, 2);
  const std::int64_t minute = DigitsValue(text, year_end + 10, 2);
  const std::int64_t second = DigitsValue(text, year_end + 13, 2);
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  // A day past its month's end (April 31, February 29 of 1900) counts on
  // into the next month, so the day number does not lead back to it.
  const std::int64_t day_number = DayNumberFromCivil(year, month, day);
  if (CivilFromDayNumber(day_number).day != day)
    return std::nullopt;
  return day_number * kDay + hour * 3600 + minute * 60 + second;
}

std::string DateText(std::int64_t seconds) {
  // Floor division, so that times before day 0 fall on the day before it.
  std::int64_t days = seconds / kDay;
  std::int64_t in_day = seconds % kDay;
  if (in_day < 0) {
    in_day += kDay;
    --days;
  }
  const CivilDate date = CivilFromDayNumber(days);
  std::string year = std::to_string(date.year < 0 ? -date.year : date.year);
  if (year.size() < 4)
    year.insert(0, 4 - year.size(), '0');
  std::string text = date.year < 0 ? "-" + year : year;
  AppendTwoDigits(text, '-', date.month);
  AppendTwoDigits(text, '-', date.day);
  AppendTwoDigits(text, ' ', in_day / 3600);
  AppendTwoDigits(text, ':', in_day / 60 % 60);
  AppendTwoDigits(text, ':', in_day % 60);
  return text;
}

std::int64_t CarryForward(std::int64_t start_seconds, std::int64_t game_time) {
  return game_time > GameTimeOrigin ? start_seconds + (game_time - GameTimeOrigin) : start_seconds;
}

std::optional<std::int64_t> ReadDecimal(std::string_view text, bool plus_allowed) {
  const bool sign = !text.empty() && (text[0] == '-' || (plus_allowed && text[0] == '+'));
  const std::size_t count = text.size() - (sign ? 1 : 0);
  if (count == 0 || count > 18)
    return std::nullopt;
  for (std::size_t i = sign ? 1 : 0; i < text.size(); ++i) {
    if (!IsDigit(text[i]))
      return std::nullopt;
  }
  const std::int64_t value = DigitsValue(text, sign ? 1 : 0, count);
  return text[0] == '-' ? -value : value;
}

std::string SpanText(std::int64_t seconds) {
  std::string text;
  if (seconds < 0) {
    text = "-";
    seconds = -seconds;
  }
  static constexpr struct {
    std::int64_t size;
    const char* unit;
  } kUnits[] = {{kDay, "d"}, {3600, "h"}, {60, "min"}, {1, "s"}};
  bool any = false;
  for (const auto& unit : kUnits) {
    const std::int64_t count = seconds / unit.size;
    seconds %= unit.size;
    if (count == 0)
      continue;
    if (any)
      text += ' ';
    text += std::to_string(count) + ' ' + unit.unit;
    any = true;
  }
  return any ? text : "0 s";
}

std::string CountText(std::size_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t i = digits.size(); i > 3; i -= 3)
    digits.insert(i - 3, ",");
  return digits;
}

}  // namespace tarveld::aar
