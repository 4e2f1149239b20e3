#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <execinfo.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

void PrepareProcess() {
  // A reader that goes away (talvex ... | head) must not kill an encryption
  // half-way: the console write fails quietly and the work completes.
  std::signal(SIGPIPE, SIG_IGN);
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

void WriteStandardError(std::string_view text) {
  const char* data = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    ssize_t n = ::write(STDERR_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace platform
