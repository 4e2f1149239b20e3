// Text at the edges of the Win32 backends: the tool's strings are UTF-8,
// the file API takes wide strings, and console text goes out single-byte in
// the ANSI code page.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <windows.h>

namespace platform::win32 {

// UTF-16 of utf8; with MB_ERR_INVALID_CHARS in flags, empty when utf8 is
// not valid UTF-8 (otherwise bad bytes become U+FFFD).
inline std::wstring Wide(std::string_view utf8, DWORD flags = 0) {
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, flags, utf8.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, flags, utf8.data(), size, wide.data(), length);
  return wide;
}

inline std::string Narrow(std::wstring_view wide, UINT code_page) {
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

// Writes UTF-8 text to a console in the ANSI code page, switched to for the
// duration of the write and then given back, so that whatever runs next in
// the console finds it as it was. Characters outside the code page show as
// '?'; bytes that are not valid UTF-8 go out unchanged.
inline void WriteAnsiConsole(HANDLE console, std::string_view text) {
  std::string converted;
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) {  // ASCII reads the same in every ANSI code page
    const std::wstring wide = Wide(text, MB_ERR_INVALID_CHARS);
    if (!wide.empty()) {
      converted = Narrow(wide, CP_ACP);
      text = converted;
    }
  }
  const UINT ansi_page = GetACP();
  const UINT previous_page = GetConsoleOutputCP();
  if (previous_page != ansi_page) SetConsoleOutputCP(ansi_page);
  // Older consoles refuse single writes beyond about 64 KiB.
  constexpr std::size_t kChunk = 16384;
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD request = static_cast<DWORD>(text.size() < kChunk ? text.size() : kChunk);
    if (!WriteConsoleA(console, text.data(), request, &written, nullptr) || written == 0) break;
    text.remove_prefix(written);
  }
  if (previous_page != ansi_page) SetConsoleOutputCP(previous_page);
}

}  // namespace platform::win32
