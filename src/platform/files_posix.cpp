#include "platform/files.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

// One read or write request moves at most this much; Linux moves at most
// about 2 GiB per call anyway, and the callers loop.
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;

int Fd(FileHandle file) { return static_cast<int>(file); }

// The interruption handler's copy of the standing temporary file's record:
// written with every signal held off by the record's owner, read by the
// handler, which may run on any thread and may not allocate.
int g_temp_folder = -1;
char g_temp_name[NAME_MAX + 1];
// Set last and cleared first, with release and acquire, so that a handler
// on another thread that sees it set sees the folder and name too.
std::atomic<bool> g_temp_set = false;
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

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

// The folder a path lies in, as a path of its own, and its name there.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}
std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Refusal RefusalOf(int error) {
  return error == EACCES || error == EPERM ? Refusal::kPermission : Refusal::kOther;
}

int FolderFd(const TempFile& temp) { return static_cast<int>(temp.folder); }

// Forgets the temporary file: the handler's copy first, then the record,
// whose folder goes. Signals must be held off.
void Forget(TempFile& temp) {
  if (!temp.stands) return;
  g_temp_set.store(false, std::memory_order_release);
  g_temp_folder = -1;
  if (temp.folder >= 0) ::close(FolderFd(temp));
  temp.folder = -1;
  temp.name.clear();
  temp.stands = false;
}

// Creates name in the open folder, exclusively, and records it in temp and
// the handler's copy; the folder is then temp's to close. Signals must be
// held off, so that no moment is left in which the file exists unknown to
// the handler. O_EXCL neither follows a link nor opens a FIFO: nothing
// waits.
int CreateRegistered(int folder, const std::string& name, mode_t mode, TempFile& temp) {
  assert(!temp.stands && !g_temp_set.load() && "one temporary file at a time");
  if (name.size() >= sizeof g_temp_name) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
  if (fd < 0) return -1;
  temp.folder = folder;
  temp.name = name;
  temp.stands = true;
  g_temp_folder = folder;
  std::memcpy(g_temp_name, name.c_str(), name.size() + 1);
  g_temp_set.store(true, std::memory_order_release);
  return fd;
}

// A name no other run picks at the same moment: pid, clock and a count.
std::string TempName(unsigned attempt) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t x = (static_cast<std::uint64_t>(::getpid()) << 32) ^
                    static_cast<std::uint64_t>(now.tv_nsec) ^ (std::uint64_t{attempt} << 48) ^
                    static_cast<std::uint64_t>(now.tv_sec) * 0x9E3779B97F4A7C15ull;
  std::string name = ".talvex-";
  for (int i = 0; i < 6; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    name += kDigits[(x >> 33) % 62];
  }
  return name;
}

PathKind KindOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

// Whose regular file may be written in place: ours, or root's in a folder
// of root's (a locked folder of the system's). Never another user's: in a
// folder that user owns, a file of theirs may have been put there to catch
// what we write.
bool MayWriteInPlace(const struct stat& file, const std::string& path) {
  struct stat folder {};
  return file.st_uid == ::geteuid() ||
         (file.st_uid == 0 && ::stat(FolderOf(path).c_str(), &folder) == 0 && folder.st_uid == 0);
}

// True when the folder is append-only or immutable: what is put in it can
// be neither removed nor renamed over. Asked of the folder itself through
// statx, which needs no read permission, or where the file system does not
// say so there, through the flags of an open of it; false when neither can
// tell.
bool KeepsEntries(const std::string& folder) {
  constexpr unsigned kKeeps = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
  struct statx sx {};
  if (::statx(AT_FDCWD, folder.c_str(), 0, 0, &sx) == 0 && (sx.stx_attributes_mask & kKeeps) == kKeeps) {
    return (sx.stx_attributes & kKeeps) != 0;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  int flags = 0;
  const bool keeps = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
  ::close(fd);
  return keeps;
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// ---- The access a new output is given ----

// POSIX ACLs as the kernel hands them over in extended attributes: a
// version word, then one entry of tag, permissions and id per line of the
// ACL, all little-endian.
constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";
constexpr std::size_t kAclHeader = 4, kAclEntry = 8;
constexpr unsigned kUserObj = 0x01, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;

unsigned AclTag(const std::string& acl, std::size_t at) {
  return static_cast<unsigned char>(acl[at]) | static_cast<unsigned char>(acl[at + 1]) << 8;
}
unsigned AclPerm(const std::string& acl, std::size_t at) {
  return static_cast<unsigned char>(acl[at + 2]) | static_cast<unsigned char>(acl[at + 3]) << 8;
}
void SetAclPerm(std::string& acl, std::size_t at, unsigned perm) {
  acl[at + 2] = static_cast<char>(perm & 0xFF);
  acl[at + 3] = static_cast<char>(perm >> 8);
}
// Offset of the entry with the given tag; 0 (inside the header) when there
// is none.
std::size_t AclFind(const std::string& acl, unsigned tag) {
  for (std::size_t at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry) {
    if (AclTag(acl, at) == tag) return at;
  }
  return 0;
}

// The access a new file is to have: its permission bits, and its access
// ACL (empty for none), which where it exists decides those bits too.
struct Access {
  mode_t mode = 0600;
  std::string acl;
  // The group bits go; with an ACL they are its mask, or its owning group's
  // entry where it has no mask.
  void DropGroupBits() {
    mode &= ~static_cast<mode_t>(S_IRWXG);
    if (acl.empty()) return;
    const std::size_t mask = AclFind(acl, kMask);
    const std::size_t group = mask != 0 ? mask : AclFind(acl, kGroupObj);
    if (group != 0) SetAclPerm(acl, group, 0);
  }
};

// Reads an ACL attribute of the file open at fd, which may be an O_PATH
// descriptor: through /proc, since the calls on descriptors refuse those.
// True with acl empty when the file has none or its file system has no
// ACLs; false when that cannot be told.
bool ReadAcl(int fd, const char* name, std::string& acl) {
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  acl.clear();
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return errno == ENODATA || errno == EOPNOTSUPP;
    acl.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::getxattr(path.c_str(), name, acl.data(), acl.size());
    if (got >= 0) {
      acl.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
  }
  return false;
}

// Our own regular file's access, to be handed on whole.
bool AccessOfOwnFile(int old, const struct stat& st, Access& access) {
  access.mode = st.st_mode & 0777;
  return ReadAcl(old, kAccessAcl, access.acl);
}

// What a file made anew in the folder gets: 0666 less the umask; or where
// the folder has a default ACL, that ACL, limited by 0666 as the kernel
// limits it when it makes a file (the umask then plays no part).
bool AccessOfNewFile(int folder, Access& access) {
  access.mode = NewFileMode();
  if (!ReadAcl(folder, kDefaultAcl, access.acl)) return false;
  if (access.acl.empty()) return true;
  const std::size_t mask = AclFind(access.acl, kMask);
  const std::size_t group = mask != 0 ? mask : AclFind(access.acl, kGroupObj);
  const std::size_t user = AclFind(access.acl, kUserObj), other = AclFind(access.acl, kOther);
  if (user == 0 || group == 0 || other == 0) return false;
  for (const std::size_t at : {user, group, other}) SetAclPerm(access.acl, at, AclPerm(access.acl, at) & 06);
  access.mode = static_cast<mode_t>(AclPerm(access.acl, user) << 6 | AclPerm(access.acl, group) << 3 |
                                    AclPerm(access.acl, other));
  return true;
}

// True for a file of the kernel's own file systems, whose size says nothing
// of what it holds: sysfs says 4096 for a few bytes, procfs 0 or a guess.
// Such files are read to their end, as pipes are.
bool IsPseudoFile(FileHandle file) {
  constexpr unsigned long kPseudoFileSystems[] = {
      0x9fa0,      // proc
      0x62656572,  // sysfs
      0x64626720,  // debugfs
      0x74726163,  // tracefs
      0x73636673,  // securityfs
      0x62656570,  // configfs
      0x27e0eb,    // cgroup
      0x63677270,  // cgroup2
  };
  struct statfs fs {};
  if (::fstatfs(Fd(file), &fs) != 0) return false;
  for (const unsigned long type : kPseudoFileSystems) {
    if (static_cast<unsigned long>(fs.f_type) == type) return true;
  }
  return false;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

PathKind KindAt(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return PathKind::kNothing;
  return KindOf(st);
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
  if (!S_ISREG(st.st_mode) || IsPseudoFile(file)) return kNotAFile;
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

OutputSite LookAtOutput(const std::string& path) {
  OutputSite site;
  const std::string folder = FolderOf(path);
  site.folder_takes_files = ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  site.folder_keeps_entries = KeepsEntries(folder);
  struct stat entry {}, dir {};
  if (::lstat(path.c_str(), &entry) != 0) return site;
  site.kind = KindOf(entry);
  const uid_t me = ::geteuid();
  // A folder that cannot be looked at is left to the making of the
  // temporary file to tell.
  const bool dir_known = ::stat(folder.c_str(), &dir) == 0;
  // In a sticky folder an entry goes only by its owner, the folder's owner
  // or root.
  site.may_rename_over = !dir_known || (dir.st_mode & S_ISVTX) == 0 || me == 0 ||
                         entry.st_uid == me || dir.st_uid == me;
  if (S_ISREG(entry.st_mode)) {
    site.writable = CanOpenForWriting(path);
    site.may_write_in_place = site.writable && MayWriteInPlace(entry, path);
  }
  return site;
}

FileHandle CreateTempBeside(const std::string& target, TempFile& temp, Refusal& refusal) {
  refusal = Refusal::kNone;
  const int folder = ::open(FolderOf(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    refusal = RefusalOf(errno);
    return kNoFile;
  }
  int fd = -1;
  {
    const SignalsHeldOff held;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      fd = CreateRegistered(folder, TempName(attempt), 0600, temp);
      if (fd < 0 && errno != EEXIST) break;
    }
  }
  if (fd < 0) {
    refusal = RefusalOf(errno);
    ::close(folder);
    return kNoFile;
  }
  // Made 0600, the text it receives is ours alone until GiveFinalAccess. A
  // default ACL of the folder is masked to nothing by the same mode.
  return fd;
}

void GiveFinalAccess(const TempFile& temp, FileHandle file, const std::string& target) {
  if (!temp.stands) return;
  const int fd = Fd(file), folder = FolderFd(temp);
  // Only our own regular file hands on its access: anyone may have put
  // anything else there (in /tmp, or any folder others may write), and its
  // mode, group or ACL must never decide who reads the new text. Nor does
  // a link: the mode of what it points to (0666 for /dev/null) is not ours
  // to give. Set-user-ID, set-group-ID and sticky never travel with new
  // content.
  const int old = ::openat(folder, NameOf(target).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  Access access;
  if (old < 0) {
    // Only a path with nothing at it is new; what could not be looked at
    // stays ours alone.
    if (errno != ENOENT || !AccessOfNewFile(folder, access)) return;
  } else {
    struct stat st {};
    const bool known = ::fstat(old, &st) == 0;
    const bool own = known && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    const bool looked = known && (own ? AccessOfOwnFile(old, st, access) : AccessOfNewFile(folder, access));
    ::close(old);
    if (!looked) return;
    // The bits were given for the old file's group: the new file takes that
    // group, or the group loses them rather than pass to the group the new
    // file got (ours, or a set-group-ID folder's).
    if (own && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) access.DropGroupBits();
  }
  // A file never shows more than the ACL allows: the ACL replaces the one it
  // may have inherited, or goes where the old file had none; where either
  // fails, the owner's bits alone.
  const bool acl_set = access.acl.empty()
      ? ::fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == EOPNOTSUPP
      : ::fsetxattr(fd, kAccessAcl, access.acl.data(), access.acl.size(), 0) == 0;
  if (!acl_set) {
    ::fchmod(fd, access.mode & S_IRWXU);
  } else if (access.acl.empty()) {
    ::fchmod(fd, access.mode);
  }
}

bool KeepTempFile(TempFile& temp, FileHandle) { return temp.stands; }

bool TargetTakenBesideTemp(const TempFile& temp, const std::string& target) {
  if (!temp.stands) return true;
  struct stat st {};
  return ::fstatat(FolderFd(temp), NameOf(target).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
         errno != ENOENT;
}

FileHandle CreateNewFile(const std::string& path, TempFile& temp) {
  const int folder = ::open(FolderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return kNoFile;
  const SignalsHeldOff held;
  const int fd = CreateRegistered(folder, NameOf(path), 0666, temp);
  if (fd < 0) ::close(folder);
  return fd < 0 ? kNoFile : fd;
}

bool RenameTempOver(TempFile& temp, const std::string& target) {
  const SignalsHeldOff held;
  if (!temp.stands ||
      ::renameat(FolderFd(temp), temp.name.c_str(), FolderFd(temp), NameOf(target).c_str()) != 0) {
    return false;
  }
  Forget(temp);
  return true;
}

bool DeleteTemp(TempFile& temp) {
  // No moment in which the handler would remove a name that may meanwhile
  // be someone else's file, nor one in which our file stands unknown to it.
  const SignalsHeldOff held;
  const bool deleted = !temp.stands || ::unlinkat(FolderFd(temp), temp.name.c_str(), 0) == 0;
  Forget(temp);
  return deleted;
}

TempFile::~TempFile() {
  if (stands) DeleteTemp(*this);
}

void RemoveTempFileNow() {
  if (g_temp_set.load(std::memory_order_acquire)) ::unlinkat(g_temp_folder, g_temp_name, 0);
}

FileHandle OpenInPlace(const std::string& path) {
  // Truncated last, once known to be a regular file that may be written in
  // place: a device or FIFO, or another user's file, that took its place is
  // left alone, and a check that fails leaves the old content whole.
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return kNoFile;
  struct stat st {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !MayWriteInPlace(st, path) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

}  // namespace platform
