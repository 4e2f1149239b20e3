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

// True when both paths exist and name the same file (device and inode, or
// volume serial and file index), whatever the spelling of the paths.
bool SameFile(const std::string& a, const std::string& b);

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

// True when an existing file could be opened for writing; the file is
// neither truncated nor changed.
bool CanOpenForWriting(const std::string& path);

// Creates a new file exclusively (it must not exist yet), with read and write
// permission for all less the umask. kNoFile when that fails.
FileHandle CreateNewFile(const std::string& path);

// Creates a new, empty file in the directory of target under a name of its
// own, to be completed and renamed over target. When target exists, the new
// file takes over its permission bits. Sets temp_path to the name chosen.
// From the moment it exists until ForgetTempFile, an interruption of the
// process removes it (RemoveTempFileNow).
FileHandle CreateTempBeside(const std::string& target, std::string& temp_path);

// Says that the file CreateTempBeside made is gone, renamed or deleted: an
// interruption no longer removes anything.
void ForgetTempFile();

// Removes the file CreateTempBeside made, if it is still there. Safe in a
// signal handler or a console control handler: it neither allocates nor
// locks.
void RemoveTempFileNow();

// Renames from over to, replacing a file at to in one step.
bool ReplaceFile(const std::string& from, const std::string& to);

// Deletes a file; false when that fails.
bool DeleteFile(const std::string& path);

}  // namespace platform
