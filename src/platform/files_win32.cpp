// Win32 files: paths are WTF-8 in the tool and wide at the API, in the long
// form where their length needs it (win32::FileSystemPath).
#include "platform/files.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

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

using win32::FileSystemPath;

// The control handler's copy of the standing temporary file's record, in
// the wide form DeleteFileW takes: written by the record's owner before the
// handler can need it, read by the handler on a thread of its own. Long
// paths take the \\?\ form, up to 32,767 characters. While the file is
// marked for deletion (g_temp_marked), the mark does the handler's work.
wchar_t g_temp_path[32768];
volatile LONG g_temp_set = 0;
volatile LONG g_temp_marked = 0;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(FileSystemPath(path).c_str(), access, share, nullptr, disposition, flags,
                     nullptr);
}

DWORD AttributesOf(const std::string& path) {
  return GetFileAttributesW(FileSystemPath(path).c_str());
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The \\.\ or \\?\ in front of a path that Windows takes as it stands.
bool HasDevicePrefix(const std::wstring& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         (path[2] == L'.' || path[2] == L'?') && IsSeparator(path[3]);
}

// True when path holds a colon that is not a drive's ("C:", after a \\?\ or
// \\.\ prefix too): NTFS takes "name:x" for the stream x of the file name, so
// that the output would land inside another file (making that file, empty,
// where it was missing) and no rename could ever put it in place.
bool NamesAStream(const std::wstring& path) {
  std::size_t start = HasDevicePrefix(path) ? 4 : 0;
  const auto letter = [](wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
  };
  if (path.size() >= start + 2 && letter(path[start]) && path[start + 1] == L':') start += 2;
  return path.find(L':', start) != std::wstring::npos;
}

// True when path names a device rather than a file: a path that Windows
// itself turns into one (\\.\ from GetFullPathNameW: NUL and CONIN$, and
// on Windows 10 nul.txt and com1.txt too, which Windows 11 takes for
// files), or an entry whose open gives anything but a file on a disk (a
// console, a port, a pipe). Windows is asked rather than a list kept, so
// that each version's rule holds. A device is neither replaced nor written.
bool NamesADevice(const std::string& path) {
  const std::wstring wide = win32::Wide(path);
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
  const bool typed_as_device = HasDevicePrefix(wide) && wide[2] == L'.';
  if (length >= 4 && length < MAX_PATH && !typed_as_device &&
      std::wstring_view(full, 4) == L"\\\\.\\") {
    return true;
  }
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  // No access asked for: the open reads nothing and locks nothing.
  HANDLE handle = Open(path, 0, kShareAll, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool device = GetFileType(handle) != FILE_TYPE_DISK;
  CloseHandle(handle);
  return device;
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
// opened with access, leaving others the sharing share; it is closed again
// at once. Sharing everything leaves other users of the file undisturbed
// and asks only whether they and the permissions allow access; sharing
// nothing asks too that nobody else has it open.
bool MayOpen(const std::string& path, DWORD access, DWORD share = kShareAll) {
  HANDLE handle = Open(path, access, share, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// The account the process runs as, its SID in sid, and whether the
// process runs elevated; false when the token cannot tell.
bool OurAccount(unsigned char (&sid)[SECURITY_MAX_SID_SIZE], bool& elevated) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool known =
      GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
      CopySid(SECURITY_MAX_SID_SIZE, sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
             elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return known;
}

// True when the open file is the user's alone: a file on a disk, not a
// link, with no other name, and owned by our account, or by the
// Administrators group while we run elevated (the owner Windows gives
// what an elevated process makes). A file with another name, or anyone
// else's, may have been put at the path to catch what is written there.
bool OursAlone(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      info.nNumberOfLinks != 1 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  unsigned char sid[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof admins;
  bool elevated = false;
  const bool ours =
      owner != nullptr && OurAccount(sid, elevated) &&
      (EqualSid(owner, sid) ||
       (elevated && CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
        EqualSid(owner, admins)));
  LocalFree(descriptor);
  return ours;
}

// OursAlone for the entry at path itself; attribute and security access
// with full sharing disturb nobody.
bool OursAloneAt(const std::string& path) {
  HANDLE handle = Open(path, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ours = OursAlone(handle);
  CloseHandle(handle);
  return ours;
}

// A descriptor's DACL with its control flags, as text (SDDL); empty when
// it cannot be told.
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text,
                                                            nullptr)) {
    return std::wstring();
  }
  std::wstring copy(text);
  LocalFree(text);
  return copy;
}

// True when Windows lists a process other than this one as using the file
// at path (FileProcessIdsUsingFileInformation): any handle counts, one
// with attribute access only too, as Explorer, indexers and virus
// scanners hold. A view mapped by a process that has since closed its
// handle is not listed. False where no list can be had: NtQueryInformationFile
// is looked up at run time, and the class is missing from some file
// systems and from wine.
bool UsedByOthers(const std::string& path) {
  using Query = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, ULONG);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr ULONG kProcessIdsUsingFile = 47;
  constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
  if (query == nullptr) return false;
  HANDLE handle = Open(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // FILE_PROCESS_IDS_USING_FILE_INFORMATION: a ULONG count, then the ids
  // as ULONG_PTRs from the next ULONG_PTR on.
  std::vector<ULONG_PTR> list(64);
  ULONG_PTR io_status[2] = {};  // IO_STATUS_BLOCK
  LONG status = 0;
  for (;;) {
    status = query(handle, io_status, list.data(), static_cast<ULONG>(list.size() * sizeof list[0]),
                   kProcessIdsUsingFile);
    if (status != kLengthMismatch || list.size() >= (std::size_t{1} << 16)) break;
    list.resize(list.size() * 2);
  }
  CloseHandle(handle);
  if (status < 0) return false;
  ULONG count = 0;
  std::memcpy(&count, list.data(), sizeof count);
  for (std::size_t i = 1; i <= count && i < list.size(); ++i) {
    if (list[i] != GetCurrentProcessId()) return true;
  }
  return false;
}

// True when the volume of the entry at path renames over a file that
// others have open (FILE_SUPPORTS_POSIX_UNLINK_RENAME: NTFS on Windows 10
// and later). Elsewhere (FAT32, exFAT, most network shares, wine) a rename
// over a file that anyone has open fails, whatever they share.
bool RenamesOverOpenFiles(const std::string& path) {
  constexpr DWORD kSupportsPosixUnlinkRename = 0x400;
  HANDLE handle = Open(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD flags = 0;
  const bool known =
      GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != 0;
  CloseHandle(handle);
  return known && (flags & kSupportsPosixUnlinkRename) != 0;
}

// The folder part of a path, up to and including its last separator ("D:"
// for "D:name"); empty for a bare name.
std::string FolderPart(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);  // D:'s current folder
  return std::string();
}

// A name for the temporary file beside the target: short, so that it never
// makes a path longer than a target name of its length would, and in
// letters that no file system's case rules confuse.
std::string TempName(unsigned attempt) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  std::uint64_t x = (std::uint64_t{GetCurrentProcessId()} << 32) ^
                    static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
                    (std::uint64_t{attempt} << 48);
  std::string name = "~tvx";
  for (int i = 0; i < 4; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    name += kDigits[(x >> 33) % 36];
  }
  return name;
}

// Makes wide the path the control handler removes; false when it does not
// fit. The handler runs on a thread of its own and reads it only while
// g_temp_set is 1.
bool Register(const std::wstring& wide) {
  assert(!g_temp_set && "one temporary file at a time");
  if (wide.size() >= sizeof g_temp_path / sizeof g_temp_path[0]) return false;
  std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, g_temp_path);
  InterlockedExchange(&g_temp_set, 1);
  return true;
}

// Records path in temp as the standing temporary file.
void Record(TempFile& temp, const std::string& path) {
  temp.name = path;
  temp.stands = true;
}

// TempFile::folder on Windows: whether the file is marked to be deleted
// once its last handle closes. While it is, the mark does what the
// handler's copy would do, and the file is never opened by its path:
// Windows refuses to open a file pending deletion.
constexpr std::intptr_t kNotMarked = -1, kMarked = 1;

// Marks the open file to be deleted when its last handle closes, however
// the process ends, or clears that mark; false when the file system
// refuses.
bool MarkForDeletion(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(mark)};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// Forgets the temporary file: the handler's copy, then the record.
void Forget(TempFile& temp) {
  if (!temp.stands) return;
  InterlockedExchange(&g_temp_set, 0);
  InterlockedExchange(&g_temp_marked, 0);
  temp.name.clear();
  temp.folder = kNotMarked;
  temp.stands = false;
}

// Renames the temporary file over target the POSIX way (Windows 10 1607
// and later, on NTFS): a target that another process has open, letting
// others delete it, is replaced too, and that process goes on with the old
// file. MoveFileExW refuses such a target; the probe lets one through only
// where the volume says it renames so (RenamesOverOpenFiles). False where
// the system or the file system has no such rename; the caller then moves
// the old way.
bool RenameReplacingOpenFile(const std::wstring& from, const std::wstring& target) {
  constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;
  HANDLE temp = CreateFileW(from.c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (temp == INVALID_HANDLE_VALUE) return false;
  const std::size_t name_bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = kReplaceIfExists | kPosixSemantics;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, target.c_str(), name_bytes);
  const bool renamed = SetFileInformationByHandle(temp, kFileRenameInfoEx, info,
                                                  static_cast<DWORD>(buffer.size())) != 0;
  CloseHandle(temp);
  return renamed;
}

// What the attributes of a path say stands there.
PathKind KindOf(DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNothing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kDirectory;
  // A symbolic link: replaced, never written through.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::kOther;
  return PathKind::kFile;
}

}  // namespace

bool FileExists(const std::string& path) {
  // A device name (NUL, AUX) exists as Windows says it does.
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

PathKind KindAt(const std::string& path) {
  // Windows says a device such as NUL is a file; it is none.
  return NamesADevice(path) ? PathKind::kOther : KindOf(AttributesOf(path));
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
  HANDLE handle = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  // A serial port (COM1, or AUX for it) waits for bytes that may never
  // come: it is read for what it holds now, and then it ends.
  COMMTIMEOUTS timeouts{};
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
      GetCommTimeouts(handle, &timeouts)) {
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &timeouts);
  }
  return FromHandle(handle);
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
  const DWORD attributes = AttributesOf(path);
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
  // Adding a file is a right of its own on a folder: asked for in an open
  // of the folder, which adds nothing.
  const std::string folder = FolderPart(path) + ".";
  HANDLE handle = Open(folder, FILE_ADD_FILE, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  site.folder_takes_files = handle != INVALID_HANDLE_VALUE;
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  // A device or a stream of another file can be neither renamed over nor
  // written as a file: the run would end after all its work with nothing
  // written.
  if (NamesAStream(win32::Wide(path)) || NamesADevice(path)) {
    site.kind = PathKind::kOther;
    site.may_rename_over = false;
    return site;
  }
  site.kind = KindOf(AttributesOf(path));
  if (site.kind == PathKind::kNothing) return site;
  // The rename needs delete access to what it replaces: a folder or file
  // that denies it, or a user of the file who keeps deleters out (as
  // fopen does), leaves at most writing in place. Where the volume renames
  // only over a file nobody has open, so must the probe's open find it,
  // or the run would end after all its work with the old file still there.
  // A handle with attribute access only, or none, shares nothing and so
  // escapes that open; Windows lists its holder where it can.
  const bool over_open_files = RenamesOverOpenFiles(path);
  site.may_rename_over = MayOpen(path, DELETE, over_open_files ? kShareAll : 0) &&
                         (over_open_files || !UsedByOthers(path));
  if (site.kind == PathKind::kFile) {
    site.writable = CanOpenForWriting(path);
    // Written in place, it is opened with nobody else let in: whoever
    // has it open keeps it from being written so.
    site.may_write_in_place = site.writable && MayOpen(path, GENERIC_WRITE, 0) && OursAloneAt(path);
  }
  return site;
}

FileHandle CreateNewFile(const std::string& path, TempFile& temp) {
  // It may be deleted while open: the control handler removes it that way.
  // Registered once made, so that the handler never removes a file another
  // process made at the user's path.
  const std::wstring wide = FileSystemPath(path);
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    Register(wide);
    Record(temp, path);
  }
  return FromHandle(handle);
}

FileHandle CreateTempBeside(const std::string& target, TempFile& temp, Refusal& refusal) {
  refusal = Refusal::kNone;
  // A file that is hidden or kept out of the index stays so once replaced;
  // a link hands on nothing.
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (KindAt(target) == PathKind::kFile) {
    const DWORD kept = AttributesOf(target) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0) attributes = kept;
  }
  const std::string folder = FolderPart(target);
  DWORD error = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    // Others may not read or write it, but it may be deleted while open:
    // the control handler removes it that way when the run is interrupted.
    // In the long form wherever its full path needs it, as the target's
    // is, so that its name never makes a path fail that the target's
    // would not.
    const std::string path = folder + TempName(attempt);
    const std::wstring wide = FileSystemPath(path);
    // Registered before it exists, so that no moment is left in which it
    // exists unknown to the handler; CREATE_NEW never takes a file that is
    // not ours, and the name is forgotten again if it was taken.
    if (!Register(wide)) {
      error = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    // Delete access to mark it, and access to its DACL to give it its
    // final access, all on this one handle.
    HANDLE handle = CreateFileW(g_temp_path, GENERIC_WRITE | DELETE | WRITE_DAC | READ_CONTROL,
                                FILE_SHARE_DELETE, nullptr, CREATE_NEW, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
      // Where a file's maker is granted write access alone, the file is
      // still made, and left to the handler as before.
      handle = CreateFileW(g_temp_path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           attributes, nullptr);
    }
    if (handle != INVALID_HANDLE_VALUE) {
      Record(temp, path);
      // Marked, it goes with its handle even when the process is killed;
      // the handler then leaves it alone, as its DeleteFileW could not
      // open it anyway. Where it cannot be marked, the handler removes it.
      if (MarkForDeletion(handle, true)) {
        temp.folder = kMarked;
        InterlockedExchange(&g_temp_marked, 1);
      }
      return FromHandle(handle);
    }
    InterlockedExchange(&g_temp_set, 0);
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  refusal = error == ERROR_ACCESS_DENIED ? Refusal::kPermission : Refusal::kOther;
  return kNoFile;
}

bool RenameTempOver(TempFile& temp, const std::string& target) {
  // A file still marked goes as it is closed: there is nothing to rename.
  if (!temp.stands || temp.folder == kMarked) return false;
  const std::wstring from = FileSystemPath(temp.name), wide = FileSystemPath(target);
  if (!RenameReplacingOpenFile(from, wide) &&
      !MoveFileExW(from.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return false;
  }
  Forget(temp);
  return true;
}

bool DeleteTemp(TempFile& temp) {
  // A marked file goes with its handle, or has gone: its name, which
  // another file may have taken since, is not looked up. A kept file that
  // is gone already is deleted as far as anyone can tell.
  bool deleted = !temp.stands || temp.folder == kMarked;
  if (!deleted) {
    deleted = DeleteFileW(FileSystemPath(temp.name).c_str()) != 0 ||
              GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  }
  Forget(temp);
  return deleted;
}

TempFile::~TempFile() {
  if (stands) DeleteTemp(*this);
}

void GiveFinalAccess(const TempFile&, FileHandle file, const std::string& target) {
  // A new file in a folder has the folder's inherited ACL from the start,
  // and private until then is not needed: others are kept out of it by its
  // share mode while it is written. Only a file that is the user's alone
  // (as for writing in place) hands on its DACL; another user's file does
  // not narrow the new one, nor could its DACL be trusted to. Read through
  // a handle of the old file, set through the temporary file's own: a file
  // marked for deletion cannot be opened again by its path.
  HANDLE old = Open(target, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (old == INVALID_HANDLE_VALUE) return;
  PSECURITY_DESCRIPTOR wanted = nullptr;
  const bool own = OursAlone(old);
  if (own && GetSecurityInfo(old, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                             nullptr, nullptr, &wanted) != ERROR_SUCCESS) {
    wanted = nullptr;
  }
  CloseHandle(old);
  if (!own) return;
  // The DACL as it stands, with the entries it inherited and its
  // protection from the folder's: SetKernelObjectSecurity sets the
  // descriptor as it is, control bits included, where SetSecurityInfo
  // rebuilds the inherited entries (and wine's puts the folder's into a
  // protected DACL too). Nothing is set where the new file has it already.
  PSECURITY_DESCRIPTOR has = nullptr;
  const bool same = wanted != nullptr &&
                    GetSecurityInfo(Handle(file), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr, &has) == ERROR_SUCCESS &&
                    DaclText(has) == DaclText(wanted) && !DaclText(wanted).empty();
  const bool given =
      same || (wanted != nullptr &&
               SetKernelObjectSecurity(Handle(file), DACL_SECURITY_INFORMATION, wanted));
  if (has != nullptr) LocalFree(has);
  if (wanted != nullptr) LocalFree(wanted);
  if (given) return;
  // What the folder gives may be more than the old file gave: our account
  // alone then, protected from the folder's entries.
  unsigned char sid[SECURITY_MAX_SID_SIZE];
  bool elevated = false;
  alignas(ACL) unsigned char acl[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
  SECURITY_DESCRIPTOR alone{};
  if (OurAccount(sid, elevated) &&
      InitializeAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION) &&
      AddAccessAllowedAce(reinterpret_cast<PACL>(acl), ACL_REVISION, FILE_ALL_ACCESS, sid) &&
      InitializeSecurityDescriptor(&alone, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&alone, TRUE, reinterpret_cast<PACL>(acl), FALSE) &&
      SetSecurityDescriptorControl(&alone, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    SetKernelObjectSecurity(Handle(file), DACL_SECURITY_INFORMATION, &alone);
  }
}

bool KeepTempFile(TempFile& temp, FileHandle file) {
  if (!temp.stands) return false;
  if (temp.folder != kMarked) return true;
  // From here to the rename the handler removes it by its path. It is
  // told so first, so that no moment is left in which the file would stay:
  // until the mark is cleared, the handler's DeleteFileW fails and the
  // mark removes the file as the process ends.
  InterlockedExchange(&g_temp_marked, 0);
  if (!MarkForDeletion(Handle(file), false)) {
    InterlockedExchange(&g_temp_marked, 1);
    return false;
  }
  temp.folder = kNotMarked;
  return true;
}

bool TargetTakenBesideTemp(const TempFile&, const std::string& target) {
  return KindAt(target) != PathKind::kNothing;
}

void RemoveTempFileNow() {
  // An open file goes once its last handle closes: as the process ends.
  if (g_temp_set && !g_temp_marked) DeleteFileW(g_temp_path);
}

FileHandle OpenInPlace(const std::string& path) {
  // A regular file only, not through a link, and truncated only once it is
  // known to be one, and the user's alone, whatever took the path's place
  // since it was looked at. Nobody else may use it while it is rewritten.
  if (KindAt(path) != PathKind::kFile) return kNoFile;
  HANDLE handle = Open(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES | READ_CONTROL, 0, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  if (!OursAlone(handle) || !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return kNoFile;
  }
  return FromHandle(handle);
}

}  // namespace platform
