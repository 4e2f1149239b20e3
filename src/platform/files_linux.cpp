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

int FolderFd(const TempFile& temp) { return static_cast<int>(temp.folder); }

Refusal RefusalOf(int error) {
  return error == EACCES || error == EPERM ? Refusal::kPermission : Refusal::kOther;
}

// Whether a temporary file stands, named or not: one at a time.
bool g_temp_made = false;

// Records a file just made in folder (which temp then holds and closes);
// name is empty for a file without one. Signals must be held off for a
// named file, so that no moment is left in which it exists unknown to the
// handler.
void Record(TempFile& temp, int folder, const std::string& name) {
  temp.folder = folder;
  temp.name = name;
  temp.stands = true;
  g_temp_made = true;
  if (name.empty()) return;
  g_temp_folder = folder;
  std::memcpy(g_temp_name, name.c_str(), name.size() + 1);
  g_temp_set.store(true, std::memory_order_release);
}

// Forgets the temporary file: the handler's copy first, then the record,
// whose folder goes. Signals must be held off.
void Forget(TempFile& temp) {
  if (!temp.stands) return;
  g_temp_set.store(false, std::memory_order_release);
  g_temp_folder = -1;
  g_temp_made = false;
  if (temp.folder >= 0) ::close(FolderFd(temp));
  temp.folder = -1;
  temp.name.clear();
  temp.stands = false;
}

// Creates name in the open folder, exclusively, and records it. Signals
// must be held off. O_EXCL neither follows a link nor opens a FIFO:
// nothing waits.
int CreateRegistered(int folder, const std::string& name, mode_t mode, TempFile& temp) {
  assert(!temp.stands && !g_temp_made && "one temporary file at a time");
  if (name.size() >= sizeof g_temp_name) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
  if (fd >= 0) Record(temp, folder, name);
  return fd;
}

// Gives the file open at fd, made without a name (O_TMPFILE), the name
// name in folder: by its descriptor (linkat's AT_EMPTY_PATH, which Linux
// grants the file's opener from 6.10 on and CAP_DAC_READ_SEARCH before),
// else through /proc. With name ".", which always exists, it only tells
// whether either way is open: EEXIST where one is, ENOENT where neither.
int LinkUnnamed(int fd, int folder, const char* name) {
  if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno == EEXIST) return -1;
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, proc.c_str(), folder, name, AT_SYMLINK_FOLLOW);
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

// A folder that we or root own and that has no group or other write bit:
// nobody else can have put, linked or renamed anything in it. Told by the
// mode bits (which hold an ACL's mask), not by who is in the group.
bool Trusted(const struct stat& folder) {
  return (folder.st_uid == ::geteuid() || folder.st_uid == 0) &&
         (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A regular file that is ours alone, or root's too where root_too: no
// other name, in a trusted folder. Nobody else can have put it there, or
// can reach what is written into it by another name.
bool UsersAlone(const struct stat& file, const struct stat& folder, bool root_too) {
  return S_ISREG(file.st_mode) && file.st_nlink == 1 &&
         (file.st_uid == ::geteuid() || (root_too && file.st_uid == 0)) && Trusted(folder);
}

// Whose regular file may be written in place: ours or root's, the user's
// alone. Never another user's, who could have put it there to catch what
// we write, nor one that a link or a rename by anyone else could have
// brought there.
bool MayWriteInPlace(const struct stat& file, const std::string& path) {
  struct stat folder {};
  return ::stat(FolderOf(path).c_str(), &folder) == 0 && UsersAlone(file, folder, true);
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
// Tags of the entries; the named users' (0x02) and groups' (0x08) are told
// apart from these by their tag alone.
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
  // What it grants the owning group and everyone else in effect: with an
  // ACL, the owning group's entry as the mask limits it, and other's.
  unsigned GroupClass() const {
    if (acl.empty()) return (mode >> 3) & 7;
    const std::size_t group = AclFind(acl, kGroupObj), mask = AclFind(acl, kMask);
    return group == 0 ? 0 : AclPerm(acl, group) & (mask == 0 ? 7 : AclPerm(acl, mask));
  }
  unsigned OtherClass() const {
    if (acl.empty()) return mode & 7;
    const std::size_t other = AclFind(acl, kOther);
    return other == 0 ? 0 : AclPerm(acl, other);
  }
  // Grants nobody but the owner more than old did: the owning group no
  // more than old's group class where the group is old's too, and else no
  // more than old's other class, since that group's members were others
  // to old; every named user and group, and everyone else, no more than
  // old's other class.
  void Narrow(const Access& old, bool same_group) {
    const unsigned other = old.OtherClass(), group = same_group ? old.GroupClass() : other;
    if (acl.empty()) {
      mode = (mode & S_IRWXU) | (((mode >> 3) & group) << 3) | (mode & other);
      return;
    }
    for (std::size_t at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry) {
      const unsigned tag = AclTag(acl, at);
      const unsigned cap = tag == kUserObj    ? 7
                           : tag == kGroupObj ? group
                           : tag == kMask     ? (group | other)
                                              : other;
      SetAclPerm(acl, at, AclPerm(acl, at) & cap);
    }
    const std::size_t mask = AclFind(acl, kMask);
    mode = static_cast<mode_t>(AclPerm(acl, AclFind(acl, kUserObj)) << 6 |
                               AclPerm(acl, mask != 0 ? mask : AclFind(acl, kGroupObj)) << 3 |
                               AclPerm(acl, AclFind(acl, kOther)));
  }
};

// Reads an ACL attribute of the file at path, not following a link there.
// True with acl empty when the file has none or its file system has no
// ACLs; false when that cannot be told.
bool ReadAclAt(const std::string& path, const char* name, std::string& acl) {
  acl.clear();
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::lgetxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return errno == ENODATA || errno == EOPNOTSUPP;
    acl.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::lgetxattr(path.c_str(), name, acl.data(), acl.size());
    if (got >= 0) {
      acl.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
  }
  return false;
}

// Reads an ACL attribute of the file seen (its device and inode), named
// entry in the folder held open as folder, and path from here: by path,
// which needs neither /proc nor permission to read the file, then checked
// to be the file seen; where the path leads elsewhere (its folder renamed
// meanwhile), through the folder held open, by /proc. entry is empty for
// the folder itself.
bool ReadAcl(const std::string& path, int folder, const std::string& entry, const struct stat& seen,
             const char* name, std::string& acl) {
  const std::string held = "/proc/self/fd/" + std::to_string(folder) + "/" + entry;
  for (const std::string* where : {&path, &held}) {
    struct stat now {};
    if (ReadAclAt(*where, name, acl) && ::lstat(where->c_str(), &now) == 0 && now.st_dev == seen.st_dev &&
        now.st_ino == seen.st_ino) {
      return true;
    }
  }
  return false;
}

// The access of the file seen at target, whole.
bool AccessOf(const std::string& target, int folder, const struct stat& seen, Access& access) {
  access.mode = seen.st_mode & 0777;
  return ReadAcl(target, folder, NameOf(target), seen, kAccessAcl, access.acl);
}

// What a file made anew in the folder seen (held open as folder) gets:
// 0666 less the umask; or where the folder has a default ACL, that ACL,
// limited by 0666 as the kernel limits it when it makes a file (the umask
// then plays no part).
bool AccessOfNewFile(const std::string& target, int folder, const struct stat& seen, Access& access) {
  access.mode = NewFileMode();
  if (!ReadAcl(FolderOf(target), folder, "", seen, kDefaultAcl, access.acl)) return false;
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
    site.may_write_in_place = site.writable && dir_known && UsersAlone(entry, dir, true);
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
  // Made 0600, the text it receives is ours alone until GiveFinalAccess. A
  // default ACL of the folder is masked to nothing by the same mode.
  // Without a name, a killed run leaves nothing of it; only where it
  // could get its name in the end (KeepTempFile), and the file system
  // makes such files at all. Else with a name of its own.
  int fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    if (LinkUnnamed(fd, folder, ".") != 0 && errno == EEXIST) {
      assert(!temp.stands && !g_temp_made && "one temporary file at a time");
      Record(temp, folder, "");
      return fd;
    }
    ::close(fd);
    fd = -1;
  }
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
  return fd;
}

void GiveFinalAccess(const TempFile& temp, FileHandle file, const std::string& target) {
  if (!temp.stands) return;
  const int fd = Fd(file), folder = FolderFd(temp);
  // Until something better is known the file stays as made: ours alone.
  Access access;
  struct stat dir {}, old {}, made {};
  if (::fstat(folder, &dir) != 0 || ::fstat(fd, &made) != 0) return;
  if (::fstatat(folder, NameOf(target).c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
    // Only a path with nothing at it is new.
    if (errno != ENOENT || !AccessOfNewFile(target, folder, dir, access)) return;
  } else if (UsersAlone(old, dir, false)) {
    // Our own file's access travels whole. Set-user-ID, set-group-ID and
    // sticky never travel with new content.
    if (!AccessOf(target, folder, old, access)) return;
    // The bits were given for the old file's group: the new file takes that
    // group, or the group loses them rather than pass to the group the new
    // file got (ours, or a set-group-ID folder's).
    if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) access.DropGroupBits();
  } else {
    // Anyone else may have put it there (another user, a link from
    // elsewhere, a rename in a folder others may write), and its mode,
    // group or ACL must never decide who reads the new text: the file gets
    // what a new one gets. Nor may it reach more people than the file it
    // replaces did. A link's own mode says nothing, nor does what it
    // points to (0666 for /dev/null).
    Access before;
    if (!AccessOfNewFile(target, folder, dir, access)) return;
    if (S_ISREG(old.st_mode)) {
      if (!AccessOf(target, folder, old, before)) return;
      access.Narrow(before, made.st_gid == old.st_gid);
    }
  }
  // A file never shows more than the ACL allows: the ACL replaces the one it
  // may have inherited, or goes where there is to be none; where either
  // fails, the owner's bits alone, which with an ACL in place masks out all
  // but the owner.
  const bool acl_set = access.acl.empty()
      ? ::fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == EOPNOTSUPP
      : ::fsetxattr(fd, kAccessAcl, access.acl.data(), access.acl.size(), 0) == 0;
  if (!acl_set) {
    ::fchmod(fd, access.mode & S_IRWXU);
  } else if (access.acl.empty()) {
    ::fchmod(fd, access.mode);
  }
}

bool KeepTempFile(TempFile& temp, FileHandle file) {
  if (!temp.stands) return false;
  if (!temp.name.empty()) return true;
  // Linked under a name of its own, then renamed: a link cannot replace
  // what stands at the target. From here an interruption removes it.
  const SignalsHeldOff held;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TempName(attempt);
    if (LinkUnnamed(Fd(file), FolderFd(temp), name.c_str()) == 0) {
      Record(temp, FolderFd(temp), name);
      return true;
    }
    if (errno != EEXIST) break;
  }
  return false;
}

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
  if (!temp.stands || temp.name.empty() ||
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
  // A file without a name goes as it is closed.
  const bool deleted =
      !temp.stands || temp.name.empty() || ::unlinkat(FolderFd(temp), temp.name.c_str(), 0) == 0;
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
