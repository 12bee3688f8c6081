// tarveld-replay: drives the plug-in without the game by replaying a
// session script (docs/session-script.md).
//
// Exit status: 0 when every call was made; 2 for a bad command line or a
// bad script (then nothing is called); 1 when the plug-in cannot be loaded,
// lacks an entry point the script calls, or a call ends by an exception.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "host/plugin_library.h"
#include "host/relocate.h"
#include "host/replay.h"
#include "host/script.h"

namespace {

using namespace tarveld::host;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kProgram = "tarveld-replay";
// Marks the run of the copy that --dir made: it must not copy itself again.
constexpr const char* kRelocatedFlag = "--relocated";

constexpr const char* kUsage =
    "usage: tarveld-replay [options] SCRIPT\n"
    "Replays a session script against the plug-in library. The script holds one\n"
    "call a line; docs/session-script.md describes its format.\n"
    "\n"
    "  --plugin PATH    the plug-in library (default: the one next to this program)\n"
    "  --dir DIR        run from a copy of this program in DIR, so that the report\n"
    "                   is DIR/Tarveld.txt and the journal DIR/Tarveld.log\n"
    "                   (DIR is created when missing); without --dir both go\n"
    "                   next to this program, where the plug-in puts them\n"
    "  --print-report   print the report's and the journal's bytes at the end\n"
    "  --trace          print each script line before it runs\n"
    "  --check          read and check the script, call nothing\n"
    "  --help           print this text\n"
    "\n"
    "Exit status: 0 every call was made; 1 the plug-in could not be loaded, lacks\n"
    "an entry point the script calls or a call failed, or DIR could not be set up;\n"
    "2 a bad command line, an unreadable script or a bad script line (then nothing\n"
    "is called).\n";

struct Options {
  std::string script;
  std::string plugin;
  std::string dir;
  bool print_report = false;
  bool trace = false;
  bool check = false;
  bool relocated = false;
  bool help = false;
};

int UsageError(const std::string& message) {
  std::cerr << kProgram << ": " << message << "\n" << kUsage;
  return kExitUsage;
}

// Fills `options` from the command line; returns false with `error` set on
// a bad one. Options with a value take it as the next argument or after "=".
bool ParseCommandLine(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    std::string value;
    bool has_value = false;
    if (argument.starts_with("--")) {
      const std::size_t equals = argument.find('=');
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
        argument.resize(equals);
        has_value = true;
      }
    }
    auto take_value = [&](std::string& into) {
      if (!has_value) {
        if (i + 1 >= argc) {
          error = argument + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      if (value.empty()) {
        error = argument + " needs a value";
        return false;
      }
      into = value;
      return true;
    };
    auto flag = [&](bool& into) {
      if (has_value) {
        error = argument + " takes no value";
        return false;
      }
      into = true;
      return true;
    };

    bool ok = true;
    if (argument == "--plugin") {
      ok = take_value(options.plugin);
    } else if (argument == "--dir") {
      ok = take_value(options.dir);
    } else if (argument == "--print-report") {
      ok = flag(options.print_report);
    } else if (argument == "--trace") {
      ok = flag(options.trace);
    } else if (argument == "--check") {
      ok = flag(options.check);
    } else if (argument == kRelocatedFlag) {
      ok = flag(options.relocated);
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument.size() > 1 && argument[0] == '-') {
      error = "unknown option " + argument;
      return false;
    } else if (!options.script.empty()) {
      error = "one script only (got " + options.script + " and " + argument + ")";
      return false;
    } else {
      options.script = argument;
    }
    if (!ok)
      return false;
  }
  if (!options.help && options.script.empty()) {
    error = "no script given";
    return false;
  }
  return true;
}

// Reads a file, or anything that reads like one (a pipe), but not a
// directory, which some systems let a stream open. False with `reason` set
// to the C library's text for why: it has the same words for a missing
// file, a folder and a refused one on every system the host is built for.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& reason) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    reason = std::make_error_code(std::errc::is_a_directory).message();
    return false;
  }
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    reason = std::generic_category().message(errno);
    return false;
  }
  std::string content;
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    content.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int read_error = errno;
  std::fclose(file);
  if (failed) {
    reason = std::generic_category().message(read_error);
    return false;
  }
  bytes = std::move(content);
  return true;
}

// `count` and the noun, plural unless it is one: "1 record", "2 records".
std::string Counted(std::size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// True when `directory` is the one this program runs from, so that no copy
// is needed.
bool IsOwnDirectory(const std::string& directory) {
  std::error_code error;
  const std::string self = OwnExecutablePath();
  return !self.empty() &&
         std::filesystem::equivalent(directory, std::filesystem::path(self).parent_path(), error);
}

// Runs the copy of this program in `options.dir` with the same work to do.
// The plug-in path is made absolute first: the copy's own directory does
// not hold the plug-in.
int RunFromDirectory(const Options& options, const std::string& plugin) {
  std::error_code error;
  std::filesystem::create_directories(options.dir, error);
  if (error) {
    std::cerr << kProgram << ": cannot create " << options.dir << ": " << error.message() << "\n";
    return kExitFailure;
  }
  std::vector<std::string> arguments = {kRelocatedFlag, "--plugin",
                                        std::filesystem::absolute(plugin).string()};
  if (options.print_report)
    arguments.push_back("--print-report");
  if (options.trace)
    arguments.push_back("--trace");
  arguments.push_back(options.script);
  std::string failure;
  const int status = RunCopyIn(options.dir, arguments, failure);
  if (status < 0) {
    std::cerr << kProgram << ": " << failure << "\n";
    return kExitFailure;
  }
  return status;
}

// Prints "LABEL: PATH", with " (none)" when there is no such file, and with
// `print_bytes` the file's bytes as they are.
void PrintFile(const char* label, const std::string& path, bool print_bytes) {
  // Only a file to print is read: a report of a million entries would
  // otherwise cost the host its size again, and hide the plug-in's own
  // memory in the process's peak.
  std::string bytes;
  std::string ignored;
  std::error_code error;
  const bool present = print_bytes ? ReadWholeFile(path, bytes, ignored)
                                   : std::filesystem::is_regular_file(path, error);
  std::cout << label << ": " << path << (present ? "" : " (none)") << "\n";
  if (print_bytes && present) {
    std::cout.flush();
    SetBinaryStandardOutput();
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::cout.flush();
}

int Replay(const Options& options, const Script& script, const std::string& plugin) {
  PluginLibrary library;
  std::string error;
  if (!library.Load(plugin, error)) {
    std::cerr << kProgram << ": cannot load the plug-in: " << error << "\n";
    return kExitFailure;
  }
  EntryPointTable table;
  const std::vector<MissingEntryPoint> missing = BindEntryPoints(library, script, table);
  for (const MissingEntryPoint& entry : missing) {
    std::cerr << kProgram << ": " << plugin << " has no entry point " << entry.name
              << " (called on line " << entry.first_line << ")\n";
  }
  if (!missing.empty())
    return kExitFailure;

  ReplayOptions replay_options;
  replay_options.trace = options.trace;
  std::string failure;
  const bool completed = RunScript(script, table, replay_options, std::cout, failure);
  library.Unload();
  if (!completed)
    std::cerr << kProgram << ": " << options.script << ": " << failure << "\n";

  // The report and the journal lie where the plug-in puts them: next to
  // this executable.
  const std::string directory = DirectoryPart(OwnExecutablePath());
  PrintFile("report", directory + "Tarveld.txt", options.print_report);
  PrintFile("journal", directory + "Tarveld.log", options.print_report);
  return completed ? kExitOk : kExitFailure;
}

int Main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error))
    return UsageError(error);
  if (options.help) {
    std::cout << kUsage;
    return kExitOk;
  }

  std::string text;
  std::string reason;
  if (!ReadWholeFile(options.script, text, reason)) {
    std::cerr << kProgram << ": cannot read \"" << options.script << "\": " << reason << "\n";
    return kExitUsage;
  }
  // The whole script is checked before anything is copied, loaded or
  // called, so a typo never leaves half a session in a report.
  const ReadResult read = ReadScript(text);
  for (const ScriptError& script_error : read.errors) {
    std::cerr << FormatError(options.script, script_error) << "\n";
  }
  if (!read.ok())
    return kExitUsage;
  if (options.check) {
    std::cout << options.script << ": " << Counted(read.script.steps.size(), "step") << ", "
              << Counted(read.script.records.size(), "record") << "\n";
    return kExitOk;
  }

  std::string plugin = options.plugin;
  if (plugin.empty())
    plugin = DirectoryPart(OwnExecutablePath()) + DefaultPluginFileName();

  if (!options.dir.empty() && !options.relocated && !IsOwnDirectory(options.dir)) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(options.script, ignored)) {
      // A pipe would reach the copy empty.
      std::cerr << kProgram << ": with --dir the script must be a regular file, as the copy "
                << "reads it again: " << options.script << "\n";
      return kExitUsage;
    }
    return RunFromDirectory(options, plugin);
  }
  return Replay(options, read.script, plugin);
}

}  // namespace

int main(int argc, char** argv) {
  return Main(argc, argv);
}
