// What the host needs of the operating system besides the library loader:
// its own path, binary standard output, and running a copy of itself from
// another directory.
//
// The plug-in writes its report next to the executable of the process that
// loaded it. To put the report in a directory of the user's choice the host
// copies its own executable there and runs the copy, which then loads the
// plug-in as the game would from its installation directory.
#pragma once

#include <string>
#include <vector>

namespace tarveld::host {

// The full path of this process's executable file; empty when the system
// cannot tell.
std::string OwnExecutablePath();

// The directory part of `path`, cut after its last separator, which it
// keeps ("/a/b/" for "/a/b/c"); empty when there is none. The plug-in cuts
// the same way to find its report.
std::string DirectoryPart(const std::string& path);

// The name the copy takes in the chosen directory: tarveld-replay, with
// ".exe" on Windows.
const char* RelocatedFileName();

// Makes the standard output pass bytes through unchanged (no CR LF
// translation on Windows), so --print-report shows the file as it is.
void SetBinaryStandardOutput();

// Copies this executable into `directory` (which must exist) under
// RelocatedFileName() and runs it there with `arguments` (without the
// program name), the standard streams and the working directory shared.
// Returns the copy's exit status; on failure returns -1 with `error` set.
// On POSIX a successful start replaces this process and never returns.
int RunCopyIn(const std::string& directory, const std::vector<std::string>& arguments,
              std::string& error);

}  // namespace tarveld::host
