// Time-factor and sinking reports through the entry points.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "plugin/exports.h"
#include "plugin/session.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

class EventTextsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.executable_path = dir_.File("host.exe");
    ResetSession();
  }
  void TearDown() override { ResetSession(); }

  void LoadAt(std::int32_t clock, const GameDateRec* start) {
    ScenLoad(0, 0, "", 0, "Convoy", 0, clock, 0, start);
  }

  TempDir dir_;
  FakePlatform fake_;
  ScopedPlatform installed_{fake_};
  CallerThreadWrites writes_;  // one test compares the report on disk
};

TEST_F(EventTextsTest, TimeFactorTexts) {
  const struct {
    std::int32_t clock;
    std::int32_t factor;
    const char* text;
  } cases[] = {
      {100123, 4, "00100123: TimeFactor=4"},
      {100123, -2, "00100123: TimeFactor=-2"},
      {100000, 16, "00100000: TimeFactor=16"},
      {123456789, 4, "123456789: TimeFactor=4"},
      {-5, 4, "-00000005: TimeFactor=4"},
      {INT32_MIN, INT32_MIN, "-2147483648: TimeFactor=-2147483648"},
  };
  for (const auto& c : cases) {
    GameTime(c.clock, 0);
    TimeFactor(c.factor);
    EXPECT_EQ(Session().TimeFactorText, c.text);
  }
}

TEST_F(EventTextsTest, SinkTexts) {
  const struct {
    std::uint32_t unit_slot;
    const char* group;
    const char* text;
  } cases[] = {
      {3, "Escort 2", "00100123: GroupID=Escort 2, UnitID=03, Sinking"},
      {255, "Escort 2", "00100123: GroupID=Escort 2, UnitID=255, Sinking"},
      {3, nullptr, "00100123: GroupID=, UnitID=03, Sinking"},
      {0, "", "00100123: GroupID=, UnitID=00, Sinking"},
      // Only the low 8 bits of the slot count.
      {0x12345603, "TF-2", "00100123: GroupID=TF-2, UnitID=03, Sinking"},
      {0xFFFFFFFF, "TF-2", "00100123: GroupID=TF-2, UnitID=255, Sinking"},
  };
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  LoadAt(100000, &start);
  GameTime(100123, 0);
  for (const auto& c : cases) {
    UnitSink(c.unit_slot, c.group);
    EXPECT_EQ(Session().SinkText, c.text);
  }
}

TEST_F(EventTextsTest, SinkingCarriesTheStartDateToTheClock) {
  const struct {
    std::int32_t clock;
    const char* date;
  } cases[] = {
      {100000, "1942-06-04 04:30:00"}, {99999, "1942-06-04 04:30:00"},  {-5, "1942-06-04 04:30:00"},
      {100183, "1942-06-04 04:33:03"}, {186400, "1942-06-05 04:30:00"},
  };
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 77};
  LoadAt(100000, &start);
  for (const auto& c : cases) {
    GameTime(c.clock, 0);
    UnitSink(1, "G");
    EXPECT_EQ(Session().SinkDateText, c.date);
    EXPECT_EQ(Session().CurrentDate.Extra, 77);
  }
}

TEST_F(EventTextsTest, SinkingReadsTheHostsRecordAfresh) {
  GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  LoadAt(100000, &start);
  GameTime(100183, 0);
  start.Day = 10;
  start.Extra = 5;
  UnitSink(1, "G");
  EXPECT_EQ(Session().SinkDateText, "1942-06-10 04:33:03");
  EXPECT_EQ(Session().CurrentDate, (GameDateRec{1942, 6, 10, 4, 33, 3, 5}));
  EXPECT_EQ(start, (GameDateRec{1942, 6, 10, 4, 30, 0, 5}));  // never written
}

TEST_F(EventTextsTest, EventsTouchNeitherClockNorReport) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  LoadAt(100000, &start);
  GameTime(100183, 9);
  const std::string report = ReadBytes(dir_.File("Tarveld.txt"));
  const TIniFile* store = Writer().StoreForTesting();
  TimeFactor(8);
  EXPECT_EQ(Session().CurrentDate, start);  // a time factor moves no date
  UnitSink(2, "G");
  TimeFactor(2);
  EXPECT_EQ(Session().GameClock, 100183);
  EXPECT_EQ(Session().ClockAux, 9);
  EXPECT_EQ(Writer().StoreForTesting(), store);
  EXPECT_EQ(ReadBytes(dir_.File("Tarveld.txt")), report);
}

// A sinking without a start record composes its text, keeps the date and
// leaves the date text empty instead of reading through a null reference.
TEST_F(EventTextsTest, SinkingWithoutAStartRecord) {
  GameTime(100123, 0);
  UnitSink(3, "Escort 2");
  EXPECT_EQ(Session().SinkText, "00100123: GroupID=Escort 2, UnitID=03, Sinking");
  EXPECT_EQ(Session().SinkDateText, "");
  EXPECT_EQ(Session().CurrentDate, GameDateRec{});

  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  LoadAt(100000, &start);
  GameTime(100183, 0);
  UnitSink(3, "Escort 2");
  ASSERT_EQ(Session().SinkDateText, "1942-06-04 04:33:03");

  LoadAt(100000, nullptr);
  EXPECT_EQ(Session().CurrentDate, GameDateRec{});
  UnitSink(4, "Escort 2");
  EXPECT_EQ(Session().SinkText, "00100000: GroupID=Escort 2, UnitID=04, Sinking");
  EXPECT_EQ(Session().SinkDateText, "");
  EXPECT_EQ(Session().CurrentDate, GameDateRec{});
}

}  // namespace
}  // namespace tarveld::testing
