#include "bom/bom_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/mem.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/store_file_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::BytesOf;
using test::CaptureStream;
using test::Patch;
using test::StoreFileLayout;
using test::StoreFileSpec;

constexpr const char* kName = "test.car";

Bytes WrittenBytes(const BOMStore& store) {
  Buffer out;
  EXPECT_TRUE(BOMStore_WriteToBuffer(store, out, kName));
  return Bytes(out.data, out.data + out.size);
}

std::string BlockText(const BOMStore& store, uint64_t i) {
  const BOMBlock& b = store.blocks[i];
  return b.data ? std::string(reinterpret_cast<const char*>(b.data), b.size) : std::string();
}

std::string LabelOf(const BOMStore& store, uint64_t i) {
  return store.blocks[i].label ? store.blocks[i].label : "<none>";
}

bool Read(BOMStore& store, const Bytes& file, std::string* err = nullptr) {
  CaptureStream capture(2);
  const bool ok = BOMStore_ReadFromBytes(store, file, kName);
  const int code = errno;
  const std::string text = capture.Finish();
  if (err != nullptr) *err = text;
  errno = code;
  return ok;
}

// Blocks 1 to 9 with data except 5, labels on 1 and 7 (the shape of a new
// catalog with a hole), in a 512-entry table.
StoreFileSpec NineBlocks() {
  StoreFileSpec recipe;
  recipe.count = 512;
  for (uint32_t i = 1; i <= 9; ++i) {
    if (i == 5) continue;
    recipe.blocks.push_back({i, BytesOf("block " + std::to_string(i) + std::string(i * 3, 'x')),
                             i == 1   ? "FIRST"
                             : i == 7 ? "SEVENTH"
                                      : ""});
  }
  return recipe;
}

BOMStore StoreFrom(const StoreFileSpec& recipe) {
  BOMStore store;
  for (const auto& b : recipe.blocks) {
    EXPECT_TRUE(BOMStore_WriteBlock(store, static_cast<int32_t>(b.index),
                                    b.label.empty() ? nullptr : b.label.c_str(),
                                    b.data.empty() ? nullptr : b.data.data(), b.data.size()));
  }
  return store;
}

TEST(BOMStoreWrite, EmptyStoreIsTheMinimalFile) {
  BOMStore store;
  const Bytes file = WrittenBytes(store);
  ASSERT_EQ(file.size(), 1912u);
  EXPECT_EQ(std::memcmp(file.data(), "BOMStore", 8), 0);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreVersionAt), 1u);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreLastUsedAt), 0u);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreLabelsOffsetAt), 512u);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreLabelsLengthAt), 4u);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreTableOffsetAt), 528u);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreTableLengthAt), 1384u);
  EXPECT_EQ(file, test::BuildStoreFile({}));
}

TEST(BOMStoreWrite, LayoutMatchesTheIndependentBuilder) {
  const StoreFileSpec recipe = NineBlocks();
  const BOMStore store = StoreFrom(recipe);
  ASSERT_EQ(store.count, 512u);
  StoreFileLayout layout;
  const Bytes expected = test::BuildStoreFile(recipe, &layout);
  const Bytes file = WrittenBytes(store);
  ASSERT_EQ(file.size(), expected.size());
  EXPECT_EQ(file, expected);
  EXPECT_EQ(layout.table_length, 5480u);
  EXPECT_EQ(test::GetU32BE(file, test::kStoreLastUsedAt), 9u);
  // Block 0 and entries after the last used block are (0, 0); the hole at 5
  // is (0xFFFFFFFF, 0xFFFFFFFF).
  for (uint32_t i : {0u, 10u, 511u}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(test::GetU32BE(file, layout.TableEntryAt(i)), 0u);
    EXPECT_EQ(test::GetU32BE(file, layout.BlockLengthAt(i)), 0u);
  }
  EXPECT_EQ(test::GetU32BE(file, layout.TableEntryAt(5)), 0xFFFFFFFFu);
  EXPECT_EQ(test::GetU32BE(file, layout.BlockLengthAt(5)), 0xFFFFFFFFu);
  for (const auto& [index, at] : layout.data_at) EXPECT_EQ(at % 16, 0u) << index;
}

TEST(BOMStoreWrite, TableRegionLengthSteps) {
  // 172 entries still fit the 1384-byte region; 173 need the next step.
  for (const auto& [count, length] : {std::pair{172u, 1384u}, {173u, 5480u}, {1024u, 9576u}}) {
    SCOPED_TRACE(count);
    StoreFileLayout layout;
    StoreFileSpec recipe;
    recipe.count = count;
    const Bytes expected = test::BuildStoreFile(recipe, &layout);
    EXPECT_EQ(layout.table_length, length);
    BOMStore store;
    store.blocks = static_cast<BOMBlock*>(std::calloc(count, sizeof(BOMBlock)));
    store.count = count;
    EXPECT_EQ(WrittenBytes(store), expected);
  }
}

TEST(BOMStoreRead, RoundTripKeepsCountDataAndLabels) {
  test::TempDir dir;
  const BOMStore store = StoreFrom(NineBlocks());
  ASSERT_TRUE(BOMStore_WriteToFile(store, "sub/dir/out.car"));  // parents are created
  BOMStore back;
  ASSERT_TRUE(BOMStore_ReadFromFile(back, "sub/dir/out.car"));
  ASSERT_EQ(back.count, 512u);
  for (uint64_t i = 0; i < back.count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back.blocks[i].size, store.blocks[i].size);
    EXPECT_EQ(BlockText(back, i), BlockText(store, i));
    EXPECT_EQ(LabelOf(back, i), LabelOf(store, i));
    EXPECT_EQ(back.blocks[i].kind, BlockKind::None);
    // Data is followed by one zero byte; empty blocks (0xFFFFFFFF entries
    // included) have no data.
    if (back.blocks[i].size) {
      EXPECT_EQ(back.blocks[i].data[back.blocks[i].size], 0);
    } else {
      EXPECT_EQ(back.blocks[i].data, nullptr);
    }
  }
}

TEST(BOMStoreRead, LabelRules) {
  StoreFileSpec recipe;
  recipe.blocks = {{1, BytesOf("one"), "ONE"},
                   {2, {}, "ON_EMPTY"},
                   {3, BytesOf("three"), std::string(200, 'L')}};
  recipe.count = 4;
  recipe.extra_labels = {{1, "SECOND_FOR_ONE"}, {9, "PAST_COUNT"}, {3, "SECOND_FOR_THREE"}};
  BOMStore store;
  std::string err;
  ASSERT_TRUE(Read(store, test::BuildStoreFile(recipe), &err));
  EXPECT_EQ(err, "");
  ASSERT_EQ(store.count, 4u);
  EXPECT_EQ(LabelOf(store, 1), "ONE");
  EXPECT_EQ(LabelOf(store, 2), "<none>");
  EXPECT_EQ(LabelOf(store, 3), std::string(200, 'L'));
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "SECOND_FOR_ONE"), -1);
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "ON_EMPTY"), -1);
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, std::string(200, 'L').c_str()), 3);
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, ""), -1);
}

TEST(BOMStoreRead, OtherVersionLoadsWithAWarning) {
  BOMStore store;
  std::string err;
  StoreFileSpec recipe;
  recipe.blocks = {{1, BytesOf("x"), ""}};
  recipe.version = 2;
  ASSERT_TRUE(Read(store, test::BuildStoreFile(recipe), &err));
  EXPECT_EQ(err, "BOMStore_ReadFromFile(): warning: unsupported BOMStore format version (2) for "
                 "test.car\n");
  EXPECT_EQ(store.count, 2u);
}

TEST(BOMStoreRead, MalformedFilesAreRefusedCleanly) {
  StoreFileSpec recipe;
  recipe.blocks = {{1, BytesOf("first block"), "FIRST"}, {2, BytesOf("second"), "SECOND"}};
  StoreFileLayout l;
  const Bytes good = test::BuildStoreFile(recipe, &l);
  const size_t end = good.size();
  struct BadStore {
    const char* name;
    Patch patch;
    const char* message;
  };
  const std::string not_store = "BOMStore_ReadFromFile(): test.car is not a BOMStore file\n";
  const std::string bad_labels = "BOMStore_ReadFromFile(): bad value for labels table count in test.car\n";
  const std::string bad_blocks = "BOMStore_ReadFromFile(): bad value for blocks table count in test.car\n";
  const std::string labels_past = "BOMStore_ReadFromFile(): labels table reaches past the end of test.car\n";
  const std::string table_past = "BOMStore_ReadFromFile(): blocks table reaches past the end of test.car\n";
  const BadStore kBadStores[] = {
      {"31 bytes", test::Truncate(31), not_store.c_str()},
      {"empty file", test::Truncate(0), not_store.c_str()},
      {"wrong magic", test::PutText(0, "BOMStorf"), not_store.c_str()},
      {"labels count above 0x1FFFFFFF",
       test::Patches({test::PutU32BE(test::kStoreLabelsLengthAt, 0xFFFFFFFF),
                      test::PutU32BE(l.labels_at, 0x20000000)}),
       bad_labels.c_str()},
      {"labels count over the labels length", test::PutU32BE(l.labels_at, 100),
       bad_labels.c_str()},
      {"labels offset past the end", test::PutU32BE(test::kStoreLabelsOffsetAt, uint32_t(end) - 3),
       labels_past.c_str()},
      {"labels offset near 4 GiB", test::PutU32BE(test::kStoreLabelsOffsetAt, 0xFFFFFFFE),
       labels_past.c_str()},
      {"labels count beyond the file",
       test::Patches({test::PutU32BE(test::kStoreLabelsLengthAt, 0x7FFFFFFF),
                      test::PutU32BE(l.labels_at, 0x1FFFFFFF)}),
       labels_past.c_str()},
      {"label name past the end",
       test::Patches({test::PutU32BE(test::kStoreLabelsOffsetAt, uint32_t(end) - 10),
                      test::PutU32BE(end - 10, 1), test::PutU32BE(end - 6, 1),
                      test::PutU8(end - 2, 200)}),
       "BOMStore_ReadFromFile(): label entry 0 reaches past the end of test.car\n"},
      {"blocks count above 0x1FFFFFFF",
       test::Patches({test::PutU32BE(test::kStoreTableLengthAt, 0xFFFFFFFF),
                      test::PutU32BE(l.table_at, 0x20000000)}),
       bad_blocks.c_str()},
      {"blocks count over the table length", test::PutU32BE(l.table_at, 174), bad_blocks.c_str()},
      {"table offset past the end", test::PutU32BE(test::kStoreTableOffsetAt, uint32_t(end)),
       table_past.c_str()},
      {"table entries past the end",
       test::Patches({test::PutU32BE(test::kStoreTableLengthAt, 0x7FFFFFFF),
                      test::PutU32BE(l.table_at, 0x1000000)}),
       table_past.c_str()},
      {"block length past the end", test::PutU32BE(l.BlockLengthAt(2), uint32_t(end)),
       "BOMStore_ReadFromFile(): block 2 reaches past the end of test.car\n"},
      {"block address past the end", test::PutU32BE(l.TableEntryAt(1), uint32_t(end)),
       "BOMStore_ReadFromFile(): block 1 reaches past the end of test.car\n"},
      {"address plus length wraps 32 bits",
       test::Patches({test::PutU32BE(l.TableEntryAt(1), 0xFFFFFF00),
                      test::PutU32BE(l.BlockLengthAt(1), 0x200)}),
       "BOMStore_ReadFromFile(): block 1 reaches past the end of test.car\n"},
  };
  for (const BadStore& c : kBadStores) {
    SCOPED_TRACE(c.name);
    // An exact-size heap copy so that ASan sees any read past the end.
    const Bytes bad = test::Patched(good, c.patch);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bad.size() + 1]);
    std::memcpy(exact.get(), bad.data(), bad.size());
    BOMStore store;
    ASSERT_TRUE(BOMStore_WriteBlock(store, 3, "STALE", "x", 1));  // a read empties the store first
    CaptureStream capture(2);
    errno = 0;
    const bool ok = BOMStore_ReadFromBytes(store, {exact.get(), bad.size()}, kName);
    const int code = errno;
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, EINVAL);
    EXPECT_EQ(capture.Finish(), c.message);
    EXPECT_EQ(store.count, 0u);
    EXPECT_EQ(store.blocks, nullptr);
  }
  // Lengths 0 and 0xFFFFFFFF mean empty whatever the address says.
  BOMStore store;
  ASSERT_TRUE(Read(store, test::Patched(good, test::Patches({
                                                  test::PutU32BE(l.TableEntryAt(1), 0xFFFFFFF0),
                                                  test::PutU32BE(l.BlockLengthAt(1), 0xFFFFFFFF),
                                                  test::PutU32BE(l.TableEntryAt(2), 0xFFFFFFF0),
                                                  test::PutU32BE(l.BlockLengthAt(2), 0),
                                              }))));
  EXPECT_EQ(store.blocks[1].size, 0u);
  EXPECT_EQ(store.blocks[2].size, 0u);
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "FIRST"), -1);  // labels on empty blocks drop
}

TEST(BOMStoreRead, MissingFileReportsTheReadFailure) {
  test::TempDir dir;
  BOMStore store;
  CaptureStream capture(2);
  EXPECT_FALSE(BOMStore_ReadFromFile(store, "absent.car"));
  const int code = errno;
  EXPECT_EQ(capture.Finish(),
            "BOMStore_ReadFromFile(): Buffer_ReadFromFile() failed reading absent.car\n");
  EXPECT_EQ(code, ENOENT);
}

TEST(BOMStoreWriteBlock, LabelsIndicesAndGrowth) {
  BOMStore store;
  ASSERT_TRUE(BOMStore_WriteBlock(store, 1, "A", "aa", 2));
  EXPECT_EQ(store.count, 512u);
  ASSERT_TRUE(BOMStore_WriteBlock(store, -1, "B", "bb", 2));  // first free block
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "B"), 2);
  ASSERT_TRUE(BOMStore_WriteBlock(store, -1, "A", "new", 3));  // same label: replaced in place
  EXPECT_EQ(BlockText(store, 1), "new");
  EXPECT_EQ(store.blocks[1].data[3], 0);

  {
    CaptureStream capture(2);
    EXPECT_FALSE(BOMStore_WriteBlock(store, 5, "A", "zz", 2));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(capture.Finish(),
              "BOMStore_WriteBlock(): a label called 'A' already exists at position #1\n");
  }
  EXPECT_EQ(store.blocks[5].size, 0u);
  EXPECT_EQ(BlockText(store, 1), "new");

  // Writing without a label removes the old one; without data empties it.
  ASSERT_TRUE(BOMStore_WriteBlock(store, 2, nullptr, nullptr, 99));
  EXPECT_EQ(store.blocks[2].label, nullptr);
  EXPECT_EQ(store.blocks[2].size, 0u);

  ASSERT_TRUE(BOMStore_WriteBlock(store, 511, nullptr, "x", 1));
  EXPECT_EQ(store.count, 512u);
  ASSERT_TRUE(BOMStore_WriteBlock(store, 512, nullptr, "y", 1));
  EXPECT_EQ(store.count, 1024u);
  EXPECT_EQ(store.blocks[1023].size, 0u);
  EXPECT_EQ(store.blocks[1023].kind, BlockKind::None);

  CaptureStream capture(2);
  ASSERT_TRUE(BOMStore_WriteBlock(store, 0, nullptr, "zero", 4));
  EXPECT_EQ(capture.Finish(),
            "BOMStore_WriteBlock(): you are writing the block at position #0 which is usually "
            "skipped by Xcode and iOS!\n");
  EXPECT_EQ(BlockText(store, 0), "zero");
}

TEST(BOMStoreWriteBlock, NoFreeBlockAppendsAtCount) {
  BOMStore store;
  ASSERT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, "a", 1));
  for (int i = 2; i < 512; ++i) ASSERT_TRUE(BOMStore_WriteBlock(store, i, nullptr, "b", 1));
  EXPECT_EQ(BOMStore_FindFreeBlock(store), -1);
  ASSERT_TRUE(BOMStore_WriteBlock(store, -1, "TAIL", "c", 1));
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "TAIL"), 512);
  EXPECT_EQ(store.count, 1024u);
  // On an empty store the first free block does not exist either.
  BOMStore fresh;
  ASSERT_TRUE(BOMStore_WriteBlock(fresh, -1, nullptr, "d", 1));
  EXPECT_EQ(BlockText(fresh, 0), "d");
  EXPECT_EQ(fresh.count, 512u);
}

TEST(BOMStoreWriteBlock, NameEraseAndLookups) {
  BOMStore store;
  ASSERT_TRUE(BOMStore_WriteBlock(store, 1, "ONE", "1", 1));
  ASSERT_TRUE(BOMStore_WriteBlock(store, 2, nullptr, "2", 1));
  EXPECT_EQ(BOMStore_FindFreeBlock(store), 3);
  ASSERT_TRUE(BOMStore_NameBlock(store, 2, "TWO"));
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "TWO"), 2);
  EXPECT_EQ(BlockText(store, 2), "2");
  {
    CaptureStream capture(2);
    EXPECT_FALSE(BOMStore_NameBlock(store, 2, "ONE"));
    EXPECT_EQ(capture.Finish(),
              "BOMStore_NameBlock(): a label called 'ONE' already exists at position #1\n");
  }
  EXPECT_EQ(LabelOf(store, 2), "TWO");
  {
    CaptureStream capture(2);
    EXPECT_FALSE(BOMStore_NameBlock(store, 512, "X"));
    EXPECT_FALSE(BOMStore_NameBlock(store, -1, "X"));
    EXPECT_FALSE(BOMStore_EraseBlock(store, 512));
    EXPECT_FALSE(BOMStore_EraseBlock(store, -1));
    EXPECT_EQ(capture.Finish(), "");
  }
  ASSERT_TRUE(BOMStore_EraseBlock(store, 1));
  EXPECT_EQ(store.blocks[1].size, 0u);
  EXPECT_EQ(store.blocks[1].label, nullptr);
  EXPECT_EQ(store.count, 512u);
  EXPECT_EQ(BOMStore_FindFreeBlock(store), 1);
  EXPECT_EQ(BOMStore_FindBlockByLabel(store, "TWO"), 2);

  CaptureStream capture(2);
  EXPECT_TRUE(BOMStore_NameBlock(store, 0, "ZERO"));
  EXPECT_TRUE(BOMStore_EraseBlock(store, 0));
  EXPECT_EQ(capture.Finish(),
            "BOMStore_NameBlock(): you are renaming the block at position #0 which is usually "
            "skipped by Xcode and iOS!\n"
            "BOMStore_EraseBlock(): you are erasing the block at position #0 which is usually "
            "skipped by Xcode and iOS!\n");
}

TEST(BOMStoreWrite, UnrepresentableStoresAreRefused) {
  BOMStore store;
  ASSERT_TRUE(BOMStore_WriteBlock(store, 1, std::string(255, 'a').c_str(), "x", 1));
  // 255 bytes is the longest label the format holds.
  StoreFileSpec longest;
  longest.blocks = {{1, BytesOf("x"), std::string(255, 'a')}};
  longest.count = 512;
  EXPECT_EQ(WrittenBytes(store), test::BuildStoreFile(longest));
  ASSERT_TRUE(BOMStore_WriteBlock(store, 2, std::string(256, 'b').c_str(), "y", 1));
  Buffer out;
  {
    CaptureStream capture(2);
    EXPECT_FALSE(BOMStore_WriteToBuffer(store, out, kName));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(capture.Finish(),
              "BOMStore_WriteToFile(): label of block 2 is longer than 255 bytes in test.car\n");
  }
  ASSERT_TRUE(BOMStore_EraseBlock(store, 2));
  // A block of 4 GiB is refused before its data is touched.
  store.blocks[3].size = uint64_t{1} << 32;
  {
    CaptureStream capture(2);
    EXPECT_FALSE(BOMStore_WriteToBuffer(store, out, kName));
    EXPECT_EQ(errno, EFBIG);
    EXPECT_EQ(capture.Finish(), "BOMStore_WriteToFile(): block 3 is 4 GiB or larger in test.car\n");
  }
  store.blocks[3].size = 0;
  EXPECT_EQ(out.data, nullptr);
}

TEST(BOMStoreMemory, ReaderAllocationFailures) {
  StoreFileSpec recipe;
  recipe.blocks = {{1, BytesOf("one"), "ONE"}, {2, BytesOf("two"), "TWO"}};
  const Bytes file = test::BuildStoreFile(recipe);
  const std::string messages[] = {
      "BOMStore_ReadFromFile(): malloc() failed creating labels table for test.car\n",
      "BOMStore_ReadFromFile(): malloc() failed creating label for test.car\n",
      "BOMStore_ReadFromFile(): malloc() failed creating blocks table for test.car\n",
      "BOMStore_ReadFromFile(): malloc() failed creating block for test.car\n",
  };
  bool seen[4] = {};
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100);
    BOMStore store;
    CaptureStream capture(2);
    Mem_FailAfter(n);
    const bool ok = BOMStore_ReadFromBytes(store, file, kName);
    const int code = errno;
    Mem_FailAfter(-1);
    const std::string err = capture.Finish();
    if (ok) {
      EXPECT_EQ(err, "");
      EXPECT_EQ(LabelOf(store, 2), "TWO");
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(store.count, 0u);
    EXPECT_EQ(store.blocks, nullptr);
    bool known = false;
    for (int m = 0; m < 4; ++m) {
      if (err == messages[m]) known = seen[m] = true;
    }
    EXPECT_TRUE(known) << err;
  }
  for (int m = 0; m < 4; ++m) EXPECT_TRUE(seen[m]) << messages[m];
}

TEST(BOMStoreMemory, WriterAllocationFailuresLeaveTheStoreUnchanged) {
  const BOMStore store = StoreFrom(NineBlocks());
  const Bytes expected = test::BuildStoreFile(NineBlocks());
  const std::string messages[] = {
      "BOMStore_WriteToFile(): realloc() failed creating table of contents for test.car\n",
      "BOMStore_WriteToFile(): malloc() failed creating offsets table for test.car\n",
      "BOMStore_WriteToFile(): malloc() failed creating file image for test.car\n",
  };
  bool seen[3] = {};
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100);
    Buffer out;
    CaptureStream capture(2);
    Mem_FailAfter(n);
    const bool ok = BOMStore_WriteToBuffer(store, out, kName);
    const int code = errno;
    Mem_FailAfter(-1);
    const std::string err = capture.Finish();
    if (ok) {
      EXPECT_EQ(Bytes(out.data, out.data + out.size), expected);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(out.data, nullptr);
    bool known = false;
    for (int m = 0; m < 3; ++m) {
      if (err == messages[m]) known = seen[m] = true;
    }
    EXPECT_TRUE(known) << err;
  }
  for (int m = 0; m < 3; ++m) EXPECT_TRUE(seen[m]) << messages[m];
  EXPECT_EQ(WrittenBytes(store), expected);
}

TEST(BOMStoreMemory, WriteBlockAllocationFailures) {
  const std::string messages[] = {
      "BOMStore_WriteBlock(): realloc() failed resizing blocks table\n",
      "BOMStore_WriteBlock(): strdup() failed saving block label\n",
      "BOMStore_WriteBlock(): malloc() failed saving block data\n",
  };
  bool seen[3] = {};
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100);
    BOMStore store;
    ASSERT_TRUE(BOMStore_WriteBlock(store, 100, "OLD", "old", 3));
    CaptureStream capture(2);
    Mem_FailAfter(n);
    const bool grow = BOMStore_WriteBlock(store, 600, "NEW", "new", 3);
    const bool replace = grow && BOMStore_WriteBlock(store, 100, "OLD2", "old2", 4);
    const int code = errno;
    Mem_FailAfter(-1);
    const std::string err = capture.Finish();
    if (grow && replace) {
      EXPECT_EQ(BlockText(store, 600), "new");
      EXPECT_EQ(LabelOf(store, 100), "OLD2");
      break;
    }
    EXPECT_EQ(code, ENOMEM);
    // A failed write keeps the previous block.
    EXPECT_EQ(BlockText(store, 100), "old");
    EXPECT_EQ(LabelOf(store, 100), "OLD");
    bool known = false;
    for (int m = 0; m < 3; ++m) {
      if (err == messages[m]) known = seen[m] = true;
    }
    EXPECT_TRUE(known) << err;
  }
  for (int m = 0; m < 3; ++m) EXPECT_TRUE(seen[m]) << messages[m];
}

}  // namespace
}  // namespace skarvel
