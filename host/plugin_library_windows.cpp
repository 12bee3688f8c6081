#include <windows.h>

#include "host/plugin_library.h"

namespace tarveld::host {
namespace {

// The system's text for `code`, without the line break it ends with.
std::string SystemMessage(DWORD code) {
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  std::string text(buffer, length);
  return text + " (error " + std::to_string(code) + ")";
}

}  // namespace

bool PluginLibrary::Load(const std::string& path, std::string& error) {
  Unload();
  // LoadLibraryA searches the system's directories for a name without a
  // separator; the user named a file, so ".\\" makes it one.
  const std::string file = path.find_first_of("\\/:") == std::string::npos ? ".\\" + path : path;
  HMODULE module = LoadLibraryA(file.c_str());
  if (module == nullptr) {
    error = path + ": " + SystemMessage(GetLastError());
    return false;
  }
  handle_ = module;
  return true;
}

void* PluginLibrary::Find(const char* name) const {
  if (handle_ == nullptr)
    return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

// A plug-in may keep itself loaded for a moment after FreeLibrary (a thread
// of its own finishing its writes); the host then waits for the module to
// go, up to a minute, so that the files it prints next are the final ones.
void PluginLibrary::Unload() {
  if (handle_ == nullptr)
    return;
  const HMODULE module = static_cast<HMODULE>(handle_);
  char path[MAX_PATH * 4] = "";
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  FreeLibrary(module);
  handle_ = nullptr;
  if (length == 0 || length >= sizeof path)
    return;
  for (int waited = 0; waited < 60000 && GetModuleHandleA(path) != nullptr; waited += 20)
    Sleep(20);
}

const char* DefaultPluginFileName() {
  return "TARVELD.dll";
}

}  // namespace tarveld::host
