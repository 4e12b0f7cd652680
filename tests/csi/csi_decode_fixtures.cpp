#include "tests/csi/csi_decode_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "csi/csi_decode.h"
#include "lzfse/lzfse.h"

namespace skarvel::test {

const char* StreamFormName(StreamForm form) {
  switch (form) {
    case StreamForm::LzfseRaw:
      return "bvx- block";
    case StreamForm::LzvnLiteral:
      return "LZVN literals";
    case StreamForm::Lzfse:
      return "LZFSE encoder";
    case StreamForm::Lzvn:
      return "LZVN encoder";
  }
  return "???";
}

Bytes Compress(StreamForm form, const Bytes& data) {
  Bytes out;
  switch (form) {
    case StreamForm::LzfseRaw:
      AppendText(out, "bvx-");
      AppendU32LE(out, static_cast<uint32_t>(data.size()));
      AppendBytes(out, data);
      AppendText(out, "bvx$");
      return out;
    case StreamForm::LzvnLiteral:
      for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(data.size() - at, 271);
        if (n < 16) {
          AppendU8(out, static_cast<uint8_t>(0xE0 + n));
        } else {
          AppendU8(out, 0xE0);
          AppendU8(out, static_cast<uint8_t>(n - 16));
        }
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(at),
                   data.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
      }
      AppendU8(out, 0x06);
      AppendZeros(out, 7);
      return out;
    case StreamForm::Lzfse:
    case StreamForm::Lzvn: {
      out.resize(2 * data.size() + 64);
      std::vector<uint8_t> work(lzfse_encode_scratch_size());
      const size_t n =
          form == StreamForm::Lzfse
              ? lzfse_encode_buffer(out.data(), out.size(), data.data(), data.size(), work.data())
              : lzvn_encode_buffer(out.data(), out.size(), data.data(), data.size(), work.data());
      EXPECT_NE(n, 0u) << StreamFormName(form) << " of " << data.size() << " bytes";
      out.resize(n);
      return out;
    }
  }
  return out;
}

Bytes RunLengthStream(uint32_t width, const std::vector<std::vector<Run>>& rows) {
  Bytes s;
  AppendU32LE(s, 4);
  AppendU32LE(s, width);
  AppendU32LE(s, static_cast<uint32_t>(rows.size()));
  Bytes body;
  size_t offset = 12 + 4 * rows.size();
  for (const auto& row : rows) {
    AppendU32LE(s, static_cast<uint32_t>(offset + body.size()));
    for (const Run& run : row) {
      AppendU16LE(body, run.count);
      AppendU16LE(body, run.kind);
      AppendBytes(body, run.pixels);
    }
  }
  AppendBytes(s, body);
  return s;
}

Bytes PaletteImageData(const std::vector<uint32_t>& argb_entries, uint32_t bits, uint32_t width,
                       const std::vector<uint32_t>& indices) {
  Bytes d;
  AppendU32LE(d, 0xCAFEF00D);
  AppendU32LE(d, 1);
  AppendU16LE(d, static_cast<uint16_t>(argb_entries.size()));
  for (uint32_t e : argb_entries) {  // stored A, R, G, B
    AppendU8(d, static_cast<uint8_t>(e >> 24));
    AppendU8(d, static_cast<uint8_t>(e >> 16));
    AppendU8(d, static_cast<uint8_t>(e >> 8));
    AppendU8(d, static_cast<uint8_t>(e));
  }
  const size_t words_per_row = (width * bits + 15) / 16;
  for (size_t y = 0; y * width < indices.size(); ++y) {
    std::vector<uint16_t> words(words_per_row, 0);
    for (size_t x = 0; x < width; ++x) {
      const size_t bit = x * bits;  // counted from the high end of the row
      words[bit / 16] = static_cast<uint16_t>(words[bit / 16] |
                                              (indices[y * width + x] << (16 - bits - bit % 16)));
    }
    for (uint16_t w : words) AppendU16LE(d, w);
  }
  return d;
}

Bytes DeepmapUnit(const DeepmapSpec& recipe, const std::vector<Bytes>& streams) {
  Bytes body;
  AppendText(body, recipe.dmp2 ? "dmp2" : "dmap");
  AppendU8(body, recipe.method);
  AppendU8(body, recipe.chroma_shift);
  AppendU8(body, 10);
  AppendU8(body, recipe.format);
  if (recipe.dmp2) {
    AppendU16LE(body, recipe.width);
    AppendU16LE(body, recipe.band_height);
  }
  if (recipe.with_palette) {
    AppendU16LE(body, static_cast<uint16_t>(recipe.palette.size()));
    AppendU16LE(body, recipe.dmp2 ? recipe.palette_type : 0);
    for (uint32_t e : recipe.palette) AppendU32LE(body, e);
  }
  for (const Bytes& s : streams) {
    AppendU32LE(body, static_cast<uint32_t>(s.size()));
    AppendBytes(body, s);
  }
  Bytes unit;
  AppendU32LE(unit, recipe.dmp2 ? 1 : 5);
  AppendU32LE(unit, recipe.format);
  AppendU32LE(unit, static_cast<uint32_t>(body.size()));
  AppendU32LE(unit, 0);
  AppendBytes(unit, body);
  return unit;
}

Bytes PredictivePlanes(const Bytes& alpha, const Bytes& predictors,
                       const std::vector<int32_t>& residuals, size_t pad) {
  Bytes planes = alpha;
  AppendBytes(planes, predictors);
  Bytes high, low;
  for (int32_t r : residuals) {
    const uint32_t e = 2 * static_cast<uint32_t>(std::abs(r)) + (r < 0 ? 1 : 0);
    high.push_back(static_cast<uint8_t>(e >> 8));
    low.push_back(static_cast<uint8_t>(e));
  }
  AppendBytes(planes, high);
  AppendBytes(planes, low);
  while (pad > 1 && planes.size() % pad != 0) planes.push_back(0);
  return planes;
}

BOMBlock BlockOf(Bytes& bytes) {
  BOMBlock block;
  block.data = bytes.data();
  block.size = bytes.size();
  block.kind = BlockKind::RenditionValue;
  return block;
}

Decoded DecodeRecord(Bytes record) {
  Decoded d;
  const BOMBlock block = BlockOf(record);
  d.ok = CSI_DecodeImage(block, d.image);
  d.code = d.ok ? 0 : errno;
  return d;
}

Bytes PixelsOf(const Image& image) {
  return Bytes(image.pixels.data, image.pixels.data + image.pixels.size);
}

}  // namespace skarvel::test
