#include "bom/bom_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/mem.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/store_file_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using Entries = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr int32_t kHeader = 2;
constexpr uint32_t kNode = 3;

// A store with a big-endian tree at blocks 2 (header) and 3 (node), and
// blocks 4 to 9 holding one byte each for the entries to name.
test::StoreFileSpec TreeSpec(const Entries& entries, uint32_t node_size = 4096, uint8_t flags = 0) {
  test::StoreFileSpec recipe;
  recipe.blocks.push_back(
      {2, test::TreeHeaderBytes(kNode, node_size, uint32_t(entries.size()), flags), "TREE"});
  recipe.blocks.push_back({kNode, test::TreeNodeBytes(node_size, entries), ""});
  for (uint32_t i = 4; i <= 9; ++i) recipe.blocks.push_back({i, Bytes{uint8_t(i)}, ""});
  recipe.count = 10;
  return recipe;
}

void Load(BOMStore& store, const Bytes& file) {
  test::CaptureStream quiet(2);
  ASSERT_TRUE(BOMStore_ReadFromBytes(store, file, "tree.car"));
}

Bytes BlockBytes(const BOMStore& store, uint32_t i) {
  const BOMBlock& b = store.blocks[i];
  return Bytes(b.data, b.data + b.size);
}

Entries EntriesOf(const BOMTree& tree) {
  Entries out;
  for (uint32_t i = 0; i < BOMTree_EntryCount(tree); ++i) {
    const BOMTreeEntry e = BOMTree_GetEntry(tree, i);
    out.push_back({e.value, e.key});
  }
  return out;
}

TEST(BOMTree, OpenConvertsFileOrderOnceAndMarksKinds) {
  const Entries entries = {{5, 4}, {7, 6}};
  BOMStore store;
  Load(store, test::BuildStoreFile(TreeSpec(entries)));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), entries);
  EXPECT_EQ(BOMTree_ChildIndex(tree), kNode);
  EXPECT_EQ(BOMTree_NodeBlockSize(tree), 4096u);
  EXPECT_EQ(BOMTree_Flags(tree), 0);
  EXPECT_EQ(LoadU32Host(tree.header + 4), 1u);
  EXPECT_EQ(LoadU32Host(tree.header + 16), 2u);  // path count
  EXPECT_EQ(LoadU16Host(tree.node), 1u);         // is root tree
  EXPECT_EQ(store.blocks[kHeader].kind, BlockKind::TreeHeader);
  EXPECT_EQ(store.blocks[kNode].kind, BlockKind::TreeBase);
  EXPECT_EQ(store.blocks[4].kind, BlockKind::None);
  EXPECT_EQ(tree.node_size, 4096u);
  EXPECT_EQ(tree.entries, tree.node + 12);

  // Opening again changes nothing.
  const Bytes header = BlockBytes(store, kHeader);
  const Bytes node = BlockBytes(store, kNode);
  BOMTree again;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, again));
  EXPECT_EQ(BlockBytes(store, kHeader), header);
  EXPECT_EQ(BlockBytes(store, kNode), node);
  EXPECT_EQ(EntriesOf(again), entries);
}

TEST(BOMTree, HostOrderTreeIsUsedAsItIs) {
  // Version bytes 01 00 00 00: already in (little-endian) host order.
  Bytes header = test::Patched(
      Bytes(21, 0),
      test::Patches({test::PutText(0, "tree"), test::PutU32LE(4, 1), test::PutU32LE(8, kNode),
                     test::PutU32LE(12, 64), test::PutU32LE(16, 1)}));
  Bytes node(64, 0);
  node = test::Patched(node, test::Patches({test::PutU16LE(0, 1), test::PutU16LE(2, 1),
                                            test::PutU32LE(12, 9), test::PutU32LE(16, 8)}));
  test::StoreFileSpec recipe;
  recipe.blocks = {{2, header, "TREE"}, {kNode, node, ""}};
  recipe.count = 10;
  BOMStore store;
  Load(store, test::BuildStoreFile(recipe));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), (Entries{{9, 8}}));
  EXPECT_EQ(BlockBytes(store, kHeader), header);
  EXPECT_EQ(BlockBytes(store, kNode), node);
}

TEST(BOMTree, MalformedTreesAreRefusedUntouched) {
  test::StoreFileLayout l;
  const Bytes good = test::BuildStoreFile(TreeSpec({{5, 4}, {7, 6}}), &l);
  const size_t h = l.DataAt(kHeader);
  const size_t n = l.DataAt(kNode);
  struct BadTree {
    const char* name;
    test::Patch patch;
    int32_t index;
  };
  const BadTree kBadTrees[] = {
      {"no header", test::NoPatch(), -1},
      {"header index past the table", test::NoPatch(), 10},
      {"header of 20 bytes", test::PutU32BE(l.BlockLengthAt(kHeader), 20), kHeader},
      {"header of 25 bytes", test::PutU32BE(l.BlockLengthAt(kHeader), 25), kHeader},
      {"child outside the table", test::PutU32BE(h + 8, 10), kHeader},
      {"child is an empty block", test::PutU32BE(h + 8, 1), kHeader},
      {"child is the header itself", test::PutU32BE(h + 8, kHeader), kHeader},
      {"node shorter than its entries", test::Patches({test::PutU32BE(l.BlockLengthAt(kNode), 27)}),
       kHeader},
      {"node shorter than its head", test::PutU32BE(l.BlockLengthAt(kNode), 11), kHeader},
      {"leaf count beyond the node", test::PutU16BE(n + 2, 600), kHeader},
      {"root is a branch over blocks that are not nodes", test::PutU16BE(n, 0), kHeader},
      {"entry value outside the table", test::PutU32BE(n + 12 + 8, 10), kHeader},
      {"entry key outside the table", test::PutU32BE(n + 16, 0xFFFFFFFF), kHeader},
  };
  for (const BadTree& c : kBadTrees) {
    SCOPED_TRACE(c.name);
    BOMStore store;
    Load(store, test::Patched(good, c.patch));
    Bytes before[10];
    for (uint32_t i = 0; i < 10; ++i) before[i] = BlockBytes(store, i);
    BOMTree tree;
    errno = 0;
    test::CaptureStream capture(2);
    EXPECT_FALSE(BOMTree_Open(store, c.index, tree));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(capture.Finish(), "");
    for (uint32_t i = 0; i < 10; ++i) {
      EXPECT_EQ(BlockBytes(store, i), before[i]) << "block " << i;
      EXPECT_EQ(store.blocks[i].kind, BlockKind::None) << "block " << i;
    }
  }
  // With flags 1 the keys are numbers, not block indices.
  BOMStore store;
  Load(store, test::BuildStoreFile(TreeSpec({{5, 70000}}, 1024, 1)));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), (Entries{{5, 70000}}));
}

TEST(BOMTree, CreateInsertAndCapacity) {
  struct Case {
    uint32_t node_size;
    uint32_t capacity;
  };
  for (const Case& c : {Case{4096, 509}, Case{1024, 125}}) {
    SCOPED_TRACE(c.node_size);
    BOMStore store;
    ASSERT_TRUE(BOMTree_Create(store, 4, "NEW", c.node_size, 0));
    EXPECT_EQ(store.count, 512u);
    EXPECT_EQ(store.blocks[4].size, 21u);
    EXPECT_EQ(store.blocks[5].size, c.node_size);
    EXPECT_EQ(BOMStore_FindBlockByLabel(store, "NEW"), 4);
    BOMTree tree;
    ASSERT_TRUE(BOMTree_Open(store, 4, tree));
    EXPECT_EQ(BOMTree_ChildIndex(tree), 5u);
    EXPECT_EQ(BOMTree_EntryCount(tree), 0);
    for (uint32_t i = 0; i < c.capacity; ++i) {
      ASSERT_TRUE(BOMTree_HasRoom(tree));
      ASSERT_TRUE(BOMTree_InsertEntry(tree, i, i, i));
    }
    EXPECT_FALSE(BOMTree_HasRoom(tree));
    errno = 0;
    EXPECT_FALSE(BOMTree_InsertEntry(tree, 0, 1, 1));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(BOMTree_EntryCount(tree), c.capacity);
    EXPECT_EQ(LoadU32Host(tree.header + 16), c.capacity);
    EXPECT_EQ(BOMTree_GetEntry(tree, 0).value, 0u);
  }
}

TEST(BOMTree, InsertMovesLaterEntriesUp) {
  BOMStore store;
  ASSERT_TRUE(BOMTree_Create(store, 2, "T", 4096, 0));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, 2, tree));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 0, 10, 11));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 1, 12, 13));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 0, 20, 21));
  EXPECT_EQ(EntriesOf(tree), (Entries{{20, 21}, {10, 11}, {12, 13}}));
  EXPECT_EQ(LoadU32Host(tree.header + 16), 3u);
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 2, 30, 31));
  EXPECT_EQ(EntriesOf(tree), (Entries{{20, 21}, {10, 11}, {30, 31}, {12, 13}}));
  errno = 0;
  EXPECT_FALSE(BOMTree_InsertEntry(tree, 5, 1, 1));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(BOMTree_EntryCount(tree), 4);
}

TEST(BOMTree, CapacityAlsoFollowsTheNodeBlock) {
  // A header that claims 4096 bytes over a 28-byte node holds two entries.
  test::StoreFileLayout l;
  const Bytes file = test::BuildStoreFile(TreeSpec({{5, 4}}, 4096), &l);
  BOMStore store;
  Load(store, test::Patched(file, test::PutU32BE(l.BlockLengthAt(kNode), 28)));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  ASSERT_TRUE(BOMTree_InsertEntry(tree, 1, 7, 6));
  EXPECT_FALSE(BOMTree_InsertEntry(tree, 2, 9, 8));
  EXPECT_EQ(errno, ENOSPC);
}

TEST(BOMTree, ToggleGivesTheFileBytesAndBack) {
  const struct {
    const char* name;
    uint32_t count;
    uint32_t version;  // set in the open tree's header
  } kCases[] = {
      {"2 entries", 2, 1},
      {"300 entries", 300, 1},
      // Version 0 reads the same in both orders: the entry count must still
      // be read in the order the node is in (256 swapped is 1).
      {"256 entries, version 0", 256, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Entries entries;
    for (uint32_t i = 0; i < c.count; ++i) entries.push_back({4 + i % 6, 4 + (i * 7) % 6});
    test::StoreFileSpec recipe = TreeSpec(entries);
    BOMStore store;
    Load(store, test::BuildStoreFile(recipe));
    BOMTree tree;
    ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
    StoreU32Host(tree.header + 4, c.version);
    StoreU32BE(std::span<uint8_t, 4>(recipe.blocks[0].data.data() + 4, 4), c.version);
    const Bytes host_header = BlockBytes(store, kHeader);
    const Bytes host_node = BlockBytes(store, kNode);
    BOMTree_ToggleByteOrder(tree);
    EXPECT_EQ(BlockBytes(store, kHeader), recipe.blocks[0].data);
    EXPECT_EQ(BlockBytes(store, kNode), recipe.blocks[1].data);
    EXPECT_EQ(BOMTree_ChildIndex(tree), kNode);  // read in the order the blocks are in
    BOMTree_ToggleByteOrder(tree);
    EXPECT_EQ(BlockBytes(store, kHeader), host_header);
    EXPECT_EQ(BlockBytes(store, kNode), host_node);
  }
}

// Trees in newer shapes: a store with the header at 2, the root node at 3,
// blocks 4 to 9 of one byte each for the entries to name, and leaves at 10,
// 11 and 12 under a branch root.
constexpr uint32_t kLeaves[3] = {10, 11, 12};

struct ShapeCase {
  const char* name;
  test::StoreFileSpec recipe;
  Entries entries;       // in key order
  uint32_t inline_keys;  // the header's inline key length
  uint32_t nodes;
};

test::StoreFileSpec ShapeSpec(Bytes header, std::vector<Bytes> nodes) {
  test::StoreFileSpec recipe;
  recipe.blocks.push_back({2, std::move(header), "TREE"});
  recipe.blocks.push_back({kNode, std::move(nodes[0]), ""});
  for (uint32_t i = 4; i <= 9; ++i) recipe.blocks.push_back({i, Bytes{uint8_t(i)}, ""});
  for (size_t j = 1; j < nodes.size(); ++j) recipe.blocks.push_back({kLeaves[j - 1], nodes[j], ""});
  recipe.count = 20;
  return recipe;
}

// A branch root over three chained leaves holding 2, 2 and 3 entries.
const Entries kSeven = {{5, 4}, {7, 6}, {9, 8}, {4, 5}, {6, 7}, {8, 9}, {5, 9}};

test::StoreFileSpec BranchSpec(bool header29 = false) {
  const Entries a(kSeven.begin(), kSeven.begin() + 2), b(kSeven.begin() + 2, kSeven.begin() + 4),
      c(kSeven.begin() + 4, kSeven.end());
  return ShapeSpec(
      header29 ? test::TreeHeader29Bytes(kNode, 256, 7, 0, 0)
               : test::TreeHeaderBytes(kNode, 256, 7, 0),
      {test::BranchNodeBytes(256, {10, 11, 12}, {6, 5}), test::LeafNodeBytes(256, a, 11, 0),
       test::LeafNodeBytes(256, b, 12, 10), test::LeafNodeBytes(256, c, 0, 11)});
}

std::vector<ShapeCase> ShapeCases() {
  const Entries two = {{5, 4}, {7, 6}};
  // Keys 4 and 6 are one-byte blocks: a fixed inline key length of 1.
  const std::vector<Bytes> copies = {Bytes{4}, Bytes{6}};
  return {
      {"29-byte header without key copies",
       ShapeSpec(test::TreeHeader29Bytes(kNode, 4096, 2, 0, 0), {test::TreeNodeBytes(4096, two)}),
       two, 0, 1},
      {"29-byte header, keys of varying length",
       ShapeSpec(test::TreeHeader29Bytes(kNode, 4096, 2, 0, kTreeKeysOfVaryingLength),
                 {test::TreeNodeBytes(4096, two)}),
       two, kTreeKeysOfVaryingLength, 1},
      {"29-byte header with inline key copies",
       ShapeSpec(test::TreeHeader29Bytes(kNode, 64, 2, 0, 1),
                 {test::LeafNodeBytes(64, two, 0, 0, copies)}),
       two, 1, 1},
      {"branch root over three chained leaves", BranchSpec(), kSeven, 0, 4},
      {"29-byte header over three chained leaves", BranchSpec(true), kSeven, 0, 4},
  };
}

TEST(BOMTree, NewerShapesAreReadInOrderAndKeptAsStored) {
  for (const ShapeCase& c : ShapeCases()) {
    SCOPED_TRACE(c.name);
    BOMStore store;
    Load(store, test::BuildStoreFile(c.recipe));
    std::vector<Bytes> before;
    for (uint32_t i = 0; i < store.count; ++i) before.push_back(BlockBytes(store, i));
    BOMTree tree;
    ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
    EXPECT_EQ(EntriesOf(tree), c.entries);
    EXPECT_FALSE(BOMTree_IsOlderForm(tree));
    EXPECT_EQ(BOMTree_InlineKeyLength(tree), c.inline_keys);
    EXPECT_EQ(BOMTree_ChildIndex(tree), kNode);
    EXPECT_EQ(BOMTree_PathCount(tree), c.entries.size());
    ASSERT_EQ(BOMTree_NodeCount(tree), c.nodes);
    EXPECT_EQ(store.blocks[kHeader].kind, BlockKind::TreeHeader);
    for (uint32_t n = 0; n < c.nodes; ++n) {
      EXPECT_EQ(store.blocks[BOMTree_NodeIndex(tree, n)].kind, BlockKind::TreeBase);
      EXPECT_TRUE(BOMTree_UsesBlock(tree, BOMTree_NodeIndex(tree, n)));
    }
    EXPECT_TRUE(BOMTree_UsesBlock(tree, kHeader));
    EXPECT_FALSE(BOMTree_UsesBlock(tree, 4));

    // Such a tree never changes: no conversion, no toggling, no insertion.
    BOMTree_ToggleByteOrder(tree);
    EXPECT_FALSE(BOMTree_HasRoom(tree));
    errno = 0;
    EXPECT_FALSE(BOMTree_InsertEntry(tree, 0, 4, 4));
    EXPECT_EQ(errno, ENOTSUP);
    BOMTree_SetEntry(tree, 0, {9, 9});
    EXPECT_EQ(EntriesOf(tree), c.entries);
    for (uint32_t i = 0; i < store.count; ++i) {
      EXPECT_EQ(BlockBytes(store, i), before[i]) << "block " << i;
    }
    // Opening again reads the same entries from the same bytes.
    ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
    EXPECT_EQ(EntriesOf(tree), c.entries);
    BOMTree_Close(tree);
    EXPECT_EQ(BOMTree_EntryCount(tree), 0u);
    EXPECT_EQ(tree.owned, nullptr);
  }
}

test::StoreFileSpec NestedSpec(int branches) {
  // Branches at 3, 10, 11, ... each with one child (no separator), then a leaf.
  std::vector<uint32_t> chain = {kNode};
  for (int i = 1; i < branches; ++i) chain.push_back(uint32_t(9 + i));
  const uint32_t leaf = uint32_t(9 + branches);
  test::StoreFileSpec recipe;
  recipe.blocks.push_back({2, test::TreeHeaderBytes(kNode, 64, 1, 0), "TREE"});
  for (size_t i = 0; i < chain.size(); ++i) {
    const uint32_t child = i + 1 < chain.size() ? chain[i + 1] : leaf;
    recipe.blocks.push_back({chain[i], test::BranchNodeBytes(64, {child}, {}), ""});
  }
  recipe.blocks.push_back({leaf, test::LeafNodeBytes(64, {{5, 4}}, 0, 0), ""});
  for (uint32_t i = 4; i <= 9; ++i) recipe.blocks.push_back({i, Bytes{uint8_t(i)}, ""});
  recipe.count = 30;
  return recipe;
}

TEST(BOMTree, DamagedNewerTreesAreRefusedUntouched) {
  test::StoreFileLayout l;
  const Bytes good = test::BuildStoreFile(BranchSpec(), &l);
  const size_t root = l.DataAt(kNode);
  auto leaf = [&](int j) { return l.DataAt(kLeaves[j]); };
  auto length = [&](uint32_t block, uint32_t n) {
    return test::PutU32BE(l.BlockLengthAt(block), n);
  };
  struct BadTree {
    const char* name;
    Bytes file;
  };
  const BadTree kBadTrees[] = {
      {"leaf chain loops back to the first leaf",
       test::Patched(good, test::PutU32BE(leaf(2) + 4, kLeaves[0]))},
      {"leaf chain skips a leaf", test::Patched(good, test::PutU32BE(leaf(0) + 4, kLeaves[2]))},
      {"leaf chain ends early", test::Patched(good, test::PutU32BE(leaf(1) + 4, 0))},
      {"child index outside the table", test::Patched(good, test::PutU32BE(root + 12 + 8, 20))},
      {"child index far outside the table",
       test::Patched(good, test::PutU32BE(root + 12 + 16, 0xFFFFFFFF))},
      {"child is the tree header", test::Patched(good, test::PutU32BE(root + 12, kHeader))},
      {"child is the root itself", test::Patched(good, test::PutU32BE(root + 12, kNode))},
      {"one leaf under two children",
       test::Patched(good, test::PutU32BE(root + 12 + 8, kLeaves[0]))},
      {"child is an empty block", test::Patched(good, test::PutU32BE(root + 12 + 8, 15))},
      {"child is too short for a node", test::Patched(good, test::PutU32BE(root + 12 + 8, 5))},
      {"branch too short for its children", test::Patched(good, length(kNode, 27))},
      {"leaf too short for its entries", test::Patched(good, length(kLeaves[2], 35))},
      {"leaf count beyond its block", test::Patched(good, test::PutU16BE(leaf(1) + 2, 40))},
      {"entry value outside the table in the second leaf",
       test::Patched(good, test::PutU32BE(leaf(1) + 12, 20))},
      {"entry key outside the table in the last leaf",
       test::Patched(good, test::PutU32BE(leaf(2) + 12 + 16 + 4, 0x80000000))},
      {"29-byte header over a branch naming a block past the table",
       test::Patched(test::BuildStoreFile(BranchSpec(true), &l), test::PutU32BE(root + 12, 99))},
      {"branches nested deeper than the limit",
       test::BuildStoreFile(NestedSpec(int(kTreeMaxDepth) + 1))},
  };
  for (const BadTree& c : kBadTrees) {
    SCOPED_TRACE(c.name);
    BOMStore store;
    Load(store, c.file);
    std::vector<Bytes> before;
    for (uint32_t i = 0; i < store.count; ++i) before.push_back(BlockBytes(store, i));
    BOMTree tree;
    errno = 0;
    EXPECT_FALSE(BOMTree_Open(store, kHeader, tree));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(tree.header, nullptr);
    for (uint32_t i = 0; i < store.count; ++i) {
      EXPECT_EQ(BlockBytes(store, i), before[i]) << "block " << i;
      EXPECT_EQ(store.blocks[i].kind, BlockKind::None) << "block " << i;
    }
  }
  // The nesting limit itself is accepted.
  BOMStore store;
  Load(store, test::BuildStoreFile(NestedSpec(int(kTreeMaxDepth))));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), (Entries{{5, 4}}));
  EXPECT_EQ(BOMTree_NodeCount(tree), kTreeMaxDepth + 1);
  BOMTree_Close(tree);
}

TEST(BOMTree, OpenAsReadLeavesTheOlderFormAsStored) {
  const test::StoreFileSpec recipe = TreeSpec({{5, 4}, {7, 6}});
  BOMStore store;
  Load(store, test::BuildStoreFile(recipe));
  BOMTree tree;
  ASSERT_TRUE(BOMTree_OpenAsRead(store, kHeader, tree));
  EXPECT_EQ(EntriesOf(tree), (Entries{{5, 4}, {7, 6}}));
  EXPECT_FALSE(BOMTree_IsOlderForm(tree));
  EXPECT_EQ(BOMTree_ChildIndex(tree), kNode);
  EXPECT_EQ(BOMTree_NodeBlockSize(tree), 4096u);
  EXPECT_EQ(BlockBytes(store, kHeader), recipe.blocks[0].data);
  EXPECT_EQ(BlockBytes(store, kNode), recipe.blocks[1].data);
  EXPECT_EQ(store.blocks[kHeader].kind, BlockKind::None);  // no kinds set
  BOMTree_MarkBlocks(store, tree);
  EXPECT_EQ(store.blocks[kHeader].kind, BlockKind::TreeHeader);
  EXPECT_EQ(store.blocks[kNode].kind, BlockKind::TreeBase);
  // The same view can then be opened (and converted) by BOMTree_Open.
  ASSERT_TRUE(BOMTree_Open(store, kHeader, tree));
  EXPECT_TRUE(BOMTree_IsOlderForm(tree));
  EXPECT_EQ(LoadU32Host(tree.header + 4), 1u);
  EXPECT_EQ(EntriesOf(tree), (Entries{{5, 4}, {7, 6}}));
}

TEST(BOMTree, StoredTreeAllocationFailures) {
  const Bytes file = test::BuildStoreFile(BranchSpec());
  BOMStore store;
  Load(store, file);
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 10);
    BOMTree tree;
    Mem_FailAfter(n);
    const bool ok = BOMTree_Open(store, kHeader, tree);
    const int code = errno;
    Mem_FailAfter(-1);
    if (ok) {
      EXPECT_EQ(EntriesOf(tree), kSeven);
      BOMTree_Close(tree);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(tree.owned, nullptr);
    EXPECT_EQ(store.blocks[kNode].kind, BlockKind::None);
  }
}

}  // namespace
}  // namespace skarvel
