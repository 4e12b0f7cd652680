#pragma once
// Building rendition records: one builder per information subblock, the
// CoreUI element payload with its pixel compressor, and the scaling
// information payload. Every builder grows the rendition value block in place
// (pointers into it taken before the call are stale afterwards).
//
// Subblock builders return true, or false with ENOMEM (the record could not
// grow), EINVAL (not a CSI record, or a chain or payload running past the
// block) or ENOSPC (the record already has that subblock and it is too short
// for the new content: the builders rewrite an existing subblock in place,
// never growing it and never writing past it).

#include <cstdint>
#include <span>

#include "base/buffer.h"
#include "bom/bom_store.h"
#include "csi/csi_format.h"

namespace skarvel {

struct CSISliceRect {
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Insets, then the size, as the metrics subblock stores them.
struct CSIMetric {
  uint32_t top_right_width = 0;
  uint32_t top_right_height = 0;
  uint32_t bottom_left_width = 0;
  uint32_t bottom_left_height = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// One (attribute, value) pair of a reference subblock's key.
struct CSIReferencePair {
  uint16_t attribute = 0;
  uint16_t value = 0;
};

// One entry of a scaling information payload.
struct CSIScalingEntry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t index = 0;
};

// 1001: the count, then the slices (12 + 16n bytes).
[[nodiscard]] bool CSI_AddSlices(BOMBlock& block, std::span<const CSISliceRect> slices);
// 1003: the count, then the metrics (12 + 24n bytes).
[[nodiscard]] bool CSI_AddMetrics(BOMBlock& block, std::span<const CSIMetric> metrics);
// 1004: blend mode and opacity (16 bytes).
[[nodiscard]] bool CSI_AddComposition(BOMBlock& block, uint32_t blend_mode, float opacity);
// 1006: EXIF orientation (12 bytes).
[[nodiscard]] bool CSI_AddOrientation(BOMBlock& block, uint32_t orientation);
// 1007: the decoded pixels' row stride (12 bytes).
[[nodiscard]] bool CSI_AddBytesPerLine(BOMBlock& block, uint32_t bytes_per_line);
// 1010: "KLNI", 0, the rectangle (y counted from the packed image's bottom),
// the referenced layout, the key length 4 * (n + 1), the n pairs and a zero
// pair (42 + 4n bytes).
[[nodiscard]] bool CSI_AddReference(BOMBlock& block, int32_t x, int32_t y, uint32_t width,
                                    uint32_t height, uint16_t layout,
                                    std::span<const CSIReferencePair> pairs);
// 1013: the number of present names, 0, then each present name (null entries
// are skipped) as a byte count and its bytes (16 + sum of 4 + length).
[[nodiscard]] bool CSI_AddNameList(BOMBlock& block, std::span<const char* const> names);
// 1015: unit, physical width and height (20 bytes).
[[nodiscard]] bool CSI_AddProperties(BOMBlock& block, uint32_t unit, float width, float height);

// The rows [first, end) of band `index` when `height` rows are split into
// `chunk_count` chunks: first = index * height / chunk_count, end the smaller
// of (index + 1) * height / chunk_count and height. Chunk count 0 is one band
// of every row.
struct CSIBand {
  int32_t first = 0;
  int32_t end = 0;
};
CSIBand CSI_ChunkBand(int32_t height, int32_t chunk_count, int32_t index);

// Compresses `height` rows of `width` pixels (`bytes_per_pixel` each, rows
// `stride` bytes apart) with `method` into `out` (replacing its content): one
// stream when `chunk_count` is 0, otherwise that many bands each behind a
// 20-byte "KCBC" chunk header (0, 0, row count, compressed length).
// Uncompressed and run-length streams hold each row's pixels without its
// padding; gzip, LZVN and LZFSE streams compress whole rows at full stride.
// Each band gets twice its raw size of room. False with EINVAL (arguments
// that do not describe `pixels`, a codec failure or a band that does not fit
// its room; an empty band cannot be LZ-compressed), ENOMEM, or
// kErrUnsupported (a method other than 0 to 4); `out` is then empty.
[[nodiscard]] bool CSI_CompressPixels(std::span<const uint8_t> pixels, uint32_t width,
                                      uint32_t height, uint32_t stride, uint32_t bytes_per_pixel,
                                      CompressionMethod method, uint32_t chunk_count, Buffer& out);

// Compresses the pixels and sets them as the record's payload: "MLEC", the
// element flags, the method, then the chunk count (or, unchunked, the data
// length) and the data. The record must not have a payload yet (EINVAL).
// Errors as CSI_CompressPixels, plus those of CSI_GetPayload.
[[nodiscard]] bool CSI_SetImagePayload(BOMBlock& block, uint32_t element_flags,
                                       CompressionMethod method, uint32_t chunk_count,
                                       std::span<const uint8_t> pixels, uint32_t width,
                                       uint32_t height, uint32_t stride, uint32_t bytes_per_pixel);

// Sets the scaling information payload: "SISM", version 1, the entry count
// and the entries (12 + 12n bytes). Errors of CSI_GetPayload.
[[nodiscard]] bool CSI_SetScalingInfo(BOMBlock& block, std::span<const CSIScalingEntry> entries);

}  // namespace skarvel
