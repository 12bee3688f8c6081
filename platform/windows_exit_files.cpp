#include "platform/windows_exit_files.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace tarveld::platform {
namespace {

using windows_files::CreateSibling;
using windows_files::LastError;
using windows_files::WriteAll;

// FILE_RENAME_INFO that renames a file, through a handle, to `path` (in the
// ANSI code page, as every path here), replacing what is there. Empty when
// the path cannot be converted.
std::vector<char> RenameTo(const std::string& path) {
  const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (n <= 0)
    return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<std::size_t>(n - 1));
  const std::size_t name_bytes = wide.size() * sizeof(WCHAR);
  std::vector<char> info(offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(WCHAR));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(rename->FileName, wide.c_str(), name_bytes + sizeof(WCHAR));
  return info;
}

bool RenameThrough(HANDLE file, std::vector<char>& info) {
  return !info.empty() && SetFileInformationByHandle(file, FileRenameInfo, info.data(),
                                                     static_cast<DWORD>(info.size()));
}

// Marks the file for deletion once its last handle is closed.
bool DeleteThrough(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

void DeleteAndClose(HANDLE file) {
  DeleteThrough(file);
  CloseHandle(file);
}

// One call through the handle that needs its file descriptor, so that
// under wine the process holds the descriptor from now on.
bool UsedOnce(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size);
}

}  // namespace

HANDLE ExitFiles::Ready::Take(const std::string& for_path) {
  const HANDLE file = handle.load(std::memory_order_acquire);
  if (file == nullptr || path != for_path)
    return nullptr;
  handle.store(nullptr);
  return file;
}

void ExitFiles::Prepare(const std::string& report, const std::string& journal, unsigned& serial) {
  try {
    PrepareReport(report, serial);
    PrepareJournal(journal);
  } catch (const std::bad_alloc&) {
    // Not made ready: the unload opens the files by name.
  }
}

void ExitFiles::PrepareReport(const std::string& path, unsigned& serial) {
  if (path.empty() || (report_.handle.load() != nullptr && report_.path == path))
    return;
  if (const HANDLE old = report_.handle.exchange(nullptr))
    DeleteAndClose(old);
  std::string temp;
  const HANDLE file = CreateWritersFile(path, serial, GENERIC_READ | GENERIC_WRITE | DELETE, temp);
  if (file == INVALID_HANDLE_VALUE) {
    WriterDone();
    return;
  }
  std::vector<char> rename = RenameTo(path);
  if (rename.empty() || !UsedOnce(file)) {
    DeleteAndClose(file);
    WriterDone();
    return;
  }
  report_.path = path;
  temp_ = std::move(temp);
  rename_to_path_ = std::move(rename);
  report_.handle.store(file, std::memory_order_release);
  WriterDone();
}

HANDLE ExitFiles::CreateWritersFile(const std::string& path, unsigned& serial, DWORD access,
                                    std::string& name) {
  if (path != in_hand_path_) {
    in_hand_.store(0);
    in_hand_path_ = path;
  }
  return CreateSibling(path, serial, access, name, &in_hand_);
}

// The handle shares reading and writing, as every other handle of the
// plug-in's on the journal does, and asks for no deletion: a journal
// deleted while it is held would refuse the game's next lines.
void ExitFiles::PrepareJournal(const std::string& path) {
  if (path.empty() || (journal_.handle.load() != nullptr && journal_.path == path))
    return;
  if (const HANDLE old = journal_.handle.exchange(nullptr))
    CloseHandle(old);
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  if (!UsedOnce(file)) {
    CloseHandle(file);
    return;
  }
  journal_.path = path;
  journal_.handle.store(file, std::memory_order_release);
}

// As ReplaceFile: the text goes in whole and flushed, then the file is
// renamed over the report. When the report is held open, as the ended
// writer thread leaves it when the system ended it inside its own rename,
// the rename over it is refused (on Windows unless the holder shares
// deletion, under wine always). The report is then renamed aside first,
// which the writer's handle allows, the new text renamed into its place
// and the old one deleted once the process is gone. Between the two
// renames the report's text exists only under those two names, as after a
// crash mid-write.
bool ExitFiles::Replace(const std::string& path, std::string_view bytes, IoResult& result) {
  const HANDLE file = report_.Take(path);
  if (file == nullptr)
    return false;
  if (!WriteAll(file, bytes) || !FlushFileBuffers(file)) {
    result = {IoStatus::kWriteFailed, LastError()};
    DeleteAndClose(file);
    return true;
  }
  if (RenameThrough(file, rename_to_path_)) {
    CloseHandle(file);
    result = {};
    return true;
  }
  int error = LastError();
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    const HANDLE old = CreateFileA(path.c_str(), DELETE | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old != INVALID_HANDLE_VALUE) {
      std::vector<char> aside = RenameTo(temp_.substr(0, temp_.size() - 4) + "-old.tmp");
      if (RenameThrough(old, aside)) {
        if (RenameThrough(file, rename_to_path_)) {
          DeleteAndClose(old);
          CloseHandle(file);
          result = {};
          return true;
        }
        error = LastError();
        RenameThrough(old, rename_to_path_);
      }
      CloseHandle(old);
    }
  }
  result = {IoStatus::kCreateFailed, error};
  DeleteAndClose(file);
  return true;
}

bool ExitFiles::Flush(const std::string& path, IoResult& result) {
  const HANDLE file = journal_.Take(path);
  if (file == nullptr)
    return false;
  result = FlushFileBuffers(file) ? IoResult{} : IoResult{IoStatus::kWriteFailed, LastError()};
  CloseHandle(file);
  return true;
}

void ExitFiles::Release() {
  if (const HANDLE file = report_.handle.exchange(nullptr))
    DeleteAndClose(file);
  const unsigned in_hand = in_hand_.exchange(0);
  if (in_hand != 0) {
    const std::string name = windows_files::SiblingName(in_hand_path_, in_hand - 1);
    const HANDLE file =
        CreateFileA(name.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
      DeleteAndClose(file);
  }
  if (const HANDLE file = journal_.handle.exchange(nullptr))
    CloseHandle(file);
}

}  // namespace tarveld::platform
