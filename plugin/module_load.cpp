// What the module does when the host loads it: the process-wide regional
// settings are read once, before the host can call any entry point. This
// file is linked only into the loadable module, so tests that link the core
// directly choose their own settings.
#include "platform/platform.h"
#include "report/format_settings.h"

namespace {

struct ModuleLoad {
  ModuleLoad() noexcept {
    try {
      tarveld::LoadFormatSettings(tarveld::ProcessFormatSettings());
    } catch (...) {
      // Only memory can run out here; the defaults then stand.
      try {
        tarveld::platform::Current().DebugOutput("module load: regional settings not read");
      } catch (...) {
      }
    }
  }
};

const ModuleLoad module_load;

}  // namespace
