// Decryption of a text of any size in a few chunks of memory: the text is
// read a window of whole entries at a time, each window is decoded on a
// core of its own, and the bytes are written in order.
#include "cipher/decrypt_stream.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <vector>

#include "cipher/decrypt.h"
#include "cipher/format.h"
#include "cipher/pipeline.h"
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

}  // namespace

void DecryptStream(std::span<const std::uint8_t> key, std::int32_t mode,
                   std::span<const std::uint8_t> head, InputFile& source, OutputFile& out,
                   const Progress& progress, const StreamOptions& options) {
  const ModeLayout& layout = LayoutOf(mode);
  const int workers = options.workers > 0 ? options.workers : DefaultWorkers();
  const std::int64_t chunk = std::max<std::int64_t>(options.chunk_entries, 1);
  // A window holds a chunk's entries and the characters after them that
  // deciding on its last entry may read; the next window starts with those.
  // The first starts with what head holds past the header, which for tiny
  // chunks is more.
  const std::int64_t entries_span = chunk * layout.entry_length;
  const std::int64_t window_size = entries_span + kWindowLookahead;
  const std::int64_t window_room = window_size + kValidatedLength;
  std::vector<DecryptJob> jobs(static_cast<std::size_t>(2 * workers + 2));

  const bool known = source.SizeKnown();
  if (known) progress.start();
  // Read but not yet in a window: at first what head holds past the header.
  const std::size_t header = static_cast<std::size_t>(std::min<std::int64_t>(
      HeadLength(layout), static_cast<std::int64_t>(head.size())));
  ByteString carry(head.begin() + static_cast<std::ptrdiff_t>(header), head.end());
  bool finished = false;
  std::int64_t entries = 0;  // decoded and taken back
  std::int64_t stars = 0;

  // Once a write has failed an input of unknown length is read no further:
  // nothing more reaches the output, and the input may never end.
  std::atomic<bool> write_failed = false;

  // The bar of a pipe is drawn once the decoding has stopped, from what was
  // read: the rest is never read, for it may never end.
  auto draw_late_bar = [&] {
    progress.start();
    DecryptionStarsUpTo(mode, entries, source.done, 0, progress.advance);
  };

  // Reads a window of a pipe piece by piece, as the pieces come, and no
  // further than where decoding will stop: a writer that pauses after the
  // text, or never ends, must not hold up the run. True once that stop is
  // in the window.
  auto read_until_decided = [&](std::uint8_t* window, std::int64_t carried, std::int64_t want,
                                std::int64_t& got) {
    std::int64_t checked = 0;
    for (;;) {
      if (DecodingStopsIn({window, static_cast<std::size_t>(carried + got)}, mode,
                          static_cast<std::int64_t>(key.size()), checked)) {
        return true;
      }
      if (got == want) return false;
      const std::int64_t n = ReadSomeInput(source, window + carried + got, want - got);
      if (n == 0) return false;
      got += n;
    }
  };

  PipelineSteps steps;
  steps.make = [&](int slot) {
    if (finished || (!known && write_failed.load(std::memory_order_relaxed))) return false;
    DecryptJob& job = jobs[static_cast<std::size_t>(slot)];
    if (job.window.empty()) {
      job.window.resize(static_cast<std::size_t>(window_room));
      // The last window may hold a few entries more than a chunk.
      job.plain.resize(static_cast<std::size_t>(window_room / layout.entry_length + 1));
    }
    std::copy(carry.begin(), carry.end(), job.window.begin());
    const auto carried = static_cast<std::int64_t>(carry.size());
    const std::int64_t want = std::max<std::int64_t>(window_size - carried, 0);
    job.read_failure = nullptr;
    std::int64_t got = 0;
    bool decided = false;
    try {
      if (known) {
        got = ReadInput(source, job.window.data() + carried, want);
      } else {
        decided = read_until_decided(job.window.data(), carried, want, got);
      }
    } catch (...) {
      // Windows are read ahead of the decoding: this one may lie past the
      // end marker, where nothing decides. Raised by take at the job's
      // turn, which never comes once an earlier window has stopped.
      job.read_failure = std::current_exception();
      job.length = 0;
      job.last = finished = true;
      return true;
    }
    job.length = carried + got;
    // Only the end of the text fills a window short.
    job.last = got < want || decided || (known && source.done == source.size);
    if (!job.last) {
      carry.assign(job.window.begin() + entries_span, job.window.begin() + job.length);
    }
    finished = job.last;
    return true;
  };
  steps.work = [&](int slot) {
    DecryptJob& job = jobs[static_cast<std::size_t>(slot)];
    job.count = 0;
    job.failure = nullptr;
    job.stopped = false;
    if (job.read_failure) return;
    try {
      job.stopped = DecodeWindow({job.window.data(), static_cast<std::size_t>(job.length)}, key,
                                 mode, job.last ? INT64_MAX : chunk, job.plain.data(), job.count,
                                 options.loops);
    } catch (...) {
      job.failure = std::current_exception();
      job.stopped = true;
    }
  };
  steps.take = [&](int slot) {
    const DecryptJob& job = jobs[static_cast<std::size_t>(slot)];
    // The input failed before the text stopped: nothing more can be read,
    // not even for a pipe's bar.
    if (job.read_failure) std::rethrow_exception(job.read_failure);
    entries += job.count;
    if (known) stars = DecryptionStarsUpTo(mode, entries, source.size, stars, progress.advance);
    if (job.failure) {
      // The run stops inside the row of stars, whatever a write did before.
      if (!known) draw_late_bar();
      std::rethrow_exception(job.failure);
    }
    return !job.stopped && !job.last;
  };
  steps.write = [&](int slot) {
    const DecryptJob& job = jobs[static_cast<std::size_t>(slot)];
    WriteOutput(out, job.plain.data(), job.count);
    if (out.Failed()) write_failed = true;
  };
  RunPipeline(static_cast<int>(jobs.size()), workers, steps);
  if (!known) draw_late_bar();
}

void DecryptCipherText(std::span<const std::uint8_t> head, InputFile& source, OutputFile& out) {
  DecryptStream(KeyBytes, CipherMode, head, source, out, {StartProgress, AdvanceProgress});
  WriteLine("");
  WriteLine("");
  WriteLine("Talvex Decryption was successful!");
}
