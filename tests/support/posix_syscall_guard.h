// Helpers for tests that swap the POSIX system-call table.
#pragma once

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

}  // namespace tarveld::testing
