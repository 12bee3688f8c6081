// The report writer: the one owner of the report's store, and the disk work
// of every file the plug-in keeps, done on a thread of its own so that the
// host's thread changes nothing but memory the size of its arguments.
//
// The host's thread describes each change of the report (Begin, Open, Put)
// and appends it to a change log (change_log.h); the journal says that it
// appended a line to a file that wants flushing (RequestFlush). The
// writer's thread applies the changes to the store in order, flushes the
// files it was told about and replaces the report (new file, flush, rename
// over it). Everything that grows with the report happens there: reading
// and parsing it when a scenario starts, changing the store's text,
// writing it. Changes that come while one text is being written are
// applied together and go out in the next write, so a burst costs a few
// writes, and every text that lands on disk is one the store produced, in
// the order it produced them. The host's thread still appends each
// journal line itself (one write, so a killed game keeps the line of
// every call that returned).
//
// Failures. A failed write is named on the debug output, once per attempt,
// after the entry point whose change it was last, and tried again after a
// pause that grows from 50 ms to 5 s; changes made meanwhile go out with
// it. A report that exists but cannot be read when a store opens is named
// once, after ScenLoad or MsgLog, and the changes of that call are dropped,
// the previous store staying the current one. Nothing handed over is
// dropped while the module stays loaded.
//
// Lifetime (docs/writer.md). DLLFree puts everything on disk and stops the
// thread; until the next DLLInit every change is applied and written inside
// the call that makes it, so that a host that exits at once after a late
// call leaves no thread behind. A thread is started only by a call that
// then waits until it runs, so an exit never cuts one short in its start-up.
// A process exit without DLLFree ends the thread wherever it is; the
// unload then finishes its work through files the thread made ready
// before it first touched them (Platform::PrepareExitFiles).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/thread.h"
#include "plugin/change_log.h"
#include "report/ini_file.h"

namespace tarveld {

class ReportWriter final {
 public:
  // kThread: the writer's thread does the work (the plug-in's way).
  // kCallerThread: each change is applied and written inside the call that
  // makes it, and a failure is raised to it (EFOpenError, EFCreateError,
  // EWriteError) with nothing held back: the plug-in as it was before it
  // had a writer. Tests that look at the disk after every write use it.
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
  ~ReportWriter();
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // The entry point whose work makes the next changes; their failures are
  // named after it, as the entry point names its own.
  void SetCaller(const char* entry_point);

  // The changes of the report, on the host's thread, each applied in turn:
  // Begin writes "Initial Start" with `actual_date` when there is no report
  // (none on disk and none on its way there); Open makes a new store on the
  // report's newest text, on disk or on its way; Put sets a key, opening a
  // store first when there is none.
  void Begin(const std::string& path, std::string actual_date);
  void Open(const std::string& path);
  void Put(const std::string& path, std::string_view section, std::string_view key,
           std::string value);

  // `path`, an existing file, was appended to and wants flushing.
  void RequestFlush(const std::string& path);

  // Waits until everything handed over is on disk, and stops the thread:
  // as long as each `timeout_ms` puts more on disk (a slow disk), at most
  // `timeout_ms` (plus the write in hand) on one that takes nothing. False,
  // after naming on the debug output, after `who`, what is not on disk,
  // when the time ran out; what is left stays pending, and the next change
  // starts a thread again.
  bool Finish(std::uint32_t timeout_ms = kFinishTimeoutMs, const char* who = "DLLFree");

  // DLLFree: from now on each change is applied and written inside its
  // call, on the host's thread, its failure named and the text kept for
  // the next try, until Resume (DLLInit) lets a thread take the work again.
  void StayOnCallerThread();
  void Resume();

  // Test hooks. Call only when finished (after Finish).
  void SetModeForTesting(Mode mode) { mode_ = mode; }
  // Forgets every change, text and flush not yet done and the store itself,
  // without a word, and lets a thread take the work again: for a test that
  // must start afresh after leaving a disk that fails every write.
  void DiscardForTesting();
  // What the unload at a Windows process exit does, with the writer's
  // thread already ended: `torn` as if it was ended inside a change.
  void FinishAsAtProcessExitForTesting(bool torn);
  // The pauses after failures and the idle thread's linger, in ms.
  void SetTimingsForTesting(std::uint32_t first_pause, std::uint32_t longest_pause,
                            std::uint32_t linger);
  // The pause the writer took after its latest failure.
  std::uint32_t LastPauseForTesting();
  // The current store, when finished; null before any.
  const TIniFile* StoreForTesting() const { return store_.get(); }

 private:
  // What the writer's thread is doing, for the unload at process exit.
  enum Phase : int { kNoThread, kStarting, kWaiting, kWorking };

  // How a round of disk work went; `failure` names the last failure.
  struct Outcome {
    bool report_ok = true;
    bool flush_ok = true;
    std::string failure;
    bool ok() const { return report_ok && flush_ok; }
  };

  void Hand(ReportChange&& change);
  static void RunThread(void* self);
  void Run();

  // The worker's side (the writer's thread, or the one thread doing the
  // work when none runs). Applies every change published before `end`,
  // naming each failure; the store is marked as changing throughout, for
  // the unload.
  void ApplyUpTo(std::uint64_t end);
  // One change; throws what failed.
  void Apply(const ReportChange& change);
  // Makes the store one on `path`'s newest text.
  void OpenStore(const std::string& path);
  // Writes the store's text when it is not on disk; throws what failed.
  void WriteStore();
  // The round's flush and write, the lock released; each failure named.
  Outcome DoRound();
  // On the writer's thread: readies the files the round will write for an
  // unload at process exit.
  void PrepareForExit();

  // The lock held from here on, unless said otherwise.
  bool HasWork() const;
  // Takes the flush asked for into the round.
  void TakeWork();
  // A failed flush is asked for again; a failed write stays to be retried.
  void SettleRound(Outcome& outcome);
  // Makes sure a thread will look at the work; false when none may or
  // could be started (the caller then does the work itself).
  bool EnsureRunning();
  // One round on the calling thread when no thread runs.
  void WorkHere();
  void NameWhatIsLeft(const char* who);
  std::uint32_t NextPause(std::uint32_t pause) const;
  // The unload at process exit (Windows): the system has ended the
  // writer's thread wherever it was; finishes the work without it.
  void FinishAfterThreadsEnded();

  platform::Monitor monitor_;
  platform::WorkerThread thread_;

  // The host's thread's: the changes it made, and the call they belong to.
  ChangeLog changes_;
  const char* caller_ = "report";
  std::uint64_t call_ = 1;  // 0 is no call: see dropped_call_

  // The worker's. What the unload at process exit reads of them (see
  // FinishAfterThreadsEnded) is atomic and stored in an order that leaves
  // them true wherever the thread stops.
  std::unique_ptr<TIniFile> store_;
  ChangeLog::Reader reader_;
  std::atomic<std::uint64_t> applied_{0};  // changes applied to the store
  std::atomic<std::uint64_t> on_disk_{0};  // of those, the ones the report on disk holds
  std::atomic<bool> dirty_{false};         // the store's text is not on disk
  std::atomic<bool> changing_{false};      // the store is being changed
  std::uint64_t dropped_call_ = 0;         // a call whose store failed to open
  const char* last_caller_ = "report";     // the caller of the last change applied
  std::atomic<int> phase_{kNoThread};

  // Under monitor_.
  std::string flush_path_;
  std::string flush_caller_;
  bool flush_wanted_ = false;
  bool in_flight_ = false;    // a round's work is under way
  std::uint64_t rounds_ = 0;  // rounds ended
  bool running_ = false;      // a thread is in Run() and will look at the work
  bool stop_ = false;         // Finish: end once the work is done
  bool give_up_ = false;      // Finish ran out of time: end after the write in hand
  bool hurry_ = false;        // Finish came: cut the pause after a failure short
  std::string last_failure_;
  std::uint32_t first_pause_ms_ = kFirstPauseMs;
  std::uint32_t longest_pause_ms_ = kLongestPauseMs;
  std::uint32_t linger_ms_ = kLingerMs;
  std::uint32_t last_pause_ms_ = 0;

  // The round in hand.
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
  Mode mode_ = Mode::kThread;
  bool stay_on_caller_ = false;
};

// The writer of this loaded module.
ReportWriter& Writer();

}  // namespace tarveld
