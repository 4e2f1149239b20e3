// ANSI terminal backend of the console.
#include "platform/console.h"

#include <cerrno>
#include <csignal>
#include <string>
#include <unistd.h>

#include "platform/ansi_colour.h"

namespace platform {

const std::string_view kLineEnd = "\n";

namespace {

ansi::Stream g_stream;
// Whether colours are on, for a signal handler to read.
volatile std::sig_atomic_t g_colour = 0;

void WriteAll(std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t size = bytes.size();
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
  g_stream = {ansi::ColourWanted(::isatty(STDOUT_FILENO) == 1)};
  g_colour = g_stream.colour;
}

std::uint8_t ConsoleStartAttribute() { return ansi::kPlainAttribute; }

void ConsoleWrite(std::string_view text, std::uint8_t attribute) {
  WriteAll(ansi::Text(g_stream, text, attribute));
}

void ConsoleClear(std::uint8_t attribute) { WriteAll(ansi::Clear(g_stream, attribute)); }

void ConsoleClose() { WriteAll(ansi::Close(g_stream)); }

void ConsoleResetNow() {
  if (!g_colour) return;
  // Only write(2) here: the reset may cut into a line, never into the heap.
  const ssize_t ignored = ::write(STDOUT_FILENO, ansi::kReset.data(), ansi::kReset.size());
  (void)ignored;
}

}  // namespace platform
