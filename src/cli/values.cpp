#include "cli/values.h"

#include "keyio/key.h"

std::span<const std::uint8_t> KeyBytes;
std::int32_t CipherMode = 0;

void ReleaseValues() {
  ReleaseKey();
  CipherMode = 0;
}
