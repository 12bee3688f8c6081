// The plug-in's peak memory beside a report of N "log" entries: what a
// long campaign costs the game's address space.
//
//   tarveld_bench_report_memory [--dir DIR] [--keys N[,N...]] [--messages M]
//                               [--scenarios S]
//
// For each N, in a process of its own (so that one size's peak never hides
// another's), the bench writes the report, lets go of everything it used
// for that, and marks the process's resident peak as where it stands.
// Then the plug-in plays what a game does at a scenario start: DLLInit,
// ScenLoad, M messages (300 by default) at new game times, that scenario
// S times over (once by default: a second one reads the file again), DLLFree. The
// figure is the growth of the resident peak over that play, beside the
// report's size on disk after it. Linux only: it resets the peak through
// /proc/self/clear_refs.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_platform.h"
#include "bench/bench_report.h"
#include "plugin/exports.h"
#include "plugin/report_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace tarveld::bench;

// A field of /proc/self/status in kB ("VmHWM", "VmRSS").
long StatusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string wanted = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(wanted, 0) == 0)
      return std::strtol(line.c_str() + wanted.size(), nullptr, 10);
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

// One size, in this process; 0 when it went as it should.
int Measure(const fs::path& dir, std::int64_t keys, int messages, int scenarios) {
  BenchPlatform bench;
  bench.executable_path = (dir / "host").string();
  tarveld::platform::Install(&bench);
  const std::string report = (dir / "Tarveld.txt").string();
  fs::remove(dir / "Tarveld.log");
  if (!WriteWholeFile(report, PreparedReport(keys))) {
    std::fprintf(stderr, "cannot write %s\n", report.c_str());
    return 1;
  }
  malloc_trim(0);
  if (!ResetPeak()) {
    std::fprintf(stderr, "cannot reset the resident peak (/proc/self/clear_refs)\n");
    return 1;
  }
  const long base = StatusKilobytes("VmRSS");
  const tarveld::GameDateRec start{1942, 5, 4, 6, 0, 0, 0};
  DLLInit(0);
  for (int scenario = 0; scenario < scenarios; ++scenario) {
    // Between scenarios the player sits in the menus: the writer has put
    // everything on disk, and the next ScenLoad reads the file again.
    if (scenario > 0)
      usleep(5000 * 1000);
    ScenLoad(0, 0, nullptr, 0, "Convoy", 0, 100000, 0, &start);
    for (int i = 0; i < messages; ++i) {
      const std::int64_t n = keys + scenario * messages + i;
      GameTime(LogTime(n), 0);
      MsgLog(Message(n).c_str());
    }
  }
  DLLFree();
  const long peak = StatusKilobytes("VmHWM");
  const double report_mb = static_cast<double>(fs::file_size(report)) / 1e6;
  const double grown_mb = static_cast<double>(peak - base) * 1024 / 1e6;
  std::printf("| %lld | %.1f MB | %.1f MB | %.2f |\n", static_cast<long long>(keys), report_mb,
              grown_mb, grown_mb / report_mb);
  std::fflush(stdout);
  tarveld::platform::Install(nullptr);
  return bench.failures.load() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = fs::temp_directory_path() / "tarveld-memory-bench";
  std::vector<std::int64_t> sizes{1000, 10000, 100000, 1000000};
  int messages = 300;
  int scenarios = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--dir") {
      dir = argv[i + 1];
    } else if (name == "--keys") {
      sizes.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');)
        sizes.push_back(std::strtoll(item.c_str(), nullptr, 10));
    } else if (name == "--messages") {
      messages = std::atoi(argv[i + 1]);
    } else if (name == "--scenarios") {
      scenarios = std::atoi(argv[i + 1]);
    } else {
      std::fprintf(stderr, "usage: %s [--dir DIR] [--keys N,...] [--messages M] [--scenarios S]\n",
                   argv[0]);
      return 2;
    }
  }
  fs::create_directories(dir);
  std::printf("| keys | report | peak growth | ratio |\n|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  int status = 0;
  for (std::int64_t keys : sizes) {
    const pid_t child = fork();
    if (child == 0)
      std::_Exit(Measure(dir, keys, messages, scenarios));
    int child_status = 1;
    waitpid(child, &child_status, 0);
    if (!WIFEXITED(child_status) || WEXITSTATUS(child_status) != 0)
      status = 1;
  }
  return status;
}
