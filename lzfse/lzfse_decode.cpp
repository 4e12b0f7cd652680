// LZFSE stream decoding: the block loop, header parsing (v1 and v2), the
// backward bit streams, and the literal and L/M/D decoding of compressed
// blocks. Every read is checked against the input and every write against
// the output room; loops are bounded by the header counts and the input size.

#include <cstdlib>

#include "lzfse/lzfse.h"
#include "lzfse/lzfse_internal.h"

namespace skarvel::lzfse {
namespace {

// Work area of the decoder: the tables of one block and its literal store.
struct DecoderWork {
  LiteralEntry literal_table[kLiteralStates];
  ValueEntry l_table[kLStates];
  ValueEntry m_table[kMStates];
  ValueEntry d_table[kDStates];
  uint8_t literals[kMaxLiterals + kLiteralSlack];
};

// The fields of a compressed block header, v1 and v2 alike.
struct BlockHeader {
  size_t header_size;
  uint32_t n_literals;
  uint32_t n_matches;
  uint32_t literal_payload_size;
  uint32_t lmd_payload_size;
  int32_t literal_bits;  // final-bits value, -7..0
  uint16_t literal_state[4];
  int32_t lmd_bits;
  uint16_t l_state, m_state, d_state;
  uint16_t freq[kFrequencyCount];  // L, M, D, literal
};

uint64_t Bits(uint64_t word, int shift, int width) {
  return (word >> shift) & ((uint64_t{1} << width) - 1);
}

// Decodes the v2 frequency code (variable-length codes, LSB first) from
// bytes [32, header_size). The code must use exactly those bytes.
[[nodiscard]] bool ReadFrequencyCode(const uint8_t* block, size_t header_size, uint16_t* freq) {
  if (header_size == kV2FixedHeaderSize) {
    for (int i = 0; i < kFrequencyCount; ++i) freq[i] = 0;
    return true;
  }
  size_t pos = kV2FixedHeaderSize;
  uint32_t accum = 0;
  int nbits = 0;
  for (int i = 0; i < kFrequencyCount; ++i) {
    while (nbits <= 24 && pos < header_size) {
      accum |= uint32_t{block[pos++]} << nbits;
      nbits += 8;
    }
    int length;
    uint32_t value;
    if ((accum & 1) == 0) {
      length = 2;
      value = (accum >> 1) & 1;
    } else if ((accum & 2) == 0) {
      length = 3;
      value = 2 + ((accum >> 2) & 1);
    } else if ((accum & 4) == 0) {
      length = 5;
      value = 4 + ((accum >> 3) & 3);
    } else if ((accum & 8) == 0) {
      length = 8;
      value = 8 + ((accum >> 4) & 15);
    } else {
      length = 14;
      value = 24 + ((accum >> 4) & 1023);
    }
    if (length > nbits) return false;
    freq[i] = static_cast<uint16_t>(value);
    accum >>= length;
    nbits -= length;
  }
  return pos == header_size && nbits < 8;
}

// Parses the header of a bvx1/bvx2 block at `block` (avail bytes present).
[[nodiscard]] bool ReadBlockHeader(uint32_t magic, const uint8_t* block, size_t avail, BlockHeader& h) {
  if (magic == kMagicV2) {
    if (avail < kV2FixedHeaderSize) return false;
    const uint64_t w0 = Load64(block + 8);
    const uint64_t w1 = Load64(block + 16);
    const uint64_t w2 = Load64(block + 24);
    h.n_literals = static_cast<uint32_t>(Bits(w0, 0, 20));
    h.literal_payload_size = static_cast<uint32_t>(Bits(w0, 20, 20));
    h.n_matches = static_cast<uint32_t>(Bits(w0, 40, 20));
    h.literal_bits = static_cast<int32_t>(Bits(w0, 60, 3)) - 7;
    for (int i = 0; i < 4; ++i) {
      h.literal_state[i] = static_cast<uint16_t>(Bits(w1, 10 * i, 10));
    }
    h.lmd_payload_size = static_cast<uint32_t>(Bits(w1, 40, 20));
    h.lmd_bits = static_cast<int32_t>(Bits(w1, 60, 3)) - 7;
    h.header_size = static_cast<size_t>(Bits(w2, 0, 32));
    h.l_state = static_cast<uint16_t>(Bits(w2, 32, 10));
    h.m_state = static_cast<uint16_t>(Bits(w2, 42, 10));
    h.d_state = static_cast<uint16_t>(Bits(w2, 52, 10));
    if (h.header_size < kV2FixedHeaderSize || h.header_size > avail) return false;
    if (!ReadFrequencyCode(block, h.header_size, h.freq)) return false;
  } else {
    if (avail < kV1HeaderSize) return false;
    h.header_size = kV1HeaderSize;
    h.n_literals = Load32(block + 12);
    h.n_matches = Load32(block + 16);
    h.literal_payload_size = Load32(block + 20);
    h.lmd_payload_size = Load32(block + 24);
    h.literal_bits = static_cast<int32_t>(Load32(block + 28));
    for (int i = 0; i < 4; ++i) h.literal_state[i] = Load16(block + 32 + 2 * i);
    h.lmd_bits = static_cast<int32_t>(Load32(block + 40));
    h.l_state = Load16(block + 44);
    h.m_state = Load16(block + 46);
    h.d_state = Load16(block + 48);
    for (int i = 0; i < kFrequencyCount; ++i) h.freq[i] = Load16(block + 50 + 2 * i);
  }
  if (h.literal_bits < -7 || h.literal_bits > 0 || h.lmd_bits < -7 || h.lmd_bits > 0) return false;
  if (h.n_literals > kMaxLiterals || h.n_matches > kMaxMatches) return false;
  for (uint16_t s : h.literal_state) {
    if (s >= kLiteralStates) return false;
  }
  if (h.l_state >= kLStates || h.m_state >= kMStates || h.d_state >= kDStates) return false;
  return true;
}

// Sum of a frequency table. A table that decodes anything must sum to exactly
// its state count (valid encoders always make it so); an unused one may sum
// to less.
[[nodiscard]] bool TableUsable(const uint16_t* freq, int symbols, int states, bool used) {
  uint32_t sum = 0;
  for (int i = 0; i < symbols; ++i) sum += freq[i];
  return used ? sum == static_cast<uint32_t>(states) : sum <= static_cast<uint32_t>(states);
}

// Backward bit stream reader. `accum` holds `nbits` unread bits in its low
// bits, the most recently written (first to read) at the top; `ptr` points
// at the byte holding the lowest of them.
struct BitReader {
  uint64_t accum;
  int nbits;
  const uint8_t* ptr;
};

// Starts reading a payload ending at `end` with the given final-bits value.
// The caller guarantees that the 8 bytes before `end` may be read.
[[nodiscard]] bool BitReader_Start(BitReader& r, const uint8_t* end, int32_t final_bits) {
  r.ptr = end - 8;
  r.accum = Load64(r.ptr);
  if (final_bits == 0) {
    r.ptr += 1;
    r.accum >>= 8;
    r.nbits = 56;
    return true;
  }
  r.nbits = 64 + final_bits;
  return (r.accum >> r.nbits) == 0;  // padding bits above the data are zero
}

// Reloads whole bytes so that 56..63 bits are buffered.
inline void BitReader_Refill(BitReader& r) {
  const int bytes = (63 - r.nbits) >> 3;
  // Nothing to load. Right after a start with no final bits, ptr is 7 bytes
  // before the payload's end, and an 8-byte load would read the byte after
  // it, which lies past the input when the block ends the buffer.
  if (bytes == 0) return;
  r.ptr -= bytes;
  const int bits = bytes * 8;
  r.accum = (r.accum << bits) | (Load64(r.ptr) & ((uint64_t{1} << bits) - 1));
  r.nbits += bits;
}

inline uint64_t BitReader_Read(BitReader& r, int count) {
  r.nbits -= count;
  return (r.accum >> r.nbits) & ((uint64_t{1} << count) - 1);
}

// Decodes the literals of a block into work.literals (rounded up to a group of
// four). The reads may load header bytes below the payload (they are never
// consumed by a valid stream), but may not consume bits below its start.
[[nodiscard]] bool DecodeLiterals(const BlockHeader& h, const uint8_t* payload, DecoderWork& work) {
  BitReader r;
  if (!BitReader_Start(r, payload + h.literal_payload_size, h.literal_bits)) return false;
  uint32_t s0 = h.literal_state[0], s1 = h.literal_state[1];
  uint32_t s2 = h.literal_state[2], s3 = h.literal_state[3];
  const LiteralEntry* table = work.literal_table;
  uint8_t* lit = work.literals;
  for (uint32_t i = 0; i < h.n_literals; i += 4) {
    BitReader_Refill(r);
    // Each state reads at most 10 bits: a group fits in the 56 buffered.
    const LiteralEntry e0 = table[s0];
    s0 = e0.delta + static_cast<uint32_t>(BitReader_Read(r, e0.nbits));
    const LiteralEntry e1 = table[s1];
    s1 = e1.delta + static_cast<uint32_t>(BitReader_Read(r, e1.nbits));
    const LiteralEntry e2 = table[s2];
    s2 = e2.delta + static_cast<uint32_t>(BitReader_Read(r, e2.nbits));
    const LiteralEntry e3 = table[s3];
    s3 = e3.delta + static_cast<uint32_t>(BitReader_Read(r, e3.nbits));
    lit[i] = e0.symbol;
    lit[i + 1] = e1.symbol;
    lit[i + 2] = e2.symbol;
    lit[i + 3] = e3.symbol;
    // Position of the next unread bit, relative to the payload start. Kept
    // >= 0, it also keeps the next refill within 8 bytes below the payload,
    // inside the block header.
    if ((r.ptr - payload) * 8 + r.nbits < 0) return false;
  }
  return true;
}

inline uint32_t DecodeValue(BitReader& r, const ValueEntry* table, uint32_t& state) {
  const ValueEntry e = table[state];
  const uint64_t bits = BitReader_Read(r, e.total_bits);
  state = e.delta + static_cast<uint32_t>(bits >> e.value_bits);
  return e.value_base + static_cast<uint32_t>(bits & ((uint64_t{1} << e.value_bits) - 1));
}

enum class BlockResult : uint8_t { kDone, kOutputFull, kError };

// Decodes and executes the L/M/D triples of a block, appending to
// out[out_pos..out_limit). Updates out_pos.
BlockResult DecodeTriples(const BlockHeader& h, const uint8_t* payload, DecoderWork& work,
                          uint8_t* out, size_t& out_pos, size_t out_limit) {
  // Every refill must stay inside this payload; valid encoders start it with
  // 8 zero bytes so that the reads never reach below it.
  if (h.lmd_payload_size < 8) return BlockResult::kError;
  BitReader r;
  if (!BitReader_Start(r, payload + h.lmd_payload_size, h.lmd_bits)) return BlockResult::kError;
  uint32_t l_state = h.l_state, m_state = h.m_state, d_state = h.d_state;
  const uint8_t* lit = work.literals;
  const uint8_t* const lit_end = work.literals + h.n_literals;
  uint8_t* d = out + out_pos;
  uint8_t* const d_end = out + out_limit;
  size_t distance = 0;  // unset at the start of every block

  for (uint32_t t = 0; t < h.n_matches; ++t) {
    // One triple reads at most 54 bits (L 6+8, M 6+11, D 8+15).
    if (r.ptr - payload < ((63 - r.nbits) >> 3)) return BlockResult::kError;
    BitReader_Refill(r);
    const size_t lits = DecodeValue(r, work.l_table, l_state);
    const size_t match = DecodeValue(r, work.m_table, m_state);
    const size_t coded_distance = DecodeValue(r, work.d_table, d_state);
    if (coded_distance != 0) distance = coded_distance;  // 0 repeats the last
    if (lits > static_cast<size_t>(lit_end - lit)) return BlockResult::kError;

    const size_t room = static_cast<size_t>(d_end - d);
    if (room >= lits + match + kCopySlack) {
      // The literal store has kLiteralSlack bytes after the literals.
      for (size_t i = 0; i < lits; i += 16) std::memcpy(d + i, lit + i, 16);
      d += lits;
      lit += lits;
      // The distance is checked even for literal-only triples.
      if (distance == 0 || distance > static_cast<size_t>(d - out)) return BlockResult::kError;
      CopyMatchFast(d, distance, match);
      d += match;
      continue;
    }

    // Near the end of the room: exact copies, and partial ones when it fills.
    if (lits > room) {
      std::memcpy(d, lit, room);
      out_pos = out_limit;
      return BlockResult::kOutputFull;
    }
    std::memcpy(d, lit, lits);
    d += lits;
    lit += lits;
    if (distance == 0 || distance > static_cast<size_t>(d - out)) return BlockResult::kError;
    const size_t match_room = static_cast<size_t>(d_end - d);
    if (match > match_room) {
      CopyMatchExact(d, distance, match_room);
      out_pos = out_limit;
      return BlockResult::kOutputFull;
    }
    CopyMatchExact(d, distance, match);
    d += match;
  }
  out_pos = static_cast<size_t>(d - out);
  return BlockResult::kDone;
}

// Decodes one bvx1/bvx2 block at `block`; on success sets `used` to its size.
BlockResult DecodeCompressedBlock(uint32_t magic, const uint8_t* block, size_t avail,
                                  DecoderWork& work, uint8_t* out, size_t& out_pos,
                                  size_t out_limit, size_t& used) {
  BlockHeader h;
  if (!ReadBlockHeader(magic, block, avail, h)) return BlockResult::kError;
  const uint64_t total =
      uint64_t{h.header_size} + h.literal_payload_size + uint64_t{h.lmd_payload_size};
  if (total > avail) return BlockResult::kError;
  const uint16_t* l_freq = h.freq;
  const uint16_t* m_freq = l_freq + kLSymbols;
  const uint16_t* d_freq = m_freq + kMSymbols;
  const uint16_t* lit_freq = d_freq + kDSymbols;
  const bool any_literals = h.n_literals > 0;
  const bool any_matches = h.n_matches > 0;
  if (!TableUsable(l_freq, kLSymbols, kLStates, any_matches) ||
      !TableUsable(m_freq, kMSymbols, kMStates, any_matches) ||
      !TableUsable(d_freq, kDSymbols, kDStates, any_matches) ||
      !TableUsable(lit_freq, kLiteralSymbols, kLiteralStates, any_literals)) {
    return BlockResult::kError;
  }
  used = static_cast<size_t>(total);

  const uint8_t* literal_payload = block + h.header_size;
  const uint8_t* lmd_payload = literal_payload + h.literal_payload_size;
  if (any_literals) {
    BuildLiteralTable(lit_freq, work.literal_table);
    if (!DecodeLiterals(h, literal_payload, work)) return BlockResult::kError;
  }
  // Defined bytes after the literals, read by the 16-byte literal copies.
  std::memset(work.literals + h.n_literals, 0, kLiteralSlack);
  if (!any_matches) return BlockResult::kDone;
  BuildValueTable(kLStates, kLSymbols, l_freq, kLExtraBits.data(), kLBase.data(), work.l_table);
  BuildValueTable(kMStates, kMSymbols, m_freq, kMExtraBits.data(), kMBase.data(), work.m_table);
  BuildValueTable(kDStates, kDSymbols, d_freq, kDExtraBits.data(), kDBase.data(), work.d_table);
  return DecodeTriples(h, lmd_payload, work, out, out_pos, out_limit);
}

size_t DecodeStream(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                    DecoderWork& work) {
  size_t in = 0;
  size_t out = 0;
  for (;;) {
    if (src_size - in < 4) return 0;
    const uint8_t* block = src + in;
    const size_t avail = src_size - in;
    const uint32_t magic = Load32(block);
    switch (magic) {
      case kMagicEndOfStream:
        return out;
      case kMagicRaw: {
        if (avail < 8) return 0;
        const size_t n = Load32(block + 4);
        if (n > avail - 8) return 0;
        if (n > dst_size - out) {
          std::memcpy(dst + out, block + 8, dst_size - out);
          return dst_size;
        }
        std::memcpy(dst + out, block + 8, n);
        out += n;
        in += 8 + n;
        break;
      }
      case kMagicLzvn: {
        if (avail < 12) return 0;
        const size_t n_raw = Load32(block + 4);
        const size_t n_payload = Load32(block + 8);
        if (n_payload > avail - 12) return 0;
        // The block must produce exactly n_raw bytes; past the room, the
        // output is cut at dst_size.
        const bool cut = n_raw > dst_size - out;
        const size_t limit = cut ? dst_size : out + n_raw;
        const LzvnRun run = LzvnDecode(block + 12, n_payload, dst, out, limit);
        if (run.stop == LzvnStop::kOutputFull && cut) return dst_size;
        if (run.stop != LzvnStop::kEndOfStream || run.src_used != n_payload ||
            run.out_pos != out + n_raw) {
          return 0;
        }
        out = run.out_pos;
        in += 12 + n_payload;
        break;
      }
      case kMagicV1:
      case kMagicV2: {
        size_t used = 0;
        const BlockResult result =
            DecodeCompressedBlock(magic, block, avail, work, dst, out, dst_size, used);
        if (result == BlockResult::kOutputFull) return dst_size;
        if (result == BlockResult::kError) return 0;
        in += used;
        break;
      }
      default:
        return 0;
    }
  }
}

}  // namespace
}  // namespace skarvel::lzfse

size_t lzfse_decode_scratch_size(void) {
  return sizeof(skarvel::lzfse::DecoderWork) + skarvel::lzfse::kWorkAlignment;
}

size_t lzfse_decode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                           void* scratch) {
  using namespace skarvel::lzfse;
  if (src == nullptr || (dst == nullptr && dst_size != 0)) return 0;
  uint8_t no_room[1];
  if (dst == nullptr) dst = no_room;  // room 0: keeps the copies off null
  void* owned = nullptr;
  if (scratch == nullptr) {
    owned = std::malloc(lzfse_decode_scratch_size());
    if (owned == nullptr) return 0;
    scratch = owned;
  }
  DecoderWork& work = *static_cast<DecoderWork*>(AlignWork(scratch));
  const size_t result = DecodeStream(dst, dst_size, src, src_size, work);
  std::free(owned);
  return result;
}
