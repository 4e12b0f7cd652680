#include "frontend/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace skarvel {
namespace {

// An in-memory FILE* whose text can be read back.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(data_);
  }
  FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* file_;
};

struct Parsed {
  CommandLine cl;
  bool scanned = false;
  AfterScan after = AfterScan::Fail;
  std::string out;
  std::string err;
};

// Scans `args` (the program name is added) and runs the after-scan steps.
void Parse(const std::vector<std::string>& args, Parsed& run) {
  IdiomFilter_ResetForTesting();
  std::vector<std::string> storage = {"skarvel"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  MemoryStream out;
  MemoryStream err;
  run.scanned = CommandLine_Scan(run.cl, static_cast<int>(storage.size()), argv.data(), err.file());
  if (run.scanned) run.after = CommandLine_Finish(run.cl, out.file(), err.file());
  // The parsed input points into argv: keep a copy readable after return.
  static std::string input_copy;
  input_copy = run.cl.input != nullptr ? run.cl.input : "";
  run.cl.input = run.cl.input != nullptr ? input_copy.c_str() : nullptr;
  static std::string image_copy;
  image_copy = run.cl.replacement_image != nullptr ? run.cl.replacement_image : "";
  run.cl.replacement_image = run.cl.replacement_image != nullptr ? image_copy.c_str() : nullptr;
  run.out = out.Text();
  run.err = err.Text();
}

std::string Banner() {
  return std::string("skarvel - CoreUI Archive handling tool by Orvane, version ") +
         VersionString() + "\n          for the Brindlework - https://skarvel.example.org\n";
}

constexpr const char* kOutLast = "skarvel: -out: must specify output file name or pathname\n";
constexpr const char* kIdiomsLast =
    "skarvel: -idioms: missing arguments (must supply comma-separated idioms list)\n";
constexpr const char* kReplaceLast =
    "skarvel: -replace_img: missing arguments (must supply replacement image pathname)\n";

struct ScanCase {
  const char* name;
  std::vector<std::string> args;
  Command command;
  bool all;
  bool add;
  bool verbose;
  const char* input;  // null: none
  const char* output;
  const char* idiom_filter;
  const char* replacement;  // null: none
  AfterScan after;
  bool banner;
  const char* err;
};

TEST(CommandLineTest, ScanAndFinish) {
  // clang-format off
  const ScanCase kCases[] = {
      {"no arguments", {}, Command::None, false, false, false, nullptr, "", "", nullptr,
       AfterScan::Usage, true, ""},
      {"-version alone", {"-version"}, Command::Version, false, false, false, nullptr, "", "",
       nullptr, AfterScan::Version, true, ""},
      {"--version with an input", {"--version", "x.car"}, Command::Version, false, false, false,
       "x.car", "", "", nullptr, AfterScan::Version, true, ""},
      {"-info without input", {"-info"}, Command::Info, false, false, false, nullptr, "", "",
       nullptr, AfterScan::Usage, true, ""},
      {"input without command", {"x.car"}, Command::None, false, false, false, "x.car", "", "",
       nullptr, AfterScan::Usage, true, ""},
      {"-info with input", {"-info", "x.car"}, Command::Info, false, false, false, "x.car",
       "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-list-all then -info keeps all", {"-list-all", "-info", "x.car"}, Command::Info, true,
       false, false, "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-list-all then -list clears all", {"-list-all", "-list", "x.car"}, Command::List, false,
       false, false, "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-listing is a list word", {"-listing", "x.car"}, Command::List, false, false, false,
       "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-dump-all", {"-dump-all", "x.car"}, Command::Dump, true, false, false, "x.car", "x.car",
       "", nullptr, AfterScan::RunCommand, false, ""},
      {"-dumpx is dump without all", {"-dump-all", "-dumpx", "x.car"}, Command::Dump, false,
       false, false, "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-dump_res leaves all alone", {"-list-all", "-dump_res", "x.car"}, Command::DumpRes, true,
       false, false, "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-out last", {"-info", "x.car", "-out"}, Command::Info, false, false, false, "x.car",
       "x.car", "", nullptr, AfterScan::RunCommand, false, kOutLast},
      {"-out consumes -info", {"-out", "-info", "x.car"}, Command::None, false, false, false,
       "x.car", "-info", "", nullptr, AfterScan::Usage, true, ""},
      {"two inputs: the later wins", {"-info", "a.car", "b.car"}, Command::Info, false, false,
       false, "b.car", "b.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-idioms", {"-idioms", "iphone,ipad", "-info", "x.car"}, Command::Info, false, false,
       false, "x.car", "x.car", ",iphone,ipad,", nullptr, AfterScan::RunCommand, false, ""},
      {"-idioms last", {"-info", "x.car", "-idioms"}, Command::Info, false, false, false, "x.car",
       "x.car", "", nullptr, AfterScan::RunCommand, false, kIdiomsLast},
      {"unknown argument", {"-bogus", "-info", "x.car", "--"}, Command::Info, false, false, false,
       "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false,
       "skarvel: unknown argument: -bogus\nskarvel: unknown argument: --\n"},
      {"-v -info prints the banner", {"-v", "-info", "x.car"}, Command::Info, false, false, true,
       "x.car", "x.car", "", nullptr, AfterScan::RunCommand, true, ""},
      {"-version then a command", {"-version", "-info", "x.car"}, Command::Info, false, false,
       false, "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"-replace_img", {"-replace_img", "new.png", "x.car"}, Command::ReplaceImg, false, false,
       false, "x.car", "x.car", "", "new.png", AfterScan::RunCommand, false, ""},
      {"-replace_img consumes a dash word", {"-replace_img", "-v", "x.car"}, Command::ReplaceImg,
       false, false, false, "x.car", "x.car", "", "-v", AfterScan::RunCommand, false, ""},
      {"-replace_img last keeps the command", {"-info", "x.car", "-replace_img"}, Command::Info,
       false, false, false, "x.car", "x.car", "", nullptr, AfterScan::RunCommand, false,
       kReplaceLast},
      {"-replace_img with -out", {"-out", "new.car", "-replace_img", "i.png", "x.car"},
       Command::ReplaceImg, false, false, false, "x.car", "new.car", "", "i.png",
       AfterScan::RunCommand, false, ""},
      {"decompile drops .car", {"-decompile", "dir/Assets.car"}, Command::Decompile, false, false,
       false, "dir/Assets.car", "dir/Assets.xcassets", "", nullptr, AfterScan::RunCommand, false,
       ""},
      {"decompile keeps .xcassets", {"-decompile", "x.car", "-out", "Out.xcassets"},
       Command::Decompile, false, false, false, "x.car", "Out.xcassets", "", nullptr,
       AfterScan::RunCommand, false, ""},
      {"decompile: .car alone is kept", {"-decompile", ".car"}, Command::Decompile, false, false,
       false, ".car", ".car.xcassets", "", nullptr, AfterScan::RunCommand, false, ""},
      {"decompile: case matters", {"-decompile", "A.CAR"}, Command::Decompile, false, false,
       false, "A.CAR", "A.CAR.xcassets", "", nullptr, AfterScan::RunCommand, false, ""},
      {"decompile: short name", {"-decompile", "x", "-out", "a"}, Command::Decompile, false,
       false, false, "x", "a.xcassets", "", nullptr, AfterScan::RunCommand, false, ""},
      {"compile without -out", {"-compile", "MyApp.xcassets"}, Command::Compile, false, false,
       false, "MyApp.xcassets", "Assets.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"compile -out naming the input", {"-compile-add", "d", "-out", "d"}, Command::Compile,
       false, true, false, "d", "Assets.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"compile -out gets .car", {"-out", "Out", "-compilex", "d"}, Command::Compile, false,
       false, false, "d", "Out.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"compile -out keeps .car", {"-compile", "d", "-out", "o.car"}, Command::Compile, false,
       false, false, "d", "o.car", "", nullptr, AfterScan::RunCommand, false, ""},
      {"compile short -out", {"-compile", "d", "-out", "ar"}, Command::Compile, false, false,
       false, "d", "ar.car", "", nullptr, AfterScan::RunCommand, false, ""},
  };
  for (const ScanCase& c : kCases) {
    SCOPED_TRACE(c.name);
    Parsed run;
    Parse(c.args, run);
    ASSERT_TRUE(run.scanned);
    EXPECT_EQ(run.after, c.after);
    EXPECT_EQ(run.cl.command, c.command);
    EXPECT_EQ(run.cl.all, c.all);
    EXPECT_EQ(run.cl.add, c.add);
    EXPECT_EQ(run.cl.verbose, c.verbose);
    EXPECT_STREQ(run.cl.input, c.input);
    EXPECT_STREQ(run.cl.replacement_image, c.replacement);
    EXPECT_STREQ(run.cl.output, c.output);
    EXPECT_STREQ(IdiomFilter_Get(), c.idiom_filter);
    EXPECT_EQ(run.out, c.banner ? Banner() : "");
    EXPECT_EQ(run.err, c.err);
  }
}

// Arguments measured against the fixed buffers: the largest that fits is
// taken whole, one more character is refused with a message and status 1.
TEST(CommandLineTest, FixedBufferLimits) {
  const std::string fits(1023, 'p');
  const std::string too_long(1024, 'p');
  const std::string list_fits(61, 'i');
  const std::string list_too_long(62, 'i');
  const std::string near_limit = std::string(1016, 'd') + ".car";  // 1020 characters
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool scanned;
    AfterScan after;
    std::string output;
    std::string err;
  };
  const Case kCases[] = {
      {"-out of 1023 characters", {"-info", "x", "-out", fits}, true, AfterScan::RunCommand, fits,
       ""},
      {"-out of 1024 characters", {"-info", "x", "-out", too_long}, false, AfterScan::Fail, "",
       "skarvel: -out: pathname too long (1024 characters; at most 1023 allowed)\n"},
      {"input of 1023 characters", {"-info", fits}, true, AfterScan::RunCommand, fits, ""},
      {"input of 1024 characters", {"-info", too_long}, true, AfterScan::Fail, "",
       "skarvel: input pathname too long (1024 characters; at most 1023 allowed)\n"},
      {"idioms of 61 characters", {"-idioms", list_fits, "-info", "x"}, true,
       AfterScan::RunCommand, "x", ""},
      {"idioms of 62 characters", {"-idioms", list_too_long, "-info", "x"}, false,
       AfterScan::Fail, "",
       "skarvel: -idioms: idioms list too long (62 characters; at most 61 allowed)\n"},
      {"decompile name that cannot take .xcassets", {"-decompile", near_limit}, true,
       AfterScan::Fail, std::string(1016, 'd') + ".car",
       "skarvel: output pathname too long once its extension is added (at most 1023 characters "
       "allowed): " +
           near_limit + "\n"},
      {"compile name that takes .car", {"-compile", "d", "-out", std::string(1019, 'o')}, true,
       AfterScan::RunCommand, std::string(1019, 'o') + ".car", ""},
      {"compile name that cannot take .car", {"-compile", "d", "-out", std::string(1020, 'o')},
       true, AfterScan::Fail, std::string(1020, 'o'),
       "skarvel: output pathname too long once its extension is added (at most 1023 characters "
       "allowed): " +
           std::string(1020, 'o') + "\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Parsed run;
    Parse(c.args, run);
    EXPECT_EQ(run.scanned, c.scanned);
    if (c.scanned) {
      EXPECT_EQ(run.after, c.after);
    }
    EXPECT_EQ(std::string(run.cl.output), c.output);
    EXPECT_EQ(run.err, c.err);
  }
  Parsed run;
  Parse({"-idioms", list_fits, "-info", "x"}, run);
  EXPECT_EQ(std::string(IdiomFilter_Get()), "," + list_fits + ",");
}

TEST(CommandLineTest, IdiomFilterMembership) {
  IdiomFilter_ResetForTesting();
  EXPECT_FALSE(IdiomFilter_Contains("iphone"));
  ASSERT_TRUE(IdiomFilter_Set("iphone,ipad"));
  EXPECT_STREQ(IdiomFilter_Get(), ",iphone,ipad,");
  struct Case {
    const char* idiom;
    bool found;
  };
  const Case kCases[] = {
      {"iphone", true}, {"ipad", true}, {"pad", false}, {"phone", false},
      {"marketing", false}, {"iphone,", false}, {"ipa", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.idiom);
    EXPECT_EQ(IdiomFilter_Contains(c.idiom), c.found);
  }
  IdiomFilter_ResetForTesting();
  EXPECT_STREQ(IdiomFilter_Get(), "");
}

TEST(CommandLineTest, VersionFromDateText) {
  struct Case {
    const char* text;
    bool ok;
    const char* version;
  };
  const Case kCases[] = {
      {"Oct  3 2019", true, "20191003"},  {"Jan 31 2000", true, "20000131"},
      {"Dec 25 1999", true, "19991225"},  {"Feb 10 2026", true, "20260210"},
      {"Oct 3 2019", false, "00000000"},  {"Foo  3 2019", false, "00000000"},
      {"Oct 00 2019", false, "00000000"}, {"Oct  3 20x9", false, "00000000"},
      {"", false, "00000000"},            {"??? ?? ????", false, "00000000"},
      {"Oct  3 2019 ", false, "00000000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    char out[9];
    EXPECT_EQ(VersionFromDateText(c.text, out), c.ok);
    EXPECT_STREQ(out, c.version);
  }
  // The program's own text: eight digits, computed once.
  const char* version = VersionString();
  ASSERT_EQ(std::strlen(version), 8u);
  EXPECT_EQ(std::strspn(version, "0123456789"), 8u);
  EXPECT_EQ(VersionString(), version);
}

TEST(CommandLineTest, InputBaseName) {
  struct Case {
    const char* input;
    const char* base;
  };
  const Case kCases[] = {
      {"Assets.car", "Assets.car"}, {"a/b/Assets.car", "Assets.car"}, {"a\\b\\c.car", "c.car"},
      {"a\\b/c.car", "c.car"},      {"a/b\\c.car", "c.car"},          {"dir/", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    EXPECT_STREQ(InputBaseName(c.input), c.base);
  }
}

}  // namespace
}  // namespace skarvel
