#pragma once
// The CoreTheme Structured Image record (CSI): a 184-byte header, a chain of
// tagged information subblocks and a payload. All fields are little-endian;
// four-character codes are compared in stored order ("ISTC", "MLEC", ...).
// The operations grow a rendition value block in place: offsets stay valid,
// pointers into the block taken before a growing call do not.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "bom/bom_store.h"

namespace skarvel {

struct CSIHeader {
  uint8_t magic[4];  // "ISTC"
  LE32 version;
  LE32 flags;
  LE32 width;
  LE32 height;
  LE32 scale_factor;  // percent: 100 for 1x
  uint8_t pixel_format[4];
  LE32 colorspace_id;
  LE32 modification_date;
  LE32 layout;
  char name[128];
  LE32 all_subblocks_size;
  LE32 bitmap_count;
  LE32 reserved;
  LE32 payload_size;
};
static_assert(sizeof(CSIHeader) == 184 && alignof(CSIHeader) == 1);
static_assert(offsetof(CSIHeader, version) == 4);
static_assert(offsetof(CSIHeader, flags) == 8);
static_assert(offsetof(CSIHeader, width) == 12);
static_assert(offsetof(CSIHeader, height) == 16);
static_assert(offsetof(CSIHeader, scale_factor) == 20);
static_assert(offsetof(CSIHeader, pixel_format) == 24);
static_assert(offsetof(CSIHeader, colorspace_id) == 28);
static_assert(offsetof(CSIHeader, modification_date) == 32);
static_assert(offsetof(CSIHeader, layout) == 36);
static_assert(offsetof(CSIHeader, name) == 40);
static_assert(offsetof(CSIHeader, all_subblocks_size) == 168);
static_assert(offsetof(CSIHeader, bitmap_count) == 172);
static_assert(offsetof(CSIHeader, reserved) == 176);
static_assert(offsetof(CSIHeader, payload_size) == 180);

inline constexpr uint64_t kCSIHeaderSize = sizeof(CSIHeader);
inline constexpr uint64_t kCSISubblockHeadSize = 8;
inline constexpr uint64_t kCSIElementHeaderSize = 16;
inline constexpr uint64_t kCSIChunkHeaderSize = 20;

enum class CSIInfoID : uint32_t {
  Slices = 1001,
  Metrics = 1003,
  Composition = 1004,
  Orientation = 1006,
  BytesPerLine = 1007,
  Reference = 1010,
  NameList = 1013,
  Properties = 1015,
};

enum class CompressionMethod : uint32_t {
  Uncompressed = 0,
  RLE = 1,
  GZip = 2,
  LZVN = 3,
  LZFSE = 4,
  Blurred = 5,
};

// Layout values (header offset 36) that this program writes.
inline constexpr uint32_t kLayoutImage = 12;
inline constexpr uint32_t kLayoutImageReference = 1003;
inline constexpr uint32_t kLayoutPackedImage = 1004;
inline constexpr uint32_t kLayoutNameList = 1005;
inline constexpr uint32_t kLayoutScalingInfo = 1010;

// The header of a block that is at least 184 bytes long and begins "ISTC";
// null otherwise.
[[nodiscard]] const CSIHeader* CSI_Header(const BOMBlock& block);
[[nodiscard]] CSIHeader* CSI_Header(BOMBlock& block);

// A subblock located inside its record: `offset` is from the record start,
// `length` the content length after the 8-byte head. Both were checked to lie
// inside the block when the subblock was found.
struct CSISubblock {
  uint64_t offset = 0;
  uint32_t id = 0;
  uint32_t length = 0;
};

// Walks the subblocks in order. Stops (returns false) at the end of the chain,
// or at a subblock whose head or content would reach past the block or past
// the chain; such a subblock is treated as absent and `truncated` is set (also
// for a block that is not a CSI record). A chain that ends exactly where the
// header says leaves `truncated` false.
struct CSISubblockWalk {
  uint64_t next = kCSIHeaderSize;
  bool truncated = false;
};
[[nodiscard]] bool CSI_NextSubblock(const BOMBlock& block, CSISubblockWalk& walk,
                                    CSISubblock& out);

// Payload offset P = 184 + all-subblocks size; the payload lies in the block
// when P + payload size <= size. False (EINVAL) when it does not.
[[nodiscard]] bool CSI_PayloadRange(const BOMBlock& block, uint64_t& offset, uint64_t& size);

// The first subblock with `id`. When there is none and `append_size` is not
// 0, appends a new subblock of that total size (head included; its content is
// not initialised) in front of the payload. Returns the subblock's offset in
// the record, or 0 with EINVAL (not a CSI record, a chain or payload running
// past the block, an append size below 8), ENOENT (absent, nothing to append)
// or ENOMEM (the block could not grow; it is then unchanged).
[[nodiscard]] uint64_t CSI_GetInfoBlock(BOMBlock& block, CSIInfoID id, uint32_t append_size);
// The payload's offset P. With `payload_size` 0 (or the current size) looks it
// up (ENOENT when there is none, EINVAL when it runs past the block);
// otherwise inserts an uninitialised payload of that size at P and stores the
// size in the header (EINVAL when the record already has another payload).
// 0 with EINVAL / ENOENT / ENOMEM on failure.
[[nodiscard]] uint64_t CSI_GetPayload(BOMBlock& block, uint32_t payload_size);
// The 16-bit value paired with `attribute` in a reference subblock's key, or
// -1 when the key lacks it. `subblock` is the whole subblock, head included.
[[nodiscard]] int32_t CSI_GetReferenceAttribute(std::span<const uint8_t> subblock,
                                                uint32_t attribute);
// True when the payload at P is a chunked CoreUI element: P + 20 < size and
// the bytes at P + 16 are "KCBC", unless the element's fourth word is its
// data length (payload size - 16), which marks data that is not chunked.
[[nodiscard]] bool CSI_IsChunked(const BOMBlock& block, uint64_t payload_offset);

}  // namespace skarvel
