// The writer's failures, told in the journal where a player sees them.
//
// A report that cannot be replaced or a journal that cannot be flushed is
// found by the writer (on its thread, or inside a call when none runs),
// but only the game's thread appends to the journal. So the writer only
// records each outcome here, and the game's thread takes the texts due at
// its next call that appends a journal line (entry_points.cpp), each a
// FAILURE line of its own (journal.h), dated as a message is:
//
//   report: not written: another program held it (EFCreateError: Unable to create file "...")
//   report: written again
//   journal: not flushed: the disk was full (EWriteError: Unable to flush file "...")
//   journal: flushed again
//
// For the report and the journal apart: the first failure of a run is told
// at once, further ones at most once a minute, so a file locked for an
// hour costs about sixty lines, not one per retry; the first success after
// failures is told once and ends the run, so the next failure is a first
// again. At most kMostWaiting texts wait for the game's thread; more are
// dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread.h"
#include "report/exceptions.h"

namespace tarveld {

// The files whose writes the writer does.
enum class WrittenFile { kReport, kJournal };

// "report: not written: REASON (CLASS: MESSAGE)" or "journal: not flushed:
// ...": REASON from the failure's system code (platform::FailureReason),
// CLASS: MESSAGE as the debug output names the failure.
std::string FailureText(WrittenFile file, const Exception& failure);

// "report: written again" or "journal: flushed again".
std::string_view RecoveryText(WrittenFile file);

class FailureNotices {
 public:
  using Clock = std::uint64_t (*)();

  // Failures after the first of a run are told at most this often.
  static constexpr std::uint64_t kRepeatMs = 60 * 1000;
  static constexpr std::size_t kMostWaiting = 16;

  // `clock` gives milliseconds that never go back.
  explicit FailureNotices(Clock clock);
  FailureNotices(const FailureNotices&) = delete;
  FailureNotices& operator=(const FailureNotices&) = delete;

  // Any thread, any lock held: they take only this mailbox's own lock,
  // never while the disk is touched. A text that cannot be composed (no
  // memory) is dropped.
  void Failed(WrittenFile file, const Exception& failure) noexcept;
  void Succeeded(WrittenFile file) noexcept;

  // The game's thread: the texts due, oldest first, forgotten here.
  std::vector<std::string> TakeDue() noexcept;

  // Forgets the texts due and every run: for a test that starts afresh.
  void ResetForTesting() noexcept;

 private:
  struct Run {
    bool failing = false;
    std::uint64_t told_ms = 0;  // when its latest failure was told
  };

  void Queue(std::string text);

  const Clock clock_;
  platform::Monitor monitor_;
  // Under monitor_.
  Run runs_[2];
  std::vector<std::string> due_;
};

// The mailbox of this loaded module, on the monotonic clock.
FailureNotices& Notices();

}  // namespace tarveld
