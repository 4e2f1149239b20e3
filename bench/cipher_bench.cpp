// Speed of the cipher's hot loops in memory, per input byte: encryption of a
// source into its cipher text, decryption of that text back, and the draw of
// key positions on its own. Keys: 200 B (8 bit), 4 KiB (16 bit), and for 32
// bit the smallest size of the mode, 64 KiB, which stays in the caches;
// 16 MiB, whose random lookups miss the first caches and the TLB; 256 MiB
// and the largest key, 1,000,000,000 bytes, whose lookups go to memory. The
// keys lie in ordinary pages, as a mapped key file does.
//
// The "per_byte" counter is time per input byte (source byte for
// encryption, decoded byte for decryption); e.g. 2.1n means 2.1 ns.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "cipher/avx2.h"
#include "cipher/decrypt.h"
#include "cipher/encrypt.h"
#include "cipher/format.h"
#include "cipher/random.h"

namespace {

constexpr std::int64_t kSourceBytes = std::int64_t{16} << 20;
constexpr std::uint32_t kSeed = 5489u;

struct ModeCase {
  std::int32_t mode;
  std::size_t key_bytes;
};
constexpr ModeCase kCases[] = {
    {8, 200},
    {16, 4096},
    {32, std::size_t{64} << 10},
    {32, std::size_t{16} << 20},
    {32, std::size_t{256} << 20},
    {32, 1000000000}};
constexpr int kCaseCount = sizeof kCases / sizeof kCases[0];

std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint64_t seed) {
  std::vector<std::uint8_t> bytes(count);
  std::mt19937_64 engine(seed);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint64_t word = engine();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  for (; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(engine());
  return bytes;
}

// Which loops EncryptInto and DecryptInto use on this processor.
const bool kLoopsNoted = (benchmark::AddCustomContext("cipher_loops", Avx2Usable() ? "AVX2" : "portable"),
                          true);

// Inputs are made once per mode and kept, so every benchmark of a mode works
// on the same key, source and cipher text.
struct Fixture {
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> source;
  std::vector<std::uint8_t> text;
};

const Fixture& FixtureOf(int index) {
  static Fixture fixtures[kCaseCount];
  Fixture& f = fixtures[index];
  if (f.key.empty()) {
    const ModeCase& c = kCases[index];
    f.key = RandomBytes(c.key_bytes, 1000 + index);
    f.source = RandomBytes(kSourceBytes, 2000 + index);
    const ModeLayout& layout = LayoutOf(c.mode);
    f.text.resize(static_cast<std::size_t>(CipherTextLength(layout, kSourceBytes)));
    static Mt19937 generator;
    SeedMt19937(generator, kSeed);
    EncryptInto(f.key, layout, f.source, generator, f.text.data(), nullptr);
  }
  return f;
}

// The case of the benchmark's arguments, mode and key size.
int CaseOf(const benchmark::State& state) {
  for (int i = 0; i < kCaseCount; ++i) {
    if (kCases[i].mode == state.range(0) &&
        static_cast<std::int64_t>(kCases[i].key_bytes) == state.range(1)) {
      return i;
    }
  }
  return 0;
}

void ReportPerByte(benchmark::State& state, std::int64_t bytes_per_iteration) {
  const std::int64_t bytes = static_cast<std::int64_t>(state.iterations()) * bytes_per_iteration;
  state.SetBytesProcessed(bytes);
  state.counters["per_byte"] = benchmark::Counter(
      static_cast<double>(bytes), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Encrypt(benchmark::State& state) {
  const int index = CaseOf(state);
  const Fixture& f = FixtureOf(index);
  const ModeLayout& layout = LayoutOf(kCases[index].mode);
  // Touched before timing: page faults of a fresh buffer are the whole
  // process's cost, measured by whole_process.sh, not the loop's.
  std::vector<std::uint8_t> out(f.text.size(), 0);
  static Mt19937 generator;
  for (auto _ : state) {
    SeedMt19937(generator, kSeed);
    EncryptInto(f.key, layout, f.source, generator, out.data(), nullptr);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (out != f.text) state.SkipWithError("cipher text differs from the first run");
  ReportPerByte(state, kSourceBytes);
}

void BM_Decrypt(benchmark::State& state) {
  const int index = CaseOf(state);
  const Fixture& f = FixtureOf(index);
  ByteString plain;
  plain.resize(f.source.size());
  for (auto _ : state) {
    DecryptInto(f.text, f.key, kCases[index].mode, plain, nullptr);
    benchmark::DoNotOptimize(plain.data());
    benchmark::ClobberMemory();
  }
  if (!std::equal(plain.begin(), plain.end(), f.source.begin(), f.source.end())) {
    state.SkipWithError("decrypted bytes differ from the source");
  }
  ReportPerByte(state, kSourceBytes);
}

// One draw per input byte: two outputs of a block and the reduction below
// the key length less one, without the key lookup or the text.
void BM_Draw(benchmark::State& state) {
  const int index = CaseOf(state);
  const Reducer below = MakeReducer(kCases[index].key_bytes - 1);
  static Mt19937 generator;
  SeedMt19937(generator, kSeed);
  constexpr std::int64_t kDraws = std::int64_t{1} << 20;
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::int64_t i = 0; i < kDraws; ++i) sum += DrawBelow(generator, below);
    benchmark::DoNotOptimize(sum);
  }
  ReportPerByte(state, kDraws);
}

void ModeArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"mode", "key_bytes"});
  for (const ModeCase& c : kCases) b->Args({c.mode, static_cast<std::int64_t>(c.key_bytes)});
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Encrypt)->Apply(ModeArgs);
BENCHMARK(BM_Decrypt)->Apply(ModeArgs);
BENCHMARK(BM_Draw)->Apply(ModeArgs);

BENCHMARK_MAIN();
