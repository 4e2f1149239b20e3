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
// can be read (a pipe, a character or block device); -1 when it cannot be
// told.
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

// Creates a new file exclusively (nothing may stand at path yet, not even a
// link), with read and write permission for all less the umask. kNoFile
// when that fails. Registered as CreateTempBeside's file is.
FileHandle CreateNewFile(const std::string& path);

// Creates a new, empty file in the directory of target under a name of its
// own, to be completed and renamed over target. It takes over the nine
// permission bits of a regular file at target; anything else there (a link,
// a FIFO, a device), or nothing, gives it those of any new file (0666 less
// the umask). Sets temp_path to the name chosen. From the moment it exists
// until ForgetTempFile, an interruption of the process removes it
// (RemoveTempFileNow).
FileHandle CreateTempBeside(const std::string& target, std::string& temp_path);

// False when a file made beside path could not be renamed over what
// stands there: in a folder where only owners may remove entries (the
// sticky bit of /tmp), someone else's entry; on Windows, a file we may not
// delete. True otherwise, and where nothing stands at path.
bool MayRenameOver(const std::string& path);

// Opens the existing regular file at path for writing from its start,
// truncated, as the file itself: where no file can be renamed over it. A
// link there is not followed and a FIFO not waited on; kNoFile when the
// open fails or path names anything but a regular file.
FileHandle OpenInPlace(const std::string& path);

// Says that the file CreateTempBeside or CreateNewFile made is gone,
// renamed or deleted: an interruption no longer removes anything.
void ForgetTempFile();

// Deletes the file CreateTempBeside or CreateNewFile made at path and
// forgets it, in one step as far as an interruption can tell.
void DeleteTempFile(const std::string& path);

// Removes the file CreateTempBeside or CreateNewFile made, if it is still
// there. Safe in a signal handler or a console control handler: it neither
// allocates nor locks.
void RemoveTempFileNow();

// Renames from over to, replacing a file at to in one step.
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace platform
