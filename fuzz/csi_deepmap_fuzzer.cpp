// Deepmap (method 10) chunks from the input. Bytes 0-1: width - 1 (0 to
// 511), byte 2: height - 1, byte 3: pixel format (bits 0-1) and chunk count
// (bits 2-4); the rest is the element's data: "KCBC" chunks, each holding
// one "dmap" unit.

#include <cstdint>
#include <span>

#include "fuzz/csi_fuzz_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t width = 1u + ((uint32_t{data[1]} << 8 | data[0]) & 511u);
  const uint32_t height = 1u + data[2];
  const uint32_t chunks = (data[3] >> 2) & 7u;
  const std::span<const uint8_t> rest(data + 4, size - 4);
  skarvel::fuzz::DecodeAndCheck(skarvel::fuzz::Record(skarvel::fuzz::FormatFrom(data[3]), width,
                                                      height, 4 * width, 10, chunks, rest));
  return 0;
}
