// The platform seam on POSIX systems (Linux first: the executable path comes
// from /proc).
//
// Sections, in order:
//   1. The system-call table (posix_syscalls.h).
//   2. Files: executable path, existence test, whole-file read, atomic
//      replacement, line append, flush.
//   3. Clock and debug output.
//   4. Time-format translation (posix_locale.h).
//   5. Locales: identifiers for locale names, per-thread locale, items.
//   6. Native().
//   7. Failure causes.
//
// Locale identifiers stand for the locale names found in the environment;
// reading an item never touches the process's global or thread locale, so
// the host's own formatting is left alone.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_locale.h"
#include "platform/posix_syscalls.h"

namespace tarveld::platform {

// ---------------------------------------------------------------------------
// 1. The system-call table.

int PosixOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
ssize_t PosixRead(int fd, void* buffer, size_t count) {
  return ::read(fd, buffer, count);
}
ssize_t PosixWrite(int fd, const void* buffer, size_t count) {
  return ::write(fd, buffer, count);
}
int PosixFsync(int fd) {
  return ::fsync(fd);
}
int PosixClose(int fd) {
  return ::close(fd);
}
int PosixRename(const char* from, const char* to) {
  return std::rename(from, to);
}
int PosixUnlink(const char* path) {
  return ::unlink(path);
}
ssize_t PosixPread(int fd, void* buffer, size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
int PosixFstat(int fd, struct stat* status) {
  return ::fstat(fd, status);
}

PosixSyscalls& Syscalls() {
  static PosixSyscalls table;
  return table;
}

namespace {

// ---------------------------------------------------------------------------
// 2. Files.

// open(2), repeated only when a signal interrupted it.
int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = Syscalls().open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int FsyncRetrying(int fd) {
  int rc;
  do {
    rc = Syscalls().fsync(fd);
  } while (rc < 0 && errno == EINTR);
  return rc;
}

// Writes all of `bytes`, continuing after partial writes and interruptions.
// Returns 0, or the errno of the failure; a write that stores nothing
// counts as a full disk.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = Syscalls().write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (n == 0) {
      return ENOSPC;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

// A suffix that no other writer of the same name is likely to pick; O_EXCL
// settles the rare collision.
std::string UniqueSuffix() {
  static std::atomic<unsigned long long> counter{0};
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const unsigned long long mix = (static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
                                  static_cast<unsigned long long>(now.tv_nsec)) ^
                                 (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
  char hex[17];
  const auto end = std::to_chars(hex, hex + sizeof hex, mix, 16).ptr;
  return ".tmp-" + std::to_string(getpid()) + "-" + std::string(hex, end);
}

// The directory part of `path`, its final "/" included; "" for none.
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Flushes the directory entry of a rename. Best effort: the data is already
// safe in the file, and a file system that cannot sync directories is no
// reason to report the write as failed.
void SyncDirectory(const std::string& directory) {
  const int fd = OpenRetrying(directory.empty() ? "." : directory.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) {
    return;
  }
  FsyncRetrying(fd);
  Syscalls().close(fd);
}

class PosixPlatform final : public Platform {
 public:
  std::string ExecutablePath() override;
  bool IsExistingFile(const std::string& path) override;
  IoResult ReadFile(const std::string& path, std::string& bytes) override;
  IoResult ReplaceFile(const std::string& path, std::string_view bytes) override;
  IoResult AppendLine(const std::string& path, std::string_view line) override;
  IoResult FlushFile(const std::string& path) override;
  LocalTime LocalClock() override;
  LocaleId UserDefaultLocale() override;
  void SetThreadLocale(LocaleId locale) override;
  LocaleId ThreadLocale() override;
  int LocaleInfo(LocaleId locale, int item, char* buffer, int size) override;
  void DebugOutput(const std::string& text) override;
};

// The link /proc/self/exe names the running executable. readlink does not
// say whether it cut the path short, so the buffer grows until the result
// leaves room to spare. Empty when the link cannot be read.
std::string PosixPlatform::ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) {
      return {};
    }
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool PosixPlatform::IsExistingFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// Only a regular file is read, and only whole. A FIFO would block the host
// until some writer came, and a device such as /dev/zero never ends; either
// counts as a file that cannot be opened (O_NONBLOCK keeps the open itself
// from waiting on a FIFO). A read error fails the same way rather than
// handing back the bytes so far: the store's next write would make that
// part the whole report and lose the rest.
IoResult PosixPlatform::ReadFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    return {IoStatus::kOpenFailed, errno};
  }
  struct stat status {};
  const int error_of_stat = ::fstat(fd, &status) != 0 ? errno : 0;
  if (error_of_stat != 0 || !S_ISREG(status.st_mode)) {
    Syscalls().close(fd);
    return {IoStatus::kOpenFailed, error_of_stat != 0 ? error_of_stat : EINVAL};
  }
  constexpr size_t kChunk = 64 * 1024;
  int error = 0;
  for (;;) {
    const size_t have = bytes.size();
    bytes.resize(have + kChunk);
    const ssize_t n = Syscalls().read(fd, bytes.data() + have, kChunk);
    bytes.resize(have + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n > 0 || (n < 0 && errno == EINTR)) {
      continue;
    }
    if (n < 0) {
      error = errno;
    }
    break;
  }
  Syscalls().close(fd);  // nothing was written, so nothing can be lost
  if (error != 0) {
    bytes.clear();
    return {IoStatus::kOpenFailed, error};
  }
  return {};
}

// Whether an existing file at `path` may be rewritten by this process. The
// rename below needs only the directory's permission, so without this a
// report that its owner made read-only would be replaced regardless. 0 when
// it may (or there is no file yet), else the errno of the refusal.
int RefusesWriting(const std::string& path) {
  const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd >= 0) {
    Syscalls().close(fd);
    return 0;
  }
  const int error = errno;
  return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY ? error : 0;
}

// The new content goes to a fresh file beside the old one and is renamed
// over it only once it is complete and on disk, so at every moment `path`
// holds either the old content or the new, never a part. Every failure
// removes the fresh file and leaves the old one untouched.
IoResult PosixPlatform::ReplaceFile(const std::string& path, std::string_view bytes) {
  if (const int refused = RefusesWriting(path); refused != 0) {
    return {IoStatus::kCreateFailed, refused};
  }
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = path + UniqueSuffix();
    fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      break;
    }
  }
  if (fd < 0) {
    return {IoStatus::kCreateFailed, errno};
  }

  int error = WriteAll(fd, bytes);
  if (error == 0 && FsyncRetrying(fd) < 0) {
    error = errno;
  }
  if (error != 0) {
    Syscalls().close(fd);
    Syscalls().unlink(temp.c_str());
    return {IoStatus::kWriteFailed, error};
  }
  // A failed close may have lost data on network file systems; on Linux the
  // descriptor is gone either way, so it is never closed twice.
  if (Syscalls().close(fd) < 0) {
    error = errno;
    Syscalls().unlink(temp.c_str());
    return {IoStatus::kWriteFailed, error};
  }
  if (Syscalls().rename(temp.c_str(), path.c_str()) < 0) {
    error = errno;
    Syscalls().unlink(temp.c_str());
    return {IoStatus::kCreateFailed, error};
  }
  SyncDirectory(DirectoryOf(path));
  return {};
}

// The line ends a line that a crash cut short: the file's last byte tells.
// A last byte that cannot be read counts as a cut, since an empty line in
// the file is a smaller harm than two events merged into one.
std::string_view BreakBefore(int fd, off_t size) {
  if (size == 0) {
    return {};
  }
  char last = 0;
  ssize_t n;
  do {
    n = Syscalls().pread(fd, &last, 1, size - 1);
  } while (n < 0 && errno == EINTR);
  if (n == 1 && last == '\n') {
    return {};
  }
  return n == 1 && last == '\r' ? "\n" : "\r\n";
}

// Opens `path` for `flags` without waiting (a FIFO without a reader would
// block the open, and one with a reader every write) and keeps it only when
// it is a regular file, whose status it leaves in `status`. -1 with errno
// set otherwise; EINVAL for a FIFO, a device or a socket.
int OpenRegularFile(const std::string& path, int flags, mode_t mode, struct stat& status) {
  const int fd = OpenRetrying(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    return -1;
  }
  int error = Syscalls().fstat(fd, &status) < 0 ? errno : 0;
  if (error == 0 && !S_ISREG(status.st_mode)) {
    error = EINVAL;
  }
  if (error != 0) {
    Syscalls().close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// O_APPEND puts every write at the end of the file, whatever the offset,
// so the line lands after everything that is there, from this process or
// another. The bytes go out in one write: a loop over writes only when
// the system stores fewer (a full disk), so a crash cuts at most this line.
// Nothing is flushed here: the caller is the game's thread, and FlushFile
// does that part elsewhere.
IoResult PosixPlatform::AppendLine(const std::string& path, std::string_view line) {
  struct stat status {};
  const int fd = OpenRegularFile(path, O_RDWR | O_APPEND | O_CREAT, 0666, status);
  if (fd < 0) {
    return {IoStatus::kCreateFailed, errno};
  }

  const std::string_view before = BreakBefore(fd, status.st_size);
  std::string bytes;
  bytes.reserve(before.size() + line.size() + 2);
  bytes.append(before).append(line).append("\r\n");

  int error = WriteAll(fd, bytes);
  if (Syscalls().close(fd) < 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    return {IoStatus::kWriteFailed, error};
  }
  return {};
}

// The file's data, then its directory entry, which a new file needs to
// survive a power loss and which costs next to nothing once it is on disk.
IoResult PosixPlatform::FlushFile(const std::string& path) {
  struct stat status {};
  const int fd = OpenRegularFile(path, O_RDONLY, 0, status);
  if (fd < 0) {
    return {IoStatus::kCreateFailed, errno};
  }
  int error = FsyncRetrying(fd) < 0 ? errno : 0;
  if (Syscalls().close(fd) < 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    return {IoStatus::kWriteFailed, error};
  }
  SyncDirectory(DirectoryOf(path));
  return {};
}

// ---------------------------------------------------------------------------
// 3. Clock and debug output.

LocalTime PosixPlatform::LocalClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

// One write, so lines from several threads or processes do not interleave.
void PosixPlatform::DebugOutput(const std::string& text) {
  const std::string line = "TARVELD: " + text + "\n";
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// 4. Time-format translation.

namespace {

// One piece of a strftime format: a conversion letter, or one literal byte.
struct FormatPiece {
  bool conversion;
  char c;
};

// Splits `format` into pieces; the conversions for which `expand` gives a
// text are replaced by the pieces of that text. Nothing when a "%" ends the
// format. Flags, widths and the E and O modifiers surface as conversions of
// their own and so are unmappable wherever one is looked for.
template <typename Expand>
std::optional<std::vector<FormatPiece>> SplitFormat(std::string_view format, Expand expand) {
  std::vector<FormatPiece> pieces;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      pieces.push_back({false, format[i]});
      continue;
    }
    if (++i == format.size()) {
      return std::nullopt;
    }
    const std::string_view expansion = expand(format[i]);
    if (expansion.empty()) {
      pieces.push_back({true, format[i]});
      continue;
    }
    for (size_t j = 0; j < expansion.size(); ++j) {
      if (expansion[j] == '%') {
        pieces.push_back({true, expansion[++j]});
      } else {
        pieces.push_back({false, expansion[j]});
      }
    }
  }
  return pieces;
}

std::string_view ExpandDate(char c) {
  if (c == 'D') {
    return "%m/%d/%y";
  }
  if (c == 'F') {
    return "%Y-%m-%d";
  }
  return {};
}

std::string_view ExpandTime(char c) {
  if (c == 'T') {
    return "%H:%M:%S";
  }
  if (c == 'R') {
    return "%H:%M";
  }
  return {};
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A byte that can serve as a one-character separator.
std::optional<std::string> SeparatorOf(const FormatPiece& piece) {
  const char c = piece.c;
  if (piece.conversion || c < ' ' || c > '~' || IsAsciiLetter(c) || (c >= '0' && c <= '9')) {
    return std::nullopt;
  }
  return std::string(1, c);
}

std::optional<std::string> FirstLiteralSeparator(const std::vector<FormatPiece>& pieces) {
  for (const FormatPiece& piece : pieces) {
    if (!piece.conversion) {
      return SeparatorOf(piece);
    }
  }
  return std::nullopt;
}

// The index of the first hour conversion, or npos.
size_t HourPiece(const std::vector<FormatPiece>& pieces) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    const char c = pieces[i].c;
    if (pieces[i].conversion && (c == 'H' || c == 'I' || c == 'k' || c == 'l')) {
      return i;
    }
  }
  return std::string::npos;
}

}  // namespace

std::optional<std::string> ShortDatePicture(std::string_view d_fmt) {
  const auto pieces = SplitFormat(d_fmt, ExpandDate);
  if (!pieces) {
    return std::nullopt;
  }
  const std::optional<std::string> separator = FirstLiteralSeparator(*pieces);
  const bool slash_is_separator = separator == "/";

  std::string picture;
  bool quoting = false;  // inside a '...' run
  for (const FormatPiece& piece : *pieces) {
    const char c = piece.c;
    const bool quote = !piece.conversion && (IsAsciiLetter(c) || c == ':' || c == '"' ||
                                             (c == '/' && !slash_is_separator));
    if (quoting && !quote) {
      picture += '\'';
      quoting = false;
    }
    if (piece.conversion) {
      switch (c) {
        case 'd':
          picture += "dd";
          break;
        case 'e':
          picture += "d";
          break;
        case 'm':
          picture += "MM";
          break;
        case 'Y':
          picture += "yyyy";
          break;
        case 'y':
          picture += "yy";
          break;
        default:
          return std::nullopt;
      }
    } else if (c == '\'') {
      picture += "\"'\"";
    } else {
      if (quote && !quoting) {
        picture += '\'';
        quoting = true;
      }
      picture += c;
    }
  }
  if (quoting) {
    picture += '\'';
  }
  return picture;
}

std::optional<std::string> DateSeparator(std::string_view d_fmt) {
  if (!ShortDatePicture(d_fmt)) {
    return std::nullopt;
  }
  return FirstLiteralSeparator(*SplitFormat(d_fmt, ExpandDate));
}

std::optional<std::string> HourLeadingZero(std::string_view t_fmt) {
  const auto pieces = SplitFormat(t_fmt, ExpandTime);
  if (!pieces) {
    return std::nullopt;
  }
  const size_t hour = HourPiece(*pieces);
  if (hour == std::string::npos) {
    return std::nullopt;
  }
  const char c = (*pieces)[hour].c;
  return std::string(c == 'H' || c == 'I' ? "1" : "0");
}

std::optional<std::string> TimeSeparator(std::string_view t_fmt) {
  const auto pieces = SplitFormat(t_fmt, ExpandTime);
  if (!pieces) {
    return std::nullopt;
  }
  const size_t hour = HourPiece(*pieces);
  if (hour == std::string::npos || hour + 1 == pieces->size()) {
    return std::nullopt;
  }
  return SeparatorOf((*pieces)[hour + 1]);
}

// ---------------------------------------------------------------------------
// 5. Locales.

namespace {

// Identifier 0 is the C locale, whose items are all left to the defaults;
// identifier n stands for the n-th distinct name met, opened once for its
// LC_TIME data and kept open until the module is unloaded.
class LocaleTable {
 public:
  LocaleTable() = default;
  LocaleTable(const LocaleTable&) = delete;
  LocaleTable& operator=(const LocaleTable&) = delete;
  ~LocaleTable() {
    for (const Entry& entry : entries_) {
      freelocale(entry.handle);
    }
  }

  LocaleId IdFor(const std::string& name) {
    if (IsCFamily(name)) {
      return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].name == name) {
        return static_cast<LocaleId>(i + 1);
      }
    }
    const locale_t handle = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
    if (handle == static_cast<locale_t>(0)) {
      return 0;
    }
    entries_.push_back({name, handle});
    return static_cast<LocaleId>(entries_.size());
  }

  // The opened locale, or nothing for 0 and unknown identifiers.
  std::optional<locale_t> Handle(LocaleId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id == 0 || id > entries_.size()) {
      return std::nullopt;
    }
    return entries_[id - 1].handle;
  }

 private:
  struct Entry {
    std::string name;
    locale_t handle;
  };

  // "C", "POSIX" and their codeset or modifier variants ("C.UTF-8").
  static bool IsCFamily(const std::string& name) {
    for (std::string_view base : {"C", "POSIX"}) {
      if (name.compare(0, base.size(), base) == 0 &&
          (name.size() == base.size() || name[base.size()] == '.' || name[base.size()] == '@')) {
        return true;
      }
    }
    return name.empty();
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Destroyed with the module's other statics: a host that unloads the
// plug-in gets the table and its locale handles back, where a table left
// to the process would be lost at every unload. Only locale reads use it,
// and none comes after the module's statics are gone.
LocaleTable& Locales() {
  static LocaleTable table;
  return table;
}

thread_local bool thread_locale_set = false;
thread_local LocaleId thread_locale = 0;

constexpr nl_item kMonthItems[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                     MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
constexpr nl_item kAbbrevMonthItems[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                           ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
// Sunday first, as nl_langinfo numbers them.
constexpr nl_item kDayItems[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
constexpr nl_item kAbbrevDayItems[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                        ABDAY_5, ABDAY_6, ABDAY_7};

std::optional<std::string> NonEmpty(const char* text) {
  if (text == nullptr || *text == '\0') {
    return std::nullopt;
  }
  return std::string(text);
}

// The text of one locale item, or nothing when it has no counterpart here.
std::optional<std::string> ItemText(locale_t handle, int item) {
  namespace li = locale_item;
  const auto info = [handle](nl_item what) { return nl_langinfo_l(what, handle); };
  switch (item) {
    case li::kShortDate:
      return ShortDatePicture(info(D_FMT));
    case li::kDateSeparator:
      return DateSeparator(info(D_FMT));
    case li::kHourLeadingZero:
      return HourLeadingZero(info(T_FMT));
    case li::kTimeSeparator:
      return TimeSeparator(info(T_FMT));
    case li::kAmText:
      return NonEmpty(info(AM_STR));
    case li::kPmText:
      return NonEmpty(info(PM_STR));
    default:
      break;
  }
  if (item >= li::kMonthName1 && item < li::kMonthName1 + 12) {
    return NonEmpty(info(kMonthItems[item - li::kMonthName1]));
  }
  if (item >= li::kAbbrevMonthName1 && item < li::kAbbrevMonthName1 + 12) {
    return NonEmpty(info(kAbbrevMonthItems[item - li::kAbbrevMonthName1]));
  }
  // Day items count from Monday (item 1) to Sunday (item 7).
  if (item >= li::kDayName1 && item < li::kDayName1 + 7) {
    return NonEmpty(info(kDayItems[(item - li::kDayName1 + 1) % 7]));
  }
  if (item >= li::kAbbrevDayName1 && item < li::kAbbrevDayName1 + 7) {
    return NonEmpty(info(kAbbrevDayItems[(item - li::kAbbrevDayName1 + 1) % 7]));
  }
  return std::nullopt;
}

// The locale name that governs LC_TIME: LC_ALL, then LC_TIME, then LANG,
// the first that is set and not empty.
std::string EnvironmentLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return {};
}

LocaleId PosixPlatform::UserDefaultLocale() {
  return Locales().IdFor(EnvironmentLocaleName());
}

void PosixPlatform::SetThreadLocale(LocaleId locale) {
  thread_locale = locale;
  thread_locale_set = true;
}

// A thread that never chose a locale has the user's default, as on Windows.
LocaleId PosixPlatform::ThreadLocale() {
  return thread_locale_set ? thread_locale : UserDefaultLocale();
}

int PosixPlatform::LocaleInfo(LocaleId locale, int item, char* buffer, int size) {
  const std::optional<locale_t> handle = Locales().Handle(locale);
  if (!handle) {
    return 0;
  }
  const std::optional<std::string> text = ItemText(*handle, item);
  if (!text || buffer == nullptr || size <= 0 || text->size() >= static_cast<size_t>(size)) {
    return 0;
  }
  std::memcpy(buffer, text->c_str(), text->size() + 1);
  return static_cast<int>(text->size() + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// 6. Native().

Platform& Native() {
  static PosixPlatform platform;
  return platform;
}

// ---------------------------------------------------------------------------
// 7. Failure causes.

// ETXTBSY: a running program's image; EBUSY: a file or mount in use.
FailureCause CauseOf(int os_error) {
  switch (os_error) {
    case EBUSY:
    case ETXTBSY:
      return FailureCause::kHeld;
    case EACCES:
    case EPERM:
    case EROFS:
      return FailureCause::kDenied;
    case ENOSPC:
    case EDQUOT:
      return FailureCause::kDiskFull;
    default:
      return FailureCause::kOther;
  }
}

}  // namespace tarveld::platform
