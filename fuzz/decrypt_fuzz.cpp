// Decryption of any text with a key of any mode's size, differential: the
// fastest loops (AVX2 where the processor has it), the portable loops and
// the slow road by the exact rules must give the same bytes, the same
// failure and the same progress calls, and never read outside the text or
// the key.
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "cipher/decrypt.h"
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
  return 0;
}
