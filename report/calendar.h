// Day numbers of the proleptic Gregorian calendar, counted from 1899-12-30
// (day 0), and back: the one pair of conversions that the report's dates
// and the game calendar (plugin/game_calendar.cpp) both use.
//
// Both conversions shift the year to start on 1 March, so that the leap day
// is the last day of its year, and split the day count into 400-year eras of
// 146097 days each (400 Gregorian years are exactly that); the era is a
// floor division, the only step that sees a sign, and inside an era
// everything is small and non-negative, so it is done in 32-bit unsigned
// arithmetic, whose divisions by constants are the cheapest. The months from March have the
// lengths 31 30 31 30 31 31 30 31 30 31 31 (28/29), so (153 m + 2) / 5 is
// the sum of the first m of them, the five-month pattern 31 30 31 30 31 =
// 153 repeating. Neither function checks its input: validity is the
// caller's business.
#pragma once

#include <cstdint>

namespace tarveld {

struct CivilDate {
  std::int64_t year;
  int month;  // 1..12
  int day;    // 1..31
};

// Days from 1899-12-30 to 1 March of year 0 (which is day -693899).
inline constexpr std::int64_t kMarchZeroOffset = 693899;

// The day number of y-m-d.
// Preconditions: 1 <= m <= 12, 1 <= d <= the length of that month,
// |y| <= 2^40 (the products below then stay far inside 64 bits).
constexpr std::int64_t DayNumberFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;                                                // March-based year
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;              // floor(y / 400)
  const auto yoe = static_cast<std::uint32_t>(y - era * 400);         // [0, 399]
  const auto mp = static_cast<std::uint32_t>(m > 2 ? m - 3 : m + 9);  // [0, 11], March = 0
  const std::uint32_t doy = (153 * mp + 2) / 5 + static_cast<std::uint32_t>(d) - 1;  // [0, 365]
  const std::uint32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;                   // [0, 146096]
  return era * 146097 + doe - kMarchZeroOffset;
}

// The date of day number `n`. Precondition: |n| <= 2^53 (every such day
// number is exact in a double, and the year fits easily).
constexpr CivilDate CivilFromDayNumber(std::int64_t n) {
  const std::int64_t z = n + kMarchZeroOffset;                    // days since 0000-03-01
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;    // floor(z / 146097)
  const auto doe = static_cast<std::uint32_t>(z - era * 146097);  // [0, 146096]
  // Full years before the day within its era. Removing the leap days first
  // makes every year 365 days long: one is removed at the end of each 4-year
  // block (every 1460 days into it), one given back for each 100-year block
  // (36524 days, which lacks it), and the era's own last day (146096) removed.
  const std::uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const std::uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const std::uint32_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);                   // [1, 31]
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);                    // [1, 12]
  return {era * 400 + yoe + (month <= 2 ? 1 : 0), month, day};
}

// 1 = Sunday .. 7 = Saturday. Day 0, 1899-12-30, was a Saturday.
constexpr int WeekdayOfDayNumber(std::int64_t n) {
  const std::int64_t r = (n + 6) % 7;  // (-7, 7)
  return static_cast<int>(r < 0 ? r + 7 : r) + 1;
}

static_assert(sizeof(std::int64_t) == 8);
// The era's intermediates, up to 5 * 146096 + 2, need all of 32 bits and
// must not mix with a wider int.
static_assert(sizeof(std::uint32_t) == 4 && sizeof(int) <= 4);
static_assert(DayNumberFromCivil(1899, 12, 30) == 0);
static_assert(DayNumberFromCivil(1900, 1, 1) == 2);
static_assert(DayNumberFromCivil(2024, 3, 7) == 45358);
static_assert(DayNumberFromCivil(1, 1, 1) == -693593);
static_assert(DayNumberFromCivil(9999, 12, 31) == 2958465);
static_assert(DayNumberFromCivil(0, 3, 1) == -kMarchZeroOffset);
static_assert(DayNumberFromCivil(1970, 1, 1) == 25569);
static_assert(DayNumberFromCivil(2000, 3, 1) - DayNumberFromCivil(0, 3, 1) == 5 * 146097);
static_assert(DayNumberFromCivil(0, 3, 1) - DayNumberFromCivil(-400, 3, 1) == 146097);
static_assert(DayNumberFromCivil(0, 3, 1) - DayNumberFromCivil(0, 2, 29) == 1);  // year 0 leaps
static_assert(CivilFromDayNumber(-kMarchZeroOffset - 1).month == 2 &&
              CivilFromDayNumber(-kMarchZeroOffset - 1).day == 29);
static_assert(WeekdayOfDayNumber(0) == 7);
static_assert(WeekdayOfDayNumber(45358) == 5);  // 2024-03-07, a Thursday

}  // namespace tarveld
