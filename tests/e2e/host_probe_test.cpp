// The host binary against a probe library that prints every argument it
// receives: what reaches the entry points, in which order, and what the
// host does when the library or a call fails.
#include <gtest/gtest.h>

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

TEST_F(HostProbe, CheckReadsTheScriptAndCallsNothing) {
  const HostRun run = Replay("record r = 1942-01-01 00:00:00\nDLLInit 0\nDLLFree\n", {"--check"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "s.session: 3 steps, 1 records\n");
  EXPECT_FALSE(fs::exists(OutDir()));
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
      {{"missing.session"}, "tarveld-replay: cannot read missing.session"},
      {{"."}, "tarveld-replay: cannot read ."},
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
