// Writes the catalogs that the command-line cases read:
//   tiny.car    one app icon facet with a bitmap, a reference and a scaling
//               information rendition
//   broken.car  a catalog that loads but whose blocks claim more bytes than
//               they hold
//   hostile.car pictures and raw data whose rendition names try to reach
//               other directories ("../", "/", "\\")
// and the picture the -replace_img cases put into tiny.car:
//   picture2x2.bmp
// Usage: cli_fixture_writer <directory>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel::test {
namespace {

Bytes Pixels(size_t count) {
  Bytes b;
  for (size_t i = 0; i < count; ++i) AppendU8(b, static_cast<uint8_t>(0x10 + i));
  return b;
}

Bytes Tiny() {
  CatalogFileSpec recipe;
  recipe.facets = {{"AppIcon", FacetPairs(85, 220, 1)}};
  const Bytes bitmap = CSIRecordBuilder()
                           .Size(2, 2)
                           .ScaleFactor(200)
                           .Name("AppIcon60x60@2x.png")
                           .Slices({{0, 0, 2, 2}})
                           .Metrics({{0, 0, 0, 0, 2, 2}})
                           .Composition(0, 1.0f)
                           .Orientation(1)
                           .BytesPerLine(8)
                           .Element(0, Pixels(16))
                           .Build();
  const Bytes reference = CSIRecordBuilder()
                              .Size(1, 1)
                              .ScaleFactor(200)
                              .Layout(1003)
                              .Name("AppIcon-marketing.png")
                              .Slices({{0, 0, 1, 1}})
                              .Metrics({{0, 0, 0, 0, 1, 1}})
                              .Reference(1, 0, 1, 1, 12, {{1, 85}, {2, 181}, {8, 1}})
                              .Composition(0, 1.0f)
                              .Orientation(1)
                              .Build();
  const Bytes scaling = CSIRecordBuilder()
                            .ScaleFactor(0)
                            .PixelFormat("")
                            .Colorspace(0)
                            .Layout(1010)
                            .Name("AppIcon")
                            .Composition(0, 0.0f)
                            .Orientation(1)
                            .ScalingInfo({{60, 60, 1}, {120, 120, 2}})
                            .Build();
  recipe.renditions = {
      {DefaultKey({{12, 2}, {15, 1}, {17, 1}, {1, 85}, {2, 220}, {9, 1}}), bitmap},
      {DefaultKey({{12, 2}, {15, 6}, {17, 1}, {1, 85}, {2, 220}, {9, 3}}), reference},
      {DefaultKey({{15, 1}, {17, 1}, {1, 85}, {2, 218}}), scaling},
  };
  return BuildCatalogFile(recipe);
}

Bytes Broken() {
  CatalogFileSpec recipe;
  recipe.facets = {{"Broken", FacetPairs(85, 220, 1)}};
  CSIRecordLayout layout;
  // The second name of a name list runs past its subblock.
  Bytes names =
      CSIRecordBuilder().Layout(1005).Name("names").NameList({"first", "second"}).Build(&layout);
  names = Patched(names, PutU32LE(layout.subblock_at[0] + 8 + 8 + 4 + 5, 200));
  recipe.renditions = {
      // The subblocks size claims more than the block holds.
      {DefaultKey({{15, 1}, {17, 1}}),
       CSIRecordBuilder().Size(2, 2).Name("past-end").Orientation(1).AllSubblocksSize(400).Build()},
      {DefaultKey({{15, 2}, {17, 1}}), names},
      // A CoreUI element larger than its block.
      {DefaultKey({{15, 3}, {17, 1}}), CSIRecordBuilder()
                                           .Size(2, 2)
                                           .Name("short-payload")
                                           .Element(4, Pixels(8))
                                           .PayloadSize(5000)
                                           .Build()},
      // Four bytes of a header.
      {DefaultKey({{15, 4}, {17, 1}}), BytesOf("ISTC")},
  };
  CatalogFileLayout catalog_layout;
  const Bytes file = BuildCatalogFile(recipe, &catalog_layout);
  // The facet value claims 50 pairs.
  return Patched(file, PutU16LE(catalog_layout.DataAt(catalog_layout.facet_value[0]) + 4, 50));
}

Bytes HostilePicture(const char* name) {
  return CSIRecordBuilder().Size(1, 1).Name(name).BytesPerLine(4).Element(0, Pixels(4)).Build();
}

// Kept out of line: inlined into the loop below, g++ 12 at -O2 warns that the
// builder's default pixel format "may be used uninitialized" (it is not).
[[gnu::noinline]] Bytes HostileRawData(const char* name) {
  return CSIRecordBuilder()
      .PixelFormat("DATA")
      .Name(name)
      .RawData(BytesOf("not a picture"))
      .Build();
}

Bytes Hostile() {
  CatalogFileSpec recipe;
  recipe.facets = {{"Hostile", FacetPairs(85, 220, 1)}};
  const char* const kNames[] = {"../escape.png", "../../deeper/escape", "sub/dir/name",
                                "/tmp/absolute", "..\\windows\\name",   ".."};
  uint16_t n = 0;
  for (const char* name : kNames) {
    ++n;
    recipe.renditions.push_back({DefaultKey({{15, 1}, {17, 1}, {1, n}}), HostilePicture(name)});
    recipe.renditions.push_back({DefaultKey({{15, 2}, {17, 1}, {1, n}}), HostileRawData(name)});
  }
  return BuildCatalogFile(recipe);
}

// A 2 x 2 32-bit BMP picture (rows bottom-up), the size of tiny.car's bitmap.
Bytes Picture2x2() {
  Bytes b = BytesOf("BM");
  for (uint32_t v : {70u, 0u, 54u, 40u, 2u, 2u}) AppendU32LE(b, v);
  AppendU16LE(b, 1);
  AppendU16LE(b, 32);
  for (uint32_t v : {0u, 16u, 2835u, 2835u, 0u, 0u}) AppendU32LE(b, v);
  for (uint8_t i = 0; i < 16; ++i) AppendU8(b, static_cast<uint8_t>(0xA0 + i));
  return b;
}

bool Write(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace
}  // namespace skarvel::test

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cli_fixture_writer <directory>\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0777);
  using skarvel::test::Write;
  if (!Write(dir + "/tiny.car", skarvel::test::Tiny()) ||
      !Write(dir + "/broken.car", skarvel::test::Broken()) ||
      !Write(dir + "/hostile.car", skarvel::test::Hostile()) ||
      !Write(dir + "/picture2x2.bmp", skarvel::test::Picture2x2())) {
    std::fprintf(stderr, "cli_fixture_writer: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
