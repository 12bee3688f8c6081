// The Windows side of the platform seam, run in a Windows process: files in
// a fresh directory beside this program, the clock, the locale calls and the
// debug output, each against the Win32 API directly.
//
//   platform_test.exe               run every check
//   platform_test.exe --print-path  print Native().ExecutablePath() (used by
//                                   the long-path check on a copy of itself)
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/windows_exit_files.h"
#include "win_check.h"

namespace {

using tarveld::platform::IoResult;
using tarveld::platform::IoStatus;
using tarveld::platform::Native;
namespace locale_item = tarveld::platform::locale_item;
using namespace tarveld::wintest;

// A fresh directory beside this program, with its final backslash.
std::string MakeWorkDirectory(const char* name) {
  const std::string directory = OwnDirectory() + name + "\\";
  CreateDirectoryA(directory.c_str(), nullptr);
  for (const std::string& entry : ListDirectory(directory)) {
    DeleteFileA((directory + entry).c_str());
  }
  return directory;
}

// Bytes of every value, CR, LF and NUL among them, longer than one read.
std::string AllByteValues(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  }
  return bytes;
}

void ExecutablePathIsThisProgram() {
  char expected[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, expected, sizeof expected);
  CHECK_EQ(Native().ExecutablePath(), std::string(expected, n));
}

// A copy of this program whose path is MAX_PATH - 1 characters long, the
// longest a program can have here, gives that path whole.
void ExecutablePathOfLongestLength() {
  const std::string name = "platform_test.exe";
  std::string directory = OwnDirectory();
  // Levels of at most 50 characters and a backslash fill what is left.
  std::size_t left = MAX_PATH - 1 - name.size() - directory.size();
  while (left >= 2) {
    const std::size_t level = left > 102 ? 51 : (left > 51 ? left / 2 : left);
    directory += std::string(level - 1, 'd') + "\\";
    CreateDirectoryA(directory.c_str(), nullptr);
    left -= level;
  }
  const std::string copy = directory + name;
  CHECK(copy.size() == MAX_PATH - 1);
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  if (!CHECK(CopyFileA(self, copy.c_str(), FALSE))) {
    return;
  }
  const std::string output = OwnDirectory() + "long-path.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + copy + "\" --print-path";
  if (CHECK(CreateProcessA(copy.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           nullptr, &startup, &process))) {
    WaitForSingleObject(process.hProcess, 120000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  CHECK_EQ(ReadWhole(output), copy);
}

void ExistenceTest() {
  const std::string directory = MakeWorkDirectory("exists");
  WriteWhole(directory + "file", "x");
  WriteWhole(directory + "empty", "");
  CreateDirectoryA((directory + "folder").c_str(), nullptr);
  const struct {
    const char* name;
    bool exists;
  } cases[] = {{"file", true}, {"empty", true}, {"folder", false}, {"missing", false}};
  for (const auto& c : cases) {
    if (!CHECK(Native().IsExistingFile(directory + c.name) == c.exists)) {
      std::printf("  for %s\n", c.name);
    }
  }
  CHECK(!Native().IsExistingFile(directory + "missing\\file"));
}

void ReadWholeFiles() {
  const std::string directory = MakeWorkDirectory("read");
  const std::string path = directory + "data";
  const std::string bytes = AllByteValues(200000);
  WriteWhole(path, bytes);
  std::string read = "left over";
  IoResult result = Native().ReadFile(path, read);
  CHECK(result.ok());
  CHECK(read == bytes);

  WriteWhole(path, "");
  result = Native().ReadFile(path, read);
  CHECK(result.ok());
  CHECK(read.empty());

  result = Native().ReadFile(directory + "missing", read);
  CHECK(result.status == IoStatus::kOpenFailed);
  CHECK(result.os_error == ERROR_FILE_NOT_FOUND);

  // A device is no file to read: NUL would read as empty, CON could block.
  read = "left over";
  result = Native().ReadFile("NUL", read);
  CHECK(result.status == IoStatus::kOpenFailed);
  CHECK(read.empty());
}

// Readers may share the file; a handle that may write refuses the open.
void ReadSharing() {
  const std::string path = MakeWorkDirectory("share") + "data";
  WriteWhole(path, "content");
  const struct {
    DWORD access;
    DWORD share;
    IoStatus expected;
  } cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, IoStatus::kOk},
      {GENERIC_READ, 0, IoStatus::kOpenFailed},
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, IoStatus::kOpenFailed},
      {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, IoStatus::kOpenFailed},
  };
  for (const auto& c : cases) {
    HANDLE other = CreateFileA(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(other != INVALID_HANDLE_VALUE);
    std::string read;
    const IoResult result = Native().ReadFile(path, read);
    if (!CHECK(result.status == c.expected)) {
      std::printf("  access %lx share %lx\n", c.access, c.share);
    }
    if (c.expected == IoStatus::kOk) {
      CHECK_EQ(read, "content");
    }
    CloseHandle(other);
  }
}

void ReplaceCreatesAndReplaces() {
  const std::string directory = MakeWorkDirectory("replace");
  const std::string path = directory + "Tarveld.txt";
  const std::string cases[] = {AllByteValues(150000), "short\r\n", "", "again\r\n"};
  for (const std::string& bytes : cases) {
    CHECK(Native().ReplaceFile(path, bytes).ok());
    CHECK(ReadWhole(path) == bytes);
    CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.txt");
  }
}

// Each failure leaves the old file as it was and no new file behind.
void ReplaceFailures() {
  const std::string directory = MakeWorkDirectory("fail");
  const std::string path = directory + "Tarveld.txt";

  IoResult result = Native().ReplaceFile(directory + "missing\\Tarveld.txt", "x");
  CHECK(result.status == IoStatus::kCreateFailed);
  CHECK(result.os_error == ERROR_PATH_NOT_FOUND);
  CHECK_EQ(JoinNames(ListDirectory(directory)), "");

  CreateDirectoryA(path.c_str(), nullptr);
  result = Native().ReplaceFile(path, "x");
  CHECK(result.status == IoStatus::kCreateFailed);
  CHECK(IsDirectory(path));
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.txt");
  RemoveDirectoryA(path.c_str());

  // Held open with no sharing: the rename is refused at once (the report
  // writer retries, away from the game's thread).
  WriteWhole(path, "old");
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(holder != INVALID_HANDLE_VALUE);
  const DWORD start = GetTickCount();
  result = Native().ReplaceFile(path, "new");
  const DWORD elapsed = GetTickCount() - start;
  CHECK(result.status == IoStatus::kCreateFailed);
  CHECK(elapsed < 1000);
  CloseHandle(holder);
  CHECK_EQ(ReadWhole(path), "old");
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.txt");

  // A read-only report cannot be replaced.
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  result = Native().ReplaceFile(path, "new");
  CHECK(result.status == IoStatus::kCreateFailed);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  CHECK_EQ(ReadWhole(path), "old");
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.txt");
}

// The files made ready for the unload at a process exit: the ready
// replacement becomes the report, even round a handle left open on it by a
// rename that was cut short; unused, it is deleted; and nothing is left
// beside the report either way.
void ExitFilesReplaceAndRelease() {
  const std::string directory = MakeWorkDirectory("exit");
  const std::string path = directory + "Tarveld.txt";
  const std::string journal = directory + "Tarveld.log";
  WriteWhole(path, "old");
  WriteWhole(journal, "line\r\n");

  Native().PrepareExitFiles(path, journal);
  CHECK(ListDirectory(directory).size() == 3);  // the report, the journal, the replacement
  CHECK(Native().ReplaceFileAtExit(path, "new").ok());
  CHECK(Native().FlushFileAtExit(journal).ok());
  Native().ReleaseExitFiles();
  CHECK_EQ(ReadWhole(path), "new");
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.log Tarveld.txt");

  // Released unused: the ready file goes, the report stays as it was.
  Native().PrepareExitFiles(path, journal);
  Native().ReleaseExitFiles();
  CHECK_EQ(ReadWhole(path), "new");
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.log Tarveld.txt");

  // The report held as a rename holds it (deletion asked for, all shared).
  Native().PrepareExitFiles(path, journal);
  HANDLE holder = CreateFileA(path.c_str(), DELETE | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(holder != INVALID_HANDLE_VALUE);
  CHECK(Native().ReplaceFileAtExit(path, "newer").ok());
  CHECK_EQ(ReadWhole(path), "newer");
  CloseHandle(holder);
  Native().ReleaseExitFiles();
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.log Tarveld.txt");

  // Ready for another report: this one is replaced as ReplaceFile would.
  Native().PrepareExitFiles(directory + "Other.txt", "");
  CHECK(Native().ReplaceFileAtExit(path, "newest").ok());
  Native().ReleaseExitFiles();
  CHECK_EQ(ReadWhole(path), "newest");
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.log Tarveld.txt");
}

// A new report the writer was ended in the middle of writing is deleted
// at the unload, once the ended writer's handle (still open, as at a
// process exit) closes; one it renamed into place is not touched.
void ExitFilesDeleteTheWritersHalfWrittenFile() {
  const std::string directory = MakeWorkDirectory("exit-writer");
  const std::string path = directory + "Tarveld.txt";
  WriteWhole(path, "report");
  for (const bool renamed : {false, true}) {
    tarveld::platform::ExitFiles files;
    unsigned serial = 100;
    files.Prepare(path, "", serial);
    std::string name;
    HANDLE writer = files.CreateWritersFile(path, serial, GENERIC_READ | GENERIC_WRITE, name);
    CHECK(writer != INVALID_HANDLE_VALUE);
    CHECK(tarveld::platform::windows_files::WriteAll(writer, "half"));
    if (renamed) {
      CloseHandle(writer);
      CHECK(MoveFileExA(name.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
      writer = INVALID_HANDLE_VALUE;
    }
    files.Release();
    if (writer != INVALID_HANDLE_VALUE)
      CloseHandle(writer);
    if (!CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.txt"))
      std::printf("  left: %s\n", JoinNames(ListDirectory(directory)).c_str());
    CHECK_EQ(ReadWhole(path), renamed ? "half" : "report");
  }
}

// Lines go at the end, each with CR LF; a last line that a crash cut short
// is ended first.
void AppendLines() {
  const std::string directory = MakeWorkDirectory("append");
  const std::string path = directory + "Tarveld.log";
  const struct {
    const char* before;  // nullptr: no file
    const char* after;
  } cases[] = {
      {nullptr, "new\r\n"},          {"", "new\r\n"},
      {"old\r\n", "old\r\nnew\r\n"}, {"cut", "cut\r\nnew\r\n"},
      {"cut\r", "cut\r\nnew\r\n"},   {"lf only\n", "lf only\nnew\r\n"},
  };
  for (const auto& c : cases) {
    DeleteFileA(path.c_str());
    if (c.before != nullptr) {
      WriteWhole(path, c.before);
    }
    CHECK(Native().AppendLine(path, "new").ok());
    CHECK_EQ(ReadWhole(path), c.after);
  }
  CHECK(Native().AppendLine(path, "second").ok());
  CHECK_EQ(ReadWhole(path), "lf only\nnew\r\nsecond\r\n");
  CHECK_EQ(JoinNames(ListDirectory(directory)), "Tarveld.log");

  // Readers that let others write do not stand in the way.
  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(Native().AppendLine(path, "third").ok());
  CloseHandle(reader);

  // Held with no sharing, or a directory: nothing is written.
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(Native().AppendLine(path, "refused").status == IoStatus::kCreateFailed);
  CloseHandle(holder);
  CHECK_EQ(ReadWhole(path), "lf only\nnew\r\nsecond\r\nthird\r\n");
  CHECK(Native().AppendLine(directory, "refused").status == IoStatus::kCreateFailed);

  // A device is no journal: refused at once, and so is its flush. A flush
  // of the file takes a handle that shares writing, as appends do.
  for (const char* device : {"NUL", "CON"}) {
    CHECK(Native().AppendLine(device, "refused").status == IoStatus::kCreateFailed);
    CHECK(Native().FlushFile(device).status == IoStatus::kCreateFailed);
  }
  CHECK(Native().FlushFile(path).ok());
  CHECK(Native().FlushFile(directory + "missing.log").status == IoStatus::kCreateFailed);
  CHECK_EQ(ReadWhole(path), "lf only\nnew\r\nsecond\r\nthird\r\n");
}

// The reading lies between two readings of GetLocalTime around it.
void LocalClockFollowsGetLocalTime() {
  auto ticks = [](const SYSTEMTIME& time) {
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return (static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  };
  SYSTEMTIME before;
  GetLocalTime(&before);
  const tarveld::platform::LocalTime now = Native().LocalClock();
  SYSTEMTIME after;
  GetLocalTime(&after);
  SYSTEMTIME reading{};
  reading.wYear = static_cast<WORD>(now.year);
  reading.wMonth = static_cast<WORD>(now.month);
  reading.wDay = static_cast<WORD>(now.day);
  reading.wHour = static_cast<WORD>(now.hour);
  reading.wMinute = static_cast<WORD>(now.minute);
  reading.wSecond = static_cast<WORD>(now.second);
  reading.wMilliseconds = static_cast<WORD>(now.millisecond);
  CHECK(ticks(before) <= ticks(reading) && ticks(reading) <= ticks(after));
}

// The item numbers mean what the Windows constants mean, and a text that
// does not fit the buffer gives 0.
void LocaleCalls() {
  CHECK(Native().UserDefaultLocale() == GetUserDefaultLCID());
  const LCID saved = GetThreadLocale();
  Native().SetThreadLocale(0x0407);
  CHECK(Native().ThreadLocale() == 0x0407);
  CHECK(GetThreadLocale() == 0x0407);
  Native().SetThreadLocale(saved);

  const struct {
    int item;
    int size;
    const char* text;  // nullptr: does not fit
  } cases[] = {
      {locale_item::kShortDate, 256, "M/d/yyyy"}, {locale_item::kShortDate, 4, nullptr},
      {locale_item::kDateSeparator, 4, "/"},      {locale_item::kTimeSeparator, 4, ":"},
      {locale_item::kHourLeadingZero, 256, "0"},  {locale_item::kMonthName1 + 2, 256, "March"},
      {locale_item::kAbbrevDayName1, 256, "Mon"}, {locale_item::kDayName1 + 6, 256, "Sunday"},
  };
  for (const auto& c : cases) {
    char buffer[256];
    std::memset(buffer, '?', sizeof buffer);
    const int n = Native().LocaleInfo(0x0409, c.item, buffer, c.size);
    if (c.text == nullptr) {
      if (!CHECK(n == 0)) {
        std::printf("  item %#x\n", c.item);
      }
    } else if (!CHECK(n == static_cast<int>(std::strlen(c.text)) + 1) ||
               !CHECK_EQ(std::string(buffer), c.text)) {
      std::printf("  item %#x\n", c.item);
    }
  }
}

void DebugOutputReachesDebugger() {
  DebugCatcher catcher;
  Native().DebugOutput("MsgLog: EFCreateError: Unable to create file \"x\"");
  const std::vector<std::string> lines = catcher.Take();
  CHECK(lines.size() == 1);
  if (!lines.empty()) {
    CHECK_EQ(lines[0], "TARVELD: MsgLog: EFCreateError: Unable to create file \"x\"\n");
  }
}

}  // namespace

// The Windows codes a player can act on, and the rest by number.
void FailureReasonsOfWindowsCodes() {
  const struct {
    DWORD code;
    const char* reason;
  } cases[] = {
      {ERROR_SHARING_VIOLATION, "another program held it"},
      {ERROR_LOCK_VIOLATION, "another program held it"},
      {ERROR_ACCESS_DENIED, "access was denied"},
      {ERROR_WRITE_PROTECT, "access was denied"},
      {ERROR_DISK_FULL, "the disk was full"},
      {ERROR_HANDLE_DISK_FULL, "the disk was full"},
      {ERROR_FILE_NOT_FOUND, "system error 2"},
      {ERROR_NOT_ENOUGH_MEMORY, "system error 8"},
      {ERROR_SUCCESS, "system error 0"},
  };
  for (const auto& c : cases) {
    CHECK_EQ(tarveld::platform::FailureReason(static_cast<int>(c.code)), std::string(c.reason));
  }
}

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--print-path") == 0) {
    const std::string path = Native().ExecutablePath();
    std::fwrite(path.data(), 1, path.size(), stdout);
    return 0;
  }
  ExecutablePathIsThisProgram();
  ExecutablePathOfLongestLength();
  ExistenceTest();
  ReadWholeFiles();
  ReadSharing();
  ReplaceCreatesAndReplaces();
  ReplaceFailures();
  AppendLines();
  ExitFilesReplaceAndRelease();
  ExitFilesDeleteTheWritersHalfWrittenFile();
  LocalClockFollowsGetLocalTime();
  LocaleCalls();
  DebugOutputReachesDebugger();
  FailureReasonsOfWindowsCodes();
  return Finish("platform_test");
}
