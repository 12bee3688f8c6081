// A platform for tests: files go to the real file system through the native
// implementation, while the executable path, the clock and the locale are
// whatever the test sets, and debug output is collected.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarveld::testing {

class FakePlatform : public platform::Platform {
 public:
  std::string executable_path = "/nonexistent/host";
  platform::LocalTime clock{2024, 3, 7, 21, 5, 3, 250};
  platform::LocaleId user_locale = 0x0409;
  platform::LocaleId thread_locale = 0;
  // Locale items by number; a missing item cannot be read.
  std::map<int, std::string> locale_items;
  std::vector<std::string> debug_lines;

  std::string ExecutablePath() override { return executable_path; }
  bool IsExistingFile(const std::string& path) override {
    return platform::Native().IsExistingFile(path);
  }
  platform::IoResult ReadFile(const std::string& path, std::string& bytes) override {
    return platform::Native().ReadFile(path, bytes);
  }
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    return platform::Native().ReplaceFile(path, bytes);
  }
  platform::IoResult AppendLine(const std::string& path, std::string_view line) override {
    return platform::Native().AppendLine(path, line);
  }
  platform::IoResult FlushFile(const std::string& path) override {
    return platform::Native().FlushFile(path);
  }
  platform::LocalTime LocalClock() override { return clock; }
  platform::LocaleId UserDefaultLocale() override { return user_locale; }
  void SetThreadLocale(platform::LocaleId locale) override { thread_locale = locale; }
  platform::LocaleId ThreadLocale() override { return thread_locale; }
  int LocaleInfo(platform::LocaleId locale, int item, char* buffer, int size) override;
  void DebugOutput(const std::string& text) override { debug_lines.push_back(text); }
};

// Installs a platform for the lifetime of the guard. The report writer's
// thread may still be calling it when the test ends, so the guard lets the
// writer finish before it takes the platform away.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(platform::Platform& p) { platform::Install(&p); }
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;
};

// A fresh, empty directory under the system's temp directory, removed with
// everything in it when the guard ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the directory, as a string.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers that bypass the platform.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

}  // namespace tarveld::testing
