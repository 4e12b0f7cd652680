// Pixel compression and decoding as a round trip: the first bytes choose the
// method (0 to 4), the pixel format, the size, the row padding and the chunk
// count, the rest fills the pixels. Whatever compresses must decode, inside a
// record of that geometry, to the same rows.
//
// Input: method, format, chunk count, width, height, padding (one byte
// each), then the pixels (repeated when short).

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "base/buffer.h"
#include "csi/csi_build.h"
#include "csi/csi_decode.h"
#include "fuzz/csi_fuzz_record.h"
#include "image/image.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "csi_compress_round_trip fuzzer: %s\n", what);
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace skarvel;
  constexpr size_t kHead = 6;
  if (size < kHead) return 0;
  const uint32_t method = data[0] % 5;
  const bool gray = (data[1] & 1) != 0;
  const char* format = gray ? " 8AG" : "BGRA";
  const uint32_t bpp = gray ? 2 : 4;
  // Up to 20 chunks: more than the rows of a small picture now and then.
  const uint32_t chunk_count = data[2] % 21;
  const uint32_t width = 1 + data[3] % 96;
  const uint32_t height = 1 + data[4] % 96;
  const uint32_t stride = width * bpp + data[5] % 17;
  const std::span<const uint8_t> fill(data + kHead, size - kHead);

  std::vector<uint8_t> pixels(size_t{stride} * height);
  for (size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = fill.empty() ? 0 : fill[i % fill.size()];
  }

  Buffer compressed;
  if (!CSI_CompressPixels(pixels, width, height, stride, bpp, static_cast<CompressionMethod>(method),
                          chunk_count, compressed)) {
    // Only a band without rows (more chunks than rows) or a band the codec
    // could not fit in twice its raw size may be refused.
    if (errno != EINVAL) Broken("compression failed with other than EINVAL");
    if (compressed.size != 0) Broken("a failed compression left data");
    if (chunk_count <= height && method < 2) Broken("uncompressed or RLE pixels refused");
    return 0;
  }

  // An uncompressed stream holds the rows without their padding: its record
  // says so in its bytes per line.
  const uint32_t bytes_per_line = method == 0 ? width * bpp : stride;
  const std::vector<uint8_t> record =
      fuzz::Record(format, width, height, bytes_per_line, method,
                   chunk_count != 0 ? chunk_count : static_cast<uint32_t>(compressed.size),
                   compressed.bytes());
  BOMBlock block;
  block.data = const_cast<uint8_t*>(record.data());
  block.size = record.size();
  Image image;
  if (!CSI_DecodeImage(block, image)) Broken("compressed pixels do not decode");
  if (image.width != static_cast<int32_t>(width) || image.height != static_cast<int32_t>(height) ||
      std::memcmp(image.pixel_format, format, 4) != 0) {
    Broken("decoded picture has another shape");
  }
  if (image.stride < static_cast<int32_t>(width * bpp) ||
      image.pixels.size < uint64_t{static_cast<uint32_t>(image.stride)} * height) {
    Broken("decoded rows do not hold the picture");
  }
  for (uint32_t y = 0; y < height; ++y) {
    if (std::memcmp(image.pixels.data + uint64_t{static_cast<uint32_t>(image.stride)} * y,
                    pixels.data() + uint64_t{stride} * y, size_t{width} * bpp) != 0) {
      Broken("decoded pixels differ");
    }
  }
  return 0;
}
