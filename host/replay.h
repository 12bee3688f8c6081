// Running a checked script against a loaded plug-in library.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/plugin_library.h"
#include "host/script.h"

namespace tarveld::host {

// The addresses of the entry points, indexed by EntryPoint; null for those
// not looked up or not found.
struct EntryPointTable {
  std::array<void*, kEntryPointCount> address{};
};

struct MissingEntryPoint {
  std::string_view name;
  int first_line;  // the first script line that calls it
};

// Looks up, by name, every entry point that `script` calls, and only those:
// a library may lack the ones a script does not use. Returns the missing
// ones in order of first use; the script must not run unless it is empty.
std::vector<MissingEntryPoint> BindEntryPoints(const PluginLibrary& library, const Script& script,
                                               EntryPointTable& table);

struct ReplayOptions {
  bool trace = false;  // print "LINE: step" before each step
};

// Runs the steps in order, passing every argument as its raw 32-bit slot,
// texts as pointers to the script's bytes and records as pointers to date
// records that live until the function returns. The results of DLLVer,
// DLLVerInt and DLLDesc go to `out` as "DLLVer = 1". When a call ends by
// an exception the replay stops there: returns false with `failure` set.
bool RunScript(const Script& script, const EntryPointTable& table, const ReplayOptions& options,
               std::ostream& out, std::string& failure);

}  // namespace tarveld::host
