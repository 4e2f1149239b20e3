#include "platform/process.h"

#include <csignal>
#include <cstdint>
#include <execinfo.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/write_all_posix.h"

namespace platform {

namespace {

// The signals that end a process by default and that others send: each
// removes the temporary file first. Crash signals keep their own handling
// (the key mapping's SIGBUS handler, the sanitizers'); SIGKILL cannot be
// caught, and leaves nothing to remove where the file has no name yet.
constexpr int kInterrupts[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

extern "C" void OnInterrupt(int signal) {
  CleanUpAfterInterrupt();
  // Ended by the signal itself, so that the shell sees 128 + its number:
  // the default action takes over, and the signal, held off while this
  // handler runs, arrives again as it returns.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

}  // namespace

void PrepareProcess() {
  // A reader that goes away (talvex ... | head) must not kill an encryption
  // half-way: the console write fails quietly and the work completes.
  std::signal(SIGPIPE, SIG_IGN);
  // A write past the file size limit fails with EFBIG and is reported as
  // any failed write is, its temporary file removed.
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  ::sigemptyset(&action.sa_mask);
  for (const int signal : kInterrupts) ::sigaddset(&action.sa_mask, signal);
  for (const int signal : kInterrupts) {
    struct sigaction before {};
    ::sigaction(signal, nullptr, &before);
    // A signal ignored from the start (nohup, a background job) stays so.
    if (before.sa_handler != SIG_IGN) ::sigaction(signal, &action, nullptr);
  }
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

int CaptureCallChain(void** frames, int max, int skip) {
  constexpr int kLimit = 64;
  void* all[kLimit];
  int count = ::backtrace(all, kLimit);
  ++skip;  // this function itself
  int filled = 0;
  for (int i = skip; i < count && filled < max; ++i) frames[filled++] = all[i];
  return filled;
}

void AdviseLargePages(void* data, std::size_t size) {
  // Only whole large pages inside the buffer can be given.
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void WriteStandardError(std::string_view text) { WriteAll(STDERR_FILENO, text.data(), text.size()); }

}  // namespace platform
