// Encryption with AVX2: the generator's block twisted and tempered eight
// words at a time, four draws reduced at a time, and the text of a group of
// entries built 32 bytes at a time. Only the key lookups stay scalar.
#include "cipher/avx2.h"

#if !defined(__x86_64__) || !TALVEX_AVX2_LOOPS
#error "the AVX2 loops are built for x86-64 only (CMakeLists.txt)"
#endif

#include <algorithm>
#include <cstring>
#include <numeric>
#include <type_traits>

#include "cipher/avx2_common.h"
#include "cipher/format.h"

bool Avx2Usable() {
  static const bool usable = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("fma");
  }();
  return usable;
}

namespace {

// ---- The generator ----

TALVEX_TARGET_AVX2 inline __m256i TwistEight(__m256i current, __m256i next, __m256i far) {
  const __m256i upper = _mm256_set1_epi32(static_cast<int>(kUpper));
  const __m256i y = _mm256_or_si256(_mm256_and_si256(current, upper), _mm256_andnot_si256(upper, next));
  // The matrix where y is odd: blendv_ps picks by the top bit of each word.
  const __m256 odd = _mm256_castsi256_ps(_mm256_slli_epi32(y, 31));
  const __m256i matrix = _mm256_castps_si256(_mm256_blendv_ps(
      _mm256_setzero_ps(), _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(kMatrix))), odd));
  return _mm256_xor_si256(_mm256_xor_si256(far, _mm256_srli_epi32(y, 1)), matrix);
}

TALVEX_TARGET_AVX2 inline __m256i TemperEight(__m256i y) {
  y = _mm256_xor_si256(y, _mm256_srli_epi32(y, 11));
  y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 7),
                                           _mm256_set1_epi32(static_cast<int>(kTemperB))));
  y = _mm256_xor_si256(y, _mm256_and_si256(_mm256_slli_epi32(y, 15),
                                           _mm256_set1_epi32(static_cast<int>(kTemperC))));
  return _mm256_xor_si256(y, _mm256_srli_epi32(y, 18));
}

// RefillMt19937 eight words at a time. A word's far partner lies kShift
// places on: before the wrap an untouched word, after it one twisted
// kMtWords - kShift places back, which no group of eight reaches.
TALVEX_TARGET_AVX2 void RefillEight(Mt19937& generator) {
  std::uint32_t* mt = generator.state;
  std::uint32_t* out = generator.output;
  constexpr int kWrap = kMtWords - kShift;
  int i = 0;
  for (; i + 8 <= kWrap; i += 8) {
    const __m256i word = TwistEight(Load(mt + i), Load(mt + i + 1), Load(mt + i + kShift));
    Store(mt + i, word);
    Store(out + i, TemperEight(word));
  }
  for (; i < kWrap; ++i) out[i] = Temper(mt[i] = Twist(mt[i], mt[i + 1], mt[i + kShift]));
  for (; i + 8 <= kMtWords - 1; i += 8) {
    const __m256i word = TwistEight(Load(mt + i), Load(mt + i + 1), Load(mt + i - kWrap));
    Store(mt + i, word);
    Store(out + i, TemperEight(word));
  }
  for (; i < kMtWords - 1; ++i) out[i] = Temper(mt[i] = Twist(mt[i], mt[i + 1], mt[i - kWrap]));
  out[i] = Temper(mt[i] = Twist(mt[i], mt[0], mt[i - kWrap]));
  generator.next = 0;
}

// ---- Four draws at a time ----
//
// A draw is x = a + 2^32 (b mod 2^31) < 2^63 reduced modulo n, where n is
// the key length less one, 2 <= n < 2^30. Written x = hi 2^32 + lo with
// hi < 2^31 and lo < 2^32, it is done in two steps, exact for every such x
// and n:
//
// 1. h = hi - q1 n with q1 = floor(hi m / 2^(32+k)), where 2^k < n
//    (k = floor(log2(n-1))) and m = floor(2^(32+k) / n) < 2^32, so that
//    hi m < 2^63 fits the 64-bit product of _mm256_mul_epu32. q1 is at most
//    q = floor(hi / n), since m <= 2^(32+k)/n, and at least q - 1, since
//    m > 2^(32+k)/n - 1 makes hi m / 2^(32+k) > hi/n - hi/2^(32+k) > hi/n - 1.
//    So h = hi mod n or that plus n: h < 2n < 2^31, and h = hi (mod n).
//
// 2. r = z mod n for z = h 2^32 + lo = x (mod n), z < 2n 2^32 < 2^63, whose
//    quotient Q = floor(z/n) is below 2^33. In doubles: z' = z rounded once
//    (made as (2^84 + h 2^32) - (2^84 + 2^52) + (2^52 + lo), the first two
//    exact), 1/n rounded once, v = z' (1/n) rounded once, so v = (z/n)(1 + e)
//    with |e| < 2^-51 and |v - z/n| < 2^33 2^-51 = 2^-18. Adding C = 2^52 +
//    2^32 - 1 lands in [2^52, 2^53), where doubles are the integers, so it
//    rounds v to an integer R, nearest or next nearest: R is Q or Q + 1
//    (v lies within 2^-18 of [Q, Q + 1)). The low 32 bits of the sum's
//    pattern are C + R - 2^52 = R - 1 (mod 2^32). With q2 = R - 1, Q - 1 or
//    Q, z - q2 n lies in [0, 2n), below 2^31, so computing it modulo 2^32
//    from the low words alone, lo - q2 n, is exact; one conditional
//    subtraction gives r.
//
// A conditional subtraction of n from t < 2^32 is min(t, t - n) on
// unsigned 32-bit words: t - n wraps above t exactly when t < n. Rounding
// is the processor's default, to nearest.
struct FourDraws {
  __m256i n;           // n in each 64-bit lane
  __m256i magic;       // m
  __m128i shift;       // 32 + k
  __m256d inverse;     // 1/n, rounded
};

TALVEX_TARGET_AVX2 FourDraws MakeFourDraws(std::uint64_t n) {
  const int k = 63 - __builtin_clzll(n - 1);
  const std::uint64_t magic = (std::uint64_t{1} << (32 + k)) / n;
  return {_mm256_set1_epi64x(static_cast<long long>(n)),
          _mm256_set1_epi64x(static_cast<long long>(magic)), _mm_cvtsi32_si128(32 + k),
          _mm256_set1_pd(1.0 / static_cast<double>(n))};
}

// x mod n for the four draws whose outputs (a, b pairs) start at words, in
// the low 32 bits of the four 64-bit lanes (the high bits are garbage).
TALVEX_TARGET_AVX2 inline __m256i DrawFour(const FourDraws& d, const std::uint32_t* words) {
  const __m256i x = Load(words);
  const __m256i hi = _mm256_srli_epi64(_mm256_slli_epi64(x, 1), 33);  // b mod 2^31
  // Step 1.
  const __m256i q1 = _mm256_srl_epi64(_mm256_mul_epu32(hi, d.magic), d.shift);
  const __m256i h = _mm256_sub_epi64(hi, _mm256_mul_epu32(q1, d.n));
  // Step 2. The bit patterns of 2^84 + h 2^32 and 2^52 + lo.
  const __m256d h_part = _mm256_castsi256_pd(_mm256_or_si256(h, _mm256_set1_epi64x(0x4530000000000000)));
  const __m256d lo_part =
      _mm256_castsi256_pd(_mm256_blend_epi32(x, _mm256_set1_epi64x(0x4330000000000000), 0xAA));
  const __m256d z = _mm256_add_pd(_mm256_sub_pd(h_part, _mm256_set1_pd(0x1.00000001p+84)), lo_part);
  // C = 2^52 + 2^32 - 1. Should the compiler fuse the product into the sum,
  // one rounding fewer only narrows the error.
  const __m256d sum = _mm256_add_pd(_mm256_mul_pd(z, d.inverse), _mm256_set1_pd(0x1.00000FFFFFFFFp+52));
  const __m256i r = _mm256_sub_epi32(x, _mm256_mul_epu32(_mm256_castpd_si256(sum), d.n));
  return _mm256_min_epu32(r, _mm256_sub_epi32(r, d.n));
}

// count draws below n into index, refilling the generator's block as needed.
TALVEX_TARGET_AVX2 void DrawIndexes(Mt19937& generator, const FourDraws& d, const Reducer& below, int count,
                       std::uint32_t* index) {
  // The low words of lanes 0-3 of two results, in order.
  const __m256i gather = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  while (count > 0) {
    if (generator.next == kMtWords) RefillEight(generator);
    // A block holds an even number of outputs, so whole draws fit its rest.
    const int draws = std::min(count, (kMtWords - generator.next) / 2);
    const std::uint32_t* words = generator.output + generator.next;
    int i = 0;
    for (; i + 8 <= draws; i += 8) {
      const __m256i low = DrawFour(d, words + 2 * i);
      const __m256i high = DrawFour(d, words + 2 * i + 8);
      const __m256i both = _mm256_blend_epi32(low, _mm256_slli_epi64(high, 32), 0xAA);
      Store(index + i, _mm256_permutevar8x32_epi32(both, gather));
    }
    for (; i < draws; ++i) {
      index[i] = static_cast<std::uint32_t>(Reduce(below, Join63(words[2 * i], words[2 * i + 1])));
    }
    generator.next += 2 * draws;
    index += draws;
    count -= draws;
  }
}

// ---- The text of a group of entries ----
//
// Entries are written a group at a time: the fewest whole entries that fill
// whole 32-byte chunks (16 of 6 bytes in 3 chunks, 4 of 8 in 1, 8 of 12 in
// 3). Every character of a chunk is a nibble of a position or a value, or a
// comma. Positions lie in an array of P/2-byte words, values in a byte
// array; a chunk takes 16 bytes of each (each copied into both halves), and
// pshufb places every byte where its digit goes, twice for its two digits.
// Then the high-nibble places are shifted down, all are masked to a nibble,
// and a last pshufb turns nibbles into digits. Commas are places where
// both shuffles give zero, so digit '0', moved to ',' by an added constant.
constexpr int kChunk = 32;

template <int P>
struct GroupPlan {
  static constexpr int kEntry = P + 4;
  static constexpr int kWord = P / 2;  // bytes of a position in its array
  static constexpr int kBytes = std::lcm(kEntry, kChunk);
  static constexpr int kEntries = kBytes / kEntry;
  static constexpr int kChunks = kBytes / kChunk;
  struct Chunk {
    int first_position;  // entry of the first position window byte
    int first_value;     // entry of the first value window byte
    std::uint8_t position_index[kChunk];
    std::uint8_t value_index[kChunk];
    std::uint8_t high[kChunk];   // 0xFF where the digit is a high nibble
    std::uint8_t adjust[kChunk]; // ',' - '0' at the commas
  } chunk[kChunks];
};

template <int P>
constexpr GroupPlan<P> MakeGroupPlan() {
  using Plan = GroupPlan<P>;
  Plan plan{};
  for (int c = 0; c < Plan::kChunks; ++c) {
    auto& chunk = plan.chunk[c];
    chunk.first_position = chunk.first_value = Plan::kEntries;
    for (int j = 0; j < kChunk; ++j) {
      const int entry = (c * kChunk + j) / Plan::kEntry;
      const int at = (c * kChunk + j) % Plan::kEntry;
      if (at < P) chunk.first_position = std::min(chunk.first_position, entry);
      if (at == P + 1 || at == P + 2) chunk.first_value = std::min(chunk.first_value, entry);
    }
    for (int j = 0; j < kChunk; ++j) {
      const int entry = (c * kChunk + j) / Plan::kEntry;
      const int at = (c * kChunk + j) % Plan::kEntry;
      chunk.position_index[j] = chunk.value_index[j] = kShuffleZero;
      chunk.high[j] = chunk.adjust[j] = 0;
      if (at < P) {
        // Digit at of the position, the most significant first: byte
        // kWord - 1 - at/2 of its little-endian word.
        const int index = (entry - chunk.first_position) * Plan::kWord + Plan::kWord - 1 - at / 2;
        if (index >= 16) throw "position window too narrow";
        chunk.position_index[j] = static_cast<std::uint8_t>(index);
        chunk.high[j] = at % 2 == 0 ? 0xFF : 0;
      } else if (at == P + 1 || at == P + 2) {
        const int index = entry - chunk.first_value;
        if (index >= 16) throw "value window too narrow";
        chunk.value_index[j] = static_cast<std::uint8_t>(index);
        chunk.high[j] = at == P + 1 ? 0xFF : 0;
      } else {
        chunk.adjust[j] = static_cast<std::uint8_t>(kEntrySeparator - '0');
      }
    }
  }
  return plan;
}

template <int P>
constexpr GroupPlan<P> kGroupPlan = MakeGroupPlan<P>();

template <int P>
using PositionWord = std::conditional_t<P == 2, std::uint8_t,
                                        std::conditional_t<P == 4, std::uint16_t, std::uint32_t>>;

// Adds one to every P/2-byte word: the arrays hold key indexes, the text
// wants positions.
template <int P>
TALVEX_TARGET_AVX2 inline __m256i PlusOne(__m256i v) {
  if constexpr (P == 2) return _mm256_add_epi8(v, _mm256_set1_epi8(1));
  if constexpr (P == 4) return _mm256_add_epi16(v, _mm256_set1_epi16(1));
  return _mm256_add_epi32(v, _mm256_set1_epi32(1));
}

// Writes groups whole groups of entries at out from the key indexes at
// positions and the values at values. Reads up to 16 bytes past the last
// group's words in both arrays. When ahead is given, the key bytes at its
// first groups * kEntries indexes are asked for along the way, a few per
// group, so that the requests never queue up in a burst.
template <int P>
TALVEX_TARGET_AVX2 std::uint8_t* WriteGroups(const PositionWord<P>* positions, const std::uint8_t* values,
                                int groups, std::uint8_t* out, const std::uint8_t* key = nullptr,
                                const std::uint32_t* ahead = nullptr) {
  using Plan = GroupPlan<P>;
  const auto& plan = kGroupPlan<P>;
  const __m256i digits = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A',
                                          'B', 'C', 'D', 'E', 'F', '0', '1', '2', '3', '4', '5',
                                          '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  for (int g = 0; g < groups; ++g) {
    for (int c = 0; c < Plan::kChunks; ++c) {
      const auto& chunk = plan.chunk[c];
      const __m256i position = PlusOne<P>(Broadcast16(positions + chunk.first_position));
      const __m256i value = Broadcast16(values + chunk.first_value);
      const __m256i bytes = _mm256_or_si256(_mm256_shuffle_epi8(position, Load(chunk.position_index)),
                                            _mm256_shuffle_epi8(value, Load(chunk.value_index)));
      const __m256i nibbles = _mm256_and_si256(
          _mm256_blendv_epi8(bytes, _mm256_srli_epi16(bytes, 4), Load(chunk.high)), nibble);
      const __m256i text = _mm256_add_epi8(_mm256_shuffle_epi8(digits, nibbles), Load(chunk.adjust));
      Store(out + c * kChunk, text);
    }
    if (ahead != nullptr) {
      PrefetchKeyBytes(key, ahead, Plan::kEntries);
      ahead += Plan::kEntries;
    }
    positions += Plan::kEntries;
    values += Plan::kEntries;
    out += Plan::kBytes;
  }
  return out;
}

// The key indexes narrowed to the position words of P = 2 or 4, for count
// rounded up to 32: index and narrow have room for that.
template <int P>
TALVEX_TARGET_AVX2 void NarrowIndexes(const std::uint32_t* index, int count, PositionWord<P>* narrow) {
  for (int i = 0; i < count; i += 32) {
    const __m256i a = _mm256_packus_epi32(Load(index + i), Load(index + i + 8));
    const __m256i b = _mm256_packus_epi32(Load(index + i + 16), Load(index + i + 24));
    if constexpr (P == 4) {
      // packus works within halves: words 0-3 8-11 | 4-7 12-15.
      Store(narrow + i, _mm256_permute4x64_epi64(a, 0xD8));
      Store(narrow + i + 16, _mm256_permute4x64_epi64(b, 0xD8));
    } else {
      // Bytes 0-3 8-11 16-19 24-27 | 4-7 12-15 20-23 28-31.
      const __m256i bytes = _mm256_packus_epi16(a, b);
      Store(narrow + i, _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
    }
  }
}

// Entries per batch: draws, then key lookups, then text. Small enough for
// the arrays to stay in the first-level cache, a multiple of every group.
constexpr int kBatch = 256;
constexpr int kWindow = 16;  // bytes read past the end of a group's words

// Batches drawn ahead of the one being looked up: 2 was faster than 1 and
// no slower than 3 with keys of 16 MiB to 1 GB.
constexpr int kAhead = 2;
// Keys larger than this miss the caches on most lookups.
constexpr std::uint64_t kUncachedKeyBytes = std::uint64_t{1} << 20;

template <int P>
TALVEX_TARGET_AVX2 std::int64_t EncryptGroups(const std::uint8_t* key, std::uint64_t below,
                                 const std::uint8_t* source, std::int64_t count,
                                 Mt19937& generator, std::uint8_t* out) {
  using Plan = GroupPlan<P>;
  static_assert(kBatch % std::lcm(Plan::kEntries, 8) == 0);
  const FourDraws draws = MakeFourDraws(below);
  const Reducer reducer = MakeReducer(below);
  // A key beyond the caches has its positions drawn kAhead batches before
  // their lookups, and their key bytes asked for meanwhile, while the
  // batches in between are written: the lookups then find them waiting
  // instead of each waiting for memory in turn.
  const bool ahead = below + 1 > kUncachedKeyBytes;
  constexpr int kRing = kAhead + 1;
  // Zeroed once, so the bytes read past the last group are defined: the
  // indexes of the batch being written and of those drawn after it.
  std::uint32_t index[kRing][kBatch + kWindow] = {};
  int size[kRing] = {};
  PositionWord<P> narrow[kBatch + kWindow] = {};
  std::uint8_t value[kBatch + kWindow] = {};
  // Whole groups of entries and whole words of source bytes.
  constexpr int kStep = std::lcm(Plan::kEntries, 8);
  const std::int64_t total = count / kStep * kStep;
  // The draws are made in order whatever is written in between.
  std::int64_t drawn = 0;
  auto draw = [&](int slot) {
    size[slot] = static_cast<int>(std::min<std::int64_t>(kBatch, total - drawn));
    if (size[slot] > 0) DrawIndexes(generator, draws, reducer, size[slot], index[slot]);
    drawn += size[slot];
  };
  for (int slot = 0; slot < kAhead; ++slot) {
    draw(slot);
    if (ahead) PrefetchKeyBytes(key, index[slot], size[slot]);
  }
  for (std::int64_t done = 0, now = 0; done < total; now = (now + 1) % kRing) {
    const std::uint32_t* current = index[now];
    const int batch = size[now];
    // Many key lookups in flight at once, with little else in the loop:
    // eight key bytes gathered into a word, masking eight source bytes.
    for (int i = 0; i < batch; i += 8) {
      std::uint64_t mask = 0;
      for (int j = 0; j < 8; ++j) mask |= std::uint64_t{key[current[i + j]]} << (8 * j);
      std::uint64_t bytes;
      std::memcpy(&bytes, source + i, 8);
      bytes ^= mask;
      std::memcpy(value + i, &bytes, 8);
    }
    const int later = static_cast<int>((now + kAhead) % kRing);
    draw(later);
    const PositionWord<P>* positions;
    if constexpr (P == 8) {
      positions = current;
    } else {
      // A byte or word store beside each lookup above costs more than this.
      NarrowIndexes<P>(current, batch, narrow);
      positions = narrow;
    }
    // No batch is shorter than one drawn after it.
    out = WriteGroups<P>(positions, value, batch / Plan::kEntries, out, key,
                         ahead && size[later] > 0 ? index[later] : nullptr);
    source += batch;
    done += batch;
  }
  return total;
}

TALVEX_TARGET_AVX2 void ReduceDraws(std::uint64_t below, const std::uint32_t* words, int count,
                       std::uint32_t* result) {
  const FourDraws draws = MakeFourDraws(below);
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    alignas(32) std::uint64_t lanes[4];
    Store(lanes, DrawFour(draws, words + 2 * i));
    for (int j = 0; j < 4; ++j) result[i + j] = static_cast<std::uint32_t>(lanes[j]);
  }
  const Reducer reducer = MakeReducer(below);
  for (; i < count; ++i) {
    result[i] = static_cast<std::uint32_t>(Reduce(reducer, Join63(words[2 * i], words[2 * i + 1])));
  }
}

}  // namespace

template <int P>
std::int64_t EncryptEntriesAvx2(const std::uint8_t* key, std::uint64_t below,
                                const std::uint8_t* source, std::int64_t count,
                                Mt19937& generator, std::uint8_t* out) {
  // The reduction is exact for these only (keys of 3 bytes to 2^30 bytes);
  // every key the tool takes lies inside.
  if (below < 2 || below >= (std::uint64_t{1} << 30)) return 0;
  return EncryptGroups<P>(key, below, source, count, generator, out);
}

void ReduceDrawsAvx2(std::uint64_t below, const std::uint32_t* words, int count,
                     std::uint32_t* result) {
  ReduceDraws(below, words, count, result);
}

template std::int64_t EncryptEntriesAvx2<2>(const std::uint8_t*, std::uint64_t, const std::uint8_t*,
                                            std::int64_t, Mt19937&, std::uint8_t*);
template std::int64_t EncryptEntriesAvx2<4>(const std::uint8_t*, std::uint64_t, const std::uint8_t*,
                                            std::int64_t, Mt19937&, std::uint8_t*);
template std::int64_t EncryptEntriesAvx2<8>(const std::uint8_t*, std::uint64_t, const std::uint8_t*,
                                            std::int64_t, Mt19937&, std::uint8_t*);
