// -dump_res over the real catalogs of the corpus: every catalog that loads
// gives one picture file per decodable CoreUI element ("BGRA" or " 8AG", any
// method the decoder knows) and one file per raw-data payload, named by the
// block and the rendition, holding the picture's size or the payload's bytes
// (decoded when the payload is stored compressed). The expectation comes from
// a scan of the blocks made here, not from the extraction code, and a table
// records what each file gives so that a regression shows.

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
#include "lzfse/lzfse.h"
#include "tests/inspect/inspect_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

bool CorpusPresent() {
  struct stat st;
  return stat(SKARVEL_CORPUS_DIR, &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWithNoCase(const std::string& name, const char* ext) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t n = std::strlen(ext);
  return lower.size() >= n && lower.compare(lower.size() - n, n, ext) == 0;
}

bool HasPictureExtension(const std::string& name) {
  for (const char* ext : {".png", ".bmp", ".jpg", ".jpeg"}) {
    if (EndsWithNoCase(name, ext)) return true;
  }
  return false;
}

// The extension a raw-data file gets: by pixel format for documents and
// photos, ".pdf" for PDF data, else the picture name kept or ".bin".
std::string RawExtension(const std::string& name, const std::string& format,
                         const std::string& data) {
  const struct {
    const char* format;
    const char* ext;
    const char* also;
  } kKinds[] = {{" FDP", ".pdf", ".pdf"},
                {" GVS", ".svg", ".svg"},
                {"GEPJ", ".jpg", ".jpeg"},
                {"FIEH", ".heic", ".heif"}};
  for (const auto& kind : kKinds) {
    if (format == kind.format) {
      return EndsWithNoCase(name, kind.ext) || EndsWithNoCase(name, kind.also) ? "" : kind.ext;
    }
  }
  if (data.size() >= 6 && data.compare(0, 5, "%PDF-") == 0) {
    return EndsWithNoCase(name, ".pdf") ? "" : ".pdf";
  }
  return HasPictureExtension(name) ? "" : ".bin";
}

// An LZFSE stream decoded with room to spare.
std::string Decoded(const std::string& stream) {
  std::string data(64 * stream.size() + 4096, '\0');
  const size_t n =
      lzfse_decode_buffer(reinterpret_cast<uint8_t*>(data.data()), data.size(),
                          reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), nullptr);
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, data.size());
  data.resize(n);
  return data;
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
      const std::string stored(reinterpret_cast<const char*>(block.data + p + 12), size);
      const bool compressed = (LoadU32LEAt(block.bytes(), p + 4) & 1) != 0;
      const std::string bytes = compressed ? Decoded(stored) : stored;
      e.raw[prefix + RawExtension(name, format, bytes)] = bytes;
    }
  }
  return e;
}

// What -dump_res gives for each corpus file.
struct CorpusDump {
  const char* file;
  size_t pictures;
  const char* raw;  // the raw-data files, one name per line
};

const CorpusDump kCorpus[] = {
    {"ios-appicon-classic-lzfse.car", 12, ""},
    {"ios-framework-methods8-10.car", 24, ""},
    {"ios-gray-method10.car", 16, ""},
    {"ios-inline-keys-rle.car", 5, ""},
    {"ios-lzvn-uncompressed.car", 103, ""},
    {"ios-no-renditions-no-bitmapkeys.car", 0, ""},
    // Two PNG files stored as plain data under names without an extension.
    {"ios-older-rawdata.car", 5, "(block 30) iTunesArtwork@2x.bin\n(block 32) iTunesArtwork.bin\n"},
    {"ios-thinned-appearances-method11.car", 4, ""},
    {"macos-29byte-trees-lzfse.car", 21, ""},
    {"macos-effects-gradients.car", 0, ""},
    {"macos-fontsizes-colors.car", 27, ""},
    // A compressed SVG document.
    {"macos-recent-colors-vectors-method11.car", 2, "(block 32) image.svg\n"},
    {"macos-two-leaf-tree.car", 36, ""},
};

TEST(DumpCorpusTest, DumpResExtractsEveryPictureAndRawPayload) {
  if (!CorpusPresent()) GTEST_SKIP() << "no corpus at " << SKARVEL_CORPUS_DIR;
  int loaded = 0;
  for (const std::string& file : test::CorpusCatalogs()) {
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
    const CorpusDump* recorded = nullptr;
    for (const CorpusDump& c : kCorpus) {
      if (file == c.file) recorded = &c;
    }
    ASSERT_NE(recorded, nullptr) << "a corpus file without an expectation";
    EXPECT_EQ(expected.pictures.size(), recorded->pictures);
    std::string raw_names;
    for (const auto& [name, bytes] : expected.raw) raw_names += name + "\n";
    EXPECT_EQ(raw_names, recorded->raw);
    for (const auto& [name, bytes] : expected.raw) {
      if (EndsWithNoCase(name, ".svg")) {
        EXPECT_EQ(bytes.rfind("<?xml", 0), 0u) << name;
        EXPECT_NE(bytes.find("</svg>"), std::string::npos) << name;
      }
    }
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
