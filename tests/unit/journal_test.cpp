// The battle journal: its line layout, and the lines the entry points
// append beside the report, with the report's and the journal's failures
// kept apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "plugin/exports.h"
#include "plugin/journal.h"
#include "plugin/session.h"
#include "report/format_settings.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

TEST(JournalLineTest, Layout) {
  const struct {
    const char* date;
    std::int32_t clock;
    JournalEvent event;
    const char* text;
    const char* line;
  } cases[] = {
      {"1942-06-04 04:30:00", 100000, JournalEvent::kScenario, "Start=x",
       "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=x"},
      {"1942-06-04 04:33:03", 100183, JournalEvent::kMessage, "Contact",
       "1942-06-04 04:33:03 | 00100183 | MESSAGE    | Contact"},
      {"1942-06-04 04:33:03", 100183, JournalEvent::kTimeFactor, "00100183: TimeFactor=4",
       "1942-06-04 04:33:03 | 00100183 | TIMEFACTOR | 00100183: TimeFactor=4"},
      {"1942-06-04 04:33:03", 100183, JournalEvent::kSinking, "t",
       "1942-06-04 04:33:03 | 00100183 | SINKING    | t"},
      // Padding keeps the columns; wider fields are kept whole.
      {"no start date", 7, JournalEvent::kMessage, "",
       "no start date       | 00000007 | MESSAGE    | "},
      {"12345-01-02 03:04:05", -5, JournalEvent::kMessage, "m",
       "12345-01-02 03:04:05 | -00000005 | MESSAGE    | m"},
      {"1942-06-04 04:30:00", 123456789, JournalEvent::kMessage, "m",
       "1942-06-04 04:30:00 | 123456789 | MESSAGE    | m"},
      // Texts keep their bytes, separators and blanks included; every line
      // break becomes one space, CR LF counting as one break.
      {"d", 1, JournalEvent::kMessage, "  a | b\t\x01\xff  ",
       "d                   | 00000001 | MESSAGE    |   a | b\t\x01\xff  "},
      {"d", 1, JournalEvent::kMessage, "one\r\ntwo\nthree\rfour\n\rfive\r\n",
       "d                   | 00000001 | MESSAGE    | one two three four  five "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JournalLine(c.date, c.clock, c.event, c.text), c.line) << c.text;
  }
}

TEST(JournalLineTest, DatesAndScenarioTexts) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  EXPECT_EQ(JournalDate(&start, 100183), "1942-06-04 04:33:03");
  EXPECT_EQ(JournalDate(&start, 100000), "1942-06-04 04:30:00");
  EXPECT_EQ(JournalDate(&start, -5), "1942-06-04 04:30:00");
  EXPECT_EQ(JournalDate(&start, 186400), "1942-06-05 04:30:00");
  EXPECT_EQ(JournalDate(nullptr, 100183), "no start date");

  EXPECT_EQ(ScenarioJournalText(&start, "Convoy/Scen#3"),
            "Start=1942-06-04 04:30:00, Scenario=Convoy/Scen#3");
  EXPECT_EQ(ScenarioJournalText(nullptr, "Patrol"), "Start=none, Scenario=Patrol");
}

// Can fail journal appends on cue, and counts them.
class FailingPlatform : public FakePlatform {
 public:
  platform::IoStatus fail_append = platform::IoStatus::kOk;
  int append_calls = 0;

  platform::IoResult AppendLine(const std::string& path, std::string_view line) override {
    ++append_calls;
    if (fail_append != platform::IoStatus::kOk)
      return {fail_append, 28};
    return FakePlatform::AppendLine(path, line);
  }
};

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseDirectory(dir_.path());
    ProcessFormatSettings() = TFormatSettings{};
    ResetSession();
  }
  void TearDown() override { ResetSession(); }

  void UseDirectory(const std::filesystem::path& dir) {
    fake_.executable_path = (dir / "host.exe").string();
  }
  std::string Journal() const { return ReadBytes(dir_.File("Tarveld.log")); }
  std::string Report() const { return ReadBytes(dir_.File("Tarveld.txt")); }

  TempDir dir_;
  FailingPlatform fake_;
  ScopedPlatform installed_{fake_};
  CallerThreadWrites writes_;
};

// A play with every kind of event, two messages in one game second and a
// message with line breaks.
void PlayEveryEvent(const GameDateRec* start) {
  DLLInit(0);
  ScenLoad(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, start);
  TimeFactor(4);
  GameTime(100183, 0);
  MsgLog("Contact");
  MsgLog("Contact\r\nbearing 270");
  UnitSink(0x1203, "Escort 2");
  UnitSink(255, nullptr);
  GameTime(186400, 0);
  MsgLog(nullptr);
}

constexpr char kEveryEventJournal[] =
    "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, "
    "Scenario=Convoy/Scen#3\r\n"
    "1942-06-04 04:30:00 | 00100000 | TIMEFACTOR | 00100000: TimeFactor=4\r\n"
    "1942-06-04 04:33:03 | 00100183 | MESSAGE    | Contact\r\n"
    "1942-06-04 04:33:03 | 00100183 | MESSAGE    | Contact bearing 270\r\n"
    "1942-06-04 04:33:03 | 00100183 | SINKING    | 00100183: GroupID=Escort 2, UnitID=03, "
    "Sinking\r\n"
    "1942-06-04 04:33:03 | 00100183 | SINKING    | 00100183: GroupID=, UnitID=255, Sinking\r\n"
    "1942-06-05 04:30:00 | 00186400 | MESSAGE    | \r\n";

TEST_F(JournalTest, EveryEventGetsItsLineInCallOrder) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  PlayEveryEvent(&start);
  EXPECT_EQ(Journal(), kEveryEventJournal);
  // The report keeps one message per game time; the journal keeps both.
  EXPECT_THAT(Report(), HasSubstr("[log]\r\n100183=Contact bearing 270\r\n186400=\r\n"));
  EXPECT_THAT(fake_.debug_lines, IsEmpty());
}

TEST_F(JournalTest, TheJournalIsOnlyEverAppendedTo) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  PlayEveryEvent(&start);
  ResetSession();  // a later run of the host
  PlayEveryEvent(&start);
  EXPECT_EQ(Journal(), std::string(kEveryEventJournal) + kEveryEventJournal);
}

TEST_F(JournalTest, WithoutAStartRecordTheDateSaysSo) {
  GameTime(100060, 0);
  MsgLog("before any scenario");
  ScenLoad(0, 0xFFFF, "Patrol", 0, nullptr, 0, 100123, 0, nullptr);
  TimeFactor(2);
  UnitSink(3, "Escort 2");
  EXPECT_EQ(Journal(),
            "no start date       | 00100060 | MESSAGE    | before any scenario\r\n"
            "no start date       | 00100123 | SCENARIO   | Start=none, Scenario=Patrol\r\n"
            "no start date       | 00100123 | TIMEFACTOR | 00100123: TimeFactor=2\r\n"
            "no start date       | 00100123 | SINKING    | 00100123: GroupID=Escort 2, "
            "UnitID=03, Sinking\r\n");
}

// The scenario line shows the start record as given and, in its date field,
// the date the scenario's game time stands for.
TEST_F(JournalTest, ScenarioLoadedLaterInTheGame) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  ScenLoad(0, 0, nullptr, 0, "Convoy", 0, 103600, 0, &start);
  EXPECT_EQ(Journal(),
            "1942-06-04 05:30:00 | 00103600 | SCENARIO   | Start=1942-06-04 04:30:00, "
            "Scenario=Convoy/Scen#1\r\n");
  EXPECT_THAT(Report(), HasSubstr("Game Date=1942-06-04 04:30:00\r\n"));
}

// Dating a line changes no session field: after a time factor or a
// message the date of the last sinking stands. The host's record is read
// only where the host keeps it readable, at ScenLoad and at each sinking:
// lines in between count from the copy taken then.
TEST_F(JournalTest, DatingALineChangesNoSessionField) {
  GameDateRec start{1942, 6, 4, 4, 30, 0, 5};
  ScenLoad(0, 0, nullptr, 0, "Convoy", 0, 100000, 0, &start);
  GameTime(100183, 0);
  UnitSink(3, "G");
  const GameDateRec sunk_at = Session().CurrentDate;
  const std::string sink_text = Session().SinkText;
  const TIniFile* store = Writer().StoreForTesting();

  start.Hour = 6;  // the host moves its record; the journal sees it at the next sinking
  GameTime(190000, 0);
  TimeFactor(8);
  MsgLog("later");
  EXPECT_EQ(Session().CurrentDate, sunk_at);
  EXPECT_EQ(Session().SinkText, sink_text);
  EXPECT_EQ(Session().SinkDateText, "1942-06-04 04:33:03");
  EXPECT_EQ(Session().TimeFactorText, "00190000: TimeFactor=8");
  EXPECT_EQ(Session().LogKey, "190000");
  EXPECT_EQ(Session().GameClock, 190000);
  EXPECT_EQ(Session().StartDate, &start);
  EXPECT_EQ(Writer().StoreForTesting(), store);
  EXPECT_EQ(start, (GameDateRec{1942, 6, 4, 6, 30, 0, 5}));
  UnitSink(4, "G");
  MsgLog("after the sinking");
  EXPECT_THAT(Journal(), HasSubstr("\r\n1942-06-05 05:30:00 | 00190000 | TIMEFACTOR | "
                                   "00190000: TimeFactor=8\r\n"
                                   "1942-06-05 05:30:00 | 00190000 | MESSAGE    | later\r\n"
                                   "1942-06-05 07:30:00 | 00190000 | SINKING    | "
                                   "00190000: GroupID=G, UnitID=04, Sinking\r\n"
                                   "1942-06-05 07:30:00 | 00190000 | MESSAGE    | after the "
                                   "sinking\r\n"));
}

// A host may free or reuse its record between the calls that read it. With
// the record's page unreadable, messages and time factors are still
// journalled, dated from the copy; touching the page would end the process.
TEST_F(JournalTest, MessagesNeverReadTheHostsRecord) {
  const long page = sysconf(_SC_PAGESIZE);
  void* memory = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* start = new (memory) GameDateRec{1942, 6, 4, 4, 30, 0, 0};
  ScenLoad(0, 0, nullptr, 0, "Convoy", 0, 100000, 0, start);
  GameTime(100060, 0);
  UnitSink(3, "G");
  ASSERT_EQ(mprotect(memory, page, PROT_NONE), 0);
  GameTime(100120, 0);
  MsgLog("record freed");
  TimeFactor(2);
  ASSERT_EQ(mprotect(memory, page, PROT_READ | PROT_WRITE), 0);
  munmap(memory, page);
  EXPECT_THAT(Journal(), HasSubstr("1942-06-04 04:32:00 | 00100120 | MESSAGE    | record freed\r\n"
                                   "1942-06-04 04:32:00 | 00100120 | TIMEFACTOR | "));
}

// A journal that cannot be written costs the report nothing: its bytes are
// those of a play whose journal could be written.
TEST_F(JournalTest, UnwritableJournalLeavesTheReportAsItWouldBe) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  PlayEveryEvent(&start);
  const std::string report = Report();

  TempDir other;
  UseDirectory(other.path());
  ResetSession();
  std::filesystem::create_directory(other.File("Tarveld.log"));
  PlayEveryEvent(&start);
  EXPECT_EQ(ReadBytes(other.File("Tarveld.txt")), report);
  EXPECT_TRUE(std::filesystem::is_directory(other.File("Tarveld.log")));
  const std::string failure = ": journal: EFCreateError: Unable to open file \"" +
                              other.File("Tarveld.log") + "\" for appending (system error ";
  ASSERT_EQ(fake_.debug_lines.size(), 7u);
  EXPECT_THAT(fake_.debug_lines[0], StartsWith("ScenLoad" + failure));
  EXPECT_THAT(fake_.debug_lines[1], StartsWith("TimeFactor" + failure));
  EXPECT_THAT(fake_.debug_lines[2], StartsWith("MsgLog" + failure));
  EXPECT_THAT(fake_.debug_lines[4], StartsWith("UnitSink" + failure));
}

TEST_F(JournalTest, FailedAppendIsNamedAndTheNextOneIsMade) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  ScenLoad(0, 0, nullptr, 0, "Convoy", 0, 100000, 0, &start);
  fake_.fail_append = platform::IoStatus::kWriteFailed;
  MsgLog("lost from the journal");
  fake_.fail_append = platform::IoStatus::kOk;
  MsgLog("kept");
  EXPECT_THAT(Report(), HasSubstr("100000=kept\r\n"));
  EXPECT_THAT(fake_.debug_lines,
              ElementsAre("MsgLog: journal: EWriteError: Unable to append to file \"" +
                          dir_.File("Tarveld.log") + "\" (system error 28)"));
  EXPECT_THAT(Journal(), ::testing::EndsWith("| MESSAGE    | kept\r\n"));
  EXPECT_EQ(fake_.append_calls, 3);
}

// The reverse: a report that cannot be written costs the journal nothing.
TEST_F(JournalTest, UnwritableReportLeavesTheJournalWhole) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  std::filesystem::create_directory(dir_.File("Tarveld.txt"));
  PlayEveryEvent(&start);
  EXPECT_EQ(Journal(), kEveryEventJournal);
  EXPECT_THAT(
      fake_.debug_lines,
      ElementsAre(StartsWith("DLLInit: EFCreateError"), StartsWith("ScenLoad: EFCreateError"),
                  StartsWith("MsgLog: EFCreateError"), StartsWith("MsgLog: EFCreateError"),
                  StartsWith("MsgLog: EFCreateError")));
}

// A line cut short by a crash is ended before the next line, never
// continued by it.
TEST_F(JournalTest, PartialLastLineIsEndedBeforeTheNextLine) {
  const struct {
    const char* before;
    const char* joint;
  } cases[] = {
      {"1942-06-04 04:30:00 | 0010", "\r\n"},
      {"whole\r\n1942-06-04 04:30:00 | 00100000 | MESSAGE    | Cont", "\r\n"},
      {"whole\r\nwhole but for its LF\r", "\n"},
      {"a line that ends in LF only\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    WriteBytes(dir_.File("Tarveld.log"), c.before);
    GameTime(100060, 0);
    MsgLog("next");
    EXPECT_EQ(Journal(), std::string(c.before) + c.joint +
                             "no start date       | 00100060 | MESSAGE    | next\r\n")
        << c.before;
  }
}

}  // namespace
}  // namespace tarveld::testing
