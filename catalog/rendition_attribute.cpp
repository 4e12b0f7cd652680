#include "catalog/rendition_attribute.h"

#include <span>

namespace skarvel {

namespace {

struct ValueName {
  int32_t value;
  const char* name;
};

constexpr ValueName kPartNames[] = {{181, "arreferenceimage OR packed asset"},
                                    {206, "arresourcegroup"},
                                    {218, "scaling information"},
                                    {220, "appiconset"}};
constexpr ValueName kSizeNames[] = {{0, "regular"}, {1, "small"}, {2, "mini"}, {3, "large"}};
constexpr ValueName kDirectionNames[] = {{0, "horizontal"},    {1, "vertical"},
                                         {2, "pointing up"},   {3, "pointing down"},
                                         {4, "pointing left"}, {5, "pointing right"}};
constexpr ValueName kValueNames[] = {{0, "off"}, {1, "on"}, {2, "mixed"}};
constexpr ValueName kStateNames[] = {{0, "normal"},   {1, "rollover"},
                                     {2, "pressed"},  {3, "obsolete inactive"},
                                     {4, "disabled"}, {5, "deeply pressed"}};
constexpr ValueName kLayerNames[] = {{0, "base"},    {1, "highlight"}, {2, "mask"},
                                     {3, "pulse"},   {4, "hit mask"},  {5, "pattern overlay"},
                                     {6, "outline"}, {7, "interior"}};
constexpr ValueName kScaleNames[] = {{0, ""}, {1, "1x"}, {2, "2x"}, {3, "3x"}};
constexpr ValueName kPresentationStateNames[] = {
    {0, "active"}, {1, "inactive"}, {2, "active main"}};
constexpr ValueName kIdiomNames[] = {{0, "universal"},    {1, "iphone"}, {2, "ipad"},
                                     {3, "tv"},           {4, "car"},    {5, "watch"},
                                     {6, "ios-marketing"}};
constexpr ValueName kSizeClassNames[] = {{0, "unspecified"}, {1, "compact"}, {2, "regular"}};
constexpr ValueName kMemoryClassNames[] = {
    {0, "unspecified"}, {1, "1gb"}, {2, "2gb"}, {3, "3gb"}, {4, "4gb"}};
constexpr ValueName kDisplayGamutNames[] = {{0, "srgb"}, {1, "srgb"}, {2, "display-p3"}};

struct AttributeName {
  uint32_t attribute;
  const char* name;
  std::span<const ValueName> values;  // empty: no value names
  const char* any_value;              // the name of every value, or null
};

constexpr AttributeName kAttributeNames[] = {
    {1, "element", {}, nullptr},
    {2, "part", kPartNames, nullptr},
    {3, "size", kSizeNames, nullptr},
    {4, "direction", kDirectionNames, nullptr},
    {6, "value", kValueNames, nullptr},
    {8, "dimension 1", {}, "pack index"},
    {9, "dimension 2", {}, "icon index"},
    {10, "state", kStateNames, nullptr},
    {11, "layer", kLayerNames, nullptr},
    {12, "scale", kScaleNames, nullptr},
    {14, "presentation state", kPresentationStateNames, nullptr},
    {15, "idiom", kIdiomNames, nullptr},
    {16, "subtype", {}, nullptr},
    {17, "facet id", {}, "arbitrary unique ID"},
    {18, "previous value", kValueNames, nullptr},
    {19, "previous state", kStateNames, nullptr},
    {20, "width class", kSizeClassNames, nullptr},
    {21, "height class", kSizeClassNames, nullptr},
    {22, "memory class", kMemoryClassNames, nullptr},
    {23, "graphics class", {}, nullptr},
    {24, "display gamut", kDisplayGamutNames, nullptr},
    {25, "deployment target", {}, nullptr},
};

constexpr const char kUnnamed[] = "???";

}  // namespace

void RenditionAttribute_GetNames(uint32_t attribute, int32_t value, const char** attribute_name,
                                 const char** value_name) {
  const AttributeName* found = nullptr;
  for (const AttributeName& a : kAttributeNames) {
    if (a.attribute == attribute) found = &a;
  }
  if (attribute_name != nullptr) *attribute_name = found ? found->name : kUnnamed;
  if (value_name == nullptr) return;
  *value_name = kUnnamed;
  if (found == nullptr) return;
  if (found->any_value != nullptr) {
    *value_name = found->any_value;
    return;
  }
  for (const ValueName& v : found->values) {
    if (v.value == value) *value_name = v.name;
  }
}

void RenditionAttribute_GetListingNames(uint32_t attribute, int32_t value,
                                        const char** attribute_name, const char** value_name) {
  RenditionAttribute_GetNames(attribute, value, attribute_name, value_name);
  static constexpr struct {
    uint32_t attribute;
    const char* name;
  } kNewerNames[] = {{5, "placeholder"},
                     {7, "appearance"},
                     {13, "localization"},
                     {26, "glyph weight"},
                     {27, "glyph size"}};
  if (attribute_name == nullptr) return;
  for (const auto& n : kNewerNames) {
    if (n.attribute == attribute) *attribute_name = n.name;
  }
}

}  // namespace skarvel
