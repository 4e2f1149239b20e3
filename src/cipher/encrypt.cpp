#include "cipher/encrypt.h"

#include <algorithm>
#include <cstring>

#include "cipher/avx2.h"
#include "core/console.h"

namespace {

// The value field with the commas on both sides, ",HH,", for every byte, as
// one 32-bit word in memory order: an entry is its position digits followed
// by this word.
struct ValueWordTable {
  std::uint32_t word[256];
};
constexpr ValueWordTable MakeValueWords() {
  ValueWordTable table{};
  for (int i = 0; i < 256; ++i) {
    const auto high = static_cast<std::uint8_t>(kHexPairs.pair[i][0]);
    const auto low = static_cast<std::uint8_t>(kHexPairs.pair[i][1]);
    const auto comma = static_cast<std::uint8_t>(kEntrySeparator);
    // Little-endian: the first character in memory is the lowest byte.
    table.word[i] = comma | (high << 8) | (low << 16) | (static_cast<std::uint32_t>(comma) << 24);
  }
  return table;
}
constexpr ValueWordTable kValueWords = MakeValueWords();

// The P upper-case hex digits of position, the most significant first, as
// the low P bytes of a word in memory order. Short fields take the digit
// pairs from the table; eight digits are made by arithmetic, which is fewer
// steps than four lookups and leaves the caches to the key.
template <int P>
inline std::uint64_t PositionDigits(std::uint32_t position) {
  static_assert(P == 2 || P == 4 || P == 8);
  if constexpr (P < 8) {
    std::uint64_t digits = 0;
    for (int i = 0; i < P / 2; ++i) {
      std::uint16_t pair;
      std::memcpy(&pair, kHexPairs.pair[(position >> (8 * (P / 2 - 1 - i))) & 0xFF], 2);
      digits |= static_cast<std::uint64_t>(pair) << (16 * i);
    }
    return digits;
  }
  // A one in each of the low P bytes.
  constexpr std::uint64_t kOnes = 0x0101010101010101ull >> (64 - 8 * P);
  std::uint64_t v = position;
  // Spread the nibbles, least significant first, one per byte.
  if constexpr (P == 8) v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
  if constexpr (P >= 4) v = (v | (v << 8)) & 0x00FF00FF00FF00FFull;
  v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0Full;
  // The text wants the most significant digit at the lowest address.
  v = __builtin_bswap64(v) >> (64 - 8 * P);
  // 0-9 become '0'-'9'; 10-15 get the 7 more that lead to 'A'-'F'.
  const std::uint64_t letters = ((v + 6 * kOnes) >> 4) & kOnes;
  return v + 0x30 * kOnes + letters * 7;
}

// Writes one entry: P digits of position, comma, two digits of value, comma.
// With kRoomAfter, the two bytes after an 8-bit entry may be overwritten
// too (one store instead of two): the next entry or the end marker always
// follows there and is written later.
template <int P, bool kRoomAfter = false>
inline void WriteEntry(std::uint8_t* out, std::uint32_t position, std::uint8_t value) {
  const std::uint64_t digits = PositionDigits<P>(position);
  const std::uint32_t tail = kValueWords.word[value];
  if constexpr (P == 8) {
    std::memcpy(out, &digits, 8);
    std::memcpy(out + 8, &tail, 4);
  } else {
    // Digits and tail in one word: P + 4 bytes, at most 8.
    const std::uint64_t entry = digits | (static_cast<std::uint64_t>(tail) << (8 * P));
    std::memcpy(out, &entry, kRoomAfter ? 8 : P + 4);
  }
}

// Draws in a block of the generator: a draw takes two of its outputs.
constexpr int kBlockDraws = kMtWords / 2;

// Encrypts count source bytes into count entries at out.
template <int P>
std::uint8_t* EncryptRun(const std::uint8_t* key, const Reducer& below,
                         const std::uint8_t* source, std::int64_t count,
                         Mt19937& generator, std::uint8_t* out) {
  while (count > 0) {
    if (generator.next == kMtWords) RefillMt19937(generator);
    // A block holds an even number of outputs, so whole draws fit the rest
    // of the block.
    const int draws = static_cast<int>(
        std::min<std::int64_t>(count, (kMtWords - generator.next) / 2));
    const std::uint32_t* words = generator.output + generator.next;
    if constexpr (P < 8) {
      // Keys of these modes are at most 64 KiB and stay in the caches: one
      // loop does it all.
      for (int i = 0; i < draws; ++i) {
        const auto at = static_cast<std::uint32_t>(Reduce(below, Join63(words[2 * i], words[2 * i + 1])));
        WriteEntry<P, true>(out, at + 1, static_cast<std::uint8_t>(source[i] ^ key[at]));
        out += P + 4;
      }
    } else {
      // Keys of up to 1 GB, mostly far larger than the caches: the key
      // lookups share a short loop with the draws only, so that many of them
      // are in flight at once instead of the few that fit beside the
      // formatting.
      std::uint32_t index[kBlockDraws];
      std::uint8_t value[kBlockDraws];
      for (int i = 0; i < draws; ++i) {
        const auto at = static_cast<std::uint32_t>(Reduce(below, Join63(words[2 * i], words[2 * i + 1])));
        index[i] = at;
        value[i] = static_cast<std::uint8_t>(source[i] ^ key[at]);
      }
      for (int i = 0; i < draws; ++i) {
        WriteEntry<P>(out, index[i] + 1, value[i]);
        out += P + 4;
      }
    }
    generator.next += 2 * draws;
    source += draws;
    count -= draws;
  }
  return out;
}

// Writes the six signature entries, a position drawn for each, entry 0's
// included.
template <int P>
void BuildSignature(std::span<const std::uint8_t> key, Mt19937& generator, std::uint8_t* out) {
  const Reducer below = MakeReducer(key.size() - 1);
  for (int r = 0; r < kSignatureEntries; ++r) {
    const std::uint64_t position = RandomKeyPosition(generator, below);
    const std::uint8_t k = key[position - 1];
    // Entry 0 carries the key byte itself; entries 1 to 5 mask the letters.
    const auto value = static_cast<std::uint8_t>(r == 0 ? k : kSignatureWord[r - 1] ^ k);
    WriteEntry<P>(out, static_cast<std::uint32_t>(position), value);
    out += P + 4;
  }
}

template <int P>
void WriteHeadOf(std::span<const std::uint8_t> key, const ModeLayout& layout, Mt19937& generator,
                 std::uint8_t* out) {
  std::memcpy(out, layout.code.data(), 2);
  out[2] = kEntrySeparator;
  BuildSignature<P>(key, generator, out + 3);
}

template <int P>
std::uint8_t* EncryptEntriesOf(std::span<const std::uint8_t> key, const std::uint8_t* source,
                               std::int64_t count, Mt19937& generator, std::uint8_t* out,
                               CipherLoops loops) {
  const Reducer below = MakeReducer(key.size() - 1);
  if constexpr (kAvx2Loops) {
    if (loops == CipherLoops::kFastest && Avx2Usable()) {
      // The fast loop leaves the last few bytes to the portable one.
      const std::int64_t quick = EncryptEntriesAvx2<P>(key.data(), below.n, source, count, generator, out);
      out += quick * (P + 4);
      source += quick;
      count -= quick;
    }
  }
  return EncryptRun<P>(key.data(), below, source, count, generator, out);
}

}  // namespace

void WriteHead(std::span<const std::uint8_t> key, const ModeLayout& layout, Mt19937& generator,
               std::uint8_t* out) {
  switch (layout.position_width) {
    case 2: return WriteHeadOf<2>(key, layout, generator, out);
    case 4: return WriteHeadOf<4>(key, layout, generator, out);
    default: return WriteHeadOf<8>(key, layout, generator, out);
  }
}

std::uint8_t* EncryptEntries(std::span<const std::uint8_t> key, const ModeLayout& layout,
                             std::span<const std::uint8_t> source, Mt19937& generator,
                             std::uint8_t* out, CipherLoops loops) {
  const auto count = static_cast<std::int64_t>(source.size());
  switch (layout.position_width) {
    case 2: return EncryptEntriesOf<2>(key, source.data(), count, generator, out, loops);
    case 4: return EncryptEntriesOf<4>(key, source.data(), count, generator, out, loops);
    default: return EncryptEntriesOf<8>(key, source.data(), count, generator, out, loops);
  }
}

std::int64_t EncryptionStarsUpTo(std::int64_t done, std::int64_t total, std::int64_t stars,
                                 ProgressFn progress) {
  for (;;) {
    const std::int64_t at = NextStarAt(total, stars);
    if (at > done) return stars;
    progress(at, total);
    stars = std::max<std::int64_t>(stars, ProgressCount(at, total));
  }
}

void EncryptInto(std::span<const std::uint8_t> key, const ModeLayout& layout,
                 std::span<const std::uint8_t> source, Mt19937& generator,
                 std::uint8_t* out, ProgressFn progress, CipherLoops loops) {
  WriteHead(key, layout, generator, out);
  out += HeadLength(layout);
  const auto total = static_cast<std::int64_t>(source.size());
  std::int64_t done = 0;
  std::int64_t stars = 0;
  while (done < total) {
    // Only at the next star point can the progress bar change.
    const std::int64_t until = progress ? std::min(total, NextStarAt(total, stars)) : total;
    out = EncryptEntries(key, layout, source.subspan(done, until - done), generator, out, loops);
    done = until;
    if (progress) stars = EncryptionStarsUpTo(done, total, stars, progress);
  }
  std::memcpy(out, kEndMarker.data(), kEndMarker.size());
}
