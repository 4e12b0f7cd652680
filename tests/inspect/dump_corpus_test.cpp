// -dump_res over the real catalogs of the corpus: every catalog that loads
// gives one picture file per decodable CoreUI element ("BGRA" or " 8AG", any
// method the decoder knows) and one file per raw-data payload, named by the
// block and the rendition, holding the picture's size or the payload's bytes.
// The expectation comes from a scan of the blocks made here, not from the
// extraction code.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/file_system.h"
#include "catalog/assets_catalog.h"
#include "csi/csi_format.h"
#include "image/image_file.h"
#include "inspect/dump_commands.h"
#include "tests/inspect/inspect_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

bool CorpusPresent() {
  struct stat st;
  return stat(SKARVEL_CORPUS_DIR, &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  DIR* dir = opendir(SKARVEL_CORPUS_DIR);
  if (dir == nullptr) return files;
  while (const dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".car") == 0) files.push_back(name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

bool HasPictureExtension(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* ext : {".png", ".bmp", ".jpg", ".jpeg"}) {
    const size_t n = std::strlen(ext);
    if (lower.size() >= n && lower.compare(lower.size() - n, n, ext) == 0) return true;
  }
  return false;
}

struct Expected {
  std::map<std::string, std::pair<uint32_t, uint32_t>> pictures;  // file -> width, height
  std::map<std::string, std::string> raw;                         // file -> bytes
  std::map<uint32_t, int> methods;     // decodable pictures per compression method
  std::map<std::string, int> skipped;  // elements not extracted, by pixel format/method
};

Expected Scan(const BOMStore& store) {
  Expected e;
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& block = store.blocks[i];
    const CSIHeader* header = CSI_Header(block);
    if (header == nullptr || block.size <= kCSIHeaderSize) continue;
    const uint64_t p = kCSIHeaderSize + Get(header->all_subblocks_size);
    const std::string name(header->name, strnlen(header->name, sizeof header->name));
    const std::string prefix = "(block " + std::to_string(i) + ") " + name;
    const std::string format(reinterpret_cast<const char*>(header->pixel_format), 4);
    if (block.size > p + 16 && std::memcmp(block.data + p, "MLEC", 4) == 0) {
      const uint32_t method = LoadU32LEAt(block.bytes(), p + 8);
      const bool known = method <= 4 || method == 8 || method == 10 || method == 11;
      if ((format == "BGRA" || format == " 8AG") && known) {
        e.pictures[prefix + (HasPictureExtension(name) ? "" : ".png")] = {Get(header->width),
                                                                          Get(header->height)};
        ++e.methods[method];
      } else {
        ++e.skipped[format + " method " + std::to_string(method)];
      }
    } else if (block.size > p + 12 && std::memcmp(block.data + p, "DWAR", 4) == 0) {
      const uint32_t size = LoadU32LEAt(block.bytes(), p + 8);
      if (!Range_Fits(p + 12, size, block.size)) continue;
      const std::string bytes(reinterpret_cast<const char*>(block.data + p + 12), size);
      const bool pdf = size >= 6 && bytes.compare(0, 5, "%PDF-") == 0;
      e.raw[prefix + (pdf ? ".pdf" : HasPictureExtension(name) ? "" : ".bin")] = bytes;
    }
  }
  return e;
}

TEST(DumpCorpusTest, DumpResExtractsEveryPictureAndRawPayload) {
  if (!CorpusPresent()) GTEST_SKIP() << "no corpus at " << SKARVEL_CORPUS_DIR;
  int loaded = 0;
  for (const std::string& file : CorpusFiles()) {
    SCOPED_TRACE(file);
    const std::string path = std::string(SKARVEL_CORPUS_DIR) + "/" + file;
    AssetsCatalog catalog;
    test::CaptureStream loader_messages(2);  // the store layer's lines for files it refuses
    const bool loads = AssetsCatalog_Load(catalog, path.c_str());
    loader_messages.Finish();
    if (!loads) {
      std::printf("%-42s not loaded\n", file.c_str());
      continue;
    }
    ++loaded;
    const Expected expected = Scan(catalog.store);
    FileStatusCache_ResetForTesting();
    test::TempDir dir;
    test::MemoryStream out;
    test::MemoryStream err;
    DumpRes_Extract(out.file(), err.file(), catalog, path.c_str());
    EXPECT_EQ(err.Text(), "");

    std::string expected_tree;
    std::map<std::string, bool> all;
    for (const auto& [name, size] : expected.pictures) all[name] = true;
    for (const auto& [name, bytes] : expected.raw) all[name] = false;
    for (const auto& [name, picture] : all) expected_tree += name + "\n";
    EXPECT_EQ(test::ListTree(dir.path()), expected_tree);
    const std::string listing = out.Text();
    EXPECT_EQ(static_cast<size_t>(std::count(listing.begin(), listing.end(), '\n')),
              1 + all.size());

    for (const auto& [name, size] : expected.pictures) {
      SCOPED_TRACE(name);
      Image image;
      ASSERT_TRUE(Image_ReadFile(dir.Path(name).c_str(), "BGRA", image));
      EXPECT_EQ(image.width, static_cast<int32_t>(size.first));
      EXPECT_EQ(image.height, static_cast<int32_t>(size.second));
    }
    for (const auto& [name, bytes] : expected.raw) {
      EXPECT_EQ(test::ReadFileText(dir.Path(name)), bytes) << name;
    }

    std::string methods;
    for (const auto& [method, count] : expected.methods) {
      methods += " m" + std::to_string(method) + ":" + std::to_string(count);
    }
    std::string skipped;
    for (const auto& [why, count] : expected.skipped) {
      skipped += " [" + why + "]:" + std::to_string(count);
    }
    std::printf("%-42s pictures %zu (%s ) raw %zu skipped%s\n", file.c_str(),
                expected.pictures.size(), methods.c_str(), expected.raw.size(),
                skipped.empty() ? " none" : skipped.c_str());
  }
  EXPECT_GT(loaded, 0) << "no corpus catalog loads";
}

}  // namespace
}  // namespace skarvel
