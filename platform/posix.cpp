// The platform seam on POSIX systems (Linux first: the executable path comes
// from /proc).
//
// Sections, in order:
//   1. The system-call table (posix_syscalls.h).
//   2. Files: executable path, existence test, whole-file read, atomic
//      replacement, line append, flush.
//   3. Clock, locales and debug output; the locales' own work is in
//      posix_locale.cpp.
//   4. Native().
//   5. Failure causes.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>

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
int PosixStat(const char* path, struct stat* status) {
  return ::stat(path, status);
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
  IoResult ReadFileUnlessSame(const std::string& path, std::string_view known, std::string& bytes,
                              bool& same) override;
  IoResult ReplaceFile(const std::string& path, std::string_view bytes) override;
  IoResult AppendLine(const std::string& path, std::string_view line) override;
  IoResult FlushFile(const std::string& path) override;
  LocalTime LocalClock() override;
  LocaleId UserDefaultLocale() override;
  void SetThreadLocale(LocaleId locale) override;
  LocaleId ThreadLocale() override;
  int LocaleInfo(LocaleId locale, int item, char* buffer, int size) override;
  void DebugOutput(const std::string& text) override;

 private:
  // ReadFile, and with `known` ReadFileUnlessSame.
  IoResult ReadWhole(const std::string& path, const std::string_view* known, std::string& bytes,
                     bool& same);
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
  return Syscalls().stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// Only a regular file is read, and only whole. A FIFO would block the host
// until some writer came, and a device such as /dev/zero never ends; either
// counts as a file that cannot be opened (O_NONBLOCK keeps the open itself
// from waiting on a FIFO). A read error fails the same way rather than
// handing back the bytes so far: the store's next write would make that
// part the whole report and lose the rest.
IoResult PosixPlatform::ReadFile(const std::string& path, std::string& bytes) {
  bool same = false;
  return ReadWhole(path, nullptr, bytes, same);
}

IoResult PosixPlatform::ReadFileUnlessSame(const std::string& path, std::string_view known,
                                           std::string& bytes, bool& same) {
  return ReadWhole(path, &known, bytes, same);
}

IoResult PosixPlatform::ReadWhole(const std::string& path, const std::string_view* known,
                                  std::string& bytes, bool& same) {
  bytes.clear();
  same = false;
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    return {IoStatus::kOpenFailed, errno};
  }
  struct stat status {};
  const int error_of_stat = Syscalls().fstat(fd, &status) != 0 ? errno : 0;
  if (error_of_stat != 0 || !S_ISREG(status.st_mode)) {
    Syscalls().close(fd);
    return {IoStatus::kOpenFailed, error_of_stat != 0 ? error_of_stat : EINVAL};
  }
  constexpr size_t kChunk = 64 * 1024;
  ChunkedRead read(bytes, known, static_cast<std::uint64_t>(status.st_size), kChunk);
  int error = 0;
  for (;;) {
    const ssize_t n = Syscalls().read(fd, read.Next(), kChunk);
    read.Took(n > 0 ? static_cast<size_t>(n) : 0);
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
  if (known != nullptr)
    same = read.Same();
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
// 3. Clock, locales and debug output.

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

LocaleId PosixPlatform::UserDefaultLocale() {
  return PosixUserDefaultLocale();
}
void PosixPlatform::SetThreadLocale(LocaleId locale) {
  PosixSetThreadLocale(locale);
}
LocaleId PosixPlatform::ThreadLocale() {
  return PosixThreadLocale();
}
int PosixPlatform::LocaleInfo(LocaleId locale, int item, char* buffer, int size) {
  return PosixLocaleInfo(locale, item, buffer, size);
}

// One write, so lines from several threads or processes do not interleave.
void PosixPlatform::DebugOutput(const std::string& text) {
  const std::string line = "TARVELD: " + text + "\n";
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// 4. Native().

Platform& Native() {
  static PosixPlatform platform;
  return platform;
}

// ---------------------------------------------------------------------------
// 5. Failure causes.

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
