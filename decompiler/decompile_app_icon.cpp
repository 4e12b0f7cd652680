// App icon sets: one "Contents.json" entry and one picture per image or
// reference rendition of the facet, in the facet's rendition order.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "bom/bom_tree.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_decode.h"
#include "decompiler/decompiler.h"

namespace skarvel {

namespace {

constexpr char kPackedAssetPrefix[] = "ZZZZPackedAsset-";
constexpr size_t kPackedAssetPrefixLength = sizeof kPackedAssetPrefix - 1;

// Offsets inside a reference subblock, head included.
constexpr uint64_t kReferenceXAt = 16;
constexpr uint64_t kReferenceYAt = 20;
constexpr uint64_t kReferenceWidthAt = 24;
constexpr uint64_t kReferenceHeightAt = 28;
constexpr uint64_t kReferenceMinimumSize = 32;  // through the height

// The region of a packed asset that a reference rendition occupies.
struct Reference {
  std::span<const uint8_t> subblock;  // head included
  int32_t x = 0;
  int32_t y = 0;  // from the packed image's bottom edge
  uint32_t width = 0;
  uint32_t height = 0;
};

enum class RenditionKind { Image, Reference, NoImage, NoPixelFormat };

// The first reference subblock of the record, when it is long enough to hold
// its rectangle.
bool FindReference(const BOMBlock& block, Reference& reference) {
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) {
    if (sub.id != static_cast<uint32_t>(CSIInfoID::Reference)) continue;
    const uint64_t total = kCSISubblockHeadSize + uint64_t{sub.length};
    if (total < kReferenceMinimumSize) return false;
    reference.subblock = block.bytes().subspan(sub.offset, total);
    reference.x = static_cast<int32_t>(LoadU32LEAt(reference.subblock, kReferenceXAt));
    reference.y = static_cast<int32_t>(LoadU32LEAt(reference.subblock, kReferenceYAt));
    reference.width = LoadU32LEAt(reference.subblock, kReferenceWidthAt);
    reference.height = LoadU32LEAt(reference.subblock, kReferenceHeightAt);
    return true;
  }
  return false;
}

RenditionKind KindOf(const BOMBlock& block, const CSIHeader& header, Reference& reference) {
  if (Get(header.payload_size) != 0 && Rendition_HasImagePayload(block)) {
    return RenditionKind::Image;
  }
  if (Get(header.payload_size) == 0 && FindReference(block, reference)) {
    return RenditionKind::Reference;
  }
  static constexpr uint8_t kNoFormat[4] = {0, 0, 0, 0};
  if (std::memcmp(header.pixel_format, kNoFormat, 4) == 0) return RenditionKind::NoPixelFormat;
  return RenditionKind::NoImage;
}

// What a reference rendition asks of its packed asset.
struct PackQuery {
  uint32_t scale_factor = 0;
  int32_t idiom = -1;
  int32_t pack_index = 0;
};

PackQuery QueryOf(const CSIHeader& header, const Reference& reference) {
  PackQuery q;
  q.scale_factor = Get(header.scale_factor);
  q.idiom = CSI_GetReferenceAttribute(reference.subblock, kAttrIdiom);
  const int32_t pack = CSI_GetReferenceAttribute(reference.subblock, kAttrDimension1);
  q.pack_index = pack < 0 ? 0 : pack;
  return q;
}

// Whether the facet has a reference rendition asking for `q`.
bool FacetAsks(const AssetsCatalog& catalog, const Facet& facet, const PackQuery& q) {
  for (int32_t i = 0; i < facet.rendition_count; ++i) {
    const BOMBlock* value = BOMStore_Block(catalog.store, facet.renditions[i].value_block);
    const CSIHeader* header = value != nullptr ? CSI_Header(*value) : nullptr;
    Reference reference;
    if (header == nullptr || KindOf(*value, *header, reference) != RenditionKind::Reference) {
      continue;
    }
    const PackQuery other = QueryOf(*header, reference);
    if (other.scale_factor == q.scale_factor && other.idiom == q.idiom &&
        other.pack_index == q.pack_index) {
      return true;
    }
  }
  return false;
}

// Packed assets belong to no facet, and two icon sets compiled into one
// catalog give theirs equal keys and names; equal keys keep the order in
// which the sets were compiled, which is also the order of their facet ids.
// So the set's rank among the sets asking for the same packed asset picks
// its own.
uint32_t PackOrdinal(const AssetsCatalog& catalog, const Facet& facet, const PackQuery& q) {
  uint32_t rank = 0;
  for (uint32_t i = 0; i < catalog.facet_count; ++i) {
    const Facet& other = catalog.facets[i];
    if (other.id >= facet.id || other.part != facet.part) continue;
    if (FacetAsks(catalog, other, q)) ++rank;
  }
  return rank;
}

const char* ValueName(uint32_t attribute, int32_t value) {
  const char* name = nullptr;
  RenditionAttribute_GetNames(attribute, value, nullptr, &name);
  return name;
}

const char* SubtypeName(int32_t value) {
  switch (value) {
    case 1:
      return "38mm";
    case 2:
      return "42mm";
    default:
      return "???";
  }
}

// The "Contents.json" of one set.
void ContentsJson_Head(JsonEntryList& json) {
  std::fputs("{\n", json.file);
  std::fputs("    \"images\": [\n", json.file);
}

void ContentsJson_Tail(JsonEntryList& json) {
  JsonEntryList_Finish(json);
  std::fputs("    ],\n", json.file);
  ContentsJson_WriteInfo(json.file);
  std::fputs("    \"properties\": {\n", json.file);
  std::fprintf(json.file, "        \"pre-rendered\": \"%s\"\n", "false");
  std::fputs("    }\n", json.file);
  std::fputs("}", json.file);
}

// The point size line: the pixel size at 100 / scale factor, with one
// decimal unless the width comes out whole.
void WriteSizeLine(FILE* file, uint32_t width, uint32_t height, uint32_t scale_factor) {
  const float w = static_cast<float>(width) * 100.0f / static_cast<float>(scale_factor);
  const float h = static_cast<float>(height) * 100.0f / static_cast<float>(scale_factor);
  const auto whole = static_cast<float>(uint64_t{width} * 100 / scale_factor);
  if (w == whole) {
    std::fprintf(file, "            \"size\": \"%.0fx%.0f\",\n", static_cast<double>(w),
                 static_cast<double>(h));
  } else {
    std::fprintf(file, "            \"size\": \"%.1fx%.1f\",\n", static_cast<double>(w),
                 static_cast<double>(h));
  }
}

struct EntryValues {
  const BOMBlock* key = nullptr;  // null when the entry names no block
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t scale_factor = 100;
  const char* file_name = "";
};

int32_t KeyAttribute(const AssetsCatalog& catalog, const BOMBlock* key, uint32_t attribute) {
  return key != nullptr ? RenditionKey_GetAttribute(catalog, *key, attribute) : -1;
}

void ContentsJson_Entry(JsonEntryList& json, const AssetsCatalog& catalog,
                        const EntryValues& entry) {
  if (json.file == nullptr) return;
  FILE* f = json.file;
  JsonEntryList_Begin(json);
  const int32_t gamut = KeyAttribute(catalog, entry.key, kAttrDisplayGamut);
  if (gamut > 0) {
    std::fprintf(f, "            \"display-gamut\": \"%s\",\n",
                 ValueName(kAttrDisplayGamut, gamut));
  }
  std::fprintf(f, "            \"idiom\": \"%s\",\n",
               ValueName(kAttrIdiom, KeyAttribute(catalog, entry.key, kAttrIdiom)));
  WriteSizeLine(f, entry.width, entry.height, entry.scale_factor);
  std::fprintf(f, "            \"scale\": \"%s\",\n",
               ValueName(kAttrScale, KeyAttribute(catalog, entry.key, kAttrScale)));
  const int32_t subtype = KeyAttribute(catalog, entry.key, kAttrSubtype);
  if (subtype > 0) std::fprintf(f, "            \"subtype\": \"%s\",\n", SubtypeName(subtype));
  std::fputs("            \"filename\": \"", f);
  ContentsJson_WriteText(f, entry.file_name);
  std::fputs("\"\n", f);
  JsonEntryList_End(json);
}

// Writes the reference's region of the packed asset in block `packed_index`,
// decoding the packed asset only when `cache` holds another one.
void WriteReferenceRendition(const AssetsCatalog& catalog, int32_t packed_index,
                             const Reference& reference, const char* rendition_name,
                             const char* file_name, PackedAssetCache& cache) {
  if (cache.block != packed_index) {
    cache.block = packed_index;
    cache.atlas = Image{};
    cache.decoded = CSI_DecodeImage(*BOMStore_Block(catalog.store, packed_index), cache.atlas);
  }
  PixelLayout layout;
  if (!cache.decoded || !PixelFormat_Parse(cache.atlas.pixel_format, layout)) {
    WarnExtractFailure(rendition_name);
    return;
  }
  const Image& atlas = cache.atlas;
  // The reference counts y from the bottom edge, the rows from the top. A
  // region of the packed asset's own size is all of it, wherever it starts.
  const int64_t top = int64_t{atlas.height} - reference.y - int64_t{reference.height};
  const bool whole = reference.width == static_cast<uint32_t>(atlas.width) &&
                     reference.height == static_cast<uint32_t>(atlas.height);
  if (!whole && (reference.width == 0 || reference.height == 0 || reference.x < 0 || top < 0 ||
                 int64_t{reference.x} + reference.width > atlas.width ||
                 top + reference.height > atlas.height)) {
    WarnExtractFailure(rendition_name);
    return;
  }
  // The region is written from the packed asset's own rows.
  const uint64_t offset = whole ? 0
                                : uint64_t(top) * uint64_t(atlas.stride) +
                                      uint64_t(reference.x) * uint64_t(layout.channel_count);
  WriteDecompiledImage(file_name, atlas.pixel_format, atlas.pixels.bytes().subspan(offset),
                       static_cast<int32_t>(reference.width),
                       static_cast<int32_t>(reference.height), atlas.stride);
}

void DecompileRendition(const AssetsCatalog& catalog, const Facet& facet, const char* set_name,
                        RenditionRef ref, JsonEntryList& json, PackedAssetCache& cache) {
  const BOMBlock* value = BOMStore_Block(catalog.store, ref.value_block);
  const CSIHeader* header = value != nullptr ? CSI_Header(*value) : nullptr;
  const int key_index = static_cast<int>(ref.key_block);
  const int value_index = static_cast<int>(ref.value_block);
  if (header == nullptr) {
    std::fprintf(
        stderr,
        "Warning: app icon set '%s' has no image payload in its rendition [%d:%d]! ignoring.\n",
        set_name, key_index, value_index);
    return;
  }
  Reference reference;
  const RenditionKind kind = KindOf(*value, *header, reference);
  if (kind == RenditionKind::NoPixelFormat) return;
  if (kind == RenditionKind::NoImage) {
    std::fprintf(
        stderr,
        "Warning: app icon set '%s' has no image payload in its rendition [%d:%d]! ignoring.\n",
        set_name, key_index, value_index);
    return;
  }

  char rendition_name[128];
  RenditionName_Copy(header->name, rendition_name);
  char file_name[kDecompiledNameSize];
  if (RenditionImageFileName(header->name, file_name)) {
    std::fprintf(stderr,
                 "Warning: app icon set '%s' rendition '%s' has path separators in its name! "
                 "writing it as '%s'.\n",
                 set_name, rendition_name, file_name);
  }
  EntryValues entry;
  entry.key = BOMStore_Block(catalog.store, ref.key_block);
  entry.width = Get(header->width);
  entry.height = Get(header->height);
  entry.scale_factor = Get(header->scale_factor);
  entry.file_name = file_name;
  if (entry.scale_factor == 0) {
    std::fprintf(stderr,
                 "Warning: app icon set '%s' has no scale factor in its rendition [%d:%d]! writing "
                 "its size as at 1x.\n",
                 set_name, key_index, value_index);
    entry.scale_factor = 100;
  }

  if (kind == RenditionKind::Image) {
    ContentsJson_Entry(json, catalog, entry);
    WriteRenditionImage(*value, rendition_name, file_name);
    return;
  }
  const PackQuery q = QueryOf(*header, reference);
  const int32_t packed_index = FindPackedAsset(catalog, q.scale_factor, q.idiom, q.pack_index,
                                               PackOrdinal(catalog, facet, q));
  if (packed_index < 0) {
    std::fprintf(stderr,
                 "Warning: couldn't find packed asset in app icon set '%s' for rendition [%d:%d]! "
                 "ignoring.\n",
                 set_name, key_index, value_index);
    return;
  }
  ContentsJson_Entry(json, catalog, entry);
  WriteReferenceRendition(catalog, packed_index, reference, rendition_name, file_name, cache);
}

}  // namespace

int32_t FindPackedAsset(const AssetsCatalog& catalog, uint32_t scale_factor, int32_t idiom,
                        int32_t pack_index, uint32_t ordinal) {
  // The RENDITIONS entries name each value block's own key.
  if (catalog.renditions_tree.node == nullptr) return -1;
  std::vector<uint32_t> found;
  const uint32_t count = BOMTree_EntryCount(catalog.renditions_tree);
  for (uint32_t i = 0; i < count; ++i) {
    const BOMTreeEntry entry = BOMTree_GetEntry(catalog.renditions_tree, i);
    const BOMBlock* value = BOMStore_Block(catalog.store, entry.value);
    const BOMBlock* key = BOMStore_Block(catalog.store, entry.key);
    if (value == nullptr || key == nullptr || value->kind != BlockKind::RenditionValue) continue;
    const CSIHeader* header = CSI_Header(*value);
    if (header == nullptr) continue;
    if (std::memcmp(header->name, kPackedAssetPrefix, kPackedAssetPrefixLength) != 0) continue;
    if (Get(header->scale_factor) != scale_factor) continue;
    if (RenditionKey_GetAttribute(catalog, *key, kAttrFacetId) != 0) continue;
    const int32_t key_idiom = RenditionKey_GetAttribute(catalog, *key, kAttrIdiom);
    if (key_idiom != 0 && key_idiom != idiom) continue;
    const int32_t key_pack = RenditionKey_GetAttribute(catalog, *key, kAttrDimension1);
    if ((key_pack < 0 ? 0 : key_pack) != pack_index) continue;
    found.push_back(entry.value);
  }
  if (found.empty()) return -1;
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return static_cast<int32_t>(ordinal < found.size() ? found[ordinal] : found.front());
}

bool AssetsCatalog_DecompileAppIconSet(const AssetsCatalog& catalog, const char* name,
                                       PackedAssetCache* cache) {
  PackedAssetCache own;
  PackedAssetCache& packed = cache != nullptr ? *cache : own;
  DecompiledFacet decompiled;
  if (!DecompiledFacet_Begin(catalog, "app icon set", name, ".appiconset", decompiled)) {
    return false;
  }
  const Facet& facet = *decompiled.facet;
  JsonEntryList json{decompiled.contents};
  if (json.file != nullptr) ContentsJson_Head(json);
  for (int32_t i = 0; i < facet.rendition_count; ++i) {
    DecompileRendition(catalog, facet, name, facet.renditions[i], json, packed);
  }
  if (json.file != nullptr) ContentsJson_Tail(json);
  DecompiledFacet_End(decompiled);
  return true;
}

}  // namespace skarvel
