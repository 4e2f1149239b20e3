// The process-wide values of a run and the byte string they are made of:
// plain data that every part of the tool may include.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Leaves new elements uninitialised, so that a buffer sized for a whole key
// or a chunk is not zero-filled first only to be overwritten at once.
template <typename T>
struct NoInitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = NoInitAllocator<U>;
  };
  NoInitAllocator() = default;
  template <typename U>
  NoInitAllocator(const NoInitAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

// File contents, key, chunks of text and bytes. 0-based in memory;
// the position arithmetic of the format is 1-based and says so where used.
using ByteString = std::vector<std::uint8_t, NoInitAllocator<std::uint8_t>>;

// The key, the one file held whole: mapped into memory, or read into it
// from a pipe or device. keyio/key.h owns what it points to; the files to
// encrypt or decrypt and their results pass through in chunks.
extern std::span<const std::uint8_t> KeyBytes;

// The cipher mode of the run: 8, 16 or 32, or 0 for none. LoadKeyFile sets
// it from the key's size; ValidateCipherText replaces it with the mode of
// the text it validates, or 0 when that fails, after which the command
// ends: no work is ever done in mode 0.
extern std::int32_t CipherMode;
