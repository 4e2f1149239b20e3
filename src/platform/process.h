// What the process learns from and hands back to the operating system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"

namespace platform {

// Sets the process up before anything else runs: a write to a closed pipe
// or past the file size limit must come back as an error, not kill the
// process; no crash dialog may ever wait for a user; and an interruption
// (HUP, INT, QUIT, TERM, USR1, USR2, ALRM, VTALRM, PROF, XCPU, IO and PWR,
// unless ignored from the start; on Windows Ctrl-C, Ctrl-Break, closing the
// console) first cleans up (CleanUpAfterInterrupt), then ends the process
// as that interruption would have.
void PrepareProcess();

// What an interrupted run undoes: the temporary file being written goes,
// and the terminal gets its own colours back. Safe in a signal handler.
inline void CleanUpAfterInterrupt() {
  RemoveTempFileNow();
  ConsoleResetNow();
}

// The command-line arguments after the program's own path, as byte strings.
// On Windows they come from the wide command line, converted to WTF-8
// (UTF-8 that keeps an unpaired surrogate).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Fills frames with the code addresses of the current call chain, innermost
// first, leaving out the skip innermost ones; returns the count filled.
int CaptureCallChain(void** frames, int max, int skip);

// Asks for large pages (2 MiB) under the memory at data, where the system
// gives them on request: a large key then loads with a few hundred page
// faults instead of thousands, and its random lookups miss the TLB less.
// Nothing changes where it does not.
void AdviseLargePages(void* data, std::size_t size);

// Writes text to the standard error stream, unbuffered.
void WriteStandardError(std::string_view text);

}  // namespace platform
