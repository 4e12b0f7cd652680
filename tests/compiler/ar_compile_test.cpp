// AR reference images and AR resource groups: the stored records field by
// field, units and their single-precision factors, pictures brought to 640 x
// 640 gray and alpha, every warning, and the group's name list.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/mem.h"
#include "catalog/catalog_builder.h"
#include "compiler/app_icon_set.h"
#include "compiler/ar_reference_image.h"
#include "compiler/ar_resource_group.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "image/image_file.h"
#include "image/image_ops.h"
#include "tests/compiler/compile_fixtures.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::CaptureStream;
using test::RenditionView;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

std::string WorkingDirectory() {
  char buf[4096];
  return getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

// A colour picture whose alpha varies too, written to `path`.
void WriteShadedPicture(const std::string& path, int32_t width, int32_t height, uint8_t seed) {
  Image image = test::MakePicture(width, height, seed);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      image.pixels.data[int64_t{y} * image.stride + 4 * x + 3] = static_cast<uint8_t>(x * 5 + y);
    }
  }
  ASSERT_TRUE(
      Image_WriteFile(path.c_str(), "BGRA", image.pixels.bytes(), width, height, image.stride));
}

Bytes Tight(const Image& image, int32_t bytes_per_pixel) {
  Bytes out;
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.pixels.data + int64_t{y} * image.stride;
    out.insert(out.end(), row, row + int64_t{image.width} * bytes_per_pixel);
  }
  return out;
}

// What a picture file should become: read as gray and alpha, resized.
Bytes ExpectedPixels(const std::string& path) {
  Image image;
  EXPECT_TRUE(Image_ReadFile(path.c_str(), "MA", image)) << path;
  EXPECT_TRUE(Image_Resize("MA", image, 640, 640));
  return Tight(image, 2);
}

Bytes StoredPixels(const AssetsCatalog& catalog, int32_t value) {
  Image image;
  EXPECT_TRUE(CSI_DecodeImage(catalog.store.blocks[value], image));
  EXPECT_STREQ(image.pixel_format, " 8AG");
  EXPECT_EQ(image.width, 640);
  EXPECT_EQ(image.height, 640);
  return Tight(image, 2);
}

// The subblocks of a record in their order: identifier and content.
std::vector<std::pair<uint32_t, Bytes>> Subblocks(const BOMBlock& block) {
  std::vector<std::pair<uint32_t, Bytes>> out;
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) {
    const uint8_t* at = block.data + sub.offset + 8;
    out.emplace_back(sub.id, Bytes(at, at + sub.length));
  }
  EXPECT_FALSE(walk.truncated);
  return out;
}

uint32_t U32At(const Bytes& b, size_t at) { return LoadU32LEAt(std::span<const uint8_t>(b), at); }
float F32At(const Bytes& b, size_t at) { return std::bit_cast<float>(U32At(b, at)); }

// The names of a name-list subblock.
std::vector<std::string> Names(const Bytes& content) {
  std::vector<std::string> names;
  size_t at = 8;
  for (uint32_t i = 0; i < U32At(content, 0); ++i) {
    const uint32_t length = U32At(content, at);
    names.emplace_back(reinterpret_cast<const char*>(content.data()) + at + 4, length);
    at += 4 + length;
  }
  EXPECT_EQ(at, content.size());
  return names;
}

struct CompileRun {
  AssetsCatalog catalog;
  bool result = false;
  std::string out;
  std::string err;
};

enum class Kind { Image, Group };

void Compile(Kind kind, const std::string& dir, CompileRun& run, bool verbose = false) {
  ASSERT_TRUE(AssetsCatalog_CreateNew(run.catalog, "ios"));
  std::vector<char> name(dir.begin(), dir.end());
  name.push_back('\0');
  const std::string before = WorkingDirectory();
  CaptureStream out(1);
  CaptureStream err(2);
  run.result = kind == Kind::Image
                   ? AssetsCatalog_CompileARReferenceImage(run.catalog, name.data(), verbose)
                   : AssetsCatalog_CompileARResourceGroup(run.catalog, name.data(), verbose);
  run.err = err.Finish();
  run.out = out.Finish();
  EXPECT_EQ(WorkingDirectory(), before);
}

std::string ImageJson(const std::string& properties, const std::string& images) {
  return R"({"info": {"version": 1, "author": "xcode"}, "properties": )" + properties +
         R"(, "images": )" + images + "}";
}

TEST(ARReferenceImage, StoresTheRecordFieldByField) {
  TempDir dir;
  test::WriteSet("Tower.arreferenceimage",
                 ImageJson(R"({"width": 10, "unit": "centimeters"})",
                           R"([{"idiom": "iphone", "filename": "photo.png"}])"));
  WriteShadedPicture("Tower.arreferenceimage/photo.png", 96, 96, 7);
  CompileRun run;
  Compile(Kind::Image, "Tower.arreferenceimage", run, true);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "Info: compiling AR reference image 'Tower'.\n");

  const auto facets = test::FacetsNamed(run.catalog, "Tower");
  ASSERT_EQ(facets.size(), 1u);
  EXPECT_EQ(facets[0]->element, 85);
  EXPECT_EQ(facets[0]->part, 181);
  EXPECT_EQ(facets[0]->rendition_count, 1);
  const std::vector<RenditionView> all = test::Renditions(run.catalog);
  ASSERT_EQ(all.size(), 1u);
  const RenditionView& v = all[0];
  EXPECT_EQ(v.facet, facets[0]->id);
  EXPECT_EQ(v.element, 85);
  EXPECT_EQ(v.part, 181);
  EXPECT_EQ(v.scale, 1);
  EXPECT_EQ(v.idiom, 1);
  EXPECT_EQ(v.name, "photo.png");
  EXPECT_EQ(v.width, 640u);
  EXPECT_EQ(v.height, 640u);
  EXPECT_EQ(v.layout, kLayoutImage);

  const BOMBlock& block = run.catalog.store.blocks[v.value];
  const CSIHeader* h = CSI_Header(block);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Get(h->scale_factor), 100u);
  EXPECT_EQ(std::memcmp(h->pixel_format, " 8AG", 4), 0);
  EXPECT_EQ(Get(h->colorspace_id), 2u);
  EXPECT_EQ(Get(h->bitmap_count), 1u);

  const auto subs = Subblocks(block);
  std::vector<uint32_t> order;
  for (const auto& [id, content] : subs) order.push_back(id);
  EXPECT_EQ(order, (std::vector<uint32_t>{1001, 1003, 1004, 1015, 1006, 1007}));
  ASSERT_EQ(subs.size(), 6u);
  // One slice at y = 256 - 640, kept as a signed value.
  EXPECT_EQ(subs[0].second.size(), 20u);
  EXPECT_EQ(U32At(subs[0].second, 0), 1u);
  EXPECT_EQ(U32At(subs[0].second, 4), 0u);
  EXPECT_EQ(static_cast<int32_t>(U32At(subs[0].second, 8)), -384);
  EXPECT_EQ(U32At(subs[0].second, 12), 1024u);
  EXPECT_EQ(U32At(subs[0].second, 16), 1024u);
  EXPECT_EQ(subs[1].second, (Bytes{1, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0,
                                   0, 0, 0, 0, 0, 0, 0x80, 2, 0, 0, 0x80, 2, 0, 0}));
  EXPECT_EQ(U32At(subs[2].second, 0), 0u);
  EXPECT_EQ(F32At(subs[2].second, 4), 1.0f);
  // Properties: meters, 10 cm computed in single precision, height = width.
  EXPECT_EQ(U32At(subs[3].second, 0), 0u);
  EXPECT_EQ(F32At(subs[3].second, 4), 0.099999994f);
  EXPECT_EQ(F32At(subs[3].second, 8), 0.099999994f);
  EXPECT_EQ(U32At(subs[4].second, 0), 1u);
  EXPECT_EQ(U32At(subs[5].second, 0), 1280u);

  // A chunked LZFSE element with element flags 1.
  uint64_t p = 0, size = 0;
  ASSERT_TRUE(CSI_PayloadRange(block, p, size));
  EXPECT_EQ(std::memcmp(block.data + p, "MLEC", 4), 0);
  EXPECT_EQ(LoadU32LEAt(block.bytes(), p + 4), 1u);
  EXPECT_EQ(LoadU32LEAt(block.bytes(), p + 8), 4u);
  EXPECT_EQ(LoadU32LEAt(block.bytes(), p + 12), 4u);
  EXPECT_TRUE(CSI_IsChunked(block, p));
  EXPECT_EQ(StoredPixels(run.catalog, v.value), ExpectedPixels("Tower.arreferenceimage/photo.png"));
}

TEST(ARReferenceImage, WidthUnitsAndPictures) {
  struct Case {
    const char* name;
    const char* properties;
    const char* images;
    const char* picture;  // written at this size: "w x h", as a PNG or JPEG by
                          // the images' name
    int32_t width, height;
    float physical;  // stored width and height
    int32_t idiom;
    const char* warning;  // the one expected warning, or ""
  };
  const Case kCases[] = {
      {"no unit is meters", R"({"width": 2})", R"([{"filename": "a.png"}])", "a.png", 32, 32, 2.0f,
       0, ""},
      {"meters", R"({"width": "1.5", "unit": "meters"})", R"([{"filename": "a.png"}])", "a.png", 32,
       32, 1.5f, 0, ""},
      {"feet", R"({"width": 3, "unit": "feet"})", R"([{"filename": "a.png"}])", "a.png", 32, 32,
       3.0f * 0.3048f, 0, ""},
      {"inches", R"({"width": 7, "unit": "inches"})", R"([{"filename": "a.png"}])", "a.png", 32, 32,
       7.0f * 0.0254f, 0, ""},
      {"yards", R"({"width": 0.5, "unit": "yards"})", R"([{"filename": "a.png"}])", "a.png", 32, 32,
       0.5f * 0.9144f, 0, ""},
      {"a width text is read up to its number", R"({"width": "12.5cm"})",
       R"([{"filename": "a.png"}])", "a.png", 32, 32, 12.5f, 0, ""},
      {"millimeters are warned about and kept as meters", R"({"width": 35, "unit": "millimeters"})",
       R"([{"filename": "a.png"}])", "a.png", 32, 32, 35.0f, 0,
       "Warning: unknown unit (millimeters) given as unit property for AR reference image 'R'! "
       "defaulting to meters.\n"},
      {"units are exact", R"({"width": 1, "unit": "Meters"})", R"([{"filename": "a.png"}])",
       "a.png", 32, 32, 1.0f, 0,
       "Warning: unknown unit (Meters) given as unit property for AR reference image 'R'! "
       "defaulting to meters.\n"},
      {"1200 x 800 is stretched", R"({"width": 1})", R"([{"filename": "wide.png"}])", "wide.png",
       1200, 800, 1.0f, 0, "Warning: AR reference image 'R' has non-square dimensions!\n"},
      {"a JPEG", R"({"width": 1})", R"([{"filename": "photo.jpg"}])", "photo.jpg", 50, 50, 1.0f, 0,
       ""},
      {"only the first image counts", R"({"width": 1})",
       R"([{"idiom": "ipad", "filename": "a.png"}, {"idiom": "iphone", "filename": "none.png"}])",
       "a.png", 32, 32, 1.0f, 2, ""},
      {"an unknown idiom is universal", R"({"width": 1})",
       R"([{"idiom": "car", "filename": "a.png"}])", "a.png", 32, 32, 1.0f, 0,
       "Warning: AR reference image R has unexpected idiom value in Contents.json file (car)! "
       "defaulting to 'universal'.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    test::WriteSet("R.arreferenceimage", ImageJson(c.properties, c.images));
    const std::string picture = std::string("R.arreferenceimage/") + c.picture;
    WriteShadedPicture(picture, c.width, c.height, 11);
    CompileRun run;
    Compile(Kind::Image, "R.arreferenceimage", run);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.err, c.warning);
    const std::vector<RenditionView> all = test::Renditions(run.catalog);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, c.picture);
    EXPECT_EQ(all[0].idiom, c.idiom);
    const auto subs = Subblocks(run.catalog.store.blocks[all[0].value]);
    ASSERT_EQ(subs.size(), 6u);
    ASSERT_EQ(subs[3].first, 1015u);
    EXPECT_EQ(U32At(subs[3].second, 0), 0u);
    EXPECT_EQ(F32At(subs[3].second, 4), c.physical);
    EXPECT_EQ(F32At(subs[3].second, 8), c.physical);
    EXPECT_EQ(StoredPixels(run.catalog, all[0].value), ExpectedPixels(picture));
  }
}

TEST(ARReferenceImage, ProblemsEndTheImageAndLeaveNothing) {
  const char* kPng = R"([{"filename": "a.png"}])";
  struct Case {
    const char* name;
    const char* contents;  // null: no Contents.json
    const char* directory;
    const char* warning;
  };
  const std::string width = R"({"width": 1})";
  const std::string with_picture = ImageJson(width, kPng);
  const std::string no_properties = R"({"images": [{"filename": "a.png"}]})";
  const std::string properties_text = ImageJson(R"("1 meter")", kPng);
  const std::string no_width = ImageJson(R"({"unit": "meters"})", kPng);
  const std::string width_object = ImageJson(R"({"width": {"value": 1}})", kPng);
  const std::string no_images = R"({"properties": {"width": 1}})";
  const std::string empty_images = ImageJson(width, "[]");
  const std::string images_object = ImageJson(width, R"({"filename": "a.png"})");
  const std::string no_filename = ImageJson(width, R"([{"idiom": "universal"}])");
  const std::string missing_file = ImageJson(width, R"([{"filename": "gone.png"}])");
  const std::string gif = ImageJson(width, R"([{"filename": "a.gif"}])");
  const std::string broken_png = ImageJson(width, R"([{"filename": "broken.png"}])");
  const Case kCases[] = {
      {"directory missing", nullptr, "Gone.arreferenceimage",
       "Warning: failed to enter AR reference image directory 'Gone.arreferenceimage'. "
       "Ignoring.\n"},
      {"no Contents.json", nullptr, "R.arreferenceimage",
       "Warning: AR reference image 'R' has no Contents.json file! ignoring.\n"},
      {"bad syntax", "{\"properties\": ", "R.arreferenceimage",
       "Warning: AR reference image 'R' has bogus syntax in Contents.json file! ignoring.\n"},
      {"no properties", no_properties.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no properties "
       "object)! ignoring.\n"},
      {"properties not an object", properties_text.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no properties "
       "object)! ignoring.\n"},
      {"no width", no_width.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no width "
       "property)! ignoring.\n"},
      {"width without text", width_object.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no width "
       "property)! ignoring.\n"},
      {"no images", no_images.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no image "
       "object)! ignoring.\n"},
      {"no item 0", empty_images.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no image "
       "object)! ignoring.\n"},
      {"images not an array", images_object.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no image "
       "object)! ignoring.\n"},
      {"no filename", no_filename.c_str(), "R.arreferenceimage",
       "Warning: AR reference image 'R' has unexpected syntax in Contents.json file (no image "
       "filename)! ignoring.\n"},
      {"picture missing", missing_file.c_str(), "R.arreferenceimage",
       "Warning: unable to read image file gone.png for AR reference image 'R'! ignoring.\n"},
      {"picture type unknown", gif.c_str(), "R.arreferenceimage",
       "Warning: unsupported image format in a.gif for AR reference image 'R' (currently "
       "supported: PNG, JPEG, and 24/32-bit uncompressed BMP only)! ignoring.\n"},
      {"picture broken", broken_png.c_str(), "R.arreferenceimage",
       "Warning: internal image library error reading broken.png for AR reference image 'R'! "
       "ignoring.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_EQ(mkdir("R.arreferenceimage", 0777), 0);
    if (c.contents != nullptr) test::WriteSet("R.arreferenceimage", c.contents);
    WriteShadedPicture("R.arreferenceimage/a.png", 16, 16, 1);
    test::WriteFileText("R.arreferenceimage/a.gif", "GIF89a");
    test::WriteFileText("R.arreferenceimage/broken.png", "\x89PNG\r\n\x1a\nnot a picture");
    CompileRun run;
    Compile(Kind::Image, c.directory, run);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.err, c.warning);
    EXPECT_EQ(run.catalog.facet_count, 0u);
    EXPECT_EQ(Get(run.catalog.header->rendition_count), 0u);
  }
}

// A group source: `images` are reference image directories (each with a
// valid description and picture), `contents` the group's description.
void WriteGroup(const std::string& group, const std::vector<std::string>& images,
                const std::string& contents) {
  test::WriteSet(group, contents);
  uint8_t seed = 20;
  for (const std::string& image : images) {
    const std::string dir = group + "/" + image;
    test::WriteSet(dir, ImageJson(R"({"width": 0.25})", R"([{"filename": "p.png"}])"));
    WriteShadedPicture(dir + "/p.png", 24, 24, seed++);
  }
}

std::string Resources(const std::vector<std::string>& items) {
  std::string json = R"({"info": {"version": 1, "author": "xcode"}, "resources": [)";
  for (size_t i = 0; i < items.size(); ++i) json += (i > 0 ? ", " : "") + items[i];
  return json + "]}";
}

std::string Item(const std::string& filename) { return R"({"filename": ")" + filename + "\"}"; }

TEST(ARResourceGroup, ImagesFirstThenTheGroupWithItsNameList) {
  TempDir dir;
  WriteGroup("Places.arresourcegroup", {"Tower.arreferenceimage", "Bridge.arreferenceimage"},
             Resources({Item("Tower.arreferenceimage"), Item("Bridge.arreferenceimage")}));
  CompileRun run;
  Compile(Kind::Group, "Places.arresourcegroup", run, true);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Info: compiling AR resource group 'Places'.\nInfo: compiling AR reference image "
            "'Tower'.\nInfo: compiling AR reference image 'Bridge'.\n");

  // Facet ids follow the order of compiling: the images, then the group.
  const std::pair<const char*, int32_t> kFacets[] = {{"Tower", 1}, {"Bridge", 2}, {"Places", 3}};
  for (const auto& [name, id] : kFacets) {
    SCOPED_TRACE(name);
    const auto facets = test::FacetsNamed(run.catalog, name);
    ASSERT_EQ(facets.size(), 1u);
    EXPECT_EQ(facets[0]->id, id);
    EXPECT_EQ(facets[0]->element, 85);
    EXPECT_EQ(facets[0]->part, id == 3 ? 206 : 181);
    EXPECT_EQ(facets[0]->rendition_count, 1);
  }
  const std::vector<RenditionView> all = test::Renditions(run.catalog);
  ASSERT_EQ(all.size(), 3u);
  const RenditionView* group = nullptr;
  for (const RenditionView& v : all) {
    if (v.facet == 3) group = &v;
  }
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->part, 206);
  EXPECT_EQ(group->scale, 1);
  EXPECT_EQ(group->idiom, 0);
  EXPECT_EQ(group->name, "CoreStructuredImage");
  EXPECT_EQ(group->width, 0u);
  EXPECT_EQ(group->height, 0u);
  EXPECT_EQ(group->layout, kLayoutNameList);
  const BOMBlock& block = run.catalog.store.blocks[group->value];
  const CSIHeader* h = CSI_Header(block);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Get(h->scale_factor), 100u);
  EXPECT_EQ(std::memcmp(h->pixel_format, "\0\0\0\0", 4), 0);
  EXPECT_EQ(Get(h->colorspace_id), 1u);
  EXPECT_EQ(Get(h->payload_size), 0u);
  const auto subs = Subblocks(block);
  ASSERT_EQ(subs.size(), 3u);
  EXPECT_EQ(subs[0].first, 1004u);
  EXPECT_EQ(U32At(subs[0].second, 0), 0u);
  EXPECT_EQ(F32At(subs[0].second, 4), 0.0f);
  EXPECT_EQ(subs[1].first, 1006u);
  EXPECT_EQ(U32At(subs[1].second, 0), 1u);
  EXPECT_EQ(subs[2].first, 1013u);
  EXPECT_EQ(Names(subs[2].second), (std::vector<std::string>{"Tower", "Bridge"}));
  EXPECT_EQ(block.size, 184u + 16 + 12 + 8 + 8 + (4 + 5) + (4 + 6));

  // Saved and loaded back: the same facets.
  ASSERT_TRUE(AssetsCatalog_Save(run.catalog, "AR.car"));
  AssetsCatalog loaded;
  ASSERT_TRUE(AssetsCatalog_Load(loaded, "AR.car"));
  EXPECT_EQ(loaded.facet_count, 3u);
  EXPECT_EQ(test::Renditions(loaded).size(), 3u);
}

TEST(ARResourceGroup, NameListsAndWarnings) {
  struct Case {
    const char* name;
    std::vector<std::string> directories;  // reference images present in the group
    std::string contents;                  // the group's description ("" : none)
    bool result;
    std::vector<std::string> names;  // the stored name list; {"-"} when no group is stored
    const char* warnings;
  };
  const std::vector<std::string> no_group = {"-"};
  const Case kCases[] = {
      {"a listed directory missing",
       {"A.arreferenceimage", "C.arreferenceimage"},
       Resources(
           {Item("A.arreferenceimage"), Item("B.arreferenceimage"), Item("C.arreferenceimage")}),
       true,
       {"A", "C"},
       "Warning: failed to enter AR reference image directory 'B.arreferenceimage'. Ignoring.\n"},
      {"an item without filename",
       {"A.arreferenceimage"},
       Resources({R"({"name": "x"})", Item("A.arreferenceimage"), R"("B.arreferenceimage")"}),
       true,
       {"A"},
       "Warning: AR resource group 'G' has unexpected syntax in Contents.json file (unable to get "
       "item #0's filename in resources array)! ignoring.\nWarning: AR resource group 'G' has "
       "unexpected syntax in Contents.json file (unable to get item #2's filename in resources "
       "array)! ignoring.\n"},
      {"every image failing",
       {},
       Resources({Item("A.arreferenceimage"), Item("B.arreferenceimage")}),
       false,
       {},
       "Warning: failed to enter AR reference image directory 'A.arreferenceimage'. "
       "Ignoring.\nWarning: failed to enter AR reference image directory 'B.arreferenceimage'. "
       "Ignoring.\n"},
      {"names that leave the group",
       {"A.arreferenceimage", "../X.arreferenceimage"},
       Resources({Item("../X.arreferenceimage"), Item(".."), Item("A.arreferenceimage"),
                  Item("/tmp/Y.arreferenceimage")}),
       true,
       {"A"},
       "Warning: AR resource group 'G' lists '../X.arreferenceimage', which is not a directory "
       "of the group! ignoring.\nWarning: AR resource group 'G' lists '..', which is not a "
       "directory of the group! ignoring.\nWarning: AR resource group 'G' lists "
       "'/tmp/Y.arreferenceimage', which is not a directory of the group! ignoring.\n"},
      {"no resources", {}, Resources({}), false, {}, ""},
      {"a name without extension", {"Plain"}, Resources({Item("Plain")}), true, {"Plain"}, ""},
      {"a name with two dots",
       {"My.Tower.arreferenceimage"},
       Resources({Item("My.Tower.arreferenceimage")}),
       true,
       {"My"},
       ""},
      {"a name listed twice",
       {"A.arreferenceimage"},
       Resources({Item("A.arreferenceimage"), Item("A.arreferenceimage")}),
       true,
       {"A", "A"},
       ""},
      {"no Contents.json",
       {},
       "",
       false,
       no_group,
       "Warning: AR resource group 'G' has no Contents.json file! ignoring.\n"},
      {"bad syntax",
       {},
       "{\"resources\": [",
       false,
       no_group,
       "Warning: AR resource group 'G' has bogus syntax in Contents.json file! ignoring.\n"},
      {"resources not an array",
       {},
       R"({"resources": {"filename": "A.arreferenceimage"}})",
       false,
       no_group,
       "Warning: AR resource group 'G' has unexpected syntax in Contents.json file (no resources "
       "array)! ignoring.\n"},
      {"resources spelt otherwise",
       {},
       R"({"Resources": []})",
       false,
       no_group,
       "Warning: AR resource group 'G' has unexpected syntax in Contents.json file (no resources "
       "array)! ignoring.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_EQ(mkdir("G.arresourcegroup", 0777), 0);
    WriteGroup("G.arresourcegroup", c.directories, c.contents);
    if (c.contents.empty()) {
      ASSERT_EQ(unlink("G.arresourcegroup/Contents.json"), 0);
    }
    CompileRun run;
    Compile(Kind::Group, "G.arresourcegroup", run);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.err, c.warnings);
    const auto groups = test::FacetsNamed(run.catalog, "G");
    if (c.names == no_group) {
      EXPECT_EQ(run.catalog.facet_count, 0u);
      continue;
    }
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->part, 206);
    ASSERT_EQ(groups[0]->rendition_count, 1);
    const BOMBlock& block = run.catalog.store.blocks[groups[0]->renditions[0].value_block];
    const auto subs = Subblocks(block);
    ASSERT_EQ(subs.size(), 3u);
    ASSERT_EQ(subs[2].first, 1013u);
    EXPECT_EQ(Names(subs[2].second), c.names);
    // One image facet per name stored, before the group.
    EXPECT_EQ(run.catalog.facet_count, c.names.size() + 1);
    EXPECT_EQ(groups[0]->id, static_cast<int32_t>(c.names.size() + 1));
  }
}

TEST(ARResourceGroup, AllocationFailuresAreReportedAndLeaveNoLeaks) {
  TempDir dir;
  WriteGroup("G.arresourcegroup", {"A.arreferenceimage", "B.arreferenceimage"},
             Resources({Item("A.arreferenceimage"), Item("B.arreferenceimage")}));
  for (long n = 0;; ++n) {
    SCOPED_TRACE(n);
    CompileRun run;
    ASSERT_TRUE(AssetsCatalog_CreateNew(run.catalog, "ios"));
    char name[] = "G.arresourcegroup";
    const std::string before = WorkingDirectory();
    CaptureStream err(2);
    Mem_FailAfter(n);
    run.result = AssetsCatalog_CompileARResourceGroup(run.catalog, name, false);
    const bool failed = Mem_FailedCount() > 0;
    Mem_FailAfter(-1);
    run.err = err.Finish();
    EXPECT_EQ(WorkingDirectory(), before);
    if (!failed) {
      EXPECT_TRUE(run.result);
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.catalog.facet_count, 3u);
      break;
    }
    // Every failure is named in a warning.
    EXPECT_NE(run.err.find("Warning: "), std::string::npos);
    ASSERT_LT(n, 10000);
  }
}

// Each asset kind names itself when its facet cannot be added: here the
// catalog's key format is not the default one.
TEST(AssetDirectory, FacetThatCannotBeAddedIsNamedByKind) {
  TempDir dir;
  test::WriteSet("S.appiconset",
                 R"({"images": [{"size": "16x16", "scale": "1x", "filename": "EMPTY_IMAGE"}]})");
  test::WriteSet("G.arresourcegroup", R"({"resources": []})");
  test::WriteSet("R.arreferenceimage", ImageJson(R"({"width": 1})", R"([{"filename": "a.png"}])"));
  WriteShadedPicture("R.arreferenceimage/a.png", 16, 16, 1);
  const std::string code = std::to_string(ENOTSUP);
  const struct {
    std::string directory;
    bool (*compile)(AssetsCatalog&, char*, bool);
    std::string warning;
  } kCases[] = {
      {"S.appiconset", AssetsCatalog_CompileAppIconSet,
       "Warning: unable to add app icon set facet 'S'! [errno = " + code + "] ignoring.\n"},
      {"G.arresourcegroup", AssetsCatalog_CompileARResourceGroup,
       "Warning: unable to add AR resource group facet 'G'! [errno = " + code + "] ignoring.\n"},
      {"R.arreferenceimage", AssetsCatalog_CompileARReferenceImage,
       "Warning: unable to add AR reference image facet 'R'! [errno = " + code + "] ignoring.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.directory);
    AssetsCatalog catalog;
    ASSERT_TRUE(AssetsCatalog_CreateNew(catalog, "ios"));
    catalog.key_format_attributes[0] = 13;  // the first attribute is no longer 12
    std::vector<char> name(c.directory.begin(), c.directory.end());
    name.push_back('\0');
    CaptureStream err(2);
    EXPECT_FALSE(c.compile(catalog, name.data(), false));
    EXPECT_EQ(err.Finish(), c.warning);
    EXPECT_EQ(catalog.facet_count, 0u);
  }
}

}  // namespace
}  // namespace skarvel
