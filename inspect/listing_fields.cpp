#include "inspect/listing_fields.h"

#include <cstring>

namespace skarvel {

bool Fields_Have(FieldReader& f, uint64_t offset, uint64_t length, const char* indent) {
  if (f.stopped) return false;
  if (!Range_Fits(offset, length, f.bytes.size())) {
    f.stopped = true;
    std::fprintf(f.out, "%s+ ??? TRUNCATED DATA\n", indent);
    return false;
  }
  if (offset + length > f.decoded) f.decoded = offset + length;
  return true;
}

void PrintCode(FILE* out, const char* prefix, const uint8_t* code, const char* suffix) {
  std::fprintf(out, "%s%c%c%c%c%s", prefix, CodeChar(code[0]), CodeChar(code[1]), CodeChar(code[2]),
               CodeChar(code[3]), suffix);
}

void PrintFieldText(FILE* out, std::span<const uint8_t> field, bool escape_newline) {
  const void* zero = std::memchr(field.data(), 0, field.size());
  size_t length = zero != nullptr
                      ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - field.data())
                      : field.size();
  const bool newline = escape_newline && length > 0 && field[length - 1] == '\n';
  if (newline) --length;
  std::fwrite(field.data(), 1, length, out);
  if (newline) std::fputs("\\n", out);
}

}  // namespace skarvel
