// ANSI terminal backend of the console.
#include "platform/console.h"

#include <cerrno>
#include <string>
#include <unistd.h>

#include "platform/ansi_colour.h"

namespace platform {

const std::string_view kLineEnd = "\n";

namespace {

bool g_colour = false;
std::uint8_t g_shown = ansi::kPlainAttribute;  // the attribute the terminal shows now

void WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the console reports no failure to its callers
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void ConsoleOpen() {
  g_colour = ansi::ColourWanted(::isatty(STDOUT_FILENO) == 1);
  g_shown = ansi::kPlainAttribute;
}

bool ConsoleHasColour() { return g_colour; }

std::uint8_t ConsoleStartAttribute() { return ansi::kPlainAttribute; }

void ConsoleWrite(std::string_view text, std::uint8_t attribute) {
  if (!g_colour || attribute == g_shown) {
    WriteAll(text.data(), text.size());
    return;
  }
  std::string out;
  out.reserve(text.size() + 16);
  ansi::AppendSgr(out, attribute);
  g_shown = attribute;
  out.append(text);
  WriteAll(out.data(), out.size());
}

void ConsoleClear(std::uint8_t attribute) {
  if (!g_colour) return;
  std::string out;
  if (attribute != g_shown) ansi::AppendSgr(out, attribute);
  g_shown = attribute;
  out += ansi::kClearAndHome;
  WriteAll(out.data(), out.size());
}

void ConsoleClose() {
  if (!g_colour || g_shown == ansi::kPlainAttribute) return;
  WriteAll(ansi::kReset.data(), ansi::kReset.size());
  g_shown = ansi::kPlainAttribute;
}

}  // namespace platform
