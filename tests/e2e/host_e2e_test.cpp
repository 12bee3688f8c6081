// The real host binary driving the real plug-in library, found by the host
// next to itself: the report a session leaves, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "host_process.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;

// The worked example of a report's life: a first play that begins the
// report, and a second play in a later run that adds a session and
// replaces one message.
constexpr const char* kFirstPlay =
    "record start = 1942-05-04 06:00:00\n"
    "DLLInit 0\n"
    "ScenLoad 0 -1 \"Coral Sea\" 0 null 0 100000 0 start\n"
    "GameTime 100060 0\n"
    "MsgLog \"Carrier group sighted\"\n"
    "GameTime 100120 0\n"
    "MsgLog \"Strike launched\"\n"
    "DLLFree\n";
constexpr const char* kSecondPlay =
    "record start = 1943-01-10 12:00:00 extra 3\n"
    "DLLInit 0\n"
    "ScenLoad 0 2 null 0 \"Convoy\" 0 100000 0 start\n"
    "GameTime 100060 0\n"
    "MsgLog \"Escort detached\"\n"
    "GameTime 100200 0\n"
    "MsgLog \"Convoy scattered\"\n"
    "DLLFree\n";

// The report's lines after the first play, T standing for the date text.
std::string FirstPlayReport(const std::string& t) {
  return "[Initial Start]\r\n"
         "Actual Date=" +
         t +
         "\r\n"
         "\r\n"
         "[Session Start]\r\n"
         "Game Date=1942-05-04 06:00:00\r\n"
         "Game Time=100000\r\n"
         "Scenario=Coral Sea\r\n"
         "\r\n"
         "[log]\r\n"
         "100060=Carrier group sighted\r\n"
         "100120=Strike launched\r\n";
}

class HostE2E : public ::testing::Test {
 protected:
  HostRun Replay(const std::string& script, std::vector<std::string> extra = {}) {
    WriteBytes(scratch_.path() / "s.session", script);
    std::vector<std::string> arguments = {"--dir", OutDir().string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("s.session");
    return RunProgram(TARVELD_REPLAY, arguments, scratch_.path());
  }
  HostRun ReplayExample(const std::string& name) {
    return RunProgram(TARVELD_REPLAY,
                      {"--dir", OutDir().string(), std::string(TARVELD_EXAMPLES) + "/" + name},
                      scratch_.path());
  }
  fs::path OutDir() const { return scratch_.path() / "out"; }
  fs::path ReportPath() const { return OutDir() / "Tarveld.txt"; }
  std::string Report() const { return ReadBytes(ReportPath()); }
  std::string ReportLine() const {
    return "report: " + (fs::canonical(OutDir()) / "Tarveld.txt").string() + "\n";
  }
  std::string JournalLine(bool present = true) const {
    return "journal: " + (fs::canonical(OutDir()) / "Tarveld.log").string() +
           (present ? "\n" : " (none)\n");
  }

  TempDir scratch_;
};

// The "Actual Date" text of `report`, checked to be the local date-time
// text, in the C locale's default picture (m/d/yy h:nn:ss, the time left
// out at midnight), of a moment from `before` to `after`.
std::string ActualDateText(const std::string& report, std::time_t before, std::time_t after) {
  static const std::regex kLine(
      "Actual Date=((\\d{1,2})/(\\d{1,2})/(\\d{2})(?: (\\d{1,2}):(\\d{2}):(\\d{2}))?)\r\n");
  std::smatch match;
  if (!std::regex_search(report, match, kLine)) {
    ADD_FAILURE() << "no Actual Date line of the expected shape in:\n" << report;
    return "";
  }
  std::tm moment{};
  moment.tm_mon = std::stoi(match[2]) - 1;
  moment.tm_mday = std::stoi(match[3]);
  moment.tm_year = 2000 + std::stoi(match[4]) - 1900;
  if (match[5].matched) {
    moment.tm_hour = std::stoi(match[5]);
    moment.tm_min = std::stoi(match[6]);
    moment.tm_sec = std::stoi(match[7]);
  }
  moment.tm_isdst = -1;
  const std::time_t when = std::mktime(&moment);
  EXPECT_GE(when, before - 1) << match[1];
  EXPECT_LE(when, after + 1) << match[1];
  return match[1];
}

TEST_F(HostE2E, FirstPlayBeginsTheReport) {
  const std::time_t before = std::time(nullptr);
  const HostRun run = Replay(kFirstPlay);
  const std::time_t after = std::time(nullptr);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, ReportLine() + JournalLine());
  const std::string report = Report();
  EXPECT_EQ(report, FirstPlayReport(ActualDateText(report, before, after)));
}

TEST_F(HostE2E, SecondPlayAddsASessionAndReplacesMessagesAtEqualTimes) {
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(Replay(kFirstPlay).status, 0);
  const std::time_t after = std::time(nullptr);
  const std::string t = ActualDateText(Report(), before, after);

  const HostRun run = Replay(kSecondPlay);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Report(),
            "[Initial Start]\r\n"
            "Actual Date=" +
                t +
                "\r\n"
                "\r\n"
                "[Session Start]\r\n"
                "Game Date=1942-05-04 06:00:00\r\n"
                "Game Time=100000\r\n"
                "Scenario=Coral Sea\r\n"
                "Game Date=1943-01-10 12:00:00\r\n"
                "Game Time=100000\r\n"
                "Scenario=Convoy/Scen#3\r\n"
                "\r\n"
                "[log]\r\n"
                "100060=Escort detached\r\n"
                "100120=Strike launched\r\n"
                "100200=Convoy scattered\r\n");
}

TEST_F(HostE2E, ScenarioSlotOf65535CountsAsNoNumber) {
  // Without a message after ScenLoad the entry just written keeps its key
  // as handed over, trailing blank included.
  const HostRun run = Replay(
      "record start = 1942-06-04 04:30:00\n"
      "DLLInit 0\n"
      "ScenLoad 0 65535 \"Patrol\" 0 \"Convoy\" 0 100000 0 start\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string report = Report();
  EXPECT_TRUE(report.ends_with("Game Time=100000\r\nScenario =Patrol\r\n")) << report;
}

TEST_F(HostE2E, VersionsAndDescriptionArePrintedInAnyState) {
  const std::string kResults =
      "DLLVer = 1\nDLLVerInt = 11\nDLLDesc = \"data collection for After Action Reports\"\n";
  const HostRun run = Replay(
      "DLLVer\nDLLVerInt\nDLLDesc\n"
      "DLLInit 0\n"
      "DLLVer\nDLLVerInt\nDLLDesc\n"
      "DLLFree\n"
      "DLLVer\nDLLVerInt\nDLLDesc\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kResults + kResults + kResults + ReportLine() + JournalLine(false));
}

TEST_F(HostE2E, PrintReportShowsTheReportsAndTheJournalsBytes) {
  const HostRun run = Replay(kFirstPlay, {"--print-report"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            ReportLine() + Report() + JournalLine() + ReadBytes(OutDir() / "Tarveld.log"));
}

TEST_F(HostE2E, ScriptErrorsAreReportedAndNothingIsWritten) {
  const std::string kGoodStart =
      "record start = 1942-05-04 06:00:00\n"
      "DLLInit 0\n"
      "ScenLoad 0 -1 \"Coral Sea\" 0 null 0 100000 0 start\n";
  const struct {
    const char* bad_line;
    const char* message;
  } kCases[] = {
      {"MsgLogg \"Contact\"", "s.session:4:1: unknown call 'MsgLogg'"},
      {"GameTime 100060", "s.session:4:16: GameTime takes 2 arguments, got 1"},
      {"MsgLog \"Contact\\a\"", "s.session:4:16: unknown escape '\\a'"},
      {"ScenLoad 0 -1 \"x\" 0 null 0 100000 0 strat", "s.session:4:37: unknown record 'strat'"},
  };
  for (const auto& c : kCases) {
    const HostRun run = Replay(kGoodStart + c.bad_line + "\nMsgLog \"after\"\n");
    EXPECT_EQ(run.status, 2) << c.bad_line;
    EXPECT_EQ(run.err, std::string(c.message) + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(ReportPath())) << c.bad_line;
  }
}

TEST_F(HostE2E, ExamplesReplayInOrderOnOneDirectory) {
  for (const char* name : {"first-play.session", "second-play.session"}) {
    const HostRun run = ReplayExample(name);
    ASSERT_EQ(run.status, 0) << name << "\n" << run.err;
    EXPECT_EQ(run.err, "") << name;
  }
  const std::string report = Report();
  auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = report.find(what); at != std::string::npos;
         at = report.find(what, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count("\r\nGame Date="), 2u) << report;
  EXPECT_EQ(count("\r\nScenario="), 2u) << report;
  EXPECT_EQ(count("[Initial Start]"), 1u) << report;
}

// The plug-in finds its folder from the path of the host's executable, which
// the system hands over in a buffer that must grow until the path fits. A
// path cut short still names a folder, one or more levels up, and the files
// would land there without a word. Folders of 60 bytes take the host's path
// well past 256 bytes.
TEST_F(HostE2E, FilesLandBesideAHostWhosePathIsLong) {
  fs::path dir = fs::absolute(scratch_.path());
  for (char level = 'a'; dir.string().size() <= 300; ++level)
    dir /= std::string(60, level);
  const HostRun run = RunProgram(
      TARVELD_REPLAY, {"--dir", dir.string(), std::string(TARVELD_EXAMPLES) + "/first-play.session"},
      scratch_.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Both files, in that folder and in no other.
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(scratch_.path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("Tarveld."))
      found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<fs::path>{dir / "Tarveld.log", dir / "Tarveld.txt"}));
  EXPECT_TRUE(ReadBytes(dir / "Tarveld.txt").starts_with("[Initial Start]\r\nActual Date="));
}

TEST_F(HostE2E, EveryExampleReplaysOnAFreshDirectory) {
  for (const auto& entry : fs::directory_iterator(TARVELD_EXAMPLES)) {
    if (entry.path().extension() != ".session")
      continue;
    fs::remove_all(OutDir());
    const HostRun run = ReplayExample(entry.path().filename().string());
    EXPECT_EQ(run.status, 0) << entry.path() << "\n" << run.err;
    EXPECT_EQ(run.err, "") << entry.path();
    EXPECT_TRUE(Report().starts_with("[Initial Start]\r\nActual Date=")) << entry.path();
  }
}

}  // namespace
}  // namespace tarveld::testing
