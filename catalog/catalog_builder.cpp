#include "catalog/catalog_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/buffer.h"
#include "base/file_system.h"
#include "base/mem.h"
#include "base/result.h"
#include "catalog/rendition_attribute.h"
#include "csi/csi_format.h"

namespace skarvel {

namespace {

constexpr uint32_t kRenditionsNodeSize = 4096;
constexpr uint32_t kFacetKeysNodeSize = 4096;
constexpr uint32_t kBitmapKeysNodeSize = 1024;
constexpr uint64_t kKeySize = 2 * kDefaultKeyFormat.size();  // 34
constexpr uint64_t kFacetValueSize = 6 + 4 * 3;              // 18
constexpr uint64_t kBitmapKeyHeadSize = 16;
constexpr uint64_t kBitmapKeySize = kBitmapKeyHeadSize + 4 * kDefaultKeyFormat.size();  // 84
constexpr uint64_t kPlatformFieldSize = 256;
constexpr uint32_t kMaxFacetId = 0xFFFF;  // facet ids are 16-bit in keys and facet values

constexpr char kCoreUIIdentifier[] = "@(#)PROGRAM:CoreUI  PROJECT:CoreUI-493.4\n";
constexpr char kInterfaceBuilderIdentifier[] = "IBCocoaTouchImageCatalogTool-9.3.1";
constexpr char kCoreThemeIdentifier[] =
    "@(#)PROGRAM:CoreThemeDefinition  PROJECT:CoreThemeDefinition-339.7\n";

// The generator: the classic linear congruential one, 15 bits per draw, so
// that a given seed gives the same catalog on every machine.
uint32_t g_random_state = 1;

void DrawIdentity(CARHeader& header) {
  for (uint8_t& b : header.uuid) b = static_cast<uint8_t>(CatalogRandom_Next() & 0xFF);
  header.uuid[6] = static_cast<uint8_t>((header.uuid[6] & 0x0F) | 0x40);
  header.uuid[8] = static_cast<uint8_t>((header.uuid[8] & 0x3F) | 0x80);
  const uint32_t high = static_cast<uint32_t>(CatalogRandom_Next());
  const uint32_t low = static_cast<uint32_t>(CatalogRandom_Next());
  Set(header.checksum, (high << 16) | low);
}

void CopyText(char* field, size_t field_size, const char* text) {
  std::memset(field, 0, field_size);
  const size_t length = std::strlen(text);
  std::memcpy(field, text, length < field_size ? length : field_size - 1);
}

bool BlockInUse(const BOMBlock& b) {
  return b.label != nullptr || b.data != nullptr || b.size != 0;
}

// Finds the labelled blocks again and reopens the trees, as loading would.
bool RefreshViews(AssetsCatalog& c) {
  BOMStore& store = c.store;
  c.header_index = BOMStore_FindBlockByLabel(store, "CARHEADER");
  c.key_format_index = BOMStore_FindBlockByLabel(store, "KEYFORMAT");
  c.metadata_index = BOMStore_FindBlockByLabel(store, "EXTENDED_METADATA");
  BOMBlock* header = BOMStore_Block(store, c.header_index);
  BOMBlock* key_format = BOMStore_Block(store, c.key_format_index);
  BOMBlock* metadata = BOMStore_Block(store, c.metadata_index);
  if (header == nullptr || header->size != kCARHeaderSize || key_format == nullptr ||
      key_format->size < kKeyFormatHeadSize || metadata == nullptr ||
      metadata->size != kExtendedMetadataSize) {
    return Fail(EINVAL);
  }
  c.header = reinterpret_cast<CARHeader*>(header->data);
  c.key_format = key_format->data;
  c.key_format_attributes = key_format->data + kKeyFormatHeadSize;
  c.metadata = reinterpret_cast<ExtendedMetadata*>(metadata->data);
  c.renditions_tree_index = BOMStore_FindBlockByLabel(store, "RENDITIONS");
  c.facet_keys_tree_index = BOMStore_FindBlockByLabel(store, "FACETKEYS");
  c.bitmap_keys_tree_index = BOMStore_FindBlockByLabel(store, "BITMAPKEYS");
  return BOMTree_Open(store, c.renditions_tree_index, c.renditions_tree) &&
         BOMTree_Open(store, c.facet_keys_tree_index, c.facet_keys_tree) &&
         BOMTree_Open(store, c.bitmap_keys_tree_index, c.bitmap_keys_tree);
}

// Blocks can be inserted only where every reference to a block index is one
// this builder renumbers: the three trees in the older single-node form and
// no other labelled trees. Trees in newer shapes are kept exactly as read.
bool CanInsertBlocks(const AssetsCatalog& c) {
  return BOMTree_IsOlderForm(c.renditions_tree) && BOMTree_IsOlderForm(c.facet_keys_tree) &&
         BOMTree_IsOlderForm(c.bitmap_keys_tree) && c.other_tree_count == 0 &&
         c.metadata != nullptr;
}

// New keys, facet values and bitmap keys are laid out in the default format;
// mixing them into a catalog keyed differently would corrupt it.
bool HasDefaultKeyFormat(const AssetsCatalog& c) {
  if (KeyFormat_Count(c) != kDefaultKeyFormat.size()) return false;
  for (uint32_t i = 0; i < kDefaultKeyFormat.size(); ++i) {
    if (KeyFormat_Attribute(c, i) != kDefaultKeyFormat[i].attribute) return false;
  }
  return true;
}

// True when some tree or rendition list refers to block `index`.
bool IsReferenced(const AssetsCatalog& c, uint32_t index) {
  const BOMTree* trees[3] = {&c.renditions_tree, &c.facet_keys_tree, &c.bitmap_keys_tree};
  for (int t = 0; t < 3; ++t) {
    const BOMTree& tree = *trees[t];
    if (tree.header == nullptr) continue;
    if (BOMTree_ChildIndex(tree) == index) return true;
    for (uint32_t i = 0; i < BOMTree_EntryCount(tree); ++i) {
      const BOMTreeEntry e = BOMTree_GetEntry(tree, i);
      if (e.value == index || (t < 2 && e.key == index)) return true;
    }
  }
  for (uint32_t f = 0; f < c.facet_count; ++f) {
    for (int32_t r = 0; r < c.facets[f].rendition_count; ++r) {
      const RenditionRef ref = c.facets[f].renditions[r];
      if (ref.key_block == index || ref.value_block == index) return true;
    }
  }
  return false;
}

// Where a new key goes among the keys of `tree`, ordered by their bytes:
// before the first key greater over the length the two share, otherwise at
// the end. A key equal over that length (one is a prefix of the other) stays
// in front of the new one.
uint32_t SortedPosition(const AssetsCatalog& c, const BOMTree& tree, const void* key,
                        uint64_t length) {
  const uint32_t count = BOMTree_EntryCount(tree);
  for (uint32_t i = 0; i < count; ++i) {
    const BOMBlock& existing = AssetsCatalog_EntryBlock(c, BOMTree_GetEntry(tree, i).key);
    const uint64_t shorter = existing.size < length ? existing.size : length;
    if (shorter > 0 && std::memcmp(existing.data, key, static_cast<size_t>(shorter)) > 0) {
      return i;
    }
  }
  return count;
}

// errno = code; the -1 of the operations that return a block index or id.
int32_t FailIndex(int code) {
  errno = code;
  return -1;
}

uint32_t Bump(uint32_t value, uint32_t k) { return value >= k ? value + 1 : value; }

// Takes an allocation of `size` + 1 bytes as the block's data.
void AdoptData(BOMBlock& block, uint8_t* data, uint64_t size, BlockKind kind) {
  data[size] = 0;
  block.data = data;
  block.size = size;
  block.kind = kind;
}

// Writes `image` to a temporary file beside `path` and renames it over `path`
// once everything is on disk. A failure removes the temporary file and leaves
// any previous file untouched.
bool WriteFileReplacing(const Buffer& image, const char* path) {
  if (std::strcmp(path, "/stdout/") == 0 || std::strcmp(path, "/stderr/") == 0) {
    return Buffer_WriteToFile(image, path);
  }
  if (path[0] == '\0') return Fail(EINVAL);
  ResolvedPath resolved;
  if (!ResolvePath(path, resolved)) return false;
  if (!File_CreateParentDirectories(resolved.path)) return false;
  static constexpr char kSuffix[] = ".tmp-XXXXXX";
  const size_t length = std::strlen(resolved.path);
  char* temp = static_cast<char*>(Mem_Alloc(length + sizeof kSuffix));
  if (temp == nullptr) return Fail(ENOMEM);
  std::memcpy(temp, resolved.path, length);
  std::memcpy(temp + length, kSuffix, sizeof kSuffix);
  const int fd = mkstemp(temp);
  if (fd < 0) {
    const int code = errno;
    Mem_Free(temp);
    return Fail(code);
  }
  // mkstemp creates the file private; give it the mode a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  int code = fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  const uint8_t* p = image.data;
  uint64_t left = image.data ? image.size : 0;
  while (code == 0 && left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      code = errno;
      break;
    }
    p += n;
    left -= static_cast<uint64_t>(n);
  }
  if (code == 0 && fsync(fd) != 0) code = errno;
  if (close(fd) != 0 && code == 0) code = errno;
  if (code == 0 && rename(temp, resolved.path) != 0) code = errno;
  if (code != 0) unlink(temp);
  Mem_Free(temp);
  return code == 0 ? true : Fail(code);
}

}  // namespace

void CatalogRandom_Seed() {
  uint64_t seed = static_cast<uint64_t>(std::time(nullptr));
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(epoch, &end, 10);
    if (errno == 0 && end != epoch && *end == '\0') seed = value;
  }
  g_random_state = static_cast<uint32_t>(seed);
}

int CatalogRandom_Next() {
  g_random_state = g_random_state * 1103515245u + 12345u;
  return static_cast<int>((g_random_state >> 16) & 0x7FFF);
}

bool AssetsCatalog_CreateNew(AssetsCatalog& catalog, const char* platform) {
  AssetsCatalog_Free(catalog);
  if (platform == nullptr || std::strlen(platform) >= kPlatformFieldSize) return Fail(EINVAL);
  CatalogRandom_Seed();

  CARHeader header{};
  std::memcpy(header.magic, "RATC", 4);
  Set(header.coreui_version, 493);
  Set(header.storage_version, 14);
  Set(header.storage_timestamp, 0);
  Set(header.rendition_count, 0);
  CopyText(header.coreui_id, sizeof header.coreui_id, kCoreUIIdentifier);
  CopyText(header.interface_builder_id, sizeof header.interface_builder_id,
           kInterfaceBuilderIdentifier);
  DrawIdentity(header);
  Set(header.schema_version, 2);
  Set(header.colorspace_id, 1);
  Set(header.key_semantics, 2);

  uint8_t key_format[kKeyFormatHeadSize + 4 * kDefaultKeyFormat.size()] = {};
  std::memcpy(key_format, "tmfk", 4);
  const std::span<uint8_t> kf(key_format);
  StoreU32LEAt(kf, 8, static_cast<uint32_t>(kDefaultKeyFormat.size()));
  for (size_t i = 0; i < kDefaultKeyFormat.size(); ++i) {
    StoreU32LEAt(kf, kKeyFormatHeadSize + 4 * i, kDefaultKeyFormat[i].attribute);
  }

  ExtendedMetadata metadata{};
  std::memcpy(metadata.magic, "META", 4);
  CopyText(metadata.xcode_version, sizeof metadata.xcode_version, "11.3");
  CopyText(metadata.target_platform, sizeof metadata.target_platform, platform);
  CopyText(metadata.coretheme_id, sizeof metadata.coretheme_id, kCoreThemeIdentifier);

  BOMStore& store = catalog.store;
  const bool ok = BOMStore_WriteBlock(store, 1, "CARHEADER", &header, sizeof header) &&
                  BOMTree_Create(store, 2, "RENDITIONS", kRenditionsNodeSize, 0) &&
                  BOMTree_Create(store, 4, "FACETKEYS", kFacetKeysNodeSize, 0) &&
                  BOMStore_WriteBlock(store, 6, "KEYFORMAT", key_format, sizeof key_format) &&
                  BOMStore_WriteBlock(store, 7, "EXTENDED_METADATA", &metadata, sizeof metadata) &&
                  BOMTree_Create(store, 8, "BITMAPKEYS", kBitmapKeysNodeSize, 1);
  if (!ok) return false;

  for (uint64_t i = 0; i < store.count; ++i) store.blocks[i].kind = BlockKind::None;
  constexpr BlockKind kKinds[] = {
      BlockKind::CarHeader,  BlockKind::TreeHeader, BlockKind::TreeBase,
      BlockKind::TreeHeader, BlockKind::TreeBase,   BlockKind::KeyFormat,
      BlockKind::Metadata,   BlockKind::TreeHeader, BlockKind::TreeBase};
  for (int i = 0; i < 9; ++i) store.blocks[i + 1].kind = kKinds[i];
  return RefreshViews(catalog);
}

bool AssetsCatalog_InsertBlock(AssetsCatalog& catalog, int32_t index) {
  BOMStore& store = catalog.store;
  if (index < 0 || static_cast<uint64_t>(index) >= store.count) return Fail(EINVAL);
  if (!CanInsertBlocks(catalog)) return Fail(ENOTSUP);
  const uint64_t last = store.count - 1;
  // The table never grows here. An empty last entry that something still
  // names cannot be pushed out of the table either.
  if (BlockInUse(store.blocks[last]) || IsReferenced(catalog, static_cast<uint32_t>(last))) {
    return Fail(ENOSPC);
  }
  const uint32_t k = static_cast<uint32_t>(index);
  std::memmove(&store.blocks[k + 1], &store.blocks[k], (last - k) * sizeof(BOMBlock));
  store.blocks[k] = BOMBlock{};

  const BOMTree* trees[3] = {&catalog.renditions_tree, &catalog.facet_keys_tree,
                             &catalog.bitmap_keys_tree};
  // The tree blocks kept their data arrays: the views still point at them.
  for (int t = 0; t < 3; ++t) {
    uint8_t* header = trees[t]->header;
    const uint32_t child = LoadU32Host(header + 8);
    StoreU32Host(header + 8, Bump(child, k));
  }
  if (!RefreshViews(catalog)) return false;
  BOMTree* open[3] = {&catalog.renditions_tree, &catalog.facet_keys_tree,
                      &catalog.bitmap_keys_tree};
  for (int t = 0; t < 3; ++t) {
    BOMTree& tree = *open[t];
    for (uint32_t i = 0; i < BOMTree_EntryCount(tree); ++i) {
      BOMTreeEntry e = BOMTree_GetEntry(tree, i);
      e.value = Bump(e.value, k);
      if (t < 2) e.key = Bump(e.key, k);  // BITMAPKEYS keys are facet ids
      BOMTree_SetEntry(tree, i, e);
    }
  }
  for (uint32_t f = 0; f < catalog.facet_count; ++f) {
    Facet& facet = catalog.facets[f];
    for (int32_t r = 0; r < facet.rendition_count; ++r) {
      facet.renditions[r].key_block = Bump(facet.renditions[r].key_block, k);
      facet.renditions[r].value_block = Bump(facet.renditions[r].value_block, k);
    }
  }
  return true;
}

bool AssetsCatalog_CanAdd(const AssetsCatalog& catalog) {
  return HasDefaultKeyFormat(catalog) && CanInsertBlocks(catalog) ? true : Fail(ENOTSUP);
}

int32_t AssetsCatalog_AddFacet(AssetsCatalog& catalog, const char* name, int32_t element,
                               int32_t part, int32_t* bitmap_key) {
  if (name == nullptr) return FailIndex(EINVAL);
  if (!AssetsCatalog_CanAdd(catalog)) return FailIndex(ENOTSUP);
  if (!BOMTree_HasRoom(catalog.facet_keys_tree) || !BOMTree_HasRoom(catalog.bitmap_keys_tree)) {
    return FailIndex(ENOSPC);
  }
  int32_t largest = 0;
  for (uint32_t i = 0; i < catalog.facet_count; ++i) {
    if (catalog.facets[i].id > largest) largest = catalog.facets[i].id;
  }
  if (static_cast<uint32_t>(largest) >= kMaxFacetId) {
    return FailIndex(ENOSPC);
  }
  const int32_t id = largest + 1;

  const size_t name_length = std::strlen(name);
  auto* key_data = static_cast<uint8_t*>(Mem_Alloc(name_length + 1));
  auto* value_data = static_cast<uint8_t*>(Mem_AllocZeroed(kFacetValueSize + 1, 1));
  auto* bitmap_data = static_cast<uint8_t*>(Mem_AllocZeroed(kBitmapKeySize + 1, 1));
  auto* grown = static_cast<Facet*>(
      Mem_Realloc(catalog.facets, (size_t{catalog.facet_count} + 1) * sizeof(Facet)));
  if (grown != nullptr) catalog.facets = grown;
  char* facet_name = Mem_StrDup(name);
  auto release = [&] {
    Mem_Free(key_data);
    Mem_Free(value_data);
    Mem_Free(bitmap_data);
    Mem_Free(facet_name);
  };
  if (key_data == nullptr || value_data == nullptr || bitmap_data == nullptr || grown == nullptr ||
      facet_name == nullptr) {
    release();
    return FailIndex(ENOMEM);
  }
  std::memcpy(key_data, name, name_length);
  const std::span<uint8_t> value(value_data, kFacetValueSize);
  StoreU16LEAt(value, 4, 3);
  const uint16_t pairs[3][2] = {{kAttrElement, static_cast<uint16_t>(element)},
                                {kAttrPart, static_cast<uint16_t>(part)},
                                {kAttrFacetId, static_cast<uint16_t>(id)}};
  for (int p = 0; p < 3; ++p) {
    StoreU16LEAt(value, 6 + 4 * static_cast<uint64_t>(p), pairs[p][0]);
    StoreU16LEAt(value, 8 + 4 * static_cast<uint64_t>(p), pairs[p][1]);
  }
  const std::span<uint8_t> bitmap(bitmap_data, kBitmapKeySize);
  StoreU32LEAt(bitmap, 0, 1);
  StoreU32LEAt(bitmap, 8, static_cast<uint32_t>(4 + 4 * kDefaultKeyFormat.size()));
  StoreU32LEAt(bitmap, 12, static_cast<uint32_t>(kDefaultKeyFormat.size()));
  for (size_t i = 0; i < kDefaultKeyFormat.size(); ++i) {
    StoreU32LEAt(bitmap, kBitmapKeyHeadSize + 4 * i, kDefaultKeyFormat[i].default_mask);
  }

  const uint32_t position = SortedPosition(catalog, catalog.facet_keys_tree, name, name_length);

  const int32_t slot =
      static_cast<int32_t>(BOMTree_ChildIndex(catalog.facet_keys_tree) + 1 + 2 * position);
  if (!AssetsCatalog_InsertBlock(catalog, slot) || !AssetsCatalog_InsertBlock(catalog, slot)) {
    const int code = errno;
    release();
    return FailIndex(code);
  }
  const int32_t bitmap_slot =
      static_cast<int32_t>(BOMTree_ChildIndex(catalog.bitmap_keys_tree) + 1 + position);
  if (!AssetsCatalog_InsertBlock(catalog, bitmap_slot)) {
    const int code = errno;
    release();
    return FailIndex(code);
  }

  AdoptData(catalog.store.blocks[slot], key_data, name_length, BlockKind::FacetKey);
  AdoptData(catalog.store.blocks[slot + 1], value_data, kFacetValueSize, BlockKind::FacetValue);
  // Both trees had room, checked above.
  (void)BOMTree_InsertEntry(catalog.facet_keys_tree, position, static_cast<uint32_t>(slot + 1),
                            static_cast<uint32_t>(slot));
  std::memmove(&catalog.facets[position + 1], &catalog.facets[position],
               (catalog.facet_count - position) * sizeof(Facet));
  catalog.facets[position] = Facet{id, facet_name, element, part, nullptr, 0};
  ++catalog.facet_count;

  AdoptData(catalog.store.blocks[bitmap_slot], bitmap_data, kBitmapKeySize, BlockKind::BitmapKey);
  if (bitmap_key != nullptr) *bitmap_key = bitmap_slot;
  (void)BOMTree_InsertEntry(catalog.bitmap_keys_tree, position, static_cast<uint32_t>(bitmap_slot),
                            static_cast<uint32_t>(id));
  return id;
}

int32_t AssetsCatalog_AddRendition(AssetsCatalog& catalog, int32_t facet_id, int32_t attributes[],
                                   uint32_t width, uint32_t height, uint32_t scale_factor,
                                   const char pixel_format[4], uint32_t colorspace_id,
                                   uint32_t layout, const char* name, uint32_t bitmap_count) {
  if (attributes == nullptr || pixel_format == nullptr || name == nullptr) {
    return FailIndex(EINVAL);
  }
  if (!AssetsCatalog_CanAdd(catalog)) return FailIndex(ENOTSUP);
  Facet* facet = nullptr;
  for (uint32_t i = 0; i < catalog.facet_count && facet == nullptr; ++i) {
    if (catalog.facets[i].id == facet_id) facet = &catalog.facets[i];
  }
  if (!BOMTree_HasRoom(catalog.renditions_tree)) {
    return FailIndex(ENOSPC);
  }
  auto* key_data = static_cast<uint8_t*>(Mem_AllocZeroed(kKeySize + 1, 1));
  auto* value_data = static_cast<uint8_t*>(Mem_AllocZeroed(kCSIHeaderSize + 1, 1));
  bool list_ok = true;
  if (facet != nullptr) {
    auto* grown = static_cast<RenditionRef*>(
        Mem_Realloc(facet->renditions,
                    (static_cast<size_t>(facet->rendition_count) + 1) * sizeof(RenditionRef)));
    if (grown != nullptr) {
      facet->renditions = grown;
    } else {
      list_ok = false;
    }
  }
  if (key_data == nullptr || value_data == nullptr || !list_ok) {
    Mem_Free(key_data);
    Mem_Free(value_data);
    return FailIndex(ENOMEM);
  }

  attributes[kAttrFacetId] = facet_id;
  if (facet != nullptr) attributes[kAttrElement] = facet->element;
  const std::span<uint8_t> key(key_data, kKeySize);
  for (size_t j = 0; j < kDefaultKeyFormat.size(); ++j) {
    StoreU16LEAt(
        key, 2 * j,
        static_cast<uint16_t>(static_cast<uint32_t>(attributes[kDefaultKeyFormat[j].attribute])));
  }
  auto* header = reinterpret_cast<CSIHeader*>(value_data);
  std::memcpy(header->magic, "ISTC", 4);
  Set(header->version, 1);
  Set(header->width, width);
  Set(header->height, height);
  Set(header->scale_factor, scale_factor);
  std::memcpy(header->pixel_format, pixel_format, 4);
  Set(header->colorspace_id, colorspace_id);
  Set(header->layout, layout);
  CopyText(header->name, sizeof header->name, name);
  Set(header->bitmap_count, bitmap_count);

  const uint32_t position = SortedPosition(catalog, catalog.renditions_tree, key_data, kKeySize);
  const int32_t slot = catalog.key_format_index + 1 + 2 * static_cast<int32_t>(position);
  if (!AssetsCatalog_InsertBlock(catalog, slot) || !AssetsCatalog_InsertBlock(catalog, slot)) {
    const int code = errno;
    Mem_Free(key_data);
    Mem_Free(value_data);
    return FailIndex(code);
  }
  AdoptData(catalog.store.blocks[slot], key_data, kKeySize, BlockKind::RenditionKey);
  AdoptData(catalog.store.blocks[slot + 1], value_data, kCSIHeaderSize, BlockKind::RenditionValue);
  (void)BOMTree_InsertEntry(catalog.renditions_tree, position, static_cast<uint32_t>(slot + 1),
                            static_cast<uint32_t>(slot));
  if (facet != nullptr) {
    facet->renditions[facet->rendition_count++] = {static_cast<uint32_t>(slot),
                                                   static_cast<uint32_t>(slot + 1)};
  }
  Set(catalog.header->rendition_count, BOMTree_EntryCount(catalog.renditions_tree));
  return slot + 1;
}

bool BitmapKey_SetAttributeMask(BOMBlock& bitmap_key, uint32_t attribute, uint32_t mask) {
  const std::span<uint8_t> b = bitmap_key.bytes();
  if (b.size() < kBitmapKeyHeadSize) return Fail(EINVAL);
  const uint32_t count = LoadU32LEAt(b, 12);
  if (count != kDefaultKeyFormat.size() || b.size() < kBitmapKeyHeadSize + uint64_t{4} * count) {
    return Fail(EINVAL);
  }
  for (size_t i = 0; i < kDefaultKeyFormat.size(); ++i) {
    if (kDefaultKeyFormat[i].attribute == attribute) {
      StoreU32LEAt(b, kBitmapKeyHeadSize + 4 * i, mask);
      return true;
    }
  }
  return Fail(ENOENT);
}

bool AssetsCatalog_Save(AssetsCatalog& catalog, const char* path) {
  const int32_t header_index = BOMStore_FindBlockByLabel(catalog.store, "CARHEADER");
  BOMBlock* header = BOMStore_Block(catalog.store, header_index);
  if (header == nullptr || header_index != catalog.header_index || header->size != kCARHeaderSize) {
    return Fail(EINVAL);
  }
  CatalogRandom_Seed();
  DrawIdentity(*reinterpret_cast<CARHeader*>(header->data));

  // The trees go to file order only while the image is laid out; the file
  // itself is written after they are back in host order. Trees read as
  // stored (newer shapes, other labelled trees) were never converted and are
  // written exactly as read.
  BOMTree_ToggleByteOrder(catalog.renditions_tree);
  BOMTree_ToggleByteOrder(catalog.facet_keys_tree);
  BOMTree_ToggleByteOrder(catalog.bitmap_keys_tree);
  Buffer image;
  const bool laid_out = BOMStore_WriteToBuffer(catalog.store, image, path);
  const int code = errno;
  BOMTree_ToggleByteOrder(catalog.renditions_tree);
  BOMTree_ToggleByteOrder(catalog.facet_keys_tree);
  BOMTree_ToggleByteOrder(catalog.bitmap_keys_tree);
  if (!laid_out) return Fail(code);
  return WriteFileReplacing(image, path);
}

}  // namespace skarvel
