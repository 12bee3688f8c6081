#include "platform/platform.h"

#include <atomic>
#include <string>

namespace tarveld::platform {
namespace {
// Read by the report writer's thread too.
std::atomic<Platform*> installed{nullptr};
}  // namespace

Platform& Current() {
  Platform* const platform = installed.load(std::memory_order_acquire);
  return platform != nullptr ? *platform : Native();
}

void Install(Platform* platform) {
  installed.store(platform, std::memory_order_release);
}

std::string FailureReason(int os_error) {
  switch (CauseOf(os_error)) {
    case FailureCause::kHeld:
      return "another program held it";
    case FailureCause::kDenied:
      return "access was denied";
    case FailureCause::kDiskFull:
      return "the disk was full";
    case FailureCause::kOther:
      break;
  }
  return "system error " + std::to_string(os_error);
}

}  // namespace tarveld::platform
