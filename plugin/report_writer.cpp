#include "plugin/report_writer.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/platform.h"
#include "plugin/journal.h"
#include "report/exceptions.h"

namespace tarveld {
namespace {

// Pauses after a failed round, doubling from the first to the longest.
constexpr std::uint32_t kFirstPauseMs = 50;
constexpr std::uint32_t kLongestPauseMs = 5000;
// How long an idle thread waits for more work before it ends. A new thread
// costs the host's thread some tens of microseconds, so a steady trickle
// of messages keeps one thread; a quiet game ends it, which on Windows
// also lets go of the module (see WorkerThread).
constexpr std::uint32_t kLingerMs = 2000;

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

}  // namespace

ReportWriter& Writer() {
  static ReportWriter writer;
  return writer;
}

// What the last writes at unload go through is made first, so that, as
// statics end in the reverse order of their making, it outlives the writer.
ReportWriter::ReportWriter() {
  platform::Native();
  DirectOutput();
}

ReportWriter::~ReportWriter() {
  if (platform::MayJoinThreadsAtUnload()) {
    Finish(kFinishTimeoutMs, "unload");
    return;
  }
  // No thread of ours runs now and none may be waited for: at process exit
  // the system has ended it, possibly mid-write and even holding the lock;
  // at a FreeLibrary it ended before the module could go. What it had in
  // hand is written here, once, on the unloading thread.
  const bool locked = monitor_.TryLock();
  running_ = false;
  if (in_flight_) {
    if (!has_pending_) {
      std::swap(pending_, writing_);
      has_pending_ = true;
    }
    in_flight_ = false;
  }
  if (HasWork()) {
    WorkHere();
    if (HasWork())
      NameWhatIsLeft("unload");
  }
  if (locked)
    monitor_.Unlock();
}

bool ReportWriter::NewestText(const std::string& path, std::string& newest) {
  platform::MonitorLock lock(monitor_);
  const Slot* held = HeldFor(path);
  if (held != nullptr)
    newest = held->text;
  return held != nullptr;
}

bool ReportWriter::HoldsTextFor(const std::string& path) {
  platform::MonitorLock lock(monitor_);
  return HeldFor(path) != nullptr;
}

void ReportWriter::Replace(const std::string& path, std::string_view text) {
  if (mode_ == Mode::kCallerThread) {
    DirectOutput().Replace(path, text);
    return;
  }
  // The copy is the one cost that grows with the report, and it is made
  // before the lock is taken.
  staging_.assign(text.data(), text.size());
  platform::MonitorLock lock(monitor_);
  if (HoldsOtherPath(path))
    WaitForOtherPaths(path);
  std::swap(staging_, pending_.text);
  pending_.path.assign(path);
  pending_.caller.assign(caller_);
  has_pending_ = true;
  if (EnsureRunning()) {
    monitor_.NotifyAll();
    return;
  }
  // No thread could be started: the write is made here, its failure named
  // as the thread would, and the text kept for the next try.
  WorkHere();
}

void ReportWriter::JournalAppended(const std::string& path) {
  if (mode_ == Mode::kCallerThread) {
    FlushJournal(path);
    return;
  }
  platform::MonitorLock lock(monitor_);
  journal_path_.assign(path);
  journal_caller_.assign(caller_);
  journal_dirty_ = true;
  if (EnsureRunning()) {
    monitor_.NotifyAll();
    return;
  }
  WorkHere();
}

bool ReportWriter::Finish(std::uint32_t timeout_ms, const char* who) {
  {
    platform::MonitorLock lock(monitor_);
    const std::uint64_t deadline = platform::MonotonicMilliseconds() + timeout_ms;
    if (HasWork() && !EnsureRunning())
      WorkHere();
    stop_ = true;
    hurry_ = true;  // a writer pausing after a failure tries again now
    monitor_.NotifyAll();
    while (running_ && (HasWork() || in_flight_) && MillisecondsUntil(deadline) > 0)
      monitor_.Wait(MillisecondsUntil(deadline));
    if (running_) {
      give_up_ = true;
      monitor_.NotifyAll();
    }
  }
  // The thread ends after the write in hand, if any; it takes no new one.
  thread_.Join();
  platform::MonitorLock lock(monitor_);
  stop_ = false;
  give_up_ = false;
  hurry_ = false;
  const bool done = !HasWork() && !in_flight_;
  if (!done)
    NameWhatIsLeft(who);
  return done;
}

void ReportWriter::Discard() {
  platform::MonitorLock lock(monitor_);
  has_pending_ = false;
  journal_dirty_ = false;
  last_failure_.clear();
}

void ReportWriter::RunThread(void* self) {
  static_cast<ReportWriter*>(self)->Run();
}

// Nothing done with the lock held here allocates or throws: swaps, flags
// and waits only. The disk work and the messages happen in DoRound, with
// the lock released.
void ReportWriter::Run() {
  std::uint32_t pause = 0;
  monitor_.Lock();
  for (;;) {
    if (!HasWork() && !stop_ && !give_up_) {
      const std::uint64_t until = platform::MonotonicMilliseconds() + kLingerMs;
      while (!HasWork() && !stop_ && !give_up_ && MillisecondsUntil(until) > 0)
        monitor_.Wait(MillisecondsUntil(until));
    }
    if (!HasWork() || give_up_)
      break;
    TakeWork();
    monitor_.Unlock();
    Outcome outcome = DoRound();
    monitor_.Lock();
    SettleRound(outcome);
    monitor_.NotifyAll();
    if (outcome.ok()) {
      pause = 0;
      continue;
    }
    pause = pause == 0 ? kFirstPauseMs : std::min(pause * 2, kLongestPauseMs);
    const std::uint64_t until = platform::MonotonicMilliseconds() + pause;
    while (!give_up_ && !hurry_ && MillisecondsUntil(until) > 0)
      monitor_.Wait(MillisecondsUntil(until));
  }
  running_ = false;
  monitor_.NotifyAll();
  monitor_.Unlock();
}

bool ReportWriter::HasWork() const {
  return has_pending_ || journal_dirty_;
}

const ReportWriter::Slot* ReportWriter::HeldFor(const std::string& path) const {
  if (has_pending_ && pending_.path == path)
    return &pending_;
  if (in_flight_ && writing_.path == path)
    return &writing_;
  return nullptr;
}

bool ReportWriter::HoldsOtherPath(const std::string& path) const {
  return (has_pending_ && pending_.path != path) || (in_flight_ && writing_.path != path);
}

void ReportWriter::TakeWork() {
  hurry_ = false;
  round_report_ = has_pending_;
  if (has_pending_) {
    std::swap(pending_, writing_);
    has_pending_ = false;
    in_flight_ = true;
  }
  round_journal_ = journal_dirty_;
  if (journal_dirty_) {
    std::swap(journal_path_, flushing_.path);
    std::swap(journal_caller_, flushing_.caller);
    journal_dirty_ = false;
  }
}

ReportWriter::Outcome ReportWriter::DoRound() {
  Outcome outcome;
  const auto name = [&outcome](const std::string& caller, const Exception& failure) {
    outcome.failure = ClassAndMessage(failure);
    Say(caller + ": " + outcome.failure);
  };
  try {
    if (round_report_) {
      try {
        DirectOutput().Replace(writing_.path, writing_.text);
      } catch (const Exception& failure) {
        outcome.report_ok = false;
        name(writing_.caller, failure);
      }
    }
    if (round_journal_) {
      try {
        FlushJournal(flushing_.path);
      } catch (const Exception& failure) {
        outcome.journal_ok = false;
        name(flushing_.caller, failure);
      }
    }
  } catch (...) {
    // Memory ran out composing a message; the round counts as failed and
    // is tried again after the pause.
    outcome.report_ok = !round_report_;
    outcome.journal_ok = !round_journal_;
  }
  return outcome;
}

void ReportWriter::SettleRound(Outcome& outcome) {
  if (round_report_) {
    in_flight_ = false;
    // A failed text goes back to be tried again, unless a newer one has
    // come meanwhile: that one holds every change of it.
    if (!outcome.report_ok && !has_pending_) {
      std::swap(pending_, writing_);
      has_pending_ = true;
    }
  }
  if (round_journal_ && !outcome.journal_ok && !journal_dirty_) {
    std::swap(journal_path_, flushing_.path);
    std::swap(journal_caller_, flushing_.caller);
    journal_dirty_ = true;
  }
  if (outcome.ok())
    last_failure_.clear();
  else
    std::swap(last_failure_, outcome.failure);
  round_report_ = false;
  round_journal_ = false;
}

bool ReportWriter::EnsureRunning() {
  if (mode_ == Mode::kCallerThread)
    return false;
  if (running_)
    return true;
  if (!thread_.Start(&RunThread, this))
    return false;
  running_ = true;
  return true;
}

void ReportWriter::WorkHere() {
  TakeWork();
  Outcome outcome = DoRound();
  SettleRound(outcome);
}

void ReportWriter::WaitForOtherPaths(const std::string& path) {
  const std::uint64_t deadline = platform::MonotonicMilliseconds() + kFinishTimeoutMs;
  while (HoldsOtherPath(path) && running_ && MillisecondsUntil(deadline) > 0)
    monitor_.Wait(MillisecondsUntil(deadline));
  if (has_pending_ && pending_.path != path) {
    if (!running_)
      WorkHere();
    if (has_pending_ && pending_.path != path) {
      NameWhatIsLeft(caller_);
      has_pending_ = false;
    }
  }
}

void ReportWriter::NameWhatIsLeft(const char* who) {
  const std::string cause = last_failure_.empty() ? "" : " (" + last_failure_ + ")";
  if (has_pending_ || in_flight_) {
    const std::string& path = has_pending_ ? pending_.path : writing_.path;
    Say(std::string(who) + ": not written: \"" + path + "\"" + cause);
  }
  if (journal_dirty_)
    Say(std::string(who) + ": not flushed: \"" + journal_path_ + "\"" + cause);
}

}  // namespace tarveld
