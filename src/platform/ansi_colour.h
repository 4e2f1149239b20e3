// What both console backends share: the rule that turns colour on or off,
// and the ANSI sequences written to a terminal (POSIX) or, when colour is
// forced, to a pipe (Windows), so that both builds emit the same bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::ansi {

// Foreground 7 on background 0 stands for "the terminal's own colours",
// since a terminal does not tell us its colours.
inline constexpr std::uint8_t kPlainAttribute = 0x07;

inline constexpr std::string_view kClearAndHome = "\x1b[2J\x1b[H";
inline constexpr std::string_view kReset = "\x1b[0m";

inline bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

inline bool EnvForces(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// FORCE_COLOR / CLICOLOR_FORCE win; otherwise colour needs a terminal that
// is not TERM=dumb, and NO_COLOR turns it off.
inline bool ColourWanted(bool terminal) {
  if (EnvForces("FORCE_COLOR") || EnvForces("CLICOLOR_FORCE")) return true;
  const char* term = std::getenv("TERM");
  const bool dumb = term != nullptr && std::strcmp(term, "dumb") == 0;
  return terminal && !dumb && !EnvSet("NO_COLOR");
}

// Appends the SGR sequence that shows attribute; bit 7 (blink) is not shown.
inline void AppendSgr(std::string& out, std::uint8_t attribute) {
  // The console palette orders blue, green, red; ANSI orders red, green, blue.
  static constexpr char kAnsiDigit[8] = {'0', '4', '2', '6', '1', '5', '3', '7'};
  out += "\x1b[0";
  const unsigned fg = attribute & 0x0F;
  const unsigned bg = (attribute >> 4) & 0x07;
  if (fg != (kPlainAttribute & 0x0F)) {
    out += fg < 8 ? ";3" : ";9";
    out += kAnsiDigit[fg & 7];
  }
  if (bg != 0) {
    out += ";4";
    out += kAnsiDigit[bg];
  }
  out += 'm';
}

// Console output as an ANSI byte stream: each write carries the SGR
// sequence its attribute needs, when that differs from what the reader shows.
struct Stream {
  bool colour = false;
  std::uint8_t shown = kPlainAttribute;  // what the reader shows now
};

// The bytes that show text in attribute.
inline std::string Text(Stream& stream, std::string_view text, std::uint8_t attribute) {
  std::string out;
  if (stream.colour && attribute != stream.shown) {
    AppendSgr(out, attribute);
    stream.shown = attribute;
  }
  out.append(text);
  return out;
}

// The bytes that clear the screen in attribute and home the cursor; none
// without colour, where the output is a plain record of the text.
inline std::string Clear(Stream& stream, std::uint8_t attribute) {
  if (!stream.colour) return {};
  std::string out = Text(stream, "", attribute);
  out += kClearAndHome;
  return out;
}

// The bytes that give the reader its own colours back at the end.
inline std::string_view Close(Stream& stream) {
  if (!stream.colour || stream.shown == kPlainAttribute) return {};
  stream.shown = kPlainAttribute;
  return kReset;
}

}  // namespace platform::ansi
