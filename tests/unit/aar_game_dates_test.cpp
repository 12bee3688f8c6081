// Game dates in tarveld-aar: the dates it accepts are real days, and the
// seconds it places events by come back as the same text.
#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "aar/game_dates.h"

namespace tarveld::aar {
namespace {

TEST(AarGameDates, RefusesWhatIsNoDayOrNotInTheLayout) {
  const char* const refused[] = {
      "1900-02-29 00:00:00",  // 1900 is no leap year
      "1942-13-01 00:00:00", "1942-00-10 00:00:00", "1942-04-31 00:00:00", "1942-06-04 24:00:00",
      "1942-06-04 23:60:00", "1942-06-04 23:59:60",
      "0000-00-00 00:00:00",  // what the report records without a date record
      "1942-06-04 04:30",    "1942-06-04T04:30:00", "942-06-04 04:30:00",  "",
  };
  for (const char* text : refused)
    EXPECT_EQ(DateSeconds(text), std::nullopt) << text;
  EXPECT_TRUE(DateSeconds("2000-02-29 23:59:59"));
  EXPECT_TRUE(DateSeconds("-0044-03-15 12:00:00"));
}

// Every day of a few centuries, both ways, at the first and last second.
TEST(AarGameDates, DateTextGivesBackTheDateItWasMadeFrom) {
  const std::int64_t first = *DateSeconds("1799-12-31 00:00:00");
  const std::int64_t last = *DateSeconds("2101-01-01 00:00:00");
  std::optional<std::int64_t> previous;
  for (std::int64_t day = first; day <= last; day += 86400) {
    for (const std::int64_t second : {day, day + 86399}) {
      const std::string text = DateText(second);
      ASSERT_EQ(DateSeconds(text), second) << text;
    }
    if (previous) {
      ASSERT_NE(DateText(day).substr(0, 10), DateText(*previous).substr(0, 10));
    }
    previous = day;
  }
  EXPECT_EQ(DateText(*DateSeconds("12345-06-07 08:09:10")), "12345-06-07 08:09:10");
}

}  // namespace
}  // namespace tarveld::aar
