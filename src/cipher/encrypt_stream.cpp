// Encryption of a file of any size in a few chunks of memory: the input is
// read a chunk at a time, each chunk is encrypted on a core of its own from
// the generator state its draws start at, and the text is written in order.
#include "cipher/encrypt_stream.h"

#include <algorithm>
#include <cstring>

#include "cipher/encrypt.h"
#include "cipher/stream_ring.h"
#include "core/console.h"
#include "core/process_values.h"
#include "keyio/files.h"
#include "platform/clock.h"

namespace {

struct EncryptJob {
  ByteString source;        // the chunk's source bytes
  std::int64_t count = 0;   // how many there are
  Mt19937 generator;        // the state the chunk's draws start from
  bool first = false;       // the text's head goes first
  bool last = false;        // the end marker goes last
  ByteString text;          // the chunk's part of the text
  std::int64_t length = 0;  // how much of it was made
};

}  // namespace

void EncryptStream(std::span<const std::uint8_t> key, const ModeLayout& layout,
                   Mt19937& generator, InputFile& source, OutputFile& out,
                   const Progress& progress, const StreamOptions& options) {
  StreamRing<EncryptJob> ring(source, out, progress, options);
  const std::int64_t chunk = std::max<std::int64_t>(options.chunk_entries, 1);
  const std::int64_t head = HeadLength(layout);
  const auto marker = static_cast<std::int64_t>(kEndMarker.size());
  const std::int64_t total = ring.known ? source.size - source.done : 0;
  std::int64_t made = 0;  // jobs made
  bool finished = false;  // the job with the end marker is made
  std::int64_t done = 0;  // source bytes taken back
  std::int64_t stars = 0;

  PipelineSteps steps;
  steps.make = [&](int slot) {
    if (ring.Done(finished)) return false;
    EncryptJob& job = ring[slot];
    if (job.source.empty()) {
      job.source.resize(static_cast<std::size_t>(chunk));
      job.text.resize(static_cast<std::size_t>(head + chunk * layout.entry_length + marker));
    }
    job.count = ReadInput(source, job.source.data(), chunk);
    job.first = made++ == 0;
    // Only the end of the input fills a chunk short.
    job.last = ring.known ? source.done == source.size : job.count < chunk;
    // The signature draws come before every draw of the entries.
    if (job.first) WriteHead(key, layout, generator, job.text.data());
    job.generator = generator;
    AdvanceMt19937(generator, 2 * job.count);
    finished = job.last;
    return true;
  };
  steps.work = [&](int slot) {
    EncryptJob& job = ring[slot];
    job.length = 0;
    // Once a write has failed the chunks need not be encrypted, only read
    // through for the bar of a file.
    if (ring.write_failed.load(std::memory_order_relaxed)) return;
    std::uint8_t* at = job.text.data() + (job.first ? head : 0);
    at = EncryptEntries(key, layout, {job.source.data(), static_cast<std::size_t>(job.count)},
                        job.generator, at, options.loops);
    if (job.last) {
      std::memcpy(at, kEndMarker.data(), kEndMarker.size());
      at += marker;
    }
    job.length = at - job.text.data();
  };
  steps.take = [&](int slot) {
    done += ring[slot].count;
    if (ring.known) stars = EncryptionStarsUpTo(done, total, stars, progress.advance);
    return true;
  };
  steps.write = [&](int slot) { ring.Write(ring[slot].text.data(), ring[slot].length); };
  ring.Run(steps);
  // As far as it was read, should a write have failed.
  ring.DrawBarOfUnknownLength([&] { EncryptionStarsUpTo(done, done, 0, progress.advance); });
}

void EncryptBytes(InputFile& source, OutputFile& out) {
  SeedMt19937(RandomGenerator, platform::MillisecondsSinceStart());
  EncryptStream(KeyBytes, LayoutOf(CipherMode), RandomGenerator, source, out,
                {StartProgress, AdvanceProgress});
  WriteLine("");
  WriteLine("");
  WriteLine("Talvex Encryption was successful!");
}
