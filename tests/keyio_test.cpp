// Key sizes and modes, and whole files byte for byte.
#include <gtest/gtest.h>

#include "keyio/files.h"
#include "keyio/key.h"
#include "tool_runner.h"

namespace {
ByteString Bytes(std::string_view text) { return ByteString(text.begin(), text.end()); }
}  // namespace

TEST(Key, ModeThresholdsAndSizeLine) {
  const std::pair<std::int64_t, std::int32_t> cases[] = {
      {100, 8}, {255, 8}, {256, 16}, {65535, 16}, {65536, 32}, {1000000000, 32}};
  for (const auto& [length, mode] : cases) EXPECT_EQ(ModeForKeyLength(length), mode) << length;
  EXPECT_EQ(KeySizeLine(4096), "KEYFILE SIZE: 4096 bytes -> 16 bit encryption");
  EXPECT_EQ(KeySizeLine(100), "KEYFILE SIZE: 100 bytes -> 8 bit encryption");
  EXPECT_EQ(KeySizeLine(1000000000), "KEYFILE SIZE: 1000000000 bytes -> 32 bit encryption");
}

TEST(Files, WholeFilesByteForByte) {
  TempDir dir;
  const std::string path = dir / "f";
  for (const std::string& content : {std::string(), std::string("\x00\x0D\x0A\x1A", 4),
                                     RandomBytes(3 << 20, 1)}) {
    WriteWholeFile(path, Bytes(content));
    EXPECT_EQ(ReadFile(path), content);
    const ByteString back = ReadWholeFile(path);
    EXPECT_EQ(std::string(back.begin(), back.end()), content);
  }
  WriteFile(path, std::string(1000, 'x'));
  WriteWholeFile(path, Bytes("0123456789"));
  EXPECT_EQ(ReadFile(path), "0123456789");
  WriteWholeFile(path, {});
  EXPECT_EQ(ReadFile(path), "");
}

TEST(Files, SizeLimitsAreTestedBeforeReading) {
  TempDir dir;
  WriteFile(dir / "k", std::string(99, 'k'));
  ByteString content = Bytes("untouched");
  EXPECT_FALSE(ReadWholeFileWithin(dir / "k", 100, 200, content));
  EXPECT_EQ(content, Bytes("untouched"));
  EXPECT_TRUE(ReadWholeFileWithin(dir / "k", 99, 99, content));
  EXPECT_EQ(content.size(), 99u);
}
