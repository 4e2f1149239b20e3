// Whole files on the local file system. Paths are the tool's byte strings
// (UTF-8 on Windows, raw bytes on POSIX), handed over unchanged. Sizes and
// offsets are 64-bit throughout.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An open file; kNoFile when an open failed.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// True for an existing path that is not a directory.
bool FileExists(const std::string& path);

// What stands at a path, looked at without following a link: nothing, a
// regular file, a directory, or anything else (a symbolic link, a FIFO, a
// device, a socket).
enum class PathKind { kNothing, kFile, kDirectory, kOther };
PathKind KindAt(const std::string& path);

// True when the entry at path entry, itself (a link there is not followed),
// and the file that path file names are one file (device and inode, or
// volume serial and file index), whatever the spelling of the paths. An
// output is compared so: a link at its path is replaced, not written
// through, so the file it points to is never at stake.
bool SameFile(const std::string& entry, const std::string& file);

// Opens an existing file for reading; other writers are kept out where the
// platform can do so.
FileHandle OpenForReading(const std::string& path);

// What FileSize says of a pipe, terminal or other device: it has no size
// on disk and is read to its end instead.
inline constexpr std::int64_t kNotAFile = -2;

// Size in bytes of an open regular file; kNotAFile for anything else that
// can be read (a pipe, a character or block device, a file of the kernel's
// own such as /proc and /sys files, whose size says nothing of what they
// hold); -1 when it cannot be told.
std::int64_t FileSize(FileHandle file);

// Reads up to size bytes at the current position: the count read, 0 at the
// end of the file, -1 on an error. May read fewer bytes than asked.
std::int64_t ReadSome(FileHandle file, void* buffer, std::int64_t size);

// Writes up to size bytes: the count written, or -1 on an error. May write
// fewer bytes than asked.
std::int64_t WriteSome(FileHandle file, const void* buffer, std::int64_t size);

// Makes the data written so far reach the disk; false when that fails.
bool SyncFile(FileHandle file);

// Closes the file; false when the close reported an error (for a file being
// written, data may then be lost).
bool CloseFile(FileHandle file);

// True when the regular file at path could be opened for writing; it is
// neither truncated nor changed, and a link there is not followed.
bool CanOpenForWriting(const std::string& path);

// ---- Outputs ----
//
// The ways an output can take are chosen in one place (keyio/files.cpp,
// PlanOutput); these are the facts it is chosen from and the steps it
// takes.

// What the folder and the entry at an output path allow, looked at without
// following a link there.
struct OutputSite {
  PathKind kind = PathKind::kNothing;
  // What stands at the path may be replaced by renaming a file over it. Not
  // someone else's entry in a folder where only owners remove entries (the
  // sticky bit of /tmp); on Windows, not a file whose deletion permissions
  // or another process's sharing deny, nor, on a volume that renames only
  // over files nobody has open, one that another process has open as far
  // as the system can tell. True where nothing stands.
  bool may_rename_over = true;
  // Permissions let us add a file to the folder, as far as can be told
  // without making one.
  bool folder_takes_files = true;
  // A regular file we could open for writing (the existing file as it is).
  bool writable = false;
  // A regular file that may be written in place if it cannot be replaced:
  // writable, with no other name (one link), and owned by us or root; on
  // POSIX also in a trusted folder, one that we or root own and that has no
  // group or other write bit, so that nobody else can have put it there to
  // catch what we write. On Windows owned by our account (or by the
  // Administrators group, for an elevated run) and writable with nobody
  // else using it.
  bool may_write_in_place = false;
  // The folder keeps what is put in it (append-only or immutable): neither
  // a probe file nor a temporary file could be removed again, and nothing
  // could be renamed over the path.
  bool folder_keeps_entries = false;
};
OutputSite LookAtOutput(const std::string& path);

// Why a file could not be made.
enum class Refusal {
  kNone,
  kPermission,  // the folder or file refuses us (EACCES, EPERM; access denied)
  kOther,       // no space or inodes, a quota, a read-only file system, a name too long, ...
};

// A file made by the run that is not yet in its place: an output's
// temporary file, or the probe's. Its one owner completes it (KeepTempFile,
// RenameTempOver) or deletes it (DeleteTemp; also when the record goes).
// Until KeepTempFile a killed run leaves nothing of it where the platform
// can make it so; a named one an interruption removes (RemoveTempFileNow,
// through the handler's copy of the record). One at a time.
struct TempFile {
  // POSIX: the folder, held open, and the file's short name in it (empty
  // while it has none), so that the name never makes a path longer than
  // the target's and a folder renamed meanwhile still gets its file back.
  // Windows: the whole path in name; folder is 1 while the file is marked
  // for deletion, when nothing may open or delete it by its path.
  std::intptr_t folder = -1;
  std::string name;
  bool stands = false;  // made, and neither renamed nor deleted yet

  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();
};

// Creates a new, empty file in the folder of target, recorded in temp, to
// be completed and renamed over target. Only its owner may read it until
// GiveFinalAccess. kNoFile when that fails, with the reason in refusal.
FileHandle CreateTempBeside(const std::string& target, TempFile& temp, Refusal& refusal);

// Creates a new file exclusively at path itself (nothing may stand there
// yet, not even a link), with read and write permission for all less the
// umask, recorded in temp: the probe of a path where nothing stands.
// kNoFile when that fails.
FileHandle CreateNewFile(const std::string& path, TempFile& temp);

// Gives the complete temporary file, open as file, the access it is to
// have at target; whatever fails leaves it less, never more. Only a file
// that is the user's alone (as for writing in place, not root's) hands on
// its access: on POSIX its mode, group and ACL; on Windows its DACL as it
// stands. Anything else counts as nothing there, so the new file gets what
// a new file gets; on POSIX, over a regular file, narrowed to grant no one
// more than that file did; on Windows, the folder's inherited ACL.
void GiveFinalAccess(const TempFile& temp, FileHandle file, const std::string& target);

// Makes the complete temporary file, still open as file, stay once closed:
// on Linux one made without a name gets one, on Windows its mark for
// deletion is cleared. False when that fails.
bool KeepTempFile(TempFile& temp, FileHandle file);

// True unless the temporary file's folder is known to hold nothing at
// target's name: something there is about to be replaced.
bool TargetTakenBesideTemp(const TempFile& temp, const std::string& target);

// Renames the kept, closed temporary file over target, replacing what
// stands there in one step (a link there is replaced, not followed), and
// forgets it. False when the rename fails; the file then still stands.
bool RenameTempOver(TempFile& temp, const std::string& target);

// Deletes the temporary file and forgets it, in one step as far as an
// interruption can tell. False when it could not be deleted; true when it
// was, or none stands.
bool DeleteTemp(TempFile& temp);

// Removes the temporary file, if one stands. Safe in a signal handler or a
// console control handler: it neither allocates nor locks.
void RemoveTempFileNow();

// Opens the existing regular file at path for writing from its start,
// truncated, as the file itself. A link there is not followed and a FIFO
// not waited on; kNoFile when the open fails, or when what it opened is
// not a regular file that may be written in place (OutputSite), whatever
// took the path's place since it was looked at.
FileHandle OpenInPlace(const std::string& path);

}  // namespace platform
