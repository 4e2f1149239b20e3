// Loops for x86-64 processors with AVX2, BMI2 and FMA. They give exactly what
// the portable loops of encrypt.cpp and decrypt.cpp give, only faster; the
// binary must still run on every x86-64, so they are used only after
// Avx2Usable() said yes, and are compiled for AVX2 only inside their own
// files (encrypt_avx2.cpp, decrypt_avx2.cpp). Those files are built for
// x86-64 only (CMakeLists.txt defines TALVEX_AVX2_LOOPS there); for every
// other processor the portable loops are the only ones, kAvx2Loops is false
// and the calls below are left out at compile time (if constexpr).
#pragma once

#include <cstdint>

#include "cipher/random.h"

#if TALVEX_AVX2_LOOPS
inline constexpr bool kAvx2Loops = true;
// True when this processor and its operating system run AVX2, BMI2 and FMA
// (the compiler may fuse a product and a sum of the draws into one FMA).
// Asked of the processor once per process.
bool Avx2Usable();
#else
inline constexpr bool kAvx2Loops = false;
inline bool Avx2Usable() { return false; }
#endif

// Encrypts the first source bytes into entries at out, the same entries the
// portable loop writes, drawing from generator as it does. Handles whole
// groups of entries only (up to 15 bytes are left) and returns how many
// bytes it encrypted; the caller does the rest the portable way. below is
// the key length less one; P the position width, 2, 4 or 8.
template <int P>
std::int64_t EncryptEntriesAvx2(const std::uint8_t* key, std::uint64_t below,
                                const std::uint8_t* source, std::int64_t count,
                                Mt19937& generator, std::uint8_t* out);

// Reduces count draws, the output pairs (a, b) at words, below the key
// length less one, below, into result: what Reduce(MakeReducer(below),
// Join63(a, b)) gives, for below from 99 to 999,999,999. For the tests.
void ReduceDrawsAvx2(std::uint64_t below, const std::uint32_t* words, int count,
                     std::uint32_t* result);

// Decodes count whole entries from p into out with key, as ParseEntries
// and the key lookups of decrypt.cpp do, and says whether that holds: false
// when any field is not plain hex or any position lies outside 1 to
// key_length; then out holds garbage (the key is never read outside it).
// count is a multiple of kAvx2DecodeGroup, and up to kAvx2ReadPast bytes
// after the last entry are read (but not judged): the caller makes sure
// they lie in the text.
inline constexpr int kAvx2DecodeGroup = 8;
inline constexpr int kAvx2ReadPast = 4;
template <int P>
bool DecodeEntriesAvx2(const std::uint8_t* p, int count, const std::uint8_t* key,
                       std::uint32_t key_length, std::uint8_t* out);
