#include "plugin/report_writer.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/platform.h"
#include "plugin/failure_notices.h"
#include "report/exceptions.h"

namespace tarveld {
namespace {

// How long the unload at process exit waits for the system to have ended
// the writer's thread, and then lets a thread it ended in the middle of
// its work leave the system call it was in (docs/writer.md, "Exit").
constexpr std::uint32_t kEndedThreadWaitMs = 1000;
constexpr std::uint32_t kDyingThreadGraceMs = 50;
// How long a call that starts the thread waits for it to run our code.
constexpr std::uint32_t kStartWaitMs = 10000;

std::uint32_t MillisecondsUntil(std::uint64_t deadline) {
  const std::uint64_t now = platform::MonotonicMilliseconds();
  return now >= deadline
             ? 0
             : static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - now, 60000));
}

void Say(const std::string& text) {
  try {
    platform::Current().DebugOutput(text);
  } catch (...) {
    // Nothing is left to tell it with.
  }
}

// "EFCreateError: Unable to create file ...", or what else was thrown.
std::string FailureText(std::exception_ptr thrown) {
  try {
    std::rethrow_exception(thrown);
  } catch (const Exception& failure) {
    return ClassAndMessage(failure);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& failure) {
    return failure.what();
  } catch (...) {
    return "unknown failure";
  }
}

// Puts what was appended to `path` on disk, or throws what failed.
void FlushOrThrow(const std::string& path, bool at_exit = false) {
  platform::Platform& system = platform::Current();
  const platform::IoResult result = at_exit ? system.FlushFileAtExit(path) : system.FlushFile(path);
  if (result.ok())
    return;
  const std::string cause = " (system error " + std::to_string(result.os_error) + ")";
  if (result.status == platform::IoStatus::kWriteFailed)
    throw EWriteError("Unable to flush file \"" + path + "\"" + cause, result.os_error);
  throw EFOpenError("Unable to open file \"" + path + "\" for flushing" + cause, result.os_error);
}

// Where the writer's store puts its rewrites: nowhere. The store's text is
// the newest there is, and the writer writes it when it chooses.
class KeptInTheStore final : public ReportOutput {
 public:
  bool NewestText(const std::string&, std::string&) override { return false; }
  void Replace(const std::string&, std::string_view) override {}
};

ReportOutput& StoreOutput() {
  static KeptInTheStore output;
  return output;
}

}  // namespace

ReportWriter& Writer() {
  static ReportWriter writer;
  return writer;
}

// What the last writes at unload go through is made first, so that, as
// statics end in the reverse order of their making, it outlives the writer.
ReportWriter::ReportWriter() : reader_(changes_.ReaderAt(0)) {
  platform::Native();
  DirectOutput();
  StoreOutput();
}

ReportWriter::~ReportWriter() {
  if (platform::MayJoinThreadsAtUnload()) {
    Finish(kFinishTimeoutMs, "unload");
    return;
  }
  FinishAfterThreadsEnded();
}

// Only atomics and what the host's thread owns are read here, never the
// lock or the writer's other fields: the system may have ended the
// writer's thread at any instruction, even holding the lock. The change
// log is whole whatever the thread stopped at (change_log.h). The store is
// whole unless the thread stopped while changing it; then it is left
// alone, and the report is rebuilt from the file on disk, which holds the
// first `on_disk_` changes, and the changes after them.
void ReportWriter::FinishAfterThreadsEnded() {
  const int phase = phase_.load();
  if (phase != kNoThread) {
    // A running thread holds the module, so only a process exit unloads it
    // under one. Windows ended the thread before this; wine only marks it
    // and may still be running it inside a system call, which must be over
    // before this thread touches a file (docs/writer.md).
    thread_.AwaitEnd(kEndedThreadWaitMs);
    if (phase != kWaiting)
      platform::SleepMilliseconds(kDyingThreadGraceMs);
  }
  // A thread ended inside a change may have left the store torn, and
  // freeing it could fault: the process is ending, so it is let go.
  const bool torn = changing_.load();
  if (torn) {
    (void)store_.release();
    dirty_.store(false);
    applied_.store(on_disk_.load());
    dropped_call_ = 0;
    changing_.store(false);
  }
  reader_ = changes_.ReaderAt(applied_.load());
  ApplyUpTo(changes_.Published());
  if (dirty_.load() && store_) {
    // The ended thread may still hold the report open from its rename;
    // this replacement goes round that instead of failing on it.
    if (!platform::Current().ReplaceFileAtExit(store_->FileName(), store_->Text()).ok())
      Say("unload: not written: \"" + store_->FileName() + "\"");
  }
  if (flushes_asked_.load() != flushes_done_.load() && !host_flush_path_.empty()) {
    try {
      FlushOrThrow(host_flush_path_, /*at_exit=*/true);
    } catch (...) {
      Say("unload: " + FailureText(std::current_exception()));
    }
  }
  platform::Current().ReleaseExitFiles();
}

void ReportWriter::SetCaller(const char* entry_point) {
  caller_ = entry_point;
  ++call_;
}

void ReportWriter::Begin(const std::string& path, std::string actual_date) {
  ReportChange change;
  change.kind = ReportChange::Kind::kBegin;
  change.path = path;
  change.value = std::move(actual_date);
  Hand(std::move(change));
}

void ReportWriter::Open(const std::string& path) {
  ReportChange change;
  change.kind = ReportChange::Kind::kOpen;
  change.path = path;
  Hand(std::move(change));
}

void ReportWriter::Put(const std::string& path, std::string_view section, std::string_view key,
                       std::string value) {
  ReportChange change;
  change.path = path;
  change.section = section;
  change.key = key;
  change.value = std::move(value);
  Hand(std::move(change));
}

void ReportWriter::Hand(ReportChange&& change) {
  change.caller = caller_;
  change.call = call_;
  if (mode_ == Mode::kCallerThread) {
    Apply(change);  // the store writes inside each change, and throws
    return;
  }
  changes_.Append(std::move(change));
  changes_.Reclaim(on_disk_.load());
  platform::MonitorLock lock(monitor_);
  if (EnsureRunning()) {
    monitor_.NotifyAll();
    return;
  }
  // No thread may or could be started: the change is applied and written
  // here, its failure named as the thread would, and the text kept for the
  // next try.
  WorkHere();
}

void ReportWriter::RequestFlush(const std::string& path) {
  if (mode_ == Mode::kCallerThread) {
    FlushOrThrow(path);
    return;
  }
  if (host_flush_path_ != path)
    host_flush_path_ = path;
  platform::MonitorLock lock(monitor_);
  flush_path_.assign(path);
  flush_caller_.assign(caller_);
  flush_wanted_ = true;
  flushes_asked_.store(flushes_asked_.load() + 1);
  if (EnsureRunning()) {
    monitor_.NotifyAll();
    return;
  }
  WorkHere();
}

bool ReportWriter::Finish(std::uint32_t timeout_ms, const char* who) {
  {
    platform::MonitorLock lock(monitor_);
    std::uint64_t deadline = platform::MonotonicMilliseconds() + timeout_ms;
    if (HasWork() && !EnsureRunning())
      WorkHere();
    stop_ = true;
    hurry_ = true;  // a writer pausing after a failure tries again now
    monitor_.NotifyAll();
    // A disk that is slow but takes every write is waited for: the time
    // runs again from each write that put more on disk, so only a disk that
    // takes nothing within it makes the caller give up. A round still in
    // hand when the time is up is seen to its end, as before.
    std::uint64_t written = on_disk_.load();
    while (running_ && (HasWork() || in_flight_)) {
      if (MillisecondsUntil(deadline) > 0) {
        monitor_.Wait(MillisecondsUntil(deadline));
      } else if (in_flight_) {
        const std::uint64_t round = rounds_;
        while (running_ && in_flight_ && rounds_ == round)
          monitor_.Wait(60000);
        if (on_disk_.load() == written)
          break;
      } else {
        break;
      }
      if (on_disk_.load() != written) {
        written = on_disk_.load();
        deadline = platform::MonotonicMilliseconds() + timeout_ms;
      }
    }
    if (running_) {
      give_up_ = true;
      monitor_.NotifyAll();
    }
  }
  // The thread ends after the round in hand, if any; it takes no new one.
  thread_.Join();
  // No thread is left for an exit to cut short: nothing needs them.
  platform::Current().ReleaseExitFiles();
  platform::MonitorLock lock(monitor_);
  stop_ = false;
  give_up_ = false;
  hurry_ = false;
  // What came after the last round is applied, so the store is the newest
  // the host made, for the next try.
  ApplyUpTo(changes_.Published());
  changes_.Reclaim(on_disk_.load());
  const bool done = !HasWork();
  if (!done)
    NameWhatIsLeft(who);
  return done;
}

void ReportWriter::StayOnCallerThread() {
  platform::MonitorLock lock(monitor_);
  stay_on_caller_ = true;
}

void ReportWriter::Resume() {
  platform::MonitorLock lock(monitor_);
  stay_on_caller_ = false;
}

void ReportWriter::DiscardForTesting() {
  platform::MonitorLock lock(monitor_);
  changes_.Clear();
  reader_ = changes_.ReaderAt(0);
  store_.reset();
  applied_.store(0);
  on_disk_.store(0);
  dirty_.store(false);
  dropped_call_ = 0;
  flush_wanted_ = false;
  flushes_done_.store(flushes_asked_.load());
  last_failure_.clear();
  stay_on_caller_ = false;
}

void ReportWriter::FinishAsAtProcessExitForTesting(bool torn) {
  // The store a torn exit lets go of is freed here, where the process goes on.
  std::unique_ptr<TIniFile> let_go;
  if (torn) {
    changing_.store(true);
    let_go.reset(store_.get());
  }
  // As if the system had just ended a thread that was at work.
  phase_.store(kWorking);
  FinishAfterThreadsEnded();
  phase_.store(kNoThread);
}

void ReportWriter::SetTimingsForTesting(std::uint32_t first_pause, std::uint32_t longest_pause,
                                        std::uint32_t linger) {
  platform::MonitorLock lock(monitor_);
  first_pause_ms_ = first_pause;
  longest_pause_ms_ = longest_pause;
  linger_ms_ = linger;
}

std::uint32_t ReportWriter::LastPauseForTesting() {
  platform::MonitorLock lock(monitor_);
  return last_pause_ms_;
}

void ReportWriter::RunThread(void* self) {
  static_cast<ReportWriter*>(self)->Run();
}

// Nothing done with the lock held here allocates or throws: flags and
// waits only. The changes, the disk work and the messages happen with the
// lock released.
void ReportWriter::Run() {
  std::uint32_t pause = 0;
  monitor_.Lock();
  phase_.store(kWorking);
  monitor_.NotifyAll();  // the call that started this thread waits for it
  for (;;) {
    if (!HasWork() && !stop_ && !give_up_) {
      const std::uint64_t until = platform::MonotonicMilliseconds() + linger_ms_;
      phase_.store(kWaiting);
      while (!HasWork() && !stop_ && !give_up_ && MillisecondsUntil(until) > 0)
        monitor_.Wait(MillisecondsUntil(until));
      phase_.store(kWorking);
    }
    if (!HasWork() || give_up_)
      break;
    TakeWork();
    in_flight_ = true;
    const std::uint64_t end = changes_.Published();
    monitor_.Unlock();
    ApplyUpTo(end);
    PrepareForExit();
    Outcome outcome = DoRound();
    monitor_.Lock();
    in_flight_ = false;
    ++rounds_;
    SettleRound(outcome);
    monitor_.NotifyAll();
    if (outcome.ok()) {
      pause = 0;
      continue;
    }
    pause = NextPause(pause);
    last_pause_ms_ = pause;
    const std::uint64_t until = platform::MonotonicMilliseconds() + pause;
    phase_.store(kWaiting);
    while (!give_up_ && !hurry_ && MillisecondsUntil(until) > 0)
      monitor_.Wait(MillisecondsUntil(until));
    phase_.store(kWorking);
  }
  running_ = false;
  phase_.store(kNoThread);
  monitor_.NotifyAll();
  monitor_.Unlock();
}

std::uint32_t ReportWriter::NextPause(std::uint32_t pause) const {
  return pause == 0 ? first_pause_ms_ : std::min(pause * 2, longest_pause_ms_);
}

void ReportWriter::ApplyUpTo(std::uint64_t end) {
  if (reader_.Position() >= end)
    return;
  // The flag goes up before the first change of the store and down after
  // the last, each fenced, so that the unload at exit never takes a store
  // changed halfway for a whole one.
  changing_.store(true);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  while (reader_.Position() < end) {
    const ReportChange& change = reader_.Next();
    if (change.call == dropped_call_)
      continue;
    try {
      Apply(change);
      last_caller_ = change.caller;
    } catch (...) {
      // The store could not be opened: this call's other changes go too, as
      // an entry point stops at its first failure.
      dropped_call_ = change.call;
      Say(std::string(change.caller) + ": " + FailureText(std::current_exception()));
    }
  }
  applied_.store(end);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  changing_.store(false);
}

void ReportWriter::Apply(const ReportChange& change) {
  switch (change.kind) {
    case ReportChange::Kind::kBegin:
      // A report on its way to the disk exists already.
      if ((store_ && dirty_.load() && store_->FileName() == change.path) ||
          platform::Current().IsExistingFile(change.path)) {
        return;
      }
      OpenStore(change.path);
      store_->PutText("Initial Start", "Actual Date ", change.value);
      break;
    case ReportChange::Kind::kOpen:
      OpenStore(change.path);
      return;
    case ReportChange::Kind::kPut:
      // A report that existed at DLLInit gets no store until a scenario
      // loads; a message opens one rather than be lost.
      if (!store_)
        OpenStore(change.path);
      store_->PutText(change.section, change.key, change.value);
      break;
  }
  dirty_.store(mode_ == Mode::kThread);
}

void ReportWriter::OpenStore(const std::string& path) {
  if (store_ && dirty_.load()) {
    if (store_->FileName() == path)
      return;  // its text is the newest of the report
    // Only tests switch paths. The other report's text goes to disk first,
    // or is named and dropped.
    try {
      DirectOutput().Replace(store_->FileName(), store_->Text());
    } catch (...) {
      Say(std::string(last_caller_) + ": not written: \"" + store_->FileName() + "\" (" +
          FailureText(std::current_exception()) + ")");
    }
    dirty_.store(false);
  }
  // The file as it is on disk: another program may have changed it since
  // the last write. When it is the store's own last write, the store is
  // what parsing it would give, and is kept.
  // In caller-thread mode the store writes inside each change itself, and a
  // failed write leaves its model as the change made it, as the plug-in's
  // store always did.
  ReportOutput& output = mode_ == Mode::kThread ? StoreOutput() : DirectOutput();
  // The comparison goes chunk by chunk as the file is read, so a large
  // report still as the store left it is not held twice.
  std::string bytes;
  if (store_ && store_->FileName() == path) {
    if (ReadStoreFileUnlessSame(path, output, store_->Text(), bytes))
      return;
  } else {
    bytes = ReadStoreFile(path, output);
  }
  store_ = std::make_unique<TIniFile>(path, std::move(bytes), output);
}

// Before this thread touches the files, what an unload at a process exit
// would write them with is made ready: the exit may end this thread in the
// middle of the round, and under wine the unload must not open a file
// while it dies (docs/writer.md, "Exit"). Only the first round of a file
// does any work; the files stay ready while the thread idles and ends, and
// Finish, with no thread left, closes them.
void ReportWriter::PrepareForExit() {
  platform::Current().PrepareExitFiles(store_ ? store_->FileName() : std::string(),
                                       round_flush_ ? flushing_path_ : std::string());
}

void ReportWriter::WriteStore() {
  if (!dirty_.load() || !store_)
    return;
  const std::uint64_t holds = applied_.load();
  DirectOutput().Replace(store_->FileName(), store_->Text());
  on_disk_.store(holds);
  dirty_.store(false);
}

bool ReportWriter::HasWork() const {
  return changes_.Published() != applied_.load() || dirty_.load() || flush_wanted_;
}

void ReportWriter::TakeWork() {
  hurry_ = false;
  round_flush_ = flush_wanted_;
  if (flush_wanted_) {
    std::swap(flush_path_, flushing_path_);
    std::swap(flush_caller_, flushing_caller_);
    round_flushes_asked_ = flushes_asked_.load();
    flush_wanted_ = false;
  }
}

// The journal is flushed before the report is renamed into place: the
// entry points append a line before they hand over the change it goes
// with, so the report on disk never shows what the journal on disk does
// not.
ReportWriter::Outcome ReportWriter::DoRound() {
  Outcome outcome;
  // Names the failure in hand after `caller`, and tells the journal's
  // notices of it when it is one of the plug-in's own.
  const auto name = [&outcome](const std::string& caller, WrittenFile file) {
    const std::exception_ptr thrown = std::current_exception();
    outcome.failure = FailureText(thrown);
    try {
      std::rethrow_exception(thrown);
    } catch (const Exception& failure) {
      Notices().Failed(file, failure);
    } catch (...) {
    }
    Say(caller + ": " + outcome.failure);
  };
  if (round_flush_) {
    try {
      FlushOrThrow(flushing_path_);
      Notices().Succeeded(WrittenFile::kJournal);
    } catch (...) {
      outcome.flush_ok = false;
      name(flushing_caller_, WrittenFile::kJournal);
    }
  }
  if (dirty_.load()) {
    try {
      WriteStore();
      Notices().Succeeded(WrittenFile::kReport);
    } catch (...) {
      outcome.report_ok = false;
      name(last_caller_, WrittenFile::kReport);
    }
  }
  return outcome;
}

void ReportWriter::SettleRound(Outcome& outcome) {
  if (round_flush_) {
    if (outcome.flush_ok) {
      flushes_done_.store(round_flushes_asked_);
    } else if (!flush_wanted_) {
      std::swap(flush_path_, flushing_path_);
      std::swap(flush_caller_, flushing_caller_);
      flush_wanted_ = true;
    }
  }
  if (outcome.ok())
    last_failure_.clear();
  else
    std::swap(last_failure_, outcome.failure);
  round_flush_ = false;
}

bool ReportWriter::EnsureRunning() {
  if (mode_ == Mode::kCallerThread || stay_on_caller_)
    return false;
  if (running_)
    return true;
  phase_.store(kStarting);
  if (!thread_.Start(&RunThread, this)) {
    phase_.store(kNoThread);
    return false;
  }
  running_ = true;
  // Returning before the thread runs would let a host that exits at once
  // cut it short inside the system's thread start-up, which wine does not
  // survive. The thread announces itself by leaving kStarting.
  const std::uint64_t deadline = platform::MonotonicMilliseconds() + kStartWaitMs;
  while (phase_.load() == kStarting && MillisecondsUntil(deadline) > 0)
    monitor_.Wait(MillisecondsUntil(deadline));
  return true;
}

void ReportWriter::WorkHere() {
  TakeWork();
  ApplyUpTo(changes_.Published());
  Outcome outcome = DoRound();
  SettleRound(outcome);
  changes_.Reclaim(on_disk_.load());
}

void ReportWriter::NameWhatIsLeft(const char* who) {
  const std::string cause = last_failure_.empty() ? "" : " (" + last_failure_ + ")";
  if (dirty_.load() && store_)
    Say(std::string(who) + ": not written: \"" + store_->FileName() + "\"" + cause);
  if (flush_wanted_)
    Say(std::string(who) + ": not flushed: \"" + flush_path_ + "\"" + cause);
}

}  // namespace tarveld
