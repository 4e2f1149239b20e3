// The millisecond clock that seeds the random generator.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t MillisecondsSinceStart();

}  // namespace platform
