// ANSI terminal backend of the console.
#include "platform/console.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace platform {

const std::string_view kLineEnd = "\n";

namespace {

// The terminal's own colours: foreground 7 and background 0 stand for "as
// the terminal has them", since a terminal does not tell us its colours.
constexpr std::uint8_t kStartAttribute = 0x07;

bool g_colour = false;
std::uint8_t g_shown = kStartAttribute;  // the attribute the terminal shows now

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

bool EnvForces(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

void WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the console reports no failure to its callers
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// The console palette orders blue, green, red; ANSI orders red, green, blue.
constexpr char kAnsiDigit[8] = {'0', '4', '2', '6', '1', '5', '3', '7'};

// Appends the SGR sequence that shows attribute; bit 7 (blink) is not shown.
void AppendSgr(std::string& out, std::uint8_t attribute) {
  out += "\x1b[0";
  const unsigned fg = attribute & 0x0F;
  const unsigned bg = (attribute >> 4) & 0x07;
  if (fg != (kStartAttribute & 0x0F)) {
    out += fg < 8 ? ";3" : ";9";
    out += kAnsiDigit[fg & 7];
  }
  if (bg != 0) {
    out += ";4";
    out += kAnsiDigit[bg];
  }
  out += 'm';
}

}  // namespace

void ConsoleOpen() {
  const char* term = std::getenv("TERM");
  const bool dumb = term != nullptr && std::strcmp(term, "dumb") == 0;
  if (EnvForces("FORCE_COLOR") || EnvForces("CLICOLOR_FORCE")) {
    g_colour = true;
  } else {
    g_colour = ::isatty(STDOUT_FILENO) == 1 && !dumb && !EnvSet("NO_COLOR");
  }
  g_shown = kStartAttribute;
}

bool ConsoleHasColour() { return g_colour; }

std::uint8_t ConsoleStartAttribute() { return kStartAttribute; }

void ConsoleWrite(std::string_view text, std::uint8_t attribute) {
  if (!g_colour || attribute == g_shown) {
    WriteAll(text.data(), text.size());
    return;
  }
  std::string out;
  out.reserve(text.size() + 16);
  AppendSgr(out, attribute);
  g_shown = attribute;
  out.append(text);
  WriteAll(out.data(), out.size());
}

void ConsoleClear(std::uint8_t attribute) {
  if (!g_colour) return;
  std::string out;
  if (attribute != g_shown) AppendSgr(out, attribute);
  g_shown = attribute;
  out += "\x1b[2J\x1b[H";
  WriteAll(out.data(), out.size());
}

void ConsoleClose() {
  if (!g_colour || g_shown == kStartAttribute) return;
  WriteAll("\x1b[0m", 4);
  g_shown = kStartAttribute;
}

}  // namespace platform
