#include "csi/csi_build.h"

#include <zlib.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "base/mem.h"
#include "base/result.h"
#include "lzfse/lzfse.h"

namespace skarvel {

namespace {

constexpr uint32_t kSliceSize = 16;
constexpr uint32_t kMetricSize = 24;
constexpr uint32_t kReferenceHeadSize = 38;  // up to the pairs
constexpr uint32_t kRunLengthHeadSize = 12;
constexpr uint32_t kRunHeadSize = 4;

// The subblock `id` with room for `total` bytes (head included): a new one, or
// the existing one when it is long enough to be rewritten in place. Returns
// its offset, or 0 with errno.
uint64_t SubblockFor(BOMBlock& block, CSIInfoID id, uint64_t total) {
  if (total > UINT32_MAX) return Fail(EINVAL);
  const uint64_t at = CSI_GetInfoBlock(block, id, static_cast<uint32_t>(total));
  if (at == 0) return 0;
  const uint32_t length = LoadU32LEAt(block.bytes(), at + 4);
  if (uint64_t{length} + kCSISubblockHeadSize < total) return Fail(ENOSPC);
  return at;
}

void PutU32(BOMBlock& block, uint64_t at, uint32_t v) { StoreU32LEAt(block.bytes(), at, v); }
void PutF32(BOMBlock& block, uint64_t at, float v) {
  StoreU32LEAt(block.bytes(), at, std::bit_cast<uint32_t>(v));
}

// Bytes of the run-length stream of a band of `rows` rows of `row_bytes`
// pixel bytes: the head, the row offsets table and one literal run per row.
uint64_t RunLengthSize(uint64_t rows, uint64_t row_bytes) {
  return kRunLengthHeadSize + 4 * rows + rows * (kRunHeadSize + row_bytes);
}

// The room a band of `rows` rows gets: twice its raw rows, except that a
// run-length stream (whose head and row table outgrow that for tiny bands)
// gets exactly what it needs.
uint64_t BandRoom(CompressionMethod method, uint32_t rows, uint32_t width, uint32_t stride,
                  uint32_t bytes_per_pixel) {
  if (method == CompressionMethod::RLE) {
    return RunLengthSize(rows, uint64_t{width} * bytes_per_pixel);
  }
  return 2 * uint64_t{rows} * stride;
}

// Encodes one band into `room`, setting `length`. False with errno.
bool EncodeBand(const uint8_t* band, uint32_t rows, uint32_t width, uint32_t stride,
                uint32_t bytes_per_pixel, CompressionMethod method, uint8_t* room,
                uint64_t room_size, void* work, uint64_t& length) {
  const uint64_t row_bytes = uint64_t{width} * bytes_per_pixel;
  const uint64_t raw = uint64_t{rows} * stride;
  switch (method) {
    case CompressionMethod::Uncompressed: {
      length = rows * row_bytes;
      if (length > room_size) return Fail(EINVAL);
      for (uint32_t j = 0; j < rows; ++j) {
        std::memcpy(room + j * row_bytes, band + uint64_t{j} * stride,
                    static_cast<size_t>(row_bytes));
      }
      return true;
    }
    case CompressionMethod::RLE: {
      length = RunLengthSize(rows, row_bytes);
      // A run counts its pixels in 16 bits: a wider row cannot be one run.
      if (length > room_size || length > UINT32_MAX || width > UINT16_MAX) return Fail(EINVAL);
      const std::span<uint8_t> out(room, static_cast<size_t>(length));
      StoreU32LEAt(out, 0, 4);
      StoreU32LEAt(out, 4, width);
      StoreU32LEAt(out, 8, rows);
      uint64_t at = kRunLengthHeadSize + 4 * uint64_t{rows};
      for (uint32_t j = 0; j < rows; ++j) {
        StoreU32LEAt(out, kRunLengthHeadSize + 4 * uint64_t{j}, static_cast<uint32_t>(at));
        StoreU16LEAt(out, at, static_cast<uint16_t>(width));
        StoreU16LEAt(out, at + 2, 0);
        std::memcpy(room + at + kRunHeadSize, band + uint64_t{j} * stride,
                    static_cast<size_t>(row_bytes));
        at += kRunHeadSize + row_bytes;
      }
      return true;
    }
    case CompressionMethod::GZip: {
      if (raw > UINT32_MAX || room_size > UINT32_MAX) return Fail(EINVAL);
      z_stream zs{};
      if (deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK) return Fail(EINVAL);
      zs.next_in = const_cast<Bytef*>(band);
      zs.avail_in = static_cast<uInt>(raw);
      zs.next_out = room;
      zs.avail_out = static_cast<uInt>(room_size);
      // One call must finish the stream: a stream cut short by a full room
      // would decode to fewer rows than the record claims.
      const int status = deflate(&zs, Z_FINISH);
      length = zs.total_out;
      deflateEnd(&zs);
      if (status != Z_STREAM_END || length == 0) return Fail(EINVAL);
      return true;
    }
    case CompressionMethod::LZVN:
      length = lzvn_encode_buffer(room, static_cast<size_t>(room_size), band,
                                  static_cast<size_t>(raw), work);
      return length != 0 || Fail(EINVAL);
    case CompressionMethod::LZFSE:
      length = lzfse_encode_buffer(room, static_cast<size_t>(room_size), band,
                                   static_cast<size_t>(raw), work);
      return length != 0 || Fail(EINVAL);
    case CompressionMethod::Blurred:
      break;
  }
  return Fail(kErrUnsupported);
}

// A payload is set once, on a record that has none yet.
bool HasNoPayload(const BOMBlock& block) {
  const CSIHeader* header = CSI_Header(block);
  return header != nullptr && Get(header->payload_size) == 0;
}

}  // namespace

bool CSI_AddSlices(BOMBlock& block, std::span<const CSISliceRect> slices) {
  const uint64_t at =
      SubblockFor(block, CSIInfoID::Slices, 12 + uint64_t{kSliceSize} * slices.size());
  if (at == 0) return false;
  PutU32(block, at + 8, static_cast<uint32_t>(slices.size()));
  for (size_t k = 0; k < slices.size(); ++k) {
    const uint64_t s = at + 12 + uint64_t{kSliceSize} * k;
    PutU32(block, s, slices[k].x);
    PutU32(block, s + 4, slices[k].y);
    PutU32(block, s + 8, slices[k].width);
    PutU32(block, s + 12, slices[k].height);
  }
  return true;
}

bool CSI_AddMetrics(BOMBlock& block, std::span<const CSIMetric> metrics) {
  const uint64_t at =
      SubblockFor(block, CSIInfoID::Metrics, 12 + uint64_t{kMetricSize} * metrics.size());
  if (at == 0) return false;
  PutU32(block, at + 8, static_cast<uint32_t>(metrics.size()));
  for (size_t k = 0; k < metrics.size(); ++k) {
    const uint64_t m = at + 12 + uint64_t{kMetricSize} * k;
    PutU32(block, m, metrics[k].top_right_width);
    PutU32(block, m + 4, metrics[k].top_right_height);
    PutU32(block, m + 8, metrics[k].bottom_left_width);
    PutU32(block, m + 12, metrics[k].bottom_left_height);
    PutU32(block, m + 16, metrics[k].width);
    PutU32(block, m + 20, metrics[k].height);
  }
  return true;
}

bool CSI_AddComposition(BOMBlock& block, uint32_t blend_mode, float opacity) {
  const uint64_t at = SubblockFor(block, CSIInfoID::Composition, 16);
  if (at == 0) return false;
  PutU32(block, at + 8, blend_mode);
  PutF32(block, at + 12, opacity);
  return true;
}

bool CSI_AddOrientation(BOMBlock& block, uint32_t orientation) {
  const uint64_t at = SubblockFor(block, CSIInfoID::Orientation, 12);
  if (at == 0) return false;
  PutU32(block, at + 8, orientation);
  return true;
}

bool CSI_AddBytesPerLine(BOMBlock& block, uint32_t bytes_per_line) {
  const uint64_t at = SubblockFor(block, CSIInfoID::BytesPerLine, 12);
  if (at == 0) return false;
  PutU32(block, at + 8, bytes_per_line);
  return true;
}

bool CSI_AddReference(BOMBlock& block, int32_t x, int32_t y, uint32_t width, uint32_t height,
                      uint16_t layout, std::span<const CSIReferencePair> pairs) {
  // The key length field is 32 bits; any count that fits a record fits it.
  const uint64_t total = kReferenceHeadSize + 4 * uint64_t{pairs.size()} + 4;
  const uint64_t at = SubblockFor(block, CSIInfoID::Reference, total);
  if (at == 0) return false;
  const std::span<uint8_t> bytes = block.bytes();
  std::memcpy(block.data + at + 8, "KLNI", 4);
  PutU32(block, at + 12, 0);
  PutU32(block, at + 16, static_cast<uint32_t>(x));
  PutU32(block, at + 20, static_cast<uint32_t>(y));
  PutU32(block, at + 24, width);
  PutU32(block, at + 28, height);
  StoreU16LEAt(bytes, at + 32, layout);
  PutU32(block, at + 34, static_cast<uint32_t>(4 * (uint64_t{pairs.size()} + 1)));
  uint64_t p = at + kReferenceHeadSize;
  for (const CSIReferencePair& pair : pairs) {
    StoreU16LEAt(bytes, p, pair.attribute);
    StoreU16LEAt(bytes, p + 2, pair.value);
    p += 4;
  }
  PutU32(block, p, 0);
  return true;
}

bool CSI_AddNameList(BOMBlock& block, std::span<const char* const> names) {
  uint64_t total = 16;
  uint64_t present = 0;
  for (const char* name : names) {
    if (name == nullptr) continue;
    total += 4 + uint64_t{std::strlen(name)};
    ++present;
    if (total > UINT32_MAX) return Fail(EINVAL);
  }
  const uint64_t at = SubblockFor(block, CSIInfoID::NameList, total);
  if (at == 0) return false;
  PutU32(block, at + 8, static_cast<uint32_t>(present));
  PutU32(block, at + 12, 0);
  uint64_t p = at + 16;
  for (const char* name : names) {
    if (name == nullptr) continue;
    const size_t length = std::strlen(name);
    PutU32(block, p, static_cast<uint32_t>(length));
    std::memcpy(block.data + p + 4, name, length);
    p += 4 + uint64_t{length};
  }
  return true;
}

bool CSI_AddProperties(BOMBlock& block, uint32_t unit, float width, float height) {
  const uint64_t at = SubblockFor(block, CSIInfoID::Properties, 20);
  if (at == 0) return false;
  PutU32(block, at + 8, unit);
  PutF32(block, at + 12, width);
  PutF32(block, at + 16, height);
  return true;
}

CSIBand CSI_ChunkBand(int32_t height, int32_t chunk_count, int32_t index) {
  if (chunk_count <= 0) return {0, height};
  const int64_t first = int64_t{index} * height / chunk_count;
  int64_t end = (int64_t{index} + 1) * height / chunk_count;
  if (end > height) end = height;
  return {static_cast<int32_t>(first), static_cast<int32_t>(end)};
}

bool CSI_CompressPixels(std::span<const uint8_t> pixels, uint32_t width, uint32_t height,
                        uint32_t stride, uint32_t bytes_per_pixel, CompressionMethod method,
                        uint32_t chunk_count, Buffer& out) {
  Buffer_Free(out);
  const auto method_value = static_cast<uint32_t>(method);
  if (method_value > static_cast<uint32_t>(CompressionMethod::LZFSE)) return Fail(kErrUnsupported);
  // Rows must hold their pixels and lie inside `pixels`; sizes stay within
  // what the 32-bit fields of a record can describe.
  if (width > INT32_MAX || height > INT32_MAX || chunk_count > INT32_MAX ||
      uint64_t{width} * bytes_per_pixel > stride || uint64_t{height} * stride > pixels.size() ||
      uint64_t{height} * stride > UINT32_MAX) {
    return Fail(EINVAL);
  }
  const uint64_t header = chunk_count > 0 ? kCSIChunkHeaderSize : 0;
  const uint32_t passes = chunk_count > 0 ? chunk_count : 1;
  // Every band's room is reserved up front, so the codecs write straight
  // into the output.
  uint64_t capacity = 0;
  for (uint32_t i = 0; i < passes; ++i) {
    const CSIBand band = CSI_ChunkBand(static_cast<int32_t>(height),
                                       static_cast<int32_t>(chunk_count), static_cast<int32_t>(i));
    const auto rows = static_cast<uint32_t>(band.end - band.first);
    capacity += header + BandRoom(method, rows, width, stride, bytes_per_pixel);
  }
  if (!Buffer_WriteAt(out, capacity, nullptr, 0)) return false;

  void* work = nullptr;
  if (method == CompressionMethod::LZVN || method == CompressionMethod::LZFSE) {
    work = Mem_Alloc(lzfse_encode_scratch_size() + 1);
    if (work == nullptr) {
      Buffer_Free(out);
      return Fail(ENOMEM);
    }
  }
  uint64_t length = 0;
  for (uint32_t i = 0; i < passes; ++i) {
    const CSIBand band = CSI_ChunkBand(static_cast<int32_t>(height),
                                       static_cast<int32_t>(chunk_count), static_cast<int32_t>(i));
    const auto rows = static_cast<uint32_t>(band.end - band.first);
    uint8_t* at = out.data + length;
    uint64_t encoded = 0;
    if (!EncodeBand(pixels.data() + uint64_t(band.first) * stride, rows, width, stride,
                    bytes_per_pixel, method, at + header,
                    BandRoom(method, rows, width, stride, bytes_per_pixel), work, encoded)) {
      const int code = errno;
      Mem_Free(work);
      Buffer_Free(out);
      return Fail(code);
    }
    if (header != 0) {
      const std::span<uint8_t> chunk(at, static_cast<size_t>(header));
      std::memcpy(at, "KCBC", 4);
      StoreU32LEAt(chunk, 4, 0);
      StoreU32LEAt(chunk, 8, 0);
      StoreU32LEAt(chunk, 12, rows);
      StoreU32LEAt(chunk, 16, static_cast<uint32_t>(encoded));
    }
    length += header + encoded;
  }
  Mem_Free(work);
  if (length > UINT32_MAX - kCSIElementHeaderSize || !Buffer_Subset(out, 0, length)) {
    const int code = length > UINT32_MAX - kCSIElementHeaderSize ? EINVAL : errno;
    Buffer_Free(out);
    return Fail(code);
  }
  return true;
}

bool CSI_SetImagePayload(BOMBlock& block, uint32_t element_flags, CompressionMethod method,
                         uint32_t chunk_count, std::span<const uint8_t> pixels, uint32_t width,
                         uint32_t height, uint32_t stride, uint32_t bytes_per_pixel) {
  if (!HasNoPayload(block)) return Fail(EINVAL);
  Buffer data;
  if (!CSI_CompressPixels(pixels, width, height, stride, bytes_per_pixel, method, chunk_count,
                          data)) {
    return false;
  }
  // CSI_CompressPixels keeps the data length below 2^32 - 16.
  const auto data_length = static_cast<uint32_t>(data.size);
  const uint64_t at =
      CSI_GetPayload(block, data_length + static_cast<uint32_t>(kCSIElementHeaderSize));
  if (at == 0) return false;
  std::memcpy(block.data + at, "MLEC", 4);
  PutU32(block, at + 4, element_flags);
  PutU32(block, at + 8, static_cast<uint32_t>(method));
  PutU32(block, at + 12, chunk_count != 0 ? chunk_count : data_length);
  if (data_length != 0)
    std::memcpy(block.data + at + kCSIElementHeaderSize, data.data, data_length);
  return true;
}

bool CSI_SetScalingInfo(BOMBlock& block, std::span<const CSIScalingEntry> entries) {
  const uint64_t total = 12 + 12 * uint64_t{entries.size()};
  if (!HasNoPayload(block) || total > UINT32_MAX) return Fail(EINVAL);
  const uint64_t at = CSI_GetPayload(block, static_cast<uint32_t>(total));
  if (at == 0) return false;
  std::memcpy(block.data + at, "SISM", 4);
  PutU32(block, at + 4, 1);
  PutU32(block, at + 8, static_cast<uint32_t>(entries.size()));
  for (size_t k = 0; k < entries.size(); ++k) {
    const uint64_t e = at + 12 + 12 * uint64_t{k};
    PutU32(block, e, entries[k].width);
    PutU32(block, e + 4, entries[k].height);
    PutU32(block, e + 8, entries[k].index);
  }
  return true;
}

}  // namespace skarvel
