// The one seam between the plug-in and the operating system.
//
// Everything the plug-in needs from the system passes through `Platform`:
// the host executable's path, the file-existence test, reading a whole file,
// replacing a file's contents, appending a line to a file and flushing it,
// the local clock,
// the user's locale items and the debug output. The core includes this
// header and nothing of the OS; `posix.cpp` and `windows.cpp` implement it,
// one per target, and tests install a fake to make clocks, locales and
// failures what they need.
//
// The file operations' own failure paths are tested against real files on
// both sides. On POSIX every system call of them goes through a table
// (posix_syscalls.h) whose entries tests swap to fail on cue, one call after
// another (tests/unit/fault_injection_test.cpp, posix_*_test.cpp). Windows
// has no such table: there the failures are made for real, in Windows
// processes under wine (tests/windows/). windows.platform drives windows.cpp
// into a missing folder, a file another handle holds and a read-only file;
// the windows.failure.* suites put a folder where the report goes, hold the
// report from another process and cap the size a process may write, and
// check that the DLL names each failure and the host carries on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarveld::platform {

// Outcome of a file operation. `os_error` keeps the raw system code (errno
// or GetLastError) for diagnostics; the store maps `status` to its
// exception classes.
enum class IoStatus {
  kOk,
  kOpenFailed,    // the file exists but could not be opened for reading
  kCreateFailed,  // the replacement could not be created or put in place
  kWriteFailed,   // the replacement could not be written completely
};

struct IoResult {
  IoStatus status = IoStatus::kOk;
  int os_error = 0;

  bool ok() const { return status == IoStatus::kOk; }
};

// The local wall clock, as the system's local-time call gives it.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// A locale identifier as the Windows locale API uses it (an LCID). The POSIX
// implementation hands out its own identifiers.
using LocaleId = std::uint32_t;

// Locale item numbers (the Windows LOCALE_* constants), the only ones the
// plug-in asks for.
namespace locale_item {
inline constexpr int kCurrency = 0x14;          // LOCALE_SCURRENCY
inline constexpr int kCurrencyDigits = 0x19;    // LOCALE_ICURRDIGITS
inline constexpr int kCurrencyFormat = 0x1B;    // LOCALE_ICURRENCY
inline constexpr int kNegativeCurrency = 0x1C;  // LOCALE_INEGCURR
inline constexpr int kDateSeparator = 0x1D;     // LOCALE_SDATE
inline constexpr int kTimeSeparator = 0x1E;     // LOCALE_STIME
inline constexpr int kShortDate = 0x1F;         // LOCALE_SSHORTDATE
inline constexpr int kLongDate = 0x20;          // LOCALE_SLONGDATE
inline constexpr int kHourLeadingZero = 0x25;   // LOCALE_ITLZERO
inline constexpr int kAmText = 0x28;            // LOCALE_S1159
inline constexpr int kPmText = 0x29;            // LOCALE_S2359
inline constexpr int kDayName1 = 0x2A;          // LOCALE_SDAYNAME1 (Monday) .. +6
inline constexpr int kAbbrevDayName1 = 0x31;    // LOCALE_SABBREVDAYNAME1 (Monday) .. +6
inline constexpr int kMonthName1 = 0x38;        // LOCALE_SMONTHNAME1 .. +11
inline constexpr int kAbbrevMonthName1 = 0x44;  // LOCALE_SABBREVMONTHNAME1 .. +11
inline constexpr int kList = 0x0C;              // LOCALE_SLIST
inline constexpr int kDecimal = 0x0E;           // LOCALE_SDECIMAL
inline constexpr int kThousand = 0x0F;          // LOCALE_STHOUSAND
}  // namespace locale_item

class Platform {
 public:
  virtual ~Platform() = default;

  // Full path of the executable file of the process (the host's program,
  // not the plug-in's own file), whatever its length.
  virtual std::string ExecutablePath() = 0;

  // True only for an existing entry that is not a directory.
  virtual bool IsExistingFile(const std::string& path) = 0;

  // Reads the whole file into `bytes`. kOpenFailed when it cannot be opened
  // for reading (others may read meanwhile, writers are refused), when it
  // is no regular file (a FIFO, a device), or when a read fails part way:
  // part of the file taken for the whole would be written back as the whole
  // report by the next rewrite.
  virtual IoResult ReadFile(const std::string& path, std::string& bytes) = 0;

  // ReadFile, for a caller holding the text it last wrote there: when the
  // file's bytes are `known`'s, `same` is true and `bytes` stays empty, so
  // a large report still as it was costs no second copy to find so.
  // Otherwise `bytes` holds the file, as from ReadFile. The native
  // platforms compare chunk by chunk as they read; this default reads
  // first and compares after.
  virtual IoResult ReadFileUnlessSame(const std::string& path, std::string_view known,
                                      std::string& bytes, bool& same);

  // Replaces the file's contents with `bytes` atomically: the bytes go to a
  // new file in the same directory, which is then renamed over `path`. On
  // failure the old file is left exactly as it was and no new file remains.
  // kCreateFailed: an existing file may not be written (read-only), or the
  // new file could not be created or put in place;
  // kWriteFailed: it could not be written, flushed or closed completely.
  virtual IoResult ReplaceFile(const std::string& path, std::string_view bytes) = 0;

  // The module's unload at a process exit, when the system may have ended
  // the plug-in's writer thread anywhere. Under wine such a thread is only
  // marked and goes on for a while inside the system's file calls, and a
  // file opened at the unload then races with it; so the files the unload
  // writes are made ready beforehand, on the writer's thread
  // (windows_exit_files.h). PrepareExitFiles makes them ready for the
  // report at `report` and the journal at `journal` (an empty path: that
  // one as it is); ReplaceFileAtExit and FlushFileAtExit are ReplaceFile
  // and FlushFile at the unload, through them when they are ready for that
  // file; ReleaseExitFiles closes them and deletes what was not used.
  // Windows also goes round a report that a thread ended inside its own
  // rename still holds open. A POSIX process exit ends no thread before
  // the unload, and a POSIX rename is never refused for an open file: there
  // these are ReplaceFile and FlushFile.
  virtual void PrepareExitFiles(const std::string& report, const std::string& journal) {
    (void)report;
    (void)journal;
  }
  virtual IoResult ReplaceFileAtExit(const std::string& path, std::string_view bytes) {
    return ReplaceFile(path, bytes);
  }
  virtual IoResult FlushFileAtExit(const std::string& path) { return FlushFile(path); }
  virtual void ReleaseExitFiles() {}

  // Appends `line` followed by CR LF at the end of the file, creating the
  // file when it is missing; nothing already in the file is ever moved,
  // rewritten or cut. The bytes go out in one write, so a crash of the
  // process leaves every earlier line whole and at most this one cut short;
  // the system's file cache holds them, and FlushFile puts them on disk.
  // A file that does not end with a line break (a line cut short so) gets
  // its break first, in the same write: CR LF, or only the LF when it ends
  // with a CR. `line` holds no CR or LF. Others may read the file meanwhile.
  // Only a regular file is appended to: a FIFO, a device or a directory at
  // the path fails at once, without waiting for a reader.
  // kCreateFailed: the file could not be opened or created for appending,
  // or is no regular file, and nothing was written; kWriteFailed: the bytes
  // could not be written completely, and a part of them may end the file.
  virtual IoResult AppendLine(const std::string& path, std::string_view line) = 0;

  // Puts what was written to an existing regular file on disk (fsync,
  // FlushFileBuffers). kCreateFailed: it could not be opened, or is no
  // regular file; kWriteFailed: the flush failed.
  virtual IoResult FlushFile(const std::string& path) = 0;

  virtual LocalTime LocalClock() = 0;

  // The Windows locale calls, with their meanings: the user's default
  // locale, making a locale the calling thread's, the thread's locale, and
  // one locale item as zero-terminated text into `buffer` of `size` bytes.
  // LocaleInfo returns the number of bytes stored, terminating zero
  // included, or 0 when the item cannot be read or does not fit.
  virtual LocaleId UserDefaultLocale() = 0;
  virtual void SetThreadLocale(LocaleId locale) = 0;
  virtual LocaleId ThreadLocale() = 0;
  virtual int LocaleInfo(LocaleId locale, int item, char* buffer, int size) = 0;

  // One diagnostic line for a developer's debugger or console.
  virtual void DebugOutput(const std::string& text) = 0;
};

// What a failed file operation's system code (IoResult::os_error) means
// to someone who can do something about it. Each system maps its own
// codes (posix.cpp, windows.cpp); 0, or a code of none of these kinds, is
// kOther.
enum class FailureCause {
  kHeld,      // another program held the file
  kDenied,    // access was denied, or the medium is read-only
  kDiskFull,  // no space left
  kOther,
};
FailureCause CauseOf(int os_error);

// The cause as a player reads it: "another program held it", "access was
// denied", "the disk was full", otherwise "system error N" (N in decimal).
std::string FailureReason(int os_error);

// The operating system's own implementation (posix.cpp or windows.cpp).
Platform& Native();

// The platform in use: Native() unless a test installed another.
// Room in `bytes`, before a read of a file of `size` bytes, for the whole
// file and the last, empty chunk the read asks for, and an eighth more: the
// report is read to be changed and written again, and it only grows, so
// its first changes must not copy it into a buffer of twice its size.
void ReserveForGrowth(std::string& bytes, std::uint64_t size, std::size_t chunk);

// A read loop's bytes, chunk by chunk, for the native ReadFile and
// ReadFileUnlessSame. Without a known text every chunk goes to `bytes`;
// with one, chunks are compared with it and kept only once they differ.
class ChunkedRead {
 public:
  ChunkedRead(std::string& bytes, const std::string_view* known, std::uint64_t size,
              std::size_t chunk);
  // Where the next chunk, of at most the chunk size, is read to.
  char* Next();
  // `n` bytes landed there.
  void Took(std::size_t n);
  // At the end of the file: true when it held the known text exactly,
  // `bytes` then left empty.
  bool Same();

 private:
  void Diverge(std::size_t scratch_bytes);

  std::string& bytes_;
  const std::string_view* known_;
  std::uint64_t size_;
  std::size_t chunk_;
  std::size_t matched_ = 0;  // bytes read so far, all equal to the known text's
  bool keeping_;
  std::string scratch_;
};

Platform& Current();

// Makes `platform` the one in use; nullptr restores Native(). The report
// writer's thread calls the platform too: switch only while it has nothing
// in hand (after the writer's Finish).
void Install(Platform* platform);

}  // namespace tarveld::platform
