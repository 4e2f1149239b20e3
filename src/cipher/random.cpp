#include "cipher/random.h"

Mt19937 RandomGenerator{{}, {}, kMtWords};

void SeedMt19937(Mt19937& generator, std::uint32_t seed) {
  generator.state[0] = seed;
  for (int i = 1; i < kMtWords; ++i) {
    const std::uint32_t prev = generator.state[i - 1];
    generator.state[i] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<std::uint32_t>(i);
  }
  generator.next = kMtWords;
}

namespace {

void TwistBlock(std::uint32_t* mt) {
  // Three plain loops without index wrapping, so the compiler can vectorise.
  for (int i = 0; i < kMtWords - kShift; ++i) mt[i] = Twist(mt[i], mt[i + 1], mt[i + kShift]);
  for (int i = kMtWords - kShift; i < kMtWords - 1; ++i) {
    mt[i] = Twist(mt[i], mt[i + 1], mt[i + kShift - kMtWords]);
  }
  mt[kMtWords - 1] = Twist(mt[kMtWords - 1], mt[0], mt[kShift - 1]);
}

}  // namespace

void RefillMt19937(Mt19937& generator) {
  TwistBlock(generator.state);
  for (int i = 0; i < kMtWords; ++i) generator.output[i] = Temper(generator.state[i]);
  generator.next = 0;
}

void AdvanceMt19937(Mt19937& generator, std::int64_t count) {
  // Counted from the start of the current block; after seeding that block
  // is used up (next is kMtWords) and the first draw twists a new one.
  const std::int64_t at = generator.next + count;
  if (at <= kMtWords) {
    generator.next = static_cast<int>(at);
    return;
  }
  const std::int64_t blocks = (at - 1) / kMtWords;  // twists, the last one tempered
  for (std::int64_t i = 1; i < blocks; ++i) TwistBlock(generator.state);
  RefillMt19937(generator);
  generator.next = static_cast<int>(at - blocks * kMtWords);
}
