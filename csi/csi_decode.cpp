#include "csi/csi_decode.h"

#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/bytes.h"
#include "base/mem.h"
#include "base/result.h"
#include "csi/csi_decode_internal.h"
#include "csi/csi_format.h"
#include "lzfse/lzfse.h"

namespace skarvel {

namespace {

// No decoded picture (at the record's own bytes per pixel) may be larger.
constexpr uint64_t kMaxDecodedBytes = uint64_t{1} << 30;

constexpr uint32_t kMethodPaletteImage = 8;
constexpr uint32_t kMethodDeepmap = 10;
constexpr uint32_t kMethodDeepmap2 = 11;

bool CodeIs(const uint8_t* code, const char (&text)[5]) { return std::memcmp(code, text, 4) == 0; }

// Only these formats carry pixels. Every other code, whichever way round it
// is stored ("JPEG" or "GEPJ", "DATA" or "ATAD", ...), is unsupported.
bool PixelKindOf(const uint8_t* code, CSIPixelKind& kind, uint32_t& record_bytes_per_pixel) {
  if (CodeIs(code, "BGRA")) {
    kind = CSIPixelKind::BGRA;
    record_bytes_per_pixel = 4;
  } else if (CodeIs(code, " 8AG")) {
    kind = CSIPixelKind::GA8;
    record_bytes_per_pixel = 2;
  } else if (CodeIs(code, "WBGR")) {
    kind = CSIPixelKind::WBGR;
    record_bytes_per_pixel = 8;
  } else {
    return Fail(kErrUnsupported);
  }
  return true;
}

// The value of the first bytes-per-line subblock. `found` false when there is
// none; EINVAL when it is too short to hold the value.
bool FindBytesPerLine(const BOMBlock& block, bool& found, uint32_t& value) {
  found = false;
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) {
    if (sub.id != static_cast<uint32_t>(CSIInfoID::BytesPerLine)) continue;
    if (sub.length < 4) return Fail(EINVAL);
    value = LoadU32LEAt(block.bytes(), sub.offset + kCSISubblockHeadSize);
    found = true;
    return true;
  }
  return true;
}

// The CoreUI element of a record, located and checked to lie in the block.
struct Element {
  uint32_t method = 0;
  uint32_t count = 0;  // chunk count when chunked, else data length
  bool chunked = false;
  uint64_t data_offset = 0;  // first chunk header, or the data
};

bool FindElement(const BOMBlock& block, Element& element) {
  const CSIHeader* header = CSI_Header(block);
  const uint64_t payload_size = Get(header->payload_size);
  if (payload_size < kCSIElementHeaderSize) return Fail(ENOENT);
  const uint64_t p = kCSIHeaderSize + Get(header->all_subblocks_size);
  const std::span<const uint8_t> record = block.bytes();
  if (!Range_Fits(p, 4, record.size())) return Fail(EINVAL);
  if (!CodeIs(record.data() + p, "MLEC")) return Fail(ENOENT);
  if (!Range_Fits(p, kCSIElementHeaderSize, record.size())) return Fail(EINVAL);
  element.method = LoadU32LEAt(record, p + 8);
  element.count = LoadU32LEAt(record, p + 12);
  element.chunked = CSI_IsChunked(block, p);
  element.data_offset = p + kCSIElementHeaderSize;
  return true;
}

// Steps over the element's units in order. Each read is bounded by the end of
// the record, whatever the payload size says.
struct UnitWalk {
  std::span<const uint8_t> record;
  uint64_t cursor = 0;
  uint32_t left = 0;
  bool chunked = false;
  uint32_t data_length = 0;  // not chunked: the element's data length
  uint32_t height = 0;
};

void StartUnits(const BOMBlock& block, const Element& element, uint32_t height, UnitWalk& walk) {
  walk.record = block.bytes();
  walk.cursor = element.data_offset;
  walk.chunked = element.chunked;
  walk.height = height;
  if (element.chunked) {
    walk.left = element.count;  // each chunk header is checked when reached
  } else {
    walk.left = 1;
    walk.data_length = element.count;
  }
}

bool NextUnit(UnitWalk& walk, CSIDecodeUnit& unit) {
  --walk.left;
  if (!walk.chunked) {
    if (!Range_Fits(walk.cursor, walk.data_length, walk.record.size())) return Fail(EINVAL);
    unit.data = walk.record.subspan(walk.cursor, walk.data_length);
    unit.rows = walk.height;
    walk.cursor += walk.data_length;
    return true;
  }
  if (!Range_Fits(walk.cursor, kCSIChunkHeaderSize, walk.record.size()) ||
      !CodeIs(walk.record.data() + walk.cursor, "KCBC")) {
    return Fail(EINVAL);
  }
  unit.rows = LoadU32LEAt(walk.record, walk.cursor + 12);
  const uint32_t length = LoadU32LEAt(walk.record, walk.cursor + 16);
  const uint64_t data = walk.cursor + kCSIChunkHeaderSize;
  if (!Range_Fits(data, length, walk.record.size())) return Fail(EINVAL);
  unit.data = walk.record.subspan(data, length);
  walk.cursor = data + length;
  return true;
}

// Walks every unit once before the output is allocated, so that a record
// whose chunks run out of the record (or, for the newer methods, whose row
// counts do not add up to the height) is refused without allocating.
// `data_length` is the sum of the units' data lengths.
bool CheckUnits(const BOMBlock& block, const Element& element, uint32_t height, bool rows_add_up,
                uint64_t& data_length) {
  UnitWalk walk;
  StartUnits(block, element, height, walk);
  uint64_t rows = 0;
  data_length = 0;
  CSIDecodeUnit unit;
  while (walk.left > 0) {
    if (!NextUnit(walk, unit)) return false;
    rows += unit.rows;
    data_length += unit.data.size();
  }
  if (rows_add_up && rows != height) return Fail(EINVAL);
  return true;
}

// Run-length stream: rows of runs, each row found through the offsets table.
// A row's runs must stay within the stream's width, and that width within the
// row's bytes, so each row writes at most one stride of output.
bool DecodeRunLength(std::span<const uint8_t> stream, std::span<uint8_t> out, uint64_t& length,
                     uint32_t bytes_per_pixel, uint64_t stride) {
  ByteReader reader{stream};
  ByteReader_U32LE(reader);  // 4 or 3; not needed
  const uint64_t width = ByteReader_U32LE(reader);
  const uint64_t rows = ByteReader_U32LE(reader);
  if (reader.failed || !Range_Fits(12, rows * 4, stream.size())) return Fail(EINVAL);
  if (width * bytes_per_pixel > stride || !Range_Fits(length, rows * stride, out.size())) {
    return Fail(EINVAL);
  }
  for (uint64_t j = 0; j < rows; ++j) {
    if (!ByteReader_Seek(reader, LoadU32LEAt(stream, 12 + 4 * j))) return Fail(EINVAL);
    uint8_t* row = out.data() + length + j * stride;
    uint64_t x = 0;
    while (x < width) {
      const uint32_t count = ByteReader_U16LE(reader);
      const uint32_t kind = ByteReader_U16LE(reader);
      if (reader.failed || count == 0 || count > width - x) return Fail(EINVAL);
      uint8_t* dest = row + x * bytes_per_pixel;
      if (kind != 0) {
        const std::span<const uint8_t> pixel = ByteReader_Bytes(reader, bytes_per_pixel);
        if (reader.failed) return Fail(EINVAL);
        for (uint32_t k = 0; k < count; ++k) {
          std::memcpy(dest + uint64_t{k} * bytes_per_pixel, pixel.data(), bytes_per_pixel);
        }
      } else {
        const std::span<const uint8_t> pixels =
            ByteReader_Bytes(reader, uint64_t{count} * bytes_per_pixel);
        if (reader.failed) return Fail(EINVAL);
        std::memcpy(dest, pixels.data(), pixels.size());
      }
      x += count;
    }
  }
  length += rows * stride;
  return true;
}

// A gzip-wrapped deflate stream. It must end within the data; a stream that
// breaks off is refused rather than returned as a partial picture.
bool DecodeGZip(std::span<const uint8_t> data, std::span<uint8_t> out, uint64_t& length) {
  if (data.size() > UINT_MAX) return Fail(EINVAL);
  z_stream zs{};
  if (inflateInit2(&zs, 31) != Z_OK) return Fail(EINVAL);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data() + length;
  zs.avail_out = static_cast<uInt>(out.size() - length);  // capacity <= 2^31
  const int rc = inflate(&zs, Z_NO_FLUSH);
  const uint64_t produced = zs.total_out;
  inflateEnd(&zs);
  if (rc != Z_STREAM_END || produced == 0) return Fail(EINVAL);
  length += produced;
  return true;
}

bool DecodeChunk(uint32_t method, std::span<const uint8_t> data, std::span<uint8_t> out,
                 uint64_t& length, uint32_t bytes_per_pixel, uint64_t stride, CSIDecodeWork& work) {
  const std::span<uint8_t> room = out.subspan(length);
  size_t produced = 0;
  switch (static_cast<CompressionMethod>(method)) {
    case CompressionMethod::Uncompressed:
      if (data.size() > room.size()) return Fail(EINVAL);
      if (!data.empty()) std::memcpy(room.data(), data.data(), data.size());
      length += data.size();
      return true;
    case CompressionMethod::RLE:
      return DecodeRunLength(data, out, length, bytes_per_pixel, stride);
    case CompressionMethod::GZip:
      return DecodeGZip(data, out, length);
    case CompressionMethod::LZVN:
      produced = lzvn_decode_buffer(room.data(), room.size(), data.data(), data.size());
      break;
    case CompressionMethod::LZFSE:
      if (!CSIDecode_Reserve(work.lzfse, lzfse_decode_scratch_size())) return false;
      produced =
          lzfse_decode_buffer(room.data(), room.size(), data.data(), data.size(), work.lzfse.data);
      break;
    default:
      return Fail(kErrUnsupported);
  }
  if (produced == 0) return Fail(EINVAL);
  length += produced;
  return true;
}

// Wide pixels (four f16 red, green, blue, alpha) to 8-bit "BGRA", in place:
// each output row starts at or before its input row, and each pixel's input
// is read before its output is written.
void NarrowWideRows(uint8_t* pixels, uint32_t width, uint32_t height, uint64_t stride) {
  for (uint64_t y = 0; y < height; ++y) {
    const uint8_t* in = pixels + y * stride;
    uint8_t* out = pixels + y * width * 4;
    for (uint64_t x = 0; x < width; ++x) {
      const std::span<const uint8_t, 8> h(in + 8 * x, 8);
      const uint8_t r = CSIDecode_HalfTo8(LoadU16LE(h.subspan<0, 2>()));
      const uint8_t g = CSIDecode_HalfTo8(LoadU16LE(h.subspan<2, 2>()));
      const uint8_t b = CSIDecode_HalfTo8(LoadU16LE(h.subspan<4, 2>()));
      const uint8_t a = CSIDecode_HalfTo8(LoadU16LE(h.subspan<6, 2>()));
      out[4 * x] = b;
      out[4 * x + 1] = g;
      out[4 * x + 2] = r;
      out[4 * x + 3] = a;
    }
  }
}

// Takes a zero-filled block of `capacity` + 8 bytes for the image's pixels.
bool AllocatePixels(Image& image, uint64_t capacity) {
  auto* data = static_cast<uint8_t*>(Mem_AllocZeroed(static_cast<size_t>(capacity) + 8, 1));
  if (data == nullptr) return Fail(ENOMEM);
  image.pixels.data = data;
  image.pixels.size = 0;
  return true;
}

// Methods 0 to 4: every chunk decodes straight into one output of capacity
// 2 * stride * height, at the running length.
bool DecodeClassic(const BOMBlock& block, const Element& element, CSIPixelKind kind,
                   uint32_t bytes_per_pixel, uint64_t stride, Image& image) {
  const uint64_t width = static_cast<uint64_t>(image.width);
  const uint64_t height = static_cast<uint64_t>(image.height);
  const uint64_t capacity = 2 * stride * height;
  const uint64_t covered = (height - 1) * stride + width * bytes_per_pixel;
  uint64_t data_length = 0;
  if (!CheckUnits(block, element, static_cast<uint32_t>(height), false, data_length)) {
    return false;
  }
  if (element.method == static_cast<uint32_t>(CompressionMethod::Uncompressed) &&
      (data_length > capacity || data_length < covered)) {
    return Fail(EINVAL);
  }
  UnitWalk walk;
  StartUnits(block, element, static_cast<uint32_t>(height), walk);
  if (!AllocatePixels(image, capacity)) return false;
  const std::span<uint8_t> out(image.pixels.data, static_cast<size_t>(capacity));
  uint64_t length = 0;
  CSIDecodeWork work;
  CSIDecodeUnit unit;
  while (walk.left > 0) {
    if (!NextUnit(walk, unit) ||
        !DecodeChunk(element.method, unit.data, out, length, bytes_per_pixel, stride, work)) {
      return false;
    }
  }
  // Every pixel must be present; only the padding after the last row's
  // pixels may be missing, and it reads as zeros.
  if (length < covered) return Fail(EINVAL);
  if (length < stride * height) length = stride * height;
  if (kind == CSIPixelKind::WBGR) {
    NarrowWideRows(image.pixels.data, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                   stride);
    length = width * 4 * height;
    image.stride = static_cast<int32_t>(width * 4);
    std::memcpy(image.pixel_format, "BGRA", 5);
  }
  image.pixels.size = length;
  std::memset(image.pixels.data + length, 0, 8);
  return true;
}

// Methods 8, 10 and 11: units in row order, each filling its band of a
// tightly packed output.
bool DecodeNewer(const BOMBlock& block, const Element& element, CSIPixelKind kind, Image& image) {
  const uint32_t width = static_cast<uint32_t>(image.width);
  const uint32_t height = static_cast<uint32_t>(image.height);
  const uint32_t out_bpp = kind == CSIPixelKind::GA8 ? 2 : 4;
  const uint64_t size = uint64_t{width} * height * out_bpp;
  uint64_t data_length = 0;
  if (!CheckUnits(block, element, height, true, data_length)) return false;
  UnitWalk walk;
  StartUnits(block, element, height, walk);
  if (!AllocatePixels(image, size)) return false;
  CSIDecodeTarget target;
  target.pixels = std::span<uint8_t>(image.pixels.data, static_cast<size_t>(size));
  target.width = width;
  target.height = height;
  target.bytes_per_pixel = out_bpp;
  target.kind = kind;
  CSIDecodeWork work;
  uint32_t y = 0;
  CSIDecodeUnit unit;
  while (walk.left > 0) {
    if (!NextUnit(walk, unit)) return false;
    if (unit.rows > height - y) return Fail(EINVAL);
    unit.y0 = y;
    bool ok = false;
    if (element.method == kMethodPaletteImage) {
      ok = CSIDecode_PaletteImage(target, unit, work);
    } else {
      ok = CSIDecode_Deepmap(target, unit, element.method == kMethodDeepmap2, work);
    }
    if (!ok) return false;
    y += unit.rows;
  }
  image.stride = static_cast<int32_t>(uint64_t{width} * out_bpp);
  if (kind == CSIPixelKind::WBGR) std::memcpy(image.pixel_format, "BGRA", 5);
  image.pixels.size = size;
  return true;
}

bool Decode(const BOMBlock& block, Image& image) {
  const CSIHeader* header = CSI_Header(block);
  if (header == nullptr) return Fail(EINVAL);
  const uint32_t width = Get(header->width);
  const uint32_t height = Get(header->height);
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.stride = 0;
  std::memcpy(image.pixel_format, header->pixel_format, 4);
  image.pixel_format[4] = '\0';

  CSIPixelKind kind = CSIPixelKind::BGRA;
  uint32_t bytes_per_pixel = 0;
  if (!PixelKindOf(header->pixel_format, kind, bytes_per_pixel)) return false;
  if (width == 0 || height == 0 || uint64_t{width} * height * bytes_per_pixel > kMaxDecodedBytes) {
    return Fail(EINVAL);
  }
  bool has_stride = false;
  uint32_t stride = 0;
  if (!FindBytesPerLine(block, has_stride, stride)) return false;
  Element element;
  if (!FindElement(block, element)) return false;

  switch (element.method) {
    case kMethodPaletteImage:
    case kMethodDeepmap:
    case kMethodDeepmap2:
      // The stored bytes per line does not describe these methods' output.
      return DecodeNewer(block, element, kind, image);
    default:
      break;
  }
  if (!has_stride) return Fail(ENOENT);
  if (element.method > static_cast<uint32_t>(CompressionMethod::LZFSE)) {
    return Fail(kErrUnsupported);
  }
  if (stride < uint64_t{width} * bytes_per_pixel || uint64_t{stride} * height > kMaxDecodedBytes) {
    return Fail(EINVAL);
  }
  image.stride = static_cast<int32_t>(stride);
  return DecodeClassic(block, element, kind, bytes_per_pixel, stride, image);
}

}  // namespace

bool CSIDecode_Reserve(Buffer& scratch, uint64_t size) {
  if (scratch.data != nullptr && scratch.size >= size) return true;
  if (size > SIZE_MAX - 8) return Fail(ENOMEM);
  auto* data = static_cast<uint8_t*>(Mem_Realloc(scratch.data, static_cast<size_t>(size) + 8));
  if (data == nullptr) return Fail(ENOMEM);
  scratch.data = data;
  scratch.size = size;
  std::memset(data + size, 0, 8);
  return true;
}

bool CSIDecode_Stream(std::span<const uint8_t> src, std::span<uint8_t> dst, uint64_t& decoded,
                      CSIDecodeWork& work) {
  size_t produced = 0;
  if (src.size() >= 3 && std::memcmp(src.data(), "bvx", 3) == 0) {
    if (!CSIDecode_Reserve(work.lzfse, lzfse_decode_scratch_size())) return false;
    produced = lzfse_decode_buffer(dst.data(), dst.size(), src.data(), src.size(), work.lzfse.data);
  } else {
    produced = lzvn_decode_buffer(dst.data(), dst.size(), src.data(), src.size());
  }
  if (produced == 0) return Fail(EINVAL);
  decoded = produced;
  return true;
}

uint8_t CSIDecode_HalfTo8(uint16_t half) {
  const uint32_t exponent = (half >> 10) & 31u;
  const uint32_t mantissa = half & 1023u;
  if ((half & 0x8000u) != 0) return 0;  // below zero (and -0, negative NaN)
  if (exponent == 31) return mantissa != 0 ? 0 : 255;
  // value = m * 2^-shift exactly; round(255 * value) with halves rounded up.
  uint64_t m = mantissa;
  int shift = 24;
  if (exponent != 0) {
    m |= 1024u;
    shift = 25 - static_cast<int>(exponent);
  }
  if (shift <= 0) return 255;
  const uint64_t rounded = (255 * m + (uint64_t{1} << (shift - 1))) >> shift;
  return rounded > 255 ? 255 : static_cast<uint8_t>(rounded);
}

bool CSI_DecodeImage(const BOMBlock& block, Image& image) {
  Buffer_Free(image.pixels);
  if (Decode(block, image)) return true;
  const int code = errno;
  Buffer_Free(image.pixels);
  errno = code;
  return false;
}

}  // namespace skarvel
