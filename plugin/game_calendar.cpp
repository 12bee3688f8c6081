// The game calendar in constant time.
//
// The one-second step of AdvanceGameDate (see the header) moves each field only
// when the carry of the field below reaches it, and the fields below never look
// at the fields above. So N steps fall apart into counters, each fed by the
// carries of the one below:
//
//   Second  gets N increments        and passes on c1 carries,
//   Minute  gets c1 increments       and passes on c2,
//   Hour    gets c2 increments       and passes on c3 day's ends,
//   Year, Month, Day get c3 day's ends.
//
// The clock fields are plain wrap-around counters (CountUp). A day's end reads
// Year and Month to find the length of the month, so the date is first brought
// from whatever the host gave to a valid date in at most two bounded moves, and
// the remaining day's ends are then added as day numbers (DayNumber,
// CivilFromDayNumber: March-based years, 400-year eras).
//
// Sections: wrap-around arithmetic; day numbers; the clock counters; day's ends;
// the entry points.

#include "plugin/game_calendar.h"

#include <cstdint>
#include <limits>

namespace tarveld {
namespace {

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Counts of steps, carries and days are held in 64 bits: they reach 2^31 + 61
// on the way, and day numbers over the whole range of years reach 7.9e11.
static_assert(std::numeric_limits<std::int64_t>::digits >= 63);
// The day arithmetic below keeps its small intermediates (up to 146096 and
// 5 * 365 + 2) in std::uint32_t and mixes them with int literals; neither may
// be narrower than 32 bits.
static_assert(std::numeric_limits<std::uint32_t>::digits == 32);
static_assert(std::numeric_limits<int>::digits >= 31);

// ---- Wrap-around arithmetic -----------------------------------------------

// value + n in 32-bit two's complement. Precondition: 0 <= n < 2^32.
// (The conversion of an unsigned value above INT32_MAX to std::int32_t is
// modular from C++20 on, and was already so on every compiler used here.)
constexpr std::int32_t WrapAdd(std::int32_t value, std::int64_t n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) +
                                   static_cast<std::uint32_t>(n));
}

static_assert(WrapAdd(kInt32Max, 1) == kInt32Min);
static_assert(WrapAdd(-1, 1) == 0);

// ---- Day numbers -----------------------------------------------------------
//
// A day number counts days from 0000-03-01 (day 0) in the proleptic Gregorian
// calendar, negative before it. Years are taken from 1 March, so that the leap
// day is the last day of its year; 400 Gregorian years (an era) are exactly
// 146097 days, so the year is split into an era (floor division, the only step
// that sees a sign) and a year of the era in [0, 399].

constexpr std::int32_t kDaysPerEra = 146097;

struct CivilDate {
  std::int64_t year;
  std::int32_t month;  // [1, 12]
  std::int32_t day;    // [1, 31]
};

// Day number of a valid date.
// Preconditions: 1 <= month <= 12, 1 <= day <= length of that month in `year`,
// |year| <= 2^40 (far more than used here: 32-bit years and a few beyond).
constexpr std::int64_t DayNumber(std::int64_t year, std::int32_t month, std::int32_t day) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);                  // the March-based year
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;               // floor(y / 400)
  const auto year_of_era = static_cast<std::uint32_t>(y - era * 400);  // [0, 399]
  const auto month_from_march = static_cast<std::uint32_t>(month > 2 ? month - 3 : month + 9);
  // [0, 11]: March 0 ... February 11. The months from March have the lengths
  // 31 30 31 30 31 31 30 31 30 31 31 (28/29); (153 m + 2) / 5 is the sum of
  // the first m of them, the five-month pattern 31 30 31 30 31 = 153 repeating.
  const std::uint32_t day_of_year =
      (153 * month_from_march + 2) / 5 + static_cast<std::uint32_t>(day) - 1;  // [0, 365]
  const std::uint32_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;  // [0, 146096]
  return era * kDaysPerEra + day_of_era;
}

// The date of a day number. Precondition: |n| <= 2^48.
constexpr CivilDate CivilFromDayNumber(std::int64_t n) {
  const std::int64_t era = (n >= 0 ? n : n - (kDaysPerEra - 1)) / kDaysPerEra;  // floor
  const auto day_of_era = static_cast<std::uint32_t>(n - era * kDaysPerEra);    // [0, 146096]
  // Full years before the day within its era. Removing the leap days first
  // makes every year 365 days long: one is removed at the end of each 4-year
  // block (every 1460 days into it), one given back for each 100-year block
  // (36524 days, which lacks it), and the era's own last day (146096) removed.
  const std::uint32_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) /
      365;  // [0, 399]
  const std::uint32_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // [0, 365]
  const std::uint32_t month_from_march = (5 * day_of_year + 2) / 153;          // [0, 11]
  const auto day = static_cast<std::int32_t>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  const auto month = static_cast<std::int32_t>(month_from_march < 10 ? month_from_march + 3
                                                                     : month_from_march - 9);
  return {era * 400 + year_of_era + (month <= 2 ? 1 : 0), month, day};
}

// The first and last day of the 32-bit years. Evaluating them here proves that
// the 64-bit arithmetic does not overflow at the ends of the range.
constexpr std::int64_t kFirstDay = DayNumber(kInt32Min, 1, 1);
constexpr std::int64_t kLastDay = DayNumber(kInt32Max, 12, 31);

static_assert(DayNumber(0, 3, 1) == 0);
static_assert(DayNumber(1970, 1, 1) == 719468);
static_assert(DayNumber(2000, 3, 1) == 5 * kDaysPerEra);
static_assert(DayNumber(-400, 3, 1) == -kDaysPerEra);
static_assert(DayNumber(0, 2, 29) == -1);  // year 0 is a leap year
static_assert(CivilFromDayNumber(-1).month == 2 && CivilFromDayNumber(-1).day == 29);
static_assert(CivilFromDayNumber(kFirstDay).year == kInt32Min);
static_assert(CivilFromDayNumber(kLastDay).year == kInt32Max);
static_assert(CivilFromDayNumber(kLastDay).month == 12 && CivilFromDayNumber(kLastDay).day == 31);

constexpr bool IsLeap(std::int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Precondition: 1 <= month <= 12.
constexpr std::int32_t DaysInMonth(std::int32_t year, std::int32_t month) {
  constexpr std::int32_t kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kLengths[month - 1];
}

// ---- The clock counters ----------------------------------------------------

struct Counted {
  std::int32_t value;
  std::int64_t carries;  // [0, ticks]
};

// A clock field after `ticks` increments, each `value += 1` (wrapping) and, if
// value is then above `last`, value = 0 and one carry out.
// Preconditions: 0 <= ticks <= INT32_MAX; 0 <= last <= 59.
constexpr Counted CountUp(std::int32_t value, std::int32_t last, std::int64_t ticks) {
  // Increments up to and including the first carry: one from anywhere at or
  // above `last` (a value the host gave above its range is caught at once),
  // last + 1 - value from below it, and from INT32_MAX, which wraps to
  // INT32_MIN first, more than 2^31: no carry within the precondition.
  std::int64_t first;
  if (value == kInt32Max) {
    first = 1 + (std::int64_t{last} + 1 - kInt32Min);
  } else if (value >= last) {
    first = 1;
  } else {
    first = std::int64_t{last} + 1 - value;  // [2, 2^31 + 60]
  }
  if (ticks < first) {
    return {WrapAdd(value, ticks), 0};
  }
  const std::int64_t after_first = ticks - first;  // [0, INT32_MAX - 1]
  const std::int32_t cycle = last + 1;             // increments from 0 to the next carry
  return {static_cast<std::int32_t>(after_first % cycle), 1 + after_first / cycle};
}

static_assert(CountUp(75, 59, 1).value == 0 && CountUp(75, 59, 1).carries == 1);
static_assert(CountUp(-1, 59, 1).value == 0 && CountUp(-1, 59, 1).carries == 0);

// ---- Day's ends ------------------------------------------------------------

struct DateFields {
  std::int32_t year;
  std::int32_t month;
  std::int32_t day;
};

constexpr DateFields FirstOfNextMonth(const DateFields& date) {
  return date.month < 12 ? DateFields{date.year, date.month + 1, 1}
                         : DateFields{WrapAdd(date.year, 1), 1, 1};
}

// Year, Month and Day after `ends` day's ends, for any field values.
// Precondition: 0 <= ends <= INT32_MAX.
constexpr DateFields AfterDayEnds(DateFields date, std::int64_t ends) {
  if (ends == 0) {
    return date;
  }

  // A month number without days: every day's end moves on to day 1 of the
  // next number, until a month of the table is reached.
  if (date.month < 1 || date.month > 12) {
    if (date.month == kInt32Max) {
      // The next number wraps to INT32_MIN, more than 2^31 day's ends short
      // of January: it only counts up.
      return {date.year, WrapAdd(date.month, ends), 1};
    }
    if (date.month > 12) {
      date = {WrapAdd(date.year, 1), 1, 1};
      ends -= 1;
    } else {
      const std::int64_t to_january = 1 - std::int64_t{date.month};  // [1, 2^31 + 1]
      if (ends < to_january) {
        return {date.year, static_cast<std::int32_t>(date.month + ends), 1};  // [month + 1, 0]
      }
      date = {date.year, 1, 1};
      ends -= to_january;
    }
  }

  // A month of the table, Day anywhere: bring Day into the month.
  if (date.day == kInt32Max) {
    // Wraps to INT32_MIN, more than 2^31 day's ends short of the month's end.
    return {date.year, date.month, WrapAdd(date.day, ends)};
  }
  if (date.day > DaysInMonth(date.year, date.month)) {
    if (ends == 0) {
      return date;
    }
    date = FirstOfNextMonth(date);
    ends -= 1;
  } else if (date.day < 1) {
    const std::int64_t to_first = 1 - std::int64_t{date.day};  // [1, 2^31 + 1]
    if (ends < to_first) {
      return {date.year, date.month, static_cast<std::int32_t>(date.day + ends)};  // [day, 0]
    }
    date.day = 1;
    ends -= to_first;
  }

  // A valid date: day's ends are days. After 31 December of year INT32_MAX
  // comes 1 January of year INT32_MIN; `ends` days span under 6 million
  // years, so the year wraps at most once.
  const std::int64_t from = DayNumber(date.year, date.month, date.day);
  const std::int64_t to_last = kLastDay - from;  // [0, kLastDay - kFirstDay]
  const CivilDate to = ends <= to_last ? CivilFromDayNumber(from + ends)
                                       : CivilFromDayNumber(kFirstDay + (ends - to_last - 1));
  return {static_cast<std::int32_t>(to.year), to.month, to.day};  // year within 32 bits
}

}  // namespace

// ---- Entry points ----------------------------------------------------------

bool IsLeapYear(std::int32_t year) noexcept {
  return IsLeap(year);
}

GameDateRec AdvanceGameDate(const GameDateRec& start, std::int32_t game_time) noexcept {
  const GameDateRec from = start;
  if (game_time <= GameTimeOrigin) {
    return from;
  }
  const std::int64_t steps = std::int64_t{game_time} - GameTimeOrigin;  // [1, INT32_MAX - 100000]
  const Counted second = CountUp(from.Second, 59, steps);
  const Counted minute = CountUp(from.Minute, 59, second.carries);
  const Counted hour = CountUp(from.Hour, 23, minute.carries);
  const DateFields date = AfterDayEnds({from.Year, from.Month, from.Day}, hour.carries);
  return {date.year, date.month, date.day, hour.value, minute.value, second.value, from.Extra};
}

}  // namespace tarveld
