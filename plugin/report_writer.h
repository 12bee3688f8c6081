// The report writer: the one owner of the disk, so that the host's thread
// only changes memory and returns.
//
// The entry points change the session and the store as ever; the store
// hands each new report text to the writer (Replace) and the journal tells
// it that a line was appended (JournalAppended). A thread of the writer's
// own replaces the report (new file, flush, rename over it) and flushes the
// journal, away from the game loop.
//
// Who owns what. The host's thread owns the session, the store and the
// staging buffer below. The writer thread owns the disk work and the text
// it is writing. They share only the fields marked "under monitor_", and
// touch them only with its lock held, for a swap or a few assignments;
// no file is touched with the lock held. A text is never shared while it
// can change: the host copies into its staging buffer, then swaps it for
// the pending one; the writer swaps the pending one for its own.
//
// Order and coalescing. There is one pending text: a newer text replaces
// it before the writer takes it, so a burst of changes costs a few writes,
// and every text that lands on disk is one the store produced, in the
// order it produced them. Memory stays at three texts, however fast the
// host calls.
//
// Failures. A failed write is named on the debug output, once per attempt,
// and tried again after a pause that grows from 50 ms to 5 s; a newer text
// replaces the one being retried. Nothing handed over is dropped while the
// module stays loaded.
#pragma once

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

  ReportWriter();
  // Puts what is pending on disk: waiting for the thread where the system
  // allows it at unload, writing on this thread where it does not.
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

  // A journal line was appended to `path` and wants flushing.
  void JournalAppended(const std::string& path);

  // Waits until everything handed over is on disk, at most `timeout_ms`
  // (plus the write in hand), and stops the thread. False, after naming on
  // the debug output, after `who`, what is not on disk, when the time ran
  // out; what is left stays pending, and the next Replace starts a thread
  // again.
  bool Finish(std::uint32_t timeout_ms = kFinishTimeoutMs, const char* who = "DLLFree");

  // Call only when finished (after Finish, before further work).
  void SetMode(Mode mode) { mode_ = mode; }

  // Forgets every text and flush not yet done, without a word: for a host
  // (a test) that must start afresh after leaving a disk that fails every
  // write. Call only when finished.
  void Discard();

 private:
  struct Slot {
    std::string path;
    std::string text;
    std::string caller;
  };

  // How a round of disk work went; `failure` names the last failure.
  struct Outcome {
    bool report_ok = true;
    bool journal_ok = true;
    std::string failure;
    bool ok() const { return report_ok && journal_ok; }
  };

  static void RunThread(void* self);
  void Run();
  bool HasWork() const;
  // The lock held: the text for `path` not yet on disk, the pending one
  // before the one being written; null when there is none.
  const Slot* HeldFor(const std::string& path) const;
  // The lock held: true while a text for another path is pending or being
  // written.
  bool HoldsOtherPath(const std::string& path) const;
  // The lock held: takes the pending text and journal flush for a round.
  void TakeWork();
  // The lock released (or no other thread about): the round's disk work;
  // each failure is named on the debug output.
  Outcome DoRound();
  // The lock held: a failed text goes back to pending unless a newer one
  // came, a failed flush is asked for again.
  void SettleRound(Outcome& outcome);
  // Makes sure a thread will look at the work; false when none could be
  // started (the caller then does the work itself).
  bool EnsureRunning();
  // One round on the calling thread, the lock held, when no thread runs.
  void WorkHere();
  // Waits, the lock held, while a text for a path other than `path` is
  // pending or being written; one still pending then is named and dropped.
  // The plug-in writes one report, so only tests switch paths.
  void WaitForOtherPaths(const std::string& path);
  void NameWhatIsLeft(const char* who);

  platform::Monitor monitor_;
  platform::WorkerThread thread_;

  // Under monitor_.
  Slot pending_;
  bool has_pending_ = false;
  Slot writing_;  // read by the writer without the lock while in_flight_
  bool in_flight_ = false;
  std::string journal_path_;
  std::string journal_caller_;
  bool journal_dirty_ = false;
  bool running_ = false;  // a thread is in Run() and will look at the work
  bool stop_ = false;     // Finish: end once the work is done
  bool give_up_ = false;  // Finish ran out of time: end after the write in hand
  bool hurry_ = false;    // Finish came: cut the pause after a failure short
  std::string last_failure_;

  // The round in hand: the writer thread's while it works, or the thread
  // doing WorkHere.
  bool round_report_ = false;
  bool round_journal_ = false;
  Slot flushing_;  // path and caller of the journal flush

  // Host's thread only.
  std::string staging_;
  const char* caller_ = "report";
  Mode mode_ = Mode::kThread;
};

// The writer of this loaded module.
ReportWriter& Writer();

}  // namespace tarveld
