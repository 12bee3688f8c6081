#include <dlfcn.h>

#include "host/plugin_library.h"

namespace tarveld::host {

bool PluginLibrary::Load(const std::string& path, std::string& error) {
  Unload();
  // dlopen searches the library path for a name without a slash; the user
  // named a file, so "./" makes it one.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
    return false;
  }
  return true;
}

void* PluginLibrary::Find(const char* name) const {
  if (handle_ == nullptr)
    return nullptr;
  return dlsym(handle_, name);
}

void PluginLibrary::Unload() {
  if (handle_ != nullptr)
    dlclose(handle_);
  handle_ = nullptr;
}

const char* DefaultPluginFileName() {
  return "libtarveld.so";
}

}  // namespace tarveld::host
