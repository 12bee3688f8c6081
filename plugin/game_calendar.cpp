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
// the remaining day's ends are then added as day numbers (report/calendar.h).
//
// Sections: wrap-around arithmetic; day numbers; the clock counters; day's ends;
// the entry points.

#include "plugin/game_calendar.h"

#include <cstdint>
#include <limits>

#include "report/calendar.h"

namespace tarveld {
namespace {

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Counts of steps, carries and days are held in 64 bits: they reach 2^31 + 61
// on the way, and day numbers over the whole range of years reach 7.9e11.
static_assert(std::numeric_limits<std::int64_t>::digits >= 63);

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
// DayNumberFromCivil and CivilFromDayNumber (report/calendar.h). Only the
// distance between day numbers matters here, never their origin.

// The first and last day of the 32-bit years. Evaluating them here proves that
// the 64-bit arithmetic does not overflow at the ends of the range.
constexpr std::int64_t kFirstDay = DayNumberFromCivil(kInt32Min, 1, 1);
constexpr std::int64_t kLastDay = DayNumberFromCivil(kInt32Max, 12, 31);

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
  const std::int64_t from = DayNumberFromCivil(date.year, date.month, date.day);
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
