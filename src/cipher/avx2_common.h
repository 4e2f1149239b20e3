// Shared by the *_avx2.cpp files only, inside their x86-64 part: the
// attribute that compiles a function for AVX2, and loads and stores of
// unaligned 32-byte vectors.
#pragma once

#include <immintrin.h>

#include <cstdint>

// A pshufb index that gives a zero byte.
inline constexpr std::uint8_t kShuffleZero = 0x80;

// On every function that uses AVX2, so that no code compiled for AVX2 runs
// before Avx2Usable() has said yes: the rest of the program is compiled for
// the x86-64 baseline, and these functions are reached only through it.
#define TALVEX_TARGET_AVX2 __attribute__((target("avx2,bmi2,fma")))

TALVEX_TARGET_AVX2 static inline __m256i Load(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

TALVEX_TARGET_AVX2 static inline void Store(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

// 16 bytes at low in the low half, 16 at high in the high half.
TALVEX_TARGET_AVX2 static inline __m256i LoadHalves(const void* low, const void* high) {
  return _mm256_loadu2_m128i(static_cast<const __m128i*>(high), static_cast<const __m128i*>(low));
}

// The same 16 bytes in both halves.
TALVEX_TARGET_AVX2 static inline __m256i Broadcast16(const void* p) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(p)));
}

// Asks for the key bytes at count indexes to be brought into the caches,
// ahead of the lookups that need them.
static inline void PrefetchKeyBytes(const std::uint8_t* key, const std::uint32_t* index, int count) {
  for (int i = 0; i < count; ++i) __builtin_prefetch(key + index[i], 0, 3);
}
