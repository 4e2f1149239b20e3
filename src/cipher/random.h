// The random generator that draws key positions: the standard 32-bit
// MT19937, generated a whole block of 624 words at a time.
#pragma once

#include <cstdint>

inline constexpr int kMtWords = 624;

struct Mt19937 {
  std::uint32_t state[kMtWords];
  std::uint32_t output[kMtWords];  // tempered words of the current block
  int next;                        // index of the next output word
};

// The constants of the standard generator, shared by the portable block
// refill and the AVX2 one.
inline constexpr int kShift = 397;
inline constexpr std::uint32_t kMatrix = 0x9908B0DFu;
inline constexpr std::uint32_t kUpper = 0x80000000u;
inline constexpr std::uint32_t kLower = 0x7FFFFFFFu;
inline constexpr std::uint32_t kTemperB = 0x9D2C5680u;
inline constexpr std::uint32_t kTemperC = 0xEFC60000u;

// The standard twist of one state word: current and next are words i and
// i+1, far the word kShift places on (already twisted where it wrapped).
inline std::uint32_t Twist(std::uint32_t current, std::uint32_t next, std::uint32_t far) {
  const std::uint32_t y = (current & kUpper) | (next & kLower);
  return far ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
}

// The standard tempering of a state word into an output.
inline std::uint32_t Temper(std::uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & kTemperB;
  y ^= (y << 15) & kTemperC;
  y ^= y >> 18;
  return y;
}

// Standard seeding; the first draw afterwards generates the first block.
void SeedMt19937(Mt19937& generator, std::uint32_t seed);

// Twists the state into the next block and tempers it into output.
void RefillMt19937(Mt19937& generator);

// Moves the generator on by count outputs, as count calls of NextMt19937
// would, without tempering the blocks it passes over: how a chunk of the
// work learns the state its own draws start from.
void AdvanceMt19937(Mt19937& generator, std::int64_t count);

inline std::uint32_t NextMt19937(Mt19937& generator) {
  if (generator.next == kMtWords) RefillMt19937(generator);
  return generator.output[generator.next++];
}

// x mod n without a hardware division: q = floor(x * floor((2^64-1)/n) /
// 2^64) is the true quotient or one less for every x below 2^63, so one
// subtraction corrects it.
__extension__ typedef unsigned __int128 Uint128;

struct Reducer {
  std::uint64_t n;
  std::uint64_t inverse;
};

constexpr Reducer MakeReducer(std::uint64_t n) { return {n, UINT64_MAX / n}; }

inline std::uint64_t Reduce(const Reducer& r, std::uint64_t x) {
  const auto q = static_cast<std::uint64_t>((static_cast<Uint128>(x) * r.inverse) >> 64);
  std::uint64_t rest = x - q * r.n;
  if (rest >= r.n) rest -= r.n;
  return rest;
}

// The 63-bit number of one draw: the first output gives bits 0-31, the low
// 31 bits of the second bits 32-62.
inline std::uint64_t Join63(std::uint32_t first, std::uint32_t second) {
  return first | (static_cast<std::uint64_t>(second & 0x7FFFFFFFu) << 32);
}

// A number from 0 to n-1, from exactly two outputs.
inline std::uint64_t DrawBelow(Mt19937& generator, const Reducer& below) {
  const std::uint32_t first = NextMt19937(generator);
  const std::uint32_t second = NextMt19937(generator);
  return Reduce(below, Join63(first, second));
}

// A key position from 1 to L-1, with below made for L-1: the key's last
// byte is never drawn.
inline std::uint64_t RandomKeyPosition(Mt19937& generator, const Reducer& below) {
  return DrawBelow(generator, below) + 1;
}

// The process-wide generator.
extern Mt19937 RandomGenerator;
