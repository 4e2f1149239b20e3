// HexToInt on any bytes: the value of a field of hex digits, its low 32 bits
// as a signed number; the conversion error for anything else.
#include <cstddef>
#include <cstdint>

#include "cipher/validate.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view field(reinterpret_cast<const char*>(data), size);
  std::uint32_t expected = 0;
  bool valid = size > 0;
  for (const char c : field) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) valid = false;
    expected = expected << 4 | static_cast<std::uint32_t>(digit & 15);
  }
  std::int32_t value = 0;
  const std::string failure = FailureOf([&] { value = HexToInt(field); });
  if (valid) {
    Require(failure.empty() && value == static_cast<std::int32_t>(expected));
  } else {
    Require(failure == "ConversionError: \"$" + std::string(field) + "\" is an invalid integer");
  }
  return 0;
}
