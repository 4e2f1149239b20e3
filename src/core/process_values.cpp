#include "core/process_values.h"

std::span<const std::uint8_t> KeyBytes;
std::int32_t CipherMode = 0;
