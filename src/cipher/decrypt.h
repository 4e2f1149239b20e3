// Decryption: every entry back to the byte it was made from.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/encrypt.h"
#include "cli/values.h"

// Decodes the data entries of text, a cipher text of mode 8, 16 or 32, into
// plain. Stops at the end marker, or where fewer than 8 characters remain.
// A field that is not hex raises the conversion error; a position beyond
// the key raises a range error. progress, when given, gets the text offset
// after each entry where a star can appear, and the text's length.
void DecryptInto(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                 std::int32_t mode, ByteString& plain, ProgressFn progress,
                 CipherLoops loops = CipherLoops::kFastest);

// Decrypts CipherText with KeyBytes in CipherMode into PlainBytes, with
// progress bar and success line.
void DecryptCipherText();
