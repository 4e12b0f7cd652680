#pragma once
// The hex dump that every listing shares.

#include <cstdint>
#include <cstdio>

namespace skarvel {

// Prints the caption (a printf format), then `length` bytes from `data` as
// lines of `bytes_per_line` bytes: "    %05u  ", " %02X" per byte (three
// spaces past the end), three spaces, then the printable characters ("."
// for "%" and every other byte, a space past the end). Returns `length`.
uint64_t HexDump(FILE* out, const uint8_t* data, uint64_t length, uint32_t bytes_per_line,
                 const char* caption, ...) __attribute__((format(printf, 5, 6)));

}  // namespace skarvel
