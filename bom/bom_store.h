#pragma once
// BOMStore: the container of numbered blocks (some labelled) that a .car file
// is. The whole file is held in memory, one allocation per non-empty block.
// Every container integer is big-endian in the file.

#include <cstdint>
#include <span>

#include "base/buffer.h"

namespace skarvel {

// The role of a block in an asset catalog, set by the trees and the catalog
// loader and shown by the listings. The store itself only sets None.
enum class BlockKind : int32_t {
  None = 0,
  CarHeader = 1,
  TreeHeader = 2,
  TreeBase = 3,
  FacetKey = 4,
  FacetValue = 5,
  KeyFormat = 6,
  RenditionKey = 7,
  RenditionValue = 8,
  Metadata = 9,
  BitmapKey = 10,
  // Blocks of the labelled trees and blocks that newer catalogs add.
  AppearanceKey = 11,        // an appearance name (key of APPEARANCEKEYS)
  AppearanceValue = 12,      // its 16-bit appearance id
  ColorKey = 13,             // a named colour's key (key of COLORS)
  ColorValue = 14,           // its colour
  FontSizeKey = 15,          // a font size name (key of FONTSIZES)
  FontSizeValue = 16,        // its size
  TreeKey = 17,              // a key of any other labelled tree
  TreeValue = 18,            // a value of any other labelled tree
  CarGlobals = 19,           // the catalog-wide settings (label "CARGLOBALS")
  KeyFormatWorkaround = 20,  // attribute substitutes (label "KEYFORMATWORKAROUND")
};

// One table entry. Plain record: its label and data belong to the store.
// `data` is allocated one byte longer than `size`, and that byte is 0.
struct BOMBlock {
  char* label = nullptr;  // NUL-terminated, or null; "" counts as no label
  uint8_t* data = nullptr;
  uint64_t size = 0;
  BlockKind kind = BlockKind::None;

  std::span<const uint8_t> bytes() const { return {data, data ? size : 0}; }
  std::span<uint8_t> bytes() { return {data, data ? size : 0}; }
};

// The in-memory container. Move-only; the destructor calls BOMStore_Free.
struct BOMStore {
  BOMBlock* blocks = nullptr;
  uint64_t count = 0;

  BOMStore() = default;
  BOMStore(const BOMStore&) = delete;
  BOMStore& operator=(const BOMStore&) = delete;
  BOMStore(BOMStore&& other) noexcept;
  BOMStore& operator=(BOMStore&& other) noexcept;
  ~BOMStore();
};

// Loads a whole file. Prints its "BOMStore_ReadFromFile(): ..." diagnostics on
// stderr; a failed read leaves the store empty. errno: the file read's code,
// EINVAL (not a store, a bad count, a table, label or block reaching past the
// end of the file) or ENOMEM.
[[nodiscard]] bool BOMStore_ReadFromFile(BOMStore& store, const char* path);
// The same on bytes already in memory; `name` stands for the path in messages.
[[nodiscard]] bool BOMStore_ReadFromBytes(BOMStore& store, std::span<const uint8_t> bytes,
                                          const char* name);
// Lays the store out as a file image in `out` (the store is not changed).
// Refuses labels over 255 bytes (EINVAL) and blocks or files of 4 GiB or more
// (EFBIG) with a "BOMStore_WriteToFile(): ..." message; ENOMEM.
[[nodiscard]] bool BOMStore_WriteToBuffer(const BOMStore& store, Buffer& out, const char* name);
// Writes the file ("/stdout/" and "/stderr/" name the standard streams); a
// failure of the write itself prints nothing and leaves the system's errno.
[[nodiscard]] bool BOMStore_WriteToFile(const BOMStore& store, const char* path);
// Stores a copy of `data` (and `label`) at `index`, or at the block carrying
// `label` / the first free block when `index` is -1 (appending at `count`
// when no block is free). The table grows in steps of 512 entries. EINVAL for
// a label another block carries, ENOMEM; a failure keeps the previous block.
[[nodiscard]] bool BOMStore_WriteBlock(BOMStore& store, int32_t index, const char* label,
                                       const void* data, uint64_t size);
// Sets a copy of `label` on an existing block (EINVAL outside the table or
// for a label another block carries, ENOMEM).
[[nodiscard]] bool BOMStore_NameBlock(BOMStore& store, int32_t index, const char* label);
// Empties a block (label and data); the table keeps its length. EINVAL
// outside the table.
[[nodiscard]] bool BOMStore_EraseBlock(BOMStore& store, int32_t index);
// Lowest index whose non-empty label equals `label`, or -1.
[[nodiscard]] int32_t BOMStore_FindBlockByLabel(const BOMStore& store, const char* label);
// First index from 1 whose block has size 0, or -1.
[[nodiscard]] int32_t BOMStore_FindFreeBlock(const BOMStore& store);
void BOMStore_Free(BOMStore& store);

// The block at `index`, or null when the index is outside the table.
[[nodiscard]] inline BOMBlock* BOMStore_Block(BOMStore& store, int64_t index) {
  return index >= 0 && static_cast<uint64_t>(index) < store.count ? &store.blocks[index] : nullptr;
}
[[nodiscard]] inline const BOMBlock* BOMStore_Block(const BOMStore& store, int64_t index) {
  return index >= 0 && static_cast<uint64_t>(index) < store.count ? &store.blocks[index] : nullptr;
}

}  // namespace skarvel
