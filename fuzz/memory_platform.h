// A platform whose files live in memory, so that a fuzz target runs
// thousands of stores a second without touching the disk. The clock is
// fixed and no locale item can be read.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tarveld::fuzz {

class MemoryPlatform : public platform::Platform {
 public:
  std::map<std::string, std::string, std::less<>> files;

  std::string ExecutablePath() override { return "/fuzz/host"; }
  bool IsExistingFile(const std::string& path) override { return files.contains(path); }
  platform::IoResult ReadFile(const std::string& path, std::string& bytes) override {
    const auto file = files.find(path);
    if (file == files.end())
      return {platform::IoStatus::kOpenFailed, 2};
    bytes = file->second;
    return {};
  }
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    files[path] = std::string(bytes);
    return {};
  }
  platform::IoResult AppendLine(const std::string& path, std::string_view line) override {
    std::string& file = files[path];
    if (!file.empty() && file.back() != '\n')
      file += file.back() == '\r' ? "\n" : "\r\n";
    file.append(line);
    file += "\r\n";
    return {};
  }
  platform::IoResult FlushFile(const std::string&) override { return {}; }
  platform::LocalTime LocalClock() override { return {2024, 3, 7, 21, 5, 3, 250}; }
  platform::LocaleId UserDefaultLocale() override { return 0x0409; }
  void SetThreadLocale(platform::LocaleId) override {}
  platform::LocaleId ThreadLocale() override { return 0x0409; }
  int LocaleInfo(platform::LocaleId, int, char*, int) override { return 0; }
  void DebugOutput(const std::string&) override {}
};

}  // namespace tarveld::fuzz
