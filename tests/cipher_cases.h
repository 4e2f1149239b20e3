// What the cipher and file tests share: random keys and sources, damaged
// texts, the failure a call raises, and the outcome of a run (bytes,
// failure, progress calls) to compare runs by.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cipher/encrypt.h"
#include "core/process_values.h"
#include "failure_of.h"

ByteString RandomString(std::mt19937_64& random, std::size_t count);

// Keys of every mode: the ends of each size range and random sizes between.
std::vector<std::size_t> KeyLengths(std::mt19937_64& random);

// Damages a text of the given mode one to three times: a character
// changed, the text cut short, a position field of zeros, of F or beyond
// the key, lower case, the end marker early, a character taken out.
void Damage(std::mt19937_64& random, ByteString& text, std::size_t key_length, std::int32_t mode);

// A run's result: the bytes made, the failure raised ("kind: message", or
// empty), and the progress calls (current, total); a call of start shows
// as (-1, -1).
struct Outcome {
  ByteString bytes;
  std::string failure;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  bool operator==(const Outcome&) const = default;
};

// Progress that records its calls into RecordedProgress().
extern const Progress kRecordingProgress;
std::vector<std::pair<std::int64_t, std::int64_t>>& RecordedProgress();

// The whole-buffer runs: EncryptInto with a generator seeded with seed, and
// DecryptInto.
Outcome EncryptWith(CipherLoops loops, const ByteString& key, const ByteString& source,
                    std::uint32_t seed);
Outcome DecryptWith(CipherLoops loops, const ByteString& text, const ByteString& key,
                    std::int32_t mode);
