// The writer's failures told in the journal: what each system code reads
// as, how often a run of failures is told, and the FAILURE lines the
// entry points append for a report that another program holds or a
// journal flush that fails, with the writer on its own thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "plugin/exports.h"
#include "plugin/failure_notices.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"
#include "report/exceptions.h"
#include "report/format_settings.h"
#include "support/fake_platform.h"

namespace tarveld::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(FailureReasonTest, PosixCodes) {
  const struct {
    int code;
    const char* reason;
  } cases[] = {
      {EBUSY, "another program held it"}, {ETXTBSY, "another program held it"},
      {EACCES, "access was denied"},      {EPERM, "access was denied"},
      {EROFS, "access was denied"},       {ENOSPC, "the disk was full"},
      {EDQUOT, "the disk was full"},      {EIO, "system error 5"},
      {EISDIR, "system error 21"},        {0, "system error 0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::FailureReason(c.code), c.reason) << c.code;
}

std::uint64_t now_ms = 0;
std::uint64_t Now() {
  return now_ms;
}

// One step of a run: at `ms`, a write of `file` fails (with `code`) or
// works, and `told` is what the journal is then due, in order.
struct Step {
  std::uint64_t ms;
  WrittenFile file;
  bool failed;
  int code;
  std::vector<std::string> told;
};

const char kLocked[] =
    "report: not written: another program held it (EFCreateError: Unable to create file \"r\")";
const char kFull[] =
    "journal: not flushed: the disk was full (EWriteError: Unable to flush file \"j\")";

// Failures after the first are told once a minute, a success ends the run
// (and is told only after failures), the next failure is a first again,
// and the report and the journal run apart.
TEST(FailureNoticesTest, ARunOfFailuresIsToldAtOnceThenOnceAMinute) {
  constexpr auto kReport = WrittenFile::kReport;
  constexpr auto kJournal = WrittenFile::kJournal;
  const Step steps[] = {
      {0, kReport, false, 0, {}},
      {10, kReport, true, EBUSY, {kLocked}},
      {60, kReport, true, EBUSY, {}},
      {20000, kJournal, true, ENOSPC, {kFull}},
      {60009, kReport, true, EBUSY, {}},
      {60010, kReport, true, EBUSY, {kLocked}},
      {60011, kJournal, false, 0, {"journal: flushed again"}},
      {60012, kJournal, false, 0, {}},
      {60013, kReport, false, 0, {"report: written again"}},
      {60014, kReport, true, EBUSY, {kLocked}},
      {60015, kReport, true, EBUSY, {}},
  };
  FailureNotices notices(&Now);
  for (const Step& step : steps) {
    now_ms = step.ms;
    if (step.failed) {
      if (step.file == kReport)
        notices.Failed(step.file, EFCreateError("Unable to create file \"r\"", step.code));
      else
        notices.Failed(step.file, EWriteError("Unable to flush file \"j\"", step.code));
    } else {
      notices.Succeeded(step.file);
    }
    EXPECT_EQ(notices.TakeDue(), step.told) << "at " << step.ms << " ms";
  }
}

// A flapping disk, with nobody taking the texts, never grows the mailbox
// past its bound; what is kept is the oldest, in order.
TEST(FailureNoticesTest, TextsWaitingAreBounded) {
  FailureNotices notices(&Now);
  for (int i = 0; i < 100; ++i) {
    notices.Failed(WrittenFile::kReport, EFCreateError("Unable to create file \"r\"", EBUSY));
    notices.Succeeded(WrittenFile::kReport);
  }
  const std::vector<std::string> due = notices.TakeDue();
  ASSERT_EQ(due.size(), FailureNotices::kMostWaiting);
  EXPECT_EQ(due[0], kLocked);
  EXPECT_EQ(due[1], "report: written again");
  EXPECT_THAT(notices.TakeDue(), IsEmpty());
}

// Report writes or journal flushes fail on cue with the code asked for,
// and appends of FAILURE lines can be refused. The writer's thread calls
// it too, so the cue is under a mutex.
class CuePlatform : public FakePlatform {
 public:
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    if (Fails(WrittenFile::kReport))
      return {platform::IoStatus::kCreateFailed, code_};
    return FakePlatform::ReplaceFile(path, bytes);
  }
  platform::IoResult FlushFile(const std::string& path) override {
    if (Fails(WrittenFile::kJournal))
      return {platform::IoStatus::kWriteFailed, code_};
    return FakePlatform::FlushFile(path);
  }
  platform::IoResult AppendLine(const std::string& path, std::string_view line) override {
    if (refuse_failure_lines && line.find("| FAILURE    |") != std::string_view::npos)
      return {platform::IoStatus::kCreateFailed, EACCES};
    return FakePlatform::AppendLine(path, line);
  }
  void DebugOutput(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    FakePlatform::DebugOutput(text);
  }

  void Fail(WrittenFile file, int count, int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = file;
    failures_ = count;
    code_ = code;
  }

  bool refuse_failure_lines = false;  // read on the game's thread only

 private:
  bool Fails(WrittenFile file) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file != file_ || failures_ == 0)
      return false;
    --failures_;
    return true;
  }

  std::mutex mutex_;
  WrittenFile file_ = WrittenFile::kReport;
  int failures_ = 0;
  int code_ = 0;
};

class FailureJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.executable_path = dir_.File("host.exe");
    ProcessFormatSettings() = TFormatSettings{};
    Session() = PluginSession{};
    // Retries a millisecond apart: the failures of a test come and go
    // well within the minute that would tell them again.
    Writer().SetTimingsForTesting(1, 1, ReportWriter::kLingerMs);
    DLLInit(0);
    ScenLoad(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, &start_);
    // The host may move its record; only a sinking reads it again.
    start_.Hour = 9;
    ASSERT_TRUE(Writer().Finish());
  }
  void TearDown() override {
    Writer().Finish();
    Writer().DiscardForTesting();
    Writer().SetTimingsForTesting(ReportWriter::kFirstPauseMs, ReportWriter::kLongestPauseMs,
                                  ReportWriter::kLingerMs);
    Session() = PluginSession{};
  }

  // The journal's lines after the scenario's, without their CR LF.
  std::vector<std::string> LinesAfterScenario() const {
    const std::string journal = ReadBytes(dir_.File("Tarveld.log"));
    std::vector<std::string> lines;
    for (std::size_t at = journal.find("\r\n") + 2, end;
         (end = journal.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(journal.substr(at, end - at));
    return lines;
  }

  TempDir dir_;
  CuePlatform fake_;
  ScopedPlatform installed_{fake_};
  GameDateRec start_{1942, 6, 4, 4, 30, 0, 0};
};

// A report held by another program, or a journal on a full disk, for three
// attempts: one line when it fails, with the very text the debug output
// names each attempt by, and one when it works again, both told by the
// next call that appends a line and dated as that call's event, from the
// session's copy of the start record (the host's now says 09:30).
TEST_F(FailureJournalTest, ARunOfFailuresIsToldOnceAndItsEndOnce) {
  const std::string report = dir_.File("Tarveld.txt");
  const std::string journal = dir_.File("Tarveld.log");
  const struct {
    WrittenFile file;
    int code;
    std::string named;
    std::string told;
  } cases[] = {
      {WrittenFile::kReport, EBUSY,
       "MsgLog: EFCreateError: Unable to create file \"" + report + "\"",
       "report: not written: another program held it (EFCreateError: Unable to create file \"" +
           report + "\")"},
      {WrittenFile::kJournal, ENOSPC,
       "MsgLog: journal: EWriteError: Unable to flush file \"" + journal + "\" (system error 28)",
       "journal: not flushed: the disk was full (EWriteError: Unable to flush file \"" + journal +
           "\" (system error 28))"},
  };
  for (const auto& c : cases) {
    // The flush the last case asked for must not find the journal gone.
    ASSERT_TRUE(Writer().Finish());
    std::filesystem::remove(journal);
    fake_.debug_lines.clear();
    fake_.Fail(c.file, 3, c.code);
    GameTime(100000, 0);
    MsgLog("failing");
    ASSERT_TRUE(Writer().Finish());
    GameTime(100060, 0);
    MsgLog("after");
    MsgLog("later");
    EXPECT_EQ(ReadBytes(journal),
              "1942-06-04 04:30:00 | 00100000 | MESSAGE    | failing\r\n"
              "1942-06-04 04:31:00 | 00100060 | FAILURE    | " +
                  c.told + "\r\n" + "1942-06-04 04:31:00 | 00100060 | FAILURE    | " +
                  std::string(RecoveryText(c.file)) +
                  "\r\n"
                  "1942-06-04 04:31:00 | 00100060 | MESSAGE    | after\r\n"
                  "1942-06-04 04:31:00 | 00100060 | MESSAGE    | later\r\n");
    EXPECT_THAT(fake_.debug_lines, ElementsAre(c.named, c.named, c.named));
  }
}

// A FAILURE line that cannot be appended is named as the call's journal
// failures are and dropped: the event keeps its line, and the next call
// does not try the dropped line again.
TEST_F(FailureJournalTest, AFailureLineThatCannotBeAppendedIsDropped) {
  fake_.Fail(WrittenFile::kReport, 1, EACCES);
  MsgLog("refused");
  ASSERT_TRUE(Writer().Finish());
  fake_.refuse_failure_lines = true;
  MsgLog("after");
  fake_.refuse_failure_lines = false;
  MsgLog("later");
  EXPECT_THAT(LinesAfterScenario(),
              ElementsAre(::testing::EndsWith("| refused"), ::testing::EndsWith("| after"),
                          ::testing::EndsWith("| later")));
  const std::string refused = "MsgLog: journal: EFCreateError: Unable to open file \"" +
                              dir_.File("Tarveld.log") + "\" for appending (system error 13)";
  EXPECT_THAT(fake_.debug_lines,
              ElementsAre(::testing::StartsWith("MsgLog: EFCreateError: "), refused, refused));
}

}  // namespace
}  // namespace tarveld::testing
