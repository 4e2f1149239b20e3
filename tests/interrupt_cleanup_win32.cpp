// Test helper, cross-built with the Windows build and run under wine, which
// cannot deliver Ctrl-C to a program: does what the console control handler
// does while a temporary file is open and half-written, and says whether
// the file went and the target stayed, and the file's name. Usage:
// interrupt_cleanup FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/process.h"

namespace {

// Entries of folder other than the target: the temporary file, if any,
// whose name goes to *name.
int OthersIn(const std::string& folder, std::string* name = nullptr) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  do {
    const std::string entry = found.cFileName;
    if (entry == "." || entry == ".." || entry == "out.tvx") continue;
    ++count;
    if (name != nullptr) *name = entry;
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
  std::string temp_name;
  if (file == platform::kNoFile || platform::WriteSome(file, "half", 4) != 4 ||
      OthersIn(argv[1], &temp_name) != 1) {
    std::puts("no temporary file");
    return 1;
  }
  platform::CleanUpAfterInterrupt();
  // The handler ends the process, which closes the file; so does this.
  platform::CloseFile(file);
  const bool gone = OthersIn(argv[1]) == 0;
  std::printf("%s %s\n", gone ? "removed" : "left behind", temp_name.c_str());
  return gone ? 0 : 1;
}
