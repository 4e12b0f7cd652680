#pragma once
// Shared by the picture-reading fuzz targets: any input either fails with a
// code or gives an image that follows the stride rule with zero padding.

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/image.h"
#include "image/image_file.h"

namespace skarvel::fuzz {

inline int CheckImageRead(const uint8_t* data, size_t size, ImageFileType type) {
  // Both kinds of layout the program reads into: colour and gray.
  const char* format = size % 2 == 0 ? "BGRA" : " 8AG";
  const int n = size % 2 == 0 ? 4 : 2;
  Image image;
  if (!Image_ReadMemory(std::span<const uint8_t>(data, size), type, format, image)) return 0;
  if (image.width <= 0 || image.height <= 0 ||
      image.stride != Image_StrideFor(image.width, n) ||
      image.pixels.size != uint64_t(image.height) * uint64_t(image.stride)) {
    __builtin_trap();
  }
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + int64_t{y} * image.stride;
    for (int32_t b = image.width * n; b < image.stride; ++b) {
      if (row[b] != 0) __builtin_trap();
    }
  }
  return 0;
}

}  // namespace skarvel::fuzz
