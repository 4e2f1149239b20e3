#include "cipher/validate.h"

#include <algorithm>
#include <string>

#include "cipher/format.h"
#include "core/failure.h"
#include "core/process_values.h"

std::int32_t HexToInt(std::string_view field) {
  std::uint64_t value = 0;
  bool valid = !field.empty();
  for (char c : field) {
    const std::uint8_t digit = kHexValues.value[static_cast<std::uint8_t>(c)];
    if (digit == kNotHex) valid = false;
    value = (value << 4) | (digit & 0x0F);
  }
  if (!valid) {
    std::string message = "\"$";
    message.append(field).append("\" is an invalid integer");
    RaiseFailure(kConversionError, std::move(message));
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

namespace {

bool SignatureMatches(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                      const ModeLayout& layout) {
  const auto key_length = static_cast<std::int64_t>(key.size());
  bool all_match = true;
  // All five entries are converted even after a mismatch, so a bad field
  // anywhere in them is always reported.
  for (int i = 1; i < kSignatureEntries; ++i) {
    const std::int64_t entry = 3 + static_cast<std::int64_t>(i) * layout.entry_length;
    std::int64_t p = HexToInt(FieldAt(text, entry, layout.position_width));
    // Validation clamps: beyond the key names its last byte, below 1 its first.
    p = std::clamp<std::int64_t>(p, 1, key_length);
    const std::uint8_t k = key[static_cast<std::size_t>(p - 1)];
    const std::int32_t v = HexToInt(FieldAt(text, entry + layout.position_width + 1, 2));
    if ((v ^ k) != static_cast<std::uint8_t>(kSignatureWord[i - 1])) all_match = false;
  }
  return all_match;
}

}  // namespace

std::int32_t ValidateText(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key) {
  const std::string_view code = FieldAt(text, 0, 2);
  for (const ModeLayout& layout : kModeLayouts) {
    if (static_cast<std::int64_t>(text.size()) < layout.shortest_text) continue;
    if (code != layout.code && code != layout.also_read) continue;
    return SignatureMatches(text, key, layout) ? layout.mode : 0;
  }
  return 0;
}

std::int64_t DecidingLength(std::span<const std::uint8_t> code) {
  const std::string_view field = FieldAt(code, 0, 2);
  for (const ModeLayout& layout : kModeLayouts) {
    if (field == layout.code || field == layout.also_read) return layout.shortest_text;
  }
  return 2;
}

bool ValidateCipherText(std::span<const std::uint8_t> head) {
  CipherMode = ValidateText(head, KeyBytes);
  return CipherMode != 0;
}
