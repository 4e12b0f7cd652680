// Method 8, the palette image: one compressed stream per unit holding a small
// header, a palette of premultiplied A, R, G, B entries and rows of indices
// packed into 16-bit words, the first pixel of a word in its high bits.

#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "base/result.h"
#include "csi/csi_decode_internal.h"

namespace skarvel {

namespace {

constexpr uint32_t kPaletteMagic = 0xCAFEF00D;
constexpr uint64_t kPaletteHeaderSize = 10;
constexpr uint64_t kMaxPaletteEntries = 65535;

// Index of pixel x in a row of `bits`-wide indices.
uint32_t IndexAt(const uint8_t* row, uint64_t x, uint32_t bits) {
  switch (bits) {
    case 8:
      return row[x ^ 1];  // the even pixel is the word's high byte
    case 16:
      return uint32_t{row[2 * x]} | (uint32_t{row[2 * x + 1]} << 8);
    default: {
      const uint64_t p = x * bits;
      const uint32_t word = uint32_t{row[2 * (p / 16)]} | (uint32_t{row[2 * (p / 16) + 1]} << 8);
      return (word >> (16 - bits - p % 16)) & ((1u << bits) - 1);
    }
  }
}

}  // namespace

bool CSIDecode_PaletteImage(const CSIDecodeTarget& target, const CSIDecodeUnit& unit,
                            CSIDecodeWork& work) {
  // Entries are colour; nothing says how gray or wide records would use them.
  if (target.kind != CSIPixelKind::BGRA) return Fail(kErrUnsupported);
  const uint64_t width = target.width;
  const uint64_t rows = unit.rows;
  // The stream's length is not stored; its largest possible value (16-bit
  // indices, a full palette) bounds the decoding, one byte more shows a
  // stream that runs on.
  const uint64_t bound = kPaletteHeaderSize + 4 * kMaxPaletteEntries + 2 * width * rows;
  Buffer& scratch = work.planes;
  if (!CSIDecode_Reserve(scratch, bound + 1)) return false;
  uint64_t length = 0;
  if (!CSIDecode_Stream(unit.data, std::span<uint8_t>(scratch.data, bound + 1), length, work)) {
    return false;
  }
  const std::span<uint8_t> data(scratch.data, length);
  if (length < kPaletteHeaderSize || LoadU32LEAt(data, 0) != kPaletteMagic ||
      LoadU32LEAt(data, 4) != 1) {
    return Fail(EINVAL);
  }
  const uint32_t count = LoadU16LEAt(data, 8);
  if (count == 0) return Fail(EINVAL);
  uint32_t bits = 1;
  while ((1u << bits) < count) bits *= 2;
  const uint64_t row_bytes = (width * bits + 15) / 16 * 2;
  if (length != kPaletteHeaderSize + 4 * uint64_t{count} + row_bytes * rows) return Fail(EINVAL);

  // Turn the entries into output pixels in place: A, R, G, B -> B, G, R, A.
  uint8_t* palette = scratch.data + kPaletteHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = palette + 4 * i;
    const uint8_t a = e[0], r = e[1], g = e[2], b = e[3];
    e[0] = b;
    e[1] = g;
    e[2] = r;
    e[3] = a;
  }
  const uint8_t* indices = palette + 4 * uint64_t{count};
  uint8_t* out = target.pixels.data() + uint64_t{unit.y0} * width * 4;
  for (uint64_t y = 0; y < rows; ++y) {
    const uint8_t* row = indices + y * row_bytes;
    for (uint64_t x = 0; x < width; ++x) {
      const uint32_t index = IndexAt(row, x, bits);
      if (index >= count) return Fail(EINVAL);
      std::memcpy(out, palette + 4 * index, 4);
      out += 4;
    }
  }
  return true;
}

}  // namespace skarvel
