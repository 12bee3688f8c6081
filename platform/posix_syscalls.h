// The file-system calls of the POSIX platform, reached through one table.
//
// The file operations (IsExistingFile, ReadFile, ReplaceFile, AppendLine,
// FlushFile) call the system only through `Syscalls()`, so a test can swap
// single entries for versions that fail on cue (a short write, a failing
// fsync, rename or stat) and watch the failure paths run against real files. A default-constructed
// table holds the real calls, so `Syscalls() = PosixSyscalls{}` puts everything back.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace tarveld::platform {

// open(2) with its mode argument spelled out, since the real one is variadic.
int PosixOpen(const char* path, int flags, mode_t mode);
ssize_t PosixRead(int fd, void* buffer, size_t count);
ssize_t PosixWrite(int fd, const void* buffer, size_t count);
int PosixFsync(int fd);
int PosixClose(int fd);
int PosixRename(const char* from, const char* to);
int PosixUnlink(const char* path);
ssize_t PosixPread(int fd, void* buffer, size_t count, off_t offset);
int PosixFstat(int fd, struct stat* status);
int PosixStat(const char* path, struct stat* status);

// Each entry has the signature and errno contract of the system call it is
// named after.
struct PosixSyscalls {
  int (*open)(const char* path, int flags, mode_t mode) = &PosixOpen;
  ssize_t (*read)(int fd, void* buffer, size_t count) = &PosixRead;
  ssize_t (*write)(int fd, const void* buffer, size_t count) = &PosixWrite;
  int (*fsync)(int fd) = &PosixFsync;
  int (*close)(int fd) = &PosixClose;
  int (*rename)(const char* from, const char* to) = &PosixRename;
  int (*unlink)(const char* path) = &PosixUnlink;
  ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset) = &PosixPread;
  int (*fstat)(int fd, struct stat* status) = &PosixFstat;
  int (*stat)(const char* path, struct stat* status) = &PosixStat;
};

// The process-wide table. Not synchronised: replace entries only while no
// other thread is inside a file operation.
PosixSyscalls& Syscalls();

}  // namespace tarveld::platform
