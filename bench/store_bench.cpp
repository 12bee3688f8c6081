// The cost of one report write as the report grows, against the cost of
// replacing the report's bytes with no store at all.
//
// For reports of 100 to 100,000 "log" keys, five measurements per size:
//   Floor/N     the report's bytes handed to the native ReplaceFile (new
//               file beside the report, flushed, renamed over it): what any
//               write of the whole file costs.
//   MsgLogAdd/N one MsgLog at a new game time through the entry point,
//               which writes the report and appends the journal line.
//   MsgLogSet/N one MsgLog at the latest game time, replacing its message.
//   StoreAdd/N, StoreSet/N
//               the same without the entry point's journal line: only the
//               report's part of MsgLog (LogMessage on the session's store).
// After each timed write the bytes it left in the report are replaced once
// more through the native ReplaceFile, timed apart: these rows carry that
// paired floor (`floor_us`) and their ratio to it (`x_floor`), both
// measured under the same load, which on a shared machine moves both alike.
//
// The report writer runs in caller-thread mode here: each write is made
// inside the MsgLog (or LogMessage) that asks for it, so that these rows
// time the write itself, as they did before the plug-in had a writer
// thread. With the writer's own thread the call would only hand the text
// over, and the paired floor would race the writer for the file;
// tarveld_bench_host_loop measures the thread's way.
//
// The reports live in a fresh directory under --dir=DIR, else under
// $TARVELD_BENCH_DIR, else under the system temp directory. On a disk the
// flush dominates; on tmpfs (/dev/shm) it is nearly free, and what remains
// is the store's own work.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "bench/bench_platform.h"
#include "bench/bench_report.h"
#include "platform/platform.h"
#include "plugin/exports.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"

namespace {

namespace fs = std::filesystem;
using tarveld::bench::LogTime;
using tarveld::bench::Message;
using tarveld::bench::PreparedReport;
using tarveld::bench::ReadWholeFile;
using tarveld::bench::WriteWholeFile;
using Clock = std::chrono::steady_clock;

using tarveld::bench::BenchPlatform;

BenchPlatform& Bench() {
  static BenchPlatform platform;
  return platform;
}

fs::path& BaseDirectory() {
  static fs::path base;
  return base;
}

// The directory of this run, made on first use and removed at exit.
const fs::path& WorkDirectory() {
  static const fs::path dir = [] {
    fs::path base = BaseDirectory();
    if (base.empty()) {
      const char* env = std::getenv("TARVELD_BENCH_DIR");
      base = env != nullptr && *env != '\0' ? fs::path(env) : fs::temp_directory_path();
    }
    fs::path made = base / ("tarveld-bench-" + std::to_string(::getpid()));
    fs::create_directories(made);
    return made;
  }();
  return dir;
}

std::string ReportPath() {
  return (WorkDirectory() / "Tarveld.txt").string();
}

// Puts the prepared report of `keys` entries in place and starts a scenario
// on it, as the host does: a new store reads the report and makes its three
// "Session Start" writes.
void StartScenario(std::int64_t keys) {
  static const tarveld::GameDateRec start{1942, 5, 4, 6, 0, 0, 0};
  WriteWholeFile(ReportPath(), PreparedReport(keys));
  ScenLoad(0, 0, nullptr, 0, "Convoy", 0, 100000, 0, &start);
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void BM_Floor(benchmark::State& state) {
  const std::int64_t keys = state.range(0);
  StartScenario(keys);
  GameTime(LogTime(keys), 0);
  MsgLog(Message(keys).c_str());
  const std::string path = ReportPath();
  const std::string bytes = ReadWholeFile(path);
  tarveld::platform::Platform& native = tarveld::platform::Native();
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    const tarveld::platform::IoResult result = native.ReplaceFile(path, bytes);
    state.SetIterationTime(Seconds(Clock::now() - begin));
    if (!result.ok()) {
      state.SkipWithError("ReplaceFile failed");
      return;
    }
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}

// Times what `write` does, then the bare replacement of the bytes it left
// in the report; the first is the iteration's time.
class PairedTimer {
 public:
  template <typename Write>
  void Measure(benchmark::State& state, Write&& write) {
    const Clock::time_point begin = Clock::now();
    write();
    const double seconds = Seconds(Clock::now() - begin);
    state.SetIterationTime(seconds);
    store_ += seconds;

    // Read into the same buffer each time, so that no fresh memory is
    // faulted in between.
    const std::string path = ReportPath();
    tarveld::platform::Native().ReadFile(path, bytes_);
    const Clock::time_point floor_begin = Clock::now();
    const tarveld::platform::IoResult result =
        tarveld::platform::Native().ReplaceFile(path, bytes_);
    floor_ += Seconds(Clock::now() - floor_begin);
    failed_ = failed_ || !result.ok();
  }

  void Report(benchmark::State& state) const {
    if (failed_ || Bench().failures != 0) {
      state.SkipWithError("a write failed");
      return;
    }
    state.counters["floor_us"] = floor_ / static_cast<double>(state.iterations()) * 1e6;
    state.counters["x_floor"] = store_ / floor_;
  }

 private:
  double store_ = 0;
  double floor_ = 0;
  bool failed_ = false;
  std::string bytes_;
};

// One message the way the host logs it: through the entry point, which also
// appends the journal line; or only the report's part of it.
void ThroughEntryPoint(const char* message) {
  MsgLog(message);
}
void ReportOnly(const char* message) {
  try {
    tarveld::LogMessage(tarveld::Session(), message);
  } catch (const std::exception& failure) {
    Bench().DebugOutput(failure.what());
  }
}

// A message at a new game time each write. The report grows by one key per
// write, so it is put back to its prepared size whenever it has grown by
// 1 % (every write for the smallest report); the setting back is not timed.
template <void (*Log)(const char*)>
void BM_Add(benchmark::State& state) {
  const std::int64_t keys = state.range(0);
  const std::int64_t batch = std::max<std::int64_t>(1, keys / 100);
  Bench().failures = 0;
  std::vector<std::string> messages;
  for (std::int64_t i = 0; i < batch; ++i)
    messages.push_back(Message(keys + i));
  std::int64_t added = batch;
  PairedTimer timer;
  for (auto _ : state) {
    if (added == batch) {
      StartScenario(keys);
      added = 0;
    }
    const std::int32_t game_time = LogTime(keys + added);
    const char* message = messages[static_cast<std::size_t>(added)].c_str();
    timer.Measure(state, [&] {
      GameTime(game_time, 0);
      Log(message);
    });
    ++added;
  }
  timer.Report(state);
}

// A message at the latest game time, so each write replaces the value of
// the report's last key; two messages alternate so every write changes it.
template <void (*Log)(const char*)>
void BM_Set(benchmark::State& state) {
  const std::int64_t keys = state.range(0);
  Bench().failures = 0;
  StartScenario(keys);
  GameTime(LogTime(keys - 1), 0);
  const std::string messages[2] = {Message(keys), Message(keys + 1)};
  std::size_t which = 0;
  PairedTimer timer;
  for (auto _ : state) {
    timer.Measure(state, [&] { Log(messages[which].c_str()); });
    which ^= 1;
  }
  timer.Report(state);
}

}  // namespace

int main(int argc, char** argv) {
  // --dir=DIR is ours; everything else goes to the benchmark library.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    constexpr std::string_view kDir = "--dir=";
    if (i > 0 && std::string_view(argv[i]).starts_with(kDir)) {
      BaseDirectory() = argv[i] + kDir.size();
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data()))
    return 1;

  Bench().executable_path = (WorkDirectory() / "host.exe").string();
  tarveld::platform::Install(&Bench());
  // Every write on the calling thread, inside the timed call (see the top).
  tarveld::Writer().Finish();
  tarveld::Writer().SetModeForTesting(tarveld::ReportWriter::Mode::kCallerThread);

  struct Measure {
    const char* name;
    void (*function)(benchmark::State&);
  };
  constexpr Measure kMeasures[] = {{"Floor", BM_Floor},
                                   {"MsgLogAdd", BM_Add<ThroughEntryPoint>},
                                   {"MsgLogSet", BM_Set<ThroughEntryPoint>},
                                   {"StoreAdd", BM_Add<ReportOnly>},
                                   {"StoreSet", BM_Set<ReportOnly>}};
  for (const std::int64_t keys : {100, 1'000, 10'000, 100'000}) {
    for (const Measure& measure : kMeasures) {
      benchmark::RegisterBenchmark(measure.name, measure.function)
          ->Arg(keys)
          ->UseManualTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  tarveld::Writer().Finish();
  tarveld::Writer().SetModeForTesting(tarveld::ReportWriter::Mode::kThread);
  tarveld::platform::Install(nullptr);
  std::error_code ignored;
  fs::remove_all(WorkDirectory(), ignored);
  return 0;
}
