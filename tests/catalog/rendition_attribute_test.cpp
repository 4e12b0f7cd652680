#include "catalog/rendition_attribute.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/catalog_file_builder.h"

namespace skarvel {
namespace {

TEST(RenditionAttribute, Names) {
  struct Case {
    uint32_t attribute;
    int32_t value;
    const char* attribute_name;
    const char* value_name;
  };
  const Case kCases[] = {
      {15, 6, "idiom", "ios-marketing"},
      {15, 7, "idiom", "???"},
      {15, -1, "idiom", "???"},
      {12, 0, "scale", ""},
      {12, 3, "scale", "3x"},
      {2, 220, "part", "appiconset"},
      {2, 221, "part", "???"},
      {2, 181, "part", "arreferenceimage OR packed asset"},
      {5, 0, "???", "???"},
      {0, 0, "???", "???"},
      {26, 1, "???", "???"},
      {17, 12345, "facet id", "arbitrary unique ID"},
      {17, -1, "facet id", "arbitrary unique ID"},
      {8, 3, "dimension 1", "pack index"},
      {9, -1, "dimension 2", "icon index"},
      {1, 0, "element", "???"},
      {16, 0, "subtype", "???"},
      {24, 0, "display gamut", "srgb"},
      {24, 1, "display gamut", "srgb"},
      {24, 2, "display gamut", "display-p3"},
      {22, 4, "memory class", "4gb"},
      {21, 2, "height class", "regular"},
      {19, 5, "previous state", "deeply pressed"},
      {18, 2, "previous value", "mixed"},
      {11, 7, "layer", "interior"},
      {14, 2, "presentation state", "active main"},
      {10, 3, "state", "obsolete inactive"},
      {6, 1, "value", "on"},
      {4, 5, "direction", "pointing right"},
      {3, 3, "size", "large"},
      {23, 0, "graphics class", "???"},
      {25, 0, "deployment target", "???"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.attribute) + "=" + std::to_string(c.value));
    const char* attribute_name = nullptr;
    const char* value_name = nullptr;
    RenditionAttribute_GetNames(c.attribute, c.value, &attribute_name, &value_name);
    ASSERT_NE(attribute_name, nullptr);
    ASSERT_NE(value_name, nullptr);
    EXPECT_STREQ(attribute_name, c.attribute_name);
    EXPECT_STREQ(value_name, c.value_name);
  }
}

TEST(RenditionAttribute, EitherOutputIsOptional) {
  const char* value_name = nullptr;
  RenditionAttribute_GetNames(15, 1, nullptr, &value_name);
  EXPECT_STREQ(value_name, "iphone");
  const char* attribute_name = nullptr;
  RenditionAttribute_GetNames(15, 1, &attribute_name, nullptr);
  EXPECT_STREQ(attribute_name, "idiom");
  RenditionAttribute_GetNames(15, 1, nullptr, nullptr);
}

TEST(RenditionAttribute, DefaultKeyFormatMatchesTheTestBuilders) {
  // The builders keep their own copy of the format; keys built by either side
  // must agree position by position.
  for (size_t i = 0; i < kDefaultKeyFormat.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kDefaultKeyFormat[i].attribute, test::kDefaultKeyAttributes[i]);
    EXPECT_EQ(kDefaultKeyFormat[i].default_mask, test::kDefaultKeyMasks[i]);
  }
}

}  // namespace
}  // namespace skarvel
