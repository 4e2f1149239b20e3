// Win32 console backend: colours are console attributes set through the
// console API; when stdout is a file or a pipe the text goes out as plain
// bytes (or, with colour forced, with the same ANSI sequences as on POSIX).
#include "platform/console.h"

#include <io.h>
#include <string>
#include <windows.h>

#include "platform/ansi_colour.h"
#include "platform/win32_text.h"

namespace platform {

const std::string_view kLineEnd = "\r\n";

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;
bool g_console = false;  // stdout is a real console window
bool g_colour = false;
std::uint8_t g_start_attribute = ansi::kPlainAttribute;
SMALL_RECT g_window{};   // the visible cells at start-up, what a clear covers
std::uint8_t g_shown = ansi::kPlainAttribute;  // ANSI output only: what the reader shows now

void WriteBytes(const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD request = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    // The console reports no failure to its callers: a closed pipe ends the
    // output, not the run.
    if (!WriteFile(g_out, data, request, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

void WriteToConsole(std::string_view text, std::uint8_t attribute) {
  // Only the written characters get the colour: the console's own attribute
  // is put back at once, so the prompt after the run has its usual colours.
  const bool recolour = g_colour && attribute != g_start_attribute;
  if (recolour) SetConsoleTextAttribute(g_out, attribute);
  win32::WriteAnsiConsole(g_out, text);
  if (recolour) SetConsoleTextAttribute(g_out, g_start_attribute);
}

void ClearConsoleWindow(std::uint8_t attribute) {
  const WORD fill = g_colour ? attribute : g_start_attribute;
  const DWORD width = static_cast<DWORD>(g_window.Right - g_window.Left + 1);
  for (SHORT row = g_window.Top; row <= g_window.Bottom; ++row) {
    const COORD start{g_window.Left, row};
    DWORD done = 0;
    FillConsoleOutputCharacterA(g_out, ' ', width, start, &done);
    FillConsoleOutputAttribute(g_out, fill, width, start, &done);
  }
  SetConsoleCursorPosition(g_out, COORD{g_window.Left, g_window.Top});
}

}  // namespace

void ConsoleOpen() {
  g_out = GetStdHandle(STD_OUTPUT_HANDLE);
  // _isatty alone is true for NUL; only a console answers GetConsoleMode.
  DWORD mode = 0;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  g_console = _isatty(1) != 0 && GetConsoleMode(g_out, &mode) &&
              GetConsoleScreenBufferInfo(g_out, &info);
  g_colour = ansi::ColourWanted(g_console);
  g_start_attribute = g_console ? static_cast<std::uint8_t>(info.wAttributes & 0xFF)
                                : ansi::kPlainAttribute;
  g_window = info.srWindow;
  g_shown = ansi::kPlainAttribute;
}

bool ConsoleHasColour() { return g_colour; }

std::uint8_t ConsoleStartAttribute() { return g_start_attribute; }

void ConsoleWrite(std::string_view text, std::uint8_t attribute) {
  if (g_console) {
    WriteToConsole(text, attribute);
    return;
  }
  if (!g_colour || attribute == g_shown) {
    WriteBytes(text.data(), text.size());
    return;
  }
  std::string out;
  out.reserve(text.size() + 16);
  ansi::AppendSgr(out, attribute);
  g_shown = attribute;
  out.append(text);
  WriteBytes(out.data(), out.size());
}

void ConsoleClear(std::uint8_t attribute) {
  if (g_console) {
    ClearConsoleWindow(attribute);
    return;
  }
  if (!g_colour) return;
  std::string out;
  if (attribute != g_shown) ansi::AppendSgr(out, attribute);
  g_shown = attribute;
  out += ansi::kClearAndHome;
  WriteBytes(out.data(), out.size());
}

void ConsoleClose() {
  if (g_console) {
    SetConsoleTextAttribute(g_out, g_start_attribute);
    return;
  }
  if (!g_colour || g_shown == ansi::kPlainAttribute) return;
  WriteBytes(ansi::kReset.data(), ansi::kReset.size());
  g_shown = ansi::kPlainAttribute;
}

}  // namespace platform
