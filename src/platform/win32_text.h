// Text at the edges of the Win32 backends: the tool's strings are WTF-8
// (UTF-8 that may also hold an unpaired UTF-16 surrogate, which Windows
// names allow), the file API takes wide strings, and console text goes out
// in the ANSI code page.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <windows.h>

namespace platform::win32 {

// The WTF-8 of wide: UTF-8 for every character, and the three bytes of its
// code point for a surrogate without its partner, so that any name Windows
// hands over comes back unchanged (Wide).
inline std::string Wtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size() * 3);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The UTF-16 of WTF-8 text into wide. False when a byte fits no sequence
// (it then stands as U+FFFD): bytes that came from no wide string.
inline bool DecodeWtf8(std::string_view text, std::wstring& wide) {
  wide.clear();
  wide.reserve(text.size());
  bool valid = true;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned lead = byte(i);
    const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2
                     : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    std::uint32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    int taken = 1;
    for (; length > 1 && taken < length && i + taken < text.size(); ++taken) {
      if ((byte(i + taken) & 0xC0) != 0x80) break;
      c = c << 6 | (byte(i + taken) & 0x3F);
    }
    // Shortest forms only, and nothing past U+10FFFF; surrogates are let
    // through, which is what makes this WTF-8.
    const bool ok = length > 0 && taken == length &&
                    c >= (length == 2 ? 0x80u : length == 3 ? 0x800u : length == 4 ? 0x10000u : 0u) &&
                    c <= 0x10FFFF;
    if (!ok) {
      valid = false;
      wide += L'\xFFFD';
      i += length > 1 ? taken : 1;
      continue;
    }
    if (c >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
    i += static_cast<std::size_t>(length);
  }
  return valid;
}

// UTF-16 of WTF-8 text, bytes that fit no sequence as U+FFFD.
inline std::wstring Wide(std::string_view text) {
  std::wstring wide;
  DecodeWtf8(text, wide);
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

// Text for a file or pipe, which expects UTF-8: an unpaired surrogate
// shows as U+FFFD, as it does on the console; everything else is left as
// it is. Copied into holder only where a surrogate may stand (its first
// byte is 0xED), which ordinary text never needs.
inline std::string_view Utf8Text(std::string_view text, std::string& holder) {
  if (text.find('\xED') == std::string_view::npos) return text;
  holder.assign(text);
  for (std::size_t at = 0; (at = holder.find('\xED', at)) != std::string::npos; ++at) {
    if (at + 2 < holder.size() && (static_cast<unsigned char>(holder[at + 1]) & 0xE0) == 0xA0 &&
        (static_cast<unsigned char>(holder[at + 2]) & 0xC0) == 0x80) {
      holder.replace(at, 3, "\xEF\xBF\xBD");
    }
  }
  return holder;
}

// The form of path the file API takes. As typed, unless the full path is
// 260 characters or more, which Windows refuses unless long paths are
// enabled for the machine and the program: then the full path
// (GetFullPathNameW, which also drops what Windows drops: "." and ".."
// steps, trailing dots and blanks) behind \\?\, or \\?\UNC\ for a share,
// where no length limit but the file system's own applies. Device paths
// (\\.\) and paths already in that form are left as typed.
inline std::wstring FileSystemPath(std::string_view path) {
  std::wstring wide = Wide(path);
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (wide.size() >= 4 && separator(wide[0]) && separator(wide[1]) &&
      (wide[2] == L'?' || wide[2] == L'.') && separator(wide[3])) {
    return wide;
  }
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  // needed counts the terminating null: up to 259 characters work anywhere.
  if (needed <= MAX_PATH) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.compare(0, 4, L"\\\\.\\") == 0 || full.compare(0, 4, L"\\\\?\\") == 0) return wide;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The console's output code page while a write has it switched (below), so
// that an interruption can put it back: the console outlives the process,
// and whatever runs next in it would find its text in the wrong page. The
// control handler runs on a thread of its own, beside a write that may be
// anywhere; where the write stands decides what the handler does.
inline volatile LONG g_page_before_write = 0;
enum : LONG {
  kPageKept,         // no write has it switched
  kPageSwitching,    // a write is switching it and has not yet said so
  kPageSwitched,     // a write has it switched; g_page_before_write is the console's own
  kPageInterrupted,  // the process is ending: no write switches it any more
  kPageSwitchedBack  // a write saw that while switching, and put it back itself
};
inline volatile LONG g_page_state = kPageKept;

// Puts back the page a write has switched away from, and keeps any later
// write from switching it. Safe in a console control handler: it waits at
// most a moment, and only for a write between its switch and its saying so.
inline void PutBackConsolePageNow() {
  const LONG state = InterlockedExchange(&g_page_state, kPageInterrupted);
  if (state == kPageSwitching) {
    for (int waited = 0; waited < 200 && g_page_state != kPageSwitchedBack; ++waited) Sleep(1);
  }
  if (state == kPageSwitching || state == kPageSwitched) {
    SetConsoleOutputCP(static_cast<UINT>(g_page_before_write));
  }
}

// Writes WTF-8 text to a console in the ANSI code page, switched to for the
// duration of the write and then given back, so that whatever runs next in
// the console finds it as it was (after an interruption too:
// PutBackConsolePageNow). Characters outside the code page show as '?' (or
// U+FFFD where that code page is UTF-8); bytes that are not WTF-8 go out
// unchanged.
inline void WriteAnsiConsole(HANDLE console, std::string_view text) {
  const UINT ansi_page = GetACP();
  const UINT previous_page = GetConsoleOutputCP();
  bool switched = false;
  if (previous_page != ansi_page) {
    InterlockedExchange(&g_page_before_write, static_cast<LONG>(previous_page));
    if (InterlockedCompareExchange(&g_page_state, kPageSwitching, kPageKept) == kPageKept) {
      SetConsoleOutputCP(ansi_page);
      switched = InterlockedCompareExchange(&g_page_state, kPageSwitched, kPageSwitching) ==
                 kPageSwitching;
      if (!switched) {  // interrupted meanwhile
        SetConsoleOutputCP(previous_page);
        InterlockedExchange(&g_page_state, kPageSwitchedBack);
      }
    }
  }
  const auto write = [console](std::string_view bytes) {
    while (!bytes.empty()) {
      DWORD written = 0;
      if (!WriteConsoleA(console, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) ||
          written == 0) {
        return;
      }
      bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
    }
  };
  // Older consoles refuse single writes beyond about 64 KiB: the text goes
  // in pieces, each cut between whole characters, so that no piece leaves
  // half of a multi-byte character to the next.
  constexpr std::size_t kPiece = 8192;
  std::wstring wide;
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii || !DecodeWtf8(text, wide)) {  // ASCII reads the same in every ANSI code page
    for (std::size_t at = 0; at < text.size(); at += kPiece) write(text.substr(at, kPiece));
  } else {
    std::wstring_view rest = wide;
    while (!rest.empty()) {
      std::size_t piece = std::min(kPiece, rest.size());
      if (piece < rest.size() && rest[piece - 1] >= 0xD800 && rest[piece - 1] < 0xDC00) --piece;
      write(Narrow(rest.substr(0, piece), CP_ACP));
      rest.remove_prefix(piece);
    }
  }
  if (switched) {
    SetConsoleOutputCP(previous_page);
    InterlockedCompareExchange(&g_page_state, kPageKept, kPageSwitched);
  }
}

}  // namespace platform::win32
