#include "inspect/hex_dump.h"

#include <cstdarg>

namespace skarvel {

uint64_t HexDump(FILE* out, const uint8_t* data, uint64_t length, uint32_t bytes_per_line,
                 const char* caption, ...) {
  va_list args;
  va_start(args, caption);
  std::vfprintf(out, caption, args);
  va_end(args);
  if (bytes_per_line == 0) return length;
  for (uint64_t line = 0; line < length; line += bytes_per_line) {
    std::fprintf(out, "    %05u  ", static_cast<unsigned>(line));
    for (uint32_t k = 0; k < bytes_per_line; ++k) {
      if (line + k < length) {
        std::fprintf(out, " %02X", data[line + k]);
      } else {
        std::fputs("   ", out);
      }
    }
    std::fputs("   ", out);
    for (uint32_t k = 0; k < bytes_per_line; ++k) {
      if (line + k < length) {
        const uint8_t c = data[line + k];
        std::fputc(c >= 0x20 && c < 0x7F && c != '%' ? c : '.', out);
      } else {
        std::fputc(' ', out);
      }
    }
    std::fputc('\n', out);
  }
  return length;
}

}  // namespace skarvel
