#include "cipher/decrypt.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cipher/avx2.h"
#include "cipher/format.h"
#include "cipher/validate.h"
#include "core/console.h"
#include "core/failure.h"

namespace {

// An entry is decoded only while at least this many characters remain from
// its start: the end-marker length plus one.
constexpr std::int64_t kMinRemaining = static_cast<std::int64_t>(kEndMarker.size()) + 1;

[[noreturn]] void PositionBeyondKey(std::int64_t position, std::int64_t key_length) {
  RaiseFailure(kRangeError, "Key position " + std::to_string(position) +
                                " lies beyond the key length " + std::to_string(key_length));
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
// (a field that is not hex raises the conversion error, a position beyond
// the key the range error). False to stop.
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

// The value of every two-character hex field, indexed by its two bytes as
// read from memory (the first character in the low byte): 0-255, or
// kNotPair when either character is not a hex digit of either case. One
// lookup per two digits; the entries a real text uses fill a few cache lines.
constexpr std::uint16_t kNotPair = 0x100;
struct PairValueTable {
  std::uint16_t value[65536];
};
constexpr PairValueTable MakePairValues() {
  PairValueTable table{};
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      const std::uint8_t high = kHexValues.value[first];
      const std::uint8_t low = kHexValues.value[second];
      table.value[first | (second << 8)] =
          (high | low) & kNotHex ? kNotPair : static_cast<std::uint16_t>((high << 4) | low);
    }
  }
  return table;
}
constexpr PairValueTable kPairValues = MakePairValues();

inline std::uint16_t PairAt(const std::uint8_t* p) {
  std::uint16_t pair;
  std::memcpy(&pair, p, 2);
  return kPairValues.value[pair];
}

// Parses count whole entries from p into key indexes (position - 1) and
// values. False when any field is not plain hex or any position lies outside
// 1 to the key length: those entries need the exact rules of the slow road.
// Nothing is looked up here, so a bad entry never reads outside the key.
template <int P>
bool ParseEntries(const std::uint8_t* p, int count, std::uint32_t key_length,
                  std::uint32_t* index, std::uint8_t* value) {
  std::uint32_t bad = 0;
  for (int i = 0; i < count; ++i, p += P + 4) {
    std::uint32_t position = 0;
    for (int j = 0; j < P / 2; ++j) {
      const std::uint32_t pair = PairAt(p + 2 * j);
      bad |= pair;
      position = (position << 8) | pair;  // garbage only when bad
    }
    // Position 0 wraps to the top and fails the test as well.
    const std::uint32_t at = position - 1;
    bad |= static_cast<std::uint32_t>(at >= key_length) * kNotPair;
    const std::uint32_t pair = PairAt(p + P + 1);
    bad |= pair;
    index[i] = at;
    value[i] = static_cast<std::uint8_t>(pair);
  }
  return (bad & kNotPair) == 0;
}

// Entries decoded per run of the fast road: several chunks of the AVX2 loop,
// which looks up one chunk's key bytes while it parses the next, and little
// enough for the portable loop's arrays to stay in the first-level cache. A
// run that meets a bad field is decoded again entry by entry.
constexpr int kRunEntries = 2048;

template <int P>
bool DecodeWindowOf(std::span<const std::uint8_t> window, std::span<const std::uint8_t> key,
                    const ModeLayout& layout, std::int64_t max_entries, std::uint8_t* out,
                    std::int64_t& count, CipherLoops loops) {
  constexpr int kEntry = P + 4;
  const auto length = static_cast<std::int64_t>(window.size());
  // The fast road takes entries that lie whole in the window with at least
  // kMinRemaining characters from their start; it reads both fields of an
  // entry as pairs of digits.
  constexpr std::int64_t kWhole = std::max<std::int64_t>(kEntry, kMinRemaining);
  const std::int64_t whole_entries =
      std::min(max_entries, length < kWhole ? 0 : (length - kWhole) / kEntry + 1);
  // Keys are at most 1,000,000,000 bytes; a longer one could only reach
  // positions it holds anyway.
  const auto key_length = static_cast<std::uint32_t>(std::min<std::size_t>(key.size(), UINT32_MAX));
  std::uint32_t index[kRunEntries];
  std::uint8_t value[kRunEntries];
  // Decodes a run into out: whole groups the fast way where the processor
  // has AVX2 and the bytes it reads past them lie in the window, the rest
  // portably. False when the run needs the exact rules.
  const bool avx2 = loops == CipherLoops::kFastest && Avx2Usable();
  std::int64_t offset = 0;
  auto decode = [&](const std::uint8_t* at, int run, std::uint8_t* to) {
    int quick = 0;
    if constexpr (kAvx2Loops) {
      if (avx2) {
        const std::int64_t readable = (length - offset - kAvx2ReadPast) / kEntry;
        quick = static_cast<int>(std::clamp<std::int64_t>(readable, 0, run)) / kAvx2DecodeGroup *
                kAvx2DecodeGroup;
        if (!DecodeEntriesAvx2<P>(at, quick, key.data(), key_length, to)) return false;
      }
    }
    const int rest = run - quick;
    if (!ParseEntries<P>(at + quick * kEntry, rest, key_length, index, value)) return false;
    for (int i = 0; i < rest; ++i) to[quick + i] = static_cast<std::uint8_t>(value[i] ^ key[index[i]]);
    return true;
  };
  count = 0;
  while (count < max_entries) {
    const auto run = static_cast<int>(std::min<std::int64_t>(kRunEntries, whole_entries - count));
    if (run > 0 && loops != CipherLoops::kExact && decode(window.data() + offset, run, out + count)) {
      count += run;
      offset += static_cast<std::int64_t>(run) * kEntry;
      continue;
    }
    // Entry by entry with every rule of the format, as far as the run
    // reaches (at least one entry): the end marker, the short tail, a field
    // that is not hex, a position outside the key.
    const int last = std::max(run, 1);
    for (int i = 0; i < last; ++i) {
      std::uint8_t byte;
      if (!DecodeEntryExactly(window, key, layout, offset, byte)) return true;
      out[count++] = byte;
      offset += kEntry;
    }
  }
  return false;
}

}  // namespace

bool DecodeWindow(std::span<const std::uint8_t> window, std::span<const std::uint8_t> key,
                  std::int32_t mode, std::int64_t max_entries, std::uint8_t* out,
                  std::int64_t& count, CipherLoops loops) {
  const ModeLayout& layout = LayoutOf(mode);
  switch (layout.position_width) {
    case 2: return DecodeWindowOf<2>(window, key, layout, max_entries, out, count, loops);
    case 4: return DecodeWindowOf<4>(window, key, layout, max_entries, out, count, loops);
    default: return DecodeWindowOf<8>(window, key, layout, max_entries, out, count, loops);
  }
}

bool DecodingStopsIn(std::span<const std::uint8_t> window, std::int32_t mode,
                     std::int64_t key_length, std::int64_t& checked) {
  const ModeLayout& layout = LayoutOf(mode);
  const int width = layout.position_width;
  // The end marker decides as soon as it is there; any other entry once it
  // lies whole in the window with the characters the length test reads.
  const auto marker = static_cast<std::int64_t>(kEndMarker.size());
  const std::int64_t whole = std::max<std::int64_t>(layout.entry_length, kMinRemaining);
  const auto length = static_cast<std::int64_t>(window.size());
  for (std::int64_t at = checked * layout.entry_length; length - at >= marker;
       at += layout.entry_length, ++checked) {
    const std::uint8_t* entry = window.data() + at;
    if (entry[0] == kEndMarker[0] && FieldAt(window, at, static_cast<int>(marker)) == kEndMarker) {
      return true;
    }
    if (length - at < whole) break;
    std::uint32_t position = 0, bad = PairAt(entry + width + 1);
    for (int i = 0; i < width; i += 2) {
      const std::uint32_t pair = PairAt(entry + i);
      bad |= pair;
      position = (position << 8) | (pair & 0xFF);
    }
    // Eight digits from 80000000 up read as negative: the first key byte.
    const bool beyond = position <= 0x7FFFFFFF && position > static_cast<std::uint64_t>(key_length);
    if ((bad & kNotPair) != 0 || beyond) return true;
  }
  return false;
}

std::int64_t DecryptionStarsUpTo(std::int32_t mode, std::int64_t entries, std::int64_t length,
                                 std::int64_t stars, ProgressFn progress) {
  const ModeLayout& layout = LayoutOf(mode);
  for (;;) {
    // Progress is told the 1-based offset of the entry after each one
    // decoded: the first entry after which the next star appears.
    const std::int64_t at = NextStarAt(length, stars);
    const std::int64_t after = at - layout.first_entry;
    const std::int64_t entry = after <= layout.entry_length ? 1 : (after + layout.entry_length - 1) / layout.entry_length;
    if (entry > entries) return stars;
    const std::int64_t current = layout.first_entry + entry * layout.entry_length;
    progress(current, length);
    stars = std::max<std::int64_t>(stars, ProgressCount(current, length));
  }
}

void DecryptInto(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                 std::int32_t mode, ByteString& plain, ProgressFn progress, CipherLoops loops) {
  const ModeLayout& layout = LayoutOf(mode);
  const auto length = static_cast<std::int64_t>(text.size());
  const std::int64_t first = std::min(length, HeadLength(layout));
  // Entries that can pass the length test bound the output.
  const std::int64_t room = length - first - kMinRemaining;
  plain.clear();
  plain.resize(room < 0 ? 0 : static_cast<std::size_t>(room / layout.entry_length + 1));
  std::int64_t count = 0;
  // The stars of the entries decoded come before a failure is raised.
  auto finish = [&] {
    if (progress) DecryptionStarsUpTo(mode, count, length, 0, progress);
    plain.resize(static_cast<std::size_t>(count));
  };
  try {
    DecodeWindow(text.subspan(static_cast<std::size_t>(first)), key, mode, INT64_MAX, plain.data(),
                 count, loops);
  } catch (...) {
    finish();
    throw;
  }
  finish();
}
