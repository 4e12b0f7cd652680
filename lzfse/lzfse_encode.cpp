// LZFSE encoding: the method choice of lzfse_encode_buffer (raw, LZVN or
// LZFSE by input size), the LZFSE match finder, and the block writer (FSE
// coding of literals and L/M/D triples). The parameters and tie rules are
// fixed: the output must equal, byte for byte, what other LZFSE tools write
// for the same input, so that catalogs built here compare equal.

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "lzfse/lzfse.h"
#include "lzfse/lzfse_internal.h"

namespace skarvel::lzfse {
namespace {

constexpr size_t kLzvnThreshold = 4096;  // inputs from here on use LZFSE blocks
constexpr size_t kRawThreshold = 8;      // inputs below are stored raw
constexpr int64_t kMaxDistance = kMaxD;
constexpr int64_t kMaxMatchLength = 100 * kMaxM;  // longest match searched forward
constexpr int64_t kGoodMatch = 40;                // written at once, no lookahead
constexpr int64_t kLiteralBacklog = 8 * kMaxL;    // pending literals that force output
constexpr uint32_t kBlockMatchesReserve = 8;      // a block stores at most 9992 triples
constexpr uint32_t kBlockLiteralsReserve = 16;    // and at most 39984 literals
constexpr size_t kMaxInput = 0x7FFF0000;          // positions are kept as int32
// Room checks of the block writer.
constexpr ptrdiff_t kBlockHeaderRoom = 752;
constexpr ptrdiff_t kStepRoom = 16;
// An empty history entry: too far back to ever match.
constexpr int32_t kNoPosition = -4 * static_cast<int32_t>(kMaxD);

// Encoder work area: the match finder's history and the current block.
struct EncoderWork {
  MatchTable table;  // first, so that the LZVN encoder can share the area
  uint32_t n_matches;
  uint32_t n_literals;
  uint32_t n_raw;
  uint16_t l[kMaxMatches];
  uint16_t m[kMaxMatches];
  uint32_t d[kMaxMatches];
  uint8_t literals[kMaxLiterals + 4];
};

uint32_t Hash(uint32_t x) { return (x * 2654435761u) >> (32 - kHashBits); }

// Symbol of an L, M or D value.
int LSymbol(uint32_t v) {
  if (v < 16) return static_cast<int>(v);
  return v < 20 ? 16 : v < 28 ? 17 : v < 60 ? 18 : 19;
}
int MSymbol(uint32_t v) {
  if (v < 16) return static_cast<int>(v);
  return v < 24 ? 16 : v < 56 ? 17 : v < 312 ? 18 : 19;
}
int DSymbol(uint32_t v) {
  // Symbols 4m..4m+3 cover [4·2^m - 4, 8·2^m - 4): with t = v + 4, m is
  // log2(t) - 2 and the symbol's place in its group is (t >> m) - 4.
  const uint32_t t = v + 4;
  const int m = static_cast<int>(std::bit_width(t)) - 3;
  return 4 * m + static_cast<int>(t >> m) - 4;
}

// Forward bit stream writer: fields go upward from bit 0 of the payload.
struct BitWriter {
  uint64_t accum = 0;
  int nbits = 0;
  uint8_t* out;
  uint64_t bits_total = 0;

  void Write(uint64_t value, int count) {
    accum |= value << nbits;
    nbits += count;
    bits_total += static_cast<uint64_t>(count);
  }
  // Moves whole bytes out; needs 8 bytes of room.
  void Flush() {
    Store64(out, accum);
    const int bytes = nbits >> 3;
    out += bytes;
    accum >>= bytes * 8;  // nbits < 64, so bytes < 8
    nbits &= 7;
  }
  // Writes the last partial byte; returns the final-bits value (-7..0).
  int32_t Finish() {
    Flush();
    if (nbits == 0) return 0;
    *out++ = static_cast<uint8_t>(accum);
    return nbits - 8;
  }
};

// One FSE encoding step: writes the state bits of `state` for `symbol` and
// moves to the state the decoder will come from.
inline void EncodeSymbol(BitWriter& w, uint32_t& state, const EncoderEntry& e) {
  int nbits;
  uint32_t next;
  if (static_cast<int>(state) >= e.s0) {
    nbits = e.k;
    next = static_cast<uint32_t>(e.delta0 + static_cast<int>(state >> nbits));
  } else {
    nbits = e.k - 1;
    next = static_cast<uint32_t>(e.delta1 + static_cast<int>(state >> nbits));
  }
  w.Write(state & ((uint32_t{1} << nbits) - 1), nbits);
  state = next;
}

// Appends the v2 code of one frequency value.
void WriteFrequency(BitWriter& w, uint32_t v) {
  if (v < 2) {
    w.Write(v << 1, 2);
  } else if (v < 4) {
    w.Write(1 | ((v - 2) << 2), 3);
  } else if (v < 8) {
    w.Write(3 | ((v - 4) << 3), 5);
  } else if (v < 24) {
    w.Write(7 | ((v - 8) << 4), 8);
  } else {
    w.Write(15 | ((v - 24) << 4), 14);
  }
}

struct Output {
  uint8_t* begin;
  uint8_t* p;
  uint8_t* end;
  [[nodiscard]] bool Has(ptrdiff_t bytes) const { return end - p >= bytes; }
};

// Writes the current block as a bvx2 block and empties it.
[[nodiscard]] bool WriteBlock(EncoderWork& w, Output& o) {
  if (!o.Has(kBlockHeaderRoom)) return false;
  uint32_t n_literals = w.n_literals;
  while (n_literals % 4 != 0) w.literals[n_literals++] = 0;
  const uint32_t n_matches = w.n_matches;

  // Distances equal to the previous triple's (in this block) are coded as 0.
  uint32_t prev = 0;
  for (uint32_t i = 0; i < n_matches; ++i) {
    if (w.d[i] == prev) {
      w.d[i] = 0;
    } else {
      prev = w.d[i];
    }
  }

  uint32_t counts[kFrequencyCount] = {};
  uint32_t* l_counts = counts;
  uint32_t* m_counts = l_counts + kLSymbols;
  uint32_t* d_counts = m_counts + kMSymbols;
  uint32_t* lit_counts = d_counts + kDSymbols;
  for (uint32_t i = 0; i < n_matches; ++i) {
    ++l_counts[LSymbol(w.l[i])];
    ++m_counts[MSymbol(w.m[i])];
    ++d_counts[DSymbol(w.d[i])];
  }
  for (uint32_t i = 0; i < n_literals; ++i) ++lit_counts[w.literals[i]];
  uint16_t freq[kFrequencyCount];
  uint16_t* l_freq = freq;
  uint16_t* m_freq = l_freq + kLSymbols;
  uint16_t* d_freq = m_freq + kMSymbols;
  uint16_t* lit_freq = d_freq + kDSymbols;
  NormalizeCounts(kLStates, kLSymbols, l_counts, l_freq);
  NormalizeCounts(kMStates, kMSymbols, m_counts, m_freq);
  NormalizeCounts(kDStates, kDSymbols, d_counts, d_freq);
  NormalizeCounts(kLiteralStates, kLiteralSymbols, lit_counts, lit_freq);

  // Header: fixed part first filled in below, then the frequency code.
  uint8_t* const header = o.p;
  BitWriter fw{.out = header + kV2FixedHeaderSize};
  for (uint16_t f : freq) {
    WriteFrequency(fw, f);
    fw.Flush();
  }
  fw.Finish();
  const size_t header_size = static_cast<size_t>(fw.out - header);
  o.p = fw.out;

  // Literals, last group first; within a group the fourth literal first.
  EncoderEntry lit_enc[kLiteralSymbols];
  BuildEncoderTable(kLiteralStates, kLiteralSymbols, lit_freq, lit_enc);
  uint32_t lit_state[4] = {0, 0, 0, 0};
  BitWriter lw{.out = o.p};
  for (uint32_t i = n_literals; i > 0; i -= 4) {
    if (lw.out + kStepRoom > o.end) return false;
    EncodeSymbol(lw, lit_state[3], lit_enc[w.literals[i - 1]]);
    EncodeSymbol(lw, lit_state[2], lit_enc[w.literals[i - 2]]);
    EncodeSymbol(lw, lit_state[1], lit_enc[w.literals[i - 3]]);
    EncodeSymbol(lw, lit_state[0], lit_enc[w.literals[i - 4]]);
    lw.Flush();
  }
  if (o.end - lw.out < 9) return false;  // Finish stores 8 bytes, keeps up to 1
  const int32_t literal_bits = lw.Finish();
  const size_t literal_payload = static_cast<size_t>(lw.out - o.p);
  o.p = lw.out;

  // L/M/D triples, last first, after 8 zero bytes.
  EncoderEntry l_enc[kLSymbols], m_enc[kMSymbols], d_enc[kDSymbols];
  BuildEncoderTable(kLStates, kLSymbols, l_freq, l_enc);
  BuildEncoderTable(kMStates, kMSymbols, m_freq, m_enc);
  BuildEncoderTable(kDStates, kDSymbols, d_freq, d_enc);
  if (!o.Has(8)) return false;
  uint8_t* const lmd_start = o.p;
  std::memset(lmd_start, 0, 8);
  BitWriter mw{.out = lmd_start + 8};
  uint32_t l_state = 0, m_state = 0, d_state = 0;
  for (uint32_t i = n_matches; i > 0; --i) {
    if (mw.out + kStepRoom > o.end) return false;
    const uint32_t l = w.l[i - 1], m = w.m[i - 1], d = w.d[i - 1];
    const int ls = LSymbol(l), ms = MSymbol(m), ds = DSymbol(d);
    const auto lsu = static_cast<size_t>(ls), msu = static_cast<size_t>(ms);
    const auto dsu = static_cast<size_t>(ds);
    mw.Write(d - kDBase[dsu], kDExtraBits[dsu]);
    EncodeSymbol(mw, d_state, d_enc[ds]);
    mw.Write(m - kMBase[msu], kMExtraBits[msu]);
    EncodeSymbol(mw, m_state, m_enc[ms]);
    mw.Write(l - kLBase[lsu], kLExtraBits[lsu]);
    EncodeSymbol(mw, l_state, l_enc[ls]);
    mw.Flush();
  }
  if (o.end - mw.out < 9) return false;
  const int32_t lmd_bits = mw.Finish();
  const size_t lmd_payload = static_cast<size_t>(mw.out - lmd_start);
  o.p = mw.out;

  const uint64_t w0 = uint64_t{n_literals} | (uint64_t{literal_payload} << 20) |
                      (uint64_t{n_matches} << 40) |
                      (static_cast<uint64_t>(literal_bits + 7) << 60);
  const uint64_t w1 = uint64_t{lit_state[0]} | (uint64_t{lit_state[1]} << 10) |
                      (uint64_t{lit_state[2]} << 20) | (uint64_t{lit_state[3]} << 30) |
                      (uint64_t{lmd_payload} << 40) | (static_cast<uint64_t>(lmd_bits + 7) << 60);
  const uint64_t w2 = uint64_t{header_size} | (uint64_t{l_state} << 32) |
                      (uint64_t{m_state} << 42) | (uint64_t{d_state} << 52);
  Store32(header, kMagicV2);
  Store32(header + 4, w.n_raw);
  Store64(header + 8, w0);
  Store64(header + 16, w1);
  Store64(header + 24, w2);

  w.n_matches = 0;
  w.n_literals = 0;
  w.n_raw = 0;
  return true;
}

struct Match {
  int64_t pos = 0;     // first byte of the match
  int64_t ref = 0;     // first byte of its earlier copy
  int64_t length = 0;  // 0: no match
  int64_t End() const { return pos + length; }
};

struct Encoder {
  EncoderWork& w;
  Output& o;
  const uint8_t* src;
  int64_t n;
  int64_t literal_start = 0;
  bool failed = false;

  // Stores the literals before `pos` and a match of `length` at `distance`
  // as triples of at most 315 literals and 2359 match bytes. All of them go
  // into one block: when they do not fit, the block is written first.
  void Emit(int64_t pos, int64_t distance, int64_t length) {
    if (failed) return;
    int64_t lits = pos - literal_start;
    int64_t pieces = 0;
    {
      int64_t l = lits, m = length;
      for (; l > static_cast<int64_t>(kMaxL); l -= kMaxL) ++pieces;
      for (; m > static_cast<int64_t>(kMaxM); m -= kMaxM, l = 0) ++pieces;
      if (l > 0 || m > 0) ++pieces;
    }
    if (w.n_matches + pieces + kBlockMatchesReserve > kMaxMatches ||
        w.n_literals + lits + kBlockLiteralsReserve > kMaxLiterals) {
      if (!WriteBlock(w, o)) {
        failed = true;
        return;
      }
    }
    std::memcpy(w.literals + w.n_literals, src + literal_start, static_cast<size_t>(lits));
    w.n_literals += static_cast<uint32_t>(lits);
    w.n_raw += static_cast<uint32_t>(lits + length);
    auto store = [&](int64_t l, int64_t m, int64_t d) {
      w.l[w.n_matches] = static_cast<uint16_t>(l);
      w.m[w.n_matches] = static_cast<uint16_t>(m);
      w.d[w.n_matches] = static_cast<uint32_t>(d);
      ++w.n_matches;
    };
    while (lits > static_cast<int64_t>(kMaxL)) {
      store(kMaxL, 0, 1);
      lits -= kMaxL;
    }
    int64_t m = length;
    while (m > static_cast<int64_t>(kMaxM)) {
      store(lits, kMaxM, distance);
      lits = 0;
      m -= kMaxM;
    }
    if (lits > 0 || m > 0) store(lits, m, distance);
    literal_start = pos + length;
  }
  void Emit(const Match& m) { Emit(m.pos, m.pos - m.ref, m.length); }
  // Literals only: a triple with no match and distance 1.
  void EmitLiterals(int64_t count) { Emit(literal_start + count, 1, 0); }
};

size_t LzfseEncode(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                   EncoderWork& w) {
  Output o{.begin = dst, .p = dst, .end = dst + dst_size};
  Encoder e{.w = w, .o = o, .src = src, .n = static_cast<int64_t>(src_size)};
  w.n_matches = 0;
  w.n_literals = 0;
  w.n_raw = 0;
  MatchTable& table = w.table;
  std::memset(table.used, 0, sizeof table.used);
  const MatchLine empty{.pos = {kNoPosition, kNoPosition, kNoPosition, kNoPosition},
                        .value = {0, 0, 0, 0}};

  Match pending;
  // The last 8 bytes never start a match.
  for (int64_t p = 0; p + 8 < e.n && !e.failed; ++p) {
    const uint32_t x = Load32(src + p);
    const uint32_t h = Hash(x);
    // The lines are spread over 512 KiB: start loading a later position's
    // line now so that the cache miss overlaps this position's work.
    __builtin_prefetch(&table.lines[Hash(Load32(src + p + 4))]);
    MatchLine& slot = table.lines[h];
    uint64_t& word = table.used[h >> 6];
    const uint64_t bit = uint64_t{1} << (h & 63);
    const bool fresh = (word & bit) == 0;
    word |= bit;
    if (p < e.literal_start) {  // inside a match already written: history only
      MatchLine_Push(slot, fresh ? empty : slot, static_cast<int32_t>(p), x);
      continue;
    }
    const MatchLine line = fresh ? empty : slot;
    MatchLine_Push(slot, line, static_cast<int32_t>(p), x);

    // The longest of the candidates (a later one must be strictly longer).
    Match best;
    const int64_t forward_limit = e.n - p - 8;  // the last byte never matches
    for (int k = 0; k < 4; ++k) {
      if (line.value[k] != x || p - line.pos[k] > kMaxDistance) continue;
      const int64_t ref = line.pos[k];
      int64_t length = 4;
      while (length < forward_limit) {
        const uint64_t diff = Load64(src + p + length) ^ Load64(src + ref + length);
        if (diff != 0) {
          length += std::countr_zero(diff) >> 3;
          break;
        }
        length += 8;
      }
      if (length > best.length) best = Match{.pos = p, .ref = ref, .length = length};
    }

    if (best.length == 0) {
      if (p - e.literal_start > kLiteralBacklog) {
        if (pending.length != 0) {
          e.Emit(pending);
          pending = Match{};
        } else {
          e.EmitLiterals(kMaxL);
        }
      }
      continue;
    }
    best.length = std::min(best.length, kMaxMatchLength);
    while (best.pos > e.literal_start && best.ref > 0 && src[best.pos - 1] == src[best.ref - 1]) {
      --best.pos;
      --best.ref;
      ++best.length;
    }
    if (best.length >= kGoodMatch) {
      e.Emit(best);  // a pending match is dropped: its bytes become literals
      pending = Match{};
    } else if (pending.length == 0) {
      pending = best;
    } else if (pending.End() <= best.pos) {
      e.Emit(pending);
      pending = best;
    } else {
      e.Emit(best.length > pending.length ? best : pending);
      pending = Match{};
    }
  }
  if (pending.length != 0) e.Emit(pending);
  e.EmitLiterals(e.n - e.literal_start);
  if (e.failed) return 0;
  if (w.n_matches > 0 && !WriteBlock(w, o)) return 0;
  if (!o.Has(4)) return 0;
  Store32(o.p, kMagicEndOfStream);
  o.p += 4;
  return static_cast<size_t>(o.p - o.begin);
}

}  // namespace
}  // namespace skarvel::lzfse

size_t lzfse_encode_scratch_size(void) {
  return sizeof(skarvel::lzfse::EncoderWork) + skarvel::lzfse::kWorkAlignment;
}

size_t lzfse_encode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                           void* scratch) {
  using namespace skarvel::lzfse;
  if (dst == nullptr || (src == nullptr && src_size != 0)) return 0;
  void* owned = nullptr;
  auto work = [&]() -> EncoderWork* {
    if (scratch == nullptr) {
      owned = std::malloc(lzfse_encode_scratch_size());
      if (owned == nullptr) return nullptr;
      scratch = owned;
    }
    return static_cast<EncoderWork*>(AlignWork(scratch));
  };

  size_t result = 0;
  if (src_size >= kLzvnThreshold && src_size <= kMaxInput) {
    if (EncoderWork* ew = work()) result = LzfseEncode(dst, dst_size, src, src_size, *ew);
  } else if (src_size >= kRawThreshold && src_size < kLzvnThreshold && dst_size > 16) {
    // bvxn header (12 bytes), payload, bvx$; kept only when smaller than the
    // input.
    if (EncoderWork* ew = work()) {
      const size_t payload = LzvnEncode(dst + 12, dst_size - 16, src, src_size, ew->table);
      if (payload != 0 && payload < src_size) {
        Store32(dst, kMagicLzvn);
        Store32(dst + 4, static_cast<uint32_t>(src_size));
        Store32(dst + 8, static_cast<uint32_t>(payload));
        Store32(dst + 12 + payload, kMagicEndOfStream);
        result = payload + 16;
      }
    }
  }
  std::free(owned);
  if (result != 0) return result;

  // Stored: one raw block holding the whole input.
  if (src_size >= 0x7FFFFFFF || dst_size < 12 || src_size > dst_size - 12) return 0;
  Store32(dst, kMagicRaw);
  Store32(dst + 4, static_cast<uint32_t>(src_size));
  if (src_size != 0) std::memcpy(dst + 8, src, src_size);
  Store32(dst + 8 + src_size, kMagicEndOfStream);
  return src_size + 12;
}
