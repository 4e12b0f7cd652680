// Faults the fuzz targets found, pinned at the level of the unit that had
// them (the fuzz corpora replay the inputs that found them).

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "bom/bom_store.h"
#include "csi/csi_decode.h"
#include "csi/csi_replace.h"
#include "image/image.h"
#include "image/image_file.h"
#include "tests/support/byte_patch.h"
#include "tests/support/capture.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;

// An uncompressed record whose bytes per line is longer than its rows (its
// element holds the padded rows) is rebuilt by a full replacement into a
// record that decodes to the new picture.
TEST(FuzzFindings, ReplacedUncompressedRecordWithPaddedRowsStillDecodes) {
  const struct {
    const char* name;
    const char* format;
    uint32_t width, bytes_per_pixel, bytes_per_line;
  } kCases[] = {
      {"BGRA, 3 pixels in 16 bytes", "BGRA", 3, 4, 16},
      {"gray, 6 pixels in 16 bytes", " 8AG", 6, 2, 16},
  };
  test::TempDir temp;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const uint32_t height = 5;
    Bytes rows(size_t{c.bytes_per_line} * height);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 3);
    test::CSIRecordBuilder b;
    b.Size(c.width, height).PixelFormat(c.format).BytesPerLine(c.bytes_per_line).Element(0, rows);
    const Bytes record = b.Build();
    BOMStore store;
    ASSERT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, record.data(), record.size()));
    BOMBlock& block = store.blocks[1];
    Image before;
    ASSERT_TRUE(CSI_DecodeImage(block, before));

    // Gray values with alpha, so that the gray record keeps them as they are.
    Bytes picture(size_t{c.width} * height * 4);
    for (size_t p = 0; p < picture.size() / 4; ++p) {
      const auto v = static_cast<uint8_t>(40 + p * 9);
      picture[4 * p] = picture[4 * p + 1] = picture[4 * p + 2] = v;
      picture[4 * p + 3] = static_cast<uint8_t>(255 - p);
    }
    ASSERT_TRUE(Image_WriteFile("picture.png", "BGRA", picture, static_cast<int32_t>(c.width),
                                height, static_cast<int32_t>(c.width * 4)));
    test::CaptureStream err(2);  // canonical-form warnings
    ASSERT_TRUE(CSI_ReplaceImage(block, "picture.png", -1, -1));
    (void)err.Finish();

    Image after;
    ASSERT_TRUE(CSI_DecodeImage(block, after)) << "errno " << errno;
    ASSERT_EQ(after.width, static_cast<int32_t>(c.width));
    ASSERT_EQ(after.height, static_cast<int32_t>(height));
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < c.width; ++x) {
        const uint8_t* got = after.pixels.data + size_t{y} * static_cast<size_t>(after.stride) +
                             size_t{x} * c.bytes_per_pixel;
        const uint8_t* want = picture.data() + (size_t{y} * c.width + x) * 4;
        if (c.bytes_per_pixel == 4) {
          EXPECT_EQ(Bytes(got, got + 4), Bytes(want, want + 4)) << x << "," << y;
        } else {
          EXPECT_EQ(got[0], want[1]) << x << "," << y;
          EXPECT_EQ(got[1], want[3]) << x << "," << y;
        }
      }
    }
  }
}

}  // namespace
}  // namespace skarvel
