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

// Makes path the file an interruption removes. Signals must be held off.
void Register(const std::string& path) {
  if (path.size() < sizeof g_temp_path) {
    std::memcpy(g_temp_path, path.c_str(), path.size() + 1);
    g_temp_set = 1;
  }
}

// The folder a path lies in, as a path of its own.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

PathKind KindAt(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return PathKind::kNothing;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

bool SameFile(const std::string& entry, const std::string& file) {
  struct stat se {}, sf {};
  if (::lstat(entry.c_str(), &se) != 0 || ::stat(file.c_str(), &sf) != 0) return false;
  return se.st_dev == sf.st_dev && se.st_ino == sf.st_ino;
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
  // Not through a link, and without waiting for the reader of a FIFO that
  // took the file's place since it was looked at.
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

FileHandle CreateNewFile(const std::string& path) {
  // Made and registered in one step as far as an interruption can tell;
  // O_EXCL neither follows a link nor opens a FIFO, so nothing here waits.
  const SignalsHeldOff held;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return kNoFile;
  Register(path);
  return fd;
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
  Register(temp_path);
  // mkostemp makes the file private. A regular file it replaces hands on
  // its nine permission bits, never set-user-ID, set-group-ID or sticky:
  // those do not travel with new content. A link is not followed, so the
  // mode of what it points to (0666 for /dev/null) never reaches a new file
  // that may hold a secret; it and anything else get the mode of a new file.
  struct stat st {};
  mode_t mode;
  if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 0777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  return fd;
}

bool MayRenameOver(const std::string& path) {
  struct stat entry {}, folder {};
  if (::lstat(path.c_str(), &entry) != 0) return true;
  // A folder that cannot be looked at is left to the creation of the
  // temporary file to tell.
  if (::stat(FolderOf(path).c_str(), &folder) != 0) return true;
  if ((folder.st_mode & S_ISVTX) == 0) return true;
  // In a sticky folder an entry goes only by its owner, the folder's owner
  // or root.
  const uid_t me = ::geteuid();
  return me == 0 || entry.st_uid == me || folder.st_uid == me;
}

FileHandle OpenInPlace(const std::string& path) {
  // Truncated only once known to be a regular file: a device or FIFO that
  // took its place is left alone.
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return kNoFile;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0 ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

void ForgetTempFile() { g_temp_set = 0; }

void DeleteTempFile(const std::string& path) {
  // No moment in which the handler would remove a path that may meanwhile
  // be someone else's file, nor one in which our file stands unknown to it.
  const SignalsHeldOff held;
  ::unlink(path.c_str());
  g_temp_set = 0;
}

void RemoveTempFileNow() {
  if (g_temp_set) ::unlink(g_temp_path);
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
