#include "base/bytes.h"

namespace skarvel {

namespace {

// Returns the next n bytes and advances, or nullptr (sticky failure).
const uint8_t* Take(ByteReader& r, uint64_t n) {
  if (r.failed || !Range_Fits(r.pos, n, r.data.size())) {
    r.failed = true;
    return nullptr;
  }
  const uint8_t* p = r.data.data() + r.pos;
  r.pos += n;
  return p;
}

}  // namespace

uint8_t ByteReader_U8(ByteReader& r) {
  const uint8_t* p = Take(r, 1);
  return p ? p[0] : 0;
}

uint16_t ByteReader_U16LE(ByteReader& r) {
  const uint8_t* p = Take(r, 2);
  return p ? LoadU16LE(std::span<const uint8_t, 2>(p, 2)) : 0;
}

uint16_t ByteReader_U16BE(ByteReader& r) {
  const uint8_t* p = Take(r, 2);
  return p ? LoadU16BE(std::span<const uint8_t, 2>(p, 2)) : 0;
}

uint32_t ByteReader_U32LE(ByteReader& r) {
  const uint8_t* p = Take(r, 4);
  return p ? LoadU32LE(std::span<const uint8_t, 4>(p, 4)) : 0;
}

uint32_t ByteReader_U32BE(ByteReader& r) {
  const uint8_t* p = Take(r, 4);
  return p ? LoadU32BE(std::span<const uint8_t, 4>(p, 4)) : 0;
}

uint64_t ByteReader_U64LE(ByteReader& r) {
  const uint8_t* p = Take(r, 8);
  return p ? LoadU64LE(std::span<const uint8_t, 8>(p, 8)) : 0;
}

std::span<const uint8_t> ByteReader_Bytes(ByteReader& r, uint64_t n) {
  const uint8_t* p = Take(r, n);
  return p ? std::span<const uint8_t>(p, n) : std::span<const uint8_t>();
}

bool ByteReader_Seek(ByteReader& r, uint64_t pos) {
  if (r.failed || pos > r.data.size()) {
    r.failed = true;
    return false;
  }
  r.pos = pos;
  return true;
}

bool ByteReader_Skip(ByteReader& r, uint64_t n) { return Take(r, n) != nullptr; }

}  // namespace skarvel
