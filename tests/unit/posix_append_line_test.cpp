// AppendLine and FlushFile of the POSIX platform against real files, with
// failures injected through the system-call table.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix_syscalls.h"
#include "support/fake_platform.h"
#include "support/posix_syscall_guard.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
using platform::IoStatus;
using platform::Native;
using platform::PosixSyscalls;
using platform::Syscalls;

TEST(PosixAppendLine, CreatesTheFileAndAppendsWholeLines) {
  TempDir dir;
  const std::string path = dir.File("Tarveld.log");
  ASSERT_TRUE(Native().AppendLine(path, "first").ok());
  ASSERT_TRUE(Native().AppendLine(path, "").ok());
  ASSERT_TRUE(Native().AppendLine(path, "third | \t\xff").ok());
  EXPECT_EQ(ReadBytes(path), "first\r\n\r\nthird | \t\xff\r\n");
}

// Whatever ends the file, the new line starts on a line of its own and
// nothing before it changes.
TEST(PosixAppendLine, EndsALineCutShortFirst) {
  const struct {
    const char* before;
    const char* joint;
  } cases[] = {
      {"", ""},           {"whole\r\n", ""},        {"whole\n", ""},
      {"cut sh", "\r\n"}, {"whole\r\ncut", "\r\n"}, {"all but its LF\r", "\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.File("Tarveld.log");
    WriteBytes(path, c.before);
    ASSERT_TRUE(Native().AppendLine(path, "next").ok()) << c.before;
    EXPECT_EQ(ReadBytes(path), std::string(c.before) + c.joint + "next\r\n") << c.before;
  }
}

TEST(PosixAppendLine, ThatCannotOpenWritesNothing) {
  TempDir dir;
  fs::create_directory(dir.File("Tarveld.log"));
  const auto directory = Native().AppendLine(dir.File("Tarveld.log"), "x");
  EXPECT_EQ(directory.status, IoStatus::kCreateFailed);
  EXPECT_EQ(directory.os_error, EISDIR);
  EXPECT_TRUE(fs::is_empty(dir.File("Tarveld.log")));

  const auto missing = Native().AppendLine(dir.File("missing/Tarveld.log"), "x");
  EXPECT_EQ(missing.status, IoStatus::kCreateFailed);
  EXPECT_EQ(missing.os_error, ENOENT);
  EXPECT_FALSE(fs::exists(dir.File("missing")));
}

// The break that ends a cut line, the line and its break go out in one
// write at the end of the file, so a crash cannot split them from what
// came before.
TEST(PosixAppendLine, OneWriteInAppendMode) {
  static int open_flags;
  static std::vector<std::string> writes;
  RealSyscallsAfter restore;
  TempDir dir;
  const std::string path = dir.File("Tarveld.log");
  WriteBytes(path, "cut");
  open_flags = 0;
  writes.clear();
  Syscalls().open = [](const char* p, int flags, mode_t mode) {
    open_flags = flags;
    return platform::PosixOpen(p, flags, mode);
  };
  Syscalls().write = [](int fd, const void* buffer, size_t count) {
    writes.emplace_back(static_cast<const char*>(buffer), count);
    return platform::PosixWrite(fd, buffer, count);
  };
  ASSERT_TRUE(Native().AppendLine(path, "line").ok());
  Syscalls() = PosixSyscalls{};
  EXPECT_EQ(writes, std::vector<std::string>{"\r\nline\r\n"});
  EXPECT_EQ(open_flags & (O_APPEND | O_CREAT | O_CLOEXEC), O_APPEND | O_CREAT | O_CLOEXEC);
  EXPECT_EQ(ReadBytes(path), "cut\r\nline\r\n");
}

// Each case breaks one step. The result names it, no descriptor stays
// open, the file holds at most a part of the new bytes after the old ones,
// and the next append still starts a line of its own.
TEST(PosixAppendLine, FailuresLeaveEarlierLinesWhole) {
  const struct {
    const char* name;
    Fault arm;
    IoStatus status;
    int error;
    const char* after;  // the file after the failed append
  } cases[] = {
      {"open fails", fault::OpenDenied, IoStatus::kCreateFailed, EACCES, "old\r\n"},
      {"fstat fails",
       [](PosixSyscalls& s) { s.fstat = [](int, struct stat*) { return errno = EIO, -1; }; },
       IoStatus::kCreateFailed, EIO, "old\r\n"},
      // Half of the ten bytes "new line\r\n".
      {"short write, then an error", fault::ShortWriteThenDiskFull, IoStatus::kWriteFailed, ENOSPC,
       "old\r\nnew l"},
      {"write stores nothing", fault::WriteStoresNothing, IoStatus::kWriteFailed, ENOSPC,
       "old\r\n"},
      {"close fails", fault::CloseFailsAfterClosing, IoStatus::kWriteFailed, EIO,
       "old\r\nnew line\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("Tarveld.log");
    WriteBytes(path, "old\r\n");
    const int descriptors = OpenDescriptors();
    const auto result = WithFault(c.arm, [&] { return Native().AppendLine(path, "new line"); });
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.os_error, c.error);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(ReadBytes(path), c.after);

    ASSERT_TRUE(Native().AppendLine(path, "later").ok());
    const std::string after = c.after;
    EXPECT_EQ(ReadBytes(path), after + (after.ends_with("\n") ? "" : "\r\n") + "later\r\n");
  }
}

// The game's thread appends; flushing is FlushFile's, which syncs the
// file and then its directory (where a new journal's entry lives).
TEST(PosixAppendLine, AppendsWithoutFlushingAndFlushFileFlushes) {
  static std::vector<std::string> synced;  // "file" or "directory", in order
  RealSyscallsAfter restore;
  TempDir dir;
  const std::string path = dir.File("Tarveld.log");
  synced.clear();
  Syscalls().fsync = [](int fd) {
    struct stat status {};
    fstat(fd, &status);
    synced.push_back(S_ISDIR(status.st_mode) ? "directory" : "file");
    return platform::PosixFsync(fd);
  };
  ASSERT_TRUE(Native().AppendLine(path, "one").ok());
  ASSERT_TRUE(Native().AppendLine(path, "two").ok());
  EXPECT_TRUE(synced.empty());
  ASSERT_TRUE(Native().FlushFile(path).ok());
  EXPECT_EQ(synced, (std::vector<std::string>{"file", "directory"}));
  EXPECT_EQ(ReadBytes(path), "one\r\ntwo\r\n");

  Syscalls().fsync = [](int) { return errno = EIO, -1; };
  const auto failed = Native().FlushFile(path);
  EXPECT_EQ(failed.status, IoStatus::kWriteFailed);
  EXPECT_EQ(failed.os_error, EIO);
  Syscalls() = PosixSyscalls{};
  const auto missing = Native().FlushFile(dir.File("missing.log"));
  EXPECT_EQ(missing.status, IoStatus::kCreateFailed);
  EXPECT_EQ(missing.os_error, ENOENT);
}

// A FIFO at the journal's path, even one a reader holds open, or a device,
// is refused at once: a message larger than the pipe's buffer would
// otherwise block the game until something read it. Nothing is written.
TEST(PosixAppendLine, RefusesWhatIsNoRegularFileWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.File("Tarveld.log");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const std::string device = dir.File("device.log");
  fs::create_symlink("/dev/null", device);
  const std::string big(100 * 1024, 'x');
  for (const std::string& path : {fifo, device}) {
    SCOPED_TRACE(path);
    const int descriptors = OpenDescriptors();
    const auto appended = Native().AppendLine(path, big);
    EXPECT_EQ(appended.status, IoStatus::kCreateFailed);
    EXPECT_EQ(appended.os_error, EINVAL);
    const auto flushed = Native().FlushFile(path);
    EXPECT_EQ(flushed.status, IoStatus::kCreateFailed);
    EXPECT_EQ(flushed.os_error, EINVAL);
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
  char byte;
  EXPECT_LT(read(reader, &byte, 1), 1) << "something was written to the FIFO";
  close(reader);
}

// Interruptions are ridden out; a last byte that cannot be read counts as
// a cut line, costing an empty line rather than a merged one.
TEST(PosixAppendLine, InterruptionsAndUnreadableLastByte) {
  const struct {
    const char* name;
    Fault arm;
    const char* after;
  } cases[] = {
      {"pread interrupted",
       [](PosixSyscalls& s) {
         s.pread = [](int fd, void* buffer, size_t count, off_t offset) -> ssize_t {
           return fault_calls++ == 0 ? (errno = EINTR, -1)
                                     : platform::PosixPread(fd, buffer, count, offset);
         };
       },
       "old\r\nnew\r\n"},
      {"write interrupted", fault::FirstWriteInterrupted, "old\r\nnew\r\n"},
      {"pread fails",
       [](PosixSyscalls& s) {
         s.pread = [](int, void*, size_t, off_t) -> ssize_t { return errno = EIO, -1; };
       },
       "old\r\n\r\nnew\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("Tarveld.log");
    WriteBytes(path, "old\r\n");
    const auto result = WithFault(c.arm, [&] { return Native().AppendLine(path, "new"); });
    EXPECT_EQ(result.status, IoStatus::kOk) << result.os_error;
    EXPECT_EQ(ReadBytes(path), c.after);
  }
}

}  // namespace
}  // namespace tarveld::testing
