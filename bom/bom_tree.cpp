#include "bom/bom_tree.h"

#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

namespace {

// Header fields (offsets in the 21-byte header block).
constexpr uint64_t kVersionAt = 4;
constexpr uint64_t kChildAt = 8;
constexpr uint64_t kNodeSizeAt = 12;
constexpr uint64_t kPathCountAt = 16;
constexpr uint64_t kFlagsAt = 20;
// Node fields.
constexpr uint64_t kIsLeafAt = 0;
constexpr uint64_t kLeafCountAt = 2;
constexpr uint64_t kNextAt = 4;
constexpr uint64_t kPreviousAt = 8;

constexpr uint32_t kHostVersionLimit = 256;

void Swap16(uint8_t* p) {
  const uint8_t t = p[0];
  p[0] = p[1];
  p[1] = t;
}

void Swap32(uint8_t* p) {
  uint8_t t = p[0];
  p[0] = p[3];
  p[3] = t;
  t = p[1];
  p[1] = p[2];
  p[2] = t;
}

uint32_t Swapped32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
uint16_t Swapped16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// A field as it will read once the tree is in host order.
uint32_t Field32(const uint8_t* p, bool swap) {
  const uint32_t v = LoadU32Host(p);
  return swap ? Swapped32(v) : v;
}
uint16_t Field16(const uint8_t* p, bool swap) {
  const uint16_t v = LoadU16Host(p);
  return swap ? Swapped16(v) : v;
}

}  // namespace

bool BOMTree_Create(BOMStore& store, int32_t header_index, const char* label, uint32_t node_size,
                    uint8_t flags) {
  if (header_index < 0 || header_index == INT32_MAX || node_size < kTreeNodeHeadSize) {
    return Fail(EINVAL);
  }
  uint8_t header[kTreeHeaderSize] = {};
  std::memcpy(header, "tree", 4);
  StoreU32Host(header + kVersionAt, 1);
  StoreU32Host(header + kChildAt, static_cast<uint32_t>(header_index) + 1);
  StoreU32Host(header + kNodeSizeAt, node_size);
  StoreU32Host(header + kPathCountAt, 0);
  header[kFlagsAt] = flags;
  auto* node = static_cast<uint8_t*>(Mem_AllocZeroed(node_size, 1));
  if (node == nullptr) return Fail(ENOMEM);
  StoreU16Host(node + kIsLeafAt, 1);
  const bool ok = BOMStore_WriteBlock(store, header_index, label, header, sizeof header) &&
                  BOMStore_WriteBlock(store, header_index + 1, nullptr, node, node_size);
  const int code = errno;
  Mem_Free(node);
  if (!ok) return Fail(code);
  store.blocks[header_index].kind = BlockKind::TreeHeader;
  store.blocks[header_index + 1].kind = BlockKind::TreeBase;
  return true;
}

bool BOMTree_Open(BOMStore& store, int32_t header_index, BOMTree& tree) {
  BOMBlock* header = BOMStore_Block(store, header_index);
  if (header == nullptr || header->size != kTreeHeaderSize) return Fail(EINVAL);
  uint8_t* h = header->data;
  // A tree still in file order reads its version 1 as 0x01000000.
  const bool swap = LoadU32Host(h + kVersionAt) > kHostVersionLimit;
  const uint32_t child = Field32(h + kChildAt, swap);
  BOMBlock* node_block = BOMStore_Block(store, child);
  if (node_block == nullptr || node_block == header || node_block->size < kTreeNodeHeadSize) {
    return Fail(EINVAL);
  }
  uint8_t* node = node_block->data;
  // Only single-node trees are read: a root that is a branch would have its
  // (child, separator) pairs taken as entries.
  if (Field16(node + kIsLeafAt, swap) == 0) return Fail(EINVAL);
  const uint16_t leaf_count = Field16(node + kLeafCountAt, swap);
  if (!Range_Fits(kTreeNodeHeadSize, uint64_t{8} * leaf_count, node_block->size)) {
    return Fail(EINVAL);
  }
  const bool keys_are_blocks = h[kFlagsAt] != 1;
  for (uint32_t i = 0; i < leaf_count; ++i) {
    const uint8_t* entry = node + kTreeNodeHeadSize + 8 * uint64_t{i};
    if (Field32(entry, swap) >= store.count) return Fail(EINVAL);
    if (keys_are_blocks && Field32(entry + 4, swap) >= store.count) return Fail(EINVAL);
  }

  // Everything checked: convert in place.
  if (swap) {
    Swap32(h + kVersionAt);
    Swap32(h + kChildAt);
    Swap32(h + kNodeSizeAt);
    Swap32(h + kPathCountAt);
    Swap16(node + kIsLeafAt);
    Swap16(node + kLeafCountAt);
    Swap32(node + kNextAt);
    Swap32(node + kPreviousAt);
    for (uint32_t i = 0; i < leaf_count; ++i) {
      uint8_t* entry = node + kTreeNodeHeadSize + 8 * uint64_t{i};
      Swap32(entry);
      Swap32(entry + 4);
    }
  }
  header->kind = BlockKind::TreeHeader;
  node_block->kind = BlockKind::TreeBase;
  tree.header = h;
  tree.node = node;
  tree.node_size = node_block->size;
  tree.entries = node + kTreeNodeHeadSize;
  return true;
}

uint16_t BOMTree_LeafCount(const BOMTree& tree) { return LoadU16Host(tree.node + kLeafCountAt); }
uint32_t BOMTree_NodeBlockSize(const BOMTree& tree) {
  return LoadU32Host(tree.header + kNodeSizeAt);
}
uint32_t BOMTree_ChildIndex(const BOMTree& tree) { return LoadU32Host(tree.header + kChildAt); }
uint8_t BOMTree_Flags(const BOMTree& tree) { return tree.header[kFlagsAt]; }

BOMTreeEntry BOMTree_GetEntry(const BOMTree& tree, uint32_t i) {
  const uint8_t* p = tree.entries + 8 * uint64_t{i};
  return {LoadU32Host(p), LoadU32Host(p + 4)};
}

void BOMTree_SetEntry(BOMTree& tree, uint32_t i, BOMTreeEntry entry) {
  uint8_t* p = tree.entries + 8 * uint64_t{i};
  StoreU32Host(p, entry.value);
  StoreU32Host(p + 4, entry.key);
}

bool BOMTree_HasRoom(const BOMTree& tree) {
  const uint64_t needed = (uint64_t{BOMTree_LeafCount(tree)} + 1) * 8;
  // The header's node size sets the capacity; the node block itself must
  // also hold the entry (a header may claim more than its node has).
  return needed + kTreeHeaderSize <= BOMTree_NodeBlockSize(tree) &&
         needed + kTreeNodeHeadSize <= tree.node_size && BOMTree_LeafCount(tree) < UINT16_MAX;
}

bool BOMTree_InsertEntry(BOMTree& tree, uint32_t position, uint32_t value, uint32_t key) {
  const uint16_t count = BOMTree_LeafCount(tree);
  if (position > count) return Fail(EINVAL);
  if (!BOMTree_HasRoom(tree)) return Fail(ENOSPC);
  uint8_t* at = tree.entries + 8 * uint64_t{position};
  std::memmove(at + 8, at, 8 * uint64_t{count - position});
  BOMTree_SetEntry(tree, position, {value, key});
  StoreU16Host(tree.node + kLeafCountAt, static_cast<uint16_t>(count + 1));
  StoreU32Host(tree.header + kPathCountAt, LoadU32Host(tree.header + kPathCountAt) + 1);
  return true;
}

void BOMTree_ToggleByteOrder(BOMTree& tree) {
  if (tree.header == nullptr || tree.node == nullptr || tree.node_size < kTreeNodeHeadSize) return;
  uint8_t* h = tree.header;
  Swap32(h + kVersionAt);
  Swap32(h + kChildAt);
  Swap32(h + kNodeSizeAt);
  Swap32(h + kPathCountAt);
  // After the swap a header in file order has its version's high bits set:
  // the node is then still in host order.
  const bool node_in_host_order = (LoadU32Host(h + kVersionAt) & ~uint32_t{0xFF}) != 0;
  uint8_t* node = tree.node;
  const uint16_t stored = LoadU16Host(node + kLeafCountAt);
  const uint64_t count = node_in_host_order ? stored : Swapped16(stored);
  const uint64_t fits = (tree.node_size - kTreeNodeHeadSize) / 8;
  for (uint64_t i = 0; i < count && i < fits; ++i) {
    Swap32(tree.entries + 8 * i);
    Swap32(tree.entries + 8 * i + 4);
  }
  Swap16(node + kIsLeafAt);
  Swap16(node + kLeafCountAt);
  Swap32(node + kNextAt);
  Swap32(node + kPreviousAt);
}

}  // namespace skarvel
