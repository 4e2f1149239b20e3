// One write loop for every POSIX file: the console, standard error, and a
// signal handler's report, which may call nothing but write(2).
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace platform {

// Writes size bytes at data to fd, going on after a partial write or a
// signal; false when a write fails or takes nothing. Async-signal-safe.
inline bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace platform
