#include "platform/clock.h"

#include <ctime>

namespace platform {

std::uint32_t MillisecondsSinceStart() {
  // CLOCK_BOOTTIME counts from boot and keeps counting in suspend, like the
  // tick count of the system the tool was first written for.
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace platform
