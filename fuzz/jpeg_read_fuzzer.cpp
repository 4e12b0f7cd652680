// JPEG reading from memory: any input either fails with a code or gives an
// image that follows the stride rule with zero padding.

#include <cstddef>
#include <cstdint>

#include "fuzz/image_read_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return skarvel::fuzz::CheckImageRead(data, size, skarvel::ImageFileType::Jpeg);
}
