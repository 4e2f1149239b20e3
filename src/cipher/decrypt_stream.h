// Decryption of a text of any size in a few chunks of memory, on several cores.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/stream.h"

struct InputFile;
struct OutputFile;

// Decrypts the text that head begins and source goes on with (the input
// read as far as head reaches) into out, chunk by chunk on several cores. The
// progress bar is drawn as the chunks are done; for an input of unknown
// length (a pipe) it is drawn at the end, once that length is known. A
// failure to write is held in out; a failure of decoding is raised after
// the stars of the entries before it.
void DecryptStream(std::span<const std::uint8_t> key, std::int32_t mode,
                   std::span<const std::uint8_t> head, InputFile& source, OutputFile& out,
                   const Progress& progress, const StreamOptions& options = {});

// Decrypts the text of source, whose first bytes head holds, with KeyBytes
// in CipherMode into out, with progress bar and success line.
void DecryptCipherText(std::span<const std::uint8_t> head, InputFile& source, OutputFile& out);
