// The report writer's thread, in process: the faults this design invites
// are a lost or reordered report, a stale read after ScenLoad, a queue that
// grows with the calls, a retry that spins or never ends. The platform
// here can hold the writer inside a write until the test lets it go, so
// what arrives meanwhile is known without timing anything.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/exports.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"
#include "report/format_settings.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Report writes can be held at their start and failed on cue; every text
// that reached ReplaceFile and every one written is recorded. Called from
// the writer's thread, so everything shared is under one mutex.
class GatePlatform : public FakePlatform {
 public:
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    std::unique_lock<std::mutex> lock(mutex_);
    attempted_.emplace_back(bytes);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !hold_; });
    if (failures_left_ > 0) {
      --failures_left_;
      return {platform::IoStatus::kCreateFailed, 13};
    }
    lock.unlock();
    const platform::IoResult result = FakePlatform::ReplaceFile(path, bytes);
    lock.lock();
    if (result.ok())
      written_.emplace_back(bytes);
    changed_.notify_all();
    return result;
  }
  platform::IoResult FlushFile(const std::string& path) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++flushes_;
    }
    return FakePlatform::FlushFile(path);
  }
  // The native comparison, so that a store kept at a scenario start is
  // kept on the platform's own word; each answer recorded.
  platform::IoResult ReadFileUnlessSame(const std::string& path, std::string_view known,
                                        std::string& bytes, bool& same) override {
    const platform::IoResult result =
        platform::Native().ReadFileUnlessSame(path, known, bytes, same);
    Set([&] { compared_.push_back(result.ok() && same); });
    return result;
  }
  void DebugOutput(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    said_.push_back(text);
    changed_.notify_all();
  }

  void Hold() {
    Set([this] { hold_ = true; });
  }
  void Release() {
    Set([this] { hold_ = false; });
  }
  void FailNext(int count) {
    Set([this, count] { failures_left_ = count; });
  }
  // Wait until `count` writes have begun, or been written; false when
  // that has not happened within a minute, so that a writer that never
  // comes fails the test instead of hanging it.
  bool AwaitAttempts(std::size_t count) {
    return Await([&] { return attempted_.size() >= count; });
  }
  bool AwaitWritten(std::size_t count) {
    return Await([&] { return written_.size() >= count; });
  }
  bool AwaitSaid(std::size_t count) {
    return Await([&] { return said_.size() >= count; });
  }
  std::vector<std::string> attempted() { return Get(attempted_); }
  std::vector<std::string> written() { return Get(written_); }
  std::vector<std::string> said() { return Get(said_); }
  int flushes() { return Get(flushes_); }
  std::vector<bool> compared() { return Get(compared_); }

 protected:
  template <typename Condition>
  bool Await(Condition condition, std::chrono::milliseconds limit = std::chrono::minutes(1)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, condition);
  }
  template <typename Change>
  void Set(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    changed_.notify_all();
  }
  template <typename T>
  T Get(const T& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool hold_ = false;
  int failures_left_ = 0;
  int flushes_ = 0;
  std::vector<std::string> attempted_;
  std::vector<std::string> written_;
  std::vector<std::string> said_;
  std::vector<bool> compared_;
};

// The report a store writes after one Put of `value` under "log", "k".
std::string LogText(const std::string& value) {
  return "[log]\r\nk=" + value + "\r\n";
}

class ReportWriterTest : public ::testing::Test {
 protected:
  void Put(const std::string& value) { Writer().Put(path_, "log", "k", value); }

  void SetUp() override {
    fake_.executable_path = dir_.File("host.exe");
    ProcessFormatSettings() = TFormatSettings{};
    ResetSession();
  }
  void TearDown() override {
    fake_.Release();
    Writer().Finish();
    Writer().DiscardForTesting();
    Writer().SetTimingsForTesting(ReportWriter::kFirstPauseMs, ReportWriter::kLongestPauseMs,
                                  ReportWriter::kLingerMs);
    ResetSession();
  }

  std::string Report() const { return ReadBytes(dir_.File("Tarveld.txt")); }

  // A first play of two scenarios, with `between` run after the first
  // message; DLLFree is the caller's.
  template <typename Between>
  void Play(const GameDateRec& start, Between between) {
    DLLInit(0);
    ScenLoad(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, &start);
    MsgLog("Convoy formed up");
    between();
    ScenLoad(0, 0xFFFF, "Patrol", 0, nullptr, 0, 100000, 0, &start);
    GameTime(100060, 0);
    MsgLog("Contact");
  }

  TempDir dir_;
  GatePlatform fake_;
  ScopedPlatform installed_{fake_};
  const std::string path_ = dir_.File("Tarveld.txt");
};

// Texts that come while a write is in hand replace each other; the next
// write takes the newest. What lands is a subsequence of what was handed
// over, in order, and ends with the last.
TEST_F(ReportWriterTest, ABurstCostsTwoWritesAndKeepsTheOrder) {
  fake_.Hold();
  Put("1");
  ASSERT_TRUE(fake_.AwaitAttempts(1));
  for (int i = 2; i <= 1000; ++i)
    Put(std::to_string(i));
  fake_.Release();
  ASSERT_TRUE(Writer().Finish());
  EXPECT_THAT(fake_.written(), ElementsAre(LogText("1"), LogText("1000")));
  EXPECT_EQ(Report(), LogText("1000"));
  EXPECT_THAT(fake_.said(), ::testing::IsEmpty());
}

// A store opened while changes are on their way starts from them, never
// from the older file on disk; one opened once everything is on disk reads
// the file as it is, changed by another program or not.
TEST_F(ReportWriterTest, OpenStartsFromTheNewestReport) {
  fake_.Hold();
  Put("being written");
  ASSERT_TRUE(fake_.AwaitAttempts(1));
  Writer().Put(path_, "log", "k2", "pending");
  Writer().Open(path_);
  Writer().Put(path_, "log", "k3", "after the open");
  fake_.Release();
  ASSERT_TRUE(Writer().Finish());
  EXPECT_EQ(Report(), "[log]\r\nk=being written\r\nk2=pending\r\nk3=after the open\r\n");

  // Still as the store left it: the store is kept, found so by the
  // platform's comparison, without a second copy of the report.
  Writer().Open(path_);
  Writer().Put(path_, "log", "k4", "kept");
  ASSERT_TRUE(Writer().Finish());
  EXPECT_EQ(Report(), "[log]\r\nk=being written\r\nk2=pending\r\nk3=after the open\r\nk4=kept\r\n");

  WriteBytes(path_, "[log]\r\nk=changed by hand\r\n");
  Writer().Open(path_);
  Writer().Put(path_, "log", "k5", "next");
  ASSERT_TRUE(Writer().Finish());
  EXPECT_EQ(Report(), "[log]\r\nk=changed by hand\r\nk5=next\r\n");
  EXPECT_THAT(fake_.compared(), ElementsAre(true, false));
}

// A disk that is slow but takes every write is waited for: DLLFree gives
// up only on one that takes nothing within its time. Here the write in
// hand outlasts the time given, and the one after it is still waited for.
TEST_F(ReportWriterTest, FinishWaitsForASlowDiskThatTakesEveryWrite) {
  fake_.Hold();
  Put("1");
  ASSERT_TRUE(fake_.AwaitAttempts(1));
  Put("2");
  std::thread release([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fake_.Release();
  });
  const bool done = Writer().Finish(100);
  release.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(Report(), LogText("2"));
  EXPECT_THAT(fake_.said(), ::testing::IsEmpty());
}

// With the writer held in DLLInit's write, everything after it is pending
// when the second ScenLoad opens its store: the report must still come out
// byte for byte as the one-write-per-call plug-in writes it.
TEST_F(ReportWriterTest, ScenLoadSeesEveryPendingChange) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  std::string expected;
  {
    TempDir other;
    fake_.executable_path = other.File("host.exe");
    CallerThreadWrites one_by_one;
    Play(start, [] {});
    DLLFree();
    expected = ReadBytes(other.File("Tarveld.txt"));
    ResetSession();
  }
  fake_.executable_path = dir_.File("host.exe");
  fake_.Hold();
  Play(start, [this] {
    EXPECT_TRUE(fake_.AwaitAttempts(1));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("Tarveld.txt")));
  });
  fake_.Release();
  DLLFree();
  EXPECT_THAT(Report(), HasSubstr("100000=Convoy formed up"));
  EXPECT_EQ(Report(), expected);
  EXPECT_THAT(Report(), HasSubstr("Scenario=Convoy/Scen#3\r\nGame Date="));
}

// A failed write is named once per attempt, after the entry point whose
// change it was, and tried again; a newer text takes over the retry, and
// no text older than one already tried is tried again.
TEST_F(ReportWriterTest, FailuresAreRetriedAndANewerTextTakesOver) {
  fake_.FailNext(3);
  Writer().SetCaller("MsgLog");
  Put("a");
  ASSERT_TRUE(fake_.AwaitAttempts(2));
  Writer().SetCaller("ScenLoad");
  Put("b");
  ASSERT_TRUE(Writer().Finish());
  EXPECT_EQ(Report(), LogText("b"));
  EXPECT_THAT(fake_.written(), ElementsAre(LogText("b")));
  const std::vector<std::string> attempted = fake_.attempted();
  ASSERT_EQ(attempted.size(), 4u);
  EXPECT_TRUE(std::is_sorted(attempted.begin(), attempted.end()))
      << ::testing::PrintToString(attempted);
  const std::vector<std::string> said = fake_.said();
  ASSERT_EQ(said.size(), 3u);
  const std::string failure = ": EFCreateError: Unable to create file \"" + path_ + "\"";
  EXPECT_EQ(said[0], "MsgLog" + failure);
  EXPECT_EQ(said[1], "MsgLog" + failure);
  EXPECT_THAT(said[2], ::testing::EndsWith(failure));
}

// Finish on a disk that fails every write returns after its time, naming
// what is not on disk; the text stays, and a later Finish writes it.
TEST_F(ReportWriterTest, FinishGivesUpOnAFailingDiskAndKeepsTheText) {
  fake_.FailNext(1000000);
  Put("kept");
  EXPECT_FALSE(Writer().Finish(300, "DLLFree"));
  EXPECT_THAT(fake_.said(),
              ::testing::Contains("DLLFree: not written: \"" + path_ +
                                  "\" (EFCreateError: Unable to create file \"" + path_ + "\")"));
  EXPECT_FALSE(std::filesystem::exists(path_));
  fake_.FailNext(0);
  EXPECT_TRUE(Writer().Finish());
  EXPECT_EQ(Report(), LogText("kept"));
}

// A Windows process exit ends the writer's thread wherever it was. With
// changes still off the disk (the disk refused them), the unload writes
// what the game made, whether the store is whole or was cut short inside
// a change: then it is rebuilt from the file, which holds what the writer
// counted as on disk, and the changes after that.
TEST_F(ReportWriterTest, AnExitWritesWhatTheGameMadeWhetherTheStoreIsWholeOrTorn) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  const auto play_rest = [&] {
    GameTime(100060, 0);
    MsgLog("not yet on disk");
    ScenLoad(0, 0xFFFF, "Patrol", 0, nullptr, 0, 100120, 0, &start);
    MsgLog("nor this");
  };
  std::string expected;
  {
    TempDir other;
    fake_.executable_path = other.File("host.exe");
    CallerThreadWrites one_by_one;
    Play(start, [] {});
    play_rest();
    expected = ReadBytes(other.File("Tarveld.txt"));
    ResetSession();
  }
  for (const bool torn : {false, true}) {
    SCOPED_TRACE(torn ? "torn" : "whole");
    TempDir dir;
    fake_.executable_path = dir.File("host.exe");
    Play(start, [] {});
    ASSERT_TRUE(Writer().Finish());
    fake_.FailNext(1000000);
    play_rest();
    EXPECT_FALSE(Writer().Finish(100, "DLLFree"));
    fake_.FailNext(0);
    Writer().FinishAsAtProcessExitForTesting(torn);
    EXPECT_EQ(ReadBytes(dir.File("Tarveld.txt")), expected);
    ResetSession();
  }
}

// Journal lines appended while the writer is busy cost one flush together.
TEST_F(ReportWriterTest, JournalFlushesAreBatched) {
  const std::string journal = dir_.File("Tarveld.log");
  WriteBytes(journal, "");
  fake_.Hold();
  Put("r");
  ASSERT_TRUE(fake_.AwaitAttempts(1));
  for (int i = 0; i < 100; ++i)
    Writer().RequestFlush(journal);
  fake_.Release();
  ASSERT_TRUE(Writer().Finish());
  EXPECT_EQ(fake_.flushes(), 1);
}

// An hour of messages at one a second, with the writer held: one pending
// text, not a queue of 3,600 copies of a growing report.
TEST_F(ReportWriterTest, MemoryStaysAtAFewCopiesOfTheReport) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators do not report to mallinfo2";
#else
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  DLLInit(0);
  ScenLoad(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, &start);
  ASSERT_TRUE(Writer().Finish());
  const std::size_t written = fake_.attempted().size();
  fake_.Hold();
  MsgLog("first");
  ASSERT_TRUE(fake_.AwaitAttempts(written + 1));
  const std::size_t before = mallinfo2().uordblks;
  for (int second = 1; second <= 3600; ++second) {
    GameTime(100000 + second, 0);
    MsgLog("Lookout reports nothing new on the port bow");
  }
  const std::size_t grown = mallinfo2().uordblks - before;
  fake_.Release();
  DLLFree();
  // The changes not yet applied, then the store's text, its model and
  // indexes: a few times the report, never thousands.
  const std::string report = Report();
  EXPECT_LT(grown, 12 * report.size()) << "report " << report.size() << " bytes";
  EXPECT_THAT(report, HasSubstr("103600=Lookout reports nothing new on the port bow\r\n"));
#endif
}

// The writer's slot holds a text that failed while a newer one waits: the
// next round takes the newer one, and the failed one is never written
// after it.
TEST_F(ReportWriterTest, AFailedTextNeverLandsOverANewerOne) {
  fake_.Hold();
  fake_.FailNext(1);
  Put("older");
  ASSERT_TRUE(fake_.AwaitAttempts(1));
  Put("newer");
  fake_.Release();
  ASSERT_TRUE(Writer().Finish());
  EXPECT_THAT(fake_.attempted(), ElementsAre(LogText("older"), LogText("newer")));
  EXPECT_EQ(Report(), LogText("newer"));
}

// The writer's timings are stretched so that a missing wake-up would cost
// an hour: each of these fails (or hangs until the test's limit) when the
// call in question does not wake the writer, and none measures time.
TEST_F(ReportWriterTest, FinishWakesAWriterPausingAfterAFailure) {
  constexpr std::uint32_t kHour = 3600 * 1000;
  Writer().SetTimingsForTesting(kHour, kHour, ReportWriter::kLingerMs);
  fake_.FailNext(1);
  Put("kept");
  ASSERT_TRUE(fake_.AwaitSaid(1));
  EXPECT_TRUE(Writer().Finish());
  EXPECT_EQ(Report(), LogText("kept"));
}

TEST_F(ReportWriterTest, ReplaceWakesALingeringWriter) {
  constexpr std::uint32_t kHour = 3600 * 1000;
  Writer().SetTimingsForTesting(ReportWriter::kFirstPauseMs, ReportWriter::kLongestPauseMs, kHour);
  Put("first");
  ASSERT_TRUE(fake_.AwaitWritten(1));
  Put("second");
  EXPECT_TRUE(fake_.AwaitWritten(2));
  EXPECT_THAT(fake_.written(), ElementsAre(LogText("first"), LogText("second")));
}

// 1, 2, 4, 8, 8, 8 ms: the pause doubles and stops at the longest.
TEST_F(ReportWriterTest, ThePauseAfterFailuresDoublesUpToTheLongest) {
  Writer().SetTimingsForTesting(1, 8, ReportWriter::kLingerMs);
  fake_.FailNext(6);
  Put("at last");
  ASSERT_TRUE(fake_.AwaitWritten(1));
  EXPECT_EQ(fake_.attempted().size(), 7u);
  EXPECT_EQ(Writer().LastPauseForTesting(), 8u);
}

// DLLInit asks the writer before the disk: asked the other way round, a
// writer landing its text between the two questions makes both say "no
// report", and the report is begun twice. This platform lets the held
// write land at the moment the disk is asked.
class LandingPlatform : public GatePlatform {
 public:
  std::string report;
  bool armed = false;
  bool IsExistingFile(const std::string& path) override {
    const bool exists = GatePlatform::IsExistingFile(path);
    if (armed && path == report) {
      Release();
      AwaitWritten(1);
    }
    return exists;
  }
};

TEST(ReportWriterBeginTest, DLLInitBeginsTheReportOnceWhileItsTextLands) {
  TempDir dir;
  LandingPlatform fake;
  fake.executable_path = dir.File("host.exe");
  fake.report = dir.File("Tarveld.txt");
  ScopedPlatform installed(fake);
  ResetSession();
  fake.Hold();
  DLLInit(0);
  ASSERT_TRUE(fake.AwaitAttempts(1));
  fake.armed = true;
  DLLInit(0);
  fake.Release();
  DLLFree();
  const std::string report = ReadBytes(dir.File("Tarveld.txt"));
  EXPECT_EQ(report.find("Actual Date"), report.rfind("Actual Date")) << report;
  Writer().DiscardForTesting();
  ResetSession();
}

// Every report text that reaches the disk holds only messages whose
// journal lines were flushed before it: after a power cut the journal is
// never behind the report. The platform records the calls in one order;
// before it appends the line of "m2" it gives the writer the chance to
// take a text with "m2" in it, which a plug-in handing the text over
// before appending the line would take.
class OrderPlatform : public GatePlatform {
 public:
  platform::IoResult AppendLine(const std::string& path, std::string_view line) override {
    if (line.find("m2") != std::string_view::npos)
      Await([&] { return Contains(attempted_, "=m2\r\n"); }, std::chrono::seconds(2));
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back("append " + std::string(line));
    return FakePlatform::AppendLine(path, line);
  }
  platform::IoResult FlushFile(const std::string& path) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls.push_back("flush");
    }
    return GatePlatform::FlushFile(path);
  }
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls.push_back("replace " + std::string(bytes));
    }
    return GatePlatform::ReplaceFile(path, bytes);
  }
  std::vector<std::string> calls;

 private:
  static bool Contains(const std::vector<std::string>& texts, const std::string& part) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find(part) != std::string::npos;
    });
  }
};

TEST(ReportWriterOrderTest, TheJournalIsFlushedBeforeTheReportShowsItsEvents) {
  TempDir dir;
  OrderPlatform fake;
  fake.executable_path = dir.File("host.exe");
  ScopedPlatform installed(fake);
  ResetSession();
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  DLLInit(0);
  ScenLoad(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, &start);
  for (int i = 0; i < 5; ++i) {
    GameTime(100000 + i, 0);
    MsgLog(("m" + std::to_string(i)).c_str());
  }
  DLLFree();
  std::vector<std::string> appended;
  std::vector<std::string> flushed;
  int replaces = 0;
  for (const std::string& call : fake.calls) {
    if (call.rfind("append ", 0) == 0) {
      appended.push_back(call.substr(call.rfind(' ') + 1));
    } else if (call == "flush") {
      flushed.insert(flushed.end(), appended.begin(), appended.end());
      appended.clear();
    } else {
      ++replaces;
      for (int i = 0; i < 5; ++i) {
        const std::string message = "m" + std::to_string(i);
        if (call.find("=" + message + "\r\n") != std::string::npos) {
          EXPECT_THAT(flushed, ::testing::Contains(message)) << "report written before the "
                                                             << "journal flushed " << message;
        }
      }
    }
  }
  EXPECT_GT(replaces, 0);
  EXPECT_THAT(fake.calls.back(), HasSubstr("=m4\r\n"));
  Writer().DiscardForTesting();
  ResetSession();
}

// The files an unload at a process exit writes with are made ready on the
// writer's thread before the round that first touches them, kept while
// the thread runs, and closed once DLLFree leaves no thread; the unload
// itself writes only through the at-exit calls. Every call is recorded in
// order, with the path it names.
class ExitFilesPlatform : public GatePlatform {
 public:
  void PrepareExitFiles(const std::string& report, const std::string& journal) override {
    Record("prepare " + report + " " + journal);
  }
  platform::IoResult ReplaceFileAtExit(const std::string& path, std::string_view bytes) override {
    Record("replace-at-exit " + path);
    return FakePlatform::ReplaceFile(path, bytes);
  }
  platform::IoResult FlushFileAtExit(const std::string& path) override {
    Record("flush-at-exit " + path);
    return FakePlatform::FlushFile(path);
  }
  void ReleaseExitFiles() override { Record("release"); }
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    Record("replace " + path);
    return GatePlatform::ReplaceFile(path, bytes);
  }
  platform::IoResult FlushFile(const std::string& path) override {
    Record("flush " + path);
    if (Get(fail_flushes_))
      return {platform::IoStatus::kWriteFailed, 5};
    return GatePlatform::FlushFile(path);
  }
  std::vector<std::string> calls() { return Get(calls_); }
  void FailFlushes(bool fail) {
    Set([&] { fail_flushes_ = fail; });
  }

 private:
  bool fail_flushes_ = false;
  void Record(std::string call) {
    Set([&] { calls_.push_back(std::move(call)); });
  }
  std::vector<std::string> calls_;
};

TEST(ReportWriterExitFilesTest, ReadyBeforeTheFilesAreTouchedAndClosedWhenNoThreadIsLeft) {
  TempDir dir;
  ExitFilesPlatform fake;
  fake.executable_path = dir.File("host.exe");
  ScopedPlatform installed(fake);
  ResetSession();
  const std::string report = dir.File("Tarveld.txt");
  const std::string journal = dir.File("Tarveld.log");
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  DLLInit(0);
  ScenLoad(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, &start);
  MsgLog("one");
  DLLFree();
  const std::vector<std::string> played = fake.calls();
  bool report_ready = false;
  bool journal_ready = false;
  for (const std::string& call : played) {
    if (call.rfind("prepare ", 0) == 0) {
      report_ready |= call.find(" " + report) != std::string::npos;
      journal_ready |= call.find(" " + journal) != std::string::npos;
    } else if (call.rfind("replace ", 0) == 0) {
      EXPECT_TRUE(report_ready) << "the report written before its exit file was ready";
    } else if (call.rfind("flush ", 0) == 0) {
      EXPECT_TRUE(journal_ready) << "the journal flushed before its exit handle was ready";
    }
  }
  ASSERT_FALSE(played.empty());
  EXPECT_EQ(played.back(), "release");

  // After DLLFree the call writes on its own thread: nothing is made ready
  // that would be left beside the report.
  MsgLog("two");
  const std::vector<std::string> late = fake.calls();
  for (std::size_t i = played.size(); i < late.size(); ++i)
    EXPECT_EQ(late[i].rfind("prepare ", 0), std::string::npos) << late[i];

  // The unload at an exit, with a write and a flush left to it: both go
  // through the at-exit calls, and the ready files are closed last.
  DLLInit(0);
  fake.FailNext(1000000);
  fake.FailFlushes(true);
  MsgLog("three");
  EXPECT_FALSE(Writer().Finish(100, "DLLFree"));
  fake.FailNext(0);
  fake.FailFlushes(false);
  const std::size_t before_exit = fake.calls().size();
  Writer().FinishAsAtProcessExitForTesting(false);
  const std::vector<std::string> all = fake.calls();
  const std::vector<std::string> at_exit(all.begin() + static_cast<long>(before_exit), all.end());
  EXPECT_THAT(at_exit,
              ElementsAre("replace-at-exit " + report, "flush-at-exit " + journal, "release"));
  EXPECT_THAT(ReadBytes(report), HasSubstr("=three\r\n"));
  Writer().DiscardForTesting();
  ResetSession();
}

}  // namespace
}  // namespace tarveld::testing
