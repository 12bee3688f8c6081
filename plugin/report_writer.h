// The report writer: the disk work of every file the plug-in keeps, done
// on a thread of its own so that the host's thread changes memory and
// returns.
//
// The store hands each new report text to the writer (Replace), and the
// journal says that it appended a line to a file that wants flushing
// (RequestFlush). The writer's thread replaces the report (new file,
// flush, rename over it) and flushes the files it was told about, away
// from the game loop. The host's thread still does three small things on
// the disk itself: it appends each journal line (one write, so a killed
// game keeps every line of a call that returned), it reads the report when
// a scenario starts, and DLLInit asks whether the report exists.
//
// The hand-over. Three slots hold report texts: the host's thread fills
// its own, the writer writes its own, and the third sits between them.
// Each side swaps its slot with the one between in a single atomic
// exchange of one word, which names the slot between and whether it holds
// a text the writer has not taken. No slot is ever moved or copied between
// the threads, and the writer never changes a slot's contents: a thread the
// system ends at any instruction leaves every text whole, and the word
// says which is newest. A newer text takes the place of one not yet taken,
// so a burst of changes costs a few writes, and every text that lands on
// disk is one the store produced, in the order it produced them. Memory
// stays at three texts however fast the host calls.
//
// Failures. A failed write is named on the debug output, once per attempt,
// and tried again after a pause that grows from 50 ms to 5 s; a newer text
// takes the place of the one being retried. Nothing handed over is dropped
// while the module stays loaded.
//
// Lifetime (docs/writer.md). DLLFree puts everything on disk and stops the
// thread; until the next DLLInit every write is made inside the call that
// hands it over, so that a host that exits at once after a late call
// leaves no thread behind. A thread is started only by a call that then
// waits until it runs, so an exit never cuts one short in its start-up.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/thread.h"
#include "report/report_output.h"

namespace tarveld {

class ReportWriter final : public ReportOutput {
 public:
  // kThread: the writer's thread does the disk work (the plug-in's way).
  // kCallerThread: each write and flush is done inside the call that asks
  // for it, and a failure is raised to it (EFCreateError, EWriteError) with
  // nothing held back: the plug-in as it was before it had a writer. Tests
  // that look at the disk after every write use it.
  enum class Mode { kThread, kCallerThread };

  // How long Finish waits, at most, for a failing disk (plus the one write
  // then in hand).
  static constexpr std::uint32_t kFinishTimeoutMs = 3000;
  // The pause after a failed round doubles from the first to the longest;
  // an idle thread ends after its linger (the next change starts another).
  static constexpr std::uint32_t kFirstPauseMs = 50;
  static constexpr std::uint32_t kLongestPauseMs = 5000;
  static constexpr std::uint32_t kLingerMs = 2000;

  ReportWriter();
  // Puts what is pending on disk: waiting for the thread where the system
  // allows it at unload, writing on the unloading thread where it does not.
  ~ReportWriter() override;

  // ReportOutput, on the host's thread.
  bool NewestText(const std::string& path, std::string& newest) override;
  void Replace(const std::string& path, std::string_view text) override;

  // True when a text for `path` may not be on disk yet: the report exists
  // for the plug-in even before its first write lands.
  bool HoldsTextFor(const std::string& path);

  // The entry point whose work hands over the next texts; failures of their
  // writes are named after it, as the entry point names its own.
  void SetCaller(const char* entry_point) { caller_ = entry_point; }

  // `path`, an existing file, was appended to and wants flushing.
  void RequestFlush(const std::string& path);

  // Waits until everything handed over is on disk, at most `timeout_ms`
  // (plus the write in hand), and stops the thread. False, after naming on
  // the debug output, after `who`, what is not on disk, when the time ran
  // out; what is left stays pending, and the next Replace starts a thread
  // again.
  bool Finish(std::uint32_t timeout_ms = kFinishTimeoutMs, const char* who = "DLLFree");

  // DLLFree: from now on each write is made inside its call, on the host's
  // thread, its failure named and the text kept for the next try, until
  // Resume (DLLInit) lets a thread take the work again.
  void StayOnCallerThread() { stay_on_caller_ = true; }
  void Resume() { stay_on_caller_ = false; }

  // Test hooks. Call only when finished (after Finish).
  void SetModeForTesting(Mode mode) { mode_ = mode; }
  // Forgets every text and flush not yet done, without a word, and lets a
  // thread take the work again: for a test that must start afresh after
  // leaving a disk that fails every write.
  void DiscardForTesting();
  // The pauses after failures and the idle thread's linger, in ms.
  void SetTimingsForTesting(std::uint32_t first_pause, std::uint32_t longest_pause,
                            std::uint32_t linger);
  // The pause the writer took after its latest failure.
  std::uint32_t LastPauseForTesting();

 private:
  struct Slot {
    std::string path;
    std::string text;
    std::string caller;
    std::uint32_t generation = 0;  // 0: never filled
  };

  // The hand-over word: the index of the slot between the threads, and
  // kFresh when it holds a text the writer has not taken yet.
  static constexpr std::uint32_t kIndexMask = 3;
  static constexpr std::uint32_t kFresh = 4;

  // What the writer's thread is doing, for the unload at process exit.
  enum Phase : int { kNoThread, kStarting, kWaiting, kWorking };

  // How a round of disk work went; `failure` names the last failure.
  struct Outcome {
    bool report_ok = true;
    bool flush_ok = true;
    std::string failure;
    bool ok() const { return report_ok && flush_ok; }
  };

  static void RunThread(void* self);
  void Run();
  // The lock held from here on, unless said otherwise.
  bool HasWork() const;
  // The slot of the newest text handed over, when it may not be on disk.
  const Slot* Unwritten() const;
  // Takes the text between the threads, if fresh, and the flush asked for.
  void TakeWork();
  // The lock released (or no other thread about): the round's disk work,
  // the flush before the report's rename; each failure is named.
  Outcome DoRound();
  // A failed flush is asked for again; a failed text stays the writer's to
  // retry unless a newer one has come.
  void SettleRound(Outcome& outcome);
  // Makes sure a thread will look at the work; false when none may or
  // could be started (the caller then does the work itself).
  bool EnsureRunning();
  // One round on the calling thread when no thread runs.
  void WorkHere();
  // Waits while a text for a path other than `path` is not on disk; one
  // still not taken then is named and dropped. The plug-in writes one
  // report, so only tests switch paths.
  void WaitForOtherPaths(const std::string& path);
  void NameWhatIsLeft(const char* who);
  std::uint32_t NextPause(std::uint32_t pause) const;
  // The unload at process exit (Windows): the system has ended the
  // writer's thread wherever it was; finishes the work without it.
  void FinishAfterThreadsEnded();

  platform::Monitor monitor_;
  platform::WorkerThread thread_;

  Slot slots_[3];
  std::atomic<std::uint32_t> between_{1};  // the hand-over word
  std::uint32_t host_slot_ = 0;            // the host's thread's
  std::uint32_t writer_slot_ = 2;          // the writer's (or WorkHere's)
  bool writer_has_text_ = false;           // its slot holds a text not on disk
  // Generations of report texts: the newest handed over (host's thread),
  // the newest on disk (the writer).
  std::atomic<std::uint32_t> handed_{0};
  std::atomic<std::uint32_t> written_{0};
  std::atomic<int> phase_{kNoThread};

  // Under monitor_.
  std::string flush_path_;
  std::string flush_caller_;
  bool flush_wanted_ = false;
  bool in_flight_ = false;  // a round's disk work is under way
  bool running_ = false;    // a thread is in Run() and will look at the work
  bool stop_ = false;       // Finish: end once the work is done
  bool give_up_ = false;    // Finish ran out of time: end after the write in hand
  bool hurry_ = false;      // Finish came: cut the pause after a failure short
  std::string last_failure_;
  std::uint32_t first_pause_ms_ = kFirstPauseMs;
  std::uint32_t longest_pause_ms_ = kLongestPauseMs;
  std::uint32_t linger_ms_ = kLingerMs;
  std::uint32_t last_pause_ms_ = 0;

  // The round in hand: the writer thread's while it works, or the thread
  // doing WorkHere.
  bool round_report_ = false;
  bool round_flush_ = false;
  std::string flushing_path_;
  std::string flushing_caller_;

  // Flush requests counted, for the unload, which never reads the
  // writer's copies: the host's thread counts what it asks for and keeps
  // the path; the writer publishes the count its last good flush covered.
  std::string host_flush_path_;
  std::atomic<std::uint32_t> flushes_asked_{0};
  std::atomic<std::uint32_t> flushes_done_{0};
  std::uint32_t round_flushes_asked_ = 0;
  const char* caller_ = "report";
  Mode mode_ = Mode::kThread;
  bool stay_on_caller_ = false;
};

// The writer of this loaded module.
ReportWriter& Writer();

}  // namespace tarveld
