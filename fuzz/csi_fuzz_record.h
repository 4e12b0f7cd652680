#pragma once
// Shared by the CSI decoding fuzz targets: wraps element data in a CSI record
// of a small geometry, decodes it, and checks what a successful decoding
// promises (a buffer covering stride x height, a stride covering the row).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "bom/bom_store.h"
#include "csi/csi_decode.h"

namespace skarvel::fuzz {

inline void PutU32At(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// "ISTC" header, one bytes-per-line subblock, then an "MLEC" element with
// `method` whose fourth word is `count` and whose data is `data`.
inline std::vector<uint8_t> Record(const char* format, uint32_t width, uint32_t height,
                                   uint32_t bytes_per_line, uint32_t method, uint32_t count,
                                   std::span<const uint8_t> data) {
  constexpr size_t kElementAt = 184 + 12;
  std::vector<uint8_t> r(kElementAt + 16 + data.size(), 0);
  std::memcpy(r.data(), "ISTC", 4);
  PutU32At(r, 4, 1);
  PutU32At(r, 12, width);
  PutU32At(r, 16, height);
  PutU32At(r, 20, 100);
  std::memcpy(r.data() + 24, format, 4);
  PutU32At(r, 28, 1);
  PutU32At(r, 36, 12);
  PutU32At(r, 168, 12);  // all subblocks
  PutU32At(r, 172, 1);
  PutU32At(r, 180, static_cast<uint32_t>(16 + data.size()));
  PutU32At(r, 184, 1007);
  PutU32At(r, 188, 4);
  PutU32At(r, 192, bytes_per_line);
  std::memcpy(r.data() + kElementAt, "MLEC", 4);
  PutU32At(r, kElementAt + 8, method);
  PutU32At(r, kElementAt + 12, count);
  if (!data.empty()) std::memcpy(r.data() + kElementAt + 16, data.data(), data.size());
  return r;
}

// Decodes the record held in exactly `size` heap bytes; on success checks the
// result's shape and that its buffer covers stride x height.
inline void DecodeAndCheck(uint8_t* record, size_t size) {
  BOMBlock block;
  block.data = record;
  block.size = size;
  Image image;
  if (!CSI_DecodeImage(block, image)) {
    if (image.pixels.data != nullptr) std::abort();
    return;
  }
  const int bpp = image.pixel_format[0] == ' ' ? 2 : 4;
  if (image.width <= 0 || image.height <= 0 || image.stride < image.width * bpp) std::abort();
  const uint64_t covered = uint64_t(image.stride) * uint64_t(image.height);
  if (image.pixels.size < covered) std::abort();
  // The first and the last byte of the picture: the sanitizers see a block
  // that is too short.
  volatile uint8_t edge = image.pixels.data[0];
  edge = image.pixels.data[covered - 1];
  (void)edge;
}

// The same for a record built in a vector: copied to a block of exactly its size.
inline void DecodeAndCheck(const std::vector<uint8_t>& record) {
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(record.size() ? record.size() : 1));
  if (copy == nullptr) return;
  if (!record.empty()) std::memcpy(copy, record.data(), record.size());
  DecodeAndCheck(copy, record.size());
  std::free(copy);
}

// A pixel format chosen by two bits of a byte.
inline const char* FormatFrom(uint8_t selector) {
  switch (selector & 3) {
    case 0:
      return "BGRA";
    case 1:
      return " 8AG";
    case 2:
      return "WBGR";
    default:
      return "BGRA";
  }
}

}  // namespace skarvel::fuzz
