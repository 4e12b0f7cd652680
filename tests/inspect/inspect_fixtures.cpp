#include "tests/inspect/inspect_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/csi_record_builder.h"

namespace skarvel::test {

MemoryStream::MemoryStream() : file_(open_memstream(&data_, &size_)) {}

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(data_);
}

std::string MemoryStream::Text() {
  std::fflush(file_);
  return std::string(data_, size_);
}

namespace {

Bytes Counting(size_t count, uint8_t first) {
  Bytes b;
  for (size_t i = 0; i < count; ++i) AppendU8(b, static_cast<uint8_t>(first + i));
  return b;
}

}  // namespace

CatalogFileSpec AllKindsSpec(uint32_t table_count) {
  CatalogFileSpec recipe;
  recipe.table_count = table_count;
  recipe.uuid = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0x4d, 0xef,
                 0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  recipe.checksum = 0xdeadbeef;
  recipe.author = "tester";
  recipe.facets = {{"AppIcon", FacetPairs(85, 220, 1)}, {"Gray", FacetPairs(85, 181, 2)}};

  // Opaque BGRA pixels in one uncompressed stream.
  const Bytes bitmap = CSIRecordBuilder()
                           .Flags(0x08)
                           .Size(2, 2)
                           .ScaleFactor(200)
                           .Name("AppIcon60x60@2x.png")
                           .Slices({{0, 0, 2, 2}})
                           .Metrics({{1, 2, 3, 4, 2, 2}})
                           .Composition(0, 1.0f)
                           .Orientation(1)
                           .BytesPerLine(8)
                           .Element(0, Counting(16, 0x20), 0x02)
                           .Build();
  // Grayscale in LZFSE chunks, with every flag but opaque and nofilter.
  const Bytes gray = CSIRecordBuilder()
                         .Flags(0xF5)
                         .Size(3, 2)
                         .PixelFormat(" 8AG")
                         .Colorspace(2)
                         .ModificationDate(4000000000u)
                         .Name("gray")
                         .Composition(12, 0.5f)
                         .Orientation(8)
                         .BytesPerLine(6)
                         .Properties(3, 2.5f, 1.25f)
                         .ChunkedElement(4, {{1, Counting(6, 0x41)}, {1, Counting(6, 0x61)}}, 0x03)
                         .Build();
  // A packed-image member: no payload of its own.
  const Bytes reference =
      CSIRecordBuilder()
          .Size(1, 1)
          .ScaleFactor(200)
          .Layout(1003)
          .Name("AppIcon-marketing.png")
          .Slices({{0, 0, 1, 1}, {1, 0, 1, 1}})
          .Metrics({{0, 0, 0, 0, 1, 1}})
          .Reference(4, 0, 1, 1, 12, {{1, 85}, {2, 181}, {8, 1}, {15, 6}, {5, 7}})
          .Composition(28, 1.0f)
          .Orientation(9)
          .Build();
  const Bytes scaling = CSIRecordBuilder()
                            .ScaleFactor(0)
                            .PixelFormat("")
                            .Colorspace(0)
                            .Layout(1010)
                            .Name("AppIcon")
                            .Composition(0, 0.0f)
                            .Orientation(1)
                            .ScalingInfo({{60, 60, 1}, {120, 120, 2}, {180, 180, 3}})
                            .Build();
  const Bytes names = CSIRecordBuilder()
                          .PixelFormat("")
                          .Layout(1005)
                          .Name("Group")
                          .Composition(0, 0.0f)
                          .Orientation(1)
                          .NameList({"first", "second-name", ""})
                          .Build();
  // Raw PDF data, unknown subblocks, and 16 bytes that no structure claims.
  const Bytes pdf = CSIRecordBuilder()
                        .PixelFormat(" FDP")
                        .Colorspace(7)
                        .Layout(9)
                        .Name("vector")
                        .Subblock(1002, Counting(4, 1))
                        .Subblock(2000, {})
                        .RawData(BytesOf("%PDF-1.4\n%%EOF\n"))
                        .Trailing(Counting(16, 0x30))
                        .Build();
  // A payload nobody knows.
  const Bytes unknown = CSIRecordBuilder()
                            .Size(4, 0)
                            .PixelFormat("ABCD")
                            .Name("mystery")
                            .Payload(Join({BytesOf("ABCD"), Counting(12, 0x70)}))
                            .Build();

  recipe.renditions = {
      {DefaultKey({{12, 2}, {15, 1}, {17, 1}, {1, 85}, {2, 220}, {9, 1}}), bitmap},
      {DefaultKey({{12, 1}, {15, 2}, {17, 2}, {1, 85}, {2, 181}}), gray},
      {DefaultKey({{12, 2}, {15, 6}, {17, 1}, {1, 85}, {2, 220}, {9, 3}}), reference},
      {DefaultKey({{15, 0}, {17, 1}, {1, 85}, {2, 218}}), scaling},
      {DefaultKey({{15, 3}, {17, 9}, {2, 206}}), names},
      {DefaultKey({{15, 4}, {17, 9}, {12, 3}}), pdf},
      {DefaultKey({{15, 9}, {17, 9}}), unknown},
  };
  return recipe;
}

void LoadCatalog(const CatalogFileSpec& recipe, AssetsCatalog& catalog) {
  const Bytes file = BuildCatalogFile(recipe);
  ASSERT_TRUE(AssetsCatalog_LoadFromBytes(catalog, file, "test.car"));
}

}  // namespace skarvel::test
