#include <windows.h>
// shellapi.h needs the types of windows.h first.
#include <shellapi.h>

#include <cstdio>
#include <utility>

#include "aar/os.h"
#include "platform/directory_part.h"
#include "platform/platform.h"

namespace tarveld::aar {

std::string JoinPath(const std::string& directory, std::string_view name) {
  if (directory.empty())
    return std::string(name);
  std::string path = directory;
  const char last = path.back();
  if (last != '\\' && last != '/' && last != ':')
    path += '\\';
  return path.append(name);
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// A handle that asks for no access, so that neither a file held open by
// the game nor a folder stops it; INVALID_HANDLE_VALUE when there is none.
HANDLE OpenForFacts(const std::string& path) {
  return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

FileFacts FactsOf(const std::string& path) {
  const HANDLE file = OpenForFacts(path);
  if (file == INVALID_HANDLE_VALUE)
    return {IsDirectory(path) ? FileKind::kDirectory : FileKind::kMissing, 0};
  FileFacts facts{FileKind::kOther, 0};
  BY_HANDLE_FILE_INFORMATION information{};
  // A console, NUL or a pipe is no disk file.
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information)) {
    const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.kind = folder ? FileKind::kDirectory : FileKind::kRegular;
    facts.size = folder ? 0
                        : (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) |
                              information.nFileSizeLow;
  }
  CloseHandle(file);
  return facts;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  bool read = true;
  for (const auto& [path, information] : {std::pair{&a, &first}, std::pair{&b, &second}}) {
    const HANDLE file = OpenForFacts(*path);
    if (file == INVALID_HANDLE_VALUE)
      return false;
    read = GetFileInformationByHandle(file, information) && read;
    CloseHandle(file);
  }
  return read && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

std::string SystemErrorText(int os_error) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(os_error), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : std::string();
  LocalFree(buffer);
  // The system's texts end with a full stop and a line break.
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
    text.pop_back();
  return (text.empty() ? "system error" : text) + " (error " + std::to_string(os_error) + ")";
}

std::string AbsolutePath(const std::string& path) {
  const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0)
    return path;
  std::string absolute(size, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), size, absolute.data(), nullptr);
  if (length == 0 || length >= size)
    return path;
  absolute.resize(length);
  return absolute;
}

std::string ProgramFolderFallback() {
  return platform::DirectoryPart(platform::Native().ExecutablePath());
}

// A console that Explorer opened for the program holds it alone; one that a
// command prompt lent it holds the prompt too.
bool StartedOnOwnConsole() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForEnter() {
  std::fputs("Press Enter to close this window.\n", stdout);
  std::fflush(stdout);
  std::getchar();
}

bool OpenInBrowser(const std::string& path, std::string& error) {
  // ShellExecute returns a value above 32 on success, an error code below.
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32)
    return true;
  error = result == SE_ERR_NOASSOC
              ? std::string("no program is set to open HTML files")
              : "the system could not open it (error " + std::to_string(result) + ")";
  return false;
}

}  // namespace tarveld::aar
