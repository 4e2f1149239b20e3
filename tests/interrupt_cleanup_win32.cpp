// Test helper, cross-built with the Windows build and run under wine, which
// cannot deliver Ctrl-C to a program: does what the console control handler
// does while a temporary file is open and half-written, and says whether
// the file went and the target stayed. Usage: interrupt_cleanup FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string target = std::string(argv[1]) + "\\out.tvx";
  std::string temp;
  const platform::FileHandle file = platform::CreateTempBeside(target, temp);
  if (file == platform::kNoFile || platform::WriteSome(file, "half", 4) != 4) {
    std::puts("no temporary file");
    return 1;
  }
  platform::CleanUpAfterInterrupt();
  // The handler ends the process, which closes the file; so does this.
  platform::CloseFile(file);
  const bool gone = GetFileAttributesA(temp.c_str()) == INVALID_FILE_ATTRIBUTES;
  std::puts(gone ? "removed" : "left behind");
  return gone ? 0 : 1;
}
