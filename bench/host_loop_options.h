// The host-loop bench's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/host_loop_stats.h"

namespace tarveld::bench {

struct Options {
  std::vector<std::string> dirs = {"/tmp"};
  std::vector<std::int64_t> keys = {100, 1'000, 10'000, 100'000};
  std::vector<Mode> modes = {Mode::kCallerThread, Mode::kThread};
  int scenload = 5;
  int burst = 1000;
  int calls = 1000;
  int lag = 20;
  int quiet_ms = 20;
  double budget_s = 10;
  int min_calls = 50;
};

// "before" (caller-thread writes) or "after" (the writer's thread).
const char* ModeName(Mode mode);

// False when an option is unknown or a value out of range.
bool ParseOptions(int argc, char** argv, Options& options);

}  // namespace tarveld::bench
