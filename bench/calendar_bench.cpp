// AdvanceGameDate against the one-step-per-second loop, from one start record
// at game times of one second, one day, one year and the highest.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "plugin/game_calendar.h"
#include "support/step_calendar.h"

namespace {

constexpr tarveld::GameDateRec kStart{1944, 6, 6, 5, 30, 0, 0};

template <tarveld::GameDateRec (*Advance)(const tarveld::GameDateRec&, std::int32_t)>
void Run(benchmark::State& state) {
  tarveld::GameDateRec start = kStart;
  auto game_time = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    // Hidden from the optimiser, so that no call is hoisted out of the loop.
    benchmark::DoNotOptimize(start);
    benchmark::DoNotOptimize(game_time);
    tarveld::GameDateRec result = Advance(start, game_time);
    benchmark::DoNotOptimize(result);
  }
}

tarveld::GameDateRec Constant(const tarveld::GameDateRec& start, std::int32_t game_time) {
  return tarveld::AdvanceGameDate(start, game_time);
}

void BM_AdvanceGameDate(benchmark::State& state) {
  Run<Constant>(state);
}
void BM_StepLoop(benchmark::State& state) {
  Run<tarveld::testing::StepGameDate>(state);
}

BENCHMARK(BM_AdvanceGameDate)->Arg(100'001)->Arg(186'400)->Arg(31'636'000)->Arg(2'147'483'647);
BENCHMARK(BM_StepLoop)->Arg(100'001)->Arg(186'400)->Arg(31'636'000)->Unit(benchmark::kMicrosecond);

}  // namespace
