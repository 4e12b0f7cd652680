// Deepmap2 (method 11) units from the input. Bytes 0-1: width - 1 (0 to
// 511), byte 2: height - 1, byte 3: pixel format; the rest is the element's
// data: one "dmp2" unit.

#include <cstdint>
#include <span>

#include "fuzz/csi_fuzz_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t width = 1u + ((uint32_t{data[1]} << 8 | data[0]) & 511u);
  const uint32_t height = 1u + data[2];
  const std::span<const uint8_t> rest(data + 4, size - 4);
  skarvel::fuzz::DecodeAndCheck(skarvel::fuzz::Record(skarvel::fuzz::FormatFrom(data[3]), width,
                                                      height, 4 * width, 11,
                                                      static_cast<uint32_t>(rest.size()), rest));
  return 0;
}
