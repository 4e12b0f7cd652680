// LZVN decoding: the opcode interpreter shared by raw LZVN payloads and LZVN
// blocks of LZFSE streams, and the raw-payload buffer function.

#include <array>

#include "lzfse/lzfse.h"
#include "lzfse/lzfse_internal.h"

namespace skarvel::lzfse {
namespace {

// Opcode classes, by first byte.
enum class Op : uint8_t {
  kSmallDistance,   // LLMMMDDD dddddddd
  kMediumDistance,  // 101LLMMM, u16 (D << 2 | low 2 bits of M - 3)
  kLargeDistance,   // LLMMM111, u16 D
  kPrevDistance,    // LLMMM110, distance of the last explicit-distance opcode
  kSmallLiteral,    // 1110LLLL
  kLargeLiteral,    // 11100000, L - 16
  kSmallMatch,      // 1111MMMM, previous distance
  kLargeMatch,      // 11110000, M - 16, previous distance
  kEndOfStream,     // 0x06 and 7 more bytes
  kNop,             // 0x0E, 0x16
  kInvalid,
};

constexpr std::array<Op, 256> kOps = [] {
  std::array<Op, 256> ops{};
  for (int b = 0; b < 256; ++b) {
    Op op;
    if (b == 0x06) {
      op = Op::kEndOfStream;
    } else if (b == 0x0E || b == 0x16) {
      op = Op::kNop;
    } else if (b == 0x1E || b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E ||
               (b >= 0x70 && b <= 0x7F) || (b >= 0xD0 && b <= 0xDF)) {
      op = Op::kInvalid;
    } else if (b == 0xE0) {
      op = Op::kLargeLiteral;
    } else if (b > 0xE0 && b <= 0xEF) {
      op = Op::kSmallLiteral;
    } else if (b == 0xF0) {
      op = Op::kLargeMatch;
    } else if (b > 0xF0) {
      op = Op::kSmallMatch;
    } else if (b >= 0xA0 && b <= 0xBF) {
      op = Op::kMediumDistance;
    } else if ((b & 7) == 7) {
      op = Op::kLargeDistance;
    } else if ((b & 7) == 6) {
      op = Op::kPrevDistance;
    } else {
      op = Op::kSmallDistance;
    }
    ops[static_cast<size_t>(b)] = op;
  }
  return ops;
}();

constexpr size_t kEndOfStreamSize = 8;
constexpr ptrdiff_t kFastMargin = 320;

}  // namespace

LzvnRun LzvnDecode(const uint8_t* src, size_t src_size, uint8_t* out, size_t out_pos,
                   size_t out_limit) {
  const uint8_t* s = src;
  const uint8_t* const s_end = src + src_size;
  uint8_t* d = out + out_pos;
  uint8_t* const d_end = out + out_limit;
  size_t prev_distance = 0;  // 0 until an opcode carries a distance

  auto stop = [&](LzvnStop why) {
    return LzvnRun{.stop = why,
                   .src_used = static_cast<size_t>(s - src),
                   .out_pos = static_cast<size_t>(d - out)};
  };

  for (;;) {
    // Fast loop: far from both ends, no opcode can reach past either (at most
    // 3 + 271 bytes read plus 16 of over-read, 271 + 16 written), so only
    // distances are checked. Rare opcodes and both ends go to the loop below.
    while (s_end - s >= kFastMargin && d_end - d >= kFastMargin) {
      const uint32_t b0 = s[0];
      size_t lits, match, distance;
      switch (kOps[b0]) {
        case Op::kSmallDistance:
          lits = b0 >> 6;
          match = ((b0 >> 3) & 7) + 3;
          distance = ((b0 & 7) << 8) | s[1];
          s += 2;
          break;
        case Op::kMediumDistance: {
          const uint32_t w = Load16(s + 1);
          lits = (b0 >> 3) & 3;
          match = (((b0 & 7) << 2) | (w & 3)) + 3;
          distance = w >> 2;
          s += 3;
          break;
        }
        case Op::kLargeDistance:
          lits = b0 >> 6;
          match = ((b0 >> 3) & 7) + 3;
          distance = Load16(s + 1);
          s += 3;
          break;
        case Op::kPrevDistance:
          lits = b0 >> 6;
          match = ((b0 >> 3) & 7) + 3;
          distance = prev_distance;
          s += 1;
          break;
        case Op::kSmallLiteral:
          std::memcpy(d, s + 1, 16);
          d += b0 & 15;
          s += 1 + (b0 & 15);
          continue;
        case Op::kLargeLiteral:
          lits = size_t{s[1]} + 16;
          std::memcpy(d, s + 2, lits);
          d += lits;
          s += 2 + lits;
          continue;
        case Op::kSmallMatch:
        case Op::kLargeMatch:
          if (b0 == 0xF0) {
            match = size_t{s[1]} + 16;
            s += 2;
          } else {
            match = b0 & 15;
            s += 1;
          }
          if (prev_distance == 0) return stop(LzvnStop::kError);
          CopyMatchFast(d, prev_distance, match);
          d += match;
          continue;
        default:
          goto careful;  // end of stream, no-op, invalid
      }
      std::memcpy(d, s, 4);  // 0..3 literals
      s += lits;
      d += lits;
      if (distance == 0 || distance > static_cast<size_t>(d - out)) return stop(LzvnStop::kError);
      prev_distance = distance;
      CopyMatchFast(d, distance, match);
      d += match;
    }
  careful:
    if (s == s_end) return stop(LzvnStop::kError);
    const size_t avail = static_cast<size_t>(s_end - s);
    const uint32_t b0 = s[0];
    size_t op_size;
    size_t lits;
    size_t match;
    size_t distance = prev_distance;
    bool new_distance = false;
    // The opcode's fixed bytes (op_size <= 3) are read only after checking
    // that the opcode, its literals and one more byte are present: a valid
    // stream always has at least the end-of-stream opcode after them.
    switch (kOps[b0]) {
      case Op::kSmallDistance:
        op_size = 2;
        lits = b0 >> 6;
        match = ((b0 >> 3) & 7) + 3;
        if (avail < op_size + lits + 1) return stop(LzvnStop::kError);
        distance = ((b0 & 7) << 8) | s[1];
        new_distance = true;
        break;
      case Op::kMediumDistance: {
        op_size = 3;
        lits = (b0 >> 3) & 3;
        if (avail < op_size + lits + 1) return stop(LzvnStop::kError);
        const uint32_t w = Load16(s + 1);
        match = (((b0 & 7) << 2) | (w & 3)) + 3;
        distance = w >> 2;
        new_distance = true;
        break;
      }
      case Op::kLargeDistance:
        op_size = 3;
        lits = b0 >> 6;
        match = ((b0 >> 3) & 7) + 3;
        if (avail < op_size + lits + 1) return stop(LzvnStop::kError);
        distance = Load16(s + 1);
        new_distance = true;
        break;
      case Op::kPrevDistance:
        op_size = 1;
        lits = b0 >> 6;
        match = ((b0 >> 3) & 7) + 3;
        break;
      case Op::kSmallLiteral:
        op_size = 1;
        lits = b0 & 15;
        match = 0;
        break;
      case Op::kLargeLiteral:
        if (avail < 2) return stop(LzvnStop::kError);
        op_size = 2;
        lits = size_t{s[1]} + 16;
        match = 0;
        break;
      case Op::kSmallMatch:
        op_size = 1;
        lits = 0;
        match = b0 & 15;
        break;
      case Op::kLargeMatch:
        if (avail < 2) return stop(LzvnStop::kError);
        op_size = 2;
        lits = 0;
        match = size_t{s[1]} + 16;
        break;
      case Op::kNop:
        op_size = 1;
        lits = 0;
        match = 0;
        break;
      case Op::kEndOfStream:
        if (avail < kEndOfStreamSize) return stop(LzvnStop::kError);
        s += kEndOfStreamSize;
        return stop(LzvnStop::kEndOfStream);
      case Op::kInvalid:
      default:
        return stop(LzvnStop::kError);
    }
    if (avail < op_size + lits + 1) return stop(LzvnStop::kError);
    const uint8_t* lit = s + op_size;
    s += op_size + lits;

    const size_t room = static_cast<size_t>(d_end - d);
    if (room >= lits + match + kCopySlack && static_cast<size_t>(s_end - lit) >= 16 + lits) {
      // Fast path: room to copy in whole 16-byte steps on both sides.
      if (lits <= 16) {
        std::memcpy(d, lit, 16);
      } else {
        std::memcpy(d, lit, lits);
      }
      d += lits;
      if (match == 0) continue;
      if (distance == 0 || distance > static_cast<size_t>(d - out)) return stop(LzvnStop::kError);
      if (new_distance) prev_distance = distance;
      CopyMatchFast(d, distance, match);
      d += match;
      continue;
    }

    // Near either end: exact copies, and a partial copy when the output fills.
    if (lits > room) {
      std::memcpy(d, lit, room);
      d += room;
      return stop(LzvnStop::kOutputFull);
    }
    std::memcpy(d, lit, lits);
    d += lits;
    if (match == 0) continue;
    if (distance == 0 || distance > static_cast<size_t>(d - out)) return stop(LzvnStop::kError);
    if (new_distance) prev_distance = distance;
    const size_t match_room = static_cast<size_t>(d_end - d);
    if (match > match_room) {
      CopyMatchExact(d, distance, match_room);
      d += match_room;
      return stop(LzvnStop::kOutputFull);
    }
    CopyMatchExact(d, distance, match);
    d += match;
  }
}

}  // namespace skarvel::lzfse

size_t lzvn_decode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size) {
  using namespace skarvel::lzfse;
  // Seven bytes cannot hold the end-of-stream opcode; a room this small is
  // refused as well, whatever the stream.
  if (dst == nullptr || src == nullptr || src_size <= 7 || dst_size <= 7) return 0;
  const LzvnRun run = LzvnDecode(src, src_size, dst, 0, dst_size);
  return run.stop == LzvnStop::kEndOfStream ? run.out_pos : 0;
}
