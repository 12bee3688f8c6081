// Suites that look at the disk after every call make the report writer
// write inside each call, so that they see every write the entry points
// hand over, one by one, with its failure named by the call that made it.
// The writer's own thread is tested in report_writer_test and end to end.
#pragma once

#include "plugin/report_writer.h"
#include "plugin/session.h"

namespace tarveld::testing {

// For the lifetime of the guard. Declare it after the platform guard, so
// that it ends first, while the test's platform is still installed.
class CallerThreadWrites {
 public:
  CallerThreadWrites() {
    Writer().Finish();
    Writer().DiscardForTesting();
    Writer().SetModeForTesting(ReportWriter::Mode::kCallerThread);
  }
  ~CallerThreadWrites() {
    // A test may leave a disk behind that fails every write; nothing of it
    // may reach the next test.
    Writer().DiscardForTesting();
    Writer().SetModeForTesting(ReportWriter::Mode::kThread);
  }
  CallerThreadWrites(const CallerThreadWrites&) = delete;
  CallerThreadWrites& operator=(const CallerThreadWrites&) = delete;
};

// A session as the module starts it: zeroed, with no store. The store is
// the writer's, so it goes too, after what is pending has been written.
inline void ResetSession() {
  Writer().Finish();
  Writer().DiscardForTesting();
  Session() = PluginSession{};
}

}  // namespace tarveld::testing
