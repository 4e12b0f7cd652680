#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "base/mem.h"
#include "bom/bom_store.h"
#include "image/image_file.h"
#include "inspect/dump_commands.h"
#include "inspect/dump_names.h"
#include "lzfse/lzfse.h"
#include "tests/inspect/inspect_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::BytesOf;
using test::CSIRecordBuilder;

// ---------------------------------------------------------------------------
// File names

TEST(DumpNamesTest, BlockFileNames) {
  struct Case {
    const char* name;
    const char* input;
    uint32_t index;
    const char* label;
    const char* expected;
  };
  const Case kCases[] = {
      {"unlabelled", "Assets.car", 1, nullptr, "Assets-block1.bin"},
      {"labelled", "Assets.car", 2, "CARHEADER", "Assets-block2-CARHEADER.bin"},
      {"empty label counts as none", "Assets.car", 0, "", "Assets-block0.bin"},
      {"directories dropped", "a/b/Assets.car", 3, nullptr, "Assets-block3.bin"},
      {"backslash directories dropped", "a\\b/c\\x.y.car", 4, nullptr, "x.y-block4.bin"},
      {"no extension", "catalog", 5, nullptr, "catalog-block5.bin"},
      {"only an extension", "dir/.car", 6, nullptr, "-block6.bin"},
      {"label separators replaced", "Assets.car", 7, "../../etc/x\\y",
       "Assets-block7-.._.._etc_x_y.bin"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    char out[kPathBufferSize];
    ASSERT_TRUE(Dump_BlockFileName(out, sizeof out, c.input, c.index, c.label));
    EXPECT_STREQ(out, c.expected);
  }
}

TEST(DumpNamesTest, PictureFileNames) {
  struct Case {
    const char* name;
    const char* rendition;
    const char* expected;
  };
  const Case kCases[] = {
      {"JPEG name kept", "Icon.JPG", "(block 9) Icon.JPG"},
      {"jpeg name kept", "Icon.jpeg", "(block 9) Icon.jpeg"},
      {"BMP name kept", "Icon.Bmp", "(block 9) Icon.Bmp"},
      {"PNG name kept", "Icon-60.png", "(block 9) Icon-60.png"},
      {"GIF gets .png", "Icon.gif", "(block 9) Icon.gif.png"},
      {"plain name gets .png", "Background", "(block 9) Background.png"},
      {"empty name", "", "(block 9) .png"},
      {"parent separators replaced", "../../x", "(block 9) .._.._x.png"},
      {"absolute name replaced", "/etc/passwd", "(block 9) _etc_passwd.png"},
      {"backslashes replaced", "..\\a\\b.png", "(block 9) .._a_b.png"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    char out[kPathBufferSize];
    ASSERT_TRUE(Dump_ImageFileName(out, sizeof out, 9, c.rendition));
    EXPECT_STREQ(out, c.expected);
  }
}

// Raw data is named by its pixel format for documents and photos, by its
// first bytes for a PDF, and otherwise keeps a picture name or gets ".bin".
TEST(DumpNamesTest, RawDataFileNames) {
  struct Case {
    const char* name;
    const char* format;  // 4 bytes as stored
    const char* rendition;
    std::string data;
    const char* expected;
  };
  const Case kCases[] = {
      {"PDF format gets .pdf", " FDP", "Vector", "%PDF-1.4\n", "(block 9) Vector.pdf"},
      {"PDF format, data not a PDF", " FDP", "Vector", "xyz", "(block 9) Vector.pdf"},
      {"PDF format keeps .PDF", " FDP", "Vector.PDF", "%PDF-1.4\n", "(block 9) Vector.PDF"},
      {"PDF format named .png", " FDP", "Vector.png", "%PDF-1.4\n", "(block 9) Vector.png.pdf"},
      {"SVG gets .svg", " GVS", "image", "<svg/>", "(block 9) image.svg"},
      {"SVG keeps .Svg", " GVS", "image.Svg", "<svg/>", "(block 9) image.Svg"},
      {"SVG named .svgz", " GVS", "image.svgz", "<svg/>", "(block 9) image.svgz.svg"},
      {"JPEG gets .jpg", "GEPJ", "photo", "\xFF\xD8\xFF", "(block 9) photo.jpg"},
      {"JPEG keeps .JPEG", "GEPJ", "photo.JPEG", "\xFF\xD8\xFF", "(block 9) photo.JPEG"},
      {"JPEG named .png", "GEPJ", "photo.png", "\xFF\xD8\xFF", "(block 9) photo.png.jpg"},
      {"JPEG in the other order", "JPEG", "photo", "\xFF\xD8\xFF", "(block 9) photo.jpg"},
      {"JPEG in the other order keeps .jpg", "JPEG", "photo.jpg", "\xFF\xD8",
       "(block 9) photo.jpg"},
      {"HEIF gets .heic", "FIEH", "photo", "....ftypheic", "(block 9) photo.heic"},
      {"HEIF keeps .HEIC", "FIEH", "photo.HEIC", "....ftypheic", "(block 9) photo.HEIC"},
      {"HEIF keeps .heif", "FIEH", "photo.heif", "....ftypheic", "(block 9) photo.heif"},
      {"HEIF named .jpg", "FIEH", "photo.jpg", "....ftypheic", "(block 9) photo.jpg.heic"},
      {"PDF data of another format", "ATAD", "Vector", "%PDF-1.4\n", "(block 9) Vector.pdf"},
      {"PDF data keeps .pdf", "ATAD", "Vector.pdf", "%PDF-1.4\n", "(block 9) Vector.pdf"},
      {"five bytes are not a PDF", "ATAD", "Vector", "%PDF-", "(block 9) Vector.bin"},
      {"other data gets .bin", "ATAD", "notes", "plain text", "(block 9) notes.bin"},
      {"PNG data without a picture name", "ATAD", "iTunesArtwork", "\x89PNG\r\n\x1a\n",
       "(block 9) iTunesArtwork.bin"},
      {"other data keeps .jpg", "DATA", "photo.jpg", "\xFF\xD8\xFF\xE0", "(block 9) photo.jpg"},
      {"other data named .pdf", "DATA", "notes.pdf", "plain text", "(block 9) notes.pdf.bin"},
      {"other data named .svg", "ATAD", "image.svg", "<svg/>", "(block 9) image.svg.bin"},
      {"WebP keeps the older rule", "PBEW", "picture", "RIFF", "(block 9) picture.bin"},
      {"raw name separators replaced", "ATAD", "a/b", "plain", "(block 9) a_b.bin"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    char out[kPathBufferSize];
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(c.data.data()),
                                        c.data.size());
    const std::span<const uint8_t, 4> format(reinterpret_cast<const uint8_t*>(c.format), 4);
    ASSERT_TRUE(Dump_RawFileName(out, sizeof out, 9, c.rendition, format, data));
    EXPECT_STREQ(out, c.expected);
  }
}

// A name fits when it and its terminator fit; one byte less fails with
// ENAMETOOLONG and leaves a terminated prefix.
TEST(DumpNamesTest, NamesThatDoNotFit) {
  struct Case {
    const char* name;
    const char* expected;  // the name built with room to spare
    std::function<bool(char*, size_t)> build;
  };
  const Case kCases[] = {
      {"block file", "Assets-block12-LABEL.bin",
       [](char* out, size_t size) {
         return Dump_BlockFileName(out, size, "Assets.car", 12, "LABEL");
       }},
      {"block file, base name alone too long", "Assets-block1.bin",
       [](char* out, size_t size) {
         return Dump_BlockFileName(out, size, "Assets.car", 1, nullptr);
       }},
      {"picture", "(block 3) a.png",
       [](char* out, size_t size) { return Dump_ImageFileName(out, size, 3, "a"); }},
      {"raw data", "(block 3) a.bin",
       [](char* out, size_t size) {
         const uint8_t raw[] = {1, 2, 3};
         const uint8_t format[] = {'A', 'T', 'A', 'D'};
         return Dump_RawFileName(out, size, 3, "a", format, raw);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const size_t length = std::strlen(c.expected);
    char out[64];
    ASSERT_TRUE(c.build(out, length + 1));
    EXPECT_STREQ(out, c.expected);
    for (size_t size : {length, size_t{5}, size_t{1}}) {
      SCOPED_TRACE(size);
      std::memset(out, 'x', sizeof out);
      errno = 0;
      EXPECT_FALSE(c.build(out, size));
      EXPECT_EQ(errno, ENAMETOOLONG);
      EXPECT_LT(std::strlen(out), size);
      EXPECT_EQ(std::string(c.expected).rfind(out, 0), 0u);
    }
  }
}

// ---------------------------------------------------------------------------
// The dump and extraction commands

// 2 x 2 BGRA pixels, stride 8, in one uncompressed stream.
const Bytes kPixels = {0x10, 0x20, 0x30, 0xFF, 0x11, 0x21, 0x31, 0x80,
                       0x12, 0x22, 0x32, 0x40, 0x13, 0x23, 0x33, 0x00};
const std::string kPdf = "%PDF-1.4\n%%EOF\n";
const std::string kNotesText = "these are notes";
const std::string kJpegBytes = "\xFF\xD8\xFF\xE0 not really a JPEG";

CSIRecordBuilder Picture(const char* name) {
  return CSIRecordBuilder().Size(2, 2).Name(name).BytesPerLine(8).Element(0, kPixels);
}

// A rendition of every kind the extraction treats differently.
test::CatalogFileSpec DumpSpec() {
  test::CatalogFileSpec recipe;
  recipe.table_count = 0;
  recipe.facets = {{"Icons", test::FacetPairs(85, 220, 1)}};
  const Bytes gray = CSIRecordBuilder()
                         .Size(2, 1)
                         .PixelFormat(" 8AG")
                         .Name("gray")
                         .BytesPerLine(4)
                         .Element(0, {0x40, 0xFF, 0x80, 0x7F})
                         .Build();
  const Bytes scaling = CSIRecordBuilder()
                            .PixelFormat("")
                            .Layout(1010)
                            .Name("Icons")
                            .ScalingInfo({{2, 2, 1}})
                            .Build();
  const std::vector<Bytes> values = {
      Picture("Icon.JPG").Build(),
      Picture("Icon.gif").Build(),
      gray,
      CSIRecordBuilder().PixelFormat(" FDP").Name("Vector").RawData(BytesOf(kPdf)).Build(),
      CSIRecordBuilder().PixelFormat("DATA").Name("notes").RawData(BytesOf(kNotesText)).Build(),
      CSIRecordBuilder().PixelFormat("JPEG").Name("photo.jpg").RawData(BytesOf(kJpegBytes)).Build(),
      // Not decodable: an unknown pixel format, no bytes per line, bad LZFSE.
      Picture("odd").PixelFormat("ABCD").Build(),
      CSIRecordBuilder().Size(2, 2).Name("nobpl").Element(0, kPixels).Build(),
      Picture("broken").Element(4, BytesOf("bvx2 is not enough")).Build(),
      // Raw data claiming more bytes than the block holds.
      test::Patched(
          CSIRecordBuilder().PixelFormat("DATA").Name("short").RawData(BytesOf("abc")).Build(),
          test::PutU32LE(test::kCSIRecordHeaderSize + 8, 1000)),
      scaling,
  };
  for (size_t i = 0; i < values.size(); ++i) {
    recipe.renditions.push_back(
        {test::DefaultKey({{17, 1}, {15, static_cast<uint16_t>(i + 1)}}), values[i]});
  }
  return recipe;
}

// The dump fixture, loaded, with the block index of each rendition value.
struct DumpCatalog {
  AssetsCatalog catalog;
  test::CatalogFileLayout layout;

  DumpCatalog() {
    const Bytes file = test::BuildCatalogFile(DumpSpec(), &layout);
    EXPECT_TRUE(AssetsCatalog_LoadFromBytes(catalog, file, "test.car"));
  }
  // "(block N) <file>" for the rendition value at position `rendition`.
  std::string File(size_t rendition, const std::string& file) const {
    return "(block " + std::to_string(layout.rendition_value[rendition]) + ") " + file;
  }
};

// Each test runs with a fresh status cache: the names repeat from test to
// test, and the cache keeps what it learnt about a name in another directory.
class DumpTest : public ::testing::Test {
 protected:
  void SetUp() override { FileStatusCache_ResetForTesting(); }
  void TearDown() override { FileStatusCache_ResetForTesting(); }
};

struct Output {
  std::string out;
  std::string err;
  std::string Both() const { return "== stdout\n" + out + "== stderr\n" + err; }
};

Output RunDump(const AssetsCatalog& catalog, const char* input, bool all) {
  test::MemoryStream out;
  test::MemoryStream err;
  Dump_Print(out.file(), err.file(), catalog, input, all);
  return {out.Text(), err.Text()};
}

Output RunDumpRes(const AssetsCatalog& catalog, const char* input) {
  test::MemoryStream out;
  test::MemoryStream err;
  DumpRes_Extract(out.file(), err.file(), catalog, input);
  return {out.Text(), err.Text()};
}

std::string BlockText(const AssetsCatalog& catalog, uint32_t index) {
  const std::span<const uint8_t> bytes = catalog.store.blocks[index].bytes();
  return std::string(bytes.begin(), bytes.end());
}

// Positions of the renditions in DumpSpec.
enum : size_t { kJpg, kGif, kGray, kVector, kNotes, kPhoto, kOdd, kNoBpl, kBroken, kShort };

// The resource files of the fixture, as both commands name them.
std::vector<std::string> ResourceFiles(const DumpCatalog& d) {
  return {d.File(kJpg, "Icon.JPG"),      d.File(kGif, "Icon.gif.png"), d.File(kGray, "gray.png"),
          d.File(kVector, "Vector.pdf"), d.File(kNotes, "notes.bin"),  d.File(kPhoto, "photo.jpg")};
}

// The picture files hold the record's pixels (PNG exactly; JPEG by its size)
// and the raw files the payload's bytes.
void ExpectResources(const DumpCatalog& d, const std::string& dir) {
  Image png;
  ASSERT_TRUE(Image_ReadFile((dir + "/" + d.File(kGif, "Icon.gif.png")).c_str(), "BGRA", png));
  ASSERT_EQ(png.width, 2);
  ASSERT_EQ(png.height, 2);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(0, std::memcmp(png.pixels.data + y * png.stride, kPixels.data() + y * 8, 8)) << y;
  }
  Image jpeg;
  ASSERT_TRUE(Image_ReadFile((dir + "/" + d.File(kJpg, "Icon.JPG")).c_str(), "BGRA", jpeg));
  EXPECT_EQ(jpeg.width, 2);
  EXPECT_EQ(jpeg.height, 2);
  Image gray;
  ASSERT_TRUE(Image_ReadFile((dir + "/" + d.File(kGray, "gray.png")).c_str(), " 8AG", gray));
  ASSERT_EQ(gray.width, 2);
  EXPECT_EQ(gray.pixels.data[0], 0x40);
  EXPECT_EQ(gray.pixels.data[2], 0x80);

  EXPECT_EQ(test::ReadFileText(dir + "/" + d.File(kVector, "Vector.pdf")), kPdf);
  EXPECT_EQ(test::ReadFileText(dir + "/" + d.File(kNotes, "notes.bin")), kNotesText);
  EXPECT_EQ(test::ReadFileText(dir + "/" + d.File(kPhoto, "photo.jpg")), kJpegBytes);
}

std::string ShortRawLine(const DumpCatalog& d) {
  return "skarvel: raw data of block " + std::to_string(d.layout.rendition_value[kShort]) +
         " runs past the end of the block (1000 bytes claimed, 3 present); skipped\n";
}

TEST_F(DumpTest, DumpListsAndWritesEveryBlockAndResource) {
  const DumpCatalog d;
  test::TempDir dir;
  const Output output = RunDump(d.catalog, "in/dir/test.car", false);
  test::ExpectGolden("inspect/golden/dump.txt", output.Both());

  // One file per listed block, holding the block's bytes.
  for (uint32_t i = 0; i < d.catalog.store.count; ++i) {
    const BOMBlock& block = d.catalog.store.blocks[i];
    char name[kPathBufferSize];
    ASSERT_TRUE(Dump_BlockFileName(name, sizeof name, "test.car", i, block.label));
    SCOPED_TRACE(name);
    if (block.size == 0) {
      EXPECT_FALSE(test::FileExists(dir.Path(name)));
    } else {
      EXPECT_EQ(test::ReadFileText(dir.Path(name)), BlockText(d.catalog, i));
    }
  }
  ExpectResources(d, dir.path());
}

// -dump-all adds empty files for the empty blocks, block 0 included.
TEST_F(DumpTest, DumpAllWritesEmptyBlocksToo) {
  const DumpCatalog d;
  test::TempDir dir;
  const Output output = RunDump(d.catalog, "test.car", true);
  EXPECT_NE(output.out.find("\n+ Block index: 0   Size: 0   (empty block)\n"), std::string::npos);
  uint32_t empty = 0;
  for (uint32_t i = 0; i < d.catalog.store.count; ++i) {
    const BOMBlock& block = d.catalog.store.blocks[i];
    char name[kPathBufferSize];
    ASSERT_TRUE(Dump_BlockFileName(name, sizeof name, "test.car", i, block.label));
    SCOPED_TRACE(name);
    ASSERT_TRUE(test::FileExists(dir.Path(name)));
    EXPECT_EQ(test::ReadFileText(dir.Path(name)), BlockText(d.catalog, i));
    if (block.size == 0) ++empty;
  }
  EXPECT_GE(empty, 1u);
}

// A working directory that no longer exists: nothing can be created in it,
// whatever the privileges of the user running the tests.
class GoneDirectory {
 public:
  explicit GoneDirectory(const std::string& parent) : parent_(parent) {
    const std::string path = parent + "/gone";
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(chdir(path.c_str()), 0);
    EXPECT_EQ(rmdir(path.c_str()), 0);
  }
  ~GoneDirectory() { EXPECT_EQ(chdir(parent_.c_str()), 0); }
  GoneDirectory(const GoneDirectory&) = delete;
  GoneDirectory& operator=(const GoneDirectory&) = delete;

 private:
  std::string parent_;
};

// Every block header line ends with the warning, every picture and raw data
// failure is reported, and the listing is otherwise the same.
TEST_F(DumpTest, DumpWhereNothingCanBeCreated) {
  const DumpCatalog d;
  test::TempDir dir;
  Output output;
  {
    GoneDirectory gone(dir.path());
    output = RunDump(d.catalog, "in/dir/test.car", false);
  }
  test::ExpectGolden("inspect/golden/dump_unwritable.txt", output.Both());
  EXPECT_EQ(test::ListTree(dir.path()), "");

  std::string listing = output.out;
  size_t warnings = 0;
  for (size_t at; (at = listing.find("  -- Warning: dump to ")) != std::string::npos; ++warnings) {
    listing.erase(at, listing.find('\n', at) - at);
  }
  size_t blocks = 0;
  for (size_t at = 0; (at = listing.find("\n+ Block index: ", at)) != std::string::npos; ++at) {
    ++blocks;
  }
  EXPECT_EQ(warnings, blocks);
  test::TempDir writable;
  EXPECT_EQ(RunDump(d.catalog, "in/dir/test.car", false).out, listing);
}

TEST_F(DumpTest, DumpResWritesEveryResourceUnderItsName) {
  const DumpCatalog d;
  test::TempDir dir;
  const Output output = RunDumpRes(d.catalog, "in/dir/test.car");
  std::string expected_out = "Dumping resources from in/dir/test.car...\n";
  std::string expected_tree;
  for (const std::string& file : ResourceFiles(d)) {
    expected_out += "   " + file + "\n";
    expected_tree += file + "\n";
  }
  EXPECT_EQ(output.out, expected_out);
  // Undecodable pictures pass in silence; raw data past its block does not.
  EXPECT_EQ(output.err, ShortRawLine(d));
  EXPECT_EQ(test::ListTree(dir.path()), expected_tree);
  ExpectResources(d, dir.path());
}

TEST_F(DumpTest, DumpResReportsFilesItCannotWrite) {
  const DumpCatalog d;
  test::TempDir dir;
  Output output;
  {
    GoneDirectory gone(dir.path());
    output = RunDumpRes(d.catalog, "test.car");
  }
  EXPECT_EQ(output.out, "Dumping resources from test.car...\n");
  const std::vector<std::string> files = ResourceFiles(d);
  std::string expected;
  for (size_t i = 0; i < files.size(); ++i) {
    // Pictures go through the image writer, raw data through the whole-file
    // writer, each with its own codes.
    expected += i <= kGray ? "skarvel: unable to create output file " + files[i] + "\n"
                           : "skarvel: unknown error writing " + files[i] + " (errno = 2)\n";
  }
  EXPECT_EQ(output.err, expected + ShortRawLine(d));
  EXPECT_EQ(test::ListTree(dir.path()), "");
}

TEST_F(DumpTest, DumpResWithoutRenditionsPrintsItsFirstLineOnly) {
  AssetsCatalog catalog;
  test::LoadCatalog(test::CatalogFileSpec{}, catalog);
  test::TempDir dir;
  const Output output = RunDumpRes(catalog, "empty.car");
  EXPECT_EQ(output.out, "Dumping resources from empty.car...\n");
  EXPECT_EQ(output.err, "");
  EXPECT_EQ(test::ListTree(dir.path()), "");
}

// Runs `run` in the directory inner/ of `outer`, then returns to `outer`.
template <typename Run>
void InInner(const test::TempDir& outer, Run run) {
  const std::string inner = outer.Path("inner");
  ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
  ASSERT_EQ(chdir(inner.c_str()), 0);
  run(inner);
  ASSERT_EQ(chdir(outer.path().c_str()), 0);
}

// Names and labels that try to leave the working directory: every file of
// both commands lands directly in it.
TEST_F(DumpTest, HostileNamesStayInTheWorkingDirectory) {
  test::CatalogFileSpec recipe;
  const char* const kNames[] = {"../escape",     "../../deeper/escape",
                                "sub/dir/name",  "..\\win",
                                "/tmp/absolute", "..",
                                "../x.png",      "./../y"};
  uint16_t n = 0;
  for (const char* name : kNames) {
    recipe.renditions.push_back({test::DefaultKey({{17, 1}, {15, ++n}}), Picture(name).Build()});
    recipe.renditions.push_back(
        {test::DefaultKey({{17, 2}, {15, ++n}}),
         CSIRecordBuilder().PixelFormat("DATA").Name(name).RawData(BytesOf(kNotesText)).Build()});
  }
  test::CatalogFileLayout layout;
  const Bytes file = test::BuildCatalogFile(recipe, &layout);
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(catalog, file, "hostile.car"));
  ASSERT_TRUE(BOMStore_NameBlock(catalog.store, static_cast<int32_t>(layout.rendition_key[0]),
                                 "../../label"));
  ASSERT_TRUE(BOMStore_NameBlock(catalog.store, static_cast<int32_t>(layout.rendition_key[1]),
                                 "/abs/label"));

  test::TempDir outer;
  Output dump;
  Output res;
  InInner(outer, [&](const std::string&) {
    dump = RunDump(catalog, "../hostile.car", true);
    res = RunDumpRes(catalog, "hostile.car");
  });
  EXPECT_EQ(dump.err, "");
  EXPECT_EQ(res.err, "");

  // Block files for every block; the two commands name resources alike.
  const std::string tree = test::ListTree(outer.path());
  size_t files = 0;
  for (size_t at = 0; at < tree.size(); at = tree.find('\n', at) + 1) {
    const std::string path = tree.substr(at, tree.find('\n', at) - at);
    SCOPED_TRACE(path);
    ++files;
    ASSERT_EQ(path.rfind("inner/", 0), 0u);
    EXPECT_EQ(path.find('/', 6), std::string::npos);
  }
  EXPECT_EQ(files, catalog.store.count + recipe.renditions.size());
  const std::string inner = outer.Path("inner");
  EXPECT_TRUE(test::FileExists(inner + "/hostile-block" + std::to_string(layout.rendition_key[0]) +
                               "-.._.._label.bin"));
  EXPECT_TRUE(test::FileExists(inner + "/hostile-block" + std::to_string(layout.rendition_key[1]) +
                               "-_abs_label.bin"));
  const std::string first = std::to_string(layout.rendition_value[0]);
  EXPECT_NE(res.out.find("   (block " + first + ") .._escape.png\n"), std::string::npos);
  EXPECT_NE(
      dump.out.find("    + Image data [extracted to \"(block " + first + ") .._escape.png\"]"),
      std::string::npos);
}

// Files left by an earlier run that read as emulated links (a bare path, or
// "!<symlink>" and a path) to files that exist elsewhere are replaced, not
// followed: the files they point to keep their contents.
TEST_F(DumpTest, LeftoverLinkFilesAreReplacedNotFollowed) {
  const DumpCatalog d;
  struct Planted {
    std::string file;
    const char* content;
    const char* target;
  };
  const Planted kPlanted[] = {
      {d.File(kGif, "Icon.gif.png"), "../target-picture", "target-picture"},
      {d.File(kNotes, "notes.bin"), "!<symlink>../target-raw", "target-raw"},
      {"test-block1-CARHEADER.bin", "../target-block", "target-block"},
  };
  test::TempDir outer;
  for (const Planted& p : kPlanted) test::WriteFileText(outer.Path(p.target), "keep me\n");
  InInner(outer, [&](const std::string& inner) {
    for (const Planted& p : kPlanted) test::WriteFileText(inner + "/" + p.file, p.content);
    const Output dump = RunDump(d.catalog, "test.car", false);
    EXPECT_EQ(dump.out.find("Warning"), std::string::npos) << dump.out;
    EXPECT_EQ(dump.err.find(" writing "), std::string::npos) << dump.err;
    EXPECT_EQ(dump.err.find("unable to create"), std::string::npos) << dump.err;
    EXPECT_EQ(test::ReadFileText(inner + "/test-block1-CARHEADER.bin"), BlockText(d.catalog, 1));
    ExpectResources(d, inner);

    FileStatusCache_ResetForTesting();
    for (const Planted& p : kPlanted) test::WriteFileText(inner + "/" + p.file, p.content);
    const Output res = RunDumpRes(d.catalog, "test.car");
    EXPECT_EQ(res.err, ShortRawLine(d));
    ExpectResources(d, inner);

    // A name the resolver already knows as a link during this run is not
    // written at all.
    FileStatusCache_ResetForTesting();
    const std::string& gif = kPlanted[0].file;
    test::WriteFileText(inner + "/" + gif, kPlanted[0].content);
    struct stat st;
    ASSERT_EQ(StatFile(gif.c_str(), &st), 0);
    const Output known = RunDumpRes(d.catalog, "test.car");
    EXPECT_EQ(known.err, "skarvel: unable to create output file " + gif + "\n" + ShortRawLine(d));
  });
  for (const Planted& p : kPlanted) {
    EXPECT_EQ(test::ReadFileText(outer.Path(p.target)), "keep me\n") << p.target;
  }
}

// A block file name beyond the pathname buffer is a warning on the header
// line showing what fits; the block is listed and nothing is written for it.
// (Names that fit the buffer but not the file system's limit on one
// component fail at the open, with the same errno.)
TEST_F(DumpTest, BlockFileNameTooLong) {
  DumpCatalog d;
  const uint32_t index = d.layout.rendition_key[0];
  const std::string label(255, 'L');
  ASSERT_TRUE(BOMStore_NameBlock(d.catalog.store, static_cast<int32_t>(index), label.c_str()));
  const std::string base(800, 'n');
  test::TempDir dir;
  const Output output = RunDump(d.catalog, ("dir/" + base + ".car").c_str(), false);
  const std::string head = base + "-block" + std::to_string(index) + "-";
  const std::string kept = head + std::string(kPathBufferSize - 1 - head.size(), 'L');
  EXPECT_NE(
      output.out.find("   Label: \"" + label + "\"   (rendition key)  -- Warning: dump to \"" +
                      kept + "\" failed [errno 36]\n"),
      std::string::npos);
  EXPECT_NE(output.out.find("(CoreUI ARchive header)  -- Warning: dump to \"" + base +
                            "-block1-CARHEADER.bin\" failed [errno 36]\n"),
            std::string::npos);
  EXPECT_EQ(test::ListTree(dir.path()).find("-block"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Compressed raw data

// The LZFSE stream of `data`.
Bytes Compressed(const std::string& data) {
  Bytes stream(data.size() + 4096);
  const size_t n =
      lzfse_encode_buffer(stream.data(), stream.size(),
                          reinterpret_cast<const uint8_t*>(data.data()), data.size(), nullptr);
  EXPECT_GT(n, 0u);
  stream.resize(n);
  return stream;
}

// A document of `size` bytes: 4 KiB of varied text, repeated.
std::string Document(size_t size) {
  std::string part;
  uint32_t state = 1;
  while (part.size() < 4096) {
    state = state * 1103515245u + 12345u;
    part += "<path d=\"M" + std::to_string(state >> 16) + "\"/>\n";
  }
  std::string text;
  while (text.size() < size) text += part;
  text.resize(size);
  return text;
}

constexpr uint64_t kMiB = uint64_t{1} << 20;

TEST(RawDataTest, DecodedLimit) {
  struct Case {
    uint64_t stored;
    uint64_t limit;
  };
  const Case kCases[] = {
      {0, kMiB},
      {16384, kMiB},
      {16385, 64 * 16385},
      {4 * kMiB - 1, 256 * kMiB - 64},
      {4 * kMiB, 256 * kMiB},
      {UINT64_MAX, 256 * kMiB},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(RawData_DecodedLimit(c.stored), c.limit);
  }
}

TEST(RawDataTest, Decompress) {
  const std::string svg = "<?xml version=\"1.0\"?>\n<svg width=\"10\" height=\"10\"/>\n";
  const std::string large = Document(300 << 10);  // more than the first room
  const std::string at_limit(kMiB, '\0');
  ASSERT_EQ(RawData_DecodedLimit(Compressed(at_limit).size()), kMiB);
  Bytes cut = Compressed(svg);
  cut.resize(cut.size() - 4);  // no end-of-stream block
  struct Case {
    const char* name;
    Bytes stream;
    int code;  // 0: decodes to `data`
    std::string data;
  };
  const Case kCases[] = {
      {"small document", Compressed(svg), 0, svg},
      {"room grown several times", Compressed(large), 0, large},
      {"end-of-stream block only", BytesOf("bvx$"), 0, ""},
      {"exactly the limit", Compressed(at_limit), 0, at_limit},
      {"one byte past the limit", Compressed(at_limit + '\0'), ENOSPC, ""},
      {"not a stream", BytesOf("<svg/> stored plainly"), EINVAL, ""},
      {"no bytes", Bytes{}, EINVAL, ""},
      {"stream cut short", cut, EINVAL, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Buffer out;
    errno = 0;
    const bool decoded = RawData_Decompress(c.stream, out);
    if (c.code != 0) {
      EXPECT_FALSE(decoded);
      EXPECT_EQ(errno, c.code);
      continue;
    }
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::string(out.bytes().begin(), out.bytes().end()), c.data);
  }
}

TEST(RawDataTest, DecompressOutOfMemory) {
  const std::string large = Document(300 << 10);
  const Bytes stream = Compressed(large);
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 20);
    Buffer out;
    Mem_FailAfter(n);
    errno = 0;
    const bool decoded = RawData_Decompress(stream, out);
    const int code = errno;
    Mem_FailAfter(-1);
    if (decoded) {
      EXPECT_EQ(std::string(out.bytes().begin(), out.bytes().end()), large);
      break;
    }
    EXPECT_EQ(code, ENOMEM);
  }
}

// A catalog of the raw-data kinds of newer catalogs, in this order.
enum : size_t { kRawSvg, kRawBroken, kRawJpeg, kRawHeif, kRawPdf, kRawPng };
const std::string kSvgText =
    "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>\n";
const std::string kJpegData = "\xFF\xD8\xFF\xE0 stands for a photo";
const std::string kHeifData = std::string("\0\0\0\x18", 4) + "ftypheic stands for a photo";
const std::string kPngData = "\x89PNG\r\n\x1a\n stands for a picture";

test::CatalogFileSpec NewerRawSpec() {
  test::CatalogFileSpec recipe;
  const std::vector<Bytes> values = {
      CSIRecordBuilder()
          .PixelFormat(" GVS")
          .Layout(9)
          .Name("image.svg")
          .RawData(Compressed(kSvgText), kRawDataCompressed)
          .Build(),
      CSIRecordBuilder()
          .PixelFormat(" GVS")
          .Layout(9)
          .Name("broken")
          .RawData(BytesOf("bvx2 and nothing else"), kRawDataCompressed)
          .Build(),
      CSIRecordBuilder().PixelFormat("GEPJ").Name("photo").RawData(BytesOf(kJpegData)).Build(),
      CSIRecordBuilder().PixelFormat("FIEH").Name("photo").RawData(BytesOf(kHeifData)).Build(),
      CSIRecordBuilder().PixelFormat(" FDP").Layout(9).Name("doc").RawData(BytesOf(kPdf)).Build(),
      CSIRecordBuilder()
          .PixelFormat("ATAD")
          .Layout(1000)
          .Name("iTunesArtwork")
          .RawData(BytesOf(kPngData))
          .Build(),
  };
  for (size_t i = 0; i < values.size(); ++i) {
    recipe.renditions.push_back(
        {test::DefaultKey({{17, 1}, {15, static_cast<uint16_t>(i + 1)}}), values[i]});
  }
  return recipe;
}

// Both commands write compressed documents decoded and name documents and
// photos by their pixel format; a stream that does not decode is reported
// and nothing is written for it.
TEST_F(DumpTest, NewerRawDataKinds) {
  test::CatalogFileLayout layout;
  const Bytes file = test::BuildCatalogFile(NewerRawSpec(), &layout);
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(catalog, file, "newer.car"));
  auto name = [&](size_t rendition, const std::string& rest) {
    return "(block " + std::to_string(layout.rendition_value[rendition]) + ") " + rest;
  };
  const std::vector<std::pair<std::string, std::string>> kFiles = {
      {name(kRawSvg, "image.svg"), kSvgText},         {name(kRawJpeg, "photo.jpg"), kJpegData},
      {name(kRawHeif, "photo.heic"), kHeifData},      {name(kRawPdf, "doc.pdf"), kPdf},
      {name(kRawPng, "iTunesArtwork.bin"), kPngData},
  };
  const std::string broken = "skarvel: compressed raw data of block " +
                             std::to_string(layout.rendition_value[kRawBroken]) +
                             " does not decode; skipped\n";
  std::set<std::string> sorted;
  std::string res_lines = "Dumping resources from newer.car...\n";
  for (const auto& [file_name, bytes] : kFiles) {
    sorted.insert(file_name);
    res_lines += "   " + file_name + "\n";
  }
  std::string tree;
  for (const std::string& file_name : sorted) tree += file_name + "\n";
  {
    test::TempDir dir;
    const Output res = RunDumpRes(catalog, "newer.car");
    EXPECT_EQ(res.out, res_lines);
    EXPECT_EQ(res.err, broken);
    EXPECT_EQ(test::ListTree(dir.path()), tree);
    for (const auto& [file_name, bytes] : kFiles) {
      EXPECT_EQ(test::ReadFileText(dir.Path(file_name)), bytes) << file_name;
    }
  }
  {
    FileStatusCache_ResetForTesting();
    test::TempDir dir;
    const Output dump = RunDump(catalog, "newer.car", false);
    EXPECT_EQ(dump.err, broken);
    for (const auto& [file_name, bytes] : kFiles) {
      EXPECT_NE(dump.out.find("    + Raw data [extracted to \"" + file_name + "\"]\n"),
                std::string::npos)
          << file_name;
      EXPECT_EQ(test::ReadFileText(dir.Path(file_name)), bytes) << file_name;
    }
    EXPECT_NE(dump.out.find("    + RAWD data is LZFSE-compressed\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace skarvel
