// A stand-in for the game: loads TARVELD.dll from this program's directory by
// name, as the game does, and calls its entry points the way a 32-bit caller
// of the cdecl convention does. The report goes to Tarveld.txt beside this
// program, so the test driver runs a copy of it in a fresh directory.
//
//   dll_test_host.exe abi            argument slots, stack, results, report
//   dll_test_host.exe version        the version resource against the exports
//   dll_test_host.exe report-is-dir  the report path names a directory
//   dll_test_host.exe report-locked  another process holds the report
//   dll_test_host.exe write-limited  the file size limit cuts the rewrite
//                                    (the driver sets the limit)
//   dll_test_host.exe bad-picture    the user's short-date picture is invalid
//   dll_test_host.exe locale LCID    the date-time text under the user locale,
//                                    which must be LCID (hexadecimal)
//   dll_test_host.exe free-library   FreeLibrary without DLLFree, the writer
//                                    still busy: the module goes once it is done
//   dll_test_host.exe exit-without-free
//                                    a child exits without DLLFree, the writer
//                                    still busy: the report holds everything
//   dll_test_host.exe free-and-again DLLFree, then DLLInit and more
//   dll_test_host.exe exit-race KIND RUNS
//                                    RUNS children each play KIND and exit at
//                                    once (ExitProcess, no DLLFree after the
//                                    last call): none may crash, and the
//                                    report must hold the last call's change
//   dll_test_host.exe fpu CONTROL    the host's x87 control word and MXCSR
//                                    stay as it set them (CONTROL, hex)
//
// Every failure inside the plug-in must end in the plug-in: the entry point
// returns, the report is as it was, and the debug output names the failure.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "win_check.h"

// Calls `function` the way a cdecl caller does: pushes `count` 32-bit slots,
// the last first, calls, and leaves the slots for the caller to remove.
// `popped` gets how many bytes the callee removed itself (0 for cdecl). The
// result is EAX. EBX, ESI, EDI and EBP are kept across the call, as the
// convention requires of the callee; the stub relies on EBX for that.
extern "C" std::uint32_t CallWithSlots(const void* function, const std::uint32_t* slots,
                                       std::uint32_t count, std::int32_t* popped);
asm(R"(
  .text
  .globl _CallWithSlots
  .def _CallWithSlots; .scl 2; .type 32; .endef
_CallWithSlots:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%esi,%ecx,4)
  jmp 1b
2:
  movl %esp, %ebx
  call *8(%ebp)
  movl %esp, %ecx
  subl %ebx, %ecx
  movl 20(%ebp), %edx
  movl %ecx, (%edx)
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

namespace {

using namespace tarveld::wintest;

constexpr char kDescription[] = "data collection for After Action Reports";

// The host's start-date record: seven 32-bit integers.
struct StartRecord {
  std::int32_t year, month, day, hour, minute, second, extra;
};

std::uint32_t Slot(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

class Plugin {
 public:
  Plugin() {
    module_ = LoadLibraryA((OwnDirectory() + "TARVELD.dll").c_str());
    if (!CHECK(module_ != nullptr)) {
      std::printf("  LoadLibraryA: error %lu\n", GetLastError());
      std::exit(1);
    }
  }
  ~Plugin() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  // FreeLibrary now, as a host that never calls DLLFree does.
  void Unload() {
    FreeLibrary(module_);
    module_ = nullptr;
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Calls the export `name` with `slots`; checks that it exists and that it
  // left the stack to the caller.
  std::uint32_t Call(const char* name, std::initializer_list<std::uint32_t> slots = {}) {
    const FARPROC function = GetProcAddress(module_, name);
    if (!CHECK(function != nullptr)) {
      std::printf("  no export %s\n", name);
      return 0;
    }
    std::int32_t popped = -1;
    const std::uint32_t result =
        CallWithSlots(reinterpret_cast<const void*>(function), slots.begin(),
                      static_cast<std::uint32_t>(slots.size()), &popped);
    if (!CHECK(popped == 0)) {
      std::printf("  %s removed %ld bytes of its arguments\n", name, static_cast<long>(popped));
    }
    return result;
  }

  void ScenLoad(std::uint32_t number_slot, const char* name, const char* series,
                std::int32_t game_time, const StartRecord& start) {
    Call("ScenLoad", {0xFFFFFFFFu, number_slot, Slot(name), 0xFFFFFF00u, Slot(series), 0xFEDCBA00u,
                      static_cast<std::uint32_t>(game_time), 0x77u, Slot(&start)});
  }
  void MsgLog(const char* text) { Call("MsgLog", {Slot(text)}); }
  void GameTime(std::int32_t game_time) {
    Call("GameTime", {static_cast<std::uint32_t>(game_time), 0x12345678u});
  }

 private:
  HMODULE module_ = nullptr;
};

std::string ReportPath() {
  return OwnDirectory() + "Tarveld.txt";
}

// Starts `command` (a program of this directory and its arguments); the
// process's handle, or nullptr when it could not start.
HANDLE StartProcess(std::string command) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CHECK(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The report after DLLInit wrote "Initial Start", with the date-time text
// replaced by T.
std::string WithoutActualDate(std::string report) {
  const std::string key = "Actual Date";
  const std::size_t start = report.find(key);
  if (start == std::string::npos) {
    return report;
  }
  const std::size_t equals = report.find('=', start);
  const std::size_t end = report.find("\r\n", start);
  if (equals == std::string::npos || end == std::string::npos || equals > end) {
    return report;
  }
  const std::size_t value = report.find_first_not_of(' ', equals + 1);
  return report.substr(0, value) + "T" + report.substr(end);
}

// The names beside this program other than the programs and libraries the
// driver put there.
std::string FilesBesideProgram() {
  std::string names;
  for (const std::string& name : ListDirectory(OwnDirectory())) {
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    if (_stricmp(extension.c_str(), ".exe") != 0 && _stricmp(extension.c_str(), ".dll") != 0) {
      names += (names.empty() ? "" : " ") + name;
    }
  }
  return names;
}

// ---------------------------------------------------------------------------
// abi: every argument slot is a full 32 bits, with garbage above the narrow
// arguments; results come back in EAX; the callee leaves the stack alone.

int Abi() {
  Plugin plugin;
  CHECK((plugin.Call("DLLVer") & 0xFFFF) == 1);
  CHECK((plugin.Call("DLLVerInt") & 0xFFFF) == 11);
  const char* description = reinterpret_cast<const char*>(plugin.Call("DLLDesc"));
  CHECK(description != nullptr && std::strcmp(description, kDescription) == 0);
  CHECK(reinterpret_cast<const char*>(plugin.Call("DLLDesc")) == description);

  plugin.Call("DLLInit", {0xDEADBEEFu});
  plugin.Call("DLLFree");  // returns once the report is on disk
  CHECK_EQ(WithoutActualDate(ReadWhole(ReportPath())), "[Initial Start]\r\nActual Date = T\r\n");

  const StartRecord start{1942, 6, 4, 4, 30, 0, -7};
  // 0xABCDFFFF: the low 16 bits are all ones, so no scenario number.
  plugin.ScenLoad(0xABCDFFFFu, "Patrol", "Convoy", 100000, start);
  // 0x00010002: scenario number 2 with a one above it.
  plugin.ScenLoad(0x00010002u, "Patrol", "Convoy", 100000, start);
  // 0x12348000: -32768, the lowest 16-bit number.
  plugin.ScenLoad(0x12348000u, nullptr, "Convoy", 100000, start);
  plugin.GameTime(100123);
  plugin.MsgLog("Contact");
  plugin.Call("DLLFree");
  CHECK_EQ(WithoutActualDate(ReadWhole(ReportPath())),
           "[Initial Start]\r\n"
           "Actual Date=T\r\n"
           "\r\n"
           "[Session Start]\r\n"
           "Game Date=1942-06-04 04:30:00\r\n"
           "Game Time=100000\r\n"
           "Scenario=Patrol\r\n"
           "Game Date=1942-06-04 04:30:00\r\n"
           "Game Time=100000\r\n"
           "Scenario=Convoy/Scen#3\r\n"
           "Game Date=1942-06-04 04:30:00\r\n"
           "Game Time=100000\r\n"
           "Scenario=Convoy/Scen#-32767\r\n"
           "\r\n"
           "[log]\r\n"
           "100123=Contact\r\n");

  // The event entry points leave the report as it was; their texts reach the
  // journal. The time factor is a whole 32-bit number, the unit number only
  // the low 8 bits of its slot.
  const std::string before = ReadWhole(ReportPath());
  plugin.Call("TimeFactor", {0xFFFFFFFDu});
  plugin.Call("UnitSink", {0x12345603u, Slot("TF-2")});
  plugin.Call("UnitSink", {0xFFFFFF00u, Slot(nullptr)});
  plugin.Call("DLLFree");
  CHECK(ReadWhole(ReportPath()) == before);
  const std::string journal = ReadWhole(OwnDirectory() + "Tarveld.log");
  for (const char* text :
       {"00100123: TimeFactor=-3\r\n", "00100123: GroupID=TF-2, UnitID=03, Sinking\r\n",
        "00100123: GroupID=, UnitID=00, Sinking\r\n"}) {
    if (!CHECK(journal.find(text) != std::string::npos)) {
      std::printf("  no \"%s\" in the journal:\n%s", text, journal.c_str());
    }
  }
  CHECK_EQ(FilesBesideProgram(), "Tarveld.log Tarveld.txt");
  return Finish("abi");
}

// ---------------------------------------------------------------------------
// version: the file's version resource says what the exports say.

std::string VersionString(const std::string& block, const char* name) {
  char* text = nullptr;
  UINT length = 0;
  const std::string query = "\\StringFileInfo\\040904E4\\" + std::string(name);
  if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
      text == nullptr) {
    return "(missing " + std::string(name) + ")";
  }
  return std::string(text, length > 0 ? length - 1 : 0);
}

int Version() {
  const std::string file = OwnDirectory() + "TARVELD.dll";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
  if (!CHECK(size > 0)) {
    return Finish("version");
  }
  std::string block(size, '\0');
  CHECK(GetFileVersionInfoA(file.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  CHECK(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));

  Plugin plugin;
  const std::uint32_t major = plugin.Call("DLLVer") & 0xFFFF;
  const std::uint32_t minor = plugin.Call("DLLVerInt") & 0xFFFF;
  const char* description = reinterpret_cast<const char*>(plugin.Call("DLLDesc"));
  if (CHECK(fixed != nullptr)) {
    CHECK(fixed->dwFileVersionMS == ((major << 16) | minor));
    CHECK(fixed->dwProductVersionMS == ((major << 16) | minor));
    CHECK(fixed->dwFileType == VFT_DLL);
  }
  CHECK_EQ(VersionString(block, "FileDescription"), std::string(description));
  CHECK_EQ(VersionString(block, "ProductName"), "TARVELD");
  const std::string dotted = std::to_string(major) + "." + std::to_string(minor);
  CHECK_EQ(VersionString(block, "FileVersion"), dotted);
  CHECK_EQ(VersionString(block, "ProductVersion"), dotted);
  CHECK_EQ(VersionString(block, "OriginalFilename"), "TARVELD.dll");
  return Finish("version");
}

// ---------------------------------------------------------------------------
// report-is-dir: a directory named Tarveld.txt counts as no report, and every
// write to it fails with EFCreateError inside the plug-in.

int ReportIsDirectory() {
  CreateDirectoryA(ReportPath().c_str(), nullptr);
  DebugCatcher debug;
  Plugin plugin;
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};

  plugin.Call("DLLInit", {0});
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  plugin.MsgLog("Contact");
  // The writer tries, names each failure and tries again; DLLFree gives up
  // after its time and says what is not written.
  plugin.Call("DLLFree");
  const std::string failure = "EFCreateError: Unable to create file \"" + ReportPath() + "\"";
  CHECK(debug.Took("DLLFree: not written: \"" + ReportPath() + "\" (" + failure + ")"));
  CHECK(IsDirectory(ReportPath()));
  CHECK_EQ(JoinNames(ListDirectory(ReportPath() + "\\")), "");
  CHECK_EQ(FilesBesideProgram(), "Tarveld.log Tarveld.txt");
  return Finish("report-is-dir");
}

// ---------------------------------------------------------------------------
// report-locked: another process opens the report with no sharing
// (hold_file.exe) while the plug-in reads and writes it.

class Holder {
 public:
  explicit Holder(const std::string& path) {
    const std::string tag = std::to_string(GetCurrentProcessId());
    ready_ = CreateEventA(nullptr, TRUE, FALSE, ("tarveld-ready-" + tag).c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, ("tarveld-release-" + tag).c_str());
    process_ = StartProcess("\"" + OwnDirectory() + "hold_file.exe\" \"" + path +
                            "\" tarveld-ready-" + tag + " tarveld-release-" + tag);
    if (process_ == nullptr) {
      return;
    }
    HANDLE either[] = {ready_, process_};
    held_ = WaitForMultipleObjects(2, either, FALSE, 120000) == WAIT_OBJECT_0;
    CHECK(held_);
  }
  ~Holder() { Release(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  bool held() const { return held_; }

  void Release() {
    if (process_ != nullptr) {
      SetEvent(release_);
      WaitForSingleObject(process_, 120000);
      CloseHandle(process_);
      process_ = nullptr;
    }
    held_ = false;
  }

 private:
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE process_ = nullptr;
  bool held_ = false;
};

// The lock lasts 10 s while a message comes every 20 ms: no call waits for
// the lock, the failure is named once per retry pause, not per call, and
// every message lands once the lock goes.
int ReportLocked() {
  DebugCatcher debug;
  Plugin plugin;
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  plugin.Call("DLLInit", {0});
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  plugin.MsgLog("Convoy formed up");
  plugin.Call("DLLFree");
  CHECK(debug.TookNothing());
  const std::string before = ReadWhole(ReportPath());

  Holder holder(ReportPath());
  if (!holder.held()) {
    return Finish("report-locked");
  }
  std::string ignored;
  CHECK(!ReadWhole(ReportPath(), ignored));  // the lock is real

  LARGE_INTEGER frequency{}, begin{}, end{};
  QueryPerformanceFrequency(&frequency);
  double longest_ms = 0;
  int messages = 0;
  const ULONGLONG until = GetTickCount64() + 10000;
  while (GetTickCount64() < until) {
    ++messages;
    const std::string text = "message " + std::to_string(messages);
    QueryPerformanceCounter(&begin);
    plugin.GameTime(100000 + messages);
    plugin.MsgLog(text.c_str());
    QueryPerformanceCounter(&end);
    longest_ms = std::max(longest_ms, 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                                          static_cast<double>(frequency.QuadPart));
    Sleep(20);
  }
  CHECK(!ReadWhole(ReportPath(), ignored));
  holder.Release();
  plugin.Call("DLLFree");
  const std::vector<std::string> named = debug.Take();
  // The journal tells the lock once (it lasted less than a minute) and,
  // at the next line after the report was written again, its end. The
  // reason is left open: a rename over a file another process holds is
  // refused as a sharing violation or as denied access, by system.
  plugin.GameTime(100000 + messages + 1);
  plugin.MsgLog("lock gone");
  CHECK(debug.TookNothing());
  const std::string journal = ReadWhole(OwnDirectory() + "Tarveld.log");
  const std::string told = " | FAILURE    | report: not written: ";
  const std::string failure =
      " (EFCreateError: Unable to create file \"" + ReportPath() + "\")\r\n";
  const std::size_t at = journal.find(told);
  if (!CHECK(at != std::string::npos && journal.find(told, at + 1) == std::string::npos &&
             journal.compare(journal.find('\r', at) - failure.size() + 2, failure.size(),
                             failure) == 0)) {
    std::printf("  the journal's FAILURE lines:\n");
    for (std::size_t line = journal.find("| FAILURE"); line != std::string::npos;
         line = journal.find("| FAILURE", line + 1)) {
      std::printf("    %s\n", journal.substr(line, journal.find('\r', line) - line).c_str());
    }
  }
  CHECK(journal.find(" | FAILURE    | report: written again\r\n", at) != std::string::npos);
  // Every line names the refused write, one per attempt of the writer
  // (about eight in 10 s: pauses of 50 ms doubling to 5 s), none per call.
  std::printf("locked 10 s: %d messages, the longest call %.1f ms, %u failures named\n", messages,
              longest_ms, static_cast<unsigned>(named.size()));
  // A call that waited for the lock would have taken it all.
  CHECK(longest_ms < 1000);
  CHECK(messages > 100);
  CHECK(!named.empty() && named.size() <= 20);
  for (const std::string& line : named) {
    CHECK(line.find("MsgLog: EFCreateError: Unable to create file \"" + ReportPath() + "\"") !=
          std::string::npos);
  }

  const std::string report = ReadWhole(ReportPath());
  CHECK(report.compare(0, before.size(), before) == 0);
  int landed = 0;
  for (std::size_t at = report.find("=message "); at != std::string::npos;
       at = report.find("=message ", at + 1)) {
    ++landed;
  }
  CHECK(landed == messages);
  CHECK(report.find("=message " + std::to_string(messages) + "\r\n") != std::string::npos);
  CHECK_EQ(FilesBesideProgram(), "Tarveld.log Tarveld.txt");
  return Finish("report-locked");
}

// ---------------------------------------------------------------------------
// write-limited: the driver limits the size of files this process may write
// (ulimit -f) below the size of one rewrite, so the write stops part way.

int WriteLimited() {
  DebugCatcher debug;
  Plugin plugin;
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  plugin.Call("DLLInit", {0});
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  plugin.Call("DLLFree");
  CHECK(debug.TookNothing());
  const std::string before = ReadWhole(ReportPath());

  const std::string long_message(64 * 1024, 'M');
  plugin.MsgLog(long_message.c_str());
  plugin.Call("DLLFree");  // gives up on the write after its time
  CHECK(debug.Took("MsgLog: EWriteError: Stream write error"));
  CHECK(ReadWhole(ReportPath()) == before);
  CHECK_EQ(FilesBesideProgram(), "Tarveld.log Tarveld.txt");
  return Finish("write-limited");
}

// ---------------------------------------------------------------------------
// bad-picture: a short-date picture with an "a" that begins no AM/PM element
// makes the date-time text fail; DLLInit ends there, before any write.

int BadPicture() {
  char saved[256] = "";
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved, sizeof saved);
  if (!CHECK(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, "d/M/yyyy a"))) {
    return Finish("bad-picture");
  }
  {
    DebugCatcher debug;
    Plugin plugin;  // reads the regional settings as it loads
    plugin.Call("DLLInit", {0});
    CHECK(debug.Took("DLLInit: EConvertError: Illegal character in format string"));
    CHECK_EQ(FilesBesideProgram(), "");
  }
  SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved);
  return Finish("bad-picture");
}

// ---------------------------------------------------------------------------
// locale: "Actual Date" follows the user's regional settings as this process
// sees them: the short-date picture, the date and time separators and the
// hour's leading zero.

std::string LocaleText(LCID locale, LCTYPE item) {
  char buffer[256] = "";
  const int n = GetLocaleInfoA(locale, item, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n - 1) : std::string();
}

std::string Digits(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

// The date-time text of `time` under a short-date picture made of d, M and y
// runs of one or two letters (four for y), quoted text, "/" for the date
// separator and other literal characters. `supported` turns false for any
// other picture.
std::string ExpectedText(const std::string& picture, char date_separator, char time_separator,
                         bool hour_zero, const SYSTEMTIME& time, bool& supported) {
  std::string text;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'' || c == '"') {
      const std::size_t close = picture.find(c, i + 1);
      text += picture.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      i = close == std::string::npos ? picture.size() : close + 1;
      continue;
    }
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t run = 1;
    while (i + run < picture.size() &&
           std::tolower(static_cast<unsigned char>(picture[i + run])) == letter) {
      ++run;
    }
    if (letter == 'd' && run <= 2) {
      text += Digits(time.wDay, static_cast<int>(run));
    } else if (letter == 'm' && run <= 2) {
      text += Digits(time.wMonth, static_cast<int>(run));
    } else if (letter == 'y' && run <= 2) {
      text += Digits(time.wYear % 100, 2);
    } else if (letter == 'y' && run == 4) {
      text += Digits(time.wYear, 4);
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      supported = false;
      return text;
    } else {
      run = 1;
      text += c == '/' ? date_separator : c;
    }
    i += run;
  }
  if (time.wHour != 0 || time.wMinute != 0 || time.wSecond != 0) {
    text += ' ' + Digits(time.wHour, hour_zero ? 2 : 1) + time_separator + Digits(time.wMinute, 2) +
            time_separator + Digits(time.wSecond, 2);
  }
  return text;
}

int Locale(const char* expected_locale) {
  const LCID expected = static_cast<LCID>(std::strtoul(expected_locale, nullptr, 16));
  CHECK(GetUserDefaultLCID() == expected);

  Plugin plugin;  // sets this thread's locale to the user's as it loads
  const LCID locale = GetThreadLocale();
  CHECK(locale == expected);
  const std::string picture = LocaleText(locale, LOCALE_SSHORTDATE);
  const std::string date_separator = LocaleText(locale, LOCALE_SDATE);
  const std::string time_separator = LocaleText(locale, LOCALE_STIME);
  const std::string hour_zero = LocaleText(locale, LOCALE_ITLZERO);
  std::printf(
      "locale %04lx: short date \"%s\", date separator \"%s\", time separator \"%s\", "
      "hour leading zero %s\n",
      locale, picture.c_str(), date_separator.c_str(), time_separator.c_str(), hour_zero.c_str());
  CHECK(date_separator.size() == 1 && time_separator.size() == 1);

  SYSTEMTIME before;
  GetLocalTime(&before);
  plugin.Call("DLLInit", {0});
  SYSTEMTIME after;
  GetLocalTime(&after);
  plugin.Call("DLLFree");
  const std::string report = ReadWhole(ReportPath());
  std::printf("report: %s", report.c_str());

  bool supported = true;
  std::string candidates[2];
  const SYSTEMTIME* times[2] = {&before, &after};
  for (int i = 0; i < 2; ++i) {
    candidates[i] = "[Initial Start]\r\nActual Date = " +
                    ExpectedText(picture, date_separator[0], time_separator[0], hour_zero == "1",
                                 *times[i], supported) +
                    "\r\n";
  }
  if (!CHECK(supported)) {
    std::printf("  the check does not know this picture\n");
  }
  if (report != candidates[1]) {
    CHECK_EQ(report, candidates[0]);
  }
  return Finish("locale");
}

// ---------------------------------------------------------------------------
// Lifetime: messages still with the plug-in's writer when the host unloads
// it without DLLFree, exits without it, or calls DLLFree and goes on.

constexpr int kLifetimeMessages = 2000;

void PlayMessages(Plugin& plugin, int first, int count) {
  for (int i = first; i < first + count; ++i) {
    plugin.GameTime(100000 + i);
    plugin.MsgLog(("message " + std::to_string(i)).c_str());
  }
}

// How many of the messages `first` to `last` the report holds.
int MessagesOnDisk(int first, int last) {
  const std::string report = ReadWhole(ReportPath());
  int found = 0;
  for (int i = first; i <= last; ++i) {
    found += report.find("\r\n" + std::to_string(100000 + i) + "=message " + std::to_string(i) +
                         "\r\n") != std::string::npos;
  }
  return found;
}

// FreeLibrary without DLLFree: the writer keeps the module until its work
// is done and it has idled, then lets it go; nothing is lost, nothing hangs.
int FreeLibraryWithoutDLLFree() {
  {
    Plugin plugin;
    const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
    plugin.Call("DLLInit", {0});
    plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
    PlayMessages(plugin, 0, kLifetimeMessages);
    plugin.Unload();
  }
  const ULONGLONG until = GetTickCount64() + 60000;
  while (GetModuleHandleA("TARVELD.dll") != nullptr && GetTickCount64() < until) {
    Sleep(50);
  }
  CHECK(GetModuleHandleA("TARVELD.dll") == nullptr);
  CHECK(MessagesOnDisk(0, kLifetimeMessages - 1) == kLifetimeMessages);
  CHECK_EQ(FilesBesideProgram(), "Tarveld.log Tarveld.txt");
  return Finish("free-library");
}

// The child plays and exits at once, without DLLFree: the system ends the
// writer's thread, and the module's unload writes what it had.
int ExitWithoutDLLFreeChild() {
  Plugin plugin;
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  plugin.Call("DLLInit", {0});
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  PlayMessages(plugin, 0, kLifetimeMessages);
  ExitProcess(0);
}

int ExitWithoutDLLFree() {
  const HANDLE child =
      StartProcess("\"" + OwnDirectory() + "dll_test_host.exe\" exit-without-free-child");
  if (child == nullptr) {
    return Finish("exit-without-free");
  }
  CHECK(WaitForSingleObject(child, 120000) == WAIT_OBJECT_0);
  DWORD status = 1;
  GetExitCodeProcess(child, &status);
  CloseHandle(child);
  CHECK(status == 0);
  CHECK(MessagesOnDisk(0, kLifetimeMessages - 1) == kLifetimeMessages);
  // The system ends the writer's thread where it is; a new file it was
  // writing is deleted at the unload, as is the one made ready for it.
  CHECK_EQ(FilesBesideProgram(), "Tarveld.log Tarveld.txt");
  return Finish("exit-without-free");
}

// DLLFree returns with everything on disk; a DLLInit after it starts the
// writer again.
int FreeAndAgain() {
  DebugCatcher debug;
  Plugin plugin;
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  plugin.Call("DLLInit", {0});
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  PlayMessages(plugin, 0, kLifetimeMessages);
  plugin.Call("DLLFree");
  CHECK(MessagesOnDisk(0, kLifetimeMessages - 1) == kLifetimeMessages);
  plugin.Call("DLLInit", {0});
  PlayMessages(plugin, kLifetimeMessages, kLifetimeMessages);
  plugin.Call("DLLFree");
  CHECK(MessagesOnDisk(0, 2 * kLifetimeMessages - 1) == 2 * kLifetimeMessages);
  CHECK(debug.TookNothing());
  return Finish("free-and-again");
}

// ---------------------------------------------------------------------------
// Exit races: a host may exit at once after any call, with the writer's
// thread anywhere. Each kind ends with a change that must be in the report.
//
//   late-msglog    DLLFree, then one more MsgLog
//   late-scenload  DLLFree, then one more ScenLoad
//   idle-msglog    the writer idle (waiting, or ended after its linger),
//                  then the first MsgLog
//   busy           a burst of messages, the writer still writing them

constexpr int kBurstMessages = 3000;

[[noreturn]] void PlayExitRace(const std::string& kind, int run) {
  Plugin plugin;
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  plugin.Call("DLLInit", {0});
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  if (kind == "busy") {
    PlayMessages(plugin, 0, kBurstMessages);
    ExitProcess(0);
  }
  plugin.MsgLog("one");
  if (kind == "late-msglog") {
    plugin.Call("DLLFree");
    plugin.MsgLog("two");
  } else if (kind == "late-scenload") {
    plugin.Call("DLLFree");
    plugin.ScenLoad(0xFFFF, "Patrol", nullptr, 100000, start);
  } else if (kind == "idle-msglog") {
    // Odd runs find the writer waiting for work, even ones after it ended.
    Sleep(run % 2 == 1 ? 300 : 2600);
    plugin.MsgLog("two");
  }
  ExitProcess(0);
}

// What the report must hold after `kind`'s last call.
bool HoldsLastChange(const std::string& kind, const std::string& report) {
  if (kind == "busy")
    return MessagesOnDisk(0, kBurstMessages - 1) == kBurstMessages;
  if (kind == "late-scenload")
    return report.find("\r\nScenario =Patrol\r\n") != std::string::npos;
  return report.find("\r\n100000=two\r\n") != std::string::npos;
}

int ExitRace(const std::string& kind, int runs) {
  int crashed = 0;
  int lost = 0;
  int untidy = 0;  // runs that left more than the report and the journal
  for (int run = 1; run <= runs; ++run) {
    for (const std::string& name : ListDirectory(OwnDirectory())) {
      if (name.rfind("Tarveld.", 0) == 0)
        DeleteFileA((OwnDirectory() + name).c_str());
    }
    const HANDLE child =
        StartProcess("\"" + OwnDirectory() + "dll_test_host.exe\" exit-race-child " + kind + " " +
                     std::to_string(run));
    if (child == nullptr)
      return Finish("exit-race");
    DWORD status = 1;
    if (WaitForSingleObject(child, 120000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child, &status)) {
      status = 1;
    }
    CloseHandle(child);
    const bool whole = HoldsLastChange(kind, ReadWhole(ReportPath()));
    const bool tidy = FilesBesideProgram() == "Tarveld.log Tarveld.txt";
    crashed += status != 0;
    lost += !whole;
    untidy += !tidy;
    if (status != 0 || !whole || !tidy) {
      std::printf("  run %d: exit status 0x%lx, last change %s", run,
                  static_cast<unsigned long>(status), whole ? "on disk" : "LOST");
      if (kind == "busy")
        std::printf(", %d of %d messages", MessagesOnDisk(0, kBurstMessages - 1), kBurstMessages);
      std::printf("; files: %s\n", FilesBesideProgram().c_str());
    }
  }
  std::printf("exit-race %s: %d runs, %d crashed, %d lost the last change, %d left other files\n",
              kind.c_str(), runs, crashed, lost, untidy);
  CHECK(crashed == 0);
  CHECK(lost == 0);
  CHECK(untidy == 0);
  return Finish("exit-race");
}

// ---------------------------------------------------------------------------
// The host's floating-point state: hosts run with their own x87 control
// word (some unmask exceptions, Direct3D 9 games use single precision). The
// plug-in must leave it and MXCSR as they are, and raise no exception under
// them, at load and across every entry point.

std::uint16_t ControlWord() {
  std::uint16_t word = 0;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

std::uint32_t Mxcsr() {
  std::uint32_t word = 0;
  asm volatile("stmxcsr %0" : "=m"(word));
  return word;
}

int FloatingPointState(const char* control_text) {
  const std::uint16_t wanted = static_cast<std::uint16_t>(std::strtoul(control_text, nullptr, 16));
  asm volatile("fninit; fldcw %0" : : "m"(wanted));
  const std::uint16_t control = ControlWord();  // reserved bits read back set
  const std::uint32_t mxcsr = Mxcsr();
  const auto check = [&](const char* when) {
    if (!CHECK(ControlWord() == control && Mxcsr() == mxcsr)) {
      std::printf("  %s: control word 0x%04x (was 0x%04x), MXCSR 0x%08lx (was 0x%08lx)\n", when,
                  ControlWord(), control, static_cast<unsigned long>(Mxcsr()),
                  static_cast<unsigned long>(mxcsr));
    }
  };
  Plugin plugin;
  check("load");
  const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  plugin.Call("DLLVer");
  plugin.Call("DLLVerInt");
  plugin.Call("DLLDesc");
  check("DLLVer, DLLVerInt, DLLDesc");
  plugin.Call("DLLInit", {0});
  check("DLLInit");
  plugin.ScenLoad(2, nullptr, "Convoy", 100000, start);
  check("ScenLoad");
  plugin.GameTime(2000000000);
  check("GameTime");
  plugin.MsgLog("Contact");
  check("MsgLog");
  plugin.Call("TimeFactor", {static_cast<std::uint32_t>(-3)});
  check("TimeFactor");
  plugin.Call("UnitSink", {3, Slot("Escort 2")});
  check("UnitSink");
  plugin.Call("DLLFree");
  check("DLLFree");
  plugin.Unload();
  check("unload");
  std::printf("control word 0x%04x, MXCSR 0x%08lx\n", control, static_cast<unsigned long>(mxcsr));
  return Finish("fpu");
}

}  // namespace

int main(int argc, char** argv) {
  // What a check said stays in the output file if the process dies later.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string mode = argc >= 2 ? argv[1] : "";
  if (mode == "abi")
    return Abi();
  if (mode == "version")
    return Version();
  if (mode == "report-is-dir")
    return ReportIsDirectory();
  if (mode == "report-locked")
    return ReportLocked();
  if (mode == "write-limited")
    return WriteLimited();
  if (mode == "bad-picture")
    return BadPicture();
  if (mode == "locale" && argc == 3)
    return Locale(argv[2]);
  if (mode == "free-library")
    return FreeLibraryWithoutDLLFree();
  if (mode == "exit-without-free")
    return ExitWithoutDLLFree();
  if (mode == "exit-without-free-child")
    return ExitWithoutDLLFreeChild();
  if (mode == "free-and-again")
    return FreeAndAgain();
  if (mode == "exit-race" && argc == 4)
    return ExitRace(argv[2], std::atoi(argv[3]));
  if (mode == "exit-race-child" && argc == 4)
    PlayExitRace(argv[2], std::atoi(argv[3]));
  if (mode == "fpu" && argc == 3)
    return FloatingPointState(argv[2]);
  std::printf(
      "usage: dll_test_host.exe abi|version|report-is-dir|report-locked|write-limited|"
      "bad-picture|locale LCID|free-library|exit-without-free|free-and-again|\n"
      "exit-race KIND RUNS|fpu CONTROL\n");
  return 2;
}
