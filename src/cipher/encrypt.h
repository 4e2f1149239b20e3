// Encryption: every source byte becomes an entry naming a random key
// position and the byte XOR the key byte there.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/format.h"
#include "cipher/random.h"
#include "cli/values.h"

struct InputFile;
struct OutputFile;

// Receives progress: bytes done of bytes in all.
using ProgressFn = void (*)(std::int64_t current, std::int64_t total);

// The progress display of a run: start draws the scale, advance is told
// the progress wherever a star of the bar can appear.
struct Progress {
  void (*start)();
  ProgressFn advance;
};

// Which loops do the work: the fastest this processor runs, the portable
// ones every x86-64 runs, which the fast ones are checked against, or for
// decryption the slow road, every entry by the exact rules of the format,
// which both are checked against (encryption takes it as portable).
enum class CipherLoops { kFastest, kPortable, kExact };

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

// How a stream is cut into chunks and worked.
struct StreamOptions {
  std::int64_t chunk_entries = std::int64_t{1} << 18;  // entries per chunk
  int workers = 0;                                     // 0: one per core
  CipherLoops loops = CipherLoops::kFastest;
};

// Encrypts the input from its current position to its end into out, the
// same text EncryptInto makes, chunk by chunk on every core. The generator
// must be freshly seeded. The progress bar is drawn as the chunks are done;
// for an input of unknown length (a pipe) it is drawn whole at its end, as
// that length then tells. A failure to write is held in out.
void EncryptStream(std::span<const std::uint8_t> key, const ModeLayout& layout,
                   Mt19937& generator, InputFile& source, OutputFile& out,
                   const Progress& progress, const StreamOptions& options = {});

// Encrypts source with KeyBytes in CipherMode into out, seeding
// RandomGenerator from the millisecond clock, with progress bar and success
// line.
void EncryptBytes(InputFile& source, OutputFile& out);
