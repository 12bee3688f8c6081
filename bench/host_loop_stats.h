// What the host-loop bench keeps of its timed calls: samples, their
// nearest-rank percentiles, whether the host's thread was switched out
// during each, and the texts the tables show them in.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/report_writer.h"

namespace tarveld::bench {

using Clock = std::chrono::steady_clock;
using Mode = ReportWriter::Mode;

inline double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

struct Stats {
  std::size_t n = 0;
  double p50 = 0;
  double p99 = 0;
  double max = 0;
  // Calls during which the host's thread was switched out by the
  // scheduler (involuntary), or waited in the kernel (voluntary: a lock, a
  // page, the disk), and the p99 of the calls with neither.
  std::size_t preempted = 0;
  std::size_t waited = 0;
  double undisturbed_p99 = 0;
};

// Nearest rank: the smallest sample with at least p of all at or below it.
Stats Summarise(std::vector<double> samples);

struct Switches {
  long voluntary = 0;
  long involuntary = 0;
};

Switches ThreadSwitches();

// Times calls one by one and notes, for each, whether the thread was
// switched out during it.
class Sampler {
 public:
  explicit Sampler(std::size_t expected) { samples_.reserve(expected); }

  // The time the call returned.
  template <typename Call>
  Clock::time_point Time(Call&& call) {
    const Switches before = ThreadSwitches();
    const Clock::time_point begin = Clock::now();
    call();
    const Clock::time_point end = Clock::now();
    const Switches after = ThreadSwitches();
    const double us = Micros(end - begin);
    samples_.push_back(us);
    if (after.involuntary != before.involuntary)
      ++preempted_;
    else if (after.voluntary != before.voluntary)
      ++waited_;
    else
      undisturbed_.push_back(us);
    return end;
  }

  std::size_t size() const { return samples_.size(); }

  Stats Summary() const {
    Stats stats = Summarise(samples_);
    stats.preempted = preempted_;
    stats.waited = waited_;
    stats.undisturbed_p99 = Summarise(undisturbed_).p99;
    return stats;
  }

 private:
  std::vector<double> samples_;
  std::vector<double> undisturbed_;
  std::size_t preempted_ = 0;
  std::size_t waited_ = 0;
};

// One run's figures: one directory, one report size, one mode.
struct Result {
  std::int64_t keys = 0;
  Mode mode = Mode::kThread;
  std::size_t report_bytes = 0;
  Stats scenload, msglog, timefactor, unitsink;
  Stats scenload_running;  // ScenLoad with the writer's thread already running
  Stats copy;              // the report's bytes copied into a buffer already big enough
  long burst_writes = 0;
  long burst_flushes = 0;
  long timefactor_flushes = 0;  // journal flushes of the TimeFactor burst
  long unitsink_flushes = 0;    // and of the UnitSink burst
  double burst_end_us = -1;     // last MsgLog's return to a reader seeing it
  Stats lag_visible, lag_disk;
  long failures = 0;
  const Stats& Of(std::string_view call) const {
    return call == "MsgLog"                     ? msglog
           : call == "TimeFactor"               ? timefactor
           : call == "UnitSink"                 ? unitsink
           : call == "ScenLoad"                 ? scenload
           : call == "ScenLoad, writer running" ? scenload_running
                                                : copy;
  }
};

// "4.2 µs", "37 µs", "1.25 ms", "121 ms".
std::string Duration(double us);
// 1000000 as "1,000,000".
std::string Count(std::int64_t n);

}  // namespace tarveld::bench
