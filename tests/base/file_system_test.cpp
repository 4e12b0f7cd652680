#include "base/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "base/mem.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::TempDir;
using test::WriteFileText;

void MakeDir(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0777), 0) << path; }

// What ResolvePath should do with one argument.
enum class Expect { kSameArgument, kNewString, kError };

struct Resolution {
  Expect kind;
  std::string text;  // the new string, when kind is kNewString
  int code;          // errno, when kind is kError
};

Resolution Resolve(const char* path) {
  ResolvedPath out;
  errno = 0;
  if (!ResolvePath(path, out)) return {Expect::kError, "", errno};
  if (out.path == path) return {Expect::kSameArgument, "", 0};
  return {Expect::kNewString, out.path != nullptr ? out.path : "(null)", 0};
}

void ExpectResolution(const Resolution& got, Expect kind, const std::string& text, int code) {
  EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(kind));
  if (kind == Expect::kNewString) {
    EXPECT_EQ(got.text, text);
  }
  if (kind == Expect::kError) {
    EXPECT_EQ(got.code, code);
  }
}

TEST(FileSystem, HashTakesBytesAsSigned) {
  EXPECT_EQ(FileStatusCache_Hash("", 0), 0u);
  EXPECT_EQ(FileStatusCache_Hash("ab", 2), 97u * 101u + 98u);
  // 0xFF counts as -1: -1 * 101 + 1 = -100.
  EXPECT_EQ(FileStatusCache_Hash("\xff\x01", 2), 0xFFFFFF9Cu);
}

// Each case writes the file "f" and, when `target` is set, creates a directory
// of that name, so that a file taken for a link resolves to the directory and
// a file that is not a link resolves to "f" itself.
TEST(FileSystem, LinkProbe) {
  const std::string padded_1023 = "tgt" + [] {
    std::string s;
    for (int i = 0; i < 510; ++i) s += "/.";
    return s;
  }();
  struct Case {
    const char* name;
    std::string content;
    std::string target;
    bool is_link;
  };
  const Case kCases[] = {
      {"plain path", "tgt", "tgt", true},
      {"every allowed punctuation byte", "a !#$%&'()+,-.;=@[]^_`{}~", "a !#$%&'()+,-.;=@[]^_`{}~",
       true},
      {"digits, letters and bytes above 0x7F", "Az09\xc3\xa9\xff", "Az09\xc3\xa9\xff", true},
      {"colon at index 1 (drive)", "t:gt", "t:gt", true},
      {"colon elsewhere", "tg:t", "tg:t", false},
      {"trailing newline", "tgt\n", "tgt\n", false},
      {"tab inside", "t\tgt", "t\tgt", false},
      {"DEL byte", "tg\x7ft", "tg\x7ft", false},
      {"double quote", "tg\"t", "tg\"t", false},
      {"asterisk", "tg*t", "tg*t", false},
      {"less-than", "tg<t", "tg<t", false},
      {"greater-than", "tg>t", "tg>t", false},
      {"question mark", "tg?t", "tg?t", false},
      {"vertical bar", "tg|t", "tg|t", false},
      {"first byte white space", " tgt", " tgt", false},
      {"first byte #", "#tgt", "#tgt", false},
      {"symlink marker", "!<symlink>tgt", "tgt", true},
      {"symlink marker, target ends at a zero byte", std::string("!<symlink>tgt\0x<", 16), "tgt",
       true},
      {"1023 bytes", padded_1023, "tgt", true},
      {"1024 bytes", padded_1023 + "/", "tgt", false},
      {"empty file", "", "", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FileStatusCache_ResetForTesting();
    WriteFileText("f", c.content);
    if (!c.target.empty()) MakeDir(c.target);
    if (c.name == std::string("1024 bytes")) {
      ASSERT_EQ(c.content.size(), 1024u);
    }
    ExpectResolution(Resolve("f"), Expect::kNewString, c.is_link ? c.target : "f", 0);
  }
}

// The working tree of the resolver cases.
void BuildTree() {
  MakeDir("a");
  MakeDir("a/b");
  MakeDir("real");
  WriteFileText("real/file.png", "\x89PNG\r\n");
  MakeDir("d");
  WriteFileText("d/link.txt", "../real");
  MakeDir("d2");
  WriteFileText("d2/chain", "../d/link.txt");
  MakeDir("D:");
  MakeDir("D:/x");
  MakeDir("sub");
  WriteFileText("sub/abs", "!<symlink>D:/x");
  WriteFileText("plain.txt", "not a link\n");
  WriteFileText("loop1", "loop2");
  WriteFileText("loop2", "loop1");
  WriteFileText("self", "!<symlink>./self");
  WriteFileText("empty_link", "!<symlink>");
  // A chain of directories whose full name is longer than 1023 bytes.
  std::string deep = "deep";
  MakeDir(deep);
  for (int i = 0; i < 6; ++i) {
    deep += "/" + std::string(200, 'n');
    MakeDir(deep);
  }
}

TEST(FileSystem, ResolvePathCases) {
  TempDir dir;
  FileStatusCache_ResetForTesting();
  BuildTree();
  const std::string here = dir.path().substr(dir.path().rfind('/') + 1);
  std::string deep = "deep";
  for (int i = 0; i < 6; ++i) deep += "/" + std::string(200, 'n');
  struct Case {
    const char* name;
    std::string path;
    Expect kind;
    std::string text;
    int code;
  };
  const Case kCases[] = {
      {"backslashes and x/..", "a\\b\\..\\b", Expect::kNewString, "a/b", 0},
      {"dot component", "a/./b", Expect::kNewString, "a/b", 0},
      {"trailing separator on a directory", "a/b/", Expect::kSameArgument, "", 0},
      {"trailing backslash on a directory", "a\\b\\", Expect::kSameArgument, "", 0},
      {"trailing separator on a directory after a dot", "a/./b/", Expect::kSameArgument, "", 0},
      {"trailing separator on a link to a directory", "d/link.txt/", Expect::kNewString, "real/",
       0},
      {"relative link", "d/link.txt/file.png", Expect::kNewString, "real/file.png", 0},
      {"link to a link", "d2/chain/file.png", Expect::kNewString, "real/file.png", 0},
      {"link as last component", "d/link.txt", Expect::kNewString, "real", 0},
      {"link to a drive replaces the front", "sub/abs", Expect::kNewString, "D:/x", 0},
      {"absolute path keeps the root", dir.path() + "/a/b", Expect::kNewString,
       dir.path() + "/a/b", 0},
      {"leading .. is kept", "a/../../" + here + "/a", Expect::kNewString, "../" + here + "/a",
       0},
      {"everything cancels", "a/..", Expect::kNewString, ".", 0},
      {"regular file as last component", "plain.txt", Expect::kNewString, "plain.txt", 0},
      {"missing last component", "a/missing", Expect::kSameArgument, "", 0},
      {"missing middle component", "a/missing/x", Expect::kSameArgument, "", 0},
      {"through a regular file", "plain.txt/x", Expect::kSameArgument, "", 0},
      {"link with an empty target", "empty_link", Expect::kSameArgument, "", 0},
      {"empty path", "", Expect::kSameArgument, "", 0},
      {"dot", ".", Expect::kSameArgument, "", 0},
      {"only dots and separators", "./.", Expect::kSameArgument, "", 0},
      {"link loop", "loop1", Expect::kError, "", ELOOP},
      {"link to itself", "self/x", Expect::kError, "", ELOOP},
      {"result longer than 1023 bytes", deep, Expect::kError, "", ENAMETOOLONG},
      {"a long result that fits", deep.substr(0, 4 + 5 * 201), Expect::kNewString,
       deep.substr(0, 4 + 5 * 201), 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ExpectResolution(Resolve(c.path.c_str()), c.kind, c.text, c.code);
  }
  errno = 0;
  ResolvedPath out;
  EXPECT_FALSE(ResolvePath(nullptr, out));
  EXPECT_EQ(errno, EINVAL);
}

TEST(FileSystem, RootOnlyResult) {
  TempDir dir;
  FileStatusCache_ResetForTesting();
  WriteFileText("to_root", "!<symlink>/");
  ExpectResolution(Resolve("to_root"), Expect::kNewString, "/", 0);
}

// Statuses are cached per file, not per spelling: after a change of directory
// the same relative name is a different file.
TEST(FileSystem, CacheFollowsTheWorkingDirectory) {
  TempDir dir;
  FileStatusCache_ResetForTesting();
  MakeDir("one");
  MakeDir("two");
  WriteFileText("pic.png", "\x89PNG\r\n");
  WriteFileText("one/icon.png", "../pic.png");
  WriteFileText("two/icon.png", "\x89PNG\r\n");
  ASSERT_EQ(::chdir("one"), 0);
  ExpectResolution(Resolve("icon.png"), Expect::kNewString, "../pic.png", 0);
  ASSERT_EQ(::chdir("../two"), 0);
  ExpectResolution(Resolve("icon.png"), Expect::kNewString, "icon.png", 0);
}

TEST(FileSystem, FileCallsGoThroughTheResolver) {
  TempDir dir;
  FileStatusCache_ResetForTesting();
  BuildTree();
  FILE* f = OpenFile("d/link.txt/file.png", "rb");
  ASSERT_NE(f, nullptr);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, f), 6u);
  std::fclose(f);
  EXPECT_STREQ(text, "\x89PNG\r\n");

  struct stat st;
  ASSERT_EQ(StatFile("d2/chain/file.png", &st), 0);
  EXPECT_EQ(st.st_size, 6);
  errno = 0;
  EXPECT_EQ(StatFile("loop1", &st), -1);
  EXPECT_EQ(errno, ELOOP);

  ASSERT_EQ(MakeDirectory("fresh"), 0);
  EXPECT_TRUE(test::FileExists("fresh"));
  MakeDir("real/made");
  ASSERT_EQ(ChangeDirectory("d\\link.txt\\made"), 0);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), dir.path() + "/real/made");
}

TEST(FileSystem, ResolveReportsAllocationFailures) {
  TempDir dir;
  BuildTree();
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    FileStatusCache_ResetForTesting();
    ResolvedPath out;
    Mem_FailAfter(n);
    errno = 0;
    const bool ok = ResolvePath("d2/chain/file.png", out);
    const long failed = Mem_FailedCount();
    Mem_FailAfter(-1);
    if (ok) {
      EXPECT_EQ(failed, 0);
      EXPECT_STREQ(out.path, "real/file.png");
      EXPECT_GT(n, 3);  // the walk does allocate: the sweep reached real failures
      break;
    }
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(out.path, nullptr);
    ASSERT_LT(n, 200);
  }
  FileStatusCache_ResetForTesting();
}

TEST(FileSystem, DirectoryEnumeration) {
  TempDir dir;
  MakeDir("dir");
  MakeDir("dir/sub");
  WriteFileText("dir/file", "x");
  struct Case {
    const char* path;
    const char* pattern;
  };
  const Case kCases[] = {{"dir", "dir/*"}, {"dir/", "dir/*"}, {"dir\\", "dir\\*"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    DirectoryStream* stream = OpenDirectory(c.path);
    if (std::strcmp(c.path, "dir\\") == 0) {
      // A backslash is part of the name on this platform: no such directory.
      EXPECT_EQ(stream, nullptr);
      EXPECT_EQ(errno, ENOENT);
      continue;
    }
    ASSERT_NE(stream, nullptr);
    EXPECT_STREQ(DirectoryStream_Pattern(stream), c.pattern);
    std::set<std::string> entries;
    while (const DirectoryEntry* e = ReadDirectory(stream)) {
      entries.insert(std::string(e->name) + ":" + std::to_string(e->type));
    }
    EXPECT_EQ(entries, (std::set<std::string>{".:4", "..:4", "sub:4", "file:8"}));
    EXPECT_EQ(CloseDirectory(stream), 0);
  }

  struct Bad {
    const char* name;
    const char* path;
    int code;
  };
  const Bad kBad[] = {{"no path", nullptr, EINVAL},
                      {"empty path", "", EINVAL},
                      {"missing directory", "nowhere", ENOENT},
                      {"a file", "dir/file", ENOTDIR}};
  for (const Bad& b : kBad) {
    SCOPED_TRACE(b.name);
    errno = 0;
    EXPECT_EQ(OpenDirectory(b.path), nullptr);
    EXPECT_EQ(errno, b.code);
  }
  errno = 0;
  EXPECT_EQ(ReadDirectory(nullptr), nullptr);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(CloseDirectory(nullptr), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace skarvel
