#include "cipher/decrypt.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cipher/format.h"
#include "cipher/validate.h"
#include "cli/console.h"
#include "cli/failure.h"

namespace {

// An entry is decoded only while at least this many characters remain from
// its start: the end-marker length plus one.
constexpr std::int64_t kMinRemaining = static_cast<std::int64_t>(kEndMarker.size()) + 1;

[[noreturn]] void PositionBeyondKey(std::int64_t position, std::int64_t key_length) {
  RaiseFailure(kRangeError, "Key position " + std::to_string(position) +
                                " lies beyond the key length " + std::to_string(key_length));
}

// The field of width characters at 0-based offset, cut short at the end.
std::string_view FieldAt(std::span<const std::uint8_t> text, std::int64_t offset, int width) {
  const auto size = static_cast<std::int64_t>(text.size());
  if (offset >= size) return {};
  const std::int64_t count = std::min<std::int64_t>(width, size - offset);
  return {reinterpret_cast<const char*>(text.data() + offset), static_cast<std::size_t>(count)};
}

// The key byte for a decoded position field: below 1 names the first byte,
// beyond the key is an error (the text was altered or the key is shorter
// than the one it was made with).
inline std::uint8_t KeyByteAt(std::span<const std::uint8_t> key, std::int32_t position) {
  if (position < 1) return key[0];
  if (static_cast<std::uint64_t>(position) > key.size()) {
    PositionBeyondKey(position, static_cast<std::int64_t>(key.size()));
  }
  return key[static_cast<std::size_t>(position) - 1];
}

// The slow road for the entry at 0-based offset, with every rule of the
// format: the end marker first, then the length test, then the two fields
// (which raise the conversion error when they are not hex). False to stop.
bool DecodeEntryExactly(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                        const ModeLayout& layout, std::int64_t offset, std::uint8_t& byte) {
  if (FieldAt(text, offset, static_cast<int>(kEndMarker.size())) == kEndMarker) return false;
  if (static_cast<std::int64_t>(text.size()) - offset < kMinRemaining) return false;
  const std::int32_t position = HexToInt(FieldAt(text, offset, layout.position_width));
  const std::uint8_t k = KeyByteAt(key, position);
  const std::int32_t value = HexToInt(FieldAt(text, offset + layout.position_width + 1, 2));
  byte = static_cast<std::uint8_t>(value ^ k);
  return true;
}

// Decodes the entry at p when both fields are plain hex; false sends the
// entry down the slow road.
template <int P>
inline bool DecodeEntryFast(const std::uint8_t* p, std::span<const std::uint8_t> key,
                            std::uint8_t& byte) {
  std::uint32_t position = 0;
  std::uint32_t bad = 0;
  for (int i = 0; i < P; ++i) {
    const std::uint8_t digit = kHexValues.value[p[i]];
    bad |= digit;
    position = (position << 4) | digit;
  }
  const std::uint8_t high = kHexValues.value[p[P + 1]];
  const std::uint8_t low = kHexValues.value[p[P + 2]];
  bad |= high | low;
  if (bad & kNotHex) return false;
  byte = static_cast<std::uint8_t>(((high << 4) | low) ^
                                   KeyByteAt(key, static_cast<std::int32_t>(position)));
  return true;
}

template <int P>
void DecryptAll(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                const ModeLayout& layout, ByteString& plain, ProgressFn progress) {
  constexpr int kEntry = P + 4;
  const auto length = static_cast<std::int64_t>(text.size());
  const std::int64_t first = layout.first_entry - 1;  // 0-based
  // Entries that can pass the length test bound the output; the buffer is
  // cut to the entries really decoded at the end.
  const std::int64_t room = length - first - kMinRemaining;
  plain.clear();
  plain.resize(room < 0 ? 0 : static_cast<std::size_t>(room / kEntry + 1));
  // The fast road takes entries that lie whole in the text with at least
  // kMinRemaining characters from their start.
  constexpr std::int64_t kWhole = std::max<std::int64_t>(kEntry, kMinRemaining);

  std::int64_t count = 0;
  std::int64_t offset = first;
  std::int64_t stars = 0;
  // Progress is told the 1-based offset of the next entry; the first entry
  // after which a star can appear:
  auto next_call = [&](std::int64_t star_count) {
    const std::int64_t at = NextStarAt(length, star_count);  // 1-based offset
    const std::int64_t after = at - layout.first_entry;
    return after <= kEntry ? 1 : (after + kEntry - 1) / kEntry;
  };
  std::int64_t call_at = progress ? next_call(0) : INT64_MAX;
  for (;;) {
    std::uint8_t byte;
    const bool fast = offset + kWhole <= length && DecodeEntryFast<P>(text.data() + offset, key, byte);
    if (!fast && !DecodeEntryExactly(text, key, layout, offset, byte)) break;
    plain[static_cast<std::size_t>(count++)] = byte;
    offset += kEntry;
    if (count == call_at) {
      progress(offset + 1, length);
      stars = std::max<std::int64_t>(stars, ProgressCount(offset + 1, length));
      call_at = next_call(stars);
    }
  }
  plain.resize(static_cast<std::size_t>(count));
}

}  // namespace

void DecryptInto(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                 std::int32_t mode, ByteString& plain, ProgressFn progress) {
  const ModeLayout& layout = LayoutOf(mode);
  switch (layout.position_width) {
    case 2: return DecryptAll<2>(text, key, layout, plain, progress);
    case 4: return DecryptAll<4>(text, key, layout, plain, progress);
    default: return DecryptAll<8>(text, key, layout, plain, progress);
  }
}

void DecryptCipherText() {
  StartProgress();
  DecryptInto(CipherText, KeyBytes, CipherMode, PlainBytes, AdvanceProgress);
  WriteLine("");
  WriteLine("");
  WriteLine("Talvex Decryption was successful!");
}
