// Encryption: every source byte becomes an entry naming a random key
// position and the byte XOR the key byte there.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/format.h"
#include "cipher/random.h"
#include "cli/values.h"

// Receives progress: bytes done of bytes in all.
using ProgressFn = void (*)(std::int64_t current, std::int64_t total);

// Which loops do the work: the fastest this processor runs, or the portable
// ones every x86-64 runs, which the fast ones are checked against.
enum class CipherLoops { kFastest, kPortable };

// Writes the whole cipher text of source, CipherTextLength(layout,
// source.size()) characters, at out. The generator must be freshly seeded.
// progress, when given, is called wherever a star of the bar can appear.
void EncryptInto(std::span<const std::uint8_t> key, const ModeLayout& layout,
                 std::span<const std::uint8_t> source, Mt19937& generator,
                 std::uint8_t* out, ProgressFn progress,
                 CipherLoops loops = CipherLoops::kFastest);

// Encrypts source with KeyBytes in CipherMode into CipherText, seeding
// RandomGenerator from the millisecond clock, with progress bar and success
// line.
void EncryptBytes(const ByteString& source);
