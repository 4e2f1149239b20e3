// Testing a cipher text against a key, and reading its fields by the exact
// rules (FieldAt, HexToInt), which the faster hex decoding of decrypt.cpp
// and decrypt_avx2.cpp is checked against.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The field of width characters at 0-based offset of text, cut short at
// the text's end: how every reader takes a field, so that a short text
// gives short or empty fields, never a read past its end.
inline std::string_view FieldAt(std::span<const std::uint8_t> text, std::int64_t offset,
                                int width) {
  const auto size = static_cast<std::int64_t>(text.size());
  if (offset >= size) return {};
  const std::int64_t count = width < size - offset ? width : size - offset;
  return {reinterpret_cast<const char*>(text.data() + offset), static_cast<std::size_t>(count)};
}

// The field's hex digits (either case, leading zeros allowed) as an unsigned
// number whose low 32 bits are taken as signed. An empty field or any other
// character raises the conversion error "\"$<field>\" is an invalid integer".
std::int32_t HexToInt(std::string_view field);

// Checks the mode code and signature entries 1 to 5 of text against key.
// Returns the mode of the text (8, 16 or 32) when they match; 0 when they
// do not, or the text is shorter than its mode's shortest. A field in them
// that is not hex raises the conversion error.
std::int32_t ValidateText(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key);

// How many characters from a text's start decide its validation, given its
// mode code (its first two): the shortest text of the mode the code names,
// or the code alone for any other. What follows decides nothing.
std::int64_t DecidingLength(std::span<const std::uint8_t> code);

// Validates a text against KeyBytes and sets CipherMode from the result.
// head holds the text's first DecidingLength characters, or all of a
// shorter one: nothing further decides.
bool ValidateCipherText(std::span<const std::uint8_t> head);
