// The directory walk and the compile command: dispatch by extension, the
// order of the walk, warnings, the working directory, creating, extending
// and saving catalogs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "base/file_system.h"
#include "base/project.h"
#include "catalog/catalog_builder.h"
#include "compiler/compile_command.h"
#include "frontend/command_line.h"
#include "tests/compiler/compile_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::CaptureStream;
using test::TempDir;

const char kTinySet[] =
    R"({"images": [{"idiom": "iphone", "size": "16x16", "scale": "1x", "filename": "EMPTY_IMAGE"}]})";

std::string WorkingDirectory() {
  char buf[4096];
  return getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

std::string DoesNotKnow(const std::string& name, const std::string& in) {
  return "Warning: the Brindlework's asset compiler doesn't know (yet) how to compile '" + name +
         "' in " + in + ". PLEASE do notify the author of this problem at " + kProjectAddress +
         " so as to obtain a patch quickly (attach your .xcassets directory).\n";
}

TEST(CompileDirectory, DispatchesByExtensionInByteOrder) {
  TempDir dir;
  const std::string root = "Tree.xcassets";
  test::WriteSet(root, "{}");  // the catalog's own Contents.json is a file: passed over
  for (const char* set :
       {"B.appiconset", "A.appiconset", "a.appiconset", "Icons/Other.appiconset"}) {
    test::WriteSet(root + "/" + set, kTinySet);
  }
  for (const char* other :
       {"Foo.launchimage", "Foo.imageset", "Foo.arreferenceimage", "My.Icon.appiconset",
        "Foo.APPICONSET", "Group.arresourcegroup", "Empty"}) {
    ASSERT_EQ(mkdir((root + "/" + other).c_str(), 0777), 0);
  }
  test::WriteFileText(root + "/Icon.appiconset", kTinySet);  // a file, not a set

  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
  const std::string before = WorkingDirectory();
  CaptureStream out(1);
  CaptureStream err(2);
  EXPECT_TRUE(AssetsCatalog_CompileDirectory(catalog, root.c_str(), true));
  const std::string printed = out.Finish();
  EXPECT_EQ(err.Finish(),
            DoesNotKnow("Foo.APPICONSET", root) +
                "Warning: AR reference image directory 'Foo.arreferenceimage' should be in an AR "
                "resource group! Ignoring.\n" +
                DoesNotKnow("Foo.imageset", root) +
                "Warning: AR resource group 'Group' has no Contents.json file! ignoring.\n" +
                DoesNotKnow("My.Icon.appiconset", root));
  EXPECT_EQ(printed,
            "Info: compiling directory 'Tree.xcassets'.\n"
            "Info: compiling app icon set 'A'.\n"
            "Info: compiling app icon set 'B'.\n"
            "Info: compiling directory 'Empty'.\n"
            "Info: compiling AR resource group 'Group'.\n"
            "Info: compiling directory 'Icons'.\n"
            "Info: compiling app icon set 'Other'.\n"
            "Info: compiling app icon set 'a'.\n");
  EXPECT_EQ(WorkingDirectory(), before);

  // Facet ids follow the walk: names in byte order, capitals first.
  ASSERT_EQ(catalog.facet_count, 4u);
  const std::pair<const char*, int32_t> kIds[] = {{"A", 1}, {"B", 2}, {"Other", 3}, {"a", 4}};
  for (const auto& [name, id] : kIds) {
    SCOPED_TRACE(name);
    const auto facets = test::FacetsNamed(catalog, name);
    ASSERT_EQ(facets.size(), 1u);
    EXPECT_EQ(facets[0]->id, id);
    EXPECT_EQ(facets[0]->rendition_count, 26);
  }
}

TEST(CompileDirectory, WhatCountsAsCompiled) {
  struct Case {
    const char* name;
    const char* tree;  // directories to make, ';'-separated; a set gets kTinySet
    bool compiled;
  };
  const Case kCases[] = {
      {"nothing", "", false},
      {"only skipped assets", "X.launchimage;Y.imageset", false},
      {"a set deep down", "a;a/b;a/b/S.appiconset", true},
      {"a set that fails", "S.appiconset", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_EQ(mkdir("Root", 0777), 0);
    std::string tree = c.tree;
    size_t start = 0;
    while (start < tree.size()) {
      const size_t end = std::min(tree.find(';', start), tree.size());
      const std::string path = "Root/" + tree.substr(start, end - start);
      ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
      if (path.find(".appiconset") != std::string::npos && c.compiled) {
        test::WriteFileText(path + "/Contents.json", kTinySet);
      }
      start = end + 1;
    }
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
    CaptureStream err(2);
    EXPECT_EQ(AssetsCatalog_CompileDirectory(catalog, "Root", false), c.compiled);
    err.Finish();
  }
}

TEST(CompileDirectory, DirectoriesThatCannotBeWalked) {
  TempDir dir;
  AssetsCatalog catalog;
  ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
  {
    CaptureStream err(2);
    EXPECT_FALSE(AssetsCatalog_CompileDirectory(catalog, "nowhere", false));
    EXPECT_EQ(err.Finish(), "Warning: failed to enter assets directory 'nowhere'. Ignoring.\n");
  }
  // A directory that leads back to itself is walked to a bounded depth.
  ASSERT_EQ(mkdir("Loop", 0777), 0);
  ASSERT_EQ(symlink("..", "Loop/again"), 0);
  const std::string before = WorkingDirectory();
  CaptureStream err(2);
  EXPECT_FALSE(AssetsCatalog_CompileDirectory(catalog, "Loop", false));
  const std::string text = err.Finish();
  EXPECT_NE(text.find("Warning: failed to enter assets directory 'again'. Ignoring.\n"),
            std::string::npos);
  EXPECT_EQ(WorkingDirectory(), before);
}

// The command as the front end runs it, from the test's directory.
struct CommandRun {
  int status = -1;
  std::string out, err;
};

CommandRun Compile(const char* input, const char* output, bool add, bool verbose = false) {
  static CommandLine cl;
  cl = CommandLine();
  cl.command = Command::Compile;
  cl.add = add;
  cl.verbose = verbose;
  cl.input = input;
  std::snprintf(cl.output, sizeof cl.output, "%s", output);
  std::snprintf(cl.initial_directory, sizeof cl.initial_directory, "%s",
                WorkingDirectory().c_str());
  CommandRun run;
  CaptureStream out(1);
  CaptureStream err(2);
  run.status = RunCompileCommand(cl);
  run.err = err.Finish();
  run.out = out.Finish();
  return run;
}

TEST(CompileCommand, CreatesExtendsAndReplaces) {
  TempDir dir;
  test::CopyExample("Single.appiconset", "Src/Single.appiconset");
  ASSERT_EQ(mkdir("Empty", 0777), 0);

  struct Step {
    const char* name;
    const char* input;
    bool add;
    size_t facets_named_single;
    uint32_t facet_count;
  };
  const Step kSteps[] = {
      {"compile-add without a catalog creates one", "Src", true, 1, 1},
      {"compile-add extends", "Src", true, 2, 2},
      {"compile-add of nothing keeps what is there", "Empty", true, 2, 2},
      {"compile replaces", "Src", false, 1, 1},
      {"an empty tree saves an empty catalog", "Empty", false, 0, 0},
  };
  for (const Step& s : kSteps) {
    SCOPED_TRACE(s.name);
    const CommandRun run = Compile(s.input, "Out.car", s.add);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    AssetsCatalog loaded;
    ASSERT_TRUE(AssetsCatalog_Load(loaded, "Out.car"));
    EXPECT_EQ(test::FacetsNamed(loaded, "Single").size(), s.facets_named_single);
    EXPECT_EQ(loaded.facet_count, s.facet_count);
    EXPECT_EQ(test::Renditions(loaded).size(), 35 * s.facets_named_single);
    FileStatusCache_ResetForTesting();
  }
  // Two facets of one name: ids 1 and 2.
  Compile("Src", "Twice.car", true);
  Compile("Src", "Twice.car", true);
  AssetsCatalog twice;
  ASSERT_TRUE(AssetsCatalog_Load(twice, "Twice.car"));
  const auto facets = test::FacetsNamed(twice, "Single");
  ASSERT_EQ(facets.size(), 2u);
  EXPECT_EQ(facets[0]->id + facets[1]->id, 3);
}

// -compile-add refuses, before anything changes, a catalog that its additions
// would damage: the file keeps every byte and the command ends with status 1.
// The same catalog in the older form takes the new set.
TEST(CompileCommand, AddRefusesCatalogsItCannotExtend) {
  TempDir dir;
  test::CopyExample("Single.appiconset", "Src/Single.appiconset");
  test::CatalogFileSpec older;
  older.facets = {{"Icons", test::FacetPairs(85, 220, 1)}};
  older.renditions = {{test::DefaultKey({{17, 1}, {12, 1}}), test::BytesOf("first")},
                      {test::DefaultKey({{17, 1}, {12, 2}}), test::BytesOf("second")}};
  struct Case {
    const char* name;
    std::function<void(test::CatalogFileSpec&)> change;  // null: the older form itself
  };
  const Case kCases[] = {
      {"older form", nullptr},
      {"29-byte tree header",
       [](test::CatalogFileSpec& s) { s.bitmap_keys_shape.header_size = 29; }},
      {"leaves with key copies",
       [](test::CatalogFileSpec& s) {
         s.facet_keys_shape = {.header_size = 29, .inline_key_length = 5};
       }},
      {"branch root over two leaves",
       [](test::CatalogFileSpec& s) { s.renditions_shape.leaves = 2; }},
      {"key format other than the default",
       [](test::CatalogFileSpec& s) { s.key_format.pop_back(); }},
      {"another labelled tree",
       [](test::CatalogFileSpec& s) {
         test::CatalogExtraTree colors;
         colors.label = "COLORS";
         s.extra_trees.push_back(colors);
       }},
      {"no EXTENDED_METADATA", [](test::CatalogFileSpec& s) { s.with_metadata = false; }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::CatalogFileSpec recipe = older;
    if (c.change) c.change(recipe);
    const test::Bytes file = test::BuildCatalogFile(recipe);
    const std::string bytes(file.begin(), file.end());
    test::WriteFileText("Out.car", bytes);
    {
      AssetsCatalog loaded;  // every fixture is a catalog that loads
      ASSERT_TRUE(AssetsCatalog_Load(loaded, "Out.car"));
    }
    const CommandRun run = Compile("Src", "Out.car", true);
    EXPECT_EQ(run.out, "");
    if (!c.change) {
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "");
      AssetsCatalog extended;
      ASSERT_TRUE(AssetsCatalog_Load(extended, "Out.car"));
      EXPECT_EQ(test::FacetsNamed(extended, "Single").size(), 1u);
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err,
                "skarvel: cannot add to Out.car: new assets go only into catalogs of the older "
                "form (single-node trees, the default key format, EXTENDED_METADATA, no other "
                "labelled trees); left unchanged\n");
      EXPECT_EQ(test::ReadFileText("Out.car"), bytes);
    }
    EXPECT_EQ(test::ListTree(dir.path()).find("Out.car."), std::string::npos);  // no leftovers
    FileStatusCache_ResetForTesting();
  }
}

TEST(CompileCommand, SavesInTheStartUpDirectoryWhateverTheWalkDid) {
  TempDir dir;
  test::CopyExample("Single.appiconset", "Src/Single.appiconset");
  const std::string before = WorkingDirectory();
  const CommandRun run = Compile("Src", "Out.car", false, true);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "Info: compiling directory 'Src'.\n"
            "Info: compiling app icon set 'Single'.\n");
  EXPECT_EQ(WorkingDirectory(), before);
  EXPECT_TRUE(test::FileExists(dir.Path("Out.car")));
  EXPECT_FALSE(test::FileExists(dir.Path("Src/Out.car")));

  const CommandRun missing = Compile("nowhere", "Missing.car", false);
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.err, "Warning: failed to enter assets directory 'nowhere'. Ignoring.\n");
  AssetsCatalog empty;
  ASSERT_TRUE(AssetsCatalog_Load(empty, "Missing.car"));
  EXPECT_EQ(empty.facet_count, 0u);
}

TEST(CompileCommand, Failures) {
  TempDir dir;
  ASSERT_EQ(mkdir("Empty", 0777), 0);
  test::WriteFileText("NotACatalog.car", "this is not a catalog");
  test::WriteFileText("AFile", "x");

  const CommandRun bad = Compile("Empty", "NotACatalog.car", true);
  EXPECT_EQ(bad.status, 1);
  const std::string parse = "skarvel: failed to parse NotACatalog.car as an assets catalog file\n";
  ASSERT_GE(bad.err.size(), parse.size());
  EXPECT_EQ(bad.err.substr(bad.err.size() - parse.size()), parse);
  EXPECT_EQ(test::ReadFileText("NotACatalog.car"), "this is not a catalog");

  // A catalog that cannot be written is an error, not a silent success.
  const CommandRun unwritable = Compile("Empty", "AFile/Out.car", false);
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err.rfind("skarvel: failed to save AFile/Out.car (errno = ", 0), 0u)
      << unwritable.err;

  static CommandLine cl;
  cl = CommandLine();
  cl.command = Command::Compile;
  cl.input = "Empty";
  std::snprintf(cl.output, sizeof cl.output, "Out.car");
  CaptureStream err(2);
  EXPECT_EQ(RunCompileCommand(cl), 1);  // no start-up directory to return to
  EXPECT_EQ(err.Finish(), "skarvel: unable to read the current working directory\n");
  EXPECT_FALSE(test::FileExists(dir.Path("Out.car")));
}

TEST(CompileCommand, SameSourcesGiveTheSameCatalog) {
  TempDir dir;
  test::CopyExample("", "Example.xcassets");
  setenv("SOURCE_DATE_EPOCH", "1234567890", 1);
  Compile("Example.xcassets", "One.car", false);
  Compile("Example.xcassets", "Two.car", false);
  unsetenv("SOURCE_DATE_EPOCH");
  const std::string one = test::ReadFileText("One.car");
  EXPECT_GT(one.size(), 100000u);
  EXPECT_TRUE(one == test::ReadFileText("Two.car"));
}

}  // namespace
}  // namespace skarvel
