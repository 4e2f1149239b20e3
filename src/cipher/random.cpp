#include "cipher/random.h"

#include "cli/values.h"

Mt19937 RandomGenerator{{}, {}, kMtWords};

namespace {
constexpr int kShift = 397;
constexpr std::uint32_t kMatrix = 0x9908B0DFu;
constexpr std::uint32_t kUpper = 0x80000000u;
constexpr std::uint32_t kLower = 0x7FFFFFFFu;

inline std::uint32_t Twist(std::uint32_t current, std::uint32_t next, std::uint32_t far) {
  const std::uint32_t y = (current & kUpper) | (next & kLower);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
}
}  // namespace

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
  for (int i = 0; i < kMtWords; ++i) {
    std::uint32_t y = mt[i];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    generator.output[i] = y;
  }
  generator.next = 0;
}

std::int32_t RandomKeyPosition() {
  const Reducer below = MakeReducer(KeyBytes.size() - 1);
  return static_cast<std::int32_t>(DrawBelow(RandomGenerator, below) + 1);
}
