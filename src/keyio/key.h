// Loading the key file and choosing the cipher mode from its size.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::int64_t kMinKeyLength = 100;
inline constexpr std::int64_t kMaxKeyLength = 1000000000;

// The cipher mode a key of the given length selects: 8, 16 or 32. The
// position field of each mode holds every position of such a key.
constexpr std::int32_t ModeForKeyLength(std::int64_t length) {
  return length <= 255 ? 8 : length <= 65535 ? 16 : 32;
}

// "KEYFILE SIZE: <n> bytes -> <mode> bit encryption"
std::string KeySizeLine(std::int64_t length);

// Loads KeyBytes and sets CipherMode, printing the size line. False after an
// error block, when the key is missing or of the wrong size.
bool LoadKeyFile(const std::string& path);
