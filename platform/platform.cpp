#include "platform/platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
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

void ReserveForGrowth(std::string& bytes, std::uint64_t size, std::size_t chunk) {
  if (size > bytes.max_size() / 2)
    return;  // the read fails on its own
  const auto whole = static_cast<std::size_t>(size);
  bytes.reserve(whole + whole / 8 + chunk);
}

}  // namespace tarveld::platform
