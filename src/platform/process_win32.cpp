#include "platform/process.h"

#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "platform/win32_text.h"

namespace platform {

namespace {

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  CleanUpAfterInterrupt();
  // The status a console program ended by Ctrl-C has.
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void PrepareProcess() {
  // No message box may ever wait for a user: not for a missing drive, not
  // for a crash (Windows Error Reporting), not from the C runtime.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  _set_error_mode(_OUT_TO_STDERR);
  // Whatever goes through the C runtime leaves as the bytes it is.
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

std::vector<std::string> CommandLineArguments(int, char**) {
  // The narrow argv holds the arguments in the ANSI code page, which loses
  // characters outside it; the wide command line has them all, and WTF-8
  // keeps even an unpaired surrogate, which a Windows name may hold, to
  // reach the file system as it was typed.
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(win32::Wtf8(wide[i]));  // [0]: us
  LocalFree(wide);
  return args;
}

int CaptureCallChain(void** frames, int max, int skip) {
  if (max <= 0) return 0;
  // Windows before Vista refuses more than 62 frames in one call.
  constexpr int kLimit = 62;
  int count = RtlCaptureStackBackTrace(static_cast<DWORD>(skip + 1),  // this function itself
                                       static_cast<DWORD>(max < kLimit ? max : kLimit), frames,
                                       nullptr);
  // Past the thread's first frame some systems hand back null addresses.
  for (int i = 0; i < count; ++i) {
    if (frames[i] == nullptr) return i;
  }
  return count;
}

// Large pages on Windows need a privilege that users do not have.
void AdviseLargePages(void*, std::size_t) {}

void WriteStandardError(std::string_view text) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  // A console shows the report's paths in the same characters as the
  // console text; a file or pipe gets UTF-8.
  DWORD mode = 0;
  if (GetConsoleMode(error, &mode)) {
    win32::WriteAnsiConsole(error, text);
    return;
  }
  std::string utf8;
  text = win32::Utf8Text(text, utf8);
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD request = static_cast<DWORD>(text.size() < (1u << 30) ? text.size() : (1u << 30));
    if (!WriteFile(error, text.data(), request, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace platform
