// What the plug-in meets on disk, short of a failing device: a directory or
// a FIFO or a device where the report belongs, a directory it may not write
// or that vanishes mid-session, a read-only report, a huge one, and reports
// written by other tools with NUL bytes, lone CRs, a byte-order mark or
// lines of a mebibyte. Each gives its outcome without a crash or a hang:
// the entry points return, failures are named on the debug output, and the
// report is either untouched or exactly what the store's rules make of it.
//
// The tests run as whoever runs the suite. Permission bits do not stop
// root, so a read-only directory or report is also simulated through the
// system-call table; the tests with real permission bits skip under root.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix_syscalls.h"
#include "plugin/exports.h"
#include "plugin/session.h"
#include "report/format_settings.h"
#include "report/ini_file.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
using platform::PosixSyscalls;
using platform::Syscalls;
using ::testing::ElementsAre;

// Cancels the alarm and puts the real system calls back.
struct Restore {
  ~Restore() {
    alarm(0);
    Syscalls() = PosixSyscalls{};
  }
};

class HostileDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(Game());
    fake_.executable_path = (Game() / "host.exe").string();
    ProcessFormatSettings() = TFormatSettings{};
    ResetSession();
    // A hang is a failure too: SIGALRM ends the test program loudly.
    alarm(60);
  }
  void TearDown() override { ResetSession(); }

  fs::path Game() const { return dir_.path() / "game"; }
  std::string ReportPath() const { return (Game() / "Tarveld.txt").string(); }
  std::string Report() const { return ReadBytes(ReportPath()); }

  // The debug lines about the report, leaving out the journal's.
  std::vector<std::string> ReportFailures() {
    std::vector<std::string> lines;
    for (const std::string& line : fake_.debug_lines) {
      if (line.find(": journal: ") == std::string::npos)
        lines.push_back(line);
    }
    fake_.debug_lines.clear();
    return lines;
  }

  std::string CreateFailure(const char* entry) const {
    return std::string(entry) + ": EFCreateError: Unable to create file \"" + ReportPath() + "\"";
  }
  std::string OpenFailure(const char* entry) const {
    return std::string(entry) + ": EFOpenError: Unable to open file \"" + ReportPath() + "\"";
  }

  // Whatever the host left in the game directory besides the report and
  // the journal.
  std::vector<std::string> Strays() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Game())) {
      const std::string name = entry.path().filename().string();
      if (name != "Tarveld.txt" && name != "Tarveld.log")
        names.push_back(name);
    }
    return names;
  }

  void Scenario(std::int32_t clock) { ScenLoad(0, 2, nullptr, 0, "Convoy", 0, clock, 0, &start_); }

  Restore restore_;
  TempDir dir_;
  FakePlatform fake_;
  ScopedPlatform installed_{fake_};
  CallerThreadWrites writes_;
  const GameDateRec start_{1942, 6, 4, 4, 30, 0, 0};
};

constexpr char kBegun[] = "[Initial Start]\r\nActual Date=3/7/24 21:05:03\r\n";

TEST_F(HostileDiskTest, ReportPathIsADirectory) {
  fs::create_directory(ReportPath());
  WriteBytes(ReportPath() + "/inside", "kept");
  DLLInit(0);
  Scenario(100000);
  MsgLog("m");
  EXPECT_THAT(ReportFailures(), ElementsAre(CreateFailure("DLLInit"), CreateFailure("ScenLoad"),
                                            CreateFailure("MsgLog")));
  EXPECT_TRUE(fs::is_directory(ReportPath()));
  EXPECT_EQ(ReadBytes(ReportPath() + "/inside"), "kept");
  EXPECT_THAT(Strays(), ::testing::IsEmpty());
}

// The directory refuses new files and renames, as a read-only directory or
// file system does: the report can be read but not replaced. Once it takes
// writes again, the next write brings everything the store holds.
TEST_F(HostileDiskTest, ReadOnlyDirectorySimulated) {
  static int error;
  for (const int code : {EACCES, EROFS}) {
    SCOPED_TRACE(code == EACCES ? "EACCES" : "EROFS");
    ResetSession();
    WriteBytes(ReportPath(), kBegun);
    error = code;
    Syscalls().open = [](const char* path, int flags, mode_t mode) {
      if (flags & O_CREAT)
        return errno = error, -1;
      return platform::PosixOpen(path, flags, mode);
    };
    Syscalls().rename = [](const char*, const char*) { return errno = error, -1; };

    DLLInit(0);
    Scenario(100000);
    MsgLog("one");
    EXPECT_THAT(ReportFailures(), ElementsAre(CreateFailure("ScenLoad"), CreateFailure("MsgLog")));
    EXPECT_EQ(Report(), kBegun);
    EXPECT_THAT(Strays(), ::testing::IsEmpty());

    Syscalls() = PosixSyscalls{};
    GameTime(100060, 0);
    MsgLog("two");
    EXPECT_THAT(ReportFailures(), ::testing::IsEmpty());
    EXPECT_EQ(Report(), std::string(kBegun) +
                            "\r\n[Session Start]\r\nGame Date = 1942-06-04 04:30:00\r\n"
                            "\r\n[log]\r\n100000=one\r\n100060=two\r\n");
  }
}

TEST_F(HostileDiskTest, ReadOnlyDirectoryForReal) {
  if (geteuid() == 0)
    GTEST_SKIP() << "running as root, whom permission bits do not stop; "
                    "ReadOnlyDirectorySimulated covers this case";
  WriteBytes(ReportPath(), kBegun);
  fs::permissions(Game(), fs::perms::owner_read | fs::perms::owner_exec);
  Scenario(100000);
  MsgLog("one");
  const std::vector<std::string> failures = ReportFailures();
  fs::permissions(Game(), fs::perms::owner_all);
  EXPECT_THAT(failures, ElementsAre(CreateFailure("ScenLoad"), CreateFailure("MsgLog")));
  EXPECT_EQ(Report(), kBegun);
  EXPECT_THAT(Strays(), ::testing::IsEmpty());
}

// Writes fail while the directory is gone and are made whole once it is
// back: the store still holds the whole report.
TEST_F(HostileDiskTest, DirectoryVanishesMidSession) {
  DLLInit(0);
  Scenario(100000);
  MsgLog("before");
  fs::remove_all(Game());
  GameTime(100060, 0);
  MsgLog("while gone");
  TimeFactor(2);
  UnitSink(3, "Escort");
  EXPECT_THAT(ReportFailures(), ElementsAre(CreateFailure("MsgLog")));
  EXPECT_FALSE(fs::exists(Game()));

  fs::create_directory(Game());
  GameTime(100120, 0);
  MsgLog("back");
  EXPECT_THAT(ReportFailures(), ::testing::IsEmpty());
  EXPECT_EQ(Report(), std::string(kBegun) +
                          "\r\n[Session Start]\r\n"
                          "Game Date=1942-06-04 04:30:00\r\nGame Time=100000\r\n"
                          "Scenario=Convoy/Scen#3\r\n"
                          "\r\n[log]\r\n100000=before\r\n100060=while gone\r\n100120=back\r\n");
}

// A report that may not be written is left alone, as its owner meant:
// reading it works, every write fails.
TEST_F(HostileDiskTest, ReadOnlyReportSimulated) {
  static std::string report;
  report = ReportPath();
  WriteBytes(report, kBegun);
  Syscalls().open = [](const char* path, int flags, mode_t mode) {
    if (path == report && (flags & O_ACCMODE) != O_RDONLY)
      return errno = EACCES, -1;
    return platform::PosixOpen(path, flags, mode);
  };
  DLLInit(0);
  Scenario(100000);
  MsgLog("m");
  EXPECT_THAT(ReportFailures(), ElementsAre(CreateFailure("ScenLoad"), CreateFailure("MsgLog")));
  EXPECT_EQ(Report(), kBegun);
  EXPECT_THAT(Strays(), ::testing::IsEmpty());
}

TEST_F(HostileDiskTest, ReadOnlyReportForReal) {
  WriteBytes(ReportPath(), kBegun);
  fs::permissions(ReportPath(), fs::perms::owner_read | fs::perms::group_read);
  Scenario(100000);
  const std::vector<std::string> failures = ReportFailures();
  if (geteuid() == 0) {
    // Root may write any file, and so the store does: the write goes in.
    EXPECT_THAT(failures, ::testing::IsEmpty());
    EXPECT_THAT(Report(), ::testing::HasSubstr("Scenario =Convoy/Scen#3"));
    GTEST_SKIP() << "running as root, whom permission bits do not stop; "
                    "ReadOnlyReportSimulated covers the refusal";
  }
  EXPECT_THAT(failures, ElementsAre(CreateFailure("ScenLoad")));
  EXPECT_EQ(Report(), kBegun);
  EXPECT_EQ(fs::status(ReportPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read);
}

// A FIFO would block the reader until some writer came, a device would
// never end: neither is read, and neither is replaced.
TEST_F(HostileDiskTest, ReportIsAFifoOrADevice) {
  const struct {
    const char* name;
    void (*make)(const std::string& path);
  } cases[] = {
      {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }},
      {"link to /dev/zero", [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSession();
    fs::remove(ReportPath());
    c.make(ReportPath());
    DLLInit(0);  // finds a report, so begins none
    Scenario(100000);
    MsgLog("m");
    EXPECT_THAT(ReportFailures(), ElementsAre(OpenFailure("ScenLoad"), OpenFailure("MsgLog")));
    const fs::file_status status = fs::symlink_status(ReportPath());
    EXPECT_TRUE(fs::is_fifo(status) || fs::is_symlink(status));
    EXPECT_THAT(Strays(), ::testing::IsEmpty());
  }
}

TEST_F(HostileDiskTest, HugeReportLoadsAndTakesAWrite) {
  constexpr int kKeys = 100000;
  std::string bytes = std::string(kBegun) + "\r\n[log]\r\n";
  for (int i = 0; i < kKeys; ++i)
    bytes += std::to_string(1000000 + i) + "=message number " + std::to_string(i) + "\r\n";
  WriteBytes(ReportPath(), bytes);

  const auto begin = std::chrono::steady_clock::now();
  Scenario(100000);  // a load and three writes
  MsgLog("one more");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::printf("a report of %d keys (%zu bytes): load and four writes in %.3f s\n", kKeys,
              bytes.size(), seconds);
  EXPECT_THAT(ReportFailures(), ::testing::IsEmpty());
  EXPECT_LT(seconds, 20.0);

  const TIniFile reread(ReportPath());
  ASSERT_EQ(reread.Sections().size(), 3u);
  EXPECT_EQ(reread.Sections()[1]->Name, "log");
  ASSERT_EQ(reread.Sections()[1]->Keys.size(), kKeys + 1u);
  EXPECT_EQ(reread.Sections()[1]->Keys[kKeys - 1]->Value, "message number 99999");
  EXPECT_EQ(reread.Sections()[1]->Keys[kKeys]->Name, "100000");
  EXPECT_EQ(reread.Sections()[1]->Keys[kKeys]->Value, "one more");
  EXPECT_EQ(reread.Sections()[2]->Keys.size(), 3u);
}

// Reports that other tools wrote. A later run logs one message; the report
// becomes what the store's rules make of it, and every line that stood under
// a header survives, NULs and long lines whole.
TEST_F(HostileDiskTest, ForeignBytesInTheReport) {
  using namespace std::string_literals;
  const std::string long_value(1 << 20, 'x');
  const std::string long_line(1 << 20, 'y');
  const struct {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"NUL bytes", "[log]\r\n1=a\0b\r\n\0k\0=\0v\0\r\n"s,
       "[log]\r\n1=a\0b\r\nk=v\r\n100060=m\r\n"s},
      {"lone CRs", "[log]\r1=a\r\r2=b\r[x]\ry=z",
       "[log]\r\n1=a\r\n2=b\r\n100060=m\r\n\r\n[x]\r\ny=z\r\n"},
      {"LF CR", "[a]\n\rk=v", "[a]\r\nk=v\r\n\r\n[log]\r\n100060=m\r\n"},
      {"byte-order mark", "\xEF\xBB\xBF[log]\r\n1=a\r\n", "[log]\r\n1=a\r\n100060=m\r\n"},
      {"lines of a mebibyte", "[log]\r\n1=" + long_value + "\r\n" + long_line,
       "[log]\r\n1=" + long_value + "\r\n=" + long_line + "\r\n100060=m\r\n"},
      {"empty file", "", "[log]\r\n100060=m\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSession();
    WriteBytes(ReportPath(), c.before);
    DLLInit(0);
    GameTime(100060, 0);
    MsgLog("m");
    EXPECT_THAT(ReportFailures(), ::testing::IsEmpty());
    EXPECT_EQ(Report(), c.after);
    EXPECT_THAT(Strays(), ::testing::IsEmpty());
  }
}

// Bytes of every value, heavy on those the parser looks at: whatever they
// parse into, the store writes it back in its own form, a store that reads
// that form writes it back unchanged, and the message just logged is in it.
TEST_F(HostileDiskTest, BinaryGarbageAsTheReport) {
  static const char kSyntax[] = "[]=; \r\n\t";
  std::string garbage;
  std::uint32_t state = 12345;
  for (int i = 0; i < 64 * 1024; ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned pick = state >> 16;
    garbage += pick % 3 == 0 ? kSyntax[pick / 3 % (sizeof kSyntax - 1)]
                             : static_cast<char>(pick / 3 & 0xFF);
  }
  WriteBytes(ReportPath(), garbage);
  DLLInit(0);
  GameTime(100060, 0);
  MsgLog("m");
  MsgLog("m2");  // a second write, so that the first one's line is settled
  EXPECT_THAT(ReportFailures(), ::testing::IsEmpty());
  const std::string written = Report();
  const TIniFile reread(ReportPath());
  EXPECT_GT(reread.Sections().size(), 10u);
  EXPECT_THAT(written, ::testing::HasSubstr("\r\n100060=m2\r\n"));

  ResetSession();
  GameTime(100060, 0);
  MsgLog("m2");
  EXPECT_EQ(Report(), written);
}

}  // namespace
}  // namespace tarveld::testing
