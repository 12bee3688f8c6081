// Helpers for tests that swap the POSIX system-call table: putting the real
// calls back, the faults that several suites inject, and running one
// platform call with a fault armed.
#pragma once

#include <cerrno>
#include <filesystem>
#include <iterator>

#include "platform/posix_syscalls.h"

namespace tarveld::testing {

// Puts the real system calls back however the test ends.
struct RealSyscallsAfter {
  ~RealSyscallsAfter() { platform::Syscalls() = platform::PosixSyscalls{}; }
};

// The number of file descriptors this process holds open, to show that a
// failure path closed what it opened.
inline int OpenDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Calls of the armed entry so far, for faults that act on the first call
// only; WithFault sets it to 0 before arming.
inline int fault_calls = 0;

// Arms entries of the table. The entries are plain function pointers, so a
// fault keeps what it needs in statics such as fault_calls.
using Fault = void (*)(platform::PosixSyscalls&);

// The faults of more than one suite, each with the errno a real system
// gives for it.
namespace fault {

inline void OpenDenied(platform::PosixSyscalls& s) {
  s.open = [](const char*, int, mode_t) { return errno = EACCES, -1; };
}

// Half of the bytes stored, then a full disk: the write after a short one
// is the one that fails.
inline void ShortWriteThenDiskFull(platform::PosixSyscalls& s) {
  s.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    if (fault_calls++ == 0)
      return platform::PosixWrite(fd, buffer, count / 2);
    errno = ENOSPC;
    return -1;
  };
}

inline void WriteStoresNothing(platform::PosixSyscalls& s) {
  s.write = [](int, const void*, size_t) -> ssize_t { return 0; };
}

// As on Linux, the descriptor is gone even though close reports EIO.
inline void CloseFailsAfterClosing(platform::PosixSyscalls& s) {
  s.close = [](int fd) { return platform::PosixClose(fd), errno = EIO, -1; };
}

inline void FirstWriteInterrupted(platform::PosixSyscalls& s) {
  s.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    return fault_calls++ == 0 ? (errno = EINTR, -1) : platform::PosixWrite(fd, buffer, count);
  };
}

}  // namespace fault

// What `operation` returns with the table armed by `arm`; the real calls
// are back when it returns, so the test's own checks use them.
template <typename Operation>
auto WithFault(Fault arm, Operation operation) {
  RealSyscallsAfter restore;
  fault_calls = 0;
  arm(platform::Syscalls());
  return operation();
}

}  // namespace tarveld::testing
