// What encryption and decryption share for a run: its progress display,
// the loops that do the work, and how a stream is cut into chunks.
#pragma once

#include <cstdint>

// Receives progress: current of total, in source bytes for encryption and
// text characters for decryption.
using ProgressFn = void (*)(std::int64_t current, std::int64_t total);

// The progress display of a run: start draws the scale, advance is told
// the progress wherever a star of the bar can appear.
struct Progress {
  void (*start)();
  ProgressFn advance;
};

// Which loops do the work: the fastest this processor runs, the portable
// ones in plain C++ (every processor's, and the only ones off x86-64),
// which the fast ones are checked against, or for decryption the slow
// road, every entry by the exact rules of the format, which both are
// checked against (encryption takes it as portable).
enum class CipherLoops { kFastest, kPortable, kExact };

// How a stream is cut into chunks and worked.
struct StreamOptions {
  std::int64_t chunk_entries = std::int64_t{1} << 18;  // entries per chunk
  int workers = 0;                                     // 0: DefaultWorkers()
  CipherLoops loops = CipherLoops::kFastest;
};
