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

void RefillMt19937(Mt19937& generator) {
  std::uint32_t* mt = generator.state;
  // Three plain loops without index wrapping, so the compiler can vectorise.
  for (int i = 0; i < kMtWords - kShift; ++i) mt[i] = Twist(mt[i], mt[i + 1], mt[i + kShift]);
  for (int i = kMtWords - kShift; i < kMtWords - 1; ++i) {
    mt[i] = Twist(mt[i], mt[i + 1], mt[i + kShift - kMtWords]);
  }
  mt[kMtWords - 1] = Twist(mt[kMtWords - 1], mt[0], mt[kShift - 1]);
  for (int i = 0; i < kMtWords; ++i) generator.output[i] = Temper(mt[i]);
  generator.next = 0;
}
