// The entry points end to end inside one process: host calls in, report
// bytes out, with a fake executable path and clock and the real file system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "plugin/exports.h"
#include "plugin/session.h"
#include "report/format_settings.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Counts rewrites and can fail the N-th one (1-based) or every read.
class CountingPlatform : public FakePlatform {
 public:
  int replace_calls = 0;
  int fail_replace_call = 0;
  platform::IoStatus fail_status = platform::IoStatus::kCreateFailed;
  bool fail_reads = false;

  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    ++replace_calls;
    if (replace_calls == fail_replace_call)
      return {fail_status, 0};
    return FakePlatform::ReplaceFile(path, bytes);
  }
  platform::IoResult ReadFile(const std::string& path, std::string& bytes) override {
    if (fail_reads)
      return {platform::IoStatus::kOpenFailed, 0};
    return FakePlatform::ReadFile(path, bytes);
  }
};

// The local time of the fake clock, 2024-03-07 21:05:03.250, in the
// default regional settings.
constexpr char kNow[] = "3/7/24 21:05:03";

class EntryPointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.executable_path = dir_.File("host.exe");
    ProcessFormatSettings() = TFormatSettings{};
    ResetSession();
  }
  void TearDown() override { ResetSession(); }

  // A new run of the host: the module is loaded afresh.
  void RestartHost() { ResetSession(); }

  std::string Report() const { return ReadBytes(dir_.File("Tarveld.txt")); }

  void Scenario(std::uint32_t number, const char* name, const char* series, std::int32_t clock,
                const GameDateRec* start) {
    ScenLoad(0, number, name, 0, series, 0, clock, 0, start);
  }

  TempDir dir_;
  CountingPlatform fake_;
  ScopedPlatform installed_{fake_};
  CallerThreadWrites writes_;
};

TEST_F(EntryPointsTest, ConstantsNeedNoStateAndSurviveDLLFree) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(DLLVer(), 1);
    EXPECT_EQ(DLLVerInt(), 11);
    EXPECT_STREQ(DLLDesc(), "data collection for After Action Reports");
    EXPECT_EQ(DLLDesc(), DLLDesc());
    DLLFree();
  }
  EXPECT_EQ(fake_.replace_calls, 0);
}

// First and second play of a report, checked byte for byte after each call.
TEST_F(EntryPointsTest, TwoPlaysWriteTheReportExactly) {
  const GameDateRec first{1942, 5, 4, 6, 0, 0, 0};
  DLLInit(0);
  EXPECT_EQ(Report(), std::string("[Initial Start]\r\nActual Date = ") + kNow + "\r\n");

  Scenario(2, "ignored", "Convoy", 100000, &first);
  const std::string after_scenario = std::string("[Initial Start]\r\nActual Date=") + kNow +
                                     "\r\n\r\n[Session Start]\r\n"
                                     "Game Date=1942-05-04 06:00:00\r\n"
                                     "Game Time=100000\r\n"
                                     "Scenario =Convoy/Scen#3\r\n";
  EXPECT_EQ(Report(), after_scenario);
  EXPECT_EQ(fake_.replace_calls, 4);

  GameTime(100060, 7);
  MsgLog("M1");
  GameTime(100120, 7);
  MsgLog("M2");
  const std::string first_play = std::string("[Initial Start]\r\nActual Date=") + kNow +
                                 "\r\n\r\n[Session Start]\r\n"
                                 "Game Date=1942-05-04 06:00:00\r\n"
                                 "Game Time=100000\r\n"
                                 "Scenario=Convoy/Scen#3\r\n"
                                 "\r\n[log]\r\n"
                                 "100060=M1\r\n"
                                 "100120=M2\r\n";
  EXPECT_EQ(Report(), first_play);

  RestartHost();
  const GameDateRec second{1943, 1, 10, 12, 0, 0, 0};
  DLLInit(0);
  EXPECT_EQ(Report(), first_play);
  Scenario(0xFFFF, "Patrol", "ignored", 100000, &second);
  GameTime(100060, 0);
  MsgLog("M3");
  GameTime(100200, 0);
  MsgLog("M4");
  EXPECT_EQ(Report(), std::string("[Initial Start]\r\nActual Date=") + kNow +
                          "\r\n\r\n[Session Start]\r\n"
                          "Game Date=1942-05-04 06:00:00\r\n"
                          "Game Time=100000\r\n"
                          "Scenario=Convoy/Scen#3\r\n"
                          "Game Date=1943-01-10 12:00:00\r\n"
                          "Game Time=100000\r\n"
                          "Scenario=Patrol\r\n"
                          "\r\n[log]\r\n"
                          "100060=M3\r\n"
                          "100120=M2\r\n"
                          "100200=M4\r\n");
}

TEST_F(EntryPointsTest, DLLInitLeavesAnExistingReportAlone) {
  WriteBytes(dir_.File("Tarveld.txt"), "[x]\nkept as it is \n");
  const auto before = std::filesystem::last_write_time(dir_.File("Tarveld.txt"));
  DLLInit(0);
  DLLInit(0);
  EXPECT_EQ(Report(), "[x]\nkept as it is \n");
  EXPECT_EQ(std::filesystem::last_write_time(dir_.File("Tarveld.txt")), before);
  EXPECT_EQ(fake_.replace_calls, 0);
  EXPECT_EQ(Writer().StoreForTesting(), nullptr);
}

TEST_F(EntryPointsTest, SecondDLLInitAfterCreatingWritesNothing) {
  DLLInit(0);
  DLLInit(0);
  EXPECT_EQ(fake_.replace_calls, 1);
}

struct ScenarioCase {
  std::uint32_t slot;
  const char* name;
  const char* series;
  const char* line;  // the "Scenario" line as the last write leaves it
};

class ScenarioTextTest : public EntryPointsTest,
                         public ::testing::WithParamInterface<ScenarioCase> {};

TEST_P(ScenarioTextTest, RecordsTheScenarioText) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  Scenario(GetParam().slot, GetParam().name, GetParam().series, 100000, &start);
  EXPECT_THAT(Report(), HasSubstr(std::string("\r\n") + GetParam().line + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, ScenarioTextTest,
    ::testing::Values(ScenarioCase{0xFFFFFFFF, "Patrol", "Convoy", "Scenario =Patrol"},
                      ScenarioCase{0xFFFFFFFF, nullptr, "Convoy", "Scenario ="},
                      ScenarioCase{0, "Patrol", "Convoy", "Scenario =Convoy/Scen#1"},
                      ScenarioCase{32767, "Patrol", "Convoy", "Scenario =Convoy/Scen#32768"},
                      ScenarioCase{0xFFFE, "Patrol", "Convoy", "Scenario =Convoy/Scen#-1"},
                      ScenarioCase{0, "Patrol", nullptr, "Scenario =/Scen#1"},
                      // Only the low 16 bits of the slot count.
                      ScenarioCase{0x0000FFFF, "Patrol", "Convoy", "Scenario =Patrol"},
                      ScenarioCase{0xABCDFFFF, "Patrol", "Convoy", "Scenario =Patrol"},
                      ScenarioCase{0x00010002, "Patrol", "Convoy", "Scenario =Convoy/Scen#3"}));

TEST_F(EntryPointsTest, GameDateIsTheStartRecordAsGiven) {
  const struct {
    GameDateRec start;
    std::int32_t clock;
    const char* game_date;
    const char* game_time;
  } cases[] = {
      {{42, 1, 2, 3, 4, 5, 0}, 100000, "Game Date=0042-01-02 03:04:05", "Game Time=100000"},
      {{12345, 1, 2, 3, 4, 5, 0}, 100000, "Game Date=12345-01-02 03:04:05", "Game Time=100000"},
      {{1942, 6, 4, 4, 30, 0, 9}, 103600, "Game Date=1942-06-04 04:30:00", "Game Time=103600"},
      {{-7, 0, -1, 0, 0, 0, 0}, -5, "Game Date=-0007-00--01 00:00:00", "Game Time=-5"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir_.File("Tarveld.txt"));
    Scenario(1, "", "S", c.clock, &c.start);
    Scenario(1, "", "S", c.clock, &c.start);  // a second load trims the first one's lines
    EXPECT_THAT(Report(), HasSubstr(std::string("\r\n") + c.game_date + "\r\n" + c.game_time +
                                    "\r\nScenario=S/Scen#2\r\n"));
    EXPECT_EQ(Session().CurrentDate, c.start);
    EXPECT_EQ(Session().StartDate, &c.start);
  }
}

TEST_F(EntryPointsTest, EveryScenarioAddsThreeEntries) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  Scenario(0, "", "A", 100000, &start);
  Scenario(1, "", "B", 100500, &start);
  EXPECT_EQ(fake_.replace_calls, 6);
  EXPECT_EQ(Report(),
            "[Session Start]\r\n"
            "Game Date=1942-06-04 04:30:00\r\nGame Time=100000\r\nScenario=A/Scen#1\r\n"
            "Game Date=1942-06-04 04:30:00\r\nGame Time=100500\r\nScenario =B/Scen#2\r\n");
}

TEST_F(EntryPointsTest, MessagesAreKeyedByTheLatestClock) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  Scenario(0, "", "A", 100000, &start);
  const int rewrites = fake_.replace_calls;
  GameTime(100123, 1);
  EXPECT_EQ(fake_.replace_calls, rewrites);  // the clock alone touches no file
  MsgLog("first");
  MsgLog("second");  // same game time: replaces
  GameTime(-5, 0);
  MsgLog(nullptr);
  EXPECT_EQ(fake_.replace_calls, rewrites + 3);
  EXPECT_EQ(Session().LogKey, "-5");
  EXPECT_THAT(Report(), HasSubstr("[log]\r\n100123=second\r\n-5=\r\n"));
}

TEST_F(EntryPointsTest, MessageWithLineBreaksStaysOnOneLine) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  Scenario(0, "", "A", 100000, &start);
  MsgLog("one\r\ntwo\n[log]\rx=y");
  RestartHost();
  Scenario(0, "", "A", 100000, &start);
  EXPECT_THAT(Report(), HasSubstr("\r\n[log]\r\n100000=one two [log] x=y\r\n"));
}

TEST_F(EntryPointsTest, MessageWithoutAStoreOpensOne) {
  WriteBytes(dir_.File("Tarveld.txt"), "[Initial Start]\r\nActual Date=earlier\r\n");
  DLLInit(0);
  GameTime(100042, 0);
  MsgLog("before any scenario");
  EXPECT_EQ(
      Report(),
      "[Initial Start]\r\nActual Date=earlier\r\n\r\n[log]\r\n100042=before any scenario\r\n");
}

TEST_F(EntryPointsTest, NullStartRecordRecordsZeroDate) {
  Scenario(0, "", "A", 100000, nullptr);
  EXPECT_EQ(Session().StartDate, nullptr);
  EXPECT_EQ(Session().CurrentDate, GameDateRec{});
  EXPECT_THAT(Report(), HasSubstr("Game Date=0000-00-00 00:00:00\r\n"));
}

TEST_F(EntryPointsTest, ReportGoesNextToAnExecutableWithALongPath) {
  std::filesystem::path deep = dir_.path();
  for (int level = 0; level < 6; ++level)
    deep /= std::string(60, static_cast<char>('a' + level));
  std::filesystem::create_directories(deep);
  fake_.executable_path = (deep / "host.exe").string();
  ASSERT_GT(fake_.executable_path.size(), 300u);
  DLLInit(0);
  EXPECT_TRUE(std::filesystem::is_regular_file(deep / "Tarveld.txt"));
}

TEST_F(EntryPointsTest, ReportPathKeepsTheDirectorysOwnSeparator) {
  const struct {
    const char* executable;
    const char* report;
  } cases[] = {
      {"C:\\Games\\Host\\host.exe", "C:\\Games\\Host\\Tarveld.txt"},
      {"/games/host/host", "/games/host/Tarveld.txt"},
      {"C:host.exe", "C:Tarveld.txt"},
      {"host", "Tarveld.txt"},
      {"/mixed\\dir/sub\\host.exe", "/mixed\\dir/sub\\Tarveld.txt"},
  };
  for (const auto& c : cases) {
    fake_.executable_path = c.executable;
    EXPECT_EQ(ReportPath(), c.report);
  }
}

// Failures end the entry point at the failing step and never reach the host.
TEST_F(EntryPointsTest, DLLInitOnADirectoryKeepsTheNewStore) {
  std::filesystem::create_directory(dir_.File("Tarveld.txt"));
  DLLInit(0);
  ASSERT_NE(Writer().StoreForTesting(), nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("Tarveld.txt")));
  EXPECT_THAT(fake_.debug_lines, ElementsAre("DLLInit: EFCreateError: Unable to create file \"" +
                                             dir_.File("Tarveld.txt") + "\""));
}

TEST_F(EntryPointsTest, ScenLoadThatCannotReadKeepsThePreviousStore) {
  DLLInit(0);
  const TIniFile* previous = Writer().StoreForTesting();
  const std::string before = Report();
  fake_.fail_reads = true;
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  Scenario(0, "", "A", 100777, &start);
  EXPECT_EQ(Writer().StoreForTesting(), previous);
  EXPECT_EQ(Session().GameClock, 100777);
  EXPECT_EQ(Session().StartDate, &start);
  EXPECT_EQ(Report(), before);
  EXPECT_THAT(fake_.debug_lines, ElementsAre("ScenLoad: EFOpenError: Unable to open file \"" +
                                             dir_.File("Tarveld.txt") + "\""));
}

TEST_F(EntryPointsTest, ScenLoadStopsAtTheFailingWriteAndTheNextWriteCatchesUp) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  fake_.fail_replace_call = 2;
  fake_.fail_status = platform::IoStatus::kWriteFailed;
  Scenario(0, "", "A", 100000, &start);
  EXPECT_EQ(fake_.replace_calls, 2);  // the third write is not made
  EXPECT_EQ(Report(), "[Session Start]\r\nGame Date = 1942-06-04 04:30:00\r\n");
  EXPECT_THAT(fake_.debug_lines, ElementsAre("ScenLoad: EWriteError: Stream write error"));

  MsgLog("after");
  EXPECT_EQ(Report(),
            "[Session Start]\r\nGame Date=1942-06-04 04:30:00\r\nGame Time =100000\r\n"
            "\r\n[log]\r\n100000=after\r\n");
}

TEST_F(EntryPointsTest, MsgLogSetsItsKeyEvenWhenTheWriteFails) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  Scenario(0, "", "A", 100000, &start);
  fake_.fail_replace_call = fake_.replace_calls + 1;
  GameTime(100321, 0);
  MsgLog("lost for now");
  EXPECT_EQ(Session().LogKey, "100321");
  EXPECT_THAT(Report(), ::testing::Not(HasSubstr("lost for now")));
  ASSERT_EQ(fake_.debug_lines.size(), 1u);
  EXPECT_THAT(fake_.debug_lines[0], HasSubstr("MsgLog: EFCreateError: Unable to create file"));
}

}  // namespace
}  // namespace tarveld::testing
