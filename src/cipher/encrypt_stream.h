// Encryption of a file of any size in a few chunks of memory, on several cores.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/format.h"
#include "cipher/random.h"
#include "cipher/stream.h"

struct InputFile;
struct OutputFile;

// Encrypts the input from its current position to its end into out, the
// same text EncryptInto makes, chunk by chunk on several cores. The generator
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
