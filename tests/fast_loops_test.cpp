// The loops a build picks (CipherLoops::kFastest) against the portable
// ones. On x86-64 with AVX2 those are the AVX2 loops: the same reductions,
// the same cipher texts and progress calls for random keys of every mode
// and many source lengths, and for damaged texts the same bytes or the
// same failure. Every build, aarch64's too, where the portable loops are
// the only ones, runs the same cases and checks what they give against the
// digests below, taken from an x86-64 build whose AVX2 loops agree with
// them: a seed draws the same positions and a text decrypts to the same
// bytes or failure on every processor. A change to the cases in
// cipher_cases.cpp changes the digests; take the new ones from an x86-64
// build on which the comparisons with the AVX2 loops pass.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cipher/avx2.h"
#include "cipher/random.h"
#include "cipher_cases.h"
#include "keyio/key.h"

namespace {

// FNV-1a over everything the runs gave, in order.
struct Digest {
  std::uint64_t hash = 0xCBF29CE484222325u;
  void Add(const void* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      hash = (hash ^ static_cast<const std::uint8_t*>(data)[i]) * 0x100000001B3u;
    }
  }
  void Add(std::int64_t number) {
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(number) >> (8 * i));
    Add(bytes, sizeof bytes);
  }
  void Add(const Outcome& outcome) {
    Add(static_cast<std::int64_t>(outcome.bytes.size()));
    Add(outcome.bytes.data(), outcome.bytes.size());
    Add(static_cast<std::int64_t>(outcome.failure.size()));
    Add(outcome.failure.data(), outcome.failure.size());
    Add(static_cast<std::int64_t>(outcome.progress.size()));
    for (const auto& [current, total] : outcome.progress) {
      Add(current);
      Add(total);
    }
  }
  std::string Hex() const {
    char text[19];
    std::snprintf(text, sizeof text, "0x%016" PRIX64, hash);
    return text;
  }
};

std::string Loops() { return Avx2Usable() ? "AVX2 and portable loops" : "portable loops only"; }

}  // namespace

TEST(FastLoops, ReduceLikeThePortableReduction) {
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
    // The portable reduction, on every processor.
    const Reducer below = MakeReducer(n);
    for (std::size_t i = 0; i < xs.size(); ++i) {
      ASSERT_EQ(Reduce(below, Join63(words[2 * i], words[2 * i + 1])), (xs[i] & kTop) % n)
          << xs[i] << " mod " << n;
    }
    if constexpr (kAvx2Loops) {
      if (!Avx2Usable()) continue;
      std::vector<std::uint32_t> result(xs.size());
      ReduceDrawsAvx2(n, words.data(), static_cast<int>(xs.size()), result.data());
      for (std::size_t i = 0; i < xs.size(); ++i) ASSERT_EQ(result[i], (xs[i] & kTop) % n) << xs[i] << " mod " << n;
    }
  }
}

// Calls test with a random key of each length KeyLengths gives, and its
// mode.
template <typename Test>
void ForEachKey(std::mt19937_64& random, Test test) {
  for (const std::size_t key_length : KeyLengths(random)) {
    const ByteString key = RandomString(random, key_length);
    test(key, ModeForKeyLength(static_cast<std::int64_t>(key_length)));
  }
}

TEST(FastLoops, EncryptAndDecryptLikeThePortableLoops) {
  std::mt19937_64 random(22);
  Digest digest;
  ForEachKey(random, [&](const ByteString& key, std::int32_t mode) {
    const std::size_t key_length = key.size();
    std::vector<std::size_t> lengths = {0, 1, 7, 8, 15, 16, 17, 63, 64, 65, 255, 256, 257, 1000,
                                        100000};
    for (int i = 0; i < 40; ++i) lengths.push_back(random() % 2001);
    for (const std::size_t length : lengths) {
      const ByteString source = RandomString(random, length);
      const auto seed = static_cast<std::uint32_t>(random());
      const Outcome text = EncryptWith(CipherLoops::kPortable, key, source, seed);
      ASSERT_EQ(EncryptWith(CipherLoops::kFastest, key, source, seed), text)
          << "key " << key_length << ", source " << length;
      const Outcome plain = DecryptWith(CipherLoops::kPortable, text.bytes, key, mode);
      ASSERT_EQ(DecryptWith(CipherLoops::kFastest, text.bytes, key, mode), plain);
      digest.Add(text);
      digest.Add(plain);
    }
  });
  EXPECT_EQ(digest.Hex(), "0x885A63A30FBF9B2D") << "with the " << Loops();
}

TEST(FastLoops, DecryptDamagedTextsLikeThePortableLoops) {
  std::mt19937_64 random(23);
  Digest digest;
  ForEachKey(random, [&](const ByteString& key, std::int32_t mode) {
    const std::size_t key_length = key.size();
    for (int round = 0; round < 60; ++round) {
      // One draw after the other: the order in which a call's arguments are
      // worked out differs between compilers for x86-64 and aarch64.
      const std::size_t length = random() % 2001;
      const ByteString source = RandomString(random, length);
      const auto seed = static_cast<std::uint32_t>(random());
      ByteString text = EncryptWith(CipherLoops::kPortable, key, source, seed).bytes;
      Damage(random, text, key_length, mode);
      const Outcome plain = DecryptWith(CipherLoops::kPortable, text, key, mode);
      ASSERT_EQ(DecryptWith(CipherLoops::kFastest, text, key, mode), plain)
          << "key " << key_length << ": " << std::string(text.begin(), text.end());
      digest.Add(static_cast<std::int64_t>(text.size()));
      digest.Add(text.data(), text.size());
      digest.Add(plain);
    }
  });
  EXPECT_EQ(digest.Hex(), "0xBEFCE2FE78DC429A") << "with the " << Loops();
}
