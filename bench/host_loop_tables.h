// The host-loop bench's tables, in Markdown, one set per directory.
#pragma once

#include <string>
#include <vector>

#include "bench/host_loop_options.h"
#include "bench/host_loop_stats.h"

namespace tarveld::bench {

// The load average over 1, 5 and 15 minutes, as /proc/loadavg says.
std::string LoadAverage();

void PrintTables(const Options& options, const std::string& dir,
                 const std::vector<Result>& results);

}  // namespace tarveld::bench
