#pragma once
// Bounded field access shared by the block and rendition printers. Every
// field is checked against its block before it is printed; the first field
// that does not fit prints one "??? TRUNCATED DATA" line and stops the
// decoder, which then reports only the bytes it accounted for.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/bytes.h"

namespace skarvel {

struct FieldReader {
  FILE* out = nullptr;
  std::span<const uint8_t> bytes;
  uint64_t decoded = 0;  // end of the furthest field read
  bool stopped = false;
};

// True when [offset, offset + length) lies in the bytes (and the reader has
// not stopped). Otherwise prints `indent` + "+ ??? TRUNCATED DATA" once.
[[nodiscard]] bool Fields_Have(FieldReader& f, uint64_t offset, uint64_t length, const char* indent);
// Field loads; the caller has checked the range with Fields_Have.
inline uint32_t Fields_U32(const FieldReader& f, uint64_t offset) {
  return LoadU32LEAt(f.bytes, offset);
}
inline uint16_t Fields_U16(const FieldReader& f, uint64_t offset) {
  return LoadU16LEAt(f.bytes, offset);
}
inline int32_t Fields_I32(const FieldReader& f, uint64_t offset) {
  return static_cast<int32_t>(LoadU32LEAt(f.bytes, offset));
}

// True when the four bytes at `offset` lie in `bytes` and are `code`.
[[nodiscard]] inline bool CodeAt(std::span<const uint8_t> bytes, uint64_t offset,
                                 const char* code) {
  return Range_Fits(offset, 4, bytes.size()) && std::memcmp(bytes.data() + offset, code, 4) == 0;
}

// A byte of a four-character code as the listings show it: itself when it is
// printable ASCII, "?" otherwise.
[[nodiscard]] inline int CodeChar(uint8_t c) { return c >= 0x20 && c < 0x7F ? c : '?'; }
// Prints `prefix`, the four code characters at `code`, then `suffix`.
void PrintCode(FILE* out, const char* prefix, const uint8_t* code, const char* suffix);
// Prints the text of a fixed field: up to its first zero byte or the end of
// the field. With `escape_newline` a final newline shows as backslash, n.
void PrintFieldText(FILE* out, std::span<const uint8_t> field, bool escape_newline);

}  // namespace skarvel
