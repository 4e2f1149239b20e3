#include "core/console.h"

#include <string>

#include "platform/console.h"

std::uint8_t TextAttribute = 0;
std::int64_t ProgressStars = 0;

namespace {

constexpr std::string_view kErrorHeading = "--> ERROR! <--";
constexpr std::string_view kProgressScale =
    "0%....10....20....30....40....50....60....70....80....90....100%";

struct ScreenRow {
  std::uint8_t colour;
  std::string_view text;
};

// The banner rows are 66 characters wide, trailing blanks included.
constexpr ScreenRow kHelpScreen[] = {
    {kGreen, "                         Unhackable Encryption for Files          "},
    {kGreen, "                     (c) The Talvex developers                    "},
    {kGreen, "                                TalvexCMD v 2.4                   "},
    {kGreen, ""},
    {kWhite, kUsageLine},
    {kWhite, ""},
    {kYellow, "Commands:"},
    {kWhite, "    -e       encrypt"},
    {kWhite, "    -d       decrypt"},
    {kWhite, "    -t       test encrypted file"},
    {kWhite, "    -i       info"},
    {kWhite, "    -h       help"},
    {kWhite, ""},
    {kWhite, ""},
};

constexpr ScreenRow kInfoScreen[] = {
    {kYellow, "Why is Talvex Encryption unbreakable?"},
    {kWhite, ""},
    {kWhite, "Talvex Encryption is based on a key file that you must have to secure files."},
    {kWhite, "You can compare this key file to a book where on the pages different random"},
    {kWhite, "letters are chosen. "},
    {kWhite, ""},
    {kWhite, "These letters are used to encrypt your file."},
    {kWhite, ""},
    {kWhite, "Therefore, it is impossible to decrypt the file if you are not in"},
    {kWhite, "possession of that book or in case of Talvex Encryption the key file."},
    {kWhite, "The larger the key file, the better the security is.... "},
    {kWhite, ""},
    {kWhite, ""},
};

template <std::size_t N>
void ShowScreen(const ScreenRow (&rows)[N]) {
  ClearScreen();
  for (const ScreenRow& row : rows) {
    SetTextColor(row.colour);
    WriteLine(row.text);
  }
}

}  // namespace

void OpenConsole() {
  platform::ConsoleOpen();
  TextAttribute = platform::ConsoleStartAttribute();
  ProgressStars = 0;
}

void SetTextColor(std::uint8_t colour) { TextAttribute = AttributeWithColor(TextAttribute, colour); }

void ClearScreen() { platform::ConsoleClear(TextAttribute); }

void Write(std::string_view text) { platform::ConsoleWrite(text, TextAttribute); }

void WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + platform::kLineEnd.size());
  line.append(text).append(platform::kLineEnd);
  platform::ConsoleWrite(line, TextAttribute);
}

void ShowHelp() { ShowScreen(kHelpScreen); }

void ShowInfo() { ShowScreen(kInfoScreen); }

void ShowError(std::string_view message) {
  WriteLine("");
  SetTextColor(kLightRed);
  WriteLine(kErrorHeading);
  WriteLine("");
  SetTextColor(kYellow);
  WriteLine(message);
  WriteLine("");
  WriteLine("");
  SetTextColor(kWhite);
}

void ShowLine(std::string_view message, bool blank_first) {
  if (blank_first) WriteLine("");
  WriteLine(message);
}

std::int32_t ProgressCount(std::int64_t current, std::int64_t total) {
  if (total <= 0) return 0;  // never asked for; no star
  const double quotient = static_cast<double>(current * 64) / static_cast<double>(total);
  // Truncation toward zero; a quotient beyond 64 bits cannot come from the
  // sizes a run handles, and is held at the largest count.
  if (!(quotient < 9.2e18) || !(quotient > -9.2e18)) return INT32_MAX;
  const auto truncated = static_cast<std::int64_t>(quotient);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(truncated));
}

std::int64_t NextStarAt(std::int64_t total, std::int64_t stars) {
  if (total <= 0) return INT64_MAX;
  // ceil((stars + 1) * total / 64) is where the exact quotient reaches the
  // next count; the double arithmetic of ProgressCount decides, so step from
  // the estimate to the exact first point.
  std::int64_t at = ((stars + 1) * total + 63) / 64;
  if (at < 1) at = 1;
  while (at > 1 && ProgressCount(at - 1, total) > stars) --at;
  while (ProgressCount(at, total) <= stars) ++at;
  return at;
}

void StartProgress() {
  ProgressStars = 0;
  WriteLine("");
  WriteLine(kProgressScale);
}

void AdvanceProgress(std::int64_t current, std::int64_t total) {
  const std::int32_t count = ProgressCount(current, total);
  if (count > ProgressStars) {
    ProgressStars = count;
    Write("*");
  }
}
