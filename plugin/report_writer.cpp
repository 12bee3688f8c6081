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

// Puts what was appended to `path` on disk, or throws what failed.
void FlushOrThrow(const std::string& path) {
  const platform::IoResult result = platform::Current().FlushFile(path);
  if (result.ok())
    return;
  const std::string cause = " (system error " + std::to_string(result.os_error) + ")";
  if (result.status == platform::IoStatus::kWriteFailed)
    throw EWriteError("Unable to flush file \"" + path + "\"" + cause, result.os_error);
  throw EFOpenError("Unable to open file \"" + path + "\" for flushing" + cause, result.os_error);
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
  FinishAfterThreadsEnded();
}

// Only the hand-over word, the generations and what the host's thread owns
// are read here, never the lock or the writer's other fields: the system
// may have ended the writer's thread at any instruction, even holding the
// lock. Every slot is whole whatever it stopped at (see the header), so
// the newest text is written as the store produced it.
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
  const Slot* newest = Unwritten();
  if (newest != nullptr) {
    // The ended thread may still hold the report open from its rename;
    // this replacement goes round that instead of failing on it.
    if (!platform::Current().ReplaceFileAtExit(newest->path, newest->text).ok())
      Say("unload: not written: \"" + newest->path + "\"");
  }
  if (flushes_asked_.load() != flushes_done_.load() && !host_flush_path_.empty()) {
    try {
      FlushOrThrow(host_flush_path_);
    } catch (const Exception& failure) {
      Say("unload: " + ClassAndMessage(failure));
    } catch (...) {
    }
  }
}

bool ReportWriter::NewestText(const std::string& path, std::string& newest) {
  platform::MonitorLock lock(monitor_);
  const Slot* held = Unwritten();
  if (held == nullptr || held->path != path)
    return false;
  newest = held->text;
  return true;
}

bool ReportWriter::HoldsTextFor(const std::string& path) {
  platform::MonitorLock lock(monitor_);
  const Slot* held = Unwritten();
  return held != nullptr && held->path == path;
}

void ReportWriter::Replace(const std::string& path, std::string_view text) {
  if (mode_ == Mode::kCallerThread) {
    DirectOutput().Replace(path, text);
    return;
  }
  // The host's slot is its own: the copy, the one cost that grows with the
  // report, is made before the lock is taken.
  Slot& slot = slots_[host_slot_];
  slot.path.assign(path);
  slot.text.assign(text.data(), text.size());
  slot.caller.assign(caller_);
  slot.generation = handed_.load() + 1;
  platform::MonitorLock lock(monitor_);
  const Slot* older = Unwritten();
  if (older != nullptr && older->path != path)
    WaitForOtherPaths(path);
  host_slot_ = between_.exchange(host_slot_ | kFresh) & kIndexMask;
  handed_.store(slot.generation);
  if (EnsureRunning()) {
    monitor_.NotifyAll();
    return;
  }
  // No thread may or could be started: the write is made here, its failure
  // named as the thread would, and the text kept for the next try.
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
  const bool done = !HasWork();
  if (!done)
    NameWhatIsLeft(who);
  return done;
}

void ReportWriter::DiscardForTesting() {
  platform::MonitorLock lock(monitor_);
  between_.store(between_.load() & kIndexMask);
  writer_has_text_ = false;
  written_.store(handed_.load());
  flush_wanted_ = false;
  flushes_done_.store(flushes_asked_.load());
  last_failure_.clear();
  stay_on_caller_ = false;
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

// Nothing done with the lock held here allocates or throws: exchanges,
// flags and waits only. The disk work and the messages happen in DoRound,
// with the lock released.
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
    monitor_.Unlock();
    Outcome outcome = DoRound();
    monitor_.Lock();
    in_flight_ = false;
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

bool ReportWriter::HasWork() const {
  return (between_.load() & kFresh) != 0 || writer_has_text_ || flush_wanted_;
}

const ReportWriter::Slot* ReportWriter::Unwritten() const {
  const std::uint32_t newest = handed_.load();
  if (newest == written_.load())
    return nullptr;
  for (const Slot& slot : slots_) {
    if (slot.generation == newest)
      return &slot;
  }
  return nullptr;
}

void ReportWriter::TakeWork() {
  hurry_ = false;
  if ((between_.load() & kFresh) != 0) {
    writer_slot_ = between_.exchange(writer_slot_) & kIndexMask;
    writer_has_text_ = true;
  }
  round_report_ = writer_has_text_;
  round_flush_ = flush_wanted_;
  if (flush_wanted_) {
    std::swap(flush_path_, flushing_path_);
    std::swap(flush_caller_, flushing_caller_);
    round_flushes_asked_ = flushes_asked_.load();
    flush_wanted_ = false;
  }
}

// The journal is flushed before the report is renamed into place: the
// entry points append a line before they hand over the text it goes with,
// so the report on disk never shows what the journal on disk does not.
ReportWriter::Outcome ReportWriter::DoRound() {
  Outcome outcome;
  const auto name = [&outcome](const std::string& caller, const Exception& failure) {
    outcome.failure = ClassAndMessage(failure);
    Say(caller + ": " + outcome.failure);
  };
  try {
    if (round_flush_) {
      try {
        FlushOrThrow(flushing_path_);
        Notices().Succeeded(WrittenFile::kJournal);
      } catch (const Exception& failure) {
        outcome.flush_ok = false;
        Notices().Failed(WrittenFile::kJournal, failure);
        name(flushing_caller_, failure);
      }
    }
    if (round_report_) {
      const Slot& slot = slots_[writer_slot_];
      try {
        DirectOutput().Replace(slot.path, slot.text);
        Notices().Succeeded(WrittenFile::kReport);
      } catch (const Exception& failure) {
        outcome.report_ok = false;
        Notices().Failed(WrittenFile::kReport, failure);
        name(slot.caller, failure);
      }
    }
  } catch (...) {
    // Memory ran out composing a message; the round counts as failed and
    // is tried again after the pause.
    outcome.report_ok = !round_report_;
    outcome.flush_ok = !round_flush_;
  }
  return outcome;
}

void ReportWriter::SettleRound(Outcome& outcome) {
  if (round_report_ && outcome.report_ok) {
    written_.store(slots_[writer_slot_].generation);
    writer_has_text_ = false;
  }
  // A failed text stays in the writer's slot to be tried again; a newer
  // one, if it comes, takes its place at the next round.
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
  round_report_ = false;
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
  Outcome outcome = DoRound();
  SettleRound(outcome);
}

void ReportWriter::WaitForOtherPaths(const std::string& path) {
  const std::uint64_t deadline = platform::MonotonicMilliseconds() + kFinishTimeoutMs;
  const auto other_path_left = [&] {
    const Slot* held = Unwritten();
    return held != nullptr && held->path != path;
  };
  while (other_path_left() && running_ && MillisecondsUntil(deadline) > 0)
    monitor_.Wait(MillisecondsUntil(deadline));
  if (other_path_left() && !running_)
    WorkHere();
  if (other_path_left()) {
    NameWhatIsLeft(caller_);
    // Its text gives way to the one for `path`.
    between_.store(between_.load() & kIndexMask);
    if (!running_)
      writer_has_text_ = false;
    written_.store(handed_.load());
  }
}

void ReportWriter::NameWhatIsLeft(const char* who) {
  const std::string cause = last_failure_.empty() ? "" : " (" + last_failure_ + ")";
  if (const Slot* held = Unwritten())
    Say(std::string(who) + ": not written: \"" + held->path + "\"" + cause);
  if (flush_wanted_)
    Say(std::string(who) + ": not flushed: \"" + flush_path_ + "\"" + cause);
}

}  // namespace tarveld
