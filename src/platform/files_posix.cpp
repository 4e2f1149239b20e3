#include "platform/files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// One read or write request moves at most this much; Linux moves at most
// about 2 GiB per call anyway, and the callers loop.
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;

int Fd(FileHandle file) { return static_cast<int>(file); }

// The temporary file an interruption removes: written with every signal
// held off, read by the handler, which may run on any thread.
char g_temp_path[8192];
volatile std::sig_atomic_t g_temp_set = 0;

// Holds off the signals of this thread for as long as it lives.
struct SignalsHeldOff {
  sigset_t before;
  SignalsHeldOff() {
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &before);
  }
  ~SignalsHeldOff() { ::pthread_sigmask(SIG_SETMASK, &before, nullptr); }
};

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileHandle OpenForReading(const std::string& path) {
  // A FIFO is read as cat reads it: the open waits for a writer, and its
  // end is where the last writer closes it.
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) return fd;
    if (errno != EINTR) return kNoFile;
  }
}

std::int64_t FileSize(FileHandle file) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) return kNotAFile;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t ReadSome(FileHandle file, void* buffer, std::int64_t size) {
  if (size > kMaxTransfer) size = kMaxTransfer;
  for (;;) {
    ssize_t n = ::read(Fd(file), buffer, static_cast<std::size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

std::int64_t WriteSome(FileHandle file, const void* buffer, std::int64_t size) {
  if (size > kMaxTransfer) size = kMaxTransfer;
  for (;;) {
    ssize_t n = ::write(Fd(file), buffer, static_cast<std::size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool SyncFile(FileHandle file) {
  for (;;) {
    if (::fdatasync(Fd(file)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool CloseFile(FileHandle file) { return ::close(Fd(file)) == 0; }

bool CanOpenForWriting(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

FileHandle CreateNewFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  return fd < 0 ? kNoFile : fd;
}

FileHandle CreateTempBeside(const std::string& target, std::string& temp_path) {
  const auto slash = target.rfind('/');
  temp_path = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  temp_path += ".talvex-XXXXXX";
  // Made and registered in one step as far as an interruption can tell:
  // there is no moment at which the file exists and the handler does not
  // know it.
  const SignalsHeldOff held;
  int fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
  if (fd < 0) return kNoFile;
  if (temp_path.size() < sizeof g_temp_path) {
    std::memcpy(g_temp_path, temp_path.c_str(), temp_path.size() + 1);
    g_temp_set = 1;
  }
  // mkostemp makes the file private; give it the permissions the file it
  // replaces had, or those of any new file.
  struct stat st {};
  mode_t mode;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  return fd;
}

void ForgetTempFile() { g_temp_set = 0; }

void RemoveTempFileNow() {
  if (g_temp_set) ::unlink(g_temp_path);
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace platform
