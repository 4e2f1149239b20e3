// Test helper, cross-built with the Windows build and run under wine on a
// terminal (wine then gives it a console). An interruption can come in the
// middle of a console write, which has the console's colour and output
// code page switched; the console outlives the process. This does what the
// control handler does at such a moment: a thread writes coloured text
// over and over, and once it is caught with both switched it is stopped
// where it stands (as ExitProcess stops it) and the clean-up runs. It
// says what the console has then: "kept" when its own code page and colour
// are back, else what it was left with. Usage: interrupt_cleanup
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/process.h"

namespace {

constexpr std::uint8_t kYellow = 0x0E;

UINT Page() { return GetConsoleOutputCP(); }

WORD Colour() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info);
  return info.wAttributes & 0xFF;
}

DWORD WINAPI WriteForEver(void*) {
  const std::string text(4096, 'x');
  for (;;) platform::ConsoleWrite(text, kYellow);
}

}  // namespace

int main() {
  // A code page of the console's own that the writes must switch away from.
  const UINT own_page = GetACP() == 437 ? 850 : 437;
  if (!SetConsoleOutputCP(own_page) || Page() != own_page) {
    std::puts("no console");
    return 1;
  }
  platform::ConsoleOpen();
  const WORD own_colour = platform::ConsoleStartAttribute();
  if (own_colour == kYellow) {
    std::puts("the console is yellow already");
    return 1;
  }
  HANDLE writer = CreateThread(nullptr, 0, WriteForEver, nullptr, 0, nullptr);
  // Caught inside a write: both switched, and still so once it is stopped.
  bool caught = false;
  for (int tries = 0; tries < 100000 && !caught; ++tries) {
    if (Page() == own_page || Colour() != kYellow) continue;
    SuspendThread(writer);
    caught = Page() != own_page && Colour() == kYellow;
    if (!caught) ResumeThread(writer);
  }
  if (!caught) {
    std::puts("no write caught");
    return 1;
  }
  platform::CleanUpAfterInterrupt();
  const UINT page = Page();
  const WORD colour = Colour();
  std::string said = page == own_page && colour == own_colour
                         ? "kept"
                         : "left with code page " + std::to_string(page) + ", colour " +
                               std::to_string(colour) + " (own " + std::to_string(own_page) +
                               ", " + std::to_string(own_colour) + ")";
  // Through the console API, whatever page the console is left with.
  said = "\n" + said + "\n";
  DWORD written = 0;
  WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), said.data(), static_cast<DWORD>(said.size()),
                &written, nullptr);
  // The writer is never let go again: the process ends as the handler ends it.
  TerminateProcess(GetCurrentProcess(), page == own_page && colour == own_colour ? 0 : 1);
}
