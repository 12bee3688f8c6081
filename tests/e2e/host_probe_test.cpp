// The host binary against a probe library that prints every argument it
// receives: what reaches the entry points, in which order, and what the
// host does when the library or a call fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host_process.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;

class HostProbe : public ::testing::Test {
 protected:
  // Writes `script` and replays it with `extra` options into scratch/out.
  HostRun Replay(const std::string& script, std::vector<std::string> extra = {},
                 const std::string& plugin = TARVELD_PROBE) {
    WriteBytes(scratch_.path() / "s.session", script);
    std::vector<std::string> arguments = {"--plugin", plugin, "--dir", OutDir().string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("s.session");
    return RunProgram(TARVELD_REPLAY, arguments, scratch_.path());
  }
  fs::path OutDir() const { return scratch_.path() / "out"; }
  // The report and journal lines the host prints, for a run that wrote
  // neither.
  std::string NoReportLine() const {
    const fs::path dir = fs::canonical(OutDir());
    return "report: " + (dir / "Tarveld.txt").string() + " (none)\n" +
           "journal: " + (dir / "Tarveld.log").string() + " (none)\n";
  }

  TempDir scratch_;
};

TEST_F(HostProbe, PassesRawSlotsTextsAndTheLiveRecord) {
  const HostRun run = Replay(
      "record start = 1942-06-04 04:30:00 extra 5\n"
      "DLLInit 0xDEADBEEF\n"
      "DLLVer\n"
      "DLLVerInt\n"
      "DLLDesc\n"
      "ScenLoad 0xFFFFFFFF 65535 \"Patrol\\n\" 0x1FF null -1 100000 -2 start\n"
      "GameTime 100183 7\n"
      "TimeFactor -4\n"
      "UnitSink 0x1203 \"Escort 2\"\n"
      "set start.Minute = 31\n"
      "set start = 1943-01-10 12:00:00\n"
      "UnitSink 3 null\n"
      "MsgLog \"\\x01\\xFF\\\"\\\\\"\n"
      "DLLFree\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "probe: DLLInit DEADBEEF\n"
            "DLLVer = 7\n"
            "DLLVerInt = 65535\n"
            "DLLDesc = \"probe \\\"desc\\\"\\t\\x01\"\n"
            "probe: ScenLoad FFFFFFFF 0000FFFF name=[506174726F6C0A] 000001FF series=null "
            "FFFFFFFF 000186A0 FFFFFFFE record=1942-6-4 4:30:0 extra 5\n"
            "probe: GameTime 00018757 00000007\n"
            "probe: TimeFactor FFFFFFFC\n"
            "probe: UnitSink 00001203 group=[4573636F72742032] record=1942-6-4 4:30:0 extra 5\n"
            // The plug-in reads the record it was given, as changed since.
            "probe: UnitSink 00000003 group=null record=1943-1-10 12:0:0 extra 5\n"
            "probe: MsgLog message=[01FF225C]\n"
            "probe: DLLFree\n" +
                NoReportLine());
  EXPECT_EQ(run.status, 0);
}

TEST_F(HostProbe, RunsFromItsCopyInTheChosenDirectory) {
  const HostRun run = Replay("DLLVer\n", {"--trace"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "1: DLLVer\nDLLVer = 7\n" + NoReportLine());
  EXPECT_TRUE(fs::is_regular_file(OutDir() / "tarveld-replay"));
  // A second run replaces the copy that is there.
  EXPECT_EQ(Replay("DLLVer\n").status, 0);
}

TEST_F(HostProbe, LibraryLackingACalledEntryPointIsNamedAndNothingIsCalled) {
  const HostRun run = Replay(
      "DLLInit 0\n"
      "MsgLog \"x\"\n"
      "UnitSink 1 null\n"
      "MsgLog \"y\"\n",
      {}, TARVELD_PROBE_PARTIAL);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");  // not even DLLInit ran
  EXPECT_EQ(run.err, std::string("tarveld-replay: ") + TARVELD_PROBE_PARTIAL +
                         " has no entry point MsgLog (called on line 2)\n"
                         "tarveld-replay: " +
                         TARVELD_PROBE_PARTIAL +
                         " has no entry point UnitSink (called on line 3)\n");
}

TEST_F(HostProbe, LibraryNeedsOnlyTheEntryPointsTheScriptCalls) {
  const HostRun run = Replay("DLLInit 0\nTimeFactor 2\n", {}, TARVELD_PROBE_PARTIAL);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "probe: DLLInit 00000000\nprobe: TimeFactor 00000002\n" + NoReportLine());
}

TEST_F(HostProbe, MissingLibraryIsALoadFailure) {
  const std::string missing = (scratch_.path() / "no-such-library.so").string();
  const HostRun run = Replay("DLLVer\n", {}, missing);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(run.err.starts_with("tarveld-replay: cannot load the plug-in: " + missing))
      << run.err;
}

TEST_F(HostProbe, CallEndedByAnExceptionStopsTheReplay) {
  const HostRun run = Replay("DLLInit 0\nMsgLog \"throw\"\nDLLFree\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "probe: DLLInit 00000000\n" + NoReportLine());
  EXPECT_EQ(run.err,
            "tarveld-replay: s.session: line 2: MsgLog ended by an exception: probe failure\n");
}

TEST_F(HostProbe, BadScriptCallsNothingAndCreatesNothing) {
  const HostRun run = Replay("DLLInit 0\nMsgLog \"a\" \"b\"\nGameTime x 0\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "s.session:2:12: MsgLog takes 1 argument, got 2\n"
            "s.session:3:10: GameTime argument 1 (game time) takes an integer\n");
  EXPECT_FALSE(fs::exists(OutDir()));
}

TEST_F(HostProbe, CheckCountsStepsAndRecordsAndCallsNothing) {
  const struct {
    const char* script;
    const char* summary;
  } kCases[] = {
      {"", "s.session: 0 steps, 0 records\n"},
      {"record r = 1942-01-01 00:00:00\n", "s.session: 1 step, 1 record\n"},
      {"record r = 1942-01-01 00:00:00\nDLLInit 0\nDLLFree\n", "s.session: 3 steps, 1 record\n"},
      {"record r = 1942-01-01 00:00:00\nrecord q = 1943-01-01 00:00:00\nDLLVer\n",
       "s.session: 3 steps, 2 records\n"},
  };
  for (const auto& c : kCases) {
    const HostRun run = Replay(c.script, {"--check"});
    EXPECT_EQ(run.status, 0) << c.script;
    EXPECT_EQ(run.out, c.summary);
    EXPECT_FALSE(fs::exists(OutDir())) << c.script;
  }
}

// The player is told why the script could not be read, in the system's
// words, not only that it could not.
TEST_F(HostProbe, UnreadableScriptGivesTheSystemsReason) {
  WriteBytes(scratch_.path() / "locked.session", "DLLVer\n");
  fs::permissions(scratch_.path() / "locked.session", fs::perms::none);
  // Root reads a file whatever its mode; a write-only control file of the
  // kernel's refuses even root.
  const std::string refused = ::geteuid() == 0 ? "/proc/sys/vm/drop_caches" : "locked.session";
  ASSERT_TRUE(fs::exists(scratch_.path() / refused));
  const struct {
    std::string script;
    const char* reason;
  } kCases[] = {
      {"missing.session", "No such file or directory"},
      {".", "Is a directory"},
      {refused, "Permission denied"},
  };
  for (const auto& c : kCases) {
    const HostRun run = RunProgram(TARVELD_REPLAY, {c.script}, scratch_.path());
    EXPECT_EQ(run.status, 2) << c.script;
    EXPECT_EQ(run.err, "tarveld-replay: cannot read \"" + c.script + "\": " + c.reason + "\n");
    EXPECT_EQ(run.out, "");
  }
}

// What a newcomer needs without the docs at hand: the exit codes, where the
// files go without --dir, and where the script's format is described.
TEST_F(HostProbe, HelpNamesExitCodesWhereFilesLandAndTheFormat) {
  for (const char* option : {"--help", "-h"}) {
    const HostRun run = RunProgram(TARVELD_REPLAY, {option}, scratch_.path());
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_EQ(run.err, "") << option;
    EXPECT_TRUE(run.out.starts_with("usage: tarveld-replay [options] SCRIPT\n")) << run.out;
    for (const char* part :
         {"docs/session-script.md", "without --dir", "next to this program", "Exit status: 0 "}) {
      EXPECT_NE(run.out.find(part), std::string::npos) << option << " lacks: " << part;
    }
  }
}

TEST_F(HostProbe, CommandLineMistakesAreUsageErrors) {
  const struct {
    std::vector<std::string> arguments;
    const char* first_line;
  } kCases[] = {
      {{}, "tarveld-replay: no script given"},
      {{"--bogus", "s.session"}, "tarveld-replay: unknown option --bogus"},
      {{"s.session", "t.session"}, "tarveld-replay: one script only (got s.session and t.session)"},
      {{"s.session", "--plugin"}, "tarveld-replay: --plugin needs a value"},
      {{"--trace=yes", "s.session"}, "tarveld-replay: --trace takes no value"},
  };
  WriteBytes(scratch_.path() / "s.session", "DLLVer\n");
  for (const auto& c : kCases) {
    const HostRun run = RunProgram(TARVELD_REPLAY, c.arguments, scratch_.path());
    EXPECT_EQ(run.status, 2) << c.first_line;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.first_line);
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
}  // namespace tarveld::testing
