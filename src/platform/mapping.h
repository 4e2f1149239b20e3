// Files mapped into memory for reading: a large file looked up at random and
// never changed (the key) costs only the pages that are touched, and those
// are the file system's cache, shared with other runs and reclaimable.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace platform {

struct MappedFile {
  const std::uint8_t* data = nullptr;
  std::int64_t size = 0;
};

// Maps the size bytes of an open regular file read-only. False when the
// file system or the address space cannot take it; the caller reads the
// file instead.
bool MapForReading(FileHandle file, std::int64_t size, MappedFile& view);

// Ends a mapping made by MapForReading; nothing for an empty view.
void Unmap(MappedFile& view);

// Asks for every page of the view to be read in and mapped now, in large
// pages where the file system holds them so: for a run that will touch
// nearly every page anyway, one pass costs less than a fault per page.
// Nothing changes where the system has no such request.
void MapAllPagesNow(const MappedFile& view);

// What tells whether a file may have changed under a run: its size and the
// time of its last change of data, which any write moves, and how many
// names it has left. Its other times move with chmod, rename or a new link,
// which change nothing that was read.
struct FileStamp {
  std::int64_t size = -1;
  std::int64_t modified = 0;  // nanoseconds, or the system's own unit
  std::int64_t links = 1;     // 0 once deleted, or once another file is renamed over it
};

// The stamp of an open file; false when it cannot be told.
bool StampOf(FileHandle file, FileStamp& stamp);

// From now on a fault in reading view, which is how a mapped file cut short
// under the mapping shows (SIGBUS), ends the process: what an interruption
// cleans up is cleaned up (CleanUpAfterInterrupt), report goes to the
// standard error stream, and the process exits with exit_status. The
// report is prepared by the caller, since nothing may be formatted then.
// Faults anywhere else stay as deadly as ever. Nothing on a system whose
// mapped files cannot shrink while mapped.
void EndOnFaultIn(const MappedFile& view, const std::string& report, int exit_status);

}  // namespace platform
