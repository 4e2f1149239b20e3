#include "platform/mapping.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/write_all_posix.h"

namespace platform {

namespace {

int Fd(FileHandle file) { return static_cast<int>(file); }

// What the fault handler needs, set before it is installed and never
// changed while it may run: the guarded range, and the report in a buffer
// of its own, since a handler may neither allocate nor format.
volatile std::uintptr_t g_guard_begin = 0;
volatile std::uintptr_t g_guard_end = 0;
char g_report[4096];
std::size_t g_report_size = 0;
int g_exit_status = 1;
std::atomic<bool> g_ending = false;
static_assert(std::atomic<bool>::is_always_lock_free, "used in a signal handler");

extern "C" void OnFault(int signal, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (address < g_guard_begin || address >= g_guard_end) {
    // Not ours: the default action, once this handler returns and the
    // faulting instruction runs again.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(signal, &action, nullptr);
    return;
  }
  // Workers that fault at once report once: the first ends the process,
  // the others wait for that.
  if (g_ending.exchange(true)) {
    for (;;) ::pause();
  }
  CleanUpAfterInterrupt();
  WriteAll(STDERR_FILENO, g_report, g_report_size);
  ::_exit(g_exit_status);
}

}  // namespace

bool MapForReading(FileHandle file, std::int64_t size, MappedFile& view) {
  if (size <= 0) return false;
  void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, Fd(file), 0);
  if (data == MAP_FAILED) return false;
  // Lookups land anywhere: a fault reads in its own page, not the pages
  // around it, so a cold key costs what is looked up of it.
  ::madvise(data, static_cast<std::size_t>(size), MADV_RANDOM);
  view.data = static_cast<const std::uint8_t*>(data);
  view.size = size;
  return true;
}

void Unmap(MappedFile& view) {
  if (view.data == nullptr) return;
  // The guard ends with the mapping: its addresses may be reused.
  if (g_guard_begin == reinterpret_cast<std::uintptr_t>(view.data)) {
    g_guard_begin = 0;
    g_guard_end = 0;
  }
  ::munmap(const_cast<std::uint8_t*>(view.data), static_cast<std::size_t>(view.size));
  view = MappedFile{};
}

void MapAllPagesNow(const MappedFile& view) {
  if (view.data == nullptr) return;
  void* data = const_cast<std::uint8_t*>(view.data);
  const auto size = static_cast<std::size_t>(view.size);
  // A file system that caches files in large pages maps them whole: a
  // lookup then rarely misses the TLB. Pages read in from now on are read
  // in large pieces, which costs nothing when all are read anyway.
  ::madvise(data, size, MADV_HUGEPAGE);
  // Read in whole, in large pieces: the advice of random lookups would
  // have each page read alone. (The advice of sequential reading measured
  // no faster, and would have the pages dropped first under pressure.)
  ::madvise(data, size, MADV_NORMAL);
  // Linux 5.14 and later; before, the pages come in as they are touched.
  ::madvise(data, size, MADV_POPULATE_READ);
}

bool StampOf(FileHandle file, FileStamp& stamp) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) return false;
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.links = static_cast<std::int64_t>(st.st_nlink);
  return true;
}

void EndOnFaultIn(const MappedFile& view, const std::string& report, int exit_status) {
  g_guard_begin = 0;
  g_guard_end = 0;
  g_report_size = std::min(report.size(), sizeof g_report);
  std::memcpy(g_report, report.data(), g_report_size);
  g_exit_status = exit_status;
  g_guard_begin = reinterpret_cast<std::uintptr_t>(view.data);
  g_guard_end = g_guard_begin + static_cast<std::uintptr_t>(view.size);
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO;
  // The interruptions wait: their clean-up is done here already.
  ::sigfillset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace platform
