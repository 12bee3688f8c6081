#include "bench/host_loop_tables.h"

#include <sys/statfs.h>

#include <cstdio>

#include "bench/bench_report.h"

namespace tarveld::bench {
namespace {

std::string FileSystem(const std::string& dir) {
  struct statfs info {};
  if (::statfs(dir.c_str(), &info) != 0)
    return "?";
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
      return "ext4";
    case 0x01021994:
      return "tmpfs";
    case 0x9123683E:
      return "btrfs";
    case 0x58465342:
      return "xfs";
    case 0x794C7630:
      return "overlayfs";
  }
  char text[32];
  std::snprintf(text, sizeof text, "fs 0x%lx", static_cast<unsigned long>(info.f_type));
  return text;
}

const Result* Find(const std::vector<Result>& results, std::int64_t keys, Mode mode) {
  for (const Result& r : results) {
    if (r.keys == keys && r.mode == mode)
      return &r;
  }
  return nullptr;
}

std::string ModeLabel(const Result& r) {
  return r.failures == 0
             ? ModeName(r.mode)
             : std::string(ModeName(r.mode)) + " **FAILED (" + std::to_string(r.failures) + ")**";
}

// Calls `row` with each run's result, by report size and then mode.
template <typename Row>
void EachRun(const Options& options, const std::vector<Result>& results, Row row) {
  for (std::int64_t keys : options.keys) {
    for (Mode mode : options.modes)
      row(*Find(results, keys, mode));
  }
}

}  // namespace

std::string LoadAverage() {
  std::string text = ReadWholeFile("/proc/loadavg");
  const std::size_t cut = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
  return cut == std::string::npos ? text : text.substr(0, cut);
}

void PrintTables(const Options& options, const std::string& dir,
                 const std::vector<Result>& results) {
  std::printf("\n### %s (%s)\n\nHost-thread time per call:\n\n| call | keys |", dir.c_str(),
              FileSystem(dir).c_str());
  for (Mode mode : options.modes)
    std::printf(" %s n | p50 | p99 | max |", ModeName(mode));
  std::printf("\n|---|---:|");
  for (std::size_t i = 0; i < options.modes.size(); ++i)
    std::printf("---:|---:|---:|---:|");
  std::printf("\n");
  for (const char* call : {"MsgLog", "TimeFactor", "UnitSink", "ScenLoad",
                           "ScenLoad, writer running", "report copy"}) {
    for (std::int64_t keys : options.keys) {
      std::printf("| %s | %s |", call, Count(keys).c_str());
      for (Mode mode : options.modes) {
        const Result* r = Find(results, keys, mode);
        const Stats& s = r->Of(call);
        std::printf(" %s%zu | %s | %s | %s |", r->failures != 0 ? "FAILED " : "", s.n,
                    Duration(s.p50).c_str(), Duration(s.p99).c_str(), Duration(s.max).c_str());
      }
      std::printf("\n");
    }
  }

  std::printf(
      "\nCalls during which the host's thread was switched out (preempted: by the scheduler; "
      "waited: in the kernel, for a lock, a page or the disk), and the p99 of the other "
      "calls:\n\n| call | keys |");
  for (Mode mode : options.modes)
    std::printf(" %s preempted | waited | p99 of the rest |", ModeName(mode));
  std::printf("\n|---|---:|");
  for (std::size_t i = 0; i < options.modes.size(); ++i)
    std::printf("---:|---:|---:|");
  std::printf("\n");
  for (const char* call :
       {"MsgLog", "TimeFactor", "UnitSink", "ScenLoad", "ScenLoad, writer running"}) {
    for (std::int64_t keys : options.keys) {
      std::printf("| %s | %s |", call, Count(keys).c_str());
      for (Mode mode : options.modes) {
        const Stats& s = Find(results, keys, mode)->Of(call);
        const bool none_left = s.preempted + s.waited == s.n;
        std::printf(" %zu | %zu | %s |", s.preempted, s.waited,
                    none_left ? "none left" : Duration(s.undisturbed_p99).c_str());
      }
      std::printf("\n");
    }
  }

  std::printf(
      "\nMsgLog burst: report writes and journal flushes from its first call through the "
      "Finish after it; the last message visible in the report after its call returned:\n\n"
      "| keys | report bytes | mode | MsgLog calls | report writes | writes per 1,000 calls "
      "| journal flushes | last message visible after |\n"
      "|---:|---:|---|---:|---:|---:|---:|---:|\n");
  EachRun(options, results, [](const Result& r) {
    const double per_thousand =
        r.msglog.n == 0 ? 0 : 1000.0 * static_cast<double>(r.burst_writes) / r.msglog.n;
    std::printf("| %s | %s | %s | %zu | %ld | %.0f | %ld | %s |\n", Count(r.keys).c_str(),
                Count(static_cast<std::int64_t>(r.report_bytes)).c_str(), ModeLabel(r).c_str(),
                r.msglog.n, r.burst_writes, per_thousand, r.burst_flushes,
                r.burst_end_us < 0 ? "never" : Duration(r.burst_end_us).c_str());
  });

  std::printf(
      "\nJournal flushes from the first call of a TimeFactor or UnitSink burst through the "
      "Finish after it:\n\n| keys | mode | TimeFactor calls | journal flushes | UnitSink calls "
      "| journal flushes |\n|---:|---|---:|---:|---:|---:|\n");
  EachRun(options, results, [](const Result& r) {
    std::printf("| %s | %s | %zu | %ld | %zu | %ld |\n", Count(r.keys).c_str(),
                ModeLabel(r).c_str(), r.timefactor.n, r.timefactor_flushes, r.unitsink.n,
                r.unitsink_flushes);
  });

  std::printf(
      "\nLag after a quiet spell: one MsgLog, then the time from its return until a reader "
      "sees the message in the report (visible), and until the write that holds it returned "
      "(on disk: flushed, renamed, directory flushed):\n\n"
      "| keys | mode | n | visible p50 | visible max | on disk p50 | on disk max |\n"
      "|---:|---|---:|---:|---:|---:|---:|\n");
  EachRun(options, results, [](const Result& r) {
    std::printf("| %s | %s | %zu | %s | %s | %s | %s |\n", Count(r.keys).c_str(),
                ModeLabel(r).c_str(), r.lag_visible.n, Duration(r.lag_visible.p50).c_str(),
                Duration(r.lag_visible.max).c_str(), Duration(r.lag_disk.p50).c_str(),
                Duration(r.lag_disk.max).c_str());
  });
  std::fflush(stdout);
}

}  // namespace tarveld::bench
