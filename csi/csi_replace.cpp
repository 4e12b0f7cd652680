#include "csi/csi_replace.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/buffer.h"
#include "base/bytes.h"
#include "base/mem.h"
#include "base/result.h"
#include "bom/bom_tree.h"
#include "catalog/catalog_builder.h"
#include "csi/csi_build.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "frontend/input_catalog.h"
#include "frontend/report.h"
#include "image/image_file.h"
#include "image/image_ops.h"

namespace skarvel {

namespace {

// What a rendition written by this program looks like.
constexpr uint32_t kCanonicalColorspace = 1;
constexpr uint32_t kCanonicalSubblocksSize = 104;
constexpr uint32_t kCanonicalBitmapCount = 1;
// An element whose fourth word is below this is taken to be chunked.
constexpr uint32_t kChunkCountLimit = 100;
constexpr uint32_t kMaxSubblocks = 16;
constexpr int32_t kOpaqueSize = 1024;

// Offsets inside the CoreUI element.
constexpr uint64_t kElementFlagsAt = 4;
constexpr uint64_t kElementMethodAt = 8;
constexpr uint64_t kElementCountAt = 12;

bool IsWritableMethod(uint32_t method) {
  return method <= static_cast<uint32_t>(CompressionMethod::LZFSE);
}

// The method of the record's CoreUI element; false when it has none.
bool ElementMethod(const BOMBlock& block, uint32_t& method) {
  uint64_t at = 0;
  uint64_t size = 0;
  if (!CSI_PayloadRange(block, at, size) || size < kCSIElementHeaderSize) return false;
  if (std::memcmp(block.data + at, "MLEC", 4) != 0) return false;
  method = LoadU32LEAt(block.bytes(), at + kElementMethodAt);
  return true;
}

bool SameCode(const uint8_t* a, const char* b) { return std::memcmp(a, b, 4) == 0; }

// Only these formats (and the methods above) can be written back as they were.
bool IsWritableFormat(const CSIHeader& header) {
  return SameCode(header.pixel_format, "BGRA") || SameCode(header.pixel_format, " 8AG");
}

// Sets every pixel's alpha to 255.
void MakeOpaque(Image& image) {
  PixelLayout layout;
  if (!PixelFormat_Parse(image.pixel_format, layout) || layout.alpha < 0) return;
  const auto n = static_cast<uint64_t>(layout.channel_count);
  for (int32_t y = 0; y < image.height; ++y) {
    uint8_t* row =
        image.pixels.data + static_cast<uint64_t>(y) * static_cast<uint64_t>(image.stride);
    for (int32_t x = 0; x < image.width; ++x) {
      row[static_cast<uint64_t>(x) * n + static_cast<uint64_t>(layout.alpha)] = 255;
    }
  }
}

void WarnHeader(uint32_t offset, const char* field, uint32_t theirs, uint32_t ours) {
  std::fprintf(stderr,
               "skarvel: warning: ISTC header discrepancy at offset %u (%s): theirs = 0x%08x, "
               "ours = 0x%08x\n",
               offset, field, theirs, ours);
}

void CheckHeader(const CSIHeader& header, bool full) {
  const struct {
    uint32_t offset;
    const char* field;
    uint32_t theirs;
    uint32_t ours;
  } fields[] = {
      {8, "flags", Get(header.flags), 0},
      {28, "colorspace ID", Get(header.colorspace_id), kCanonicalColorspace},
      {32, "modification date", Get(header.modification_date), 0},
      {36, "layout or rendition type", Get(header.layout),
       full ? kLayoutImage : kLayoutPackedImage},
      {168, "all_subblocks_size", Get(header.all_subblocks_size), kCanonicalSubblocksSize},
      {172, "bitmap count", Get(header.bitmap_count), kCanonicalBitmapCount},
      {176, "reserved", Get(header.reserved), 0},
  };
  for (const auto& f : fields) {
    if (f.theirs != f.ours) WarnHeader(f.offset, f.field, f.theirs, f.ours);
  }
}

void WarnSubblock(const char* name, uint32_t offset, const char* field, uint32_t theirs,
                  uint32_t ours) {
  std::fprintf(stderr,
               "skarvel: warning: ISTC rendition info '%s' subblock discrepancy at offset %u (%s): "
               "theirs = 0x%08x, ours = 0x%08x\n",
               name, offset, field, theirs, ours);
}

void WarnSubblockSize(const char* name, uint32_t offset, const char* field, uint32_t theirs,
                      uint32_t ours) {
  std::fprintf(stderr,
               "skarvel: warning: ISTC rendition info '%s' subblock discrepancy at offset %u (%s): "
               "theirs = %d, ours = %d\n",
               name, offset, field, static_cast<int>(theirs), static_cast<int>(ours));
}

void WarnMetric(uint32_t k, const char* field, uint32_t theirs, uint32_t ours, bool decimal) {
  if (decimal) {
    std::fprintf(stderr,
                 "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric "
                 "%d (%s): theirs = %d, ours = %d\n",
                 static_cast<int>(k), field, static_cast<int>(theirs), static_cast<int>(ours));
  } else {
    std::fprintf(stderr,
                 "skarvel: warning: ISTC rendition info 'metrics' subblock discrepancy in metric "
                 "%d (%s): theirs = 0x%08x, ours = 0x%08x\n",
                 static_cast<int>(k), field, theirs, ours);
  }
}

// The head of a subblock holding a count and then `entry_size`-byte
// entries: warns where its length or count is not the canonical single
// entry and gives the count (`n`) and the content length it describes
// (`keep`). kErrUnsupported when the subblock is too short for its count.
bool TakeCount(const char* name, const char* count_field, uint64_t entry_size,
               std::span<const uint8_t> content, uint32_t& n, uint64_t& keep) {
  const auto length = static_cast<uint32_t>(content.size());
  if (length < 4) {
    WarnSubblock(name, 4, "subblock size", length, 4);
    return Fail(kErrUnsupported);
  }
  n = LoadU32LEAt(content, 0);
  keep = 4 + entry_size * uint64_t{n};
  if (length != keep) WarnSubblock(name, 4, "subblock size", length, static_cast<uint32_t>(keep));
  if (n != 1) WarnSubblock(name, 8, count_field, n, 1);
  return keep <= length ? true : Fail(kErrUnsupported);
}

// The job of one replacement: the picture's size and where it goes, the
// decoded stride, and the record being assembled.
struct Rebuild {
  bool full = true;
  uint32_t picture_width = 0;
  uint32_t picture_height = 0;
  uint32_t stride = 0;
  Buffer record;
  uint64_t record_length = 0;  // bytes written so far
  uint32_t ids[kMaxSubblocks] = {};
  uint32_t lengths[kMaxSubblocks] = {};
  uint32_t count = 0;
};

bool Append(Rebuild& r, const uint8_t* bytes, uint64_t length) {
  if (!Buffer_WriteAt(r.record, r.record_length, bytes, length)) return false;
  r.record_length += length;
  return true;
}

// Checks one subblock against the canonical form, copies it (its head and
// the content its own count describes) and notes its identifier and the
// length it gets back. kErrUnsupported for an identifier that is not written
// back or a subblock too short for its count.
bool TakeSubblock(Rebuild& r, std::span<const uint8_t> record, const CSISubblock& sub) {
  const std::span<const uint8_t> content =
      record.subspan(sub.offset + kCSISubblockHeadSize, sub.length);
  auto u32 = [&](uint64_t at) { return LoadU32LEAt(content, at); };
  uint64_t keep = 0;  // content bytes to copy and the length written back
  switch (static_cast<CSIInfoID>(sub.id)) {
    case CSIInfoID::Slices: {
      uint32_t n = 0;
      if (!TakeCount("slices", "slice count", 16, content, n, keep)) return false;
      for (uint32_t k = 0; k < n; ++k) {
        const uint64_t at = 4 + 16 * uint64_t{k};
        if (u32(at) != 0) WarnSubblock("slices", 12, "X position", u32(at), 0);
        if (u32(at + 4) != 0) WarnSubblock("slices", 16, "Y position", u32(at + 4), 0);
        if (!r.full) continue;
        if (u32(at + 8) != r.picture_width) {
          WarnSubblockSize("slices", 20, "width", u32(at + 8), r.picture_width);
        }
        if (u32(at + 12) != r.picture_height) {
          WarnSubblockSize("slices", 24, "height", u32(at + 12), r.picture_height);
        }
      }
      break;
    }
    case CSIInfoID::Metrics: {
      uint32_t n = 0;
      if (!TakeCount("metrics", "metrics count", 24, content, n, keep)) return false;
      for (uint32_t k = 0; k < n; ++k) {
        const uint64_t at = 4 + 24 * uint64_t{k};
        if (u32(at) != 0) WarnMetric(k, "top right inset width", u32(at), 0, false);
        if (u32(at + 4) != 0) WarnMetric(k, "top right inset height", u32(at + 4), 0, false);
        if (u32(at + 8) != 0) WarnMetric(k, "bottom left inset width", u32(at + 8), 0, false);
        if (u32(at + 12) != 0) WarnMetric(k, "bottom left inset height", u32(at + 12), 0, false);
        if (!r.full) continue;
        if (u32(at + 16) != r.picture_width) {
          WarnMetric(k, "width", u32(at + 16), r.picture_width, true);
        }
        if (u32(at + 20) != r.picture_height) {
          WarnMetric(k, "height", u32(at + 20), r.picture_height, true);
        }
      }
      break;
    }
    case CSIInfoID::Composition: {
      keep = 8;
      if (sub.length != keep) WarnSubblock("composition", 4, "subblock size", sub.length, 8);
      if (sub.length < keep) return Fail(kErrUnsupported);
      if (u32(0) != 0) WarnSubblock("composition", 8, "blend mode", u32(0), 0);
      const float opacity = std::bit_cast<float>(u32(4));
      if (opacity != 1.0f) {
        std::fprintf(stderr,
                     "skarvel: warning: ISTC rendition info 'composition' subblock discrepancy at "
                     "offset 12 (opacity): theirs = %f, ours = %f\n",
                     static_cast<double>(opacity), 1.0);
      }
      break;
    }
    case CSIInfoID::Orientation: {
      keep = 4;
      if (sub.length != keep) WarnSubblock("orientation", 4, "subblock size", sub.length, 4);
      if (sub.length < keep) return Fail(kErrUnsupported);
      if (u32(0) != 1) WarnSubblock("orientation", 8, "EXIF orientation", u32(0), 1);
      break;
    }
    case CSIInfoID::BytesPerLine: {
      keep = 4;
      if (sub.length != keep) WarnSubblock("bytes per line", 4, "subblock size", sub.length, 4);
      if (sub.length < keep) return Fail(kErrUnsupported);
      if (u32(0) != r.stride) {
        WarnSubblockSize("bytes per line", 8, "bytes per line", u32(0), r.stride);
      }
      break;
    }
    default:
      return Fail(kErrUnsupported);
  }
  if (r.count == kMaxSubblocks) return Fail(kErrUnsupported);
  r.ids[r.count] = sub.id;
  r.lengths[r.count] = static_cast<uint32_t>(keep);
  ++r.count;
  return Append(r, record.data() + sub.offset, kCSISubblockHeadSize + keep);
}

// Writes back each noted subblock's identifier and length (and the decoded
// stride as the bytes per line); returns the all-subblocks size.
uint32_t RewriteSubblockHeads(Rebuild& r) {
  uint64_t at = kCSIHeaderSize;
  const std::span<uint8_t> out = r.record.bytes();
  for (uint32_t i = 0; i < r.count; ++i) {
    StoreU32LEAt(out, at, r.ids[i]);
    StoreU32LEAt(out, at + 4, r.lengths[i]);
    if (r.ids[i] == static_cast<uint32_t>(CSIInfoID::BytesPerLine)) {
      StoreU32LEAt(out, at + kCSISubblockHeadSize, r.stride);
    }
    at += kCSISubblockHeadSize + r.lengths[i];
  }
  return static_cast<uint32_t>(at - kCSIHeaderSize);
}

// Hands the assembled record over to the block (both allocated through the
// same funnel; the Buffer's trailing zero bytes cover the block's one).
void InstallRecord(BOMBlock& block, Rebuild& r) {
  Mem_Free(block.data);
  block.data = r.record.data;
  block.size = r.record.size;
  r.record.data = nullptr;
  r.record.size = 0;
}

bool ReadPicture(const char* path, const char* format, Image& picture) {
  if (!Image_ReadFile(path, format, picture)) return false;
  if (picture.width == kOpaqueSize && picture.height == kOpaqueSize) MakeOpaque(picture);
  return true;
}

// The rebuild of a record whose pixels are already decoded into `pixels`
// (the record's own format), with `picture` (any format) pasted in; errors as
// for CSI_ReplaceImage.
bool ReplaceDecoded(BOMBlock& block, Image& pixels, const Image& picture, int32_t x, int32_t y) {
  const CSIHeader* header = CSI_Header(block);
  uint32_t method = 0;
  (void)ElementMethod(block, method);
  const uint32_t bytes_per_pixel = SameCode(header->pixel_format, "BGRA") ? 4 : 2;
  const bool full = x == -1 && y == -1;
  if (full) {
    if (picture.width != pixels.width || picture.height != pixels.height) return Fail(EFAULT);
    x = 0;
    y = 0;
  } else if (x < 0 || y < 0 || int64_t{x} + picture.width > pixels.width ||
             int64_t{y} + picture.height > pixels.height) {
    return Fail(ENOSPC);
  }
  if (!Image_Paste(pixels.pixel_format, pixels, picture.pixel_format, picture, x, y, !full)) {
    return false;
  }

  Rebuild r;
  r.full = full;
  r.picture_width = static_cast<uint32_t>(picture.width);
  r.picture_height = static_cast<uint32_t>(picture.height);
  // An uncompressed element holds each row without its padding, so its
  // record must give the row's own length as the bytes per line; any other
  // value would leave a record that no longer decodes.
  r.stride = method == static_cast<uint32_t>(CompressionMethod::Uncompressed)
                 ? static_cast<uint32_t>(pixels.width) * bytes_per_pixel
                 : static_cast<uint32_t>(pixels.stride);

  CheckHeader(*header, full);
  if (!Append(r, block.data, kCSIHeaderSize)) return false;
  const std::span<const uint8_t> record = block.bytes();
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) {
    if (!TakeSubblock(r, record, sub)) return false;
  }
  if (walk.truncated) return Fail(EINVAL);

  uint64_t payload_at = 0;
  uint64_t payload_size = 0;
  if (!CSI_PayloadRange(block, payload_at, payload_size) || payload_size < kCSIElementHeaderSize) {
    return Fail(ENOENT);
  }
  const uint8_t* element = block.data + payload_at;
  if (!SameCode(element, "MLEC")) {
    std::fprintf(stderr,
                 "skarvel: warning: ISTC MLEC header discrepancy at offset 0 (magic): theirs = "
                 "%.4s, ours = MLEC\n",
                 reinterpret_cast<const char*>(element));
  }
  const uint32_t flags = LoadU32LEAt(record, payload_at + kElementFlagsAt);
  const uint32_t fourth = LoadU32LEAt(record, payload_at + kElementCountAt);
  const uint32_t canonical_flags = fourth < kChunkCountLimit ? 3 : 0;
  if (flags != canonical_flags) {
    std::fprintf(stderr,
                 "skarvel: warning: ISTC MLEC header discrepancy at offset 4 (flags): theirs = "
                 "0x%08x, ours = 0x%08x\n",
                 flags, canonical_flags);
  }
  method = LoadU32LEAt(record, payload_at + kElementMethodAt);
  const uint32_t chunk_count = CSI_IsChunked(block, payload_at) ? fourth : 0;
  const uint64_t element_at = r.record_length;
  if (!Append(r, element, kCSIElementHeaderSize)) return false;

  Buffer encoded;
  if (!CSI_CompressPixels(pixels.pixels.bytes(), static_cast<uint32_t>(pixels.width),
                          static_cast<uint32_t>(pixels.height),
                          static_cast<uint32_t>(pixels.stride), bytes_per_pixel,
                          static_cast<CompressionMethod>(method), chunk_count, encoded)) {
    return false;
  }
  if (encoded.size > UINT32_MAX - kCSIElementHeaderSize) return Fail(EINVAL);
  if (!Append(r, encoded.data, encoded.size)) return false;

  const uint32_t subblocks_size = RewriteSubblockHeads(r);
  const std::span<uint8_t> out = r.record.bytes();
  StoreU32LEAt(out, offsetof(CSIHeader, all_subblocks_size), subblocks_size);
  StoreU32LEAt(out, offsetof(CSIHeader, payload_size),
               static_cast<uint32_t>(encoded.size + kCSIElementHeaderSize));
  std::memcpy(out.data() + element_at, "MLEC", 4);
  StoreU32LEAt(out, element_at + kElementMethodAt, method);
  StoreU32LEAt(out, element_at + kElementCountAt,
               chunk_count > 0 ? chunk_count : static_cast<uint32_t>(encoded.size));
  InstallRecord(block, r);
  return true;
}

// Which blocks may be rebuilt: values of RENDITIONS entries that serve no
// other role. A block that is also labelled (header, metadata, key format,
// a tree header...), a tree's node, a key, or a value of another tree keeps
// its bytes, since rebuilding it would change what the catalog needs in
// order to load again. Well-formed catalogs never share such blocks.
std::vector<bool> ReplaceableBlocks(const AssetsCatalog& c) {
  const uint64_t count = c.store.count;
  std::vector<bool> value(count, false);
  std::vector<bool> other(count, false);
  auto mark = [count](std::vector<bool>& set, uint64_t index) {
    if (index < count) set[index] = true;
  };
  for (uint32_t i = 0; i < BOMTree_EntryCount(c.renditions_tree); ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(c.renditions_tree, i);
    mark(value, e.value);
    mark(other, e.key);
  }
  for (uint32_t i = 0; i < BOMTree_EntryCount(c.facet_keys_tree); ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(c.facet_keys_tree, i);
    mark(other, e.value);
    mark(other, e.key);
  }
  for (uint32_t i = 0; i < BOMTree_EntryCount(c.bitmap_keys_tree); ++i) {
    mark(other, BOMTree_GetEntry(c.bitmap_keys_tree, i).value);
  }
  for (uint32_t t = 0; t < c.other_tree_count; ++t) {
    const BOMTree& tree = c.other_trees[t].tree;
    for (uint32_t i = 0; i < BOMTree_EntryCount(tree); ++i) {
      const BOMTreeEntry e = BOMTree_GetEntry(tree, i);
      mark(other, e.value);
      mark(other, e.key);
    }
  }
  std::vector<bool> replaceable(count, false);
  for (uint64_t i = 0; i < count; ++i) {
    const char* label = c.store.blocks[i].label;
    replaceable[i] = value[i] && !other[i] && (label == nullptr || label[0] == '\0') &&
                     AssetsCatalog_TreeOfBlock(c, i) == nullptr;
  }
  return replaceable;
}

}  // namespace

bool PackedImage_FindPosition(int32_t packed_width, int32_t packed_height, int32_t width,
                              int32_t height, int32_t& x, int32_t& y) {
  for (const PackedImagePosition& p : kPackedImagePositions) {
    if (p.packed_width == packed_width && p.packed_height == packed_height && p.width == width &&
        p.height == height) {
      x = p.x;
      y = p.y;
      return true;
    }
  }
  return false;
}

bool CSI_ReplaceImage(BOMBlock& block, const char* picture_path, int32_t x, int32_t y) {
  const CSIHeader* header = CSI_Header(block);
  if (header == nullptr || block.size <= kCSIHeaderSize || Get(header->height) == 0 ||
      Get(header->payload_size) == 0) {
    return Fail(ENOENT);
  }
  uint32_t method = 0;
  if (!IsWritableFormat(*header) || (ElementMethod(block, method) && !IsWritableMethod(method))) {
    return Fail(kErrUnsupported);
  }
  Image pixels;
  if (!CSI_DecodeImage(block, pixels)) return Fail(errno == ENOMEM ? ENOMEM : ENOENT);
  Image picture;
  if (!ReadPicture(picture_path, pixels.pixel_format, picture)) return false;
  return ReplaceDecoded(block, pixels, picture, x, y);
}

int ReplaceImage_Run(AssetsCatalog& catalog, const char* picture_path, const char* output_path) {
  // The picture is read once; each rendition it goes into is decoded once
  // and rebuilt from those pixels (pasting converts to the rendition's format).
  Image picture;
  if (!ReadPicture(picture_path, "BGRA", picture)) {
    const int code = errno;
    Report_ImageReadFailure(stderr, picture_path, code);
    return 1;
  }
  const auto width = static_cast<uint32_t>(picture.width);
  const auto height = static_cast<uint32_t>(picture.height);
  std::fprintf(stdout, "\nReplacing new image in %s...\n", output_path);

  const std::vector<bool> replaceable = ReplaceableBlocks(catalog);
  for (uint64_t i = 0; i < catalog.store.count; ++i) {
    BOMBlock& block = catalog.store.blocks[i];
    const CSIHeader* header = CSI_Header(block);
    if (!replaceable[i] || header == nullptr || Get(header->width) < width || Get(header->height) < height ||
        Get(header->payload_size) == 0) {
      continue;
    }
    Image decoded;
    if (!CSI_DecodeImage(block, decoded)) {
      std::fprintf(stderr, "skarvel: warning: unable to extract image from block %d\n",
                   static_cast<int>(i));
      continue;
    }
    int32_t x = -1;
    int32_t y = -1;
    if (static_cast<uint32_t>(decoded.width) != width ||
        static_cast<uint32_t>(decoded.height) != height) {
      if (!PackedImage_FindPosition(decoded.width, decoded.height, static_cast<int32_t>(width),
                                    static_cast<int32_t>(height), x, y)) {
        continue;
      }
    }
    uint32_t method = 0;
    if (ElementMethod(block, method) && !IsWritableMethod(method)) {
      std::fprintf(stderr,
                   "skarvel: warning: block %d uses compression method %u, which cannot be "
                   "written back; left unchanged\n",
                   static_cast<int>(i), method);
      continue;
    }
    // A wide record decodes but cannot be written back: left as it is.
    if (!IsWritableFormat(*header)) continue;
    (void)ReplaceDecoded(block, decoded, picture, x, y);
  }

  std::fflush(stdout);
  if (!AssetsCatalog_Save(catalog, output_path)) {
    const int code = errno;
    std::fprintf(stderr, "skarvel: unable to save %s (errno = %d)\n", output_path, code);
    return 1;
  }
  return 0;
}

int RunReplaceImageCommand(const CommandLine& cl) {
  AssetsCatalog catalog;
  LoadInputCatalog(cl, catalog);
  const int status = ReplaceImage_Run(catalog, cl.replacement_image, cl.output);
  ReleaseInputCatalog(catalog);
  return status;
}

}  // namespace skarvel
