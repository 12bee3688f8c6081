#include "platform/platform.h"

namespace tarveld::platform {
namespace {
Platform* installed = nullptr;
}  // namespace

Platform& Current() {
  return installed != nullptr ? *installed : Native();
}

void Install(Platform* platform) {
  installed = platform;
}

}  // namespace tarveld::platform
