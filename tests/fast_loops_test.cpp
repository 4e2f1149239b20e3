// The AVX2 loops against the portable ones: the same reductions, the same
// cipher texts and progress calls for random keys of every mode and many
// source lengths, and for damaged texts the same bytes or the same failure.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cipher/avx2.h"
#include "cipher_cases.h"
#include "keyio/key.h"

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
  for (const std::size_t key_length : KeyLengths(random)) {
    const ByteString key = RandomString(random, key_length);
    const std::int32_t mode = ModeForKeyLength(static_cast<std::int64_t>(key_length));
    for (int round = 0; round < 60; ++round) {
      const std::size_t length = random() % 2001;
      ByteString text = EncryptWith(CipherLoops::kPortable, key, RandomString(random, length),
                                    static_cast<std::uint32_t>(random())).bytes;
      Damage(random, text, key_length, mode);
      ASSERT_EQ(DecryptWith(CipherLoops::kFastest, text, key, mode),
                DecryptWith(CipherLoops::kPortable, text, key, mode))
          << "key " << key_length << ": " << std::string(text.begin(), text.end());
    }
  }
}
