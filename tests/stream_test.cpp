// The streaming encryption and decryption against the whole-buffer ones:
// the same text for the same seed, the same bytes or the same failure, the
// same progress calls, whatever the chunk size, the number of workers, and
// whether the input is a file or a pipe; and the ordered pipeline beneath.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cipher/decrypt.h"
#include "cipher/decrypt_stream.h"
#include "cipher/encrypt.h"
#include "cipher/encrypt_stream.h"
#include "cipher/pipeline.h"
#include "cipher_cases.h"
#include "core/failure.h"
#include "keyio/files.h"
#include "keyio/key.h"
#include "tool_runner.h"

namespace {

// The input of a streamed run: a file holding content, or a FIFO fed with it.
struct StreamInput {
  TempDir dir;
  std::optional<FifoFeeder> writer;
  InputFile in;
  StreamInput(const ByteString& content, bool pipe) {
    const std::string path = dir / "in";
    if (pipe) {
      EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
      writer.emplace(path, std::string(content.begin(), content.end()));
    } else {
      WriteFile(path, std::string(content.begin(), content.end()));
    }
    OpenInput(in, path);
  }
  // Files beside the input after the run.
  std::size_t FileCount() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path), {}));
  }
};

// Runs fn with an output at out in the input's directory and completes it;
// the outcome holds what was written, or the failure.
template <typename Fn>
Outcome Streamed(StreamInput& input, Fn fn) {
  Outcome outcome;
  RecordedProgress().clear();
  const std::string path = input.dir / "out";
  try {
    OutputFile out;
    CreateOutput(out, path);
    fn(out);
    FinishOutput(out);
    const std::string written = ReadFile(path);
    outcome.bytes.assign(written.begin(), written.end());
  } catch (const Failure& failure) {
    outcome.failure = std::string(failure.kind) + ": " + failure.message;
  }
  outcome.progress = std::move(RecordedProgress());
  // Only the output, when complete, stands beside the input.
  EXPECT_EQ(input.FileCount(), outcome.failure.empty() ? 2u : 1u);
  return outcome;
}

Outcome EncryptStreamed(const ByteString& key, const ByteString& source, std::uint32_t seed,
                        const StreamOptions& options, bool pipe) {
  StreamInput input(source, pipe);
  const ModeLayout& layout = LayoutOf(ModeForKeyLength(static_cast<std::int64_t>(key.size())));
  Mt19937 generator;
  SeedMt19937(generator, seed);
  return Streamed(input, [&](OutputFile& out) {
    EncryptStream(key, layout, generator, input.in, out, kRecordingProgress, options);
  });
}

// cut, when given, is where the file is cut short once its head is read:
// reads past it fail. read, when given, is told how much of the input was
// read.
Outcome DecryptStreamed(const ByteString& text, const ByteString& key, std::int32_t mode,
                        const StreamOptions& options, bool pipe, std::int64_t cut = -1,
                        std::int64_t* read = nullptr) {
  StreamInput input(text, pipe);
  ByteString head(static_cast<std::size_t>(kValidatedLength));
  head.resize(static_cast<std::size_t>(ReadInput(input.in, head.data(), kValidatedLength)));
  if (cut >= 0) {
    EXPECT_EQ(::truncate((input.dir / "in").c_str(), cut), 0);
  }
  Outcome outcome = Streamed(input, [&](OutputFile& out) {
    DecryptStream(key, mode, head, input.in, out, kRecordingProgress, options);
  });
  if (read != nullptr) *read = input.in.done;
  return outcome;
}

// What the whole-buffer run gives, with the scale drawn first.
Outcome WithScale(Outcome outcome) {
  outcome.progress.insert(outcome.progress.begin(), {-1, -1});
  return outcome;
}

// What the whole-buffer run gives for a streamed run that read read
// characters of text. A pipe is read no further than where its decoding
// stops, and its bar is drawn from what was read: the whole-buffer run of
// the text cut there, which must decode as the whole text does.
Outcome WholeAsRead(const ByteString& text, const ByteString& key, std::int32_t mode, bool pipe,
                    std::int64_t read) {
  const Outcome whole = DecryptWith(CipherLoops::kPortable, text, key, mode);
  if (!pipe) return WithScale(whole);
  EXPECT_LE(read, static_cast<std::int64_t>(text.size()));
  const ByteString cut(text.begin(), text.begin() + std::min<std::int64_t>(read, static_cast<std::int64_t>(text.size())));
  const Outcome as_read = DecryptWith(CipherLoops::kPortable, cut, key, mode);
  EXPECT_TRUE(as_read.bytes == whole.bytes && as_read.failure == whole.failure)
      << "read " << read << " of " << text.size();
  return WithScale(as_read);
}

StreamOptions Options(std::int64_t chunk, int workers) {
  StreamOptions options;
  options.chunk_entries = chunk;
  options.workers = workers;
  return options;
}

std::string Describe(std::size_t key_length, std::size_t length, std::int64_t chunk, int workers,
                     bool pipe) {
  return "key " + std::to_string(key_length) + ", length " + std::to_string(length) + ", chunk " +
         std::to_string(chunk) + ", workers " + std::to_string(workers) + (pipe ? ", pipe" : ", file");
}

}  // namespace

TEST(Streams, EncryptLikeTheWholeBuffer) {
  std::mt19937_64 random(31);
  int round = 0;
  for (const std::size_t key_length : {100u, 255u, 256u, 4096u, 65536u, (1u << 20) + 1}) {
    const ByteString key = RandomString(random, key_length);
    for (const std::int64_t chunk : {1, 3, 64, 1000}) {
      const auto c = static_cast<std::size_t>(chunk);
      for (const std::size_t length : {std::size_t{0}, std::size_t{1}, c - 1, c, c + 1, 2 * c, 3 * c + 1,
                                       static_cast<std::size_t>(random() % 5000)}) {
        const int workers = 1 + round % 3;
        const bool pipe = round++ % 2 == 1;
        const ByteString source = RandomString(random, length);
        const auto seed = static_cast<std::uint32_t>(random());
        ASSERT_EQ(EncryptStreamed(key, source, seed, Options(chunk, workers), pipe),
                  WithScale(EncryptWith(CipherLoops::kFastest, key, source, seed)))
            << Describe(key_length, length, chunk, workers, pipe);
      }
    }
  }
}

TEST(Streams, EncryptWithTheDefaultChunks) {
  std::mt19937_64 random(32);
  const ByteString key = RandomString(random, 65536);
  const std::int64_t chunk = StreamOptions().chunk_entries;
  for (const std::int64_t length : {chunk - 1, chunk, 2 * chunk + 7}) {
    const ByteString source = RandomString(random, static_cast<std::size_t>(length));
    for (const bool pipe : {false, true}) {
      ASSERT_EQ(EncryptStreamed(key, source, 77, {}, pipe),
                WithScale(EncryptWith(CipherLoops::kPortable, key, source, 77)))
          << length << (pipe ? " pipe" : " file");
    }
  }
}

TEST(Streams, DecryptLikeTheWholeBuffer) {
  std::mt19937_64 random(33);
  int round = 0;
  for (const std::size_t key_length : KeyLengths(random)) {
    const ByteString key = RandomString(random, key_length);
    const std::int32_t mode = ModeForKeyLength(static_cast<std::int64_t>(key_length));
    for (int i = 0; i < 12; ++i) {
      const std::int64_t chunk = std::vector<std::int64_t>{1, 2, 7, 64, 500}[random() % 5];
      const std::size_t length = random() % 3000;
      ByteString text = EncryptWith(CipherLoops::kPortable, key, RandomString(random, length),
                                    static_cast<std::uint32_t>(random())).bytes;
      if (i % 3 != 0) Damage(random, text, key_length, mode);
      const int workers = 1 + round % 3;
      const bool pipe = round++ % 2 == 1;
      ASSERT_EQ(DecryptWith(CipherLoops::kExact, text, key, mode),
                DecryptWith(CipherLoops::kPortable, text, key, mode));
      std::int64_t read = 0;
      const Outcome streamed = DecryptStreamed(text, key, mode, Options(chunk, workers), pipe, -1, &read);
      ASSERT_EQ(streamed, WholeAsRead(text, key, mode, pipe, read))
          << Describe(key_length, length, chunk, workers, pipe) << ": "
          << std::string(text.begin(), text.end());
    }
  }
}

// Where a window ends matters most: the end marker, a short tail, a bad
// field, or junk after the end marker right at the edge of a chunk.
TEST(Streams, DecryptAtTheEdgesOfChunks) {
  std::mt19937_64 random(34);
  for (const std::size_t key_length : {100u, 4096u, 65536u}) {
    const ByteString key = RandomString(random, key_length);
    const std::int32_t mode = ModeForKeyLength(static_cast<std::int64_t>(key_length));
    const ModeLayout& layout = LayoutOf(mode);
    const ByteString intact = EncryptWith(CipherLoops::kPortable, key, RandomString(random, 40), 5).bytes;
    const auto head = static_cast<std::size_t>(HeadLength(layout));
    const auto entry = static_cast<std::size_t>(layout.entry_length);
    for (const std::int64_t chunk : {4, 5}) {
      for (std::size_t cut = 2 * entry; cut <= 6 * entry; ++cut) {
        const std::size_t at = head + cut;
        std::vector<ByteString> texts;
        ByteString text = intact;
        text.resize(at);  // the end marker gone, cut anywhere
        texts.push_back(text);
        text = intact;
        std::copy(kEndMarker.begin(), kEndMarker.end(), text.begin() + static_cast<std::ptrdiff_t>(at));
        texts.push_back(text);  // the end marker early, then entries that are never read
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(at + kEndMarker.size()), {'G', 'G'});
        texts.push_back(text);  // and junk after it
        text = intact;
        text[at] = 'x';
        texts.push_back(text);  // a field that is not hex
        for (const ByteString& t : texts) {
          for (const bool pipe : {false, true}) {
            std::int64_t read = 0;
            const Outcome streamed = DecryptStreamed(t, key, mode, Options(chunk, 2), pipe, -1, &read);
            ASSERT_EQ(streamed, WholeAsRead(t, key, mode, pipe, read))
                << Describe(key_length, cut, chunk, 2, pipe) << ": " << std::string(t.begin(), t.end());
          }
        }
      }
    }
  }
}

// Windows are read ahead of the decoding: one that fails to read past the
// window holding the end marker decides nothing, while one before it is
// the failure it is.
TEST(Streams, NothingPastTheEndMarkerDecides) {
  std::mt19937_64 random(35);
  const ByteString key = RandomString(random, 4096);
  const std::int32_t mode = ModeForKeyLength(4096);
  ByteString text = EncryptWith(CipherLoops::kPortable, key, RandomString(random, 300), 7).bytes;
  const auto end = static_cast<std::int64_t>(text.size());
  text.resize(text.size() + 20000, '0');
  const Outcome whole = WithScale(DecryptWith(CipherLoops::kPortable, text, key, mode));
  for (const std::int64_t chunk : {1, 4, 64}) {
    for (const int workers : {1, 2}) {
      // The window that holds the end marker reaches at most this far.
      const std::int64_t reach = end + chunk * LayoutOf(mode).entry_length + kWindowLookahead;
      for (const std::int64_t cut : {reach, reach + 1000}) {
        ASSERT_EQ(DecryptStreamed(text, key, mode, Options(chunk, workers), false, cut), whole)
            << chunk << " " << workers << " " << cut;
      }
      const Outcome early = DecryptStreamed(text, key, mode, Options(chunk, workers), false, end - 100);
      EXPECT_EQ(early.failure.rfind("FileError: Unable to read file", 0), 0u) << early.failure;
    }
  }
}

TEST(Pipeline, WritesInOrderStopsWhenToldAndRaisesOnItsOwnThread) {
  // Fewer slots than workers + 2 are raised to that.
  constexpr int kSlots = 5;
  for (const int workers : {1, 2, 4}) {
    for (const int stop_at : {-1, 0, 13}) {
      std::vector<std::int64_t> job_of(workers + 2 + kSlots), worked(job_of.size()), written;
      std::int64_t made = 0;
      std::atomic<int> busy = 0, most_busy = 0;
      PipelineSteps steps;
      steps.make = [&](int slot) {
        if (made == 40) return false;
        job_of.at(static_cast<std::size_t>(slot)) = made++;
        return true;
      };
      steps.work = [&](int slot) {
        const int now = ++busy;
        for (int seen = most_busy; seen < now && !most_busy.compare_exchange_weak(seen, now);) {
        }
        // Later jobs are done sooner, so they finish out of order.
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (3 - job_of[static_cast<std::size_t>(slot)] % 4)));
        worked[static_cast<std::size_t>(slot)] = job_of[static_cast<std::size_t>(slot)] * 10;
        --busy;
      };
      steps.take = [&](int slot) { return job_of[static_cast<std::size_t>(slot)] != stop_at; };
      steps.write = [&](int slot) { written.push_back(worked[static_cast<std::size_t>(slot)]); };
      RunPipeline(kSlots, workers, steps);
      const std::int64_t count = stop_at < 0 ? 40 : stop_at + 1;
      ASSERT_EQ(written.size(), static_cast<std::size_t>(count)) << workers;
      for (std::int64_t i = 0; i < count; ++i) EXPECT_EQ(written[static_cast<std::size_t>(i)], i * 10);
      EXPECT_LE(most_busy.load(), workers);
      if (workers > 1 && stop_at < 0) {
        EXPECT_GT(most_busy.load(), 1);
      }
    }
  }
  // A failure of make or take comes back to the caller; the threads end.
  for (const bool in_take : {false, true}) {
    std::int64_t made = 0;
    PipelineSteps steps;
    steps.make = [&](int) {
      if (!in_take && made == 7) throw std::runtime_error("make");
      ++made;
      return true;
    };
    steps.work = [](int) {};
    steps.take = [&](int) {
      if (in_take) throw std::runtime_error("take");
      return true;
    };
    steps.write = [](int) {};
    EXPECT_THROW(RunPipeline(4, 2, steps), std::runtime_error);
  }
}
