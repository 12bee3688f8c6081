// The POSIX platform against the real system: files in temporary
// directories, failures injected through the system-call table, and the
// locales de_DE.UTF-8, en_US.UTF-8 and ja_JP.UTF-8, which must be generated
// on the machine (locale-gen).
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix_locale.h"
#include "platform/posix_syscalls.h"
#include "support/fake_platform.h"
#include "support/posix_syscall_guard.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
namespace li = platform::locale_item;
using platform::IoStatus;
using platform::Native;
using platform::PosixSyscalls;
using platform::Syscalls;

std::vector<std::string> Listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------------------
// Files

TEST(PosixFiles, ExecutablePathIsTheProcessImage) {
  EXPECT_EQ(Native().ExecutablePath(), fs::read_symlink("/proc/self/exe").string());
}

TEST(PosixFiles, IsExistingFileOnlyForNonDirectories) {
  TempDir dir;
  WriteBytes(dir.File("file"), "x");
  fs::create_directory(dir.File("dir"));
  fs::create_directory_symlink(dir.File("dir"), dir.File("link-to-dir"));
  fs::create_symlink(dir.File("file"), dir.File("link-to-file"));
  fs::create_symlink(dir.File("missing"), dir.File("dangling"));
  const struct {
    const char* name;
    bool exists;
  } cases[] = {{"file", true},         {"dir", false},         {"missing", false},
               {"link-to-dir", false}, {"link-to-file", true}, {"dangling", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Native().IsExistingFile(dir.File(c.name)), c.exists) << c.name;
  }
}

TEST(PosixFiles, ReadFileGivesEveryByte) {
  TempDir dir;
  std::string large(200000, '\0');
  for (size_t i = 0; i < large.size(); ++i) {
    large[i] = static_cast<char>(i * 7);
  }
  const std::string contents[] = {"", std::string("a\0b\r\n\rc\xff", 8), large};
  for (const std::string& content : contents) {
    WriteBytes(dir.File("f"), content);
    std::string bytes = "left over";
    const auto result = Native().ReadFile(dir.File("f"), bytes);
    EXPECT_EQ(result.status, IoStatus::kOk);
    EXPECT_EQ(bytes, content) << content.size() << " bytes";
  }
}

// A store asks whether the report still holds the text it last wrote; the
// answer must be exact wherever the two part (in the first chunk, many
// chunks in, at either end), with reads that stop short of a chunk too,
// and what differs comes back whole.
TEST(PosixFiles, ReadFileUnlessSameKeepsTheBytesOnlyWhenTheyDiffer) {
  TempDir dir;
  std::string large(200000, '\0');
  for (size_t i = 0; i < large.size(); ++i) {
    large[i] = static_cast<char>(i * 7);
  }
  std::string late = large;
  late[150000] = static_cast<char>(late[150000] + 1);
  std::string early = large;
  early[3] = static_cast<char>(early[3] + 1);
  const struct {
    std::string file, known;
    bool same;
  } cases[] = {
      {large, large, true},
      {large, late, false},
      {large, early, false},
      {large, large.substr(0, 100000), false},  // the file goes on
      {large.substr(0, 131072), large, false},  // the file ends early
      {"", "", true},
      {"", "x", false},
      {"x", "", false},
  };
  static size_t most;
  for (const size_t limit : {size_t{0}, size_t{1000}}) {
    RealSyscallsAfter restore;
    most = limit;
    if (limit != 0) {
      Syscalls().read = [](int fd, void* buffer, size_t count) -> ssize_t {
        return platform::PosixRead(fd, buffer, std::min(count, most));
      };
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
      SCOPED_TRACE("case " + std::to_string(i) + ", reads of at most " + std::to_string(limit));
      WriteBytes(dir.File("f"), cases[i].file);
      std::string bytes = "left over";
      bool same = !cases[i].same;
      ASSERT_EQ(Native().ReadFileUnlessSame(dir.File("f"), cases[i].known, bytes, same).status,
                IoStatus::kOk);
      EXPECT_EQ(same, cases[i].same);
      EXPECT_TRUE(bytes == (cases[i].same ? std::string() : cases[i].file)) << bytes.size();
    }
  }
}

TEST(PosixFiles, ReadFileOfMissingFileFailsToOpen) {
  TempDir dir;
  std::string bytes;
  const auto result = Native().ReadFile(dir.File("missing"), bytes);
  EXPECT_EQ(result.status, IoStatus::kOpenFailed);
  EXPECT_EQ(result.os_error, ENOENT);
}

// The first read gives four bytes; what the second does decides the rest.
// An error fails the whole read: four bytes taken for the file would be
// written back as the whole report.
TEST(PosixFiles, ReadErrorFailsTheReadAndAnInterruptionDoesNot) {
  static int calls;
  const struct {
    const char* name;
    int second_read_error;
    IoStatus status;
    const char* bytes;
  } cases[] = {{"error", EIO, IoStatus::kOpenFailed, ""},
               {"interrupted", EINTR, IoStatus::kOk, "0123456789"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RealSyscallsAfter restore;
    TempDir dir;
    WriteBytes(dir.File("f"), "0123456789");
    static int error;
    error = c.second_read_error;
    calls = 0;
    Syscalls().read = [](int fd, void* buffer, size_t count) -> ssize_t {
      switch (calls++) {
        case 0:
          return platform::PosixRead(fd, buffer, std::min<size_t>(count, 4));
        case 1:
          errno = error;
          return -1;
        default:
          return platform::PosixRead(fd, buffer, count);
      }
    };
    std::string bytes;
    EXPECT_EQ(Native().ReadFile(dir.File("f"), bytes).status, c.status);
    EXPECT_EQ(bytes, c.bytes);
  }
}

// A failing fstat is a failure of the operation it serves, as a failing
// open or read is: its status and errno, nothing read, no descriptor left.
TEST(PosixFiles, AFailingFstatFailsItsOperation) {
  static int error;
  const struct {
    const char* name;
    int error;
    bool flush;  // FlushFile; otherwise ReadFile
    IoStatus status;
  } cases[] = {{"read, I/O error", EIO, false, IoStatus::kOpenFailed},
               {"read, size beyond off_t", EOVERFLOW, false, IoStatus::kOpenFailed},
               {"flush, I/O error", EIO, true, IoStatus::kCreateFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteBytes(dir.File("f"), "0123456789");
    const int descriptors = OpenDescriptors();
    error = c.error;
    std::string bytes = "left over";
    const platform::IoResult result = WithFault(
        [](PosixSyscalls& s) { s.fstat = [](int, struct stat*) { return errno = error, -1; }; },
        [&] {
          return c.flush ? Native().FlushFile(dir.File("f"))
                         : Native().ReadFile(dir.File("f"), bytes);
        });
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.os_error, c.error);
    if (!c.flush) {
      EXPECT_EQ(bytes, "");
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
}

// The existence test asks the table too. It has no failure to name: a stat
// that fails counts as no file, as a missing one does, and the store then
// starts empty.
TEST(PosixFiles, IsExistingFileStatsThroughTheTable) {
  static int calls;
  RealSyscallsAfter restore;
  TempDir dir;
  WriteBytes(dir.File("f"), "x");
  calls = 0;
  Syscalls().stat = [](const char* path, struct stat* status) {
    ++calls;
    return platform::PosixStat(path, status);
  };
  EXPECT_TRUE(Native().IsExistingFile(dir.File("f")));
  EXPECT_EQ(calls, 1);
  Syscalls().stat = [](const char*, struct stat*) { return errno = EACCES, -1; };
  EXPECT_FALSE(Native().IsExistingFile(dir.File("f")));
}

TEST(PosixFiles, ReplaceFileCreatesAndReplacesWhole) {
  TempDir dir;
  const std::string path = dir.File("Tarveld.txt");
  const std::string steps[] = {"[log]\r\n100000=long first text\r\n", "short", ""};
  for (const std::string& content : steps) {
    const auto result = Native().ReplaceFile(path, content);
    EXPECT_EQ(result.status, IoStatus::kOk) << result.os_error;
    EXPECT_EQ(ReadBytes(path), content);
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"Tarveld.txt"});
  }
}

TEST(PosixFiles, ReplaceFileHonoursTheUmask) {
  TempDir dir;
  const mode_t old_mask = umask(027);
  const auto result = Native().ReplaceFile(dir.File("f"), "x");
  umask(old_mask);
  ASSERT_TRUE(result.ok());
  struct stat status {};
  ASSERT_EQ(stat(dir.File("f").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(PosixFiles, ReplaceFileFailsToCreateWithoutAPlace) {
  TempDir dir;
  fs::create_directory(dir.File("Tarveld.txt"));
  const auto in_missing_dir = Native().ReplaceFile(dir.File("missing/Tarveld.txt"), "x");
  EXPECT_EQ(in_missing_dir.status, IoStatus::kCreateFailed);
  EXPECT_EQ(in_missing_dir.os_error, ENOENT);
  const auto on_directory = Native().ReplaceFile(dir.File("Tarveld.txt"), "x");
  EXPECT_EQ(on_directory.status, IoStatus::kCreateFailed);
  EXPECT_TRUE(fs::is_directory(dir.File("Tarveld.txt")));
  EXPECT_EQ(Listing(dir), std::vector<std::string>{"Tarveld.txt"});
}

// Each case breaks one step of the replacement. Whether or not a file was
// there before, afterwards it is exactly as it was, nothing else is in the
// directory and no descriptor is left open.
TEST(PosixFiles, ReplaceFileFailureLeavesTheOldFile) {
  const struct {
    const char* name;
    Fault arm;
    IoStatus status;
    int error;
  } cases[] = {
      {"create fails", fault::OpenDenied, IoStatus::kCreateFailed, EACCES},
      {"short write, then an error", fault::ShortWriteThenDiskFull, IoStatus::kWriteFailed, ENOSPC},
      {"write stores nothing", fault::WriteStoresNothing, IoStatus::kWriteFailed, ENOSPC},
      {"fsync fails", [](PosixSyscalls& s) { s.fsync = [](int) { return errno = EIO, -1; }; },
       IoStatus::kWriteFailed, EIO},
      {"close fails", fault::CloseFailsAfterClosing, IoStatus::kWriteFailed, EIO},
      {"rename fails",
       [](PosixSyscalls& s) {
         s.rename = [](const char*, const char*) { return errno = EXDEV, -1; };
       },
       IoStatus::kCreateFailed, EXDEV},
  };
  const std::string old_content = "[log]\r\n1=old\r\n";
  const std::string new_content(100000, 'n');
  for (const auto& c : cases) {
    for (const bool had_file : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (had_file ? ", over a file" : ", no file"));
      TempDir dir;
      const std::string path = dir.File("Tarveld.txt");
      if (had_file) {
        WriteBytes(path, old_content);
      }
      const int descriptors = OpenDescriptors();
      const auto result = WithFault(c.arm, [&] { return Native().ReplaceFile(path, new_content); });
      EXPECT_EQ(result.status, c.status);
      EXPECT_EQ(result.os_error, c.error);
      EXPECT_EQ(Listing(dir),
                had_file ? std::vector<std::string>{"Tarveld.txt"} : std::vector<std::string>{});
      if (had_file) {
        EXPECT_EQ(ReadBytes(path), old_content);
      }
      EXPECT_EQ(OpenDescriptors(), descriptors);
    }
  }
}

// Interruptions and partial writes are carried through, not reported.
TEST(PosixFiles, ReplaceFileRidesOutInterruptionsAndPartialWrites) {
  const struct {
    const char* name;
    Fault arm;
  } cases[] = {
      {"first name taken",
       [](PosixSyscalls& s) {
         s.open = [](const char* path, int flags, mode_t mode) {
           return fault_calls++ == 0 ? (errno = EEXIST, -1)
                                     : platform::PosixOpen(path, flags, mode);
         };
       }},
      {"open interrupted",
       [](PosixSyscalls& s) {
         s.open = [](const char* path, int flags, mode_t mode) {
           return fault_calls++ == 0 ? (errno = EINTR, -1) : platform::PosixOpen(path, flags, mode);
         };
       }},
      {"write interrupted", fault::FirstWriteInterrupted},
      {"write 7 bytes at a time",
       [](PosixSyscalls& s) {
         s.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
           return platform::PosixWrite(fd, buffer, std::min<size_t>(count, 7));
         };
       }},
      {"fsync interrupted",
       [](PosixSyscalls& s) {
         s.fsync = [](int fd) {
           return fault_calls++ == 0 ? (errno = EINTR, -1) : platform::PosixFsync(fd);
         };
       }},
  };
  const std::string content = "[Session Start]\r\nGame Time=100000\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("Tarveld.txt");
    WriteBytes(path, "old");
    const auto result = WithFault(c.arm, [&] { return Native().ReplaceFile(path, content); });
    EXPECT_EQ(result.status, IoStatus::kOk) << result.os_error;
    EXPECT_EQ(ReadBytes(path), content);
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"Tarveld.txt"});
  }
}

// The file-system calls of one replacement, in order, each with the path
// its descriptor was opened on (rename: its source).
struct FileCall {
  std::string kind;
  std::string path;
};
std::vector<FileCall> file_calls;
std::map<int, std::string> open_paths;

void RecordFileCalls(PosixSyscalls& s) {
  file_calls.clear();
  open_paths.clear();
  s.open = [](const char* path, int flags, mode_t mode) {
    const int fd = platform::PosixOpen(path, flags, mode);
    if (fd >= 0) {
      open_paths[fd] = path;
    }
    file_calls.push_back({"open", path});
    return fd;
  };
  s.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    file_calls.push_back({"write", open_paths[fd]});
    return platform::PosixWrite(fd, buffer, count);
  };
  s.fsync = [](int fd) {
    file_calls.push_back({"fsync", open_paths[fd]});
    return platform::PosixFsync(fd);
  };
  s.close = [](int fd) {
    file_calls.push_back({"close", open_paths[fd]});
    open_paths.erase(fd);
    return platform::PosixClose(fd);
  };
  s.rename = [](const char* from, const char* to) {
    file_calls.push_back({"rename", from});
    return platform::PosixRename(from, to);
  };
}

std::string FileCallList() {
  std::string list;
  for (const FileCall& call : file_calls) {
    list += "  " + call.kind + " " + call.path + "\n";
  }
  return list;
}

// The first call of `kind` on a path that `matches`, or -1.
template <typename Matches>
int FirstCall(const std::string& kind, Matches matches) {
  for (size_t i = 0; i < file_calls.size(); ++i) {
    if (file_calls[i].kind == kind && matches(file_calls[i].path)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// What makes a replacement survive a power loss is the order: the new
// file's bytes reach the disk before the rename makes them the report, and
// the directory, which holds the rename, reaches it after. A rename flushed
// before its file can leave an empty report; one never flushed can bring
// back the old report, or none, after the write was counted as done.
TEST(PosixFiles, ReplaceFileFlushesTheNewFileBeforeTheRenameAndTheDirectoryAfter) {
  for (const bool had_file : {true, false}) {
    SCOPED_TRACE(had_file ? "over a file" : "no file");
    RealSyscallsAfter restore;
    TempDir dir;
    const std::string path = dir.File("Tarveld.txt");
    if (had_file) {
      WriteBytes(path, "old");
    }
    RecordFileCalls(Syscalls());
    const auto result = Native().ReplaceFile(path, "[log]\r\n100000=new\r\n");
    Syscalls() = PosixSyscalls{};
    ASSERT_TRUE(result.ok()) << result.os_error;
    SCOPED_TRACE("calls:\n" + FileCallList());

    const int rename = FirstCall("rename", [](const std::string&) { return true; });
    ASSERT_GE(rename, 0);
    const std::string temp = file_calls[rename].path;
    const auto is_temp = [&](const std::string& p) { return p == temp; };
    int last_write = -1;
    for (size_t i = 0; i < file_calls.size(); ++i) {
      if (file_calls[i].kind == "write" && is_temp(file_calls[i].path)) {
        last_write = static_cast<int>(i);
      }
    }
    const int file_flush = FirstCall("fsync", is_temp);
    const int directory_flush = FirstCall("fsync", [&](const std::string& p) {
      std::error_code error;
      return fs::equivalent(p, dir.path(), error);
    });
    ASSERT_GE(last_write, 0) << "the new file was never written";
    ASSERT_GE(file_flush, 0) << "the new file was never flushed";
    ASSERT_GE(directory_flush, 0) << "the directory was never flushed";
    EXPECT_LT(last_write, file_flush);
    EXPECT_LT(file_flush, rename);
    EXPECT_LT(rename, directory_flush);
    EXPECT_EQ(ReadBytes(path), "[log]\r\n100000=new\r\n");
  }
}

// ---------------------------------------------------------------------------
// Clock and debug output

TEST(PosixClock, LocalClockReadsTheLocalWallClock) {
  // time() may run on a coarser clock, so the bounds come from the same one.
  timespec before{}, after{};
  clock_gettime(CLOCK_REALTIME, &before);
  const platform::LocalTime now = Native().LocalClock();
  clock_gettime(CLOCK_REALTIME, &after);
  tm fields{};
  fields.tm_year = now.year - 1900;
  fields.tm_mon = now.month - 1;
  fields.tm_mday = now.day;
  fields.tm_hour = now.hour;
  fields.tm_min = now.minute;
  fields.tm_sec = now.second;
  fields.tm_isdst = -1;
  const time_t seen = mktime(&fields);
  EXPECT_GE(seen, before.tv_sec);
  EXPECT_LE(seen, after.tv_sec);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(PosixDebugOutput, WritesOneTaggedLineToStandardError) {
  TempDir dir;
  const int capture = open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(capture, 0);
  const int saved = dup(STDERR_FILENO);
  dup2(capture, STDERR_FILENO);
  Native().DebugOutput("module load: regional settings not read");
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(capture);
  EXPECT_EQ(ReadBytes(dir.File("stderr")), "TARVELD: module load: regional settings not read\n");
}

// ---------------------------------------------------------------------------
// Time-format translation

TEST(PosixTimeFormats, ShortDatePictureAndSeparator) {
  using O = std::optional<std::string>;
  const struct {
    const char* d_fmt;
    O picture;
    O separator;
  } cases[] = {
      {"%m/%d/%Y", "MM/dd/yyyy", "/"},
      {"%d.%m.%Y", "dd.MM.yyyy", "."},
      {"%D", "MM/dd/yy", "/"},
      {"%F", "yyyy-MM-dd", "-"},
      {"%e. %m. %y", "d. MM. yy", "."},
      {"%Y年%m月%d日", "yyyy年MM月dd日", std::nullopt},  // a multibyte separator
      {"%Y%m%d", "yyyyMMdd", std::nullopt},
      {"%d de %m", "dd 'de' MM", " "},  // literal letters are quoted
      {"%d.%m/%y", "dd.MM'/'yy", "."},  // "/" other than the separator
      {"%d:%m'%y\"", "dd':'MM\"'\"yy'\"'", ":"},
      {"%d %b %Y", std::nullopt, std::nullopt},
      {"%Ey", std::nullopt, std::nullopt},
      {"%d%%", std::nullopt, std::nullopt},
      {"%d.%", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ShortDatePicture(c.d_fmt), c.picture) << c.d_fmt;
    EXPECT_EQ(platform::DateSeparator(c.d_fmt), c.separator) << c.d_fmt;
  }
}

TEST(PosixTimeFormats, HourLeadingZeroAndTimeSeparator) {
  using O = std::optional<std::string>;
  const struct {
    const char* t_fmt;
    O zero;
    O separator;
  } cases[] = {
      {"%H:%M:%S", "1", ":"},
      {"%T", "1", ":"},
      {"%R", "1", ":"},
      {"%I.%M %p", "1", "."},
      {"%k:%M", "0", ":"},
      {"%l:%M:%S %p", "0", ":"},
      {"%p %I:%M", "1", ":"},
      {"%H時%M分", "1", std::nullopt},
      {"%Hh%M", "1", std::nullopt},
      {"%H%M", "1", std::nullopt},
      {"%H", "1", std::nullopt},
      {"%r", std::nullopt, std::nullopt},
      {"%M:%S", std::nullopt, std::nullopt},
      {"%H:%", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::HourLeadingZero(c.t_fmt), c.zero) << c.t_fmt;
    EXPECT_EQ(platform::TimeSeparator(c.t_fmt), c.separator) << c.t_fmt;
  }
}

// ---------------------------------------------------------------------------
// Locales

// Sets LC_ALL, LC_TIME and LANG (nullptr: unset) and restores them after.
class LocaleEnvironment {
 public:
  LocaleEnvironment(const char* all, const char* time, const char* lang) {
    for (int i = 0; i < 3; ++i) {
      const char* value = std::getenv(kNames[i]);
      saved_[i] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    Set(kNames[0], all);
    Set(kNames[1], time);
    Set(kNames[2], lang);
  }
  ~LocaleEnvironment() {
    for (int i = 0; i < 3; ++i) {
      Set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }
  }

 private:
  static void Set(const char* name, const char* value) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_TIME", "LANG"};
  std::optional<std::string> saved_[3];
};

std::optional<std::string> Item(platform::LocaleId locale, int item) {
  char buffer[256];
  const int n = Native().LocaleInfo(locale, item, buffer, sizeof buffer);
  if (n <= 0) {
    return std::nullopt;
  }
  EXPECT_EQ(buffer[n - 1], '\0');
  return std::string(buffer, static_cast<size_t>(n - 1));
}

platform::LocaleId UserLocale(const char* name) {
  LocaleEnvironment environment(name, nullptr, nullptr);
  return Native().UserDefaultLocale();
}

void ExpectGenerated(const char* name) {
  const locale_t handle = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
  ASSERT_NE(handle, static_cast<locale_t>(0))
      << name << " is not generated: enable it in /etc/locale.gen and run locale-gen";
  freelocale(handle);
}

TEST(PosixLocales, ItemsOfGeneratedLocales) {
  using O = std::optional<std::string>;
  struct Expected {
    int item;
    O text;
  };
  const struct {
    const char* name;
    std::vector<Expected> items;
  } cases[] = {
      // D_FMT "%m/%d/%Y", T_FMT "%r": no hour conversion of its own.
      {"en_US.UTF-8",
       {{li::kShortDate, "MM/dd/yyyy"},
        {li::kDateSeparator, "/"},
        {li::kHourLeadingZero, std::nullopt},
        {li::kTimeSeparator, std::nullopt},
        {li::kAmText, "AM"},
        {li::kPmText, "PM"},
        {li::kMonthName1, "January"},
        {li::kMonthName1 + 11, "December"},
        {li::kAbbrevMonthName1 + 2, "Mar"},
        {li::kDayName1, "Monday"},
        {li::kDayName1 + 6, "Sunday"},
        {li::kAbbrevDayName1 + 5, "Sat"},
        {li::kLongDate, std::nullopt},
        {li::kCurrency, std::nullopt},
        {li::kDecimal, std::nullopt}}},
      // D_FMT "%d.%m.%Y", T_FMT "%T", no AM/PM texts.
      {"de_DE.UTF-8",
       {{li::kShortDate, "dd.MM.yyyy"},
        {li::kDateSeparator, "."},
        {li::kHourLeadingZero, "1"},
        {li::kTimeSeparator, ":"},
        {li::kAmText, std::nullopt},
        {li::kPmText, std::nullopt},
        {li::kMonthName1 + 2, "März"},
        {li::kAbbrevMonthName1 + 9, "Okt"},
        {li::kDayName1, "Montag"},
        {li::kDayName1 + 6, "Sonntag"},
        {li::kAbbrevDayName1 + 2, "Mi"},
        {li::kAbbrevDayName1 + 6, "So"}}},
      // D_FMT "%Y年%m月%d日", T_FMT "%H時%M分%S秒".
      {"ja_JP.UTF-8",
       {{li::kShortDate, "yyyy年MM月dd日"},
        {li::kDateSeparator, std::nullopt},
        {li::kHourLeadingZero, "1"},
        {li::kTimeSeparator, std::nullopt},
        {li::kAmText, "午前"},
        {li::kPmText, "午後"},
        {li::kMonthName1 + 11, "12月"},
        {li::kDayName1 + 6, "日曜日"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectGenerated(c.name);
    const platform::LocaleId id = UserLocale(c.name);
    ASSERT_NE(id, 0u);
    for (const Expected& e : c.items) {
      EXPECT_EQ(Item(id, e.item), e.text) << "item 0x" << std::hex << e.item;
    }
  }
}

TEST(PosixLocales, CFamilyAndUnknownNamesReadNothing) {
  for (const char* name : {"", "C", "POSIX", "C.UTF-8", "C.utf8", "xx_YY.UTF-8"}) {
    SCOPED_TRACE(name);
    const platform::LocaleId id = UserLocale(name);
    EXPECT_EQ(id, 0u);
    for (int item = 0; item < 0x60; ++item) {
      EXPECT_EQ(Item(id, item), std::nullopt) << item;
    }
  }
}

TEST(PosixLocales, EnvironmentPrecedence) {
  ExpectGenerated("de_DE.UTF-8");
  ExpectGenerated("en_US.UTF-8");
  ExpectGenerated("ja_JP.UTF-8");
  const struct {
    const char* all;
    const char* time;
    const char* lang;
    const char* picture;  // nullptr: the C locale
  } cases[] = {
      {"de_DE.UTF-8", "en_US.UTF-8", "ja_JP.UTF-8", "dd.MM.yyyy"},
      {"", "en_US.UTF-8", "de_DE.UTF-8", "MM/dd/yyyy"},
      {nullptr, "", "ja_JP.UTF-8", "yyyy年MM月dd日"},
      {nullptr, nullptr, "de_DE.UTF-8", "dd.MM.yyyy"},
      {"C", "de_DE.UTF-8", "de_DE.UTF-8", nullptr},
      {nullptr, nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    LocaleEnvironment environment(c.all, c.time, c.lang);
    const platform::LocaleId id = Native().UserDefaultLocale();
    const auto picture = Item(id, li::kShortDate);
    if (c.picture == nullptr) {
      EXPECT_EQ(id, 0u);
    } else {
      EXPECT_EQ(picture, c.picture);
    }
  }
}

TEST(PosixLocales, SameNameSameIdentifier) {
  ExpectGenerated("de_DE.UTF-8");
  ExpectGenerated("en_US.UTF-8");
  EXPECT_EQ(UserLocale("de_DE.UTF-8"), UserLocale("de_DE.UTF-8"));
  EXPECT_NE(UserLocale("de_DE.UTF-8"), UserLocale("en_US.UTF-8"));
}

TEST(PosixLocales, ItemMustFitTheBuffer) {
  ExpectGenerated("de_DE.UTF-8");
  const platform::LocaleId id = UserLocale("de_DE.UTF-8");
  char buffer[16] = {};
  EXPECT_EQ(Native().LocaleInfo(id, li::kShortDate, buffer, 11), 11);  // "dd.MM.yyyy"
  EXPECT_EQ(Native().LocaleInfo(id, li::kShortDate, buffer, 10), 0);
  EXPECT_EQ(Native().LocaleInfo(id, li::kDateSeparator, buffer, 2), 2);
  EXPECT_EQ(Native().LocaleInfo(id, li::kDateSeparator, buffer, 1), 0);
  EXPECT_EQ(Native().LocaleInfo(id, li::kDateSeparator, nullptr, 0), 0);
  EXPECT_EQ(Native().LocaleInfo(id + 1000, li::kDateSeparator, buffer, 16), 0);
}

TEST(PosixLocales, ThreadLocaleIsPerThreadAndLeavesTheProcessLocaleAlone) {
  ExpectGenerated("de_DE.UTF-8");
  ExpectGenerated("en_US.UTF-8");
  ExpectGenerated("ja_JP.UTF-8");
  const std::string global_before = setlocale(LC_ALL, nullptr);
  const platform::LocaleId german = UserLocale("de_DE.UTF-8");
  const platform::LocaleId american = UserLocale("en_US.UTF-8");

  Native().SetThreadLocale(american);
  platform::LocaleId unset_in_thread = 12345;
  platform::LocaleId set_in_thread = 0;
  {
    LocaleEnvironment environment(nullptr, nullptr, "ja_JP.UTF-8");
    std::thread([&] {
      unset_in_thread = Native().ThreadLocale();
      Native().SetThreadLocale(german);
      set_in_thread = Native().ThreadLocale();
      Item(set_in_thread, li::kShortDate);
    }).join();
  }
  EXPECT_EQ(unset_in_thread, UserLocale("ja_JP.UTF-8"));  // a new thread has the user's locale
  EXPECT_EQ(set_in_thread, german);
  EXPECT_EQ(Native().ThreadLocale(), american);  // untouched by the other thread
  EXPECT_EQ(Item(Native().ThreadLocale(), li::kShortDate), "MM/dd/yyyy");
  EXPECT_EQ(setlocale(LC_ALL, nullptr), global_before);
  EXPECT_EQ(uselocale(static_cast<locale_t>(0)), LC_GLOBAL_LOCALE);
}

}  // namespace
}  // namespace tarveld::testing
