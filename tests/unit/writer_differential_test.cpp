// Random sessions through the plug-in twice: once writing inside every
// call (the plug-in as it was before it had a writer), once with the
// writer's thread applying the changes it is handed. The faults this
// catches are the ones a hand-over invites: a change applied out of order
// or twice, one lost at a scenario start, a store opened on an older text,
// a text written that the store never produced. Every report the thread
// writes must be one of the states the one-write-per-call plug-in went
// through, in the same order, and the last must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "plugin/exports.h"
#include "plugin/report_writer.h"
#include "plugin/session.h"
#include "report/format_settings.h"
#include "support/fake_platform.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

// Records every report text written, from whichever thread writes it; a
// write may be made to wait a moment, so that changes pile up behind it.
class RecordingPlatform : public FakePlatform {
 public:
  platform::IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    const platform::IoResult result = FakePlatform::ReplaceFile(path, bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    if (result.ok())
      written_.emplace_back(bytes);
    return result;
  }
  void DebugOutput(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    said_.push_back(text);
  }
  std::vector<std::string> written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }
  std::vector<std::string> said() {
    std::lock_guard<std::mutex> lock(mutex_);
    return said_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> written_;
  std::vector<std::string> said_;
};

// One step of a session: an entry point with its arguments, or a change
// another program makes to the report while the game is between plays.
struct Step {
  enum Kind { kInit, kFree, kScenLoad, kGameTime, kMsgLog, kTimeFactor, kUnitSink, kEdit } kind;
  int number = 0;
  std::string text;
};

// Texts that make the store work: line breaks, blanks at either end,
// bytes that read as a comment, a header or a key separator.
std::string RandomText(std::mt19937& random) {
  static const char* const kPieces[] = {"Contact", " bearing 270 ", "\r\n", "\n",   "=",
                                        ";",       "[log]",         "  ",   "\xE9", "Escort 2"};
  std::uniform_int_distribution<int> count(0, 4);
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  std::string text;
  for (int i = count(random); i > 0; --i)
    text += kPieces[piece(random)];
  return text;
}

std::vector<Step> RandomSession(std::mt19937& random) {
  std::vector<Step> steps{{Step::kInit, 0, {}}};
  std::uniform_int_distribution<int> kind(0, 99);
  std::uniform_int_distribution<int> number(-2, 40);
  std::uniform_int_distribution<int> length(20, 160);
  for (int i = length(random); i > 0; --i) {
    const int k = kind(random);
    Step step{k < 4    ? Step::kFree
              : k < 12 ? Step::kScenLoad
              : k < 30 ? Step::kGameTime
              : k < 85 ? Step::kMsgLog
              : k < 92 ? Step::kTimeFactor
                       : Step::kUnitSink,
              number(random), RandomText(random)};
    steps.push_back(step);
    if (step.kind == Step::kFree) {
      if (kind(random) < 40)
        steps.push_back({Step::kEdit, number(random), RandomText(random)});
      if (kind(random) < 70)
        steps.push_back({Step::kInit, 0, {}});
    }
  }
  steps.push_back({Step::kFree, 0, {}});
  return steps;
}

// A report another program wrote: a byte-order mark, blank lines, blanks
// around names and values, a comment, a key outside any section.
constexpr char kForeignReport[] =
    "\xEF\xBB\xBF"
    "orphan=1\r\n; kept\r\n\r\n[ log ]\r\n 100000 = old \r\n\n[Session Start]\r\nGame Date=x\r\n";

void Play(const std::vector<Step>& steps, const std::string& report) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::kInit:
        DLLInit(0);
        break;
      case Step::kFree:
        DLLFree();
        break;
      case Step::kScenLoad:
        ScenLoad(0, static_cast<std::uint32_t>(step.number % 3 == 0 ? 0xFFFF : step.number),
                 step.text.c_str(), 0, "Convoy", 0, 100000 + step.number, 0,
                 step.number % 5 == 0 ? nullptr : &start);
        break;
      case Step::kGameTime:
        GameTime(100000 + 60 * step.number, 0);
        break;
      case Step::kMsgLog:
        MsgLog(step.number == 7 ? nullptr : step.text.c_str());
        break;
      case Step::kTimeFactor:
        TimeFactor(step.number);
        break;
      case Step::kUnitSink:
        UnitSink(static_cast<std::uint32_t>(step.number), step.text.c_str());
        break;
      case Step::kEdit:
        // Only between plays, after DLLFree: the report is all on disk.
        WriteBytes(report,
                   ReadBytes(report) + "[edit]\r\nby hand=" + std::to_string(step.number) + "\r\n");
        break;
    }
  }
}

// True when `part` is `whole` with some items left out, in order.
bool IsInOrderWithin(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  auto at = whole.begin();
  for (const std::string& item : part) {
    at = std::find(at, whole.end(), item);
    if (at == whole.end())
      return false;
    ++at;
  }
  return true;
}

struct Played {
  std::vector<std::string> written;
  std::string report;
  std::string journal;
};

Played PlayOnce(const std::vector<Step>& steps, bool foreign, bool caller_thread) {
  TempDir dir;
  RecordingPlatform fake;
  fake.executable_path = dir.File("host.exe");
  ScopedPlatform installed(fake);
  ProcessFormatSettings() = TFormatSettings{};
  if (foreign)
    WriteBytes(dir.File("Tarveld.txt"), kForeignReport);
  Played run;
  {
    ResetSession();
    if (caller_thread) {
      CallerThreadWrites one_by_one;
      Play(steps, dir.File("Tarveld.txt"));
      ResetSession();
    } else {
      Play(steps, dir.File("Tarveld.txt"));
      ResetSession();
    }
  }
  EXPECT_EQ(fake.said(), std::vector<std::string>{});
  run.written = fake.written();
  run.report = ReadBytes(dir.File("Tarveld.txt"));
  run.journal = ReadBytes(dir.File("Tarveld.log"));
  return run;
}

TEST(WriterDifferentialTest, RandomSessionsWriteTheStatesOfTheOneWritePerCallPlugIn) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int session = 0; session < 30; ++session) {
    SCOPED_TRACE("session " + std::to_string(session));
    const std::vector<Step> steps = RandomSession(random);
    const bool foreign = session % 3 == 0;
    const Played one_by_one = PlayOnce(steps, foreign, true);
    const Played threaded = PlayOnce(steps, foreign, false);
    ASSERT_FALSE(one_by_one.written.empty());
    EXPECT_EQ(threaded.report, one_by_one.report);
    EXPECT_EQ(threaded.journal, one_by_one.journal);
    EXPECT_TRUE(IsInOrderWithin(threaded.written, one_by_one.written))
        << threaded.written.size() << " writes of " << one_by_one.written.size();
  }
}

}  // namespace
}  // namespace tarveld::testing
