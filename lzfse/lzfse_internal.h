#pragma once
// Shared pieces of the LZFSE / LZVN codec: block magics and limits, the
// L/M/D value alphabets, FSE table construction, frequency normalisation and
// the LZVN decoding core used both by raw LZVN payloads and by LZVN blocks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace skarvel::lzfse {

// Unaligned native loads and stores. The codec only runs on little-endian
// machines, where these are the stream's byte order.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the codec assumes a little-endian host");

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// Block magics, as little-endian u32.
inline constexpr uint32_t kMagicEndOfStream = 0x24787662;  // "bvx$"
inline constexpr uint32_t kMagicRaw = 0x2d787662;          // "bvx-"
inline constexpr uint32_t kMagicLzvn = 0x6e787662;         // "bvxn"
inline constexpr uint32_t kMagicV1 = 0x31787662;           // "bvx1"
inline constexpr uint32_t kMagicV2 = 0x32787662;           // "bvx2"

inline constexpr size_t kV1HeaderSize = 772;
inline constexpr size_t kV2FixedHeaderSize = 32;

// Per-block limits of compressed (FSE) blocks.
inline constexpr uint32_t kMaxLiterals = 40000;
inline constexpr uint32_t kMaxMatches = 10000;
// The decoder's literal store keeps this much slack after the literals so that
// copies may run in 16-byte steps.
inline constexpr size_t kLiteralSlack = 64;

// FSE state counts and alphabet sizes.
inline constexpr int kLStates = 64, kMStates = 64, kDStates = 256, kLiteralStates = 1024;
inline constexpr int kLSymbols = 20, kMSymbols = 20, kDSymbols = 64, kLiteralSymbols = 256;
inline constexpr int kFrequencyCount = kLSymbols + kMSymbols + kDSymbols + kLiteralSymbols;

// Largest values a triple may carry.
inline constexpr uint32_t kMaxL = 315, kMaxM = 2359, kMaxD = 262139;

// L, M and D values: symbol s stands for base[s] + (extra_bits[s] raw bits).
inline constexpr std::array<uint8_t, kLSymbols> kLExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 2, 3, 5, 8};
inline constexpr std::array<uint32_t, kLSymbols> kLBase = {0,  1,  2,  3,  4,  5,  6,
                                                           7,  8,  9,  10, 11, 12, 13,
                                                           14, 15, 16, 20, 28, 60};
inline constexpr std::array<uint8_t, kMSymbols> kMExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 3, 5, 8, 11};
inline constexpr std::array<uint32_t, kMSymbols> kMBase = {0,  1,  2,  3,  4,  5,  6,
                                                           7,  8,  9,  10, 11, 12, 13,
                                                           14, 15, 16, 24, 56, 312};
// Distances: symbols 4m..4m+3 carry m extra bits (m = 0..15), each base
// following the previous range.
inline constexpr std::array<uint8_t, kDSymbols> kDExtraBits = [] {
  std::array<uint8_t, kDSymbols> bits{};
  for (int s = 0; s < kDSymbols; ++s) bits[static_cast<size_t>(s)] = static_cast<uint8_t>(s / 4);
  return bits;
}();
inline constexpr std::array<uint32_t, kDSymbols> kDBase = [] {
  std::array<uint32_t, kDSymbols> base{};
  uint32_t next = 0;
  for (size_t s = 0; s < base.size(); ++s) {
    base[s] = next;
    next += uint32_t{1} << kDExtraBits[s];
  }
  return base;
}();
static_assert(kDBase[63] + (uint32_t{1} << kDExtraBits[63]) - 1 == kMaxD);

// One decoding state of the literal table: the symbol, the bits to read, and
// the base of the next state.
struct LiteralEntry {
  uint8_t nbits;
  uint8_t symbol;
  uint16_t delta;
};
static_assert(sizeof(LiteralEntry) == 4);

// One decoding state of an L, M or D table: read total_bits at once; the upper
// (total_bits - value_bits) bits select the next state, the lower value_bits
// bits are added to value_base.
struct ValueEntry {
  uint8_t total_bits;
  uint8_t value_bits;
  uint16_t delta;
  uint32_t value_base;
};
static_assert(sizeof(ValueEntry) == 8);

// Builds the decoding table of `states` states (a power of two) from the
// frequencies, which must sum to exactly `states`.
void BuildLiteralTable(const uint16_t* freq, LiteralEntry* table);
void BuildValueTable(int states, int symbols, const uint16_t* freq, const uint8_t* extra_bits,
                     const uint32_t* base, ValueEntry* table);

// One encoding entry per symbol (see EncodeSymbol).
struct EncoderEntry {
  int16_t s0;      // states at or above use `k` bits, below `k - 1`
  int16_t k;
  int16_t delta0;  // next-state base for the k-bit case (may be negative)
  int16_t delta1;  // next-state base for the (k-1)-bit case
};
void BuildEncoderTable(int states, int symbols, const uint16_t* freq, EncoderEntry* table);

// Scales counts[0..symbols) to frequencies summing to exactly `states`, every
// counted symbol getting at least 1. The rounding and the way an excess is
// taken back are fixed: compressed output depends on them.
void NormalizeCounts(int states, int symbols, const uint32_t* counts, uint16_t* freq);

// Outcome of running the LZVN core over one payload.
enum class LzvnStop : uint8_t { kEndOfStream, kOutputFull, kError };
struct LzvnRun {
  LzvnStop stop;
  size_t src_used;  // bytes consumed, end-of-stream opcode included
  size_t out_pos;   // output position reached
};
// Decodes the raw LZVN stream src[0..src_size) into out[out_pos..out_limit).
// Distances may reach back to out[0] (earlier output shares the history).
// When the output would pass out_limit, the bytes up to it are written and
// kOutputFull is returned.
LzvnRun LzvnDecode(const uint8_t* src, size_t src_size, uint8_t* out, size_t out_pos,
                   size_t out_limit);

// Match-finder history shared by both encoders: 2^14 hash lines of the four
// most recent positions (newest first) with the 4 bytes found there. Only the
// lines marked in `used` hold entries of the current call; the others read as
// the encoder's initial line. Clearing 2 KiB of marks replaces clearing the
// 512 KiB of lines on every call, without changing what the encoder finds.
inline constexpr int kHashBits = 14;
inline constexpr size_t kHashLines = size_t{1} << kHashBits;
struct MatchLine {
  int32_t pos[4];
  uint32_t value[4];
};
struct MatchTable {
  MatchLine lines[kHashLines];
  uint64_t used[kHashLines / 64];
};

// Writes to `line` the entries of `old` moved one place down (the oldest
// dropped) with (pos, value) in front. `line` and `old` may be the same.
inline void MatchLine_Push(MatchLine& line, const MatchLine& old, int32_t pos, uint32_t value) {
#if defined(__SSE2__)
  // Whole-vector shifts: element-wise copies go through the stack.
  const __m128i old_pos = _mm_loadu_si128(reinterpret_cast<const __m128i*>(old.pos));
  const __m128i old_value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(old.value));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line.pos),
                   _mm_or_si128(_mm_slli_si128(old_pos, 4), _mm_cvtsi32_si128(pos)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line.value),
                   _mm_or_si128(_mm_slli_si128(old_value, 4),
                                _mm_cvtsi32_si128(static_cast<int>(value))));
#else
  const MatchLine copy = old;
  line = MatchLine{.pos = {pos, copy.pos[0], copy.pos[1], copy.pos[2]},
                   .value = {value, copy.value[0], copy.value[1], copy.value[2]}};
#endif
}

// Encodes src as a raw LZVN stream into dst (capacity dst_size), using
// `table` (any contents). Returns the length or 0.
size_t LzvnEncode(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                  MatchTable& table);

// Copies a match of `length` bytes from `distance` back (1 <= distance <= bytes
// already written before dst), byte by byte in effect: a distance below the
// length repeats a pattern. Writes up to 15 bytes past the match, so the
// caller guarantees length + kCopySlack bytes of room at dst.
inline constexpr size_t kCopySlack = 16;
inline void CopyMatchFast(uint8_t* dst, size_t distance, size_t length) {
  if (distance >= 16) {
    const uint8_t* from = dst - distance;
    for (size_t i = 0; i < length; i += 16) std::memcpy(dst + i, from + i, 16);
    return;
  }
  // Short distance: the output is periodic with period `distance` from
  // dst - distance on, so once `wide - distance` bytes are in place (wide is
  // the first multiple of distance >= 16) each byte equals the one `wide`
  // back, and whole 16-byte steps no longer overlap their source.
  const size_t wide = distance * (15 / distance + 1);
  const size_t head = length < wide - distance ? length : wide - distance;
  const uint8_t* from = dst - distance;
  for (size_t i = 0; i < head; ++i) dst[i] = from[i];
  for (size_t i = head; i < length; i += 16) std::memcpy(dst + i, dst + i - wide, 16);
}
// The same without writing past the match.
inline void CopyMatchExact(uint8_t* dst, size_t distance, size_t length) {
  const uint8_t* from = dst - distance;
  for (size_t i = 0; i < length; ++i) dst[i] = from[i];
}

// Aligns a caller's work area (or an allocation) for the encoder and decoder.
inline constexpr size_t kWorkAlignment = 64;
inline void* AlignWork(void* p) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<void*>((v + kWorkAlignment - 1) & ~uintptr_t{kWorkAlignment - 1});
}

}  // namespace skarvel::lzfse
