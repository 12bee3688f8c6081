// The journal that the real plug-in keeps beside its report, driven by the
// real host: every event of every example in order, the report unchanged
// by it, and whole lines through crashes.
//
// The runs go to /dev/shm when there is one: the report's rewrites flush to
// disk, which on a disk makes the long engagement take seconds.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "host/script.h"
#include "host_process.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path Example(const std::string& name) {
  return fs::path(TARVELD_EXAMPLES) / name;
}

// A fresh directory, in memory when the system offers it, removed with its
// contents when the guard ends.
class FastScratch {
 public:
  FastScratch() {
    std::error_code error;
    const fs::path base =
        fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate = base / ("tarveld-journal-" + std::to_string(random()));
      if (fs::create_directory(candidate, error))
        path_ = candidate;
    }
    if (path_.empty())
      throw std::runtime_error("cannot create a scratch directory");
  }
  ~FastScratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  FastScratch(const FastScratch&) = delete;
  FastScratch& operator=(const FastScratch&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

HostRun Replay(const fs::path& dir, const fs::path& script,
               const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments = {"--dir", dir.string()};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  arguments.push_back(script.string());
  return RunProgram(TARVELD_REPLAY, arguments, dir.parent_path());
}

// The whole lines of `bytes`, each ended by CR LF; what follows the last
// CR LF goes to `tail`.
std::vector<std::string> WholeLines(const std::string& bytes, std::string* tail = nullptr) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(bytes.substr(at, end - at));
  if (tail != nullptr)
    *tail = bytes.substr(at);
  return lines;
}

// The report with its one moving part, the local time of its beginning,
// blanked.
std::string WithoutActualDate(std::string report) {
  const std::string key = "\r\nActual Date=";
  const std::size_t at = report.find(key);
  if (at != std::string::npos)
    report.erase(at + key.size(), report.find("\r\n", at + key.size()) - at - key.size());
  return report;
}

// ---------------------------------------------------------------------------
// The journal a script should leave, worked out from the script alone by
// the documented layout (docs/journal.md).

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width)
    text.append(width - text.size(), ' ');
  return text;
}

std::string GameTimeField(std::int32_t clock) {
  char text[16];
  std::snprintf(text, sizeof text, clock < 0 ? "-%08lld" : "%08lld",
                clock < 0 ? -static_cast<long long>(clock) : static_cast<long long>(clock));
  return text;
}

using Record = std::array<std::int32_t, host::kRecordFieldCount>;

std::string DateText(const Record& r) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", r[0], r[1], r[2], r[3], r[4],
                r[5]);
  return text;
}

// The start record moved on by the seconds after game time 100000, by the
// C library's UTC calendar (the examples hold proleptic Gregorian dates).
std::string DateAt(const Record& start, std::int32_t clock) {
  std::tm moment{};
  moment.tm_year = start[0] - 1900;
  moment.tm_mon = start[1] - 1;
  moment.tm_mday = start[2];
  moment.tm_hour = start[3];
  moment.tm_min = start[4];
  moment.tm_sec = start[5];
  std::time_t when = timegm(&moment);
  if (clock > 100000)
    when += clock - 100000;
  std::tm later{};
  gmtime_r(&when, &later);
  return DateText({later.tm_year + 1900, later.tm_mon + 1, later.tm_mday, later.tm_hour,
                   later.tm_min, later.tm_sec, 0});
}

std::string Flattened(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      out += text[i];
      continue;
    }
    out += ' ';
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
  }
  return out;
}

std::vector<std::string> ExpectedJournal(const std::string& script_text) {
  const host::ReadResult read = host::ReadScript(script_text);
  EXPECT_TRUE(read.ok());
  std::vector<Record> records(read.script.records.size(), Record{});
  std::int32_t clock = 0;
  int start = -1;
  std::string sink_date;
  std::vector<std::string> lines;
  auto date_now = [&] { return start < 0 ? "no start date" : DateAt(records[start], clock); };
  auto line = [&](const std::string& date, const char* kind, const std::string& text) {
    lines.push_back(Padded(date, 19) + " | " + GameTimeField(clock) + " | " + Padded(kind, 10) +
                    " | " + Flattened(text));
  };
  auto text = [](const host::Argument& argument) { return argument.text.value_or(""); };
  for (const host::Step& step : read.script.steps) {
    if (const auto* set = std::get_if<host::RecordAssignment>(&step.action)) {
      for (int field = 0; field < host::kRecordFieldCount; ++field) {
        if (set->fields[field])
          records[set->record][field] = *set->fields[field];
      }
      continue;
    }
    const auto& call = std::get<host::Call>(step.action);
    const auto& a = call.arguments;
    switch (call.entry) {
      case host::EntryPoint::kGameTime:
        clock = static_cast<std::int32_t>(a[0].slot);
        break;
      case host::EntryPoint::kScenLoad: {
        clock = static_cast<std::int32_t>(a[6].slot);
        start = a[8].record;
        const auto number = static_cast<std::int16_t>(a[1].slot & 0xFFFF);
        const std::string scenario =
            number == -1 ? text(a[2]) : text(a[4]) + "/Scen#" + std::to_string(number + 1);
        line(date_now(), "SCENARIO",
             "Start=" + (start < 0 ? "none" : DateText(records[start])) + ", Scenario=" + scenario);
        break;
      }
      case host::EntryPoint::kMsgLog:
        line(date_now(), "MESSAGE", text(a[0]));
        break;
      case host::EntryPoint::kTimeFactor:
        line(date_now(), "TIMEFACTOR",
             GameTimeField(clock) +
                 ": TimeFactor=" + std::to_string(static_cast<std::int32_t>(a[0].slot)));
        break;
      case host::EntryPoint::kUnitSink: {
        char unit[8];
        std::snprintf(unit, sizeof unit, "%02u", a[0].slot & 0xFFu);
        line(date_now(), "SINKING",
             GameTimeField(clock) + ": GroupID=" + text(a[1]) + ", UnitID=" + unit + ", Sinking");
        break;
      }
      default:
        break;
    }
  }
  return lines;
}

std::vector<std::string> ExpectedJournalOf(const fs::path& script) {
  return ExpectedJournal(ReadBytes(script));
}

// ---------------------------------------------------------------------------

TEST(JournalE2E, FirstPlayExample) {
  FastScratch scratch;
  const fs::path out = scratch.path() / "out";
  const HostRun run = Replay(out, Example("first-play.session"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("\njournal: " + (fs::canonical(out) / "Tarveld.log").string() + "\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(ReadBytes(out / "Tarveld.log"),
            "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, "
            "Scenario=Convoy/Scen#3\r\n"
            "1942-06-04 04:30:00 | 00100000 | MESSAGE    | Convoy PQ-7 formed up: 14 merchants, "
            "6 escorts\r\n"
            "1942-06-04 04:31:00 | 00100060 | MESSAGE    | Weather: overcast, visibility 8 nm, "
            "sea state 4\r\n"
            "1942-06-04 04:45:00 | 00100900 | MESSAGE    | Aircraft reported bearing 045, range 30 "
            "nm\r\n"
            "1942-06-04 05:00:00 | 00101800 | MESSAGE    | Escort group turns to intercept\r\n"
            "1942-06-04 05:00:00 | 00101800 | MESSAGE    | Escort group turns to intercept; convoy "
            "holds course 090\r\n"
            "1942-06-04 05:30:00 | 00103600 | MESSAGE    | Contact lost. Convoy resumes zig-zag "
            "plan B\r\n");
}

// Each example on a fresh directory, and all of them in a row on one: the
// journal holds a line for every event the script calls, in order.
TEST(JournalE2E, EveryExampleJournalsEveryEvent) {
  FastScratch scratch;
  std::vector<std::string> all;
  for (const auto& entry : fs::directory_iterator(TARVELD_EXAMPLES)) {
    if (entry.path().extension() != ".session")
      continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<std::string> expected = ExpectedJournalOf(entry.path());
    ASSERT_FALSE(expected.empty());
    const fs::path fresh = scratch.path() / entry.path().stem();
    ASSERT_EQ(Replay(fresh, entry.path()).status, 0);
    std::string tail;
    EXPECT_EQ(WholeLines(ReadBytes(fresh / "Tarveld.log"), &tail), expected);
    EXPECT_EQ(tail, "");

    ASSERT_EQ(Replay(scratch.path() / "shared", entry.path()).status, 0);
    all.insert(all.end(), expected.begin(), expected.end());
  }
  EXPECT_EQ(WholeLines(ReadBytes(scratch.path() / "shared" / "Tarveld.log")), all);
}

// The report is the same byte for byte whether or not the journal can be
// written, and the journal whether or not the report can, but for the
// FAILURE lines that tell the report's failure.
TEST(JournalE2E, ReportAndJournalFailIndependently) {
  FastScratch scratch;
  const fs::path script = Example("long-engagement.session");
  const std::vector<std::string> expected = ExpectedJournalOf(script);
  ASSERT_GT(expected.size(), 500u);

  const fs::path both = scratch.path() / "both";
  const HostRun normal = Replay(both, script);
  ASSERT_EQ(normal.status, 0) << normal.err;
  EXPECT_EQ(normal.err, "");
  EXPECT_EQ(WholeLines(ReadBytes(both / "Tarveld.log")), expected);

  const fs::path no_journal = scratch.path() / "no-journal";
  fs::create_directories(no_journal / "Tarveld.log");
  const HostRun without = Replay(no_journal, script);
  EXPECT_EQ(without.status, 0);
  EXPECT_EQ(WithoutActualDate(ReadBytes(no_journal / "Tarveld.txt")),
            WithoutActualDate(ReadBytes(both / "Tarveld.txt")));
  // One failure named per event, and nothing else.
  const std::vector<std::string> failures = [&] {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = without.err.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(without.err.substr(at, end - at));
    return lines;
  }();
  EXPECT_EQ(failures.size(), expected.size());
  for (const std::string& failure : failures) {
    EXPECT_NE(failure.find(": journal: EFCreateError: "), std::string::npos) << failure;
  }

  const fs::path no_report = scratch.path() / "no-report";
  fs::create_directories(no_report / "Tarveld.txt");
  EXPECT_EQ(Replay(no_report, script).status, 0);
  std::vector<std::string> events;
  std::vector<std::string> failures_told;
  for (std::string& line : WholeLines(ReadBytes(no_report / "Tarveld.log"))) {
    const bool told = line.find(" | FAILURE    | ") != std::string::npos;
    (told ? failures_told : events).push_back(std::move(line));
  }
  EXPECT_EQ(events, expected);
  // A run shorter than a minute: the first failure, once, and no success.
  const std::string report = (fs::canonical(no_report) / "Tarveld.txt").string();
  ASSERT_EQ(failures_told.size(), 1u) << ::testing::PrintToString(failures_told);
  EXPECT_NE(failures_told[0].find(" | FAILURE    | report: not written: system error 21 "
                                  "(EFCreateError: Unable to create file \"" +
                                  report + "\")"),
            std::string::npos)
      << failures_told[0];
}

// ---------------------------------------------------------------------------
// Crashes: the host killed at random moments of a long session.

// Starts the host replaying `script` into `dir`, its output discarded.
pid_t StartReplay(const fs::path& dir, const fs::path& script) {
  const std::string program = TARVELD_REPLAY;
  std::vector<std::string> arguments = {program, "--dir", dir.string(), script.string()};
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);  // or the child's streams would repeat what is buffered
  const pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    setenv("LC_ALL", "C", 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return child;
}

TEST(JournalE2E, CrashesCostAtMostTheLastLine) {
  FastScratch scratch;
  const fs::path script = Example("long-engagement.session");
  const fs::path after_script = scratch.path() / "after.session";
  WriteBytes(after_script, "GameTime 100001 0\nMsgLog \"after the crash\"\n");
  const std::string after_line = "no start date       | 00100001 | MESSAGE    | after the crash";

  // How long the host takes to start and to stop with nothing to do, and
  // with the whole session.
  const fs::path empty_script = scratch.path() / "empty.session";
  WriteBytes(empty_script, "DLLVer\n");
  auto started = Clock::now();
  ASSERT_EQ(Replay(scratch.path() / "empty", empty_script).status, 0);
  const auto empty_run = Clock::now() - started;
  // The first run is slower: the plug-in and the script are not yet cached.
  Clock::duration full_run = Clock::duration::max();
  for (const char* name : {"full", "again"}) {
    started = Clock::now();
    ASSERT_EQ(Replay(scratch.path() / name, script).status, 0);
    full_run = std::min(full_run, Clock::now() - started);
  }
  const std::vector<std::string> full =
      WholeLines(ReadBytes(scratch.path() / "full" / "Tarveld.log"));
  ASSERT_GT(full.size(), 500u);

  // Kill moments spread from the host's start-up over the whole session,
  // or over its first second on a slow disk, so that a few dozen trials
  // take about half a minute at most.
  const auto first = empty_run / 2;
  const auto last = std::min<Clock::duration>(full_run, std::chrono::seconds(1));
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> moment(first.count(), std::max(first, last).count());

  constexpr int kTrials = 36;
  int mid_session = 0;
  int partial = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const fs::path dir = scratch.path() / ("trial-" + std::to_string(trial));
    const pid_t child = StartReplay(dir, script);
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(Clock::duration(moment(random)));
    kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    // Every other trial also tears the last line, as a power loss in the
    // middle of its write could; SIGKILL alone never splits one.
    if (trial % 2 == 1 && fs::exists(dir / "Tarveld.log")) {
      const std::string bytes = ReadBytes(dir / "Tarveld.log");
      if (bytes.size() > 2) {
        const std::size_t line_start = bytes.rfind("\r\n", bytes.size() - 3);
        const std::size_t keep = line_start == std::string::npos ? 0 : line_start + 2;
        std::uniform_int_distribution<std::size_t> cut(keep + 1, bytes.size() - 1);
        fs::resize_file(dir / "Tarveld.log", cut(random));
      }
    }
    const std::string left = ReadBytes(dir / "Tarveld.log");
    std::string tail;
    const std::vector<std::string> lines = WholeLines(left, &tail);
    ASSERT_LE(lines.size(), full.size());
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), full.begin()));
    if (!tail.empty()) {
      ++partial;
      ASSERT_LT(lines.size(), full.size());
      EXPECT_TRUE((full[lines.size()] + "\r\n").starts_with(tail)) << tail;
    }
    if (!lines.empty() && lines.size() < full.size())
      ++mid_session;

    // A later run's lines start on a line of their own.
    fs::create_directories(dir);
    ASSERT_EQ(Replay(dir, after_script).status, 0);
    const std::string joint = tail.empty() ? "" : tail.ends_with("\r") ? "\n" : "\r\n";
    EXPECT_EQ(ReadBytes(dir / "Tarveld.log"), left + joint + after_line + "\r\n");
  }
  std::printf("%d trials: %d killed mid-session, %d ended in a cut line\n", kTrials, mid_session,
              partial);
  EXPECT_GE(mid_session, kTrials / 6);  // not all before start-up or after the end
}

}  // namespace
}  // namespace tarveld::testing
