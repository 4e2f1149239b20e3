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

// The length of the printable character that starts at text[at]: 0 for a
// control, or for a byte that begins no valid UTF-8 sequence there
// (shortest forms only, no surrogates, nothing beyond U+10FFFF).
std::size_t PrintableLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
  };
  const unsigned lead = byte(at);
  if (lead < 0x20 || lead == 0x7F) return 0;
  if (lead < 0x80) return 1;
  // The range of the byte after the lead, which rules out overlong forms,
  // surrogates, code points past U+10FFFF and the C1 controls; each byte
  // after that is 0x80-0xBF.
  unsigned low = 0x80, high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    if (lead == 0xC2) low = 0xA0;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

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

std::string Printable(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (const std::size_t length = PrintableLength(text, at); length > 0) {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[at++]);
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
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
  WriteLine(Printable(message));
  WriteLine("");
  WriteLine("");
  SetTextColor(kWhite);
}

void ShowLine(std::string_view message, bool blank_first) {
  if (blank_first) WriteLine("");
  WriteLine(Printable(message));
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
