// Colours, progress arithmetic and the star row, captured from stdout.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "cipher/encrypt.h"
#include "core/console.h"
#include "core/process_values.h"
#include "tool_runner.h"

namespace {

// What fn writes to stdout (no colour: the console is never opened here).
template <typename Fn>
std::string CapturedStdout(Fn fn) {
  TempDir dir;
  const std::string path = dir / "stdout";
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ::dup2(::fileno(file), STDOUT_FILENO);
  fn();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::fclose(file);
  return ReadFile(path);
}

constexpr const char* kScale = "0%....10....20....30....40....50....60....70....80....90....100%";

}  // namespace

TEST(Console, SetTextColorKeepsTheBackgroundAndDropsBitSeven) {
  struct Case {
    std::uint8_t before, colour, after;
  } cases[] = {{0x1F, 12, 0x1C}, {0xF0, 2, 0x72}, {0x07, 15, 0x0F}, {0x4E, 0x8A, 0xCA}};
  const std::uint8_t saved = TextAttribute;
  for (const Case& c : cases) {
    TextAttribute = c.before;
    SetTextColor(c.colour);
    EXPECT_EQ(TextAttribute, c.after) << int{c.before} << " " << int{c.colour};
  }
  TextAttribute = saved;
}

TEST(Console, PrintableEscapesControlsAndBytesOutsideUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\dir\\a b.tvx ~", "C:\\dir\\a b.tvx ~"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xC2\xA0\xEF\xBF\xBD\xF4\x8F\xBF\xBF",
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xC2\xA0\xEF\xBF\xBD\xF4\x8F\xBF\xBF"},
      {std::string("a\0\x1B[2J\x1F\x7F", 8), "a\\x00\\x1B[2J\\x1F\\x7F"},
      {"\xC2\x80\xC2\x9B", "\\xC2\\x80\\xC2\\x9B"},              // C1 controls
      {"\xC0\xAF\xE0\x9F\xBF", "\\xC0\\xAF\\xE0\\x9F\\xBF"},  // overlong forms
      {"\xED\xA0\x80\xF4\x90\x80\x80", "\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80"},  // surrogate, past U+10FFFF
      {"\xE2\x82x\x80\xFF\xF0\x9F\x98", "\\xE2\\x82x\\x80\\xFF\\xF0\\x9F\\x98"},  // cut short, stray
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Printable(text), shown) << shown;
  EXPECT_EQ(CapturedStdout([] { ShowLine("File: \x1B]0;x\x07", false); }), "File: \\x1B]0;x\\x07\n");
}

TEST(Console, ProgressCountFollowsTheQuotient) {
  const std::int32_t tenths[] = {6, 12, 19, 25, 32, 38, 44, 51, 57, 64};
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(ProgressCount(i, 10), tenths[i - 1]);
  EXPECT_EQ(ProgressCount(1, 1), 64);
  EXPECT_EQ(ProgressCount(62, 63), 62);
  EXPECT_EQ(ProgressCount(63, 63), 64);
  EXPECT_EQ(ProgressCount(3, 2), 96);  // not capped at 64
  // 64-bit product: no overflow past 2^31 of either argument.
  EXPECT_EQ(ProgressCount(std::int64_t{3} << 40, std::int64_t{1} << 42), 48);
}

TEST(Console, StarsStepByOneStarPerCall) {
  struct Case {
    std::int64_t total;
    std::size_t stars;
  } cases[] = {{1, 1}, {10, 10}, {63, 63}, {64, 64}, {65, 64}, {1000, 64}};
  for (const Case& c : cases) {
    const std::string out = CapturedStdout([&] {
      StartProgress();
      for (std::int64_t i = 1; i <= c.total; ++i) AdvanceProgress(i, c.total);
    });
    EXPECT_EQ(out, "\n" + std::string(kScale) + "\n" + std::string(c.stars, '*')) << c.total;
  }
  // With 1000 the first two stars come at 16 and 32; a new bar starts over.
  const std::string out = CapturedStdout([] {
    StartProgress();
    for (std::int64_t i = 1; i <= 32; ++i) {
      AdvanceProgress(i, 1000);
      if (i == 15 || i == 16 || i == 31) Write("|");
    }
    StartProgress();
    AdvanceProgress(1, 1);
  });
  EXPECT_EQ(out, "\n" + std::string(kScale) + "\n|*||*\n" + kScale + "\n*");
}

// Encryption calls progress only where a star can appear; the bar it draws
// must equal the bar of a call for every byte.
TEST(Console, EncryptionDrawsTheSameBarAsACallPerByte) {
  static std::vector<std::int64_t> star_points;
  auto record = [](std::int64_t current, std::int64_t total) {
    const std::int64_t before = ProgressStars;
    AdvanceProgress(current, total);
    if (ProgressStars != before) star_points.push_back(current);
  };
  const ByteString key(300, 7);
  for (std::int64_t total : {1, 5, 63, 64, 65, 1000, 4097, 100003}) {
    std::vector<std::int64_t> expected;
    CapturedStdout([&] {
      StartProgress();
      for (std::int64_t i = 1; i <= total; ++i) {
        const std::int64_t before = ProgressStars;
        AdvanceProgress(i, total);
        if (ProgressStars != before) expected.push_back(i);
      }
    });
    star_points.clear();
    const ByteString source(static_cast<std::size_t>(total), 1);
    ByteString text(static_cast<std::size_t>(CipherTextLength(LayoutOf(16), total)));
    Mt19937 generator;
    SeedMt19937(generator, 1);
    CapturedStdout([&] {
      StartProgress();
      EncryptInto(key, LayoutOf(16), source, generator, text.data(), record);
    });
    EXPECT_EQ(star_points, expected) << total;
  }
}
