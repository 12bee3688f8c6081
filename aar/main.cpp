// tarveld-aar: turns the report and the battle journal in a game folder into
// one after-action page.
//
//   tarveld-aar [--out FILE] [--open] [DIR]
//
// Exit status: 0 the page was written (its path is printed), 1 nothing to
// read, or a file that cannot be read or written, 2 a bad command line.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "aar/battle.h"
#include "aar/html_page.h"
#include "aar/inputs.h"
#include "aar/os.h"
#include "aar/output_check.h"
#include "platform/platform.h"
#include "plugin/file_names.h"

namespace {

using namespace tarveld::aar;

constexpr char kUsage[] =
    "usage: tarveld-aar [--out FILE] [--open] [DIR]\n"
    "Reads DIR/Tarveld.txt and DIR/Tarveld.log and writes the after-action page,\n"
    "DIR/Tarveld-AAR.html unless --out names another file. Without DIR it reads\n"
    "the current folder; on Windows, when that holds neither file, the folder\n"
    "tarveld-aar.exe is in.\n"
    "  --out FILE  write the page to FILE\n"
    "  --open      open the page in the default browser\n"
    "  --help      print this text (also -h, /? and /h)\n";
constexpr char kPageFileName[] = "Tarveld-AAR.html";

struct CommandLine {
  std::string directory;
  bool directory_given = false;
  std::string out;
  bool open = false;
};

// A Windows user asks for help with "/?" or "/h", never a folder's name.
bool IsHelp(std::string_view argument) {
  return argument == "--help" || argument == "-h" || argument == "/?" || argument == "/h";
}

// False with a message on stderr for a bad command line; `help` set when
// the user asked for the usage.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, bool& help) {
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const bool option =
        options && ((argument.size() > 1 && argument[0] == '-') || IsHelp(argument));
    if (!option) {
      if (line.directory_given) {
        std::fprintf(stderr, "tarveld-aar: one folder only, not also %s\n", argv[i]);
        return false;
      }
      line.directory = argument;
      line.directory_given = true;
    } else if (argument == "--") {
      options = false;
    } else if (IsHelp(argument)) {
      help = true;
      return true;
    } else if (argument == "--open") {
      line.open = true;
    } else if (argument == "--out" || argument.substr(0, 6) == "--out=") {
      if (argument == "--out" && i + 1 < argc)
        line.out = argv[++i];
      else
        line.out = argument.substr(std::min<std::size_t>(argument.size(), 6));
      if (line.out.empty()) {
        std::fprintf(stderr, "tarveld-aar: --out needs a file name\n");
        return false;
      }
    } else {
      std::fprintf(stderr, "tarveld-aar: unknown option %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

int Run(const CommandLine& line) {
  std::string directory = line.directory_given ? line.directory : std::string();
  // The current folder, when it held neither file and another was read.
  std::string passed_over;
  if (!line.directory_given && !HasInputs(directory)) {
    const std::string fallback = ProgramFolderFallback();
    if (!fallback.empty()) {
      passed_over = AbsolutePath(".");
      directory = fallback;
    }
  }

  if (line.directory_given && !IsDirectory(directory)) {
    std::fprintf(stderr, "tarveld-aar: nothing to read: there is no folder %s\n",
                 directory.c_str());
    return 1;
  }
  Inputs inputs;
  std::string error;
  if (!ReadInputs(directory, inputs, error)) {
    std::fprintf(stderr, "tarveld-aar: %s\n", error.c_str());
    return 1;
  }
  if (!inputs.report && !inputs.journal) {
    // Named in full: a player who gave no folder must learn which one it was.
    const std::string folder = AbsolutePath(directory.empty() ? "." : directory);
    const std::string also =
        passed_over.empty() ? "" : " (nor in the current folder, " + passed_over + ")";
    std::fprintf(stderr, "tarveld-aar: nothing to read: neither %s nor %s exists%s\n",
                 JoinPath(folder, tarveld::kReportFileName).c_str(),
                 JoinPath(folder, tarveld::kJournalFileName).c_str(), also.c_str());
    return 1;
  }

  const AfterAction after =
      BuildAfterActionFrom(std::move(inputs.journal), inputs.report ? &*inputs.report : nullptr);
  const std::string page = RenderPage(after);
  const std::string out = line.out.empty() ? JoinPath(directory, kPageFileName) : line.out;
  if (!CheckOutputPath(out, {inputs.report_path, inputs.journal_path}, error)) {
    std::fprintf(stderr, "tarveld-aar: %s\n", error.c_str());
    return 1;
  }
  // A new file beside the page, flushed and renamed over it: a failure or a
  // crash leaves the old page or the new one, never a part.
  const tarveld::platform::IoResult written = tarveld::platform::Current().ReplaceFile(out, page);
  if (!written.ok()) {
    std::fprintf(stderr, "tarveld-aar: cannot write %s: %s\n", out.c_str(),
                 SystemErrorText(written.os_error).c_str());
    return 1;
  }
  const std::string shown = AbsolutePath(out);
  std::printf("%s\n", shown.c_str());
  std::fflush(stdout);
  if (line.open && !OpenInBrowser(shown, error))
    std::fprintf(stderr, "tarveld-aar: the page is written, but cannot be opened: %s\n",
                 error.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  bool help = false;
  if (!ParseCommandLine(argc, argv, line, help)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Started by a double-click, the program shows the page it made, and
  // keeps its window open on a failure so the player can read why.
  const bool double_clicked = argc == 1 && StartedOnOwnConsole();
  line.open = line.open || double_clicked;
  int status = 1;
  try {
    status = Run(line);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tarveld-aar: out of memory while making the page; nothing was written\n");
  }
  if (double_clicked && status != 0)
    WaitForEnter();
  return status;
}
