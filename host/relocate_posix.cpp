#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/relocate.h"

namespace tarveld::host {

std::string OwnExecutablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

std::string DirectoryPart(const std::string& path) {
  const std::size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

const char* RelocatedFileName() {
  return "tarveld-replay";
}

void SetBinaryStandardOutput() {}

int RunCopyIn(const std::string& directory, const std::vector<std::string>& arguments,
              std::string& error) {
  namespace fs = std::filesystem;
  const std::string self = OwnExecutablePath();
  if (self.empty()) {
    error = "cannot find this program's own file";
    return -1;
  }
  const fs::path target = fs::path(directory) / RelocatedFileName();
  // The copy is written beside the target and renamed over it: an older
  // copy may be running (rename is allowed then, writing is not), and no
  // half-written program is ever left under the target's name.
  const fs::path temporary = fs::path(directory) / (std::string(".") + RelocatedFileName() + "." +
                                                    std::to_string(static_cast<long>(getpid())));
  std::error_code failure;
  fs::copy_file(self, temporary, fs::copy_options::overwrite_existing, failure);
  if (!failure) {
    fs::permissions(temporary,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    failure);
  }
  if (!failure)
    fs::rename(temporary, target, failure);
  if (failure) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    error = "cannot copy " + self + " to " + target.string() + ": " + failure.message();
    return -1;
  }

  std::vector<char*> argv;
  std::string program = target.string();
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  error = "cannot run " + program + ": " + std::strerror(errno);
  return -1;
}

}  // namespace tarveld::host
