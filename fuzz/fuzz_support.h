// What the fuzz targets share: a key made from a length alone, so that the
// fuzzer steers the text rather than the key, and the failure a call
// raises, as text, to compare calls by.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "core/process_values.h"
#include "failure_of.h"

// A key of length bytes, the same for the same length. The last few are
// kept: making a key of a megabyte for every input would be most of the
// work.
inline const ByteString& FuzzKey(std::size_t length) {
  static std::map<std::size_t, ByteString> made;
  if (const auto found = made.find(length); found != made.end()) return found->second;
  if (made.size() >= 16) made.clear();
  ByteString& key = made[length];
  key.resize(length);
  std::uint64_t x = 0x9E3779B97F4A7C15ull ^ length;
  for (auto& byte : key) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    byte = static_cast<std::uint8_t>(x >> 24);
  }
  return key;
}

// The key length the first three bytes of an input choose: 100 to 255,
// 256 to 65,535 or 65,536 to 1,114,111 bytes, every mode's range.
inline std::size_t FuzzKeyLength(const std::uint8_t* data) {
  const std::uint32_t n = data[1] | (static_cast<std::uint32_t>(data[2]) << 8);
  switch (data[0] % 3) {
    case 0: return 100 + n % 156;
    case 1: return 256 + n % 65280;
    default: return 65536 + (n << 4 | (data[0] >> 4)) % 1048576;
  }
}

// Stops the fuzzer with a finding when a property does not hold.
inline void Require(bool holds) {
  if (!holds) std::abort();
}
