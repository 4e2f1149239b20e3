// Decryption of a text of any size in a few chunks of memory: the text is
// read a window of whole entries at a time, each window is decoded on a
// core of its own, and the bytes are written in order.
#include "cipher/decrypt_stream.h"

#include <algorithm>
#include <exception>

#include "cipher/decrypt.h"
#include "cipher/format.h"
#include "cipher/stream_ring.h"
#include "core/console.h"
#include "core/process_values.h"
#include "keyio/files.h"

namespace {

struct DecryptJob {
  ByteString window;        // the text from the chunk's first entry on
  std::int64_t length = 0;  // characters in it
  bool last = false;        // it reaches the end of the text
  ByteString plain;         // the decoded bytes
  std::int64_t count = 0;   // how many
  bool stopped = false;     // decoding ended in this window
  std::exception_ptr failure;       // of decoding
  std::exception_ptr read_failure;  // of reading the window
};

// One run of DecryptStream: its steps, and what they share.
struct Decryption {
  std::span<const std::uint8_t> key;
  std::int32_t mode;
  const ModeLayout& layout;
  std::int64_t chunk;
  CipherLoops loops;
  StreamRing<DecryptJob>& ring;
  // A window holds a chunk's entries and the characters after them that
  // deciding on its last entry may read; the next window starts with those.
  // The first starts with what the head holds past the header, which for
  // tiny chunks is more.
  std::int64_t entries_span = chunk * layout.entry_length;
  std::int64_t window_size = entries_span + kWindowLookahead;
  ByteString carry{};        // read but not yet in a window
  bool finished = false;     // the last window is made
  std::int64_t entries = 0;  // decoded and taken back
  std::int64_t stars = 0;

  // The bar of an input of unknown length is drawn once the decoding has
  // stopped, from what was read: the rest is never read, for it may never
  // end.
  void DrawBarOfUnknownLength() {
    ring.DrawBarOfUnknownLength([&] {
      DecryptionStarsUpTo(mode, entries, ring.source.done, 0, ring.progress.advance);
    });
  }

  // Reads a window of an input of unknown length piece by piece, as the
  // pieces come, and no further than where decoding will stop: a writer
  // that pauses after the text, or never ends, must not hold up the run.
  // True once that stop is in the window.
  bool ReadUntilDecided(std::uint8_t* window, std::int64_t carried, std::int64_t want, std::int64_t& got) {
    std::int64_t checked = 0;
    for (;;) {
      if (DecodingStopsIn({window, static_cast<std::size_t>(carried + got)}, mode,
                          static_cast<std::int64_t>(key.size()), checked)) {
        return true;
      }
      if (got == want) return false;
      const std::int64_t n = ReadSomeInput(ring.source, window + carried + got, want - got);
      if (n == 0) return false;
      got += n;
    }
  }

  // Fills the job in slot with the next window: what was carried over,
  // then what the input gives.
  bool Make(int slot) {
    if (ring.Done(finished)) return false;
    DecryptJob& job = ring[slot];
    if (job.window.empty()) {
      const std::int64_t room = window_size + kValidatedLength;
      job.window.resize(static_cast<std::size_t>(room));
      // The last window may hold a few entries more than a chunk.
      job.plain.resize(static_cast<std::size_t>(room / layout.entry_length + 1));
    }
    std::copy(carry.begin(), carry.end(), job.window.begin());
    const auto carried = static_cast<std::int64_t>(carry.size());
    const std::int64_t want = std::max<std::int64_t>(window_size - carried, 0);
    job.read_failure = nullptr;
    std::int64_t got = 0;
    bool decided = false;
    try {
      if (ring.known) {
        got = ReadInput(ring.source, job.window.data() + carried, want);
      } else {
        decided = ReadUntilDecided(job.window.data(), carried, want, got);
      }
    } catch (...) {
      // Windows are read ahead of the decoding: this one may lie past the
      // end marker, where nothing decides. Raised by Take at the job's
      // turn, which never comes once an earlier window has stopped.
      job.read_failure = std::current_exception();
      job.length = 0;
      job.last = finished = true;
      return true;
    }
    job.length = carried + got;
    // Only the end of the text fills a window short.
    job.last = got < want || decided || (ring.known && ring.source.done == ring.source.size);
    if (!job.last) carry.assign(job.window.begin() + entries_span, job.window.begin() + job.length);
    finished = job.last;
    return true;
  }

  // Decodes the job's window, on a worker; a failure stays in the job.
  void Work(int slot) {
    DecryptJob& job = ring[slot];
    job.count = 0;
    job.failure = nullptr;
    job.stopped = false;
    if (job.read_failure) return;
    try {
      job.stopped = DecodeWindow({job.window.data(), static_cast<std::size_t>(job.length)}, key, mode,
                                 job.last ? INT64_MAX : chunk, job.plain.data(), job.count, loops);
    } catch (...) {
      job.failure = std::current_exception();
      job.stopped = true;
    }
  }

  // Takes the job back in its turn: its stars, and its failure if it has
  // one. False once decoding has stopped.
  bool Take(int slot) {
    const DecryptJob& job = ring[slot];
    // The input failed before the text stopped: nothing more can be read,
    // not even for the bar.
    if (job.read_failure) std::rethrow_exception(job.read_failure);
    entries += job.count;
    if (ring.known) {
      stars = DecryptionStarsUpTo(mode, entries, ring.source.size, stars, ring.progress.advance);
    }
    if (job.failure) {
      // The run stops inside the row of stars, whatever a write did before.
      DrawBarOfUnknownLength();
      std::rethrow_exception(job.failure);
    }
    return !job.stopped && !job.last;
  }
};

}  // namespace

void DecryptStream(std::span<const std::uint8_t> key, std::int32_t mode,
                   std::span<const std::uint8_t> head, InputFile& source, OutputFile& out,
                   const Progress& progress, const StreamOptions& options) {
  StreamRing<DecryptJob> ring(source, out, progress, options);
  const ModeLayout& layout = LayoutOf(mode);
  Decryption run{key, mode, layout, std::max<std::int64_t>(options.chunk_entries, 1), options.loops, ring};
  // At first what the head holds past the header is carried into a window.
  const auto header = static_cast<std::size_t>(
      std::min<std::int64_t>(HeadLength(layout), static_cast<std::int64_t>(head.size())));
  run.carry.assign(head.begin() + static_cast<std::ptrdiff_t>(header), head.end());
  PipelineSteps steps;
  steps.make = [&](int slot) { return run.Make(slot); };
  steps.work = [&](int slot) { run.Work(slot); };
  steps.take = [&](int slot) { return run.Take(slot); };
  steps.write = [&](int slot) { ring.Write(ring[slot].plain.data(), ring[slot].count); };
  ring.Run(steps);
  run.DrawBarOfUnknownLength();
}

void DecryptCipherText(std::span<const std::uint8_t> head, InputFile& source, OutputFile& out) {
  DecryptStream(KeyBytes, CipherMode, head, source, out, {StartProgress, AdvanceProgress});
  WriteLine("");
  WriteLine("");
  WriteLine("Talvex Decryption was successful!");
}
