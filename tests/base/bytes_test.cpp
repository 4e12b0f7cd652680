#include "base/bytes.h"

#include <gtest/gtest.h>

namespace skarvel {
namespace {

TEST(RangeFits, SubtractionFormNeverOverflows) {
  EXPECT_TRUE(Range_Fits(0, 0, 0));
  EXPECT_TRUE(Range_Fits(4, 4, 8));
  EXPECT_FALSE(Range_Fits(5, 4, 8));
  EXPECT_FALSE(Range_Fits(9, 0, 8));
  EXPECT_FALSE(Range_Fits(8, UINT64_MAX, 16));  // off + len would wrap
}

TEST(ByteReader, ReadsBothOrdersAndStaysFailedPastTheEnd) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  ByteReader r{bytes};
  EXPECT_EQ(ByteReader_U32BE(r), 0x01020304u);
  EXPECT_EQ(ByteReader_U16LE(r), 0x0605u);
  EXPECT_FALSE(r.failed);
  EXPECT_EQ(ByteReader_U8(r), 0u);
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.pos, 6u);
  EXPECT_TRUE(ByteReader_Bytes(r, 0).empty());
  ByteReader s{bytes};
  EXPECT_FALSE(ByteReader_Seek(s, 7));
  EXPECT_TRUE(s.failed);
  EXPECT_EQ(ByteReader_U32LE(s), 0u);  // sticky
}

TEST(Overlay, LittleEndianFieldsRoundTrip) {
  LE32 f{};
  Set(f, 0x11223344u);
  EXPECT_EQ(f.b[0], 0x44);
  EXPECT_EQ(f.b[3], 0x11);
  EXPECT_EQ(Get(f), 0x11223344u);
}

}  // namespace
}  // namespace skarvel
