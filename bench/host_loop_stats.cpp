#include "bench/host_loop_stats.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarveld::bench {

Stats Summarise(std::vector<double> samples) {
  Stats stats;
  stats.n = samples.size();
  if (samples.empty())
    return stats;
  std::sort(samples.begin(), samples.end());
  const auto rank = [&](double p) {
    const auto r = static_cast<std::size_t>(std::ceil(p * static_cast<double>(samples.size())));
    return samples[std::max<std::size_t>(r, 1) - 1];
  };
  stats.p50 = rank(0.50);
  stats.p99 = rank(0.99);
  stats.max = samples.back();
  return stats;
}

Switches ThreadSwitches() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return {usage.ru_nvcsw, usage.ru_nivcsw};
}

std::string Duration(double us) {
  char text[32];
  if (us < 10)
    std::snprintf(text, sizeof text, "%.1f µs", us);
  else if (us < 1000)
    std::snprintf(text, sizeof text, "%.0f µs", us);
  else if (us < 100'000)
    std::snprintf(text, sizeof text, "%.2f ms", us / 1000);
  else
    std::snprintf(text, sizeof text, "%.0f ms", us / 1000);
  return text;
}

std::string Count(std::int64_t n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      text += ',';
    text += digits[i];
  }
  return text;
}

}  // namespace tarveld::bench
