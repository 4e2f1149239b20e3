// Everything the tool shows: colours, the two screens, error blocks, plain
// lines and the progress bar.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Palette indexes of the 16-colour console.
inline constexpr std::uint8_t kGreen = 2;
inline constexpr std::uint8_t kLightRed = 12;
inline constexpr std::uint8_t kYellow = 14;
inline constexpr std::uint8_t kWhite = 15;

inline constexpr std::string_view kUsageLine =
    "Usage: [-edtih] <keyfile> <inputfile> <outputfile>";

// The colour given to every character written; starts as the console's own.
extern std::uint8_t TextAttribute;
// Stars already drawn in the current progress bar.
extern std::int64_t ProgressStars;

// Starts the console; TextAttribute takes the console's colours.
void OpenConsole();

// The attribute after a colour change: the background bits 4-6 stay, the
// foreground bits and bit 7 come from the colour.
constexpr std::uint8_t AttributeWithColor(std::uint8_t attribute, std::uint8_t colour) {
  return static_cast<std::uint8_t>((attribute & 0x70) | (colour & 0x8F));
}

// text as a message may show it: a name or a field from the user or from a
// file cannot act on the terminal. Each byte of a C0 control (0x00-0x1F),
// DEL, a C1 control (U+0080-U+009F) or anything that is not valid UTF-8 (a
// surrogate, as Windows names may hold one, included) becomes \xNN, in
// upper-case hex; every other character, `\` included, stays as it is, so
// an ordinary name reads as typed.
std::string Printable(std::string_view text);

void SetTextColor(std::uint8_t colour);
void ClearScreen();
void Write(std::string_view text);
void WriteLine(std::string_view text);

void ShowHelp();
void ShowInfo();
// Messages, shown through Printable: names and fields go into them as they
// are.
void ShowError(std::string_view message);
void ShowLine(std::string_view message, bool blank_first);

// The star count a bar shows for current of total: floor(64 * current /
// total), with the product formed in 64 bits and the quotient in double
// precision, its low 32 bits taken as a signed number.
std::int32_t ProgressCount(std::int64_t current, std::int64_t total);

// The smallest current (at least 1) at which ProgressCount exceeds stars.
// For a caller whose current only grows, only there can the next star
// appear, so the work in between needs no progress call at all.
std::int64_t NextStarAt(std::int64_t total, std::int64_t stars);

void StartProgress();
void AdvanceProgress(std::int64_t current, std::int64_t total);
