// The folder of a file, cut from its path as the host's own paths are cut:
// the plug-in's files go beside the host's executable, and the page program
// and the replay host find their own folder the same way.
#pragma once

#include <string>
#include <string_view>

namespace tarveld::platform {

// `path` up to and including its last separator, whichever kind it is: "\",
// "/", or the ":" of a drive ("C:host.exe" is in "C:"). "" when there is
// none, which names the current folder.
inline std::string DirectoryPart(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

}  // namespace tarveld::platform
