// Decryption: every entry back to the byte it was made from.
#pragma once

#include <cstdint>
#include <span>

#include "cipher/stream.h"
#include "core/process_values.h"

// Decodes entries from the start of window, a stretch of a text of mode 8,
// 16 or 32 that begins at an entry, into out: at most max_entries of them.
// count tells how many were decoded, also when a failure is raised: a field
// that is not hex raises the conversion error, a position beyond the key a
// range error. Returns true where decoding stops by the rules of the
// format, at the end marker or where fewer than 8 characters remain. So
// that the window decodes as the whole text would, it must either end
// where the text ends or reach at least 16 characters past the start of
// its last entry.
bool DecodeWindow(std::span<const std::uint8_t> window, std::span<const std::uint8_t> key,
                  std::int32_t mode, std::int64_t max_entries, std::uint8_t* out,
                  std::int64_t& count, CipherLoops loops = CipherLoops::kFastest);

// Characters a window must reach past the start of its last entry when
// the text goes on after it.
inline constexpr std::int64_t kWindowLookahead = 16;

// True when decoding window (as DecodeWindow, with no bound on the entries)
// stops at an entry that lies in it whole, with the 8 characters the length
// test needs: the end marker there, a field that is not hex, or a position
// beyond a key of key_length bytes. Then any text the window begins decodes
// as the window does. checked counts the entries from the window's start
// known to decode; the search goes on from there, so a window read piece by
// piece is searched once.
bool DecodingStopsIn(std::span<const std::uint8_t> window, std::int32_t mode,
                     std::int64_t key_length, std::int64_t& checked);

// Tells progress of every star point of the bar of a text of length
// characters up to the given count of decoded entries, given the stars
// already shown; returns the stars shown then. What a call after every
// entry, with the offset of the next one, would show.
std::int64_t DecryptionStarsUpTo(std::int32_t mode, std::int64_t entries, std::int64_t length,
                                 std::int64_t stars, ProgressFn progress);

// Decodes the data entries of text, a whole cipher text of mode 8, 16 or
// 32, into plain, in one piece: the reference the streaming decryption is
// checked against. Stops at the end marker, or where fewer than 8
// characters remain; raises as DecodeWindow does, after the stars of the
// entries decoded before. progress, when given, is called wherever a star
// can appear.
void DecryptInto(std::span<const std::uint8_t> text, std::span<const std::uint8_t> key,
                 std::int32_t mode, ByteString& plain, ProgressFn progress,
                 CipherLoops loops = CipherLoops::kFastest);
