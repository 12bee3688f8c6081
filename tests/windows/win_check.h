// Small helpers for the test programs that run inside Windows processes:
// checks that count failures, whole-file and directory helpers that go
// straight to the Win32 API, and a catcher for OutputDebugStringA.
//
// The cross build has no test framework; each program prints one line per
// failed check and ends with status 1 if there was any.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// Platform::ReplaceFile is no API call; the header's macro would rename it.
#undef ReplaceFile

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace tarveld::wintest {

inline int& FailureCount() {
  static int count = 0;
  return count;
}

inline bool Check(bool ok, const char* what, const char* file, int line) {
  if (!ok) {
    std::printf("FAILED %s:%d: %s\n", file, line, what);
    std::fflush(stdout);
    ++FailureCount();
  }
  return ok;
}

// Shows both texts, with control bytes escaped, when they differ.
inline bool CheckEqual(const std::string& actual, const std::string& expected, const char* what,
                       const char* file, int line) {
  if (actual == expected) {
    return true;
  }
  auto show = [](const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
      char escaped[8];
      if (c == '\r') {
        shown += "\\r";
      } else if (c == '\n') {
        shown += "\\n\n    ";
      } else if (c < 32 || c >= 127) {
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        shown += escaped;
      } else {
        shown += static_cast<char>(c);
      }
    }
    return shown;
  };
  std::printf("FAILED %s:%d: %s\n  actual:   %s\n  expected: %s\n", file, line, what,
              show(actual).c_str(), show(expected).c_str());
  std::fflush(stdout);
  ++FailureCount();
  return false;
}

#define CHECK(condition) ::tarveld::wintest::Check((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected) \
  ::tarveld::wintest::CheckEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

// The exit status of a test program.
inline int Finish(const char* name) {
  if (FailureCount() == 0) {
    std::printf("%s: all checks passed\n", name);
    return 0;
  }
  std::printf("%s: %d check(s) failed\n", name, FailureCount());
  return 1;
}

// The directory of this program, with its final backslash.
inline std::string OwnDirectory() {
  char path[4096];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, n);
  return text.substr(0, text.find_last_of("\\/:") + 1);
}

// Whole-file helpers that bypass the code under test. ReadWhole gives false
// when the file cannot be opened (for instance while another process holds
// it with no sharing).
inline bool ReadWhole(const std::string& path, std::string& bytes) {
  bytes.clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  char buffer[65536];
  DWORD n = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    bytes.append(buffer, n);
  }
  CloseHandle(file);
  return true;
}

inline std::string ReadWhole(const std::string& path) {
  std::string bytes;
  ReadWhole(path, bytes);
  return bytes;
}

inline bool WriteWhole(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

inline bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The names in `directory` (which ends with a separator), sorted, without
// "." and "..".
inline std::vector<std::string> ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : " ") + name;
  }
  return text;
}

// Collects the text of every OutputDebugStringA call in this process while it
// is alive. OutputDebugStringA raises DBG_PRINTEXCEPTION_C, which a vectored
// handler sees first, before the call's own handler swallows it; so the
// lines are caught the same way under wine and on Windows, debugger or not.
class DebugCatcher {
 public:
  DebugCatcher() {
    Take();
    handler_ = AddVectoredExceptionHandler(1, &DebugCatcher::Handler);
  }
  ~DebugCatcher() { RemoveVectoredExceptionHandler(handler_); }
  DebugCatcher(const DebugCatcher&) = delete;
  DebugCatcher& operator=(const DebugCatcher&) = delete;

  // Every line so far, and forgets them.
  std::vector<std::string> Take() {
    std::vector<std::string> lines;
    AcquireSRWLockExclusive(&Lock());
    lines.swap(Lines());
    ReleaseSRWLockExclusive(&Lock());
    return lines;
  }

  // True when a line since the last Take() holds `part`; prints the lines
  // otherwise. Forgets them either way.
  bool Took(const std::string& part) {
    const std::vector<std::string> lines = Take();
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) {
        return true;
      }
    }
    Show(lines, ("wanted one with \"" + part + "\"").c_str());
    return false;
  }

  // True when no line arrived since the last Take(); prints them otherwise.
  bool TookNothing() {
    const std::vector<std::string> lines = Take();
    if (!lines.empty()) {
      Show(lines, "wanted none");
    }
    return lines.empty();
  }

 private:
  static void Show(const std::vector<std::string>& lines, const char* wanted) {
    std::printf("  debug output (%u line(s)), %s:\n", static_cast<unsigned>(lines.size()), wanted);
    for (const std::string& line : lines) {
      std::printf("    %s", line.c_str());
    }
  }

  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }

  // The plug-in's writer thread names failures too.
  static SRWLOCK& Lock() {
    static SRWLOCK lock = SRWLOCK_INIT;
    return lock;
  }

  static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
      const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
      const std::size_t length = static_cast<std::size_t>(record->ExceptionInformation[0]);
      if (text != nullptr && length > 0) {
        AcquireSRWLockExclusive(&Lock());
        Lines().emplace_back(text, length - 1);
        ReleaseSRWLockExclusive(&Lock());
      }
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }

  void* handler_ = nullptr;
};

}  // namespace tarveld::wintest
