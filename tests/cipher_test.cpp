// The cipher text: generator, layout, validation and decryption.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>

#include "cipher/decrypt.h"
#include "cipher/encrypt.h"
#include "cipher/random.h"
#include "cipher/validate.h"
#include "cipher_cases.h"
#include "core/failure.h"
#include "keyio/key.h"
#include "tool_runner.h"

namespace {

ByteString Bytes(std::string_view text) { return ByteString(text.begin(), text.end()); }
std::string Text(const ByteString& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Key byte p-1 at key position p: every key byte names its own position.
ByteString CountingKey(std::size_t length) {
  ByteString key(length);
  for (std::size_t i = 0; i < length; ++i) key[i] = static_cast<std::uint8_t>(i);
  return key;
}

std::string Encrypt(const ByteString& key, const ByteString& source, std::uint32_t seed) {
  const ModeLayout& layout = LayoutOf(ModeForKeyLength(static_cast<std::int64_t>(key.size())));
  Mt19937 generator;
  SeedMt19937(generator, seed);
  ByteString text(static_cast<std::size_t>(CipherTextLength(layout, source.size())));
  EncryptInto(key, layout, source, generator, text.data(), nullptr);
  return Text(text);
}

ByteString Decrypt(const std::string& text, const ByteString& key, std::int32_t mode) {
  ByteString plain;
  DecryptInto(Bytes(text), key, mode, plain, nullptr);
  return plain;
}

// The text of an empty source with a 100-byte counting key and seed 1: the
// first six positions are 71, 31, 30, 24, 45 and 69; entry 0 holds K[71] =
// 0x46 itself, entries 1 to 5 hold T, A, L, V, E masked with K[p] = p - 1.
constexpr std::string_view kSeedOneText = "09,47,46,1F,4A,1E,5C,18,5B,2D,7A,45,01,**END**";

}  // namespace

TEST(Generator, BlockMt19937GivesTheStandardSequence) {
  for (std::uint32_t seed : {0u, 1u, 5489u, 0xFFFFFFFFu}) {
    Mt19937 ours;
    SeedMt19937(ours, seed);
    std::mt19937 standard(seed);
    for (int i = 0; i < 3 * kMtWords + 7; ++i) ASSERT_EQ(NextMt19937(ours), standard()) << i;
  }
}

TEST(Generator, AdvancingIsDrawingWithoutTheOutputs) {
  // Steps that end inside a block, at its end, at the start of the next,
  // and many blocks on, from a fresh seed and from the middle of a block.
  for (const std::int64_t start : {0, 5, 623, 624}) {
    for (const std::int64_t count : {0, 1, 2, 622, 623, 624, 625, 1247, 1248, 1249, 6240, 100001}) {
      Mt19937 drawn, advanced;
      SeedMt19937(drawn, 42);
      for (std::int64_t i = 0; i < start; ++i) NextMt19937(drawn);
      advanced = drawn;
      for (std::int64_t i = 0; i < count; ++i) NextMt19937(drawn);
      AdvanceMt19937(advanced, count);
      for (int i = 0; i < 1300; ++i) {
        ASSERT_EQ(NextMt19937(advanced), NextMt19937(drawn)) << start << " + " << count << ", " << i;
      }
    }
  }
}

TEST(Generator, ReductionEqualsModuloAtTheBoundaries) {
  std::mt19937_64 random(7);
  for (std::uint64_t n : {1ull, 2ull, 3ull, 98ull, 99ull, 254ull, 65534ull, 999999999ull,
                          (1ull << 32) - 1, 1ull << 32, (1ull << 62) + 1, (1ull << 63) - 1}) {
    const Reducer reducer = MakeReducer(n);
    const std::uint64_t top = (1ull << 63) - 1;
    for (std::uint64_t x : std::initializer_list<std::uint64_t>{0, 1, n - 1, n, n + 1, 2 * n - 1, 2 * n, top, top - 1,
                            top - top % n, top - top % n - 1}) {
      if (x > top) continue;
      ASSERT_EQ(Reduce(reducer, x), x % n) << x << " mod " << n;
    }
    for (int i = 0; i < 2000; ++i) {
      const std::uint64_t x = random() >> 1;
      ASSERT_EQ(Reduce(reducer, x), x % n) << x << " mod " << n;
    }
  }
}

TEST(Encryption, SeedOneDrawsTheKnownPositions) {
  EXPECT_EQ(Encrypt(CountingKey(100), {}, 1), kSeedOneText);
}

TEST(Encryption, LengthsAndFieldsOfEveryMode) {
  const ByteString source = Bytes(std::string("\x00\x7F\x80\xFF", 4));
  struct Case {
    std::size_t key_length;
    std::string_view code;
    std::size_t empty_length, per_byte, width;
    std::uint64_t max_position;
  } cases[] = {{100, "09", 46, 6, 2, 99},         {255, "09", 46, 6, 2, 254},
               {256, "21", 58, 8, 4, 255},        {65535, "21", 58, 8, 4, 65534},
               {65536, "41", 82, 12, 8, 65535}};
  for (const Case& c : cases) {
    const ByteString key = Bytes(RandomBytes(c.key_length, 5));
    for (std::uint32_t seed : {1u, 99u}) {
      const std::string text = Encrypt(key, source, seed);
      ASSERT_EQ(text.size(), c.empty_length + c.per_byte * source.size());
      EXPECT_EQ(text.substr(0, 3), std::string(c.code) + ",");
      EXPECT_EQ(text.substr(text.size() - 7), "**END**");
      // Every entry: upper-case hex position in 1..L-1, its value masking the
      // letter or source byte with the key byte there.
      const std::string expected_plain = std::string("?TALVE") + Text(source);
      for (std::size_t j = 0; j < 6 + source.size(); ++j) {
        const std::string entry = text.substr(3 + j * c.per_byte, c.per_byte);
        ASSERT_EQ(entry.find_first_not_of("0123456789ABCDEF,"), std::string::npos) << entry;
        ASSERT_EQ(entry[c.width], ',');
        ASSERT_EQ(entry.back(), ',');
        const std::uint64_t p = std::stoull(entry.substr(0, c.width), nullptr, 16);
        ASSERT_GE(p, 1u);
        ASSERT_LE(p, c.max_position);
        const auto v = static_cast<std::uint8_t>(std::stoul(entry.substr(c.width + 1, 2), nullptr, 16));
        const std::uint8_t k = key[p - 1];
        EXPECT_EQ(static_cast<std::uint8_t>(j == 0 ? v : v ^ k),
                  j == 0 ? k : static_cast<std::uint8_t>(expected_plain[j]));
      }
    }
  }
}

TEST(HexToInt, ReadsBothCasesAndWrapsToSigned) {
  const std::pair<std::string_view, std::int32_t> good[] = {
      {"0", 0}, {"00000000", 0}, {"0a", 10}, {"FF", 255}, {"fF", 255}, {"3B9AC9FF", 999999999},
      {"7FFFFFFF", INT32_MAX}, {"80000000", INT32_MIN}, {"FFFFFFFF", -1}};
  for (const auto& [field, value] : good) EXPECT_EQ(HexToInt(field), value) << field;
  for (std::string_view field : {"", " 1", "-1", "+1", "1,", "G1", "0x1", "1 "}) {
    EXPECT_EQ(FailureOf([&] { HexToInt(field); }),
              "ConversionError: \"$" + std::string(field) + "\" is an invalid integer");
  }
}

TEST(Validation, AcceptsItsOwnTextsAndTheOlderCodes) {
  for (std::size_t key_length : {100u, 4096u, 70000u}) {
    const ByteString key = Bytes(RandomBytes(key_length, 6));
    std::string text = Encrypt(key, Bytes("hello"), 42);
    const std::int32_t mode = key_length < 256 ? 8 : key_length < 65536 ? 16 : 32;
    EXPECT_EQ(ValidateText(Bytes(text), key), mode);
    text[1] = static_cast<char>(text[1] - 1);  // 09 -> 08, 21 -> 20, 41 -> 40
    EXPECT_EQ(ValidateText(Bytes(text), key), mode);
    text[1] = 'X';
    EXPECT_EQ(ValidateText(Bytes(text), key), 0);
  }
}

TEST(Validation, MinimumLengthsOfTheThreeModes) {
  for (std::size_t key_length : {100u, 300u, 70000u}) {
    const ByteString key = Bytes(RandomBytes(key_length, 6));
    const std::string text = Encrypt(key, {}, 3);  // exactly the minimum length
    EXPECT_NE(ValidateText(Bytes(text), key), 0) << text.size();
    EXPECT_EQ(ValidateText(Bytes(text.substr(0, text.size() - 1)), key), 0) << text.size();
  }
  EXPECT_EQ(ValidateText({}, CountingKey(100)), 0);
}

TEST(Validation, ExaminesOnlySignatureEntriesOneToFive) {
  const ByteString key = CountingKey(100);
  struct Case {
    std::size_t at;
    std::string_view put;
    std::int32_t mode;
  } cases[] = {
      {3, "ZZ", 8},   {6, "zz", 8},         // entry 0 is never read
      {2, ";", 8},    {11, ";", 8},          // nor are the separators
      {9, "1f", 8},   {12, "4a", 8},         // lower-case digits
      {12, "4B", 0},  {36, "00", 0},         // a changed value in entries 1 and 5
      {39, "ZZZZZZZ", 8},                    // nor is the end marker
  };
  for (const Case& c : cases) {
    std::string text(kSeedOneText);
    text.replace(c.at, c.put.size(), c.put);
    EXPECT_EQ(ValidateText(Bytes(text), key), c.mode) << text;
  }
}

TEST(Validation, ClampsPositionsToTheKey) {
  ByteString key = CountingKey(100);
  std::string text(kSeedOneText);
  // Entry 1 at position 00 uses K[1] = 0; at FF it uses K[100] = 99 (0x63).
  text.replace(9, 5, "00,54");
  EXPECT_EQ(ValidateText(Bytes(text), key), 8);
  text.replace(9, 5, "FF,37");  // 0x54 ^ 0x63
  EXPECT_EQ(ValidateText(Bytes(text), key), 8);
}

TEST(Validation, ABadFieldInALaterEntryRaisesAfterAMismatch) {
  std::string text(kSeedOneText);
  text.replace(12, 2, "00");  // entry 1 mismatches
  text.replace(24, 2, "G1");  // entry 3's value is no number
  EXPECT_EQ(FailureOf([&] { ValidateText(Bytes(text), CountingKey(100)); }),
            "ConversionError: \"$G1\" is an invalid integer");
}

TEST(Decryption, RoundTripsInEveryMode) {
  ByteString every_value(256);
  std::iota(every_value.begin(), every_value.end(), 0);
  const ByteString large = Bytes(RandomBytes(200000, 7));
  for (std::size_t key_length : {100u, 255u, 256u, 65535u, 65536u, 1000003u}) {
    const ByteString key = Bytes(RandomBytes(key_length, 6));
    for (const ByteString* source : std::initializer_list<const ByteString*>{&every_value, &large}) {
      const std::string text = Encrypt(key, *source, 12345);
      const std::int32_t mode = ValidateText(Bytes(text), key);
      ASSERT_NE(mode, 0);
      ASSERT_EQ(Decrypt(text, key, mode), *source) << key_length;
    }
  }
}

TEST(Decryption, StopsAndReadsExactlyAsTheFormatSays) {
  ByteString key = CountingKey(100);
  key[0] = 0x20;  // so that the first key byte shows
  const std::string h8 = std::string(kSeedOneText.substr(0, 39));
  std::string h16 = "21,", h32 = "41,";
  for (int i = 0; i < 6; ++i) h16 += "0000,00,", h32 += "00000000,00,";
  // Entries at position 2 (K = 1) give their value XOR 1; at 10 (K = 9),
  // XOR 9; at 100, the last, XOR 0x63.
  struct Case {
    std::int32_t mode;
    std::string text;
    std::string result;  // the plain bytes, or the failure
    bool stops;          // DecodingStopsIn finds where decoding stops in the text
  } cases[] = {
      {8, h8 + "**END**", "", true},
      {8, h8 + "02,40,02,63,**END**junk02,42,", "Ab", true},  // nothing after the end marker
      {8, h8 + "02,40,02,63,", "A", false},        // no end marker: the last entry is left out
      {8, h8 + "02,40;02;63;**END**", "Ab", true},  // separators are never read
      {8, h8 + "00,41,0b,4b,**END**", "aA", true},  // position 0 names the first key byte; lower case
      {8, h8 + "02,4G,**END**", "ConversionError: \"$4G\" is an invalid integer", true},
      {8, h8 + "65,41,**END**", "RangeError: Key position 101 lies beyond the key length 100", true},
      {16, h16 + "0002,40,0002,63,", "Ab", false},  // 16 and 32 bit keep every complete entry
      {16, h16 + "0002,40,0002,63,000", "Ab", false},
      {32, h32 + "00000002,40,", "A", false},
      {32, h32 + "00000002,40,00000002", "ConversionError: \"$\" is an invalid integer", false},
      {32, h32 + "00000002,40,00000002,", "ConversionError: \"$\" is an invalid integer", false},
      {32, h32 + "00000002,40,00000002,6", "A\x07", false},  // a one-digit value field
      {32, h32 + "FFFFFFFF,41,**END**", "a", true},  // negative positions name the first byte
      // The edges of where decoding stops. The last key position, then one
      // past it: read only where 8 characters remain.
      {8, h8 + "64,41,**END**", "\"", true},
      {8, h8 + "64,41,65,41,", "\"", false},
      {8, h8 + "64,41,65,41,**END**", "RangeError: Key position 101 lies beyond the key length 100", true},
      {16, h16 + "0064,41,0065,41,", "RangeError: Key position 101 lies beyond the key length 100", true},
      // 80000000 and up read as negative: the first key byte, no stop.
      {32, h32 + "80000000,41,", "a", false},
      {32, h32 + "80000000,41,7FFFFFFF,41,**END**",
       "RangeError: Key position 2147483647 lies beyond the key length 100", true},
      // Part of the end marker is no end marker.
      {8, h8 + "02,40,**EN", "A", false},
      {8, h8 + "02,40,**EN,41,**END**", "ConversionError: \"$**\" is an invalid integer", true},
      {32, h32 + "00000002,40,**END", "A", false},
      {32, h32 + "00000002,40,**END**", "A", true},
      // Lower-case hex decodes.
      {16, h16 + "000a,4b,", "B", false},
      {16, h16 + "000a,4b,0065,41,", "RangeError: Key position 101 lies beyond the key length 100", true},
      // G in a field stops, unless it lies where nothing is read.
      {32, h32 + "0000000G,41,**END**", "ConversionError: \"$0000000G\" is an invalid integer", true},
      {16, h16 + "0002,4g,", "ConversionError: \"$4g\" is an invalid integer", true},
      {8, h8 + "02,40,G2,41,", "A", false},
  };
  const auto key_length = static_cast<std::int64_t>(key.size());
  for (const Case& c : cases) {
    std::string result;
    const std::string failure = FailureOf([&] { result = Text(Decrypt(c.text, key, c.mode)); });
    EXPECT_EQ(failure.empty() ? result : failure, c.result) << c.text;
    // Where DecodingStopsIn says decoding stops, a pipe is read no further:
    // the text up to there must decrypt as the whole text does.
    const auto head = static_cast<std::size_t>(HeadLength(LayoutOf(c.mode)));
    std::int64_t checked = 0;
    EXPECT_EQ(DecodingStopsIn(Bytes(c.text.substr(head)), c.mode, key_length, checked), c.stops) << c.text;
    for (std::size_t end = head; end <= c.text.size(); ++end) {
      checked = 0;
      if (!DecodingStopsIn(Bytes(c.text.substr(head, end - head)), c.mode, key_length, checked)) continue;
      const std::string prefix = c.text.substr(0, end);
      const std::string prefix_failure = FailureOf([&] { result = Text(Decrypt(prefix, key, c.mode)); });
      EXPECT_EQ(prefix_failure.empty() ? result : prefix_failure, c.result) << prefix;
    }
  }
}
