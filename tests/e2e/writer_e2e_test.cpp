// The writer's lifetime with the real library in real processes: a host
// that unloads the plug-in or exits without DLLFree loses nothing, DLLFree
// returns with everything on disk and a DLLInit after it starts again, and
// a host killed at any moment has the journal line of every call that
// returned.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host_process.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;

class WriterE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(TARVELD_WRITER_HOST, dir_.path() / "writer_host");
    fs::copy_file(TARVELD_PLUGIN, dir_.path() / "libtarveld.so");
  }

  std::string Host() const { return dir_.File("writer_host"); }
  std::string Report() const { return ReadBytes(dir_.File("Tarveld.txt")); }

  // The numbers of the messages in the journal, in the order of its lines.
  std::vector<int> JournalMessages() const {
    std::vector<int> numbers;
    const std::string journal = ReadBytes(dir_.File("Tarveld.log"));
    const std::string tag = "| MESSAGE    | message ";
    for (std::size_t at = journal.find(tag); at != std::string::npos;
         at = journal.find(tag, at + 1)) {
      const std::size_t end = journal.find("\r\n", at);
      if (end == std::string::npos)
        break;  // the line being written when the host died
      numbers.push_back(std::stoi(journal.substr(at + tag.size(), end - at - tag.size())));
    }
    return numbers;
  }

  // Every message from `first` to `last` in the report under its game time.
  void ExpectMessagesInReport(int first, int last) const {
    const std::string report = Report();
    int missing = 0;
    for (int i = first; i <= last; ++i)
      missing += report.find("\r\n" + std::to_string(100000 + i) + "=message " + std::to_string(i) +
                             "\r\n") == std::string::npos;
    EXPECT_EQ(missing, 0) << "of " << last - first + 1;
  }

  void ExpectJournalMessages(int count) const {
    std::vector<int> expected(count);
    for (int i = 0; i < count; ++i)
      expected[i] = i;
    EXPECT_EQ(JournalMessages(), expected);
  }

  TempDir dir_;
};

// Each ending, with messages still with the writer when it comes.
TEST_F(WriterE2E, EveryWayOfEndingKeepsEveryMessage) {
  constexpr int kMessages = 3000;
  for (const char* mode : {"exit", "dlclose", "again"}) {
    SCOPED_TRACE(mode);
    fs::remove(dir_.File("Tarveld.txt"));
    fs::remove(dir_.File("Tarveld.log"));
    const HostRun run = RunProgram(Host(), {mode, std::to_string(kMessages)}, dir_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const int total = std::string(mode) == "again" ? 2 * kMessages : kMessages;
    ExpectMessagesInReport(0, total - 1);
    ExpectJournalMessages(total);
    if (std::string(mode) == "dlclose") {
      EXPECT_EQ(run.out, "unloaded\n");
    }
  }
}

// A host may call after DLLFree and then end at once: the late change is
// in the report.
TEST_F(WriterE2E, ACallAfterDLLFreeIsOnDiskWhateverFollows) {
  for (const char* mode : {"late-exit", "late-dlclose"}) {
    SCOPED_TRACE(mode);
    fs::remove(dir_.File("Tarveld.txt"));
    fs::remove(dir_.File("Tarveld.log"));
    const HostRun run = RunProgram(Host(), {mode, "200"}, dir_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectMessagesInReport(0, 198);  // the late one replaces the 200th, at its game time
    EXPECT_NE(ReadBytes(dir_.File("Tarveld.txt")).find("\r\n100199=late\r\n"), std::string::npos);
  }
}

// The journal line of a call is in the file before the call returns; a
// kill loses at most the line of the call it interrupted.
TEST_F(WriterE2E, KilledHostHasTheJournalLineOfEveryReturnedCall) {
  std::mt19937 random(std::random_device{}());
  int reached = 0;
  for (int trial = 0; trial < 25; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    fs::remove(dir_.File("Tarveld.txt"));
    fs::remove(dir_.File("Tarveld.log"));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string host = Host();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl(host.c_str(), host.c_str(), "returned", "1000000", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    usleep(std::uniform_int_distribution<useconds_t>(20000, 120000)(random));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the host ended by itself";
    std::string printed;
    char buffer[65536];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
      printed.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    // The last whole line is the last call that returned.
    const std::size_t end = printed.rfind('\n');
    if (end == std::string::npos)
      continue;  // killed before the first message returned
    const std::size_t begin = printed.rfind('\n', end - 1);
    const int returned =
        std::stoi(printed.substr(begin == std::string::npos ? 0 : begin + 1, end - begin - 1));
    const std::vector<int> journal = JournalMessages();
    ASSERT_GE(journal.size(), static_cast<std::size_t>(returned + 1));
    for (int i = 0; i <= returned; ++i)
      ASSERT_EQ(journal[i], i);
    reached = std::max(reached, returned);
  }
  std::printf("killed hosts: up to %d messages returned before a kill\n", reached + 1);
  EXPECT_GT(reached, 0);
}

}  // namespace
}  // namespace tarveld::testing
