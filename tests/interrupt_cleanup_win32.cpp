// Test helper, cross-built with the Windows build and run under wine, which
// cannot deliver Ctrl-C to a program: does what the console control handler
// does while a temporary file is open and half-written, and says whether
// the file went and the target stayed. Usage: interrupt_cleanup FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/process.h"

namespace {

// Entries of folder other than the target: the temporary file, if any.
int OthersIn(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != ".." && name != "out.tvx") ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string target = std::string(argv[1]) + "\\out.tvx";
  platform::Refusal refusal;
  const platform::FileHandle file = platform::CreateTempBeside(target, refusal);
  if (file == platform::kNoFile || platform::WriteSome(file, "half", 4) != 4 ||
      OthersIn(argv[1]) != 1) {
    std::puts("no temporary file");
    return 1;
  }
  platform::CleanUpAfterInterrupt();
  // The handler ends the process, which closes the file; so does this.
  platform::CloseFile(file);
  const bool gone = OthersIn(argv[1]) == 0;
  std::puts(gone ? "removed" : "left behind");
  return gone ? 0 : 1;
}
