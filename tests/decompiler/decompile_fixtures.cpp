#include "tests/decompiler/decompile_fixtures.h"

#include <gtest/gtest.h>

#include "catalog/assets_catalog.h"
#include "catalog/catalog_builder.h"
#include "compiler/compile_command.h"
#include "decompiler/decompiler.h"
#include "tests/support/capture.h"

namespace skarvel::test {

DecompileRun DecompileBytes(const Bytes& file) {
  AssetsCatalog catalog;
  DecompileRun run;
  if (!AssetsCatalog_LoadFromBytes(catalog, file, "in.car")) {
    ADD_FAILURE() << "fixture catalog does not load";
    return run;
  }
  CaptureStream out(1);
  CaptureStream err(2);
  run.ok = AssetsCatalog_Decompile(catalog, "in.car", "Out.xcassets");
  run.err = err.Finish();
  run.out = out.Finish();
  return run;
}

void CompileToFile(const std::string& source, const char* path) {
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
  CaptureStream err(2);
  EXPECT_TRUE(AssetsCatalog_CompileDirectory(catalog, source.c_str(), false));
  EXPECT_EQ(err.Finish(), "");
  ASSERT_TRUE(AssetsCatalog_Save(catalog, path));
}

void DecompileFile(const char* path, const char* out) {
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_Load(catalog, path));
  CaptureStream stdout_capture(1);
  CaptureStream err(2);
  EXPECT_TRUE(AssetsCatalog_Decompile(catalog, path, out));
  EXPECT_EQ(err.Finish(), "");
  EXPECT_EQ(stdout_capture.Finish(), std::string("\nDecompiling ") + path + " to " + out + "...\n");
}

Bytes PatternPixels(uint32_t width, uint32_t height, uint32_t bpp, uint8_t seed) {
  Bytes b;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < bpp; ++c) {
        AppendU8(b, static_cast<uint8_t>(seed + 7 * x + 13 * y + 61 * c));
      }
    }
  }
  return b;
}

Bytes ImageRecord(const std::string& name, uint32_t width, uint32_t height, uint32_t scale,
                  const Bytes& pixels) {
  return CSIRecordBuilder()
      .Size(width, height)
      .ScaleFactor(scale)
      .Name(name)
      .Layout(12)
      .Slices({{0, 0, width, height}})
      .Metrics({{0, 0, 0, 0, width, height}})
      .Composition(0, 1.0f)
      .Orientation(1)
      .BytesPerLine(width * 4)
      .Element(0, pixels, 3)
      .Build();
}

Bytes PackedRecord(uint32_t width, uint32_t height, uint32_t scale, const Bytes& pixels) {
  return CSIRecordBuilder()
      .Size(width, height)
      .ScaleFactor(scale)
      .Name("ZZZZPackedAsset-" + std::to_string(scale / 100) + ".1.0-gamut0")
      .Layout(1004)
      .Slices({{0, 0, 0, 0}})
      .Composition(0, 1.0f)
      .Orientation(1)
      .BytesPerLine(width * 4)
      .Element(0, pixels, 3)
      .Build();
}

Bytes ReferenceRecord(const std::string& name, uint32_t size, uint32_t scale, int32_t x, int32_t y,
                      const AttributePairs& pairs) {
  return CSIRecordBuilder()
      .Size(size, size)
      .ScaleFactor(scale)
      .Name(name)
      .Layout(1003)
      .Slices({{0, 0, size, size}})
      .Metrics({{0, 0, 0, 0, size, size}})
      .Reference(x, y, size, size, 12, pairs)
      .Composition(0, 1.0f)
      .Orientation(1)
      .Build();
}

Bytes ScalingRecord(const std::string& name) {
  return CSIRecordBuilder()
      .ScaleFactor(0)
      .PixelFormat("")
      .Colorspace(0)
      .Layout(1010)
      .Name(name)
      .Composition(0, 0.0f)
      .Orientation(1)
      .ScalingInfo({{29, 29, 1}, {57, 57, 3}})
      .Build();
}

Bytes BareRecord(const std::string& name) {
  return CSIRecordBuilder().Size(2, 2).Name(name).Build();
}

Bytes RawDataRecord(const std::string& name) {
  return CSIRecordBuilder().Size(2, 2).Name(name).RawData(BytesOf("abc")).Build();
}

Bytes IconKey(uint16_t facet, uint16_t idiom, uint16_t scale, uint16_t icon_index) {
  return DefaultKey({{12, scale}, {15, idiom}, {17, facet}, {1, 85}, {2, 220}, {9, icon_index}});
}

Bytes PackedKey(uint16_t idiom, uint16_t scale, uint16_t pack_index) {
  return DefaultKey({{12, scale}, {15, idiom}, {1, 9}, {2, 181}, {8, pack_index}});
}

}  // namespace skarvel::test
