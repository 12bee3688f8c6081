// A loaded plug-in library and lookup of its exports by name, the way the
// game finds the entry points: dlopen/dlsym on POSIX, LoadLibraryA and
// GetProcAddress on Windows (plugin_library_posix.cpp, _windows.cpp).
#pragma once

#include <string>

namespace tarveld::host {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary() { Unload(); }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library at `path` (a path, never a bare name to search for).
  // On failure returns false and sets `error` to the system's reason.
  bool Load(const std::string& path, std::string& error);

  // The address of the export called `name`, or nullptr when there is none.
  void* Find(const char* name) const;

  // Unloads the library, if one is loaded.
  void Unload();

 private:
  void* handle_ = nullptr;
};

// The file name of the plug-in library on this system: libtarveld.so or
// TARVELD.dll.
const char* DefaultPluginFileName();

}  // namespace tarveld::host
