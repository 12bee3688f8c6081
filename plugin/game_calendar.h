// The game calendar: the date and time of day that a game time stands for.
//
// The host states a scenario's start date once and afterwards reports only a
// game time in seconds. The start date holds at GameTimeOrigin; each unit of
// game time above it is one second.
#pragma once

#include <cstdint>

#include "plugin/game_date.h"

namespace tarveld {

// The game time at which the start record holds.
inline constexpr std::int32_t GameTimeOrigin = 100000;

// The Gregorian rule: divisible by 4, and not by 100 unless by 400. It tests
// remainders for zero, so it holds unchanged for year 0 and negative years:
// 0, -4 and -400 are leap years, -100 is not.
bool IsLeapYear(std::int32_t year) noexcept;

// The start record carried forward to `game_time`.
//
// The result is defined as the outcome of game_time - GameTimeOrigin
// one-second steps on a copy of `start` (none when game_time <= GameTimeOrigin,
// which returns `start` unchanged). One step:
//
//   Second += 1; if Second <= 59, done.
//   Second = 0, Minute += 1; if Minute <= 59, done.
//   Minute = 0, Hour += 1; if Hour <= 23, done.
//   Day's end: Hour = 0, Day += 1; if Month is 1..12 and Day is no greater than
//     the length of that month (February by the leap rule of the current Year),
//     done.
//   Day = 1, Month += 1; if Month <= 12, done.
//   Month = 1, Year += 1.
//
// Fields are not validated. Only upper limits are tested, and a field only when
// a carry reaches it, so a field above its range is reset by the first carry
// that reaches it (Second 75 plus one second is Second 0 and the next minute)
// and a field below its range counts up through it (Second -1 plus one second
// is Second 0, with no carry; Day 0 at a day's end becomes Day 1).
//
// A Month outside 1..12 has no days: at any day's end reached in it, whatever
// Day holds, Day becomes 1 and Month rises by one. Month 13 and above thus give
// January of the next year at the first day's end; Month 0 and below count up
// one month per day's end to January of the same year.
//
// Every "+= 1" wraps around in 32-bit two's complement: 2147483647 + 1 is
// -2147483648. So a field at INT32_MAX that a carry reaches becomes INT32_MIN
// (and, being within its limit, ends the step), and Year 2147483647 is followed
// by year -2147483648 (a leap year).
//
// Computed in constant time, without stepping. `Extra` is copied unchanged.
// Every field of `start` is read before any part of the result is formed, so
// the result may be stored over `start`. Pure and re-entrant; allocates nothing.
GameDateRec AdvanceGameDate(const GameDateRec& start, std::int32_t game_time) noexcept;

}  // namespace tarveld
