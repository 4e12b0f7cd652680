#pragma once
// Builds BOMStore files byte by byte, with its own code (independent of the
// store reader and writer), in the layout the writer produces: header padded
// to 512, block data in index order each padded to 16, the labels table
// padded to 16, then the block table padded to a length of 1384 mod 4096.
// Empty entries between block 1 and the last used block are written
// (0xFFFFFFFF, 0xFFFFFFFF), the others (0, 0).
//
//   StoreFileLayout layout;
//   StoreFileSpec recipe;
//   recipe.blocks = {{1, BytesOf("abc"), "NAME"}};
//   Bytes file = BuildStoreFile(recipe, &layout);
//   Bytes bad = Patched(file, PutU32BE(layout.BlockLengthAt(1), 1000));  // length past the end

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/byte_patch.h"

namespace skarvel::test {

// Header fields (big-endian u32 at these file offsets).
inline constexpr size_t kStoreVersionAt = 8;
inline constexpr size_t kStoreLastUsedAt = 12;
inline constexpr size_t kStoreTableOffsetAt = 16;
inline constexpr size_t kStoreTableLengthAt = 20;
inline constexpr size_t kStoreLabelsOffsetAt = 24;
inline constexpr size_t kStoreLabelsLengthAt = 28;

struct StoreFileBlock {
  uint32_t index = 0;
  Bytes data;         // empty: an empty table entry
  std::string label;  // "" = none; written even for an empty block
};

struct StoreFileSpec {
  std::vector<StoreFileBlock> blocks;  // any order, one per index
  uint32_t count = 0;                  // table count; 0 = highest index + 1
  uint32_t version = 1;
  // Raw label entries written after the blocks' own labels (dangling,
  // duplicate, naming empty blocks...).
  std::vector<std::pair<uint32_t, std::string>> extra_labels;
};

// Where things landed, for patches.
struct StoreFileLayout {
  size_t labels_at = 0;      // the labels count
  size_t labels_length = 0;  // as written in the header (padding excluded)
  size_t table_at = 0;       // the block count
  size_t table_length = 0;   // region length, padding included
  uint32_t count = 0;
  std::map<uint32_t, size_t> data_at;         // block index -> file offset of its data
  std::map<uint32_t, size_t> label_entry_at;  // block index -> its labels entry (first one)

  // Block table entry of `index`: address field; the length field follows.
  size_t TableEntryAt(uint32_t index) const { return table_at + 4 + 8 * size_t{index}; }
  size_t BlockLengthAt(uint32_t index) const { return TableEntryAt(index) + 4; }
  size_t DataAt(uint32_t index) const;  // test failure when the block has no data
};

Bytes BuildStoreFile(const StoreFileSpec& recipe, StoreFileLayout* layout = nullptr);

}  // namespace skarvel::test
