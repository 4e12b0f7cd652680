// Palette-image (method 8) data from the input. Byte 0: width - 1, byte 1:
// height - 1, byte 2: pixel format; the rest is the element's data (one
// stream, LZFSE or raw LZVN).

#include <cstdint>
#include <span>

#include "fuzz/csi_fuzz_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t width = 1u + data[0];
  const uint32_t height = 1u + data[1];
  const std::span<const uint8_t> rest(data + 3, size - 3);
  skarvel::fuzz::DecodeAndCheck(skarvel::fuzz::Record(skarvel::fuzz::FormatFrom(data[2]), width,
                                                      height, 4 * width, 8,
                                                      static_cast<uint32_t>(rest.size()), rest));
  return 0;
}
