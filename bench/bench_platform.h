// The platform the benchmarks run the plug-in on: files through the native
// implementation, the executable in the bench directory (so the report and
// the journal land there too), a fixed clock and the default regional
// settings. Every failure the plug-in names on the debug output is counted
// and shown, so that a failing write cannot pass for a fast one; the count
// is atomic, as the report writer's thread may name one.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tarveld::bench {

class BenchPlatform : public platform::Platform {
 public:
  std::string executable_path;
  std::atomic<long> failures{0};

  std::string ExecutablePath() override { return executable_path; }
  bool IsExistingFile(const std::string& path) override { return Native().IsExistingFile(path); }
  platform::IoResult ReadFile(const std::string& path, std::string& bytes) override {
    return Native().ReadFile(path, bytes);
  }
  platform::IoResult ReadFileUnlessSame(const std::string& path, std::string_view known,
                                        std::string& bytes, bool& same) override {
    return Native().ReadFileUnlessSame(path, known, bytes, same);
  }
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    return Native().ReplaceFile(path, bytes);
  }
  platform::IoResult AppendLine(const std::string& path, std::string_view line) override {
    return Native().AppendLine(path, line);
  }
  platform::IoResult FlushFile(const std::string& path) override {
    return Native().FlushFile(path);
  }
  platform::LocalTime LocalClock() override { return {2024, 3, 7, 21, 5, 3, 250}; }
  platform::LocaleId UserDefaultLocale() override { return 0x0409; }
  void SetThreadLocale(platform::LocaleId) override {}
  platform::LocaleId ThreadLocale() override { return 0x0409; }
  int LocaleInfo(platform::LocaleId, int, char*, int) override { return 0; }
  void DebugOutput(const std::string& text) override {
    failures.fetch_add(1);
    std::fprintf(stderr, "BENCH FAILURE (named by the plug-in): %s\n", text.c_str());
  }

 protected:
  static platform::Platform& Native() { return platform::Native(); }
};

}  // namespace tarveld::bench
