// Win32 files: paths are UTF-8 in the tool and wide at the API.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32_text.h"

namespace platform {

namespace {

// ReadFile and WriteFile count in 32 bits; the callers loop.
constexpr DWORD kMaxTransfer = DWORD{1} << 30;

// Share modes that let everybody else go on as before.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

using win32::Wide;

// The temporary file an interruption removes, in the wide form DeleteFileW
// takes: written before the control handler can need it, read by it on a
// thread of its own.
wchar_t g_temp_path[32768];
volatile LONG g_temp_set = 0;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(Wide(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Volume serial and file index name a file whatever the spelling of its
// path; with extra_flags FILE_FLAG_OPEN_REPARSE_POINT, a link itself.
bool Identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info, DWORD extra_flags = 0) {
  // Attribute access with full sharing neither needs nor disturbs anyone's
  // locks; backup semantics lets directories be opened too.
  HANDLE handle = Open(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | extra_flags);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return ok;
}

// True when the entry at path itself (a link is not followed) could be
// opened with access; it is closed again at once. Sharing everything
// leaves other users of the file undisturbed.
bool MayOpen(const std::string& path, DWORD access) {
  HANDLE handle = Open(path, access, kShareAll, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// Makes wide the path the control handler removes; false when it does not
// fit. The handler runs on a thread of its own and reads it only while
// g_temp_set is 1.
bool Register(const std::wstring& wide) {
  if (wide.size() >= sizeof g_temp_path / sizeof g_temp_path[0]) return false;
  InterlockedExchange(&g_temp_set, 0);
  std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, g_temp_path);
  InterlockedExchange(&g_temp_set, 1);
  return true;
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

PathKind KindAt(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNothing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kDirectory;
  // A symbolic link: replaced, never written through.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::kOther;
  return PathKind::kFile;
}

bool SameFile(const std::string& entry, const std::string& file) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!Identity(entry, ia, FILE_FLAG_OPEN_REPARSE_POINT) || !Identity(file, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

FileHandle OpenForReading(const std::string& path) {
  // Readers may join; a process that has the file open for writing makes the
  // open fail, and none can start writing while we read.
  return FromHandle(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
}

std::int64_t FileSize(FileHandle file) {
  // Pipes and character devices (a console, NUL) have no size to ask for.
  if (GetFileType(Handle(file)) != FILE_TYPE_DISK) return kNotAFile;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(file), &size)) return -1;
  return size.QuadPart;
}

std::int64_t ReadSome(FileHandle file, void* buffer, std::int64_t size) {
  const DWORD request = size > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(size);
  DWORD done = 0;
  if (!ReadFile(Handle(file), buffer, request, &done, nullptr)) {
    // A pipe whose writer has gone says so instead of reporting its end.
    const DWORD error = GetLastError();
    return error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return done;
}

std::int64_t WriteSome(FileHandle file, const void* buffer, std::int64_t size) {
  const DWORD request = size > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(size);
  DWORD done = 0;
  if (!WriteFile(Handle(file), buffer, request, &done, nullptr)) return -1;
  return done;
}

bool SyncFile(FileHandle file) { return FlushFileBuffers(Handle(file)) != 0; }

bool CloseFile(FileHandle file) { return CloseHandle(Handle(file)) != 0; }

bool CanOpenForWriting(const std::string& path) {
  // Windows refuses to write to a read-only file; asked for explicitly too,
  // since wine run as root would let the open through.
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  // Write access is all the run needs: it renames a finished file over
  // this one, or, where that cannot be done, writes into it. A user of the
  // file who keeps writers out makes the probe fail as the write would.
  return MayOpen(path, GENERIC_WRITE);
}

OutputSite LookAtOutput(const std::string& path) {
  OutputSite site;
  site.kind = KindAt(path);
  if (site.kind == PathKind::kNothing) return site;
  // The rename needs delete access to what it replaces: a folder or file
  // that denies it, or a user of the file who keeps deleters out, leaves
  // writing in place.
  site.may_rename_over = MayOpen(path, DELETE);
  if (site.kind == PathKind::kFile) {
    site.writable = CanOpenForWriting(path);
    site.may_write_in_place = site.writable;
  }
  return site;
}

FileHandle CreateNewFile(const std::string& path) {
  // It may be deleted while open: the control handler removes it that way.
  // Registered once made, so that the handler never removes a file another
  // process made at the user's path.
  const std::wstring wide = Wide(path);
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) Register(wide);
  return FromHandle(handle);
}

FileHandle CreateTempBeside(const std::string& target, Refusal& refusal) {
  refusal = Refusal::kNone;
  std::string directory;
  const auto separator = target.find_last_of("\\/");
  if (separator != std::string::npos) {
    directory = target.substr(0, separator + 1);
  } else if (target.size() >= 2 && target[1] == ':') {
    directory = target.substr(0, 2);  // "D:name" lives in D:'s current directory
  }
  // A file that is hidden or kept out of the index stays so once replaced;
  // a link hands on nothing.
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  const DWORD existing = GetFileAttributesW(Wide(target).c_str());
  if (KindAt(target) == PathKind::kFile) {
    const DWORD kept = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0) attributes = kept;
  }
  static unsigned counter = 0;
  const std::string prefix = directory + ".talvex-" + std::to_string(GetCurrentProcessId()) + "-";
  // The process id keeps other runs out; the counter steps past leftovers of
  // an earlier run that had the same id.
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string temp_path = prefix + std::to_string(++counter) + ".tmp";
    // Others may not read or write it, but it may be deleted while open:
    // the control handler removes it that way when the run is interrupted.
    const std::wstring wide = Wide(temp_path);
    // Registered before it exists, so that no moment is left in which it
    // exists unknown to the handler; a name with our process id in it
    // names nobody else's file.
    if (!Register(wide)) {
      error = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    HANDLE handle = CreateFileW(g_temp_path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                attributes, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return FromHandle(handle);
    InterlockedExchange(&g_temp_set, 0);
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  refusal = error == ERROR_ACCESS_DENIED ? Refusal::kPermission : Refusal::kOther;
  return kNoFile;
}

bool RenameTempOver(const std::string& target) {
  if (!g_temp_set) return false;
  if (!MoveFileExW(g_temp_path, Wide(target).c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  InterlockedExchange(&g_temp_set, 0);
  return true;
}

void DeleteTempFile() {
  if (g_temp_set) DeleteFileW(g_temp_path);
  InterlockedExchange(&g_temp_set, 0);
}

void RemoveTempFileNow() {
  // An open file goes once its last handle closes: as the process ends.
  if (g_temp_set) DeleteFileW(g_temp_path);
}

FileHandle OpenInPlace(const std::string& path) {
  // A regular file only, not through a link, and truncated only once it is
  // known to be one. Nobody else may use it while it is rewritten.
  if (KindAt(path) != PathKind::kFile) return kNoFile;
  HANDLE handle = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(handle) != FILE_TYPE_DISK || !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return kNoFile;
  }
  return FromHandle(handle);
}

}  // namespace platform
