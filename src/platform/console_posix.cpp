// ANSI terminal backend of the console.
#include "platform/console.h"

#include <csignal>
#include <string>
#include <unistd.h>

#include "platform/ansi_colour.h"
#include "platform/write_all_posix.h"

namespace platform {

const std::string_view kLineEnd = "\n";

namespace {

ansi::Stream g_stream;
// Whether colours are on, for a signal handler to read.
volatile std::sig_atomic_t g_colour = 0;

// The console reports no failure to its callers.
void WriteOut(std::string_view bytes) { WriteAll(STDOUT_FILENO, bytes.data(), bytes.size()); }

}  // namespace

void ConsoleOpen() {
  g_stream = {ansi::ColourWanted(::isatty(STDOUT_FILENO) == 1)};
  g_colour = g_stream.colour;
}

std::uint8_t ConsoleStartAttribute() { return ansi::kPlainAttribute; }

void ConsoleWrite(std::string_view text, std::uint8_t attribute) {
  WriteOut(ansi::Text(g_stream, text, attribute));
}

void ConsoleClear(std::uint8_t attribute) { WriteOut(ansi::Clear(g_stream, attribute)); }

void ConsoleClose() { WriteOut(ansi::Close(g_stream)); }

void ConsoleResetNow() {
  if (!g_colour) return;
  // Only write(2) here: the reset may cut into a line, never into the heap.
  WriteOut(ansi::kReset);
}

}  // namespace platform
