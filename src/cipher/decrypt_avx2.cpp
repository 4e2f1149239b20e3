// Decryption with AVX2: the fields of eight entries parsed and checked at
// once, then their eight key bytes looked up and applied together.
//
// Each 16-byte half of a vector is loaded at the start of one or two
// entries. A shuffle lines up their digits, position digits then value
// digits entry by entry, and fills the rest of the half with copies of a
// digit, so that every byte then is a character that must be hex. Each
// character is classified and turned into its nibble by three lookups on
// its two halves; maddubs joins nibble pairs into bytes, one 16-bit word
// each; packs and shuffles gather the position bytes into 32-bit words and
// the value bytes, entry by entry.
#include "cipher/avx2.h"

#if !defined(__x86_64__) || !TALVEX_AVX2_LOOPS
#error "the AVX2 loops are built for x86-64 only (CMakeLists.txt)"
#endif

#include <algorithm>
#include <cstring>

#include "cipher/avx2_common.h"
#include "cipher/format.h"

namespace {

constexpr int kHalf = 16;

template <int P>
struct ParsePlan {
  static constexpr int kEntry = P + 4;
  static constexpr int kPerHalf = P == 8 ? 1 : 2;         // entries a half holds whole
  static constexpr int kHalfEntries = kAvx2DecodeGroup / 2;  // entries a half-vector collects
  static constexpr int kVectors = kHalfEntries / kPerHalf;  // loads per group
  static constexpr int kWords = P / 2 + 1;                 // bytes of an entry once joined
  // Shuffle of a loaded half: the digit characters in order, then fill.
  std::uint8_t digits[kHalf];
  // Shuffles of a pair of packed vectors into position words (32 bits,
  // little-endian) and value bytes; each half gets four entries.
  std::uint8_t position[kVectors / 2][2 * kHalf];
  std::uint8_t value[kVectors / 2][2 * kHalf];
};

template <int P>
constexpr ParsePlan<P> MakeParsePlan() {
  using Plan = ParsePlan<P>;
  Plan plan{};
  int n = 0;
  for (int u = 0; u < Plan::kPerHalf; ++u) {
    for (int d = 0; d < P; ++d) plan.digits[n++] = static_cast<std::uint8_t>(u * Plan::kEntry + d);
    for (int d = 0; d < 2; ++d) plan.digits[n++] = static_cast<std::uint8_t>(u * Plan::kEntry + P + 1 + d);
  }
  while (n < kHalf) plan.digits[n++] = 0;
  // Vector y, half l holds entries 4l + y kPerHalf on. Packing vectors 2t
  // and 2t+1 puts their joined bytes in bytes 0-7 and 8-15 of each half:
  // entry slot s = (2t + pack) kPerHalf + u of half l is entry 4l + s.
  for (int t = 0; t < Plan::kVectors / 2; ++t) {
    for (int j = 0; j < 2 * kHalf; ++j) plan.position[t][j] = plan.value[t][j] = kShuffleZero;
    for (int pack = 0; pack < 2; ++pack) {
      for (int u = 0; u < Plan::kPerHalf; ++u) {
        const int slot = (2 * t + pack) * Plan::kPerHalf + u;
        const int from = pack * 8 + u * Plan::kWords;
        for (int l = 0; l < 2; ++l) {
          // Position bytes come most significant first.
          for (int b = 0; b < P / 2; ++b) {
            plan.position[t][l * kHalf + 4 * slot + b] = static_cast<std::uint8_t>(from + P / 2 - 1 - b);
          }
          plan.value[t][l * kHalf + slot] = static_cast<std::uint8_t>(from + P / 2);
        }
      }
    }
  }
  return plan;
}

template <int P>
constexpr ParsePlan<P> kParsePlan = MakeParsePlan<P>();

// The key bytes of a group's eight indexes, the first in the low byte.
inline std::uint64_t KeyBytesOf(const std::uint8_t* key, const std::uint32_t* index) {
  std::uint64_t bytes = 0;
  for (int j = 0; j < kAvx2DecodeGroup; ++j) bytes |= std::uint64_t{key[index[j]]} << (8 * j);
  return bytes;
}

// Keys up to this size are taken to stay in the caches, as encryption takes
// them (encrypt_avx2.cpp): 1 MiB fits the third level of every current
// processor, and the second level of many.
constexpr std::uint32_t kCachedKeyBytes = 1 << 20;
// Entries decoded at once when the lookups come after the parsing.
constexpr int kChunkEntries = 256;

// Parses count entries into out. With kLookUpAtOnce each group's key bytes
// are looked up as soon as it is parsed, which suits a key in the caches;
// without, the values go to out and the key indexes to index, each group's
// key bytes asked for at once, to be looked up later (LookUpGroups) when
// they have had time to arrive.
template <int P, bool kLookUpAtOnce>
TALVEX_TARGET_AVX2 bool DecodeGroups(const std::uint8_t* p, int count, const std::uint8_t* key,
                        std::uint32_t key_length, std::uint8_t* out, std::uint32_t* index) {
  using Plan = ParsePlan<P>;
  const auto& plan = kParsePlan<P>;
  // Lookups by the low and the high nibble of a character: it is a hex
  // digit when the two classes share a bit (1: '0'-'9', 2: 'A'-'F' or
  // 'a'-'f'); its nibble is the low nibble plus 9 for a letter.
  const __m256i low_class = _mm256_setr_epi8(1, 3, 3, 3, 3, 3, 3, 1, 1, 1, 0, 0, 0, 0, 0, 0,
                                             1, 3, 3, 3, 3, 3, 3, 1, 1, 1, 0, 0, 0, 0, 0, 0);
  const __m256i high_class = _mm256_setr_epi8(0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i high_add = _mm256_setr_epi8(0, 0, 0, 0, 9, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 9, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i join = _mm256_set1_epi16(0x0110);  // 16 x high + low
  const __m256i digits = Broadcast16(plan.digits);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i last = _mm256_set1_epi32(static_cast<int>(key_length - 1));
  // Lanes of the value bytes, in entry order.
  const __m256i value_order = _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0);
  __m256i classes = _mm256_set1_epi8(-1);  // the least class seen: 0 when any is not hex
  __m256i inside = _mm256_set1_epi8(-1);   // all ones while every position is in the key
  for (int group = 0; group < count; group += kAvx2DecodeGroup) {
    __m256i joined[Plan::kVectors];
    for (int y = 0; y < Plan::kVectors; ++y) {
      const std::uint8_t* low = p + (y * Plan::kPerHalf) * Plan::kEntry;
      const std::uint8_t* high = low + Plan::kHalfEntries * Plan::kEntry;
      const __m256i text = _mm256_shuffle_epi8(LoadHalves(low, high), digits);
      const __m256i lo = _mm256_and_si256(text, nibble);
      const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(text, 4), nibble);
      classes = _mm256_min_epu8(classes, _mm256_and_si256(_mm256_shuffle_epi8(low_class, lo),
                                                          _mm256_shuffle_epi8(high_class, hi)));
      const __m256i nibbles = _mm256_add_epi8(lo, _mm256_shuffle_epi8(high_add, hi));
      joined[y] = _mm256_maddubs_epi16(nibbles, join);
    }
    __m256i positions = _mm256_setzero_si256();
    __m256i values = _mm256_setzero_si256();
    for (int t = 0; t < Plan::kVectors / 2; ++t) {
      const __m256i bytes = _mm256_packus_epi16(joined[2 * t], joined[2 * t + 1]);
      positions = _mm256_or_si256(positions, _mm256_shuffle_epi8(bytes, Load(plan.position[t])));
      values = _mm256_or_si256(values, _mm256_shuffle_epi8(bytes, Load(plan.value[t])));
    }
    // Positions 1 to key_length: position - 1 below key_length, unsigned.
    // Lookups use it clamped, so that a bad one reads inside the key too.
    const __m256i at = _mm256_sub_epi32(positions, one);
    const __m256i clamped = _mm256_min_epu32(at, last);
    inside = _mm256_and_si256(inside, _mm256_cmpeq_epi32(clamped, at));
    std::uint64_t bytes = static_cast<std::uint64_t>(
        _mm_cvtsi128_si64(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(values, value_order))));
    if constexpr (kLookUpAtOnce) {
      alignas(32) std::uint32_t group_index[kAvx2DecodeGroup];
      Store(group_index, clamped);
      bytes ^= KeyBytesOf(key, group_index);
    } else {
      Store(index + group, clamped);
      PrefetchKeyBytes(key, index + group, kAvx2DecodeGroup);
    }
    std::memcpy(out + group, &bytes, 8);
    p += kAvx2DecodeGroup * Plan::kEntry;
  }
  const bool hex = _mm256_movemask_epi8(_mm256_cmpeq_epi8(classes, _mm256_setzero_si256())) == 0;
  return hex && _mm256_movemask_epi8(inside) == -1;
}

// Masks the count values at out, parsed by DecodeGroups, with the key bytes
// at their indexes: a loop of nothing else, so that many lookups are in
// flight at once.
inline void LookUpGroups(const std::uint8_t* key, const std::uint32_t* index, int count,
                         std::uint8_t* out) {
  for (int group = 0; group < count; group += kAvx2DecodeGroup) {
    std::uint64_t bytes;
    std::memcpy(&bytes, out + group, 8);
    bytes ^= KeyBytesOf(key, index + group);
    std::memcpy(out + group, &bytes, 8);
  }
}

}  // namespace

template <int P>
bool DecodeEntriesAvx2(const std::uint8_t* p, int count, const std::uint8_t* key,
                       std::uint32_t key_length, std::uint8_t* out) {
  // An empty key has no byte to clamp to; no position lies in it anyway.
  if (key_length == 0) return count == 0;
  if (key_length <= kCachedKeyBytes) {
    alignas(32) std::uint32_t unused[kAvx2DecodeGroup];
    for (int done = 0; done < count; done += kChunkEntries) {
      const int chunk = std::min(kChunkEntries, count - done);
      if (!DecodeGroups<P, true>(p + done * (P + 4), chunk, key, key_length, out + done, unused)) {
        return false;
      }
    }
    return true;
  }
  // A key beyond the caches: each chunk's key bytes are looked up only once
  // the next chunk is parsed, which is how long they take to arrive.
  alignas(32) std::uint32_t index[2][kChunkEntries];
  int pending = 0, pending_at = 0;  // the chunk parsed but not yet looked up
  for (int done = 0, now = 0; done < count; done += kChunkEntries, now ^= 1) {
    const int chunk = std::min(kChunkEntries, count - done);
    if (!DecodeGroups<P, false>(p + done * (P + 4), chunk, key, key_length, out + done, index[now])) {
      return false;
    }
    LookUpGroups(key, index[now ^ 1], pending, out + pending_at);
    pending = chunk;
    pending_at = done;
  }
  LookUpGroups(key, index[(count - 1) / kChunkEntries % 2], pending, out + pending_at);
  return true;
}

template bool DecodeEntriesAvx2<2>(const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, std::uint8_t*);
template bool DecodeEntriesAvx2<4>(const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, std::uint8_t*);
template bool DecodeEntriesAvx2<8>(const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, std::uint8_t*);
