#pragma once
// Pieces shared by the pixel decoders of csi_decode*.cpp. Not for use outside
// csi/.

#include <cstdint>
#include <span>

#include "base/buffer.h"

namespace skarvel {

// The stored pixel formats that carry decodable pixels.
enum class CSIPixelKind : uint8_t {
  BGRA,  // "BGRA": blue, green, red, alpha
  GA8,   // " 8AG": gray, alpha
  WBGR,  // "WBGR": four f16 in memory order red, green, blue, alpha
};

// The picture being decoded by one of the newer methods: tightly packed rows
// of the output format ("BGRA" for BGRA and WBGR records, " 8AG" for GA8).
struct CSIDecodeTarget {
  std::span<uint8_t> pixels;  // width * height * bytes_per_pixel bytes
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bytes_per_pixel = 0;  // 4 or 2
  CSIPixelKind kind = CSIPixelKind::BGRA;
};

// One unit of an element: a chunk's data (or the whole element's data when it
// is not chunked) and the band of rows it covers.
struct CSIDecodeUnit {
  std::span<const uint8_t> data;
  uint32_t y0 = 0;
  uint32_t rows = 0;
};

// Work areas of one decoding, kept for all its units and released with it.
struct CSIDecodeWork {
  Buffer planes;  // a decoded stream, then the rows a reconstruction needs
  Buffer lzfse;   // the LZFSE decoder's tables, allocated on first use
};

// Grows `scratch` so that it holds at least `size` bytes (contents are not
// kept or initialised). False with ENOMEM.
[[nodiscard]] bool CSIDecode_Reserve(Buffer& scratch, uint64_t size);

// Decodes one compressed stream into `dst`: an LZFSE stream when it begins
// "bvx", otherwise a raw LZVN stream. `decoded` is the number of bytes
// written. False with EINVAL when the stream is malformed, does not end or
// does not fit (a stream that exactly fills `dst` counts as fitting), ENOMEM
// when the LZFSE work area cannot be allocated.
[[nodiscard]] bool CSIDecode_Stream(std::span<const uint8_t> src, std::span<uint8_t> dst,
                                    uint64_t& decoded, CSIDecodeWork& work);

// The 8-bit value of an f16 channel: round(255 * v) clamped to 0..255 (NaN
// gives 0).
uint8_t CSIDecode_HalfTo8(uint16_t half);

// Method 8: one palette-image stream for the unit's rows. EINVAL on malformed
// data, kErrUnsupported for formats it has no rule for.
[[nodiscard]] bool CSIDecode_PaletteImage(const CSIDecodeTarget& target, const CSIDecodeUnit& unit,
                                          CSIDecodeWork& work);
// Methods 10 ("dmap" unit cut into tiles) and 11 ("dmp2" unit cut into bands).
[[nodiscard]] bool CSIDecode_Deepmap(const CSIDecodeTarget& target, const CSIDecodeUnit& unit,
                                     bool banded, CSIDecodeWork& work);

}  // namespace skarvel
