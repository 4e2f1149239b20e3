#include "platform/mapping.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

std::int64_t Join(DWORD high, DWORD low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

}  // namespace

bool MapForReading(FileHandle file, std::int64_t size, MappedFile& view) {
  if (size <= 0) return false;
  HANDLE mapping = CreateFileMappingW(Handle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return false;
  // The view keeps the mapping alive on its own.
  void* data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  if (data == nullptr) return false;
  view.data = static_cast<const std::uint8_t*>(data);
  view.size = size;
  return true;
}

void Unmap(MappedFile& view) {
  if (view.data == nullptr) return;
  UnmapViewOfFile(view.data);
  view = MappedFile{};
}

void MapAllPagesNow(const MappedFile& view) {
  if (view.data == nullptr) return;
  // PrefetchVirtualMemory reads the view's pages from the disk in a few
  // large requests rather than one fault at a time; it maps none of them,
  // so the faults that follow find them in memory. It came with Windows 8,
  // so it is looked up rather than linked, and where it is missing the
  // pages come in as they are touched. (Wine takes the request and does
  // nothing measurable: 1 ms for 1 GB, the faults after it as many.)
  struct Range {  // WIN32_MEMORY_RANGE_ENTRY
    void* address;
    SIZE_T bytes;
  };
  using Prefetch = BOOL(WINAPI*)(HANDLE, ULONG_PTR, Range*, ULONG);
  static const auto prefetch = reinterpret_cast<Prefetch>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "PrefetchVirtualMemory")));
  if (prefetch == nullptr) return;
  Range range{const_cast<std::uint8_t*>(view.data), static_cast<SIZE_T>(view.size)};
  prefetch(GetCurrentProcess(), 1, &range, 0);
}

bool StampOf(FileHandle file, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(Handle(file), &info)) return false;
  stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.modified = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  stamp.links = static_cast<std::int64_t>(info.nNumberOfLinks);
  return true;
}

// A file mapped on Windows cannot be cut short, and the key is held open
// with writers kept out for the whole run, so it cannot change at all.
void EndOnFaultIn(const MappedFile&, const std::string&, int) {}

}  // namespace platform
