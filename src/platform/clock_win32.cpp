#include "platform/clock.h"

#include <windows.h>

namespace platform {

std::uint32_t MillisecondsSinceStart() { return GetTickCount(); }

}  // namespace platform
