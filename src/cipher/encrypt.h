// Encryption: every source byte becomes an entry naming a random key
// position and the byte XOR the key byte there.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/format.h"
#include "cipher/random.h"
#include "cipher/stream.h"

// Writes the head of a text, mode code, comma and signature block,
// HeadLength(layout) characters, at out; draws the six signature positions.
void WriteHead(std::span<const std::uint8_t> key, const ModeLayout& layout, Mt19937& generator,
               std::uint8_t* out);

// Writes one entry per source byte at out, drawing a position for each;
// returns the end of what it wrote.
std::uint8_t* EncryptEntries(std::span<const std::uint8_t> key, const ModeLayout& layout,
                             std::span<const std::uint8_t> source, Mt19937& generator,
                             std::uint8_t* out, CipherLoops loops = CipherLoops::kFastest);

// Tells progress of every star point of a bar of total bytes up to done,
// given the stars already shown; returns the stars shown then. What a call
// per byte would show.
std::int64_t EncryptionStarsUpTo(std::int64_t done, std::int64_t total, std::int64_t stars,
                                 ProgressFn progress);

// Writes the whole cipher text of source, CipherTextLength(layout,
// source.size()) characters, at out, in one piece: the reference the
// streaming encryption is checked against. The generator must be freshly
// seeded. progress, when given, is called wherever a star can appear.
void EncryptInto(std::span<const std::uint8_t> key, const ModeLayout& layout,
                 std::span<const std::uint8_t> source, Mt19937& generator,
                 std::uint8_t* out, ProgressFn progress,
                 CipherLoops loops = CipherLoops::kFastest);
