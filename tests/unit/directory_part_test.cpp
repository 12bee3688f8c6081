// The folder cut from a path, which puts the report and the journal beside
// the host's executable: every kind of separator the host's paths hold,
// and a path that has none.
#include "platform/directory_part.h"

#include <gtest/gtest.h>

#include <string>

#include "plugin/file_names.h"
#include "plugin/journal.h"
#include "plugin/session.h"
#include "support/fake_platform.h"

namespace tarveld::testing {
namespace {

struct PathCase {
  const char* executable;
  const char* folder;
};

// A path mixing "\" and "/" is cut at the last of either; a bare drive keeps
// its ":"; a name alone is in the current folder.
constexpr PathCase kPaths[] = {
    {"C:\\Games\\Fleet\\host.exe", "C:\\Games\\Fleet\\"},
    {"C:/Games/Fleet/host.exe", "C:/Games/Fleet/"},
    {"C:\\Games/Fleet\\host.exe", "C:\\Games/Fleet\\"},
    {"\\\\server\\share\\host.exe", "\\\\server\\share\\"},
    {"C:host.exe", "C:"},
    {"/opt/fleet/host", "/opt/fleet/"},
    {"/host", "/"},
    {"host.exe", ""},
    {"", ""},
};

TEST(DirectoryPart, KeepsTheFolderWithItsLastSeparator) {
  for (const PathCase& c : kPaths)
    EXPECT_EQ(platform::DirectoryPart(c.executable), c.folder) << c.executable;
}

TEST(DirectoryPart, TheReportAndTheJournalGoBesideTheHost) {
  for (const PathCase& c : kPaths) {
    FakePlatform fake;
    fake.executable_path = c.executable;
    ScopedPlatform installed(fake);
    EXPECT_EQ(ReportPath(), std::string(c.folder) + kReportFileName) << c.executable;
    EXPECT_EQ(JournalPath(), std::string(c.folder) + kJournalFileName) << c.executable;
  }
}

}  // namespace
}  // namespace tarveld::testing
