// The AVX2 loops against the portable ones: the same reductions, the same
// cipher texts and progress calls for random keys of every mode and many
// source lengths, and for damaged texts the same bytes or the same failure.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cipher/avx2.h"
#include "cipher/decrypt.h"
#include "cipher/encrypt.h"
#include "cli/failure.h"
#include "keyio/key.h"

namespace {

std::vector<std::pair<std::int64_t, std::int64_t>> progress_calls;
void Record(std::int64_t current, std::int64_t total) { progress_calls.emplace_back(current, total); }

ByteString RandomString(std::mt19937_64& random, std::size_t count) {
  ByteString bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

struct Outcome {
  ByteString bytes;
  std::string failure;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  bool operator==(const Outcome&) const = default;
};

Outcome EncryptWith(CipherLoops loops, const ByteString& key, const ByteString& source,
                    std::uint32_t seed) {
  const ModeLayout& layout = LayoutOf(ModeForKeyLength(static_cast<std::int64_t>(key.size())));
  Mt19937 generator;
  SeedMt19937(generator, seed);
  Outcome outcome;
  outcome.bytes.resize(static_cast<std::size_t>(CipherTextLength(layout, source.size())));
  progress_calls.clear();
  EncryptInto(key, layout, source, generator, outcome.bytes.data(), Record, loops);
  outcome.progress = std::move(progress_calls);
  return outcome;
}

Outcome DecryptWith(CipherLoops loops, const ByteString& text, const ByteString& key,
                    std::int32_t mode) {
  Outcome outcome;
  progress_calls.clear();
  try {
    DecryptInto(text, key, mode, outcome.bytes, Record, loops);
  } catch (const Failure& failure) {
    outcome.failure = std::string(failure.kind) + ": " + failure.message;
    outcome.bytes.clear();
  }
  outcome.progress = std::move(progress_calls);
  return outcome;
}

// Keys of every mode: the ends of each size range and random sizes between.
std::vector<std::size_t> KeyLengths(std::mt19937_64& random) {
  std::vector<std::size_t> lengths = {100, 101, 129, 255, 256, 257, 65535, 65536, 65537,
                                      1 << 20, (1 << 20) + 1};
  for (int i = 0; i < 3; ++i) {
    lengths.push_back(100 + random() % 156);
    lengths.push_back(256 + random() % 65280);
    lengths.push_back(65536 + random() % 3000000);
  }
  return lengths;
}

}  // namespace

TEST(FastLoops, ReduceLikeThePortableReduction) {
  if (!Avx2Usable()) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937_64 random(21);
  std::vector<std::uint64_t> moduli = {99, 100, 127, 128, 129, 254, 255, 256, 65534, 65535,
                                       65536, (1u << 29) - 1, 1u << 29, (1u << 29) + 1,
                                       999999997, 999999998, 999999999};
  for (int i = 0; i < 200; ++i) moduli.push_back(99 + random() % 999999901);
  constexpr std::uint64_t kTop = (std::uint64_t{1} << 63) - 1;
  for (const std::uint64_t n : moduli) {
    std::vector<std::uint64_t> xs = {0, 1, n - 1, n, n + 1, 2 * n - 1, 2 * n, kTop, kTop - 1,
                                     kTop - kTop % n, kTop - kTop % n - 1, 0xFFFFFFFFu,
                                     0x100000000u, kTop >> 31 << 31};
    // Around multiples of n near the places where the steps change.
    for (const std::uint64_t near : {std::uint64_t{1} << 32, std::uint64_t{n} << 32,
                                     std::uint64_t{1} << 62, kTop / 2}) {
      const std::uint64_t multiple = near / n * n;
      for (std::uint64_t d = 0; d < 3; ++d) xs.insert(xs.end(), {multiple - d, multiple + d});
    }
    for (int i = 0; i < 300; ++i) xs.push_back(random() & kTop);
    std::vector<std::uint32_t> words;
    for (const std::uint64_t x : xs) {
      // Half of the draws with the dropped top bit of b set.
      words.push_back(static_cast<std::uint32_t>(x));
      words.push_back(static_cast<std::uint32_t>(x >> 32) | (words.size() % 4 == 1 ? 0x80000000u : 0));
    }
    std::vector<std::uint32_t> result(xs.size());
    ReduceDrawsAvx2(n, words.data(), static_cast<int>(xs.size()), result.data());
    for (std::size_t i = 0; i < xs.size(); ++i) ASSERT_EQ(result[i], (xs[i] & kTop) % n) << xs[i] << " mod " << n;
  }
}

TEST(FastLoops, EncryptAndDecryptLikeThePortableLoops) {
  if (!Avx2Usable()) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937_64 random(22);
  for (const std::size_t key_length : KeyLengths(random)) {
    const ByteString key = RandomString(random, key_length);
    const std::int32_t mode = ModeForKeyLength(static_cast<std::int64_t>(key_length));
    std::vector<std::size_t> lengths = {0, 1, 7, 8, 15, 16, 17, 63, 64, 65, 255, 256, 257, 1000,
                                        100000};
    for (int i = 0; i < 40; ++i) lengths.push_back(random() % 2001);
    for (const std::size_t length : lengths) {
      const ByteString source = RandomString(random, length);
      const auto seed = static_cast<std::uint32_t>(random());
      const Outcome text = EncryptWith(CipherLoops::kPortable, key, source, seed);
      ASSERT_EQ(EncryptWith(CipherLoops::kFastest, key, source, seed), text)
          << "key " << key_length << ", source " << length;
      ASSERT_EQ(DecryptWith(CipherLoops::kFastest, text.bytes, key, mode),
                DecryptWith(CipherLoops::kPortable, text.bytes, key, mode));
    }
  }
}

TEST(FastLoops, DecryptDamagedTextsLikeThePortableLoops) {
  if (!Avx2Usable()) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937_64 random(23);
  // Characters to put in: hex of both cases, the neighbours of the hex
  // ranges, commas, end-marker stars, and bytes above ASCII.
  const std::string pokes = "0123456789abcdefABCDEF/:@G`g,*\x80\xC6\xFF \t";
  for (const std::size_t key_length : KeyLengths(random)) {
    const ByteString key = RandomString(random, key_length);
    const std::int32_t mode = ModeForKeyLength(static_cast<std::int64_t>(key_length));
    const int entry = LayoutOf(mode).entry_length;
    for (int round = 0; round < 60; ++round) {
      const std::size_t length = random() % 2001;
      ByteString text = EncryptWith(CipherLoops::kPortable, key, RandomString(random, length),
                                    static_cast<std::uint32_t>(random())).bytes;
      const std::size_t first = static_cast<std::size_t>(LayoutOf(mode).first_entry - 1);
      const int damages = 1 + static_cast<int>(random() % 3);
      for (int d = 0; d < damages; ++d) {
        const std::size_t at = first + random() % (text.size() - first);
        switch (random() % 6) {
          case 0:  // one character
            text[at] = static_cast<std::uint8_t>(pokes[random() % pokes.size()]);
            break;
          case 1:  // cut short, with or without the end marker
            text.resize(at);
            break;
          case 2: {  // a position field of zeros, of F, or just beyond the key
            const std::size_t start = first + (at - first) / entry * entry;
            static const char* const kFields[] = {"00000000", "FFFFFFFF", "80000000"};
            std::string field = kFields[random() % 3];
            if (random() % 2) {
              char hex[17];
              std::snprintf(hex, sizeof hex, "%08llX",
                            static_cast<unsigned long long>(key_length + random() % 3));
              field = hex;
            }
            const int width = LayoutOf(mode).position_width;
            field = field.substr(field.size() - width);
            for (int i = 0; i < width && start + i < text.size(); ++i) text[start + i] = field[i];
            break;
          }
          case 3:  // lower case everywhere after a point
            for (std::size_t i = at; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>(std::tolower(text[i]));
            break;
          case 4:  // the end marker early
            for (std::size_t i = 0; i < kEndMarker.size() && at + i < text.size(); ++i) text[at + i] = kEndMarker[i];
            break;
          default:  // one character taken out, so the entries shift
            text.erase(text.begin() + static_cast<std::ptrdiff_t>(at));
            break;
        }
      }
      ASSERT_EQ(DecryptWith(CipherLoops::kFastest, text, key, mode),
                DecryptWith(CipherLoops::kPortable, text, key, mode))
          << "key " << key_length << ": " << std::string(text.begin(), text.end());
    }
  }
}
