// Decryption of any text with a key of any mode's size, differential: the
// fastest loops (AVX2 where the processor has it), the portable loops and
// the slow road by the exact rules must give the same bytes, the same
// failure and the same progress calls, and never read outside the text or
// the key. And where DecodingStopsIn says decoding stops, which is as far
// as a pipe is read, the text up to there decrypts as the whole text does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "cipher/decrypt.h"
#include "cipher/format.h"
#include "fuzz_support.h"

namespace {

std::vector<std::pair<std::int64_t, std::int64_t>> calls;
void Record(std::int64_t current, std::int64_t total) { calls.emplace_back(current, total); }

struct Outcome {
  ByteString bytes;
  std::string failure;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  bool operator==(const Outcome&) const = default;
};

Outcome Decrypt(std::span<const std::uint8_t> text, const ByteString& key, std::int32_t mode,
                CipherLoops loops) {
  Outcome outcome;
  calls.clear();
  outcome.failure = FailureOf([&] { DecryptInto(text, key, mode, outcome.bytes, Record, loops); });
  if (!outcome.failure.empty()) outcome.bytes.clear();
  outcome.progress = std::move(calls);
  return outcome;
}

// Finds the shortest text where DecodingStopsIn says decoding stops, as a
// pipe's reads would: the entries after the head grow a character at a
// time, searched on from the entries already checked. That text, by every
// loop, and those up to an entry longer, by the fastest loops that read a
// pipe, each copied to its own exact size, must decrypt to the bytes and
// the failure of the whole text.
void CheckWhereDecodingStops(const ByteString& text, const ByteString& key, std::int32_t mode,
                             const Outcome& whole) {
  const ModeLayout& layout = LayoutOf(mode);
  const std::size_t head = std::min(text.size(), static_cast<std::size_t>(HeadLength(layout)));
  const std::span<const std::uint8_t> entries = std::span(text).subspan(head);
  const auto key_length = static_cast<std::int64_t>(key.size());
  std::int64_t checked = 0;
  std::size_t stop = 0;
  while (stop <= entries.size() && !DecodingStopsIn(entries.first(stop), mode, key_length, checked)) {
    ++stop;
  }
  if (stop > entries.size()) return;
  // The same answer without the entries checked before, and for all of it.
  checked = 0;
  Require(DecodingStopsIn(entries.first(stop), mode, key_length, checked));
  checked = 0;
  Require(DecodingStopsIn(entries, mode, key_length, checked));
  const std::size_t last = std::min(entries.size(), stop + static_cast<std::size_t>(layout.entry_length));
  for (std::size_t end = stop; end <= last; ++end) {
    const ByteString prefix(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(head + end));
    for (const CipherLoops loops : {CipherLoops::kFastest, CipherLoops::kPortable, CipherLoops::kExact}) {
      const Outcome part = Decrypt(prefix, key, mode, loops);
      Require(part.bytes == whole.bytes && part.failure == whole.failure);
      if (end > stop) break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const ByteString& key = FuzzKey(FuzzKeyLength(data));
  // The mode is the text's, which need not be the one the key's size
  // chose: validation takes it from the mode code.
  static constexpr std::int32_t kModes[] = {8, 16, 32};
  const std::int32_t mode = kModes[data[3] % 3];
  // A copy of exactly the text's size, so that any read past it is caught.
  const ByteString text(data + 4, data + size);
  const Outcome exact = Decrypt(text, key, mode, CipherLoops::kExact);
  Require(Decrypt(text, key, mode, CipherLoops::kPortable) == exact);
  Require(Decrypt(text, key, mode, CipherLoops::kFastest) == exact);
  CheckWhereDecodingStops(text, key, mode, exact);
  return 0;
}
