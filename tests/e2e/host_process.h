// Running the real tarveld-replay binary from a test: a scratch directory,
// a script written into it, and the program's exit status and output.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarveld::testing {

// A fresh directory under the system's temp directory, removed with its
// contents when the guard ends.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

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

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace tarveld::testing
