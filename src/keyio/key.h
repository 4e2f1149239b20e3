// Loading the key file and choosing the cipher mode from its size.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::int64_t kMinKeyLength = 100;
inline constexpr std::int64_t kMaxKeyLength = 1000000000;

// The cipher mode a key of the given length selects: 8, 16 or 32. The
// position field of each mode holds every position of such a key.
constexpr std::int32_t ModeForKeyLength(std::int64_t length) {
  return length <= 255 ? 8 : length <= 65535 ? 16 : 32;
}

// "KEYFILE SIZE: <n> bytes -> <mode> bit encryption"
std::string KeySizeLine(std::int64_t length);

// Loads KeyBytes and sets CipherMode from its size, printing the size line.
// False after an error block, when the key is missing or of the wrong size.
bool LoadKeyFile(const std::string& path);

// Makes KeyBytes the content of the existing file at path, held until
// ReleaseKey, when its size lies within min to max bytes; false otherwise,
// with KeyBytes empty. A regular file is mapped, not copied, so a key costs
// what is looked up of it, and is refused from its size on disk; a pipe or
// device, or a file that cannot be mapped, is read into memory. "Unable to
// open file" or "Unable to read file" when that fails.
bool HoldKeyWithin(const std::string& path, std::int64_t min, std::int64_t max);

// Says that the run will look up about count key positions: when that is
// 128 or more for each page of a mapped key, all of it is mapped at once,
// which then costs less than a fault for each page.
void ExpectKeyLookups(std::int64_t count);

// Raises "Unable to read file" naming the key when its bytes may have
// changed since it was loaded (another size or modification time) or its
// last name is gone (deleted, or renamed over): a mapped key is read at each
// lookup, so a text made meanwhile fits no key. A key with no name when it
// was loaded (/dev/fd/N of a deleted file, a memfd) is checked by size and
// time alone; a piped key not at all.
void CheckKeyUnchanged();

// Lets the key go: KeyBytes becomes empty.
void ReleaseKey();
