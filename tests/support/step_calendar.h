// The game calendar as a literal loop of one-second steps: the reference that
// the constant-time AdvanceGameDate is checked and measured against. It costs
// one step per game second (about a second per 2^30 steps).
//
// It keeps its own twelve-entry month table, rewrites February at every day's
// end from the current Year, never reads outside the table (a Month outside
// 1..12 has no days), and increments with 32-bit two's-complement wrap-around.
#pragma once

#include <cstdint>

#include "plugin/game_date.h"

namespace tarveld::testing {

class StepCalendar {
 public:
  explicit StepCalendar(const GameDateRec& start) : date_(start) {}

  const GameDateRec& date() const { return date_; }

  void Run(std::int64_t steps) {
    for (; steps > 0; --steps) {
      Step();
    }
  }

  void Step() {
    if (Increment(date_.Second) <= 59) {
      return;
    }
    date_.Second = 0;
    if (Increment(date_.Minute) <= 59) {
      return;
    }
    date_.Minute = 0;
    if (Increment(date_.Hour) <= 23) {
      return;
    }
    date_.Hour = 0;
    Increment(date_.Day);
    const std::int32_t year = date_.Year;
    month_lengths_[1] = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0) ? 29 : 28;
    if (date_.Month >= 1 && date_.Month <= 12 && date_.Day <= month_lengths_[date_.Month - 1]) {
      return;
    }
    date_.Day = 1;
    if (Increment(date_.Month) <= 12) {
      return;
    }
    date_.Month = 1;
    Increment(date_.Year);
  }

 private:
  static std::int32_t Increment(std::int32_t& field) {
    field = static_cast<std::int32_t>(static_cast<std::uint32_t>(field) + 1u);
    return field;
  }

  GameDateRec date_;
  std::int32_t month_lengths_[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
};

// AdvanceGameDate by stepping: game_time - 100000 steps, none at or below
// 100000.
inline GameDateRec StepGameDate(const GameDateRec& start, std::int32_t game_time) {
  StepCalendar calendar(start);
  if (game_time > 100000) {
    calendar.Run(std::int64_t{game_time} - 100000);
  }
  return calendar.date();
}

}  // namespace tarveld::testing
