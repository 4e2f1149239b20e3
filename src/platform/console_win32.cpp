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
ansi::Stream g_stream;   // colour on or off, and the ANSI state of a pipe
std::uint8_t g_start_attribute = ansi::kPlainAttribute;
SMALL_RECT g_window{};   // the visible cells at start-up, what a clear covers

// Text to a file or pipe, in UTF-8.
void WriteBytes(std::string_view text) {
  std::string holder;
  const std::string_view bytes = win32::Utf8Text(text, holder);
  const char* data = bytes.data();
  std::size_t size = bytes.size();
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
  const bool recolour = g_stream.colour && attribute != g_start_attribute;
  if (recolour) SetConsoleTextAttribute(g_out, attribute);
  win32::WriteAnsiConsole(g_out, text);
  if (recolour) SetConsoleTextAttribute(g_out, g_start_attribute);
}

void ClearConsoleWindow(std::uint8_t attribute) {
  const WORD fill = g_stream.colour ? attribute : g_start_attribute;
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
  g_stream = {ansi::ColourWanted(g_console)};
  g_start_attribute = g_console ? static_cast<std::uint8_t>(info.wAttributes & 0xFF)
                                : ansi::kPlainAttribute;
  g_window = info.srWindow;
}

std::uint8_t ConsoleStartAttribute() { return g_start_attribute; }

void ConsoleWrite(std::string_view text, std::uint8_t attribute) {
  if (g_console) {
    WriteToConsole(text, attribute);
  } else {
    WriteBytes(ansi::Text(g_stream, text, attribute));
  }
}

void ConsoleClear(std::uint8_t attribute) {
  if (g_console) {
    ClearConsoleWindow(attribute);
  } else {
    WriteBytes(ansi::Clear(g_stream, attribute));
  }
}

void ConsoleResetNow() {
  // The console's own colours and code page come back after every write
  // anyway; this covers a write cut short, to stdout or (the failure
  // report) to stderr. A pipe with colours forced gets the reset.
  win32::PutBackConsolePageNow();
  if (g_console) {
    SetConsoleTextAttribute(g_out, g_start_attribute);
  } else if (g_stream.colour) {
    DWORD written = 0;
    WriteFile(g_out, ansi::kReset.data(), static_cast<DWORD>(ansi::kReset.size()), &written, nullptr);
  }
}

void ConsoleClose() {
  if (g_console) {
    SetConsoleTextAttribute(g_out, g_start_attribute);
  } else {
    WriteBytes(ansi::Close(g_stream));
  }
}

}  // namespace platform
