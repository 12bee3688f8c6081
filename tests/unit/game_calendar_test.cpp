// The constant-time game calendar: fixed cases with hand-worked results, then
// differential runs against the literal step loop (support/step_calendar.h).

#include "plugin/game_calendar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "support/step_calendar.h"

namespace tarveld {

void PrintTo(const GameDateRec& date, std::ostream* os) {
  *os << date.Year << '-' << date.Month << '-' << date.Day << ' ' << date.Hour << ':' << date.Minute
      << ':' << date.Second << " [" << date.Extra << ']';
}

namespace testing {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kDay = 86400;

GameDateRec At(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
               std::int32_t minute, std::int32_t second, std::int32_t extra = 0) {
  return {year, month, day, hour, minute, second, extra};
}

struct Case {
  const char* what;
  GameDateRec start;
  std::int32_t game_time;
  GameDateRec expected;
};

// Each case against the constant-time version, stored apart and over its
// start record, and against the step loop (where that costs under ~0.2 s).
void CheckCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(AdvanceGameDate(c.start, c.game_time), c.expected);
    GameDateRec in_place = c.start;
    in_place = AdvanceGameDate(in_place, c.game_time);
    EXPECT_EQ(in_place, c.expected);
    if (std::int64_t{c.game_time} - GameTimeOrigin <= (1 << 28)) {
      EXPECT_EQ(StepGameDate(c.start, c.game_time), c.expected) << "step loop";
    }
  }
}

TEST(GameCalendarTest, IsLeapYear) {
  const struct {
    std::int32_t year;
    bool leap;
  } cases[] = {
      {1944, true},   {1943, false}, {1900, false}, {2000, true},     {2100, false}, {2400, true},
      {0, true},      {-4, true},    {-1, false},   {-100, false},    {-400, true},  {-2000, true},
      {-1900, false}, {kMin, true},  {kMax, false}, {kMax - 3, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
  }
}

TEST(GameCalendarTest, StartDateCarriedForward) {
  const GameDateRec d_day = At(1944, 6, 6, 5, 30, 0, 7);
  CheckCases({
      {"at the origin", d_day, 100000, d_day},
      {"just before the origin", d_day, 99999, d_day},
      {"game time 0", d_day, 0, d_day},
      {"negative game time", d_day, -5, d_day},
      {"lowest game time", d_day, kMin, d_day},
      {"one second", d_day, 100001, At(1944, 6, 6, 5, 30, 1, 7)},
      {"59 seconds", d_day, 100059, At(1944, 6, 6, 5, 30, 59, 7)},
      {"a minute", d_day, 100060, At(1944, 6, 6, 5, 31, 0, 7)},
      {"midnight", At(1943, 7, 10, 23, 59, 59), 100001, At(1943, 7, 11, 0, 0, 0)},
      {"an hour to midnight", At(1944, 6, 6, 23, 0, 0), 103600, At(1944, 6, 7, 0, 0, 0)},
      {"month's end", At(1943, 4, 30, 23, 59, 59, -1), 100001, At(1943, 5, 1, 0, 0, 0, -1)},
      {"year's end", At(1943, 12, 31, 23, 59, 59), 100001, At(1944, 1, 1, 0, 0, 0)},
      {"28 February, leap", At(1944, 2, 28, 23, 59, 59), 100001, At(1944, 2, 29, 0, 0, 0)},
      {"29 February", At(1944, 2, 29, 23, 59, 59), 100001, At(1944, 3, 1, 0, 0, 0)},
      {"28 February, common", At(1943, 2, 28, 23, 59, 59), 100001, At(1943, 3, 1, 0, 0, 0)},
      {"1900 is common", At(1900, 2, 28, 23, 59, 59), 100001, At(1900, 3, 1, 0, 0, 0)},
      {"2000 is leap", At(2000, 2, 28, 23, 59, 59), 100001, At(2000, 2, 29, 0, 0, 0)},
      {"year 0 is leap", At(0, 2, 28, 23, 59, 59), 100001, At(0, 2, 29, 0, 0, 0)},
      {"year -4 is leap", At(-4, 2, 28, 23, 59, 59), 100001, At(-4, 2, 29, 0, 0, 0)},
      {"year -100 is common", At(-100, 2, 28, 23, 59, 59), 100001, At(-100, 3, 1, 0, 0, 0)},
      {"year -400 is leap", At(-400, 2, 28, 23, 59, 59), 100001, At(-400, 2, 29, 0, 0, 0)},
      {"year -1 into year 0", At(-1, 12, 31, 23, 59, 59), 100001, At(0, 1, 1, 0, 0, 0)},
      {"into a leap year", At(1943, 12, 31, 12, 0, 0), 5240800, At(1944, 2, 29, 0, 0, 0)},
      {"out of a leap year", At(1944, 12, 31, 12, 0, 0), 5240800, At(1945, 3, 1, 0, 0, 0)},
      {"394 days less a second", At(1944, 2, 1, 0, 0, 0), 34141599, At(1945, 2, 28, 23, 59, 59)},
      {"394 days", At(1944, 2, 1, 0, 0, 0), 34141600, At(1945, 3, 1, 0, 0, 0)},
      {"highest game time", d_day, kMax, At(2012, 6, 23, 4, 57, 27, 7)},
      {"highest from 29 February", At(2000, 2, 29, 0, 0, 0), kMax, At(2068, 3, 16, 23, 27, 27)},
      {"highest from 1899", At(1899, 12, 31, 23, 59, 59), kMax, At(1968, 1, 18, 23, 27, 26)},
  });
}

TEST(GameCalendarTest, FieldsOutOfRange) {
  CheckCases({
      {"second 75", At(1944, 6, 6, 5, 30, 75), 100001, At(1944, 6, 6, 5, 31, 0)},
      {"second -1", At(1944, 6, 6, 5, 30, -1, 3), 100001, At(1944, 6, 6, 5, 30, 0, 3)},
      {"second -1, 61 s", At(1944, 6, 6, 5, 30, -1), 100061, At(1944, 6, 6, 5, 31, 0)},
      {"minute 60", At(1944, 6, 6, 5, 60, 59), 100001, At(1944, 6, 6, 6, 0, 0)},
      {"minute -30 counts up", At(1944, 6, 6, 5, -30, 59), 100001, At(1944, 6, 6, 5, -29, 0)},
      {"hour 24", At(1944, 6, 6, 24, 59, 59), 100001, At(1944, 6, 7, 0, 0, 0)},
      {"hour 24 without a carry", At(1944, 6, 6, 24, 0, 0), 100001, At(1944, 6, 6, 24, 0, 1)},
      {"hour -5 counts up", At(1944, 6, 6, -5, 59, 59), 100001, At(1944, 6, 6, -4, 0, 0)},
      {"hour -1 to a day's end", At(1944, 6, 6, -1, 0, 0), 100000 + 25 * 3600,
       At(1944, 6, 7, 0, 0, 0)},
      {"day 32 in January", At(1944, 1, 32, 23, 59, 59), 100001, At(1944, 2, 1, 0, 0, 0)},
      {"day 40 in April", At(1944, 4, 40, 23, 59, 59), 100001, At(1944, 5, 1, 0, 0, 0)},
      {"day 30 in February", At(1944, 2, 30, 23, 59, 59), 100001, At(1944, 3, 1, 0, 0, 0)},
      {"day 32 in December", At(1944, 12, 32, 23, 59, 59), 100001, At(1945, 1, 1, 0, 0, 0)},
      {"day 0", At(1944, 1, 0, 23, 59, 59), 100001, At(1944, 1, 1, 0, 0, 0)},
      {"day -5 counts up", At(1944, 3, -5, 23, 59, 59), 100001 + 6 * kDay, At(1944, 3, 2, 0, 0, 0)},
      {"day -5 in mid-count", At(1944, 3, -5, 23, 59, 59), 100001 + 2 * kDay,
       At(1944, 3, -2, 0, 0, 0)},
      {"month 13 before a day's end", At(1944, 13, 6, 5, 30, 0), 100001, At(1944, 13, 6, 5, 30, 1)},
      {"all clock fields above range", At(1944, 6, 6, 99, 99, 99), 100001, At(1944, 6, 7, 0, 0, 0)},
  });
}

// A Month outside 1..12 has no days: the first day's end in it moves on to
// Day 1 of the next month number, whatever Day holds.
TEST(GameCalendarTest, MonthOutsideTable) {
  CheckCases({
      {"month 13", At(1944, 13, 6, 23, 59, 59, 9), 100001, At(1945, 1, 1, 0, 0, 0, 9)},
      {"month 13, day -5", At(1944, 13, -5, 23, 59, 59), 100001, At(1945, 1, 1, 0, 0, 0)},
      {"month 13 up to the day's end", At(1944, 13, 6, 5, 30, 0), 166599,
       At(1944, 13, 6, 23, 59, 59)},
      {"month 13 at the day's end", At(1944, 13, 6, 5, 30, 0), 166600, At(1945, 1, 1, 0, 0, 0)},
      {"month 1000", At(1999, 1000, 31, 23, 59, 59), 100001, At(2000, 1, 1, 0, 0, 0)},
      {"month 0", At(1944, 0, 15, 23, 59, 59), 100001, At(1944, 1, 1, 0, 0, 0)},
      {"month 0, day 0", At(1944, 0, 0, 23, 59, 59), 100001, At(1944, 1, 1, 0, 0, 0)},
      {"month -2", At(1944, -2, 20, 23, 59, 59), 100001, At(1944, -1, 1, 0, 0, 0)},
      {"month -2 reaches January", At(1944, -2, 20, 23, 59, 59), 100001 + 2 * kDay,
       At(1944, 1, 1, 0, 0, 0)},
      {"month -2, then January 2", At(1944, -2, 20, 23, 59, 59), 100001 + 3 * kDay,
       At(1944, 1, 2, 0, 0, 0)},
      {"month INT32_MIN", At(1944, kMin, 10, 23, 59, 59), 100001, At(1944, kMin + 1, 1, 0, 0, 0)},
      {"month INT32_MAX wraps", At(1944, kMax, 6, 23, 59, 59), 100001, At(1944, kMin, 1, 0, 0, 0)},
      {"month INT32_MAX, a day on", At(1944, kMax, 6, 23, 59, 59), 100001 + kDay,
       At(1944, kMin + 1, 1, 0, 0, 0)},
      {"month 13 in year INT32_MAX", At(kMax, 13, 1, 23, 59, 59), 100001, At(kMin, 1, 1, 0, 0, 0)},
  });
}

// Every increment wraps around in 32-bit two's complement.
TEST(GameCalendarTest, WrapAround) {
  CheckCases({
      {"year INT32_MAX ends", At(kMax, 12, 31, 23, 59, 59), 100001, At(kMin, 1, 1, 0, 0, 0)},
      {"year INT32_MIN is leap", At(kMax, 12, 31, 23, 59, 59), 100001 + 59 * kDay,
       At(kMin, 2, 29, 0, 0, 0)},
      // Years 2^31 + 52 and -2^31 + 52 differ: the first is a century year.
      {"leap rule 52 years past the wrap", At(kMax, 12, 31, 23, 59, 59), 1646192801,
       At(kMin + 52, 2, 29, 0, 0, 0)},
      {"year INT32_MAX is common", At(kMax, 2, 28, 23, 59, 59), 100001, At(kMax, 3, 1, 0, 0, 0)},
      {"day INT32_MAX wraps", At(1944, 6, kMax, 23, 59, 59), 100001, At(1944, 6, kMin, 0, 0, 0)},
      {"day INT32_MAX, a day on", At(1944, 6, kMax, 23, 59, 59), 100001 + kDay,
       At(1944, 6, kMin + 1, 0, 0, 0)},
      {"day INT32_MIN", At(1944, 6, kMin, 23, 59, 59), 100001, At(1944, 6, kMin + 1, 0, 0, 0)},
      {"hour INT32_MAX wraps", At(1944, 6, 6, kMax, 59, 59), 100001, At(1944, 6, 6, kMin, 0, 0)},
      {"hour INT32_MIN, highest game time", At(1944, 6, 6, kMin, 0, 0), kMax,
       At(1944, 6, 6, -2146887153, 27, 27)},
      {"minute INT32_MAX wraps", At(1944, 6, 6, 5, kMax, 59), 100001, At(1944, 6, 6, 5, kMin, 0)},
      {"minute INT32_MIN", At(1944, 6, 6, 5, kMin, 59), 100001, At(1944, 6, 6, 5, kMin + 1, 0)},
      {"second INT32_MAX wraps", At(1944, 6, 6, 5, 30, kMax), 100001, At(1944, 6, 6, 5, 30, kMin)},
      {"second INT32_MIN", At(1944, 6, 6, 5, 30, kMin), 100001, At(1944, 6, 6, 5, 30, kMin + 1)},
      {"second INT32_MIN, highest game time", At(1944, 6, 6, 5, 30, kMin), kMax,
       At(1944, 6, 6, 5, 30, -100001)},
      {"extra untouched", At(1944, 6, 6, 5, 30, 0, kMin), kMax, At(2012, 6, 23, 4, 57, 27, kMin)},
  });
}

// ---- Differential runs against the step loop -------------------------------

// Start records of every kind, from a fixed seed.
class RecordSource {
 public:
  explicit RecordSource(std::uint64_t seed) : random_(seed) {}

  std::int64_t Between(std::int64_t low, std::int64_t high) {
    return low + static_cast<std::int64_t>(random_() % static_cast<std::uint64_t>(high - low + 1));
  }
  bool Percent(int percent) { return Between(0, 99) < percent; }

  GameDateRec Record() {
    GameDateRec date;
    date.Year = Year();
    date.Month = static_cast<std::int32_t>(Between(1, 12));
    const std::int32_t length = MonthLength(date.Year, date.Month);
    date.Day = static_cast<std::int32_t>(Percent(50) ? Between(1, length) : length - Between(0, 1));
    date.Hour = Clock(23);
    date.Minute = Clock(59);
    date.Second = Clock(59);
    date.Extra = static_cast<std::int32_t>(random_());
    if (Percent(50)) {
      // Spoil one to three fields.
      for (std::int64_t n = Between(1, 3); n > 0; --n) {
        switch (Between(0, 4)) {
          case 0:
            date.Month = OutOfRange(1, 12);
            break;
          case 1:
            date.Day = OutOfRange(1, length);
            break;
          case 2:
            date.Hour = OutOfRange(0, 23);
            break;
          case 3:
            date.Minute = OutOfRange(0, 59);
            break;
          default:
            date.Second = OutOfRange(0, 59);
            break;
        }
      }
    }
    return date;
  }

 private:
  static std::int32_t MonthLength(std::int32_t year, std::int32_t month) {
    constexpr std::int32_t kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : kLengths[month - 1];
  }

  std::int32_t Year() {
    switch (Between(0, 7)) {
      case 0:
      case 1:
        return static_cast<std::int32_t>(Between(1900, 2100));
      case 2:
        return static_cast<std::int32_t>(Between(-30, 30) * 100 + Between(-1, 1));
      case 3:
        return static_cast<std::int32_t>(Between(-1000, 1000));
      case 4:
        return kMax - static_cast<std::int32_t>(Between(0, 70));
      case 5:
        return kMin + static_cast<std::int32_t>(Between(0, 70));
      default:
        return static_cast<std::int32_t>(random_());
    }
  }

  // In range, half the time at or next to its last value, where carries happen.
  std::int32_t Clock(std::int32_t last) {
    return static_cast<std::int32_t>(Percent(50) ? Between(0, last) : last - Between(0, 1));
  }

  std::int32_t OutOfRange(std::int32_t first, std::int32_t last) {
    switch (Between(0, 6)) {
      case 0:
        return last + static_cast<std::int32_t>(Between(1, 2));
      case 1:
        return last + static_cast<std::int32_t>(Between(1, 1000));
      case 2:
        return first - static_cast<std::int32_t>(Between(1, 2));
      case 3:
        return first - static_cast<std::int32_t>(Between(1, 1000));
      case 4:
        return kMax - static_cast<std::int32_t>(Between(0, 1));
      case 5:
        return kMin + static_cast<std::int32_t>(Between(0, 1));
      default:
        return static_cast<std::int32_t>(random_());
    }
  }

  std::mt19937_64 random_;
};

// Runs the step loop from `start` for `span` steps and compares the
// constant-time version with it at every offset in `checks` (ascending, at
// most `span`) and after every day's end. Returns the number of comparisons;
// stops at the first mismatch.
std::int64_t Walk(const GameDateRec& start, std::int64_t span, std::vector<std::int64_t> checks) {
  StepCalendar calendar(start);
  std::int64_t done = 0;
  std::int64_t compared = 0;
  auto compare = [&] {
    ++compared;
    const auto game_time = static_cast<std::int32_t>(GameTimeOrigin + done);
    if (AdvanceGameDate(start, game_time) == calendar.date()) {
      return true;
    }
    ADD_FAILURE() << "from " << ::testing::PrintToString(start) << " at game time " << game_time
                  << ": " << ::testing::PrintToString(AdvanceGameDate(start, game_time))
                  << ", step loop " << ::testing::PrintToString(calendar.date());
    return false;
  };
  checks.push_back(span);
  for (const std::int64_t check : checks) {
    while (done < check) {
      calendar.Step();
      ++done;
      const GameDateRec& now = calendar.date();
      if (now.Hour == 0 && now.Minute == 0 && now.Second == 0 && !compare()) {
        return compared;
      }
    }
    if (!compare()) {
      return compared;
    }
  }
  return compared;
}

std::vector<std::int64_t> RandomChecks(RecordSource& source, std::int64_t span, int count) {
  std::vector<std::int64_t> checks;
  for (int i = 0; i < count; ++i) {
    checks.push_back(source.Between(0, span));
  }
  std::sort(checks.begin(), checks.end());
  return checks;
}

// Many start records, each walked a short way: mostly seconds to an hour,
// some a few days, with checks along the way.
TEST(GameCalendarDifferential, ShortWalks) {
  RecordSource source(0x5eed0001);
  std::int64_t compared = 0;
  for (int i = 0; i < 1'000'000 && !HasFailure(); ++i) {
    const GameDateRec start = source.Record();
    const std::int64_t pick = source.Between(0, 99);
    const std::int64_t span = pick < 60   ? source.Between(0, 130)
                              : pick < 98 ? source.Between(0, 4000)
                                          : source.Between(0, 3 * kDay);
    compared += Walk(start, span, RandomChecks(source, span, 4));
    // Game times at or below the origin leave the record as it is.
    const auto early = static_cast<std::int32_t>(source.Between(kMin, GameTimeOrigin));
    EXPECT_EQ(AdvanceGameDate(start, early), start) << early;
    ++compared;
  }
  std::cout << compared << " comparisons\n";
}

// Fewer start records, each walked one to two years.
TEST(GameCalendarDifferential, LongWalks) {
  RecordSource source(0x5eed0002);
  std::int64_t compared = 0;
  for (int i = 0; i < 80 && !HasFailure(); ++i) {
    const GameDateRec start = source.Record();
    const std::int64_t span = source.Between(365 * kDay, 2 * 366 * kDay);
    compared += Walk(start, span, RandomChecks(source, span, 2000));
  }
  std::cout << compared << " comparisons\n";
}

// The whole range of game times, from a plain start, from one that wraps past
// year INT32_MAX (and meets year -2^31 + 52, a leap year where 2^31 + 52 is
// not), and from one with every field out of range.
TEST(GameCalendarDifferential, FullRangeWalks) {
  RecordSource source(0x5eed0003);
  const std::int64_t span = kMax - std::int64_t{GameTimeOrigin};
  std::int64_t compared = 0;
  for (const GameDateRec& start : {At(1944, 6, 6, 5, 30, 0), At(kMax - 10, 11, 30, 22, 58, 58),
                                   At(-1, -30, 45, 25, -70, 61)}) {
    compared += Walk(start, span, RandomChecks(source, span, 20000));
  }
  std::cout << compared << " comparisons\n";
}

// The step rule chains: a result is itself a start record, and the loop keeps
// nothing else from one step to the next.
TEST(GameCalendarDifferential, StepRuleChains) {
  RecordSource source(0x5eed0004);
  for (int i = 0; i < 20'000 && !HasFailure(); ++i) {
    const GameDateRec start = source.Record();
    const auto a = static_cast<std::int32_t>(source.Between(0, i % 100 == 0 ? 2 * kDay : 4000));
    const auto b = static_cast<std::int32_t>(source.Between(0, i % 100 == 1 ? 2 * kDay : 4000));
    EXPECT_EQ(StepGameDate(start, GameTimeOrigin + a + b),
              StepGameDate(StepGameDate(start, GameTimeOrigin + a), GameTimeOrigin + b))
        << ::testing::PrintToString(start) << " a=" << a << " b=" << b;
  }
}

// Spans beyond the walks' reach, up to the highest game time: the long leg
// chained through the constant-time version, the last leg by the step loop.
TEST(GameCalendarDifferential, LongSpansInPieces) {
  RecordSource source(0x5eed0005);
  const std::int64_t longest = kMax - std::int64_t{GameTimeOrigin};
  for (int i = 0; i < 200'000 && !HasFailure(); ++i) {
    const GameDateRec start = source.Record();
    const std::int64_t span =
        i % 2 == 0 ? source.Between(longest / 64, longest) : longest - source.Between(0, 1000);
    const std::int64_t tail = source.Between(0, i % 20 == 0 ? 2 * kDay : 4000);
    const std::int64_t split = source.Between(0, span - tail);
    const auto time = [](std::int64_t steps) {
      return static_cast<std::int32_t>(GameTimeOrigin + steps);
    };
    const GameDateRec whole = AdvanceGameDate(start, time(span));
    const GameDateRec before_tail = AdvanceGameDate(start, time(span - tail));
    const GameDateRec chained =
        AdvanceGameDate(AdvanceGameDate(start, time(split)), time(span - tail - split));
    EXPECT_EQ(chained, before_tail) << ::testing::PrintToString(start) << " split " << split;
    EXPECT_EQ(StepGameDate(before_tail, time(tail)), whole)
        << ::testing::PrintToString(start) << " span " << span << " tail " << tail;
  }
}

}  // namespace
}  // namespace testing
}  // namespace tarveld
