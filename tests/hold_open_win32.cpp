// Test helper, cross-built for Windows and run under wine.
//   hold_open FILE   opens FILE for writing (letting others read and write,
//                    not delete), says "held" on stdout, and keeps it open
//                    until its standard input ends.
//   hold_open --start PROGRAM ARG...
//                    runs PROGRAM with the arguments, in which \uXXXX stands
//                    for that UTF-16 unit, and exits with its exit status:
//                    an unpaired surrogate cannot come through wine's own
//                    command line, which is converted from the locale's.
#include <windows.h>

#include <string>

namespace {

std::wstring Unescaped(const char* text) {
  std::wstring out;
  for (const char* c = text; *c != '\0'; ++c) {
    if (c[0] == '\\' && c[1] == 'u' && c[2] && c[3] && c[4] && c[5]) {
      out += static_cast<wchar_t>(std::stoul(std::string(c + 2, 4), nullptr, 16));
      c += 5;
    } else {
      out += static_cast<wchar_t>(static_cast<unsigned char>(*c));  // ASCII in the tests
    }
  }
  return out;
}

int Start(int count, char** words) {
  std::wstring command;
  for (int i = 0; i < count; ++i) command += (i ? L" \"" : L"\"") + Unescaped(words[i]) + L"\"";
  // A program named by its Linux path is found through wine's drive Z:.
  if (words[0][0] == '/') command.insert(1, L"Z:");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--start") return Start(argc - 2, argv + 2);
  if (argc != 2) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD count = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &count, nullptr);
  char byte = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
  }
  CloseHandle(file);
  return 0;
}
