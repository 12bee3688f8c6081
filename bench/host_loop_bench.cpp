// What the host's thread pays per call, and how long the report takes to
// reach the disk, measured call by call from a host loop.
//
// Two modes of the report writer are compared:
//   before  Writer().SetModeForTesting(kCallerThread): every report write and journal
//           flush is done inside the call that asks for it, on the host's
//           thread (the plug-in as it was before it had a writer thread).
//   after   Writer().SetModeForTesting(kThread), the plug-in's way: the call changes
//           memory, hands the report text over and returns; the writer's
//           thread writes, coalescing texts that arrive during a write.
//
// For every directory (--dir), report size K (--keys) and mode (--mode):
//   1. a report of K "log" keys is written in the plug-in's own format,
//      DLLInit and a ScenLoad open it, and the bench checks that the
//      plug-in read all K keys and left the "log" section byte for byte;
//      the copy of the report's bytes into a reused buffer is timed too
//      (200 samples): the least the thread's way costs the host per write;
//   2. ScenLoad, timed --scenload times, each after the writer has
//      finished (so each starts the writer's thread, which reads the
//      report from the file), and as often with the thread already running;
//   3. a burst of --burst MsgLog calls at new game times (GameTime before
//      each, untimed), each call timed; the report writes (ReplaceFile
//      calls) and journal flushes from the burst's first call through the
//      writer's Finish after it are counted, and the time from the last
//      call's return until a reader of the report sees its message;
//   4. bursts of --calls TimeFactor and UnitSink calls, each timed (they
//      append a journal line; "before" also flushes it inside the call);
//   5. lag to disk, --lag times: after a quiet spell (Finish, --quiet-ms of
//      sleep) one MsgLog at a new game time, then the report is polled
//      (stat every 100 µs, read when it changed) until it holds the
//      message: "visible" is the time from the call's return to that; "on
//      disk" is the time from the call's return until the ReplaceFile that
//      wrote it returned (file flushed, renamed, directory flushed).
// A timed burst stops early once it has run --budget seconds and made at
// least --min-calls calls (a "before" burst on a disk at 100,000 keys costs
// tens of ms per call); the tables give the number of calls timed. p50 and
// p99 are nearest-rank percentiles: with 50 samples p99 is the maximum.
//
// Beside the times, the bench counts the calls during which the host's
// thread was switched out (getrusage per thread: involuntary switches are
// the scheduler's, voluntary ones a wait in the kernel), and the journal
// flushes of the TimeFactor and UnitSink bursts.
//
// Every failure the plug-in names on the debug output is counted; any
// failure marks the run FAILED and the exit status 1, so that a failing
// write cannot pass for a fast one.
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_platform.h"
#include "bench/bench_report.h"
#include "bench/host_loop_options.h"
#include "bench/host_loop_stats.h"
#include "bench/host_loop_tables.h"
#include "platform/platform.h"
#include "plugin/exports.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"

namespace {

namespace fs = std::filesystem;
using tarveld::bench::Clock;
using tarveld::bench::Count;
using tarveld::bench::kReportHead;
using tarveld::bench::LoadAverage;
using tarveld::bench::LogSection;
using tarveld::bench::LogTime;
using tarveld::bench::Message;
using tarveld::bench::Micros;
using tarveld::bench::Mode;
using tarveld::bench::ModeName;
using tarveld::bench::Options;
using tarveld::bench::ParseOptions;
using tarveld::bench::PrintTables;
using tarveld::bench::ReadWholeFile;
using tarveld::bench::Result;
using tarveld::bench::Sampler;
using tarveld::bench::Stats;
using tarveld::bench::Summarise;
using tarveld::bench::WriteWholeFile;

// The bench platform, counting the report writes and journal flushes that
// succeed and timing the latest write. The writer's thread calls these,
// hence the atomics.
class HostLoopPlatform final : public tarveld::bench::BenchPlatform {
 public:
  std::atomic<long> replaces{0};
  std::atomic<long> flushes{0};
  // steady_clock ticks when the latest successful ReplaceFile returned.
  std::atomic<Clock::rep> replace_done{0};

  tarveld::platform::IoResult ReplaceFile(const std::string& path,
                                          std::string_view bytes) override {
    const tarveld::platform::IoResult result = BenchPlatform::ReplaceFile(path, bytes);
    if (result.ok()) {
      replace_done.store(Clock::now().time_since_epoch().count());
      replaces.fetch_add(1);
    }
    return result;
  }
  tarveld::platform::IoResult FlushFile(const std::string& path) override {
    const tarveld::platform::IoResult result = BenchPlatform::FlushFile(path);
    if (result.ok())
      flushes.fetch_add(1);
    return result;
  }
};

HostLoopPlatform& Bench() {
  static HostLoopPlatform platform;
  return platform;
}

// A failure of the bench's own checks: counted with the plug-in's.
void Fail(const std::string& what) {
  Bench().failures.fetch_add(1);
  std::fprintf(stderr, "BENCH FAILURE: %s\n", what.c_str());
}

// ---------------------------------------------------------------------------
// The report as the plug-in writes it (bench_report.h).

constexpr std::int32_t kStartTime = 100000;

std::string LogLine(std::int64_t i) {
  return "\r\n" + std::to_string(LogTime(i)) + "=" + Message(i) + "\r\n";
}

// What changes when a file is replaced by a rename over it.
struct FileId {
  ino_t inode = 0;
  off_t size = -1;
  std::int64_t mtime_ns = -1;
  bool operator==(const FileId&) const = default;
};

FileId Identify(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return {};
  return {
      status.st_ino, status.st_size,
      static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

// Polls the report until it holds `line`: a stat every 100 µs, a read when
// the file changed since `seen`. The time of the stat that found the change
// whose content holds it; nullopt after ten seconds.
std::optional<Clock::time_point> WaitForLine(const std::string& path, const std::string& line,
                                             FileId seen) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    const FileId id = Identify(path);
    const Clock::time_point at = Clock::now();
    if (!(id == seen)) {
      if (ReadWholeFile(path).rfind(line) != std::string::npos)
        return at;
      seen = id;
    }
    if (at > deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

// Keeps the timed copies from being optimised away.
volatile unsigned copy_sink = 0;

// ---------------------------------------------------------------------------
// One run: one directory, one report size, one mode.

const tarveld::GameDateRec kStart{1942, 5, 4, 6, 0, 0, 0};

void LoadScenario() {
  ScenLoad(0, 0, nullptr, 0, "Convoy", 0, kStartTime, 0, &kStart);
}

// Waits until everything handed to the writer is on disk.
void Finish() {
  if (!tarveld::Writer().Finish())
    Fail("the writer's Finish ran out of time");
}

class Run {
 public:
  Run(const Options& options, const fs::path& dir, std::int64_t keys, Mode mode)
      : options_(options), report_(ReportPath(dir)), journal_((dir / "Tarveld.log").string()) {
    result_.keys = keys;
    result_.mode = mode;
    next_ = keys;
  }

  static std::string ReportPath(const fs::path& dir) { return (dir / "Tarveld.txt").string(); }

  Result Measure() {
    const long failures_before = Bench().failures.load();
    Prepare();
    TimeScenLoad();
    TimeMsgLogBurst();
    result_.timefactor =
        TimeCalls(result_.timefactor_flushes, [](int i) { TimeFactor(i % 8 + 1); });
    result_.unitsink = TimeCalls(result_.unitsink_flushes, [](int i) {
      UnitSink(static_cast<std::uint32_t>(i), "Escort 7");
    });
    TimeLag();
    DLLFree();
    result_.failures = Bench().failures.load() - failures_before;
    return result_;
  }

 private:
  // The prepared report, opened by the plug-in as the host opens it.
  void Prepare() {
    Finish();
    tarveld::Writer().SetModeForTesting(result_.mode);
    std::error_code ignored;
    fs::remove(journal_, ignored);
    const std::string section = LogSection(result_.keys);
    if (!WriteWholeFile(report_, kReportHead + section))
      Fail("cannot write " + report_);
    DLLInit(0);
    LoadScenario();
    std::size_t read = 0;
    Finish();
    if (const tarveld::TIniFile* store = tarveld::Writer().StoreForTesting()) {
      for (const auto& s : store->Sections()) {
        if (s->Name == "log")
          read += s->Keys.size();
      }
    }
    if (read != static_cast<std::size_t>(result_.keys))
      Fail("ScenLoad read " + Count(static_cast<std::int64_t>(read)) + " \"log\" keys of " +
           Count(result_.keys));
    Finish();
    const std::string written = ReadWholeFile(report_);
    if (!written.ends_with(section))
      Fail("the report after ScenLoad does not end with the prepared \"log\" section");
    result_.report_bytes = written.size();
    TimeCopy(written);
  }

  // What the thread's way must pay at least: the store hands the writer a
  // copy of the report, made into a buffer that is reused.
  void TimeCopy(const std::string& text) {
    std::string buffer = text;
    std::vector<double> samples;
    unsigned sink = 0;
    for (int i = 0; i < 200; ++i) {
      const Clock::time_point begin = Clock::now();
      buffer.assign(text);
      samples.push_back(Micros(Clock::now() - begin));
      sink += static_cast<unsigned char>(buffer[static_cast<std::size_t>(i) % buffer.size()]);
    }
    copy_sink = sink;
    result_.copy = Summarise(std::move(samples));
  }

  // Each ScenLoad comes after the writer's thread ended (Finish), so it
  // starts one and waits until it runs; then again with the thread already
  // running, started by a TimeFactor before it, as when a scenario loads
  // soon after another call.
  void TimeScenLoad() {
    Sampler cold(static_cast<std::size_t>(options_.scenload));
    Sampler warm(static_cast<std::size_t>(options_.scenload));
    for (int i = 0; i < options_.scenload; ++i) {
      Finish();
      cold.Time(LoadScenario);
      Finish();
      TimeFactor(1);
      warm.Time(LoadScenario);
    }
    result_.scenload = cold.Summary();
    result_.scenload_running = warm.Summary();
  }

  bool OverBudget(Clock::time_point begin, std::size_t done) const {
    return static_cast<int>(done) >= options_.min_calls &&
           Clock::now() - begin > std::chrono::duration<double>(options_.budget_s);
  }

  void TimeMsgLogBurst() {
    Finish();
    std::vector<std::string> messages;
    for (int i = 0; i < options_.burst; ++i)
      messages.push_back(Message(next_ + i));
    Sampler sampler(messages.size());
    const long writes = Bench().replaces.load();
    const long flushes = Bench().flushes.load();
    const Clock::time_point burst_begin = Clock::now();
    Clock::time_point last_return{};
    std::int64_t last = next_;
    for (const std::string& message : messages) {
      if (OverBudget(burst_begin, sampler.size()))
        break;
      last = next_++;
      GameTime(LogTime(last), 0);
      last_return = sampler.Time([&] { MsgLog(message.c_str()); });
    }
    const auto seen = WaitForLine(report_, LogLine(last), FileId{});
    if (seen)
      result_.burst_end_us = std::max(0.0, Micros(*seen - last_return));
    else
      Fail("the report never held the burst's last message");
    Finish();
    result_.burst_writes = Bench().replaces.load() - writes;
    result_.burst_flushes = Bench().flushes.load() - flushes;
    result_.msglog = sampler.Summary();
  }

  // `flushes`: the journal flushes from the first call through the Finish
  // after the last.
  template <typename Call>
  Stats TimeCalls(long& flushes, Call call) {
    Finish();
    const long flushes_before = Bench().flushes.load();
    Sampler sampler(static_cast<std::size_t>(options_.calls));
    const Clock::time_point burst_begin = Clock::now();
    for (int i = 0; i < options_.calls && !OverBudget(burst_begin, sampler.size()); ++i)
      sampler.Time([&] { call(i); });
    Finish();
    flushes = Bench().flushes.load() - flushes_before;
    return sampler.Summary();
  }

  void TimeLag() {
    std::vector<double> visible;
    std::vector<double> on_disk;
    for (int i = 0; i < options_.lag; ++i) {
      Finish();
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.quiet_ms));
      const std::int64_t probe = next_++;
      const std::string message = Message(probe);
      GameTime(LogTime(probe), 0);
      const FileId before = Identify(report_);
      const long writes = Bench().replaces.load();
      MsgLog(message.c_str());
      const Clock::time_point returned = Clock::now();
      const auto seen = WaitForLine(report_, LogLine(probe), before);
      if (!seen) {
        Fail("the report never held a lag probe's message");
        continue;
      }
      visible.push_back(std::max(0.0, Micros(*seen - returned)));
      // The one write after a quiet spell holds the probe; once the file
      // showed it, that write has renamed and is at most flushing the
      // directory.
      while (Bench().replaces.load() == writes) {
        if (Clock::now() - returned > std::chrono::seconds(10)) {
          Fail("a lag probe's write never returned");
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      const Clock::time_point done{Clock::duration(Bench().replace_done.load())};
      on_disk.push_back(std::max(0.0, Micros(done - returned)));
    }
    result_.lag_visible = Summarise(std::move(visible));
    result_.lag_disk = Summarise(std::move(on_disk));
  }

  const Options& options_;
  const std::string report_;
  const std::string journal_;
  Result result_;
  std::int64_t next_ = 0;  // index of the next message: its game time is new
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--dir=DIR[,DIR...]] [--keys=N[,N...]] [--mode=before,after]\n"
                 "       [--scenload=5] [--burst=1000] [--calls=1000] [--lag=20] [--quiet-ms=20]\n"
                 "       [--budget=SECONDS(10)] [--min-calls=50]\n",
                 argv[0]);
    return 2;
  }

  utsname system{};
  ::uname(&system);
  std::printf(
      "# Host loop: host-thread time per call, report writes, lag to disk\n\n"
      "%u hardware threads; %s %s; load average at start %s\n"
      "ScenLoad %d samples; MsgLog burst %d calls; TimeFactor and UnitSink %d calls each; "
      "lag %d probes after %d ms quiet; a burst stops after %g s once it has %d calls.\n",
      std::thread::hardware_concurrency(), system.sysname, system.release, LoadAverage().c_str(),
      options.scenload, options.burst, options.calls, options.lag, options.quiet_ms,
      options.budget_s, options.min_calls);
  std::fflush(stdout);

  tarveld::platform::Install(&Bench());
  for (const std::string& base : options.dirs) {
    const fs::path dir = fs::path(base) / ("tarveld-host-loop-" + std::to_string(::getpid()));
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) {
      Fail("cannot make " + dir.string() + ": " + error.message());
      continue;
    }
    Bench().executable_path = (dir / "host.exe").string();
    std::vector<Result> results;
    for (std::int64_t keys : options.keys) {
      for (Mode mode : options.modes) {
        std::fprintf(stderr, "%s: %s keys, %s ...\n", base.c_str(), Count(keys).c_str(),
                     ModeName(mode));
        results.push_back(Run(options, dir, keys, mode).Measure());
      }
    }
    PrintTables(options, base, results);
    Finish();
    fs::remove_all(dir, error);
  }
  Finish();
  tarveld::Writer().SetModeForTesting(Mode::kThread);
  tarveld::platform::Install(nullptr);

  std::printf("\nload average at end %s\n", LoadAverage().c_str());
  const long failures = Bench().failures.load();
  if (failures != 0) {
    const std::string banner = "\n**FAILED: " + std::to_string(failures) +
                               " failures (see stderr); the figures above are not valid.**\n";
    std::fputs(banner.c_str(), stdout);
    std::fputs(banner.c_str(), stderr);
    return 1;
  }
  return 0;
}
