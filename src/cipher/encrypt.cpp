#include "cipher/encrypt.h"

#include <algorithm>
#include <cstring>

#include "cli/console.h"
#include "platform/clock.h"

namespace {

// Writes one entry: P digits of position, comma, two digits of value, comma.
template <int P>
inline void WriteEntry(std::uint8_t* out, std::uint32_t position, std::uint8_t value) {
  static_assert(P == 2 || P == 4 || P == 8);
  char entry[P + 4];
  for (int i = 0; i < P / 2; ++i) {
    const auto byte = static_cast<std::uint8_t>(position >> (8 * (P / 2 - 1 - i)));
    std::memcpy(entry + 2 * i, kHexPairs.pair[byte], 2);
  }
  entry[P] = kEntrySeparator;
  std::memcpy(entry + P + 1, kHexPairs.pair[value], 2);
  entry[P + 3] = kEntrySeparator;
  std::memcpy(out, entry, P + 4);
}

// Encrypts count source bytes into count entries at out.
template <int P>
std::uint8_t* EncryptRun(const std::uint8_t* key, const Reducer& below,
                         const std::uint8_t* source, std::int64_t count,
                         Mt19937& generator, std::uint8_t* out) {
  while (count > 0) {
    if (generator.next == kMtWords) RefillMt19937(generator);
    // A draw takes two outputs and a block holds an even number of them, so
    // whole draws fit the rest of the block.
    const std::int64_t draws = std::min<std::int64_t>(count, (kMtWords - generator.next) / 2);
    const std::uint32_t* words = generator.output + generator.next;
    for (std::int64_t i = 0; i < draws; ++i) {
      const std::uint64_t position = Reduce(below, Join63(words[2 * i], words[2 * i + 1])) + 1;
      WriteEntry<P>(out, static_cast<std::uint32_t>(position),
                    static_cast<std::uint8_t>(source[i] ^ key[position - 1]));
      out += P + 4;
    }
    generator.next += static_cast<int>(2 * draws);
    source += draws;
    count -= draws;
  }
  return out;
}

template <int P>
void WriteSignatureOf(std::span<const std::uint8_t> key, Mt19937& generator, std::uint8_t* out) {
  const Reducer below = MakeReducer(key.size() - 1);
  for (int r = 0; r < kSignatureEntries; ++r) {
    const std::uint64_t position = DrawBelow(generator, below) + 1;
    const std::uint8_t k = key[position - 1];
    // Entry 0 carries the key byte itself; entries 1 to 5 mask the letters.
    const auto value = static_cast<std::uint8_t>(r == 0 ? k : kSignatureWord[r - 1] ^ k);
    WriteEntry<P>(out, static_cast<std::uint32_t>(position), value);
    out += P + 4;
  }
}

template <int P>
void EncryptAll(std::span<const std::uint8_t> key, const ModeLayout& layout,
                std::span<const std::uint8_t> source, Mt19937& generator,
                std::uint8_t* out, ProgressFn progress) {
  std::memcpy(out, layout.code.data(), 2);
  out[2] = kEntrySeparator;
  out += 3;
  WriteSignatureOf<P>(key, generator, out);
  out += kSignatureEntries * (P + 4);

  const Reducer below = MakeReducer(key.size() - 1);
  const auto total = static_cast<std::int64_t>(source.size());
  std::int64_t done = 0;
  std::int64_t stars = 0;
  while (done < total) {
    // Only at the next star point can the progress bar change.
    const std::int64_t until = progress ? std::min(total, NextStarAt(total, stars)) : total;
    out = EncryptRun<P>(key.data(), below, source.data() + done, until - done, generator, out);
    done = until;
    if (progress) {
      progress(done, total);
      stars = std::max<std::int64_t>(stars, ProgressCount(done, total));
    }
  }
  std::memcpy(out, kEndMarker.data(), kEndMarker.size());
}

}  // namespace

void WriteSignature(std::span<const std::uint8_t> key, const ModeLayout& layout,
                    Mt19937& generator, std::uint8_t* out) {
  switch (layout.position_width) {
    case 2: return WriteSignatureOf<2>(key, generator, out);
    case 4: return WriteSignatureOf<4>(key, generator, out);
    default: return WriteSignatureOf<8>(key, generator, out);
  }
}

void EncryptInto(std::span<const std::uint8_t> key, const ModeLayout& layout,
                 std::span<const std::uint8_t> source, Mt19937& generator,
                 std::uint8_t* out, ProgressFn progress) {
  switch (layout.position_width) {
    case 2: return EncryptAll<2>(key, layout, source, generator, out, progress);
    case 4: return EncryptAll<4>(key, layout, source, generator, out, progress);
    default: return EncryptAll<8>(key, layout, source, generator, out, progress);
  }
}

std::string BuildSignature() {
  const ModeLayout& layout = LayoutOf(CipherMode);
  std::string block(static_cast<std::size_t>(kSignatureEntries * layout.entry_length), '\0');
  WriteSignature(KeyBytes, layout, RandomGenerator,
                 reinterpret_cast<std::uint8_t*>(block.data()));
  return block;
}

void EncryptBytes(const ByteString& source) {
  SeedMt19937(RandomGenerator, platform::MillisecondsSinceStart());
  StartProgress();
  const ModeLayout& layout = LayoutOf(CipherMode);
  // One buffer of the exact final length; the old text goes first, so the
  // two are never held at once.
  ByteString().swap(CipherText);
  ByteString text;
  text.resize(static_cast<std::size_t>(
      CipherTextLength(layout, static_cast<std::int64_t>(source.size()))));
  EncryptInto(KeyBytes, layout, source, RandomGenerator, text.data(), AdvanceProgress);
  CipherText.swap(text);
  WriteLine("");
  WriteLine("");
  WriteLine("Talvex Encryption was successful!");
}
