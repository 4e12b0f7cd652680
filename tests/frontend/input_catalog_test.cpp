#include "frontend/input_catalog.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

// Inputs that are not catalogs: the store's own line (if any), then ours.
TEST(InputCatalogTest, RefusesWhatIsNotACatalog) {
  test::TempDir dir;
  test::WriteFileText(dir.Path("text.car"), "this is not a BOMStore file at all\n");
  test::WriteFileText(dir.Path("short.car"), "BOMStore");
  struct Case {
    const char* name;
    std::string path;
    std::string store_line;
  };
  const Case kCases[] = {
      {"text file", dir.Path("text.car"),
       "BOMStore_ReadFromFile(): " + dir.Path("text.car") + " is not a BOMStore file\n"},
      {"8-byte file", dir.Path("short.car"),
       "BOMStore_ReadFromFile(): " + dir.Path("short.car") + " is not a BOMStore file\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CommandLine cl;
    cl.input = c.path.c_str();
    AssetsCatalog catalog;
    test::CaptureStream err(2);
    EXPECT_FALSE(InputCatalog_Load(cl, catalog, stderr));
    EXPECT_EQ(err.Finish(),
              c.store_line + "skarvel: failed to parse " + c.path + " as an assets catalog file\n");
    EXPECT_EQ(catalog.store.count, 0u);
    EXPECT_EQ(catalog.facets, nullptr);
  }
}

TEST(InputCatalogTest, MissingFileEndsWithOurLine) {
  test::TempDir dir;
  CommandLine cl;
  cl.input = "missing.car";
  AssetsCatalog catalog;
  test::CaptureStream err(2);
  EXPECT_FALSE(InputCatalog_Load(cl, catalog, stderr));
  const std::string text = err.Finish();
  const std::string ours = "skarvel: failed to parse missing.car as an assets catalog file\n";
  ASSERT_GE(text.size(), ours.size());
  EXPECT_EQ(text.substr(text.size() - ours.size()), ours);
}

}  // namespace
}  // namespace skarvel
