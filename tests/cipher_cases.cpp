#include "cipher_cases.h"

#include <cctype>
#include <cstdio>

#include "cipher/decrypt.h"
#include "core/failure.h"
#include "keyio/key.h"

ByteString RandomString(std::mt19937_64& random, std::size_t count) {
  ByteString bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::vector<std::size_t> KeyLengths(std::mt19937_64& random) {
  std::vector<std::size_t> lengths = {100, 101, 129, 255, 256, 257, 65535, 65536, 65537,
                                      1 << 20, (1 << 20) + 1};
  for (int i = 0; i < 3; ++i) {
    lengths.push_back(100 + random() % 156);
    lengths.push_back(256 + random() % 65280);
    lengths.push_back(65536 + random() % 3000000);
  }
  return lengths;
}

void Damage(std::mt19937_64& random, ByteString& text, std::size_t key_length, std::int32_t mode) {
  // Characters to put in: hex of both cases, the neighbours of the hex
  // ranges, commas, end-marker stars, and bytes above ASCII.
  static const std::string pokes = "0123456789abcdefABCDEF/:@G`g,*\x80\xC6\xFF \t";
  const ModeLayout& layout = LayoutOf(mode);
  const std::size_t first = static_cast<std::size_t>(layout.first_entry - 1);
  const int damages = 1 + static_cast<int>(random() % 3);
  for (int d = 0; d < damages && text.size() > first; ++d) {
    const std::size_t at = first + random() % (text.size() - first);
    switch (random() % 6) {
      case 0:  // one character
        text[at] = static_cast<std::uint8_t>(pokes[random() % pokes.size()]);
        break;
      case 1:  // cut short, with or without the end marker
        text.resize(at);
        break;
      case 2: {  // a position field of zeros, of F, or just beyond the key
        const std::size_t start = first + (at - first) / layout.entry_length * layout.entry_length;
        static const char* const kFields[] = {"00000000", "FFFFFFFF", "80000000"};
        std::string field = kFields[random() % 3];
        if (random() % 2) {
          char hex[17];
          std::snprintf(hex, sizeof hex, "%08llX",
                        static_cast<unsigned long long>(key_length + random() % 3));
          field = hex;
        }
        const int width = layout.position_width;
        field = field.substr(field.size() - width);
        for (int i = 0; i < width && start + i < text.size(); ++i) text[start + i] = field[i];
        break;
      }
      case 3:  // lower case everywhere after a point
        for (std::size_t i = at; i < text.size(); ++i) {
          text[i] = static_cast<std::uint8_t>(std::tolower(text[i]));
        }
        break;
      case 4:  // the end marker early
        for (std::size_t i = 0; i < kEndMarker.size() && at + i < text.size(); ++i) text[at + i] = kEndMarker[i];
        break;
      default:  // one character taken out, so the entries shift
        text.erase(text.begin() + static_cast<std::ptrdiff_t>(at));
        break;
    }
  }
}

std::vector<std::pair<std::int64_t, std::int64_t>>& RecordedProgress() {
  static std::vector<std::pair<std::int64_t, std::int64_t>> calls;
  return calls;
}

const Progress kRecordingProgress = {
    [] { RecordedProgress().emplace_back(-1, -1); },
    [](std::int64_t current, std::int64_t total) { RecordedProgress().emplace_back(current, total); },
};

Outcome EncryptWith(CipherLoops loops, const ByteString& key, const ByteString& source,
                    std::uint32_t seed) {
  const ModeLayout& layout = LayoutOf(ModeForKeyLength(static_cast<std::int64_t>(key.size())));
  Mt19937 generator;
  SeedMt19937(generator, seed);
  Outcome outcome;
  outcome.bytes.resize(static_cast<std::size_t>(CipherTextLength(layout, static_cast<std::int64_t>(source.size()))));
  RecordedProgress().clear();
  EncryptInto(key, layout, source, generator, outcome.bytes.data(), kRecordingProgress.advance, loops);
  outcome.progress = std::move(RecordedProgress());
  return outcome;
}

Outcome DecryptWith(CipherLoops loops, const ByteString& text, const ByteString& key,
                    std::int32_t mode) {
  Outcome outcome;
  RecordedProgress().clear();
  try {
    DecryptInto(text, key, mode, outcome.bytes, kRecordingProgress.advance, loops);
  } catch (const Failure& failure) {
    outcome.failure = std::string(failure.kind) + ": " + failure.message;
    outcome.bytes.clear();
  }
  outcome.progress = std::move(RecordedProgress());
  return outcome;
}
