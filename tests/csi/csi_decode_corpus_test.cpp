// CSI_DecodeImage over the real catalogs of the corpus: every picture record
// decodes, and the pictures stored with the palette image or a deepmap equal
// the LZFSE-compressed copies the same catalog keeps under another key.
// Records are found by scanning the store's blocks for "ISTC", so catalogs
// whose trees the loader does not read are covered too.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "bom/bom_store.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"

namespace skarvel {
namespace {

std::string CorpusPath(const char* file) { return std::string(SKARVEL_CORPUS_DIR) + "/" + file; }

bool CorpusPresent() {
  struct stat st;
  return stat(SKARVEL_CORPUS_DIR, &st) == 0 && S_ISDIR(st.st_mode);
}

// A record whose payload is a CoreUI element, with its compression method.
struct PictureRecord {
  const BOMBlock* block = nullptr;
  uint32_t method = 0;
  std::string name;
  uint32_t width = 0, height = 0;
  std::string format;
};

std::vector<PictureRecord> PictureRecords(const BOMStore& store) {
  std::vector<PictureRecord> out;
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& block = store.blocks[i];
    const CSIHeader* header = CSI_Header(block);
    if (header == nullptr) continue;
    const uint64_t p = kCSIHeaderSize + Get(header->all_subblocks_size);
    if (!Range_Fits(p, kCSIElementHeaderSize, block.size) ||
        std::memcmp(block.data + p, "MLEC", 4) != 0) {
      continue;
    }
    PictureRecord r;
    r.block = &block;
    r.method = LoadU32LEAt(block.bytes(), p + 8);
    r.name = std::string(header->name, strnlen(header->name, sizeof header->name));
    r.width = Get(header->width);
    r.height = Get(header->height);
    r.format.assign(reinterpret_cast<const char*>(header->pixel_format), 4);
    out.push_back(r);
  }
  return out;
}

bool IsNewer(uint32_t method) { return method == 8 || method == 10 || method == 11; }

TEST(CSIDecodeCorpus, EveryPictureRecordDecodes) {
  if (!CorpusPresent()) GTEST_SKIP() << "no corpus at " << SKARVEL_CORPUS_DIR;
  struct File {
    const char* name;
    std::map<uint32_t, int> methods;  // decoded records per compression method
  };
  const File kFiles[] = {
      {"ios-appicon-classic-lzfse.car", {{4, 12}}},
      {"ios-framework-methods8-10.car", {{4, 12}, {8, 6}, {10, 6}}},
      {"ios-gray-method10.car", {{10, 16}}},
      {"ios-inline-keys-rle.car", {{1, 1}, {4, 4}}},
      {"ios-lzvn-uncompressed.car", {{0, 2}, {3, 101}}},
      {"ios-no-renditions-no-bitmapkeys.car", {}},
      {"ios-older-rawdata.car", {{4, 5}}},
      {"ios-thinned-appearances-method11.car", {{4, 1}, {11, 3}}},
      {"macos-29byte-trees-lzfse.car", {{4, 21}}},
      {"macos-effects-gradients.car", {}},
      {"macos-fontsizes-colors.car", {{4, 27}}},
      {"macos-recent-colors-vectors-method11.car", {{11, 2}}},
      {"macos-two-leaf-tree.car", {{1, 6}, {4, 21}, {10, 9}}},
  };
  for (const File& f : kFiles) {
    SCOPED_TRACE(f.name);
    BOMStore store;
    ASSERT_TRUE(BOMStore_ReadFromFile(store, CorpusPath(f.name).c_str()));
    std::map<uint32_t, int> decoded;
    for (const PictureRecord& r : PictureRecords(store)) {
      SCOPED_TRACE(r.name);
      Image image;
      ASSERT_TRUE(CSI_DecodeImage(*r.block, image)) << "method " << r.method << ", errno " << errno;
      const int bpp = r.format == " 8AG" ? 2 : 4;
      EXPECT_EQ(image.width, static_cast<int32_t>(r.width));
      EXPECT_EQ(image.height, static_cast<int32_t>(r.height));
      EXPECT_GE(image.stride, image.width * bpp);
      if (IsNewer(r.method)) {
        EXPECT_EQ(image.stride, image.width * bpp);
      }
      EXPECT_GE(image.pixels.size, uint64_t(image.stride) * uint64_t(image.height));
      ++decoded[r.method];
    }
    EXPECT_EQ(decoded, f.methods);
  }
}

TEST(CSIDecodeCorpus, NewerMethodsEqualTheirLZFSETwins) {
  if (!CorpusPresent()) GTEST_SKIP() << "no corpus at " << SKARVEL_CORPUS_DIR;
  // The framework catalog keeps each atlas twice: with method 8 or 10 and
  // with LZFSE, under the same name and size.
  BOMStore store;
  ASSERT_TRUE(BOMStore_ReadFromFile(store, CorpusPath("ios-framework-methods8-10.car").c_str()));
  const std::vector<PictureRecord> records = PictureRecords(store);
  std::vector<bool> used(records.size(), false);
  int twins = 0;
  for (const PictureRecord& r : records) {
    if (!IsNewer(r.method)) continue;
    SCOPED_TRACE(r.name + " " + r.format + " " + std::to_string(r.width) + "x" +
                 std::to_string(r.height));
    Image image;
    ASSERT_TRUE(CSI_DecodeImage(*r.block, image)) << "errno " << errno;
    const uint64_t row = uint64_t(image.width) * (r.format == " 8AG" ? 2 : 4);
    bool matched = false;
    for (size_t k = 0; k < records.size() && !matched; ++k) {
      const PictureRecord& t = records[k];
      if (used[k] || t.method != 4 || t.name != r.name || t.width != r.width ||
          t.height != r.height || t.format != r.format) {
        continue;
      }
      Image twin;
      ASSERT_TRUE(CSI_DecodeImage(*t.block, twin)) << "errno " << errno;
      bool same = true;
      for (int32_t y = 0; y < image.height && same; ++y) {
        same = std::memcmp(image.pixels.data + y * row,
                           twin.pixels.data + y * uint64_t(twin.stride), row) == 0;
      }
      if (same) used[k] = matched = true;
    }
    EXPECT_TRUE(matched) << "no LZFSE twin with the same pixels";
    twins += matched ? 1 : 0;
  }
  EXPECT_EQ(twins, 12);
}

}  // namespace
}  // namespace skarvel
