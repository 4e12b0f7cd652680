#include "base/buffer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/mem.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

std::string Text(const Buffer& b) { return std::string(reinterpret_cast<char*>(b.data), b.size); }

void ExpectZeroTail(const Buffer& b) {
  ASSERT_NE(b.data, nullptr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(b.data[b.size + i], 0) << "tail byte " << i;
}

TEST(Buffer, AppendPrependInsertKeepTheZeroTail) {
  Buffer b;
  ASSERT_TRUE(Buffer_Append(b, "abc", 3));
  EXPECT_EQ(b.size, 3u);
  EXPECT_STREQ(reinterpret_cast<char*>(b.data), "abc");
  ASSERT_TRUE(Buffer_Prepend(b, "xy", 2));
  ASSERT_TRUE(Buffer_InsertAt(b, 2, "-", 1));
  EXPECT_EQ(Text(b), "xy-abc");
  ExpectZeroTail(b);
  ASSERT_TRUE(Buffer_AppendFormat(b, "%d!", 42));
  ASSERT_TRUE(Buffer_PrependFormat(b, "[%s]", "p"));
  EXPECT_EQ(Text(b), "[p]xy-abc42!");
  ExpectZeroTail(b);
  errno = 0;
  EXPECT_FALSE(Buffer_InsertAt(b, b.size + 1, "z", 1));
  EXPECT_EQ(errno, EINVAL);

  Buffer empty;
  ASSERT_TRUE(Buffer_Prepend(empty, "q", 1));
  EXPECT_EQ(Text(empty), "q");
  ExpectZeroTail(empty);
}

TEST(Buffer, WriteAtGrowsOnlyPastTheEnd) {
  Buffer b;
  ASSERT_TRUE(Buffer_WriteAt(b, 0, std::string(20, 'a').data(), 20));
  ASSERT_TRUE(Buffer_WriteAt(b, 10, "bbbb", 4));
  EXPECT_EQ(b.size, 20u);
  ASSERT_TRUE(Buffer_WriteAt(b, 18, "cccc", 4));
  EXPECT_EQ(b.size, 22u);
  ExpectZeroTail(b);
  ASSERT_TRUE(Buffer_WriteAt(b, 30, nullptr, 0));  // reserve room
  EXPECT_EQ(b.size, 30u);
  for (uint64_t i = 22; i < 30; ++i) EXPECT_EQ(b.data[i], 0);
  ExpectZeroTail(b);
}

TEST(Buffer, SearchesCompareAndReplace) {
  Buffer b;
  ASSERT_TRUE(Buffer_Append(b, "abc", 3));
  EXPECT_EQ(Buffer_FindFirst(b, "bc", 2), b.data + 1);
  EXPECT_EQ(Buffer_FindFirst(b, "abcd", 4), nullptr);
  EXPECT_EQ(Buffer_FindFirst(b, "abc", 3), b.data);
  EXPECT_EQ(Buffer_Compare(b, "abcd", 4), 0x44494646);
  EXPECT_EQ(Buffer_Compare(b, b.data, 3), 0);
  EXPECT_LT(Buffer_Compare(b, "abd", 3), 0);

  Buffer c;
  ASSERT_TRUE(Buffer_Append(c, "aXa", 3));
  EXPECT_EQ(Buffer_FindLast(c, "a", 1), c.data + 2);
  EXPECT_EQ(Buffer_OffsetOf(c, Buffer_FindLast(c, "X", 1)), 1u);

  Buffer r;
  ASSERT_TRUE(Buffer_Append(r, "aaa", 3));
  EXPECT_EQ(Buffer_Replace(r, "a", 1, "aa", 2, 0), 3);
  EXPECT_EQ(Text(r), "aaaaaa");
  EXPECT_EQ(Buffer_Replace(r, "aa", 2, "b", 1, 2), 2);
  EXPECT_EQ(Text(r), "bbaa");
  ExpectZeroTail(r);
  EXPECT_EQ(Buffer_Replace(r, "toolong", 7, "x", 1, 0), 0);
}

TEST(Buffer, SubsetAndTrims) {
  Buffer b;
  ASSERT_TRUE(Buffer_Append(b, "  hello\n\n", 9));
  ASSERT_TRUE(Buffer_TrimLeft(b, " ", 1));
  EXPECT_EQ(Text(b), " hello\n\n");
  ASSERT_TRUE(Buffer_TrimLeft(b, " ", 0));
  ASSERT_TRUE(Buffer_TrimRight(b, "\n", 0));
  EXPECT_EQ(Text(b), "hello");
  ASSERT_TRUE(Buffer_Subset(b, 1, 4));
  EXPECT_EQ(Text(b), "ell");
  ExpectZeroTail(b);
  errno = 0;
  EXPECT_FALSE(Buffer_Subset(b, 2, 1));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(Buffer_Subset(b, 0, 4));
}

TEST(Buffer, AllocationFailureKeepsTheContent) {
  Buffer b;
  ASSERT_TRUE(Buffer_Append(b, "abc", 3));
  Mem_FailAfter(0);
  errno = 0;
  EXPECT_FALSE(Buffer_Append(b, "def", 3));
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_FALSE(Buffer_AppendFormat(b, "%s", "x"));
  Mem_FailAfter(-1);
  EXPECT_EQ(Text(b), "abc");
  ExpectZeroTail(b);
}

TEST(Buffer, MoveTransfersOwnership) {
  Buffer a;
  ASSERT_TRUE(Buffer_Append(a, "abc", 3));
  Buffer b = std::move(a);
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0u);
  EXPECT_EQ(Text(b), "abc");
}

TEST(BufferFile, ReadsWholeFilesAndEmptyFiles) {
  test::TempDir dir;
  test::WriteFileText("empty.bin", "");
  test::WriteFileText("some.bin", std::string("a\0b", 3));
  Buffer b;
  ASSERT_TRUE(Buffer_ReadFromFile(b, "empty.bin"));
  EXPECT_NE(b.data, nullptr);
  EXPECT_EQ(b.size, 0u);
  ExpectZeroTail(b);
  ASSERT_TRUE(Buffer_ReadFromFile(b, "some.bin"));
  EXPECT_EQ(Text(b), std::string("a\0b", 3));
  errno = 0;
  EXPECT_FALSE(Buffer_ReadFromFile(b, "missing.bin"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.size, 0u);
}

TEST(BufferFile, WriteCreatesParentDirectories) {
  test::TempDir dir;
  Buffer b;
  ASSERT_TRUE(Buffer_Append(b, "data", 4));
  ASSERT_TRUE(Buffer_WriteToFile(b, "out/sub/file.bin"));
  EXPECT_EQ(test::ReadFileText("out/sub/file.bin"), "data");
  ASSERT_TRUE(Buffer_WriteToFile(b, "x//y/z.bin"));  // runs of separators, one-letter names
  EXPECT_EQ(test::ReadFileText("x/y/z.bin"), "data");
  errno = 0;
  EXPECT_FALSE(Buffer_WriteToFile(b, ""));
  EXPECT_EQ(errno, EINVAL);
}

TEST(BufferFile, StdoutPathWritesToTheStream) {
  Buffer b;
  ASSERT_TRUE(Buffer_Append(b, "to stdout", 9));
  test::CaptureStream out(1);
  ASSERT_TRUE(Buffer_WriteToFile(b, "/stdout/"));
  EXPECT_EQ(out.Finish(), "to stdout");
}

}  // namespace
}  // namespace skarvel
