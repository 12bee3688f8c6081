// The replay host killed with SIGKILL at random moments of a long session,
// over and over: the report it leaves must always be one the session's
// writes made, whole, and what a killed write leaves behind must never
// disturb a later run.
//
// The session (thousands of rewrites) is first replayed in this process
// through the same script reader and the plug-in's own code, recording
// every state the report passes through. Each trial then copies a pre-built
// report of earlier sessions into place, starts the real host on the
// session, kills it after a random delay, and looks the report up among
// those states. States are compared by size and two independent 64-bit
// hashes; keeping every state's bytes would take gigabytes.
//
// Trials run on the temp directory's file system, where every rewrite waits
// for its flush and a kill mostly lands inside one, and, when /dev/shm is
// there, on a memory file system, where the whole session takes about a
// second and kills spread over all of it.
//
// Environment: TARVELD_CRASH_TRIALS (default 200) and TARVELD_CRASH_SEED.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/replay.h"
#include "host/script.h"
#include "host_process.h"
#include "platform/posix_syscalls.h"
#include "plugin/exports.h"
#include "plugin/session.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Scripts.

std::string Quote(std::string_view text) {
  return host::QuoteText(text);
}

// Three earlier plays of some 500 messages each, partly at equal game
// times, so the report they leave (about 50 KB) has replaced values too.
std::string HistoryScript() {
  std::ostringstream s;
  s << "record start = 1942-06-04 04:30:00\n";
  for (int play = 0; play < 3; ++play) {
    s << "DLLInit 0\n";
    s << "ScenLoad 0 " << play << " null 0 \"Midway\" 0 100000 0 start\n";
    for (int i = 0; i < 500; ++i) {
      s << "GameTime " << 100000 + (play * 250 + i) * 60 << " 0\n";
      s << "MsgLog "
        << Quote("play " + std::to_string(play) + " report " + std::to_string(i) +
                 ": contact bearing " + std::to_string(i * 7 % 360))
        << "\n";
    }
    s << "DLLFree\n";
  }
  return s.str();
}

// One long play: two scenarios, 2,000 game times with a message each, every
// seventh one replaced at once, now and then a message at a game time of an
// earlier play (replacing its value in the middle of the report), time
// factors and sinkings.
std::string SessionScript() {
  std::ostringstream s;
  s << "record start = 1944-10-24 05:00:00 extra 1\n";
  s << "record later = 1944-10-25 06:00:00\n";
  s << "DLLInit 0\nDLLVer\n";
  s << "ScenLoad 0 4 null 0 \"Leyte\" 0 100000 0 start\n";
  for (int i = 0; i < 2000; ++i) {
    if (i == 1000)
      s << "ScenLoad 0 -1 \"Surigao \\xC4 night action\" 0 null 0 100000 0 later\n";
    const int game_time = 200000 + i * 30;
    s << "GameTime " << game_time << " " << i << "\n";
    s << "MsgLog " << Quote("message " + std::to_string(i) + " \xE9 [log] a=b") << "\n";
    if (i % 7 == 0)
      s << "MsgLog " << Quote("message " + std::to_string(i) + " corrected") << "\n";
    if (i % 50 == 0)
      s << "TimeFactor " << (i / 50) % 16 << "\n";
    if (i % 60 == 0)
      s << "UnitSink " << i % 256 << " \"TG 77.4\"\n";
    if (i % 97 == 0) {
      s << "GameTime " << 100000 + (i % 700) * 60 << " 0\n";
      s << "MsgLog " << Quote("revisited " + std::to_string(i)) << "\n";
    }
  }
  s << "DLLFree\n";
  return s.str();
}

// A short later run, to show that leftovers of killed runs change nothing.
std::string LaterRunScript() {
  return "record start = 1945-02-19 09:00:00\n"
         "DLLInit 0\n"
         "ScenLoad 0 0 null 0 \"Iwo\" 0 100000 0 start\n"
         "GameTime 100060 0\nMsgLog \"landing\"\n"
         "GameTime 200030 0\nMsgLog \"replaces a message of the killed plays\"\n"
         "DLLFree\n";
}

// ---------------------------------------------------------------------------
// Report states, from the plug-in's code in this process.

struct Fingerprint {
  std::size_t size = 0;
  std::uint64_t fnv = 0;
  std::size_t std_hash = 0;

  bool operator==(const Fingerprint&) const = default;
};

Fingerprint FingerprintOf(std::string_view bytes) {
  std::uint64_t fnv = 14695981039346656037ull;
  for (const unsigned char c : bytes) {
    fnv ^= c;
    fnv *= 1099511628211ull;
  }
  return {bytes.size(), fnv, std::hash<std::string_view>{}(bytes)};
}

// Records the report's bytes after each successful rewrite.
class RecordingPlatform : public FakePlatform {
 public:
  std::vector<Fingerprint> states;
  std::string last;

  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    const platform::IoResult result = FakePlatform::ReplaceFile(path, bytes);
    if (result.ok()) {
      states.push_back(FingerprintOf(bytes));
      last.assign(bytes);
    }
    return result;
  }
};

host::EntryPointTable LinkedEntryPoints() {
  host::EntryPointTable table;
  const auto set = [&table](host::EntryPoint entry, auto* function) {
    table.address[static_cast<int>(entry)] = reinterpret_cast<void*>(function);
  };
  set(host::EntryPoint::kDLLVer, &::DLLVer);
  set(host::EntryPoint::kDLLVerInt, &::DLLVerInt);
  set(host::EntryPoint::kDLLDesc, &::DLLDesc);
  set(host::EntryPoint::kDLLInit, &::DLLInit);
  set(host::EntryPoint::kDLLFree, &::DLLFree);
  set(host::EntryPoint::kGameTime, &::GameTime);
  set(host::EntryPoint::kScenLoad, &::ScenLoad);
  set(host::EntryPoint::kMsgLog, &::MsgLog);
  set(host::EntryPoint::kTimeFactor, &::TimeFactor);
  set(host::EntryPoint::kUnitSink, &::UnitSink);
  return table;
}

// Replays `script` in this process as one run of the host in `dir`,
// returning what the report went through.
RecordingPlatform ReplayHere(const fs::path& dir, const std::string& script) {
  RecordingPlatform recorder;
  recorder.executable_path = (dir / "tarveld-replay").string();
  ScopedPlatform installed(recorder);
  CallerThreadWrites writes;
  // Flushes only guard against power loss, which is not tried here.
  platform::Syscalls().fsync = [](int) { return 0; };
  tarveld::testing::ResetSession();
  const host::ReadResult read = host::ReadScript(script);
  EXPECT_TRUE(read.ok());
  std::ostringstream out;
  std::string failure;
  EXPECT_TRUE(host::RunScript(read.script, LinkedEntryPoints(), {}, out, failure)) << failure;
  tarveld::testing::ResetSession();
  platform::Syscalls() = platform::PosixSyscalls{};
  EXPECT_EQ(recorder.debug_lines, std::vector<std::string>{});
  return recorder;
}

// ---------------------------------------------------------------------------
// Trials.

// A directory with a copy of the host and the plug-in, so the report goes
// into it; the script and the pre-built report beside them.
class TrialDir {
 public:
  TrialDir(const fs::path& dir, const std::string& script, const std::string& initial)
      : dir_(dir), initial_(initial) {
    fs::create_directories(dir_);
    fs::copy_file(TARVELD_REPLAY, dir_ / "tarveld-replay");
    fs::copy_file(TARVELD_PLUGIN, dir_ / fs::path(TARVELD_PLUGIN).filename());
    WriteBytes(dir_ / "session.txt", script);
  }

  const fs::path& path() const { return dir_; }
  fs::path Report() const { return dir_ / "Tarveld.txt"; }

  // Puts the pre-built report in place and starts the host on `script`.
  pid_t Start(const std::string& script_name = "session.txt") {
    WriteBytes(Report(), initial_);
    std::error_code ignored;
    fs::remove(dir_ / "Tarveld.log", ignored);
    const std::string program = (dir_ / "tarveld-replay").string();
    const std::string script = (dir_ / script_name).string();
    const std::string err = (dir_ / ".host-stderr").string();
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (null < 0 || err_fd < 0 || dup2(null, 1) < 0 || dup2(err_fd, 2) < 0)
        _exit(127);
      setenv("LC_ALL", "C", 1);
      execl(program.c_str(), program.c_str(), script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return child;
  }

  std::string HostErrors() const { return ReadBytes(dir_ / ".host-stderr"); }

  // Everything in the directory that a run of the host left besides the
  // report, its journal and the files put there for it.
  std::map<std::string, std::uintmax_t> Leftovers() const {
    static const std::set<std::string> kKnown = {
        "tarveld-replay", fs::path(TARVELD_PLUGIN).filename().string(),
        "session.txt",    "later.txt",
        "Tarveld.txt",    "Tarveld.log",
        ".host-stderr"};
    std::map<std::string, std::uintmax_t> found;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (!kKnown.contains(name))
        found[name] = entry.file_size();
    }
    return found;
  }

 private:
  fs::path dir_;
  std::string initial_;
};

int Wait(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

long EnvironmentNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

struct Place {
  const char* name;
  fs::path base;
  int trials;
  std::chrono::microseconds max_delay;
};

TEST(CrashTest, KilledHostLeavesAWholeReportOfSomePrefixOfTheSession) {
  const long total_trials = EnvironmentNumber("TARVELD_CRASH_TRIALS", 200);
  const unsigned long long seed = static_cast<unsigned long long>(
      EnvironmentNumber("TARVELD_CRASH_SEED", std::random_device{}()));
  std::printf("crash test: seed %llu (TARVELD_CRASH_SEED to repeat)\n", seed);
  std::mt19937_64 random(seed);

  TempDir scratch;
  const bool have_shm = access("/dev/shm", W_OK) == 0;
  fs::path fast_base = scratch.path();
  if (have_shm) {
    // TempDir places itself in the temp directory; this one goes to
    // /dev/shm and is removed with it.
    fast_base = fs::path("/dev/shm") / scratch.path().filename();
    fs::create_directories(fast_base);
  }
  struct RemoveFast {
    fs::path path;
    ~RemoveFast() {
      std::error_code ignored;
      if (!path.empty())
        fs::remove_all(path, ignored);
    }
  } remove_fast{have_shm ? fast_base : fs::path()};

  // The report the trials start from, and every state the session takes
  // it through.
  const fs::path prepare = fast_base / "prepare";
  fs::create_directories(prepare);
  ReplayHere(prepare, HistoryScript());
  const std::string initial = ReadBytes(prepare / "Tarveld.txt");
  ASSERT_GT(initial.size(), 40000u);
  const RecordingPlatform session = ReplayHere(prepare, SessionScript());
  ASSERT_GT(session.states.size(), 2000u);
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> index;  // fnv -> state numbers
  std::vector<Fingerprint> states = {FingerprintOf(initial)};
  states.insert(states.end(), session.states.begin(), session.states.end());
  for (std::size_t i = 0; i < states.size(); ++i)
    index[states[i].fnv].push_back(i);
  const std::string final_report = session.last;
  std::printf(
      "crash test: trials start from a report of %zu bytes; the session makes %zu "
      "rewrites, up to %zu bytes\n",
      initial.size(), session.states.size(), final_report.size());

  WriteBytes(prepare / "Tarveld.txt", initial);
  const std::string later_expected = ReplayHere(prepare, LaterRunScript()).last;

  std::vector<Place> places;
  const int slow_trials = have_shm ? static_cast<int>(total_trials * 3 / 5) : total_trials;
  places.push_back(
      {"temp directory", scratch.path() / "disk", slow_trials, std::chrono::microseconds(0)});
  if (have_shm)
    places.push_back({"/dev/shm", fast_base / "memory",
                      static_cast<int>(total_trials) - slow_trials, std::chrono::microseconds(0)});

  long killed = 0;
  long completed = 0;
  for (Place& place : places) {
    TrialDir dir(place.base, SessionScript(), initial);
    WriteBytes(dir.path() / "later.txt", LaterRunScript());

    if (place.max_delay.count() == 0) {
      // Time two whole runs (the first one also loads the programs into
      // the cache). Kills then spread over most of the faster one, up to a
      // bound that keeps the test short on a busy machine. The host's
      // calls do not wait for the disk, so a run takes about as long on
      // either place; its writes go on behind it until it exits.
      auto fastest = std::chrono::microseconds::max();
      for (int run = 0; run < 2; ++run) {
        const auto begin = Clock::now();
        const int status = Wait(dir.Start());
        fastest = std::min(
            fastest, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(ReadBytes(dir.Report()), final_report);
        EXPECT_EQ(dir.HostErrors(), "");
      }
      place.max_delay =
          std::min<std::chrono::microseconds>(fastest * 70 / 100, std::chrono::milliseconds(500));
    }

    std::set<std::size_t> reached;
    std::size_t highest = 0;
    const auto place_begin = Clock::now();
    for (int trial = 0; trial < place.trials; ++trial) {
      std::uniform_int_distribution<long> delay(0, place.max_delay.count());
      const long wait_us = delay(random);
      const pid_t child = dir.Start();
      ASSERT_GT(child, 0);
      const timespec pause{wait_us / 1000000, (wait_us % 1000000) * 1000};
      nanosleep(&pause, nullptr);
      kill(child, SIGKILL);
      const int status = Wait(child);
      if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        ++killed;
      } else {
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        ++completed;
      }
      EXPECT_EQ(dir.HostErrors(), "");

      ASSERT_TRUE(fs::is_regular_file(dir.Report()))
          << place.name << ", trial " << trial << ": the report is gone";
      const std::string report = ReadBytes(dir.Report());
      const Fingerprint print = FingerprintOf(report);
      std::optional<std::size_t> state;
      if (const auto found = index.find(print.fnv); found != index.end()) {
        for (const std::size_t i : found->second) {
          if (states[i] == print)
            state = i;
        }
      }
      if (!state) {
        const fs::path kept = scratch.path() / "unknown-report.txt";
        WriteBytes(kept, report);
        FAIL() << place.name << ", trial " << trial << " (killed after " << wait_us
               << " us): a report of " << report.size()
               << " bytes that no write of the session made";
      }
      reached.insert(*state);
      highest = std::max(highest, *state);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - place_begin).count();

    // A kill between creating and renaming the new report leaves it
    // behind under its temporary name; nothing else is ever left.
    const std::map<std::string, std::uintmax_t> leftovers = dir.Leftovers();
    for (const auto& [name, size] : leftovers)
      EXPECT_TRUE(name.starts_with("Tarveld.txt.tmp-")) << "unexpected file " << name;
    std::printf(
        "crash test, %s: %d trials in %.1f s, kills up to %ld us after the start; %zu distinct "
        "report states reached, the furthest after %zu of %zu rewrites; %zu temporaries left "
        "behind\n",
        place.name, place.trials, seconds, static_cast<long>(place.max_delay.count()),
        reached.size(), highest, states.size() - 1, leftovers.size());

    // A later run beside those leftovers neither reads nor removes them,
    // and writes exactly what it would write without them.
    const int status = Wait(dir.Start("later.txt"));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadBytes(dir.Report()), later_expected);
    EXPECT_EQ(dir.Leftovers(), leftovers);
  }
  std::printf("crash test: %ld hosts killed mid-session, %ld finished before the kill\n", killed,
              completed);
  EXPECT_GE(killed, total_trials * 3 / 4);
}

}  // namespace
}  // namespace tarveld::testing
