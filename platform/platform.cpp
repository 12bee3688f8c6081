#include "platform/platform.h"

#include <atomic>

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

}  // namespace tarveld::platform
