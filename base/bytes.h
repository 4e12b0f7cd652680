#pragma once
// Byte access: fixed-order loads and stores, little-endian overlay fields, a
// sticky bounds-checked reader and the one range predicate of the tree.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace skarvel {

// True when [off, off + len) lies inside a range of `size` bytes. Written as a
// subtraction so that it cannot overflow.
constexpr bool Range_Fits(uint64_t off, uint64_t len, uint64_t size) {
  return off <= size && len <= size - off;
}

constexpr uint16_t LoadU16LE(std::span<const uint8_t, 2> b) {
  return static_cast<uint16_t>(uint32_t{b[0]} | (uint32_t{b[1]} << 8));
}
constexpr uint16_t LoadU16BE(std::span<const uint8_t, 2> b) {
  return static_cast<uint16_t>((uint32_t{b[0]} << 8) | uint32_t{b[1]});
}
constexpr uint32_t LoadU32LE(std::span<const uint8_t, 4> b) {
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}
constexpr uint32_t LoadU32BE(std::span<const uint8_t, 4> b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}
constexpr uint64_t LoadU64LE(std::span<const uint8_t, 8> b) {
  return uint64_t{LoadU32LE(b.first<4>())} | (uint64_t{LoadU32LE(b.last<4>())} << 32);
}
constexpr uint64_t LoadU64BE(std::span<const uint8_t, 8> b) {
  return (uint64_t{LoadU32BE(b.first<4>())} << 32) | uint64_t{LoadU32BE(b.last<4>())};
}

constexpr void StoreU16LE(std::span<uint8_t, 2> b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void StoreU16BE(std::span<uint8_t, 2> b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v >> 8);
  b[1] = static_cast<uint8_t>(v);
}
constexpr void StoreU32LE(std::span<uint8_t, 4> b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
  b[2] = static_cast<uint8_t>(v >> 16);
  b[3] = static_cast<uint8_t>(v >> 24);
}
constexpr void StoreU32BE(std::span<uint8_t, 4> b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v >> 24);
  b[1] = static_cast<uint8_t>(v >> 16);
  b[2] = static_cast<uint8_t>(v >> 8);
  b[3] = static_cast<uint8_t>(v);
}

// Offset forms over a larger range. The caller has checked the range; with
// _GLIBCXX_ASSERTIONS a wrong offset still stops at the subspan check.
inline uint16_t LoadU16LEAt(std::span<const uint8_t> s, uint64_t off) {
  return LoadU16LE(s.subspan(off).first<2>());
}
inline uint32_t LoadU32LEAt(std::span<const uint8_t> s, uint64_t off) {
  return LoadU32LE(s.subspan(off).first<4>());
}
inline uint16_t LoadU16BEAt(std::span<const uint8_t> s, uint64_t off) {
  return LoadU16BE(s.subspan(off).first<2>());
}
inline uint32_t LoadU32BEAt(std::span<const uint8_t> s, uint64_t off) {
  return LoadU32BE(s.subspan(off).first<4>());
}
inline void StoreU16LEAt(std::span<uint8_t> s, uint64_t off, uint16_t v) {
  StoreU16LE(s.subspan(off).first<2>(), v);
}
inline void StoreU32LEAt(std::span<uint8_t> s, uint64_t off, uint32_t v) {
  StoreU32LE(s.subspan(off).first<4>(), v);
}
inline void StoreU16BEAt(std::span<uint8_t> s, uint64_t off, uint16_t v) {
  StoreU16BE(s.subspan(off).first<2>(), v);
}
inline void StoreU32BEAt(std::span<uint8_t> s, uint64_t off, uint32_t v) {
  StoreU32BE(s.subspan(off).first<4>(), v);
}

// Host-order 16/32-bit access for blocks that are kept in host order while a
// catalog is open (BOM tree headers and nodes). Unaligned-safe.
inline uint32_t LoadU32Host(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint16_t LoadU16Host(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreU32Host(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }
inline void StoreU16Host(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }

// Little-endian fields for overlay structs of records used in place (CSI
// header, CARHEADER, ...). Byte arrays only: alignment 1, no native integers.
struct LE16 {
  uint8_t b[2];
};
struct LE32 {
  uint8_t b[4];
};
static_assert(sizeof(LE16) == 2 && alignof(LE16) == 1);
static_assert(sizeof(LE32) == 4 && alignof(LE32) == 1);

constexpr uint16_t Get(const LE16& f) { return LoadU16LE(std::span<const uint8_t, 2>(f.b)); }
constexpr uint32_t Get(const LE32& f) { return LoadU32LE(std::span<const uint8_t, 4>(f.b)); }
constexpr void Set(LE16& f, uint16_t v) { StoreU16LE(std::span<uint8_t, 2>(f.b), v); }
constexpr void Set(LE32& f, uint32_t v) { StoreU32LE(std::span<uint8_t, 4>(f.b), v); }

// A sticky reader: every read past the end returns 0, sets `failed` and leaves
// `pos` unchanged. Read all the fields, then test `failed` once.
struct ByteReader {
  std::span<const uint8_t> data;
  uint64_t pos = 0;
  bool failed = false;
};

uint8_t ByteReader_U8(ByteReader& r);
uint16_t ByteReader_U16LE(ByteReader& r);
uint16_t ByteReader_U16BE(ByteReader& r);
uint32_t ByteReader_U32LE(ByteReader& r);
uint32_t ByteReader_U32BE(ByteReader& r);
uint64_t ByteReader_U64LE(ByteReader& r);
// The next `n` bytes as a view, or an empty span (and failed) when fewer remain.
std::span<const uint8_t> ByteReader_Bytes(ByteReader& r, uint64_t n);
// Moves to an absolute position; false (and failed) when beyond the end.
[[nodiscard]] bool ByteReader_Seek(ByteReader& r, uint64_t pos);
[[nodiscard]] bool ByteReader_Skip(ByteReader& r, uint64_t n);
[[nodiscard]] inline uint64_t ByteReader_Remaining(const ByteReader& r) {
  return r.data.size() - r.pos;
}

}  // namespace skarvel
