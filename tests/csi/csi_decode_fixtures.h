#pragma once
// Small hand-made inputs for the pixel decoder tests: compressed streams in
// the forms the decoder tells apart, run-length streams, and the inner
// layouts of the palette image and the deepmaps. Records and elements come
// from tests/support/csi_record_builder.h.

#include <cstdint>
#include <string_view>
#include <vector>

#include "bom/bom_store.h"
#include "image/image.h"
#include "tests/support/byte_patch.h"

namespace skarvel::test {

// How a stream inside an element is compressed.
enum class StreamForm {
  LzfseRaw,     // "bvx-" block + "bvx$", made here
  LzvnLiteral,  // raw LZVN of literal opcodes + end of stream, made here
  Lzfse,        // lzfse_encode_buffer
  Lzvn,         // lzvn_encode_buffer
};
const char* StreamFormName(StreamForm form);
Bytes Compress(StreamForm form, const Bytes& data);

// A run-length stream: (count, kind, pixel bytes) runs for each row. A fill
// run's pixel is given once.
struct Run {
  uint16_t count = 0;
  uint16_t kind = 0;
  Bytes pixels;
};
Bytes RunLengthStream(uint32_t width, const std::vector<std::vector<Run>>& rows);

// The decompressed palette image: magic, version, entries (A, R, G, B each),
// then `rows` of indices packed `bits` wide into 16-bit words, first pixel
// in the high bits, rows padded to a whole word.
Bytes PaletteImageData(const std::vector<uint32_t>& argb_entries, uint32_t bits, uint32_t width,
                       const std::vector<uint32_t>& indices);

// A deepmap unit: wrapper, "dmap"/"dmp2" header, optional palette, then one
// (count, stream) pair per stream.
struct DeepmapSpec {
  bool dmp2 = false;
  uint8_t method = 3;  // 1 raw, 2 predictive, 3 plain, 4 palette
  uint8_t chroma_shift = 1;
  uint8_t format = 4;             // 2 gray + alpha, 4 BGRA, 20 wide
  uint16_t width = 0;             // dmp2
  uint16_t band_height = 0;       // dmp2
  uint16_t palette_type = 4;      // dmp2; "dmap" writes 0
  std::vector<uint32_t> palette;  // entries as four stored bytes, little-endian
  bool with_palette = false;
};
Bytes DeepmapUnit(const DeepmapSpec& recipe, const std::vector<Bytes>& streams);

// Predictive planes: optional alpha plane, one predictor per row, then the
// residuals (sign and magnitude) as high and low planes, zero padding up to
// a multiple of `pad`.
Bytes PredictivePlanes(const Bytes& alpha, const Bytes& predictors,
                       const std::vector<int32_t>& residuals, size_t pad);

// A block viewing `bytes` (which must outlive it).
BOMBlock BlockOf(Bytes& bytes);

// CSI_DecodeImage on a record, with its result code.
struct Decoded {
  bool ok = false;
  int code = 0;
  Image image;
};
Decoded DecodeRecord(Bytes record);
Bytes PixelsOf(const Image& image);

}  // namespace skarvel::test
