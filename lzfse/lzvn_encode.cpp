// LZVN encoding: a greedy-with-one-lookahead match finder over a 3-byte hash
// of four-way history lines, and the opcode writer. The choices below (gains,
// tie rule, literal backlog, opcode order) fix the exact output, which other
// tools' catalogs are compared against byte for byte.

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "lzfse/lzfse.h"
#include "lzfse/lzfse_internal.h"

namespace skarvel::lzfse {
namespace {

constexpr int64_t kMaxDistance = 65535;
constexpr size_t kMaxInput = 0x7FFFFFFF;  // positions are kept as int32
constexpr int64_t kLiteralBacklog = 400;  // pending literals that force output
constexpr size_t kEndOfStreamSize = 8;
// An opcode and its literals are written only when at least this many bytes
// would remain before the room kept for the end-of-stream opcode.
constexpr ptrdiff_t kRoomMargin = 10;

uint32_t Hash(uint32_t x) { return (((x & 0xFFFFFF) * 4161u) >> 12) & (kHashLines - 1); }

// Number of equal leading bytes (in memory order) of two 4-byte words.
int64_t EqualBytes(uint32_t a, uint32_t b) {
  const uint32_t diff = a ^ b;
  return diff == 0 ? 4 : std::countr_zero(diff) >> 3;
}

struct Match {
  int64_t start = 0;   // first byte of the match in the input
  int64_t length = 0;  // 0: no match
  int64_t distance = 0;
  int64_t gain = 0;  // bytes saved, as the encoder weighs it
  int64_t End() const { return start + length; }
};

struct Encoder {
  const uint8_t* src;
  int64_t n;
  uint8_t* out;
  uint8_t* limit;  // end of the room less the end-of-stream opcode
  bool failed = false;
  int64_t literal_start = 0;  // first input byte not yet written
  int64_t prev_distance = 0;

  // Reserves `size` bytes for an opcode and its literals.
  [[nodiscard]] bool Room(int64_t size) {
    if (failed || limit - out < size + kRoomMargin) failed = true;
    return !failed;
  }
  void Put(uint8_t b) { *out++ = b; }
  void PutLiterals(int64_t count) {
    std::memcpy(out, src + literal_start, static_cast<size_t>(count));
    out += count;
    literal_start += count;
  }

  // Writes `count` pending literals as literal-only opcodes: large ones of up
  // to 271 while more than 15 remain, then one small one.
  void Literals(int64_t count) {
    while (count > 15) {
      const int64_t chunk = std::min<int64_t>(count, 271);
      if (!Room(2 + chunk)) return;
      Put(0xE0);
      Put(static_cast<uint8_t>(chunk - 16));
      PutLiterals(chunk);
      count -= chunk;
    }
    if (count > 0) {
      if (!Room(1 + count)) return;
      Put(static_cast<uint8_t>(0xE0 + count));
      PutLiterals(count);
    }
  }

  // Writes the literals before `m` and the match itself.
  void Emit(const Match& m) {
    int64_t lits = m.start - literal_start;
    while (lits > 15) {
      const int64_t chunk = std::min<int64_t>(lits, 271);
      Literals(chunk);
      lits -= chunk;
    }
    if (lits > 3) {
      Literals(lits);
      lits = 0;
    }
    // Now 0..3 literals ride with the first opcode, whose (L, M) pairs are
    // limited: M up to 10 - 2L.
    int64_t rest = m.length;
    int64_t x = std::min(rest, 10 - 2 * lits);
    rest -= x;
    x -= 3;
    const int64_t d = m.distance;
    const auto head = static_cast<uint8_t>((lits << 6) | (x << 3));
    if (d == prev_distance) {
      if (lits == 0) {
        if (!Room(1)) return;
        Put(static_cast<uint8_t>(0xF0 + x + 3));
      } else {
        if (!Room(1 + lits)) return;
        Put(static_cast<uint8_t>(head | 6));
      }
    } else if (d < 1536) {
      if (!Room(2 + lits)) return;
      Put(static_cast<uint8_t>(head | (d >> 8)));
      Put(static_cast<uint8_t>(d & 0xFF));
    } else if (d >= 16384 || rest == 0 || (x + 3) + rest > 34) {
      if (!Room(3 + lits)) return;
      Put(static_cast<uint8_t>(head | 7));
      Store16(out, static_cast<uint16_t>(d));
      out += 2;
    } else {
      // Medium distance carries the whole match (up to 34).
      x += rest;
      rest = 0;
      if (!Room(3 + lits)) return;
      Put(static_cast<uint8_t>(0xA0 | (lits << 3) | (x >> 2)));
      Store16(out, static_cast<uint16_t>((d << 2) | (x & 3)));
      out += 2;
    }
    PutLiterals(lits);
    while (rest > 15) {
      const int64_t chunk = std::min<int64_t>(rest, 271);
      if (!Room(2)) return;
      Put(0xF0);
      Put(static_cast<uint8_t>(chunk - 16));
      rest -= chunk;
    }
    if (rest > 0) {
      if (!Room(1)) return;
      Put(static_cast<uint8_t>(0xF0 + rest));
    }
    prev_distance = d;
    literal_start = m.End();
  }

  // A candidate match at `pos` for the bytes at `c`, whose first `equal`
  // bytes (3 or 4) are known to match: extended forward in 4-byte steps while
  // they match whole, then backward down to the pending literals.
  Match Extend(int64_t c, int64_t distance, int64_t equal) const {
    Match m{.start = c, .length = equal, .distance = distance};
    int64_t end = c + equal;
    if (equal == 4) {
      // Steps of 4 bytes run while a whole step matched and end + 4 < n, so
      // the match cannot pass `cap`, the end after the last allowed step.
      // Comparing 8 bytes at a time up to it gives the same length sooner.
      const int64_t cap = end + (n - 4 > end ? (n - 4 - end + 3) / 4 * 4 : 0);
      int64_t stop = cap;
      while (end + 8 <= stop) {
        const uint64_t diff = Load64(src + end) ^ Load64(src + end - distance);
        if (diff != 0) {
          end += std::countr_zero(diff) >> 3;
          stop = end;  // mismatch found
          break;
        }
        end += 8;
      }
      while (end < stop && src[end] == src[end - distance]) ++end;
      m.length = end - c;
    }
    int64_t pos = c - distance;
    while (pos > 0 && m.start > literal_start && src[m.start - 1] == src[pos - 1]) {
      --pos;
      --m.start;
      ++m.length;
    }
    return m;
  }
};

// Keeps the better of two candidates: a higher gain, or the same gain
// reaching more than one byte further.
void Consider(Match& best, const Match& m) {
  if (best.length == 0 || m.gain > best.gain || (m.gain == best.gain && m.End() > best.End() + 1)) {
    best = m;
  }
}

}  // namespace

size_t LzvnEncode(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                  MatchTable& table) {
  if (dst_size < kEndOfStreamSize || src_size > kMaxInput) return 0;
  Encoder e{.src = src,
            .n = static_cast<int64_t>(src_size),
            .out = dst,
            .limit = dst + (dst_size - kEndOfStreamSize)};

  if (e.n >= 8) {
    std::memset(table.used, 0, sizeof table.used);
    // An untouched line reads as four entries for position 0.
    const uint32_t x0 = Load32(src);
    const MatchLine initial{.pos = {0, 0, 0, 0}, .value = {x0, x0, x0, x0}};
    Match pending;
    for (int64_t c = 0; c + 8 < e.n && !e.failed; ++c) {
      const uint32_t x = Load32(src + c);
      const uint32_t h = Hash(x);
      // The lines are spread over 512 KiB: start loading a later position's
      // line now so that the cache miss overlaps this position's work.
      __builtin_prefetch(&table.lines[Hash(Load32(src + c + 4))]);
      MatchLine& slot = table.lines[h];
      uint64_t& word = table.used[h >> 6];
      const uint64_t bit = uint64_t{1} << (h & 63);
      const bool fresh = (word & bit) == 0;
      word |= bit;
      if (c < e.literal_start) {  // inside a match already written: history only
        MatchLine_Push(slot, fresh ? initial : slot, static_cast<int32_t>(c), x);
        continue;
      }
      const MatchLine line = fresh ? initial : slot;
      MatchLine_Push(slot, line, static_cast<int32_t>(c), x);
      Match best;
      for (int k = 0; k < 4; ++k) {
        const int64_t equal = EqualBytes(line.value[k], x);
        const int64_t distance = c - line.pos[k];
        if (equal < 3 || distance < 1 || distance > kMaxDistance) continue;
        Match m = e.Extend(c, distance, equal);
        m.gain = m.length - (distance < 1536 ? 2 : 3);
        Consider(best, m);
      }
      if (e.prev_distance != 0 && c >= e.prev_distance) {
        const int64_t equal = EqualBytes(Load32(src + c - e.prev_distance), x);
        if (equal >= 3) {
          Match m = e.Extend(c, e.prev_distance, equal);
          m.gain = m.length - 1;
          Consider(best, m);
        }
      }

      if (best.length == 0) {
        if (c - e.literal_start >= kLiteralBacklog) {
          if (pending.length != 0) {
            e.Emit(pending);
            pending = Match{};
          } else {
            e.Literals(271);
          }
        }
      } else if (pending.length == 0) {
        pending = best;
      } else if (pending.End() <= best.start) {
        e.Emit(pending);
        pending = best;
      } else {
        // Overlapping: keep the better, write it now.
        if (best.gain > pending.gain) pending = best;
        e.Emit(pending);
        pending = Match{};
      }
    }
    // A match still pending at the end is dropped: its bytes go out as
    // literals.
  }
  e.Literals(e.n - e.literal_start);
  if (e.failed) return 0;
  // The end-of-stream opcode: 0x06 and seven zero bytes.
  std::memset(e.out, 0, kEndOfStreamSize);
  e.out[0] = 0x06;
  return static_cast<size_t>(e.out + kEndOfStreamSize - dst);
}

}  // namespace skarvel::lzfse

size_t lzvn_encode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                          void* work) {
  using namespace skarvel::lzfse;
  if (dst == nullptr || (src == nullptr && src_size != 0)) return 0;
  static const uint8_t kNothing[1] = {0};
  if (src == nullptr) src = kNothing;
  void* owned = nullptr;
  if (work == nullptr) {
    owned = std::malloc(sizeof(MatchTable) + kWorkAlignment);
    if (owned == nullptr) return 0;
    work = owned;
  }
  const size_t result =
      LzvnEncode(dst, dst_size, src, src_size, *static_cast<MatchTable*>(AlignWork(work)));
  std::free(owned);
  return result;
}
