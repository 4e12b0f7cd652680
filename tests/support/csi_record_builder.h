#pragma once
// Builds CSI rendition records byte by byte, independent of the CSI code: a
// 184-byte header, the subblocks in the order of the calls, a payload and any
// trailing bytes. Header sizes (all-subblocks size, payload size) follow the
// parts unless forced, so a malformed record is one call away.
//
//   Bytes record = CSIRecordBuilder()
//                      .Size(2, 2).Name("icon").Layout(12)
//                      .Slices({{0, 0, 2, 2}}).Metrics({{0, 0, 0, 0, 2, 2}})
//                      .Composition(0, 1.0f).Orientation(1).BytesPerLine(8)
//                      .Element(0, raw_rows)          // method 0, not chunked
//                      .Build(&layout);
//   record = Patched(record, PutU32LE(layout.subblock_at[1] + 4, 9999));  // break a length
//
// Methods and layouts are plain numbers here (0 uncompressed ... 4 LZFSE;
// layouts 12, 1003, 1004, 1005, 1010) so that the support library needs no
// product headers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/byte_patch.h"

namespace skarvel::test {

// Header field offsets (little-endian u32 unless noted).
inline constexpr size_t kCSIVersionAt = 4;
inline constexpr size_t kCSIFlagsAt = 8;
inline constexpr size_t kCSIWidthAt = 12;
inline constexpr size_t kCSIHeightAt = 16;
inline constexpr size_t kCSIScaleAt = 20;
inline constexpr size_t kCSIPixelFormatAt = 24;  // 4 bytes
inline constexpr size_t kCSIColorspaceAt = 28;
inline constexpr size_t kCSIModificationDateAt = 32;
inline constexpr size_t kCSILayoutAt = 36;
inline constexpr size_t kCSINameAt = 40;  // 128 bytes
inline constexpr size_t kCSIAllSubblocksSizeAt = 168;
inline constexpr size_t kCSIBitmapCountAt = 172;
inline constexpr size_t kCSIReservedAt = 176;
inline constexpr size_t kCSIPayloadSizeAt = 180;
inline constexpr size_t kCSIRecordHeaderSize = 184;

struct CSISlice {
  uint32_t x = 0, y = 0, width = 0, height = 0;
};
struct CSIMetric {
  uint32_t top_right_width = 0, top_right_height = 0, bottom_left_width = 0,
           bottom_left_height = 0, width = 0, height = 0;
};
struct CSIChunk {
  uint32_t rows = 0;  // the chunk header's row count
  Bytes data;         // the compressed bytes that follow the 20-byte header
};
struct CSIScaleEntry {
  uint32_t width = 0, height = 0, index = 0;
};

// Where the parts landed (offsets from the record start).
struct CSIRecordLayout {
  std::vector<size_t> subblock_at;  // each subblock's 8-byte head, in call order
  size_t payload_at = 0;            // P
  size_t payload_size = 0;          // bytes actually emitted for the payload
  size_t size = 0;
};

class CSIRecordBuilder {
 public:
  // Header (defaults: "ISTC", version 1, flags 0, 0 x 0, scale 100, "BGRA",
  // colorspace 1, date 0, layout 12, empty name, bitmap count 1, reserved 0).
  CSIRecordBuilder& Magic(std::string_view four);
  CSIRecordBuilder& Version(uint32_t v);
  CSIRecordBuilder& Flags(uint32_t v);
  CSIRecordBuilder& Size(uint32_t width, uint32_t height);
  CSIRecordBuilder& ScaleFactor(uint32_t percent);
  CSIRecordBuilder& PixelFormat(std::string_view four);  // 4 bytes as stored; "" = 4 zero bytes
  CSIRecordBuilder& Colorspace(uint32_t v);
  CSIRecordBuilder& ModificationDate(uint32_t v);
  CSIRecordBuilder& Layout(uint32_t v);
  CSIRecordBuilder& Name(std::string name);  // cut to 127 bytes + NUL
  CSIRecordBuilder& BitmapCount(uint32_t v);
  CSIRecordBuilder& Reserved(uint32_t v);
  // Force the header's sizes instead of the computed ones.
  CSIRecordBuilder& AllSubblocksSize(uint32_t v);
  CSIRecordBuilder& PayloadSize(uint32_t v);

  // Subblocks, appended in call order.
  CSIRecordBuilder& Slices(const std::vector<CSISlice>& slices);                // 1001
  CSIRecordBuilder& Metrics(const std::vector<CSIMetric>& metrics);             // 1003
  CSIRecordBuilder& Composition(uint32_t blend_mode, float opacity);            // 1004
  CSIRecordBuilder& Orientation(uint32_t exif);                                 // 1006
  CSIRecordBuilder& BytesPerLine(uint32_t bytes);                               // 1007
  // 1010: "KLNI", reserved 0, x, y, width, height, u16 layout, u32 key length
  // (default 4 × (pairs + 1)), the pairs, then 4 zero bytes.
  CSIRecordBuilder& Reference(int32_t x, int32_t y, uint32_t width, uint32_t height,
                              uint16_t layout,
                              const std::vector<std::pair<uint16_t, uint16_t>>& pairs,
                              std::optional<uint32_t> key_length = std::nullopt);
  CSIRecordBuilder& NameList(const std::vector<std::string>& names);  // 1013
  CSIRecordBuilder& Properties(uint32_t unit, float width, float height);  // 1015
  // Any identifier with raw content; the length field is the content size
  // unless `length` forces another value.
  CSIRecordBuilder& Subblock(uint32_t id, const Bytes& content,
                             std::optional<uint32_t> length = std::nullopt);

  // Payload (a later call replaces an earlier one).
  // "MLEC" element, not chunked: flags, method, data size, data.
  CSIRecordBuilder& Element(uint32_t method, const Bytes& data, uint32_t element_flags = 0);
  // "MLEC" element with chunk count and "KCBC" chunks (20-byte headers: magic,
  // 0, 0, rows, byte count).
  CSIRecordBuilder& ChunkedElement(uint32_t method, const std::vector<CSIChunk>& chunks,
                                   uint32_t element_flags = 0);
  // "DWAR" raw data: reserved, byte count, bytes.
  CSIRecordBuilder& RawData(const Bytes& data, uint32_t reserved = 0);
  // "SISM": version, entry count, entries.
  CSIRecordBuilder& ScalingInfo(const std::vector<CSIScaleEntry>& entries, uint32_t version = 1);
  // Arbitrary payload bytes.
  CSIRecordBuilder& Payload(const Bytes& bytes);
  // Bytes after the payload (not counted in any size).
  CSIRecordBuilder& Trailing(const Bytes& bytes);

  Bytes Build(CSIRecordLayout* layout = nullptr) const;

 private:
  std::string magic_ = "ISTC";
  uint32_t version_ = 1, flags_ = 0, width_ = 0, height_ = 0, scale_ = 100;
  Bytes pixel_format_ = {'B', 'G', 'R', 'A'};
  uint32_t colorspace_ = 1, date_ = 0, layout_ = 12;
  std::string name_;
  uint32_t bitmap_count_ = 1, reserved_ = 0;
  std::optional<uint32_t> all_subblocks_size_, payload_size_;
  std::vector<Bytes> subblocks_;
  Bytes payload_;
  Bytes trailing_;
};

}  // namespace skarvel::test
