#include "inspect/hex_dump.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/inspect/inspect_fixtures.h"

namespace skarvel {
namespace {

TEST(HexDumpTest, LinesOfSixteenWithPaddedLastLine) {
  const uint8_t data[40] = {'0',  '1',  '2', '3', '4', '5', '6',  '7',  '8',  '9',
                            'a',  'b',  'c', 'd', 'e', 'f', '%',  ' ',  '~',  0x7F,
                            0x00, 0xFF, 'Q', 'R', 'S', 'T', 'U',  'V',  'W',  'X',
                            'Y',  'Z',  't', 'a', 'i', 'l', 0x0A, 0x0D, 0x20, 0x25};
  test::MemoryStream out;
  EXPECT_EQ(HexDump(out.file(), data, sizeof data, 16, "  + caption %d\n", 7), 40u);
  EXPECT_EQ(out.Text(),
            "  + caption 7\n"
            "    00000   30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66   0123456789abcdef\n"
            "    00016   25 20 7E 7F 00 FF 51 52 53 54 55 56 57 58 59 5A   . ~...QRSTUVWXYZ\n"
            "    00032   74 61 69 6C 0A 0D 20 25                           tail.. .        \n");
}

TEST(HexDumpTest, CaptionOnlyForNoBytes) {
  test::MemoryStream out;
  EXPECT_EQ(HexDump(out.file(), nullptr, 0, 16, "%s", "head\n"), 0u);
  EXPECT_EQ(out.Text(), "head\n");
}

TEST(HexDumpTest, OtherLineWidths) {
  const uint8_t data[5] = {'a', 'b', 'c', 'd', 'e'};
  test::MemoryStream out;
  EXPECT_EQ(HexDump(out.file(), data, sizeof data, 4, "%s", ""), 5u);
  EXPECT_EQ(out.Text(),
            "    00000   61 62 63 64   abcd\n"
            "    00004   65            e   \n");
}

}  // namespace
}  // namespace skarvel
