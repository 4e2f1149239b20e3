// The cipher text: a mode code, a comma, six signature entries, one entry
// per source byte, and the end marker. Every entry is a position field of P
// hex digits, a comma, a value field of two hex digits and a comma.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <string_view>

inline constexpr char kEntrySeparator = ',';
inline constexpr std::string_view kEndMarker = "**END**";
inline constexpr std::string_view kSignatureWord = "TALVEX";
inline constexpr int kSignatureEntries = 6;

// One row per cipher mode; every width, offset and length of the format is
// derived from the position width here.
struct ModeLayout {
  std::int32_t mode;           // 8, 16 or 32
  std::string_view code;       // the mode code written
  std::string_view also_read;  // an older code read as the same mode
  int position_width;          // P
  int entry_length;            // E = P + 4
  std::int64_t first_entry;    // D = 4 + 6E: the 1-based offset of the first data entry
  std::int64_t shortest_text;  // D + 6: the text of an empty source
};

constexpr ModeLayout MakeLayout(std::int32_t mode, std::string_view code,
                                std::string_view also_read, int width) {
  const int entry = width + 4;
  const std::int64_t first = 4 + kSignatureEntries * entry;
  return {mode, code, also_read, width, entry, first,
          first + static_cast<std::int64_t>(kEndMarker.size()) - 1};
}

inline constexpr std::array<ModeLayout, 3> kModeLayouts = {
    MakeLayout(8, "09", "08", 2),
    MakeLayout(16, "21", "20", 4),
    MakeLayout(32, "41", "40", 8),
};

// The layout of mode 8, 16 or 32. Any other mode gets mode 32's; no caller
// may pass one, which a debug build asserts.
constexpr const ModeLayout& LayoutOf(std::int32_t mode) {
  assert(mode == 8 || mode == 16 || mode == 32);
  return mode == 8 ? kModeLayouts[0] : mode == 16 ? kModeLayouts[1] : kModeLayouts[2];
}

// Length of the head: mode code, comma and signature block (D - 1), which
// is also the 0-based offset of the first data entry.
constexpr std::int64_t HeadLength(const ModeLayout& layout) { return layout.first_entry - 1; }

// Validation reads nothing beyond the shortest text of the widest mode:
// the first this many characters of a text, and its length, decide.
inline constexpr std::int64_t kValidatedLength = kModeLayouts[2].shortest_text;

// Length of the text for a source of n bytes: D + nE + 6.
constexpr std::int64_t CipherTextLength(const ModeLayout& layout, std::int64_t n) {
  return layout.shortest_text + n * layout.entry_length;
}

// Upper-case digit pairs of every byte value, "00" to "FF".
struct HexPairTable {
  char pair[256][2];
};
constexpr HexPairTable MakeHexPairs() {
  HexPairTable table{};
  constexpr char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 256; ++i) {
    table.pair[i][0] = digits[i >> 4];
    table.pair[i][1] = digits[i & 15];
  }
  return table;
}
inline constexpr HexPairTable kHexPairs = MakeHexPairs();

// Digit value of every character: 0-15 for 0-9, A-F and a-f; kNotHex else.
inline constexpr std::uint8_t kNotHex = 0xF0;
struct HexValueTable {
  std::uint8_t value[256];
};
constexpr HexValueTable MakeHexValues() {
  HexValueTable table{};
  for (int i = 0; i < 256; ++i) table.value[i] = kNotHex;
  for (int i = 0; i < 10; ++i) table.value['0' + i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table.value['A' + i] = static_cast<std::uint8_t>(10 + i);
    table.value['a' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return table;
}
inline constexpr HexValueTable kHexValues = MakeHexValues();
