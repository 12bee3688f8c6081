#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "host/relocate.h"
#include "platform/directory_part.h"

namespace tarveld::host {
namespace {

std::string LastErrorText(const char* what, const std::string& path) {
  return std::string(what) + " " + path + " (error " + std::to_string(GetLastError()) + ")";
}

// Appends `argument` to a command line so that the C runtime's argument
// splitting gives it back unchanged: quotes around it when it is empty or
// holds blanks or quotes, and backslashes doubled where they precede a
// quote.
void AppendQuoted(std::string& line, const std::string& argument) {
  if (!line.empty())
    line += ' ';
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line.append(backslashes * 2 + 1, '\\');
    } else {
      line.append(backslashes, '\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

}  // namespace

std::string OwnExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return std::string();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string DirectoryPart(const std::string& path) {
  return platform::DirectoryPart(path);
}

const char* RelocatedFileName() {
  return "tarveld-replay.exe";
}

void SetBinaryStandardOutput() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

int RunCopyIn(const std::string& directory, const std::vector<std::string>& arguments,
              std::string& error) {
  const std::string self = OwnExecutablePath();
  if (self.empty()) {
    error = "cannot find this program's own file";
    return -1;
  }
  std::string target = directory;
  if (!target.empty() && target.back() != '\\' && target.back() != '/')
    target += '\\';
  target += RelocatedFileName();
  if (!CopyFileA(self.c_str(), target.c_str(), FALSE)) {
    error = LastErrorText("cannot copy this program to", target);
    return -1;
  }

  std::string command_line;
  AppendQuoted(command_line, target);
  for (const std::string& argument : arguments)
    AppendQuoted(command_line, argument);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::fflush(stdout);
  std::fflush(stderr);
  if (!CreateProcessA(target.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    error = LastErrorText("cannot run", target);
    return -1;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

}  // namespace tarveld::host
