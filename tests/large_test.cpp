// Inputs of 4 GiB and more, and texts of 2^31 characters and more, in every
// mode: sizes and offsets past 32 bits, end to end. They write tens of GiB
// and take minutes, so CTest runs them only when asked (ctest -L large).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/statvfs.h>

#include "tool_runner.h"

namespace {

// The input: a sequence that never repeats with a period dividing 2^32, so
// that a wrapped offset anywhere gives other bytes.
constexpr std::uint64_t kInputBytes = (std::uint64_t{4} << 30) + 7;
constexpr std::size_t kBlock = std::size_t{1} << 22;

void FillBlock(std::uint64_t at, std::string& block) {
  for (std::size_t i = 0; i < block.size(); ++i) {
    std::uint64_t x = (at + i) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    block[i] = static_cast<char>(x >> 11);
  }
}

// Writes the input in blocks; false when the disk is full.
bool WriteInput(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::string block(kBlock, '\0');
  bool ok = true;
  for (std::uint64_t at = 0; ok && at < kInputBytes; at += kBlock) {
    block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, kInputBytes - at)));
    FillBlock(at, block);
    ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
  }
  return std::fclose(file) == 0 && ok;
}

// The offset of the first byte where path differs from the input, or -1.
std::int64_t FirstDifference(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  std::string expected(kBlock, '\0'), got(kBlock, '\0');
  std::int64_t difference = -1;
  for (std::uint64_t at = 0; difference < 0 && at < kInputBytes; at += kBlock) {
    expected.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, kInputBytes - at)));
    FillBlock(at, expected);
    got.resize(expected.size());
    if (std::fread(got.data(), 1, got.size(), file) != got.size() || got != expected) {
      difference = static_cast<std::int64_t>(at);
    }
  }
  if (difference < 0 && std::fgetc(file) != EOF) difference = static_cast<std::int64_t>(kInputBytes);
  std::fclose(file);
  return difference;
}

struct ModeCase {
  std::size_t key_bytes;
  int mode;
  std::uint64_t entry, shortest;
};

void PrintTo(const ModeCase& m, std::ostream* out) { *out << m.key_bytes << "-byte key"; }

class Large : public ::testing::TestWithParam<ModeCase> {};

}  // namespace

TEST_P(Large, FourGiBRoundTrip) {
  const ModeCase& m = GetParam();
  TempDir dir;
  const std::uint64_t text_bytes = m.shortest + m.entry * kInputBytes;
  struct statvfs fs {};
  ASSERT_EQ(::statvfs(dir.path.c_str(), &fs), 0);
  const std::uint64_t free_bytes = std::uint64_t{fs.f_bavail} * fs.f_frsize;
  if (free_bytes < text_bytes + 2 * kInputBytes + (std::uint64_t{1} << 30)) {
    GTEST_SKIP() << "needs " << (text_bytes + 2 * kInputBytes) / (1 << 30) + 1 << " GiB free in "
                 << dir.path << ", has " << free_bytes / (1 << 30) << " GiB (TMPDIR picks the folder)";
  }
  const std::string key = RandomBytes(m.key_bytes, static_cast<std::uint32_t>(m.key_bytes));
  WriteFile(dir / "key", key);
  ASSERT_TRUE(WriteInput(dir / "in.bin"));

  const std::string key_line = "\nKEYFILE SIZE: " + std::to_string(m.key_bytes) + " bytes -> " +
                               std::to_string(m.mode) + " bit encryption\n";
  const std::string scale = "\n0%....10....20....30....40....50....60....70....80....90....100%\n";
  const ToolResult encrypted = RunTool(dir.path, {"-e", "key", "in.bin", "big.tvx"});
  EXPECT_EQ(encrypted.out, Lines(key_line + scale + std::string(64, '*') +
                                 "\n\nTalvex Encryption was successful!\n"));
  ASSERT_EQ(encrypted.status, 0) << encrypted.err;
  std::filesystem::remove(dir / "in.bin");
  ASSERT_EQ(std::filesystem::file_size(dir / "bin#big.tvx"), text_bytes);
  {
    std::FILE* text = std::fopen((dir / "bin#big.tvx").c_str(), "rb");
    ASSERT_NE(text, nullptr);
    char tail[8] = {};
    std::fseek(text, -7, SEEK_END);
    EXPECT_EQ(std::fread(tail, 1, 7, text), 7u);
    std::fclose(text);
    EXPECT_STREQ(tail, "**END**");
  }
  const ToolResult tested = RunTool(dir.path, {"-t", "key", "bin#big.tvx"});
  EXPECT_EQ(tested.out, Lines(key_line + "\nFile: bin#big.tvx is a valid 'Talvex Encryption' file!\n\n\n"));

  // The last progress call is at the end marker, 64 (L - 6) / L: 63 stars.
  const ToolResult decrypted = RunTool(dir.path, {"-d", "key", "bin#big.tvx", "back"});
  EXPECT_EQ(decrypted.out, Lines(key_line + scale + std::string(63, '*') +
                                 "\n\nTalvex Decryption was successful!\n"));
  ASSERT_EQ(decrypted.status, 0) << decrypted.err;
  std::filesystem::remove(dir / "bin#big.tvx");
  EXPECT_EQ(FirstDifference(dir / "back.bin"), -1);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, Large,
                         ::testing::Values(ModeCase{100, 8, 6, 46}, ModeCase{4096, 16, 8, 58},
                                           ModeCase{65536, 32, 12, 82}),
                         [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });
