// Running the real tarveld-replay binary from a test: its exit status and
// output.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/fake_platform.h"  // TempDir, ReadBytes, WriteBytes

namespace tarveld::testing {

struct HostRun {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
};

// Runs the program `program` with `arguments`, in the working directory
// `workdir`, under the C locale (LC_ALL=C, so the plug-in renders dates in
// the default picture), its output collected through files in `workdir`.
HostRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& workdir);

}  // namespace tarveld::testing
