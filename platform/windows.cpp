// The platform seam on 32-bit Windows: the ANSI calls of the Win32 API.
//
// Sections, in order:
//   1. Files: executable path, existence test, whole-file read, atomic
//      replacement, line append, flush.
//   2. Clock, locales and debug output.
//   3. Native().
//   4. Failure causes.
//
// Paths are passed to the system exactly as the caller composed them, in the
// process's ANSI code page; nothing here converts text.
//
// The seam's ReplaceFile is not the API's (which is never used: see
// ReplaceFile below); windows_files.h takes back the header's macro, which
// would rename it.
#include <cstdio>
#include <limits>

#include "platform/platform.h"
#include "platform/windows_exit_files.h"
#include "platform/windows_files.h"

namespace tarveld::platform {

// ---------------------------------------------------------------------------
// 1. Files.

namespace windows_files {

int LastError() {
  return static_cast<int>(GetLastError());
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  constexpr std::size_t kMaxPiece = 1u << 30;
  while (!bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(bytes.size() < kMaxPiece ? bytes.size() : kMaxPiece);
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), piece, &written, nullptr)) {
      return false;
    }
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

std::string SiblingName(const std::string& path, unsigned serial) {
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".%lx-%x.tmp",
                static_cast<unsigned long>(GetCurrentProcessId()), serial);
  return path + suffix;
}

HANDLE CreateSibling(const std::string& path, unsigned& serial, DWORD access, std::string& name,
                     std::atomic<unsigned>* announce) {
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
    if (announce != nullptr)
      announce->store(serial + 1);
    name = SiblingName(path, serial++);
    file = CreateFileA(name.c_str(), access, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return file;
}

}  // namespace windows_files

namespace {

using windows_files::CreateSibling;
using windows_files::LastError;
using windows_files::SiblingName;
using windows_files::WriteAll;

// Windows refuses to rename over a read-only file or a directory, as it
// refuses to open one for rewriting; wine renames over a read-only file.
// Refusing such a report before any new file is made makes both behave
// alike.
bool IsReadOnlyOrDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

class WindowsPlatform final : public Platform {
 public:
  std::string ExecutablePath() override;
  bool IsExistingFile(const std::string& path) override;
  IoResult ReadFile(const std::string& path, std::string& bytes) override;
  IoResult ReadFileUnlessSame(const std::string& path, std::string_view known, std::string& bytes,
                              bool& same) override;
  IoResult ReplaceFile(const std::string& path, std::string_view bytes) override;
  void PrepareExitFiles(const std::string& report, const std::string& journal) override;
  IoResult ReplaceFileAtExit(const std::string& path, std::string_view bytes) override;
  IoResult FlushFileAtExit(const std::string& path) override;
  void ReleaseExitFiles() override;
  LocalTime LocalClock() override;
  LocaleId UserDefaultLocale() override;
  void SetThreadLocale(LocaleId locale) override;
  LocaleId ThreadLocale() override;
  int LocaleInfo(LocaleId locale, int item, char* buffer, int size) override;
  void DebugOutput(const std::string& text) override;
  IoResult AppendLine(const std::string& path, std::string_view line) override;
  IoResult FlushFile(const std::string& path) override;

 private:
  // ReplaceFile, and with `at_exit` what ReplaceFileAtExit does when
  // nothing was made ready: a report held open is moved aside first.
  IoResult Replace(const std::string& path, std::string_view bytes, bool at_exit);
  // ReadFile, and with `known` ReadFileUnlessSame.
  IoResult ReadWhole(const std::string& path, const std::string_view* known, std::string& bytes,
                     bool& same);

  unsigned next_serial_ = 0;
  ExitFiles exit_files_;
};

// GetModuleFileNameA cuts a path that does not fit and then returns the
// buffer's size, so the buffer grows until the result leaves room to spare.
// Empty when the system cannot tell.
std::string WindowsPlatform::ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      return {};
    }
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= std::numeric_limits<DWORD>::max() / 2) {
      return {};
    }
    path.resize(path.size() * 2);
  }
}

bool WindowsPlatform::IsExistingFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Other readers may share the file meanwhile; a writer holding it makes the
// open fail. Only a disk file is read (a pipe or a device such as CON could
// block or never end), and only whole: a read error fails the read rather
// than handing back the bytes so far, which the next rewrite would make the
// whole report.
IoResult WindowsPlatform::ReadFile(const std::string& path, std::string& bytes) {
  bool same = false;
  return ReadWhole(path, nullptr, bytes, same);
}

IoResult WindowsPlatform::ReadFileUnlessSame(const std::string& path, std::string_view known,
                                             std::string& bytes, bool& same) {
  return ReadWhole(path, &known, bytes, same);
}

IoResult WindowsPlatform::ReadWhole(const std::string& path, const std::string_view* known,
                                    std::string& bytes, bool& same) {
  bytes.clear();
  same = false;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {IoStatus::kOpenFailed, LastError()};
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return {IoStatus::kOpenFailed, ERROR_INVALID_FUNCTION};
  }
  constexpr DWORD kChunk = 64 * 1024;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size))
    size.QuadPart = 0;
  ChunkedRead read(bytes, known, static_cast<std::uint64_t>(size.QuadPart), kChunk);
  int error = 0;
  for (;;) {
    DWORD n = 0;
    const BOOL ok = ::ReadFile(file, read.Next(), kChunk, &n, nullptr);
    read.Took(ok ? n : 0);
    if (!ok) {
      error = LastError();
    }
    if (!ok || n == 0) {
      break;
    }
  }
  CloseHandle(file);  // nothing was written, so nothing can be lost
  if (error != 0) {
    bytes.clear();
    return {IoStatus::kOpenFailed, error};
  }
  if (known != nullptr)
    same = read.Same();
  return {};
}

// The new content goes to a fresh file beside the old one and is renamed
// over it only once it is complete and flushed, so at every moment `path`
// holds either the old content or the new, never a part and never nothing.
// (ReplaceFileA is not used: under wine it deletes the target before it
// moves the new file in.) The fresh file is opened sharing only deletion
// (see windows_files.h), and the rename fails while another handle is open
// on the report (on Windows unless that handle shares deletion, under wine
// always), which keeps the rule that nobody else may have the report open
// while it is rewritten. Every failure deletes the fresh file and leaves
// the old one untouched.
IoResult WindowsPlatform::ReplaceFile(const std::string& path, std::string_view bytes) {
  return Replace(path, bytes, false);
}

void WindowsPlatform::PrepareExitFiles(const std::string& report, const std::string& journal) {
  exit_files_.Prepare(report, journal, next_serial_);
}

// At process exit the replacement made ready beforehand is used when there
// is one (windows_exit_files.h says why). Without one, or when it fails,
// the replacement is made as ReplaceFile makes it, except that a report
// held open is first moved aside, as the ready one does: the handle in the
// way may be the plug-in's own, that of a thread the system ended inside
// its rename, open until the process is gone.
IoResult WindowsPlatform::ReplaceFileAtExit(const std::string& path, std::string_view bytes) {
  if (IsReadOnlyOrDirectory(path))
    return {IoStatus::kCreateFailed, ERROR_ACCESS_DENIED};
  IoResult result;
  if (exit_files_.Replace(path, bytes, result) && result.ok())
    return result;
  return Replace(path, bytes, true);
}

IoResult WindowsPlatform::FlushFileAtExit(const std::string& path) {
  IoResult result;
  if (exit_files_.Flush(path, result) && result.ok())
    return result;
  return FlushFile(path);
}

void WindowsPlatform::ReleaseExitFiles() {
  exit_files_.Release();
}

IoResult WindowsPlatform::Replace(const std::string& path, std::string_view bytes, bool at_exit) {
  if (IsReadOnlyOrDirectory(path))
    return {IoStatus::kCreateFailed, ERROR_ACCESS_DENIED};

  // The writer's new file is named to the unload at exit before it is made,
  // until it is renamed or deleted; the unload's own, made when nothing
  // was ready, leaves what the unload knows as it is.
  struct InHand {
    ExitFiles* files;
    ~InHand() {
      if (files != nullptr)
        files->WriterDone();
    }
  } in_hand{at_exit ? nullptr : &exit_files_};
  std::string temp;
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const HANDLE file = at_exit ? CreateSibling(path, next_serial_, access, temp)
                              : exit_files_.CreateWritersFile(path, next_serial_, access, temp);
  if (file == INVALID_HANDLE_VALUE) {
    return {IoStatus::kCreateFailed, LastError()};
  }

  if (!WriteAll(file, bytes) || !FlushFileBuffers(file)) {
    const int error = LastError();
    CloseHandle(file);
    DeleteFileA(temp.c_str());
    return {IoStatus::kWriteFailed, error};
  }
  if (!CloseHandle(file)) {
    const int error = LastError();
    DeleteFileA(temp.c_str());
    return {IoStatus::kWriteFailed, error};
  }

  // A sharing violation here (a virus scanner, an indexer or an editor
  // holding the report for a moment) fails this write; the report writer
  // tries again after a pause, away from the game's thread.
  constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExA(temp.c_str(), path.c_str(), kReplace)) {
    return {};
  }
  int error = LastError();
  if (at_exit && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)) {
    const std::string aside = SiblingName(path, next_serial_++);
    if (MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
      if (MoveFileExA(temp.c_str(), path.c_str(), kReplace)) {
        DeleteFileA(aside.c_str());
        return {};
      }
      error = LastError();
      MoveFileExA(aside.c_str(), path.c_str(), kReplace);
    }
  }
  DeleteFileA(temp.c_str());
  return {IoStatus::kCreateFailed, error};
}

// Opens `path` with `access` and `disposition`, sharing reading and
// writing, and keeps the handle only for a disk file (a pipe or a device
// could block the game's thread or never end). INVALID_HANDLE_VALUE with
// the last error set otherwise.
HANDLE OpenSharedDiskFile(const std::string& path, DWORD access, DWORD disposition) {
  const HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_INVALID_FUNCTION);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// A write-side step failed: the file is closed and the failure reported.
IoResult FailedWriting(HANDLE file) {
  const int error = LastError();
  CloseHandle(file);
  return {IoStatus::kWriteFailed, error};
}

// Opened with FILE_APPEND_DATA and without FILE_WRITE_DATA, the file takes
// every write at its end, whatever else has grown it. Only its last byte
// is read, to end a line that a crash cut short (a byte that cannot be
// read counts as such a cut: an empty line harms less than two events
// merged); then the bytes go out in one WriteFile. FlushFile puts
// them on disk later, from another thread, so both share writing.
IoResult WindowsPlatform::AppendLine(const std::string& path, std::string_view line) {
  const HANDLE file = OpenSharedDiskFile(path, GENERIC_READ | FILE_APPEND_DATA, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    return {IoStatus::kCreateFailed, LastError()};
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    const int error = LastError();
    CloseHandle(file);
    return {IoStatus::kCreateFailed, error};
  }
  std::string bytes;
  if (size.QuadPart > 0) {
    const ULONGLONG at = static_cast<ULONGLONG>(size.QuadPart - 1);
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    char last = 0;
    DWORD n = 0;
    const bool read = ::ReadFile(file, &last, 1, &n, &position) && n == 1;
    if (!read || last != '\n') {
      bytes = read && last == '\r' ? "\n" : "\r\n";
    }
  }
  bytes.append(line).append("\r\n");
  if (bytes.size() > std::numeric_limits<DWORD>::max()) {
    CloseHandle(file);
    return {IoStatus::kWriteFailed, ERROR_NOT_ENOUGH_MEMORY};
  }
  DWORD written = 0;
  const BOOL wrote =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  if (wrote && written != bytes.size()) {
    SetLastError(ERROR_DISK_FULL);
  }
  if (!wrote || written != bytes.size()) {
    return FailedWriting(file);
  }
  if (!CloseHandle(file)) {
    return {IoStatus::kWriteFailed, LastError()};
  }
  return {};
}

// FlushFileBuffers needs a handle with write access; it flushes what every
// handle of the process wrote to the file.
IoResult WindowsPlatform::FlushFile(const std::string& path) {
  const HANDLE file = OpenSharedDiskFile(path, GENERIC_WRITE, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    return {IoStatus::kCreateFailed, LastError()};
  }
  if (!FlushFileBuffers(file)) {
    return FailedWriting(file);
  }
  if (!CloseHandle(file)) {
    return {IoStatus::kWriteFailed, LastError()};
  }
  return {};
}

// ---------------------------------------------------------------------------
// 2. Clock, locales and debug output.

LocalTime WindowsPlatform::LocalClock() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

LocaleId WindowsPlatform::UserDefaultLocale() {
  return GetUserDefaultLCID();
}

void WindowsPlatform::SetThreadLocale(LocaleId locale) {
  ::SetThreadLocale(locale);
}

LocaleId WindowsPlatform::ThreadLocale() {
  return GetThreadLocale();
}

int WindowsPlatform::LocaleInfo(LocaleId locale, int item, char* buffer, int size) {
  return GetLocaleInfoA(locale, static_cast<LCTYPE>(item), buffer, size);
}

// A debugger shows the line (and so do DebugView and wine's +debugstr
// channel); without one nobody sees it and the call costs next to nothing.
void WindowsPlatform::DebugOutput(const std::string& text) {
  const std::string line = "TARVELD: " + text + "\n";
  OutputDebugStringA(line.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// 3. Native().

Platform& Native() {
  static WindowsPlatform platform;
  return platform;
}

// ---------------------------------------------------------------------------
// 4. Failure causes.

// A sharing or lock violation is another process's open handle or locked
// range; a write-protected medium counts as refused access.
FailureCause CauseOf(int os_error) {
  switch (static_cast<DWORD>(os_error)) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FailureCause::kHeld;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FailureCause::kDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FailureCause::kDiskFull;
    default:
      return FailureCause::kOther;
  }
}

}  // namespace tarveld::platform
