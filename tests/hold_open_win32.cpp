// Test helper, cross-built for Windows and run under wine.
//   hold_open FILE [SHARE]
//                    opens FILE for writing, letting others do what SHARE
//                    names (r read, w write, d delete, - nothing; rw when
//                    not given), says "held" on stdout, and keeps it open
//                    until its standard input ends.
//   hold_open --full-path NAME
//                    says what GetFullPathNameW makes of NAME, in UTF-8: a
//                    device comes back as \\.\ and its name (\\.\nul).
//   hold_open --start PROGRAM ARG...
//                    runs PROGRAM with the arguments, in which \uXXXX stands
//                    for that UTF-16 unit, and exits with its exit status:
//                    an unpaired surrogate cannot come through wine's own
//                    command line, which is converted from the locale's.
#include <windows.h>

#include <cstring>
#include <string>

// The command line of the words, in quotes, with each \uXXXX as that
// UTF-16 unit (the words are ASCII otherwise); a program named by its Linux
// path is found through wine's drive Z:.
std::wstring CommandLine(int count, char** words) {
  std::wstring line;
  for (int i = 0; i < count; ++i) {
    line += i == 0 ? (words[0][0] == '/' ? L"\"Z:" : L"\"") : L" \"";
    for (const char* c = words[i]; *c != '\0'; ++c) {
      const bool escape = c[0] == '\\' && c[1] == 'u' && std::strlen(c) >= 6;
      line += static_cast<wchar_t>(escape ? std::stoul(std::string(c + 2, 4), nullptr, 16)
                                          : static_cast<unsigned char>(*c));
      if (escape) c += 5;
    }
    line += L'"';
  }
  return line;
}

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--start") {
    std::wstring line = CommandLine(argc - 2, argv + 2);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD status = 126;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
      WaitForSingleObject(process.hProcess, INFINITE);
      GetExitCodeProcess(process.hProcess, &status);
    }
    return static_cast<int>(status);
  }
  DWORD count = 0;
  if (argc == 3 && std::string(argv[1]) == "--full-path") {
    wchar_t name[MAX_PATH], full[MAX_PATH];
    char utf8[4 * MAX_PATH];
    if (MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, name, MAX_PATH) == 0 ||
        GetFullPathNameW(name, MAX_PATH, full, nullptr) == 0) {
      return 1;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, full, -1, utf8, sizeof utf8, nullptr, nullptr);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, size > 0 ? size - 1 : 0, &count, nullptr);
    return 0;
  }
  if (argc != 2 && argc != 3) return 2;
  DWORD share = argc == 3 ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  for (const char* c = argc == 3 ? argv[2] : ""; *c != '\0'; ++c) {
    share |= *c == 'r'   ? FILE_SHARE_READ
             : *c == 'w' ? FILE_SHARE_WRITE
             : *c == 'd' ? FILE_SHARE_DELETE
                         : 0;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &count, nullptr);
  char byte = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
  }
  CloseHandle(file);
  return 0;
}
