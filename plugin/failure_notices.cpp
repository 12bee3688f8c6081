#include "plugin/failure_notices.h"

#include <utility>

#include "platform/platform.h"

namespace tarveld {
namespace {

std::string_view FileWord(WrittenFile file) {
  return file == WrittenFile::kReport ? "report" : "journal";
}

std::size_t IndexOf(WrittenFile file) {
  return file == WrittenFile::kReport ? 0 : 1;
}

// Made when the module is loaded, before the writer (a static made at its
// first use), so that it is destroyed after it: the writer's last writes
// at unload still report here. The unload at process exit, which may
// follow a writer ended holding this lock, never comes here
// (ReportWriter::FinishAfterThreadsEnded).
FailureNotices notices(&platform::MonotonicMilliseconds);

}  // namespace

std::string FailureText(WrittenFile file, const Exception& failure) {
  std::string text(FileWord(file));
  text += file == WrittenFile::kReport ? ": not written: " : ": not flushed: ";
  text += platform::FailureReason(failure.OsError());
  text += " (";
  text += ClassAndMessage(failure);
  text += ')';
  return text;
}

std::string_view RecoveryText(WrittenFile file) {
  return file == WrittenFile::kReport ? "report: written again" : "journal: flushed again";
}

FailureNotices::FailureNotices(Clock clock) : clock_(clock) {}

// The text is composed before the lock is taken, even when the rate then
// drops it: a failure costs a retry pause of 50 ms at least, so this runs
// a few times a second at most.
void FailureNotices::Failed(WrittenFile file, const Exception& failure) noexcept {
  try {
    std::string text = FailureText(file, failure);
    platform::MonitorLock lock(monitor_);
    Run& run = runs_[IndexOf(file)];
    const std::uint64_t now = clock_();
    if (run.failing && now - run.told_ms < kRepeatMs)
      return;
    run.failing = true;
    run.told_ms = now;
    Queue(std::move(text));
  } catch (...) {
    // Out of memory: this failure goes untold; the debug output named it.
  }
}

void FailureNotices::Succeeded(WrittenFile file) noexcept {
  try {
    platform::MonitorLock lock(monitor_);
    Run& run = runs_[IndexOf(file)];
    if (!run.failing)
      return;
    run.failing = false;
    Queue(std::string(RecoveryText(file)));
  } catch (...) {
    // Out of memory: the run is over all the same.
  }
}

std::vector<std::string> FailureNotices::TakeDue() noexcept {
  std::vector<std::string> due;
  platform::MonitorLock lock(monitor_);
  due.swap(due_);
  return due;
}

void FailureNotices::ResetForTesting() noexcept {
  platform::MonitorLock lock(monitor_);
  due_.clear();
  for (Run& run : runs_)
    run = Run{};
}

void FailureNotices::Queue(std::string text) {
  if (due_.size() < kMostWaiting)
    due_.push_back(std::move(text));
}

FailureNotices& Notices() {
  return notices;
}

}  // namespace tarveld
