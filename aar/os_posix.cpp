#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "aar/os.h"

extern char** environ;

namespace tarveld::aar {

std::string JoinPath(const std::string& directory, std::string_view name) {
  if (directory.empty())
    return std::string(name);
  std::string path = directory;
  if (path.back() != '/')
    path += '/';
  return path.append(name);
}

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

FileFacts FactsOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return {};
  if (S_ISREG(status.st_mode))
    return {FileKind::kRegular, static_cast<std::uint64_t>(status.st_size)};
  return {S_ISDIR(status.st_mode) ? FileKind::kDirectory : FileKind::kOther, 0};
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string SystemErrorText(int os_error) {
  return std::strerror(os_error);
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr)
    return path;
  std::string absolute = resolved;
  std::free(resolved);
  return absolute;
}

std::string ProgramFolderFallback() {
  return {};
}

bool StartedOnOwnConsole() {
  return false;
}

void WaitForEnter() {}

// xdg-open hands the file to the desktop's browser and returns; its exit
// status says whether it could.
bool OpenInBrowser(const std::string& path, std::string& error) {
  std::string program = "xdg-open";
  std::string argument = path;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  const int spawn_error = ::posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ);
  if (spawn_error != 0) {
    error = "cannot run xdg-open: " + SystemErrorText(spawn_error);
    return false;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "xdg-open could not open it";
    return false;
  }
  return true;
}

}  // namespace tarveld::aar
