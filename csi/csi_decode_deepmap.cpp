// Methods 10 and 11, the deepmaps. A unit (a chunk for method 10, the whole
// element for method 11) is a 16-byte wrapper, a "dmap" / "dmp2" header, an
// optional palette and a sequence of (u32 byte count, compressed stream)
// pairs: one per tile of at most 256 x 256 pixels ("dmap") or one per band of
// full-width rows ("dmp2"). Each stream holds the planes of its rectangle,
// which is reconstructed on its own:
//   plain (1, 3)     pixels as stored, interleaved;
//   predictive (2)   alpha plane, one predictor byte per row, then the high and
//                    low bytes of sign-and-magnitude residuals, component-
//                    interleaved; colour is carried as Y, u, v;
//   palette (4)      alpha and/or index planes over a palette of up to 256.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/bytes.h"
#include "base/result.h"
#include "csi/csi_decode_internal.h"

namespace skarvel {

namespace {

constexpr uint32_t kTileSize = 256;

enum InnerMethod : uint8_t {
  kInnerRaw = 1,
  kInnerPredictive = 2,
  kInnerPlain = 3,
  kInnerPalette = 4,
};

// What a deepmap pixel format holds.
struct DeepFormat {
  uint32_t components = 0;   // colour components: 1 gray, 3 colour
  bool alpha = false;        // an alpha plane / channel exists
  uint32_t plain_bytes = 0;  // bytes per pixel of plain data
};

bool FormatFor(uint8_t code, CSIPixelKind kind, DeepFormat& format) {
  switch (code) {
    case 1:
      format = {1, false, 1};
      break;
    case 2:
      format = {1, true, 2};
      break;
    case 3:
      format = {3, false, 3};
      break;
    case 4:
      format = {3, true, 4};
      break;
    case 20:
      format = {3, true, 8};
      break;
    default:
      return Fail(kErrUnsupported);
  }
  const bool matches = kind == CSIPixelKind::GA8    ? format.components == 1
                       : kind == CSIPixelKind::WBGR ? code == 20
                                                    : code == 3 || code == 4;
  return matches ? true : Fail(EINVAL);
}

struct Unit {
  bool banded = false;  // "dmp2"
  uint8_t method = 0;
  uint8_t chroma_shift = 0;
  DeepFormat format;
  uint32_t band_height = 0;
  uint32_t palette_count = 0;
  uint32_t palette_type = 0;  // "dmp2": 4 index plane only, 3 alpha + index
  const uint8_t* palette = nullptr;
};

// A rectangle of the output, in output pixels.
struct Rect {
  uint64_t x0 = 0;
  uint64_t y0 = 0;
  uint64_t w = 0;
  uint64_t h = 0;
};

uint8_t Clamp8(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v); }

// A wide colour value in units of 1/512 to 8 bits: round(255 * v / 512).
uint8_t Wide8(int32_t v) { return Clamp8((255 * v + 256) >> 9); }

int32_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)); }

uint8_t* OutPixel(const CSIDecodeTarget& t, uint64_t x, uint64_t y) {
  return t.pixels.data() + (y * t.width + x) * t.bytes_per_pixel;
}

// ---- plain -----------------------------------------------------------------

void EmitPlain(const CSIDecodeTarget& t, const Unit& u, const Rect& r, const uint8_t* in) {
  const uint32_t pb = u.format.plain_bytes;
  for (uint64_t y = 0; y < r.h; ++y) {
    uint8_t* out = OutPixel(t, r.x0, r.y0 + y);
    const uint8_t* row = in + y * r.w * pb;
    if (pb == t.bytes_per_pixel) {  // already in the output layout
      std::memcpy(out, row, r.w * pb);
      continue;
    }
    for (uint64_t x = 0; x < r.w; ++x, out += t.bytes_per_pixel, row += pb) {
      switch (pb) {
        case 1:  // gray
          out[0] = row[0];
          out[1] = 255;
          break;
        case 3:  // blue, green, red
          std::memcpy(out, row, 3);
          out[3] = 255;
          break;
        default: {  // four f16: red, green, blue, alpha
          const std::span<const uint8_t, 8> h(row, 8);
          out[0] = CSIDecode_HalfTo8(LoadU16LE(h.subspan<4, 2>()));
          out[1] = CSIDecode_HalfTo8(LoadU16LE(h.subspan<2, 2>()));
          out[2] = CSIDecode_HalfTo8(LoadU16LE(h.subspan<0, 2>()));
          out[3] = CSIDecode_HalfTo8(LoadU16LE(h.subspan<6, 2>()));
          break;
        }
      }
    }
  }
}

// ---- palette ---------------------------------------------------------------

bool EmitPalette(const CSIDecodeTarget& t, const Unit& u, const Rect& r, const uint8_t* in) {
  const uint64_t n = r.w * r.h;
  const bool has_alpha = !u.banded || u.palette_type == 3;
  const uint8_t* alpha = has_alpha ? in : nullptr;
  const uint8_t* index = has_alpha ? in + n : in;
  for (uint64_t y = 0; y < r.h; ++y) {
    uint8_t* out = OutPixel(t, r.x0, r.y0 + y);
    for (uint64_t x = 0; x < r.w; ++x, out += 4) {
      const uint64_t i = y * r.w + x;
      if (index[i] >= u.palette_count) return Fail(EINVAL);
      std::memcpy(out, u.palette + 4 * index[i], 4);
      // The entry's fourth byte is not the alpha when an alpha plane exists.
      if (alpha != nullptr) out[3] = alpha[i];
    }
  }
  return true;
}

// ---- predictive ------------------------------------------------------------

// Reconstructs one row of C-component values into `cur` from the residuals
// of that row and the previous row `above`.
template <uint32_t C>
void PredictRow(uint32_t p, const uint8_t* high, const uint8_t* low, const int32_t* above,
                int32_t* cur, uint64_t w) {
  const uint64_t n = w * C;
  auto residual = [&](uint64_t s) {
    const int32_t e = (int32_t{high[s]} << 8) | low[s];
    return (e & 1) != 0 ? -(e >> 1) : e >> 1;
  };
  switch (p) {
    case 0:
      for (uint64_t s = 0; s < n; ++s) cur[s] = Wrap16(residual(s));
      break;
    case 1:
      for (uint32_t c = 0; c < C; ++c) cur[c] = Wrap16(residual(c) + above[c]);
      for (uint64_t x = 1; x < w; ++x) {
        const uint64_t s = x * C;
        const int32_t up = above[s], left = cur[s - C], diagonal = above[s - C];
        const bool use_left = std::abs(up - diagonal) <= std::abs(left - diagonal);
        const int32_t* source = use_left ? cur + s - C : above + s;
        for (uint32_t c = 0; c < C; ++c) cur[s + c] = Wrap16(residual(s + c) + source[c]);
      }
      break;
    case 2:
      for (uint32_t c = 0; c < C; ++c) cur[c] = Wrap16(residual(c));
      for (uint64_t s = C; s < n; ++s) cur[s] = Wrap16(residual(s) + cur[s - C]);
      break;
    case 3:
      for (uint64_t s = 0; s < n; ++s) cur[s] = Wrap16(residual(s) + above[s]);
      break;
    default:  // 4: the mean of left and above, rounded toward zero
      for (uint32_t c = 0; c < C; ++c) cur[c] = Wrap16(residual(c) + above[c]);
      for (uint64_t s = C; s < n; ++s) {
        cur[s] = Wrap16(residual(s) + (cur[s - C] + above[s] + 1) / 2);
      }
      break;
  }
}

template <uint32_t C>
bool EmitPredictive(const CSIDecodeTarget& t, const Unit& u, const Rect& r, const uint8_t* in,
                    int32_t* rows) {
  const uint64_t n = r.w * r.h;
  const uint8_t* alpha = u.format.alpha ? in : nullptr;
  const uint8_t* predictors = in + (u.format.alpha ? n : 0);
  const uint8_t* high = predictors + r.h;
  const uint8_t* low = high + n * C;
  int32_t* above = rows;
  int32_t* cur = rows + r.w * C;
  std::memset(above, 0, r.w * C * sizeof(int32_t));
  for (uint64_t y = 0; y < r.h; ++y) {
    const uint32_t p = predictors[y];
    if (p > 4) return Fail(EINVAL);
    PredictRow<C>(p, high + y * r.w * C, low + y * r.w * C, above, cur, r.w);
    uint8_t* out = OutPixel(t, r.x0, r.y0 + y);
    const uint8_t* a = alpha != nullptr ? alpha + y * r.w : nullptr;
    for (uint64_t x = 0; x < r.w; ++x, out += t.bytes_per_pixel) {
      const uint8_t alpha_value = a != nullptr ? a[x] : 255;
      if constexpr (C == 1) {
        out[0] = static_cast<uint8_t>(cur[x] & 0xFF);
        out[1] = alpha_value;
      } else {
        const int32_t luma = cur[3 * x];
        int32_t cu = cur[3 * x + 1];
        int32_t cv = cur[3 * x + 2];
        if (u.chroma_shift != 0) {  // chroma is stored at half precision
          cu *= 2;
          cv *= 2;
        }
        const int32_t base = luma - (cv >> 1);
        const int32_t second = base + cv;
        const int32_t third = base - (cu >> 1);
        const int32_t first = third + cu;
        // First, second, third are the record's channels in memory order:
        // B, G, R for "BGRA"; R, G, B (units of 1/512) for "WBGR".
        if (t.kind == CSIPixelKind::WBGR) {
          out[0] = Wide8(third);
          out[1] = Wide8(second);
          out[2] = Wide8(first);
        } else {
          out[0] = Clamp8(first);
          out[1] = Clamp8(second);
          out[2] = Clamp8(third);
        }
        out[3] = alpha_value;
      }
    }
    std::swap(above, cur);
  }
  return true;
}

// ---- one rectangle ---------------------------------------------------------

bool DecodeRect(const CSIDecodeTarget& t, const Unit& u, const Rect& r,
                std::span<const uint8_t> stream, CSIDecodeWork& work) {
  const uint64_t n = r.w * r.h;
  uint64_t exact = 0;   // the planes' size
  uint64_t padded = 0;  // the same with the padding the predictive form may carry
  switch (u.method) {
    case kInnerRaw:
    case kInnerPlain:
      exact = n * u.format.plain_bytes;
      break;
    case kInnerPredictive: {
      exact = (u.format.alpha ? n : 0) + r.h + 2 * n * u.format.components;
      const uint64_t unit = u.banded ? 16 : 8;
      padded = (exact + unit - 1) / unit * unit;
      break;
    }
    default:  // palette
      exact = (!u.banded || u.palette_type == 3) ? 2 * n : n;
      break;
  }
  // One byte more than the largest accepted size shows a stream that runs
  // on; the raw LZVN decoder also needs a room of at least 8 bytes.
  const uint64_t room = std::max<uint64_t>((padded > exact ? padded : exact) + 1, 8);
  const uint64_t rows_at = (room + 7) / 8 * 8;
  const uint64_t rows_size = u.method == kInnerPredictive ? 2 * r.w * 3 * sizeof(int32_t) : 0;
  Buffer& scratch = work.planes;
  if (!CSIDecode_Reserve(scratch, rows_at + rows_size)) return false;
  uint64_t length = 0;
  if (!CSIDecode_Stream(stream, std::span<uint8_t>(scratch.data, room), length, work)) {
    return false;
  }
  if (length != exact && (padded == 0 || length != padded)) return Fail(EINVAL);
  switch (u.method) {
    case kInnerRaw:
    case kInnerPlain:
      EmitPlain(t, u, r, scratch.data);
      return true;
    case kInnerPredictive: {
      auto* rows = reinterpret_cast<int32_t*>(scratch.data + rows_at);
      return u.format.components == 1 ? EmitPredictive<1>(t, u, r, scratch.data, rows)
                                      : EmitPredictive<3>(t, u, r, scratch.data, rows);
    }
    default:
      return EmitPalette(t, u, r, scratch.data);
  }
}

// Reads the wrapper, the header and the palette; leaves `reader` at the
// first stream.
bool ReadUnit(const CSIDecodeTarget& t, std::span<const uint8_t> data, bool banded, Unit& u,
              ByteReader& reader) {
  ByteReader wrapper{data};
  ByteReader_U32LE(wrapper);  // unit kind
  ByteReader_U32LE(wrapper);  // pixel format, repeated in the header
  const uint64_t length = ByteReader_U64LE(wrapper);
  if (wrapper.failed || length > ByteReader_Remaining(wrapper)) return Fail(EINVAL);
  reader = ByteReader{data.subspan(16, static_cast<size_t>(length))};

  const std::span<const uint8_t> magic = ByteReader_Bytes(reader, 4);
  u.banded = banded;
  u.method = ByteReader_U8(reader);
  u.chroma_shift = ByteReader_U8(reader);
  ByteReader_U8(reader);
  const uint8_t format = ByteReader_U8(reader);
  if (banded) {
    const uint32_t width = ByteReader_U16LE(reader);
    u.band_height = ByteReader_U16LE(reader);
    if (width != t.width || u.band_height == 0) return Fail(EINVAL);
  }
  if (reader.failed || std::memcmp(magic.data(), banded ? "dmp2" : "dmap", 4) != 0) {
    return Fail(EINVAL);
  }
  if (!FormatFor(format, t.kind, u.format)) return false;
  switch (u.method) {
    case kInnerRaw:
    case kInnerPlain:
    case kInnerPredictive:
      return true;
    case kInnerPalette:
      break;
    default:
      return Fail(EINVAL);
  }
  u.palette_count = ByteReader_U16LE(reader);
  u.palette_type = ByteReader_U16LE(reader);
  const std::span<const uint8_t> entries = ByteReader_Bytes(reader, 4 * uint64_t{u.palette_count});
  if (reader.failed || u.palette_count > 256) return Fail(EINVAL);
  if (banded && u.palette_type != 3 && u.palette_type != 4) return Fail(EINVAL);
  // Entries are four bytes in "BGRA" order; no other use of them is known.
  if (format != 4) return Fail(kErrUnsupported);
  u.palette = entries.data();
  return true;
}

bool NextStream(ByteReader& reader, std::span<const uint8_t>& stream) {
  const uint32_t count = ByteReader_U32LE(reader);
  stream = ByteReader_Bytes(reader, count);
  return reader.failed ? Fail(EINVAL) : true;
}

}  // namespace

bool CSIDecode_Deepmap(const CSIDecodeTarget& target, const CSIDecodeUnit& unit, bool banded,
                       CSIDecodeWork& work) {
  Unit u;
  ByteReader reader;
  if (!ReadUnit(target, unit.data, banded, u, reader)) return false;
  std::span<const uint8_t> stream;
  Rect r;
  if (banded) {
    for (uint64_t y = 0; y < unit.rows; y += r.h) {
      r = Rect{0, unit.y0 + y, target.width, std::min<uint64_t>(u.band_height, unit.rows - y)};
      if (!NextStream(reader, stream) || !DecodeRect(target, u, r, stream, work)) return false;
    }
    return true;
  }
  for (uint64_t ty = 0; ty < unit.rows; ty += kTileSize) {
    for (uint64_t tx = 0; tx < target.width; tx += kTileSize) {
      r = Rect{tx, unit.y0 + ty, std::min<uint64_t>(kTileSize, target.width - tx),
               std::min<uint64_t>(kTileSize, unit.rows - ty)};
      if (!NextStream(reader, stream) || !DecodeRect(target, u, r, stream, work)) return false;
    }
  }
  return true;
}

}  // namespace skarvel
