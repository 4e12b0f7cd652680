#include "inspect/listing_names.h"

#include <cstring>

#include "catalog/rendition_attribute.h"

namespace skarvel {

void ListingAttributeNames(const AssetsCatalog& catalog, uint32_t attribute, int32_t value,
                           const char** attribute_name, const char** value_name) {
  RenditionAttribute_GetListingNames(attribute, value, attribute_name, value_name);
  if (value_name != nullptr && attribute == kAttrAppearance) {
    if (const char* name = AssetsCatalog_AppearanceName(catalog, value)) *value_name = name;
  }
}

void PrintAttributePair(FILE* out, const char* indent, uint32_t index,
                        const AssetsCatalog& catalog, uint32_t attribute, int32_t value) {
  const char* attribute_name = "???";
  const char* value_name = "???";
  ListingAttributeNames(catalog, attribute, value, &attribute_name, &value_name);
  std::fprintf(out, "%s+ [%d]: %d (%s) = %d (%s)\n", indent, static_cast<int>(index),
               static_cast<int32_t>(attribute), attribute_name, value, value_name);
}

namespace {

struct NamedValue {
  uint32_t value;
  const char* name;
};

constexpr NamedValue kBlendModes[] = {
    {0, "normal"},
    {1, "multiply"},
    {2, "screen"},
    {3, "overlay"},
    {4, "darken"},
    {5, "lighten"},
    {6, "color-dodge"},
    {7, "color-burn"},
    {8, "soft-light"},
    {9, "hard-light"},
    {10, "difference"},
    {11, "exclusion"},
    {12, "hue"},
    {13, "saturation"},
    {14, "color"},
    {15, "luminosity"},
    {16, "clear"},
    {17, "copy"},
    {18, "source-in"},
    {19, "source-out"},
    {20, "source-atop"},
    {21, "destination-over"},
    {22, "destination-in"},
    {23, "destination-out"},
    {24, "destination-atop"},
    {25, "xor"},
    {26, "plus-darker"},
    {27, "plus-lighter"},
};

constexpr NamedValue kOrientations[] = {
    {1, "native"},
    {2, "horizontal flip"},
    {3, "180 degrees"},
    {4, "vertical flip"},
    {5, "horizontal flip + rotate left"},
    {6, "rotate left"},
    {7, "horizontal flip + rotate right"},
    {8, "rotate right"},
};

constexpr NamedValue kUnits[] = {
    {0, "meters"}, {1, "centimeters"}, {2, "feet"}, {3, "inches"}, {4, "yards"},
};

constexpr NamedValue kCompressionMethods[] = {
    {0, "uncompressed"},
    {1, "RLE with row offsets table"},
    {2, "GZip"},
    {3, "LZVN"},
    {4, "LZFSE"},
    {5, "blurred image [???]"},
    // Methods of newer catalogs.
    {6, "blurred image"},
    {7, "ASTC texture"},
    {8, "palette image"},
    {9, "HEVC"},
    {10, "deepmap"},
    {11, "deepmap2"},
    {12, "DXTC texture"},
};

constexpr NamedValue kNewerLayouts[] = {
    {0, "one-part image"},
    {1, "three-part horizontal"},
    {2, "three-part vertical"},
    {3, "nine-part"},
    {4, "twelve-part"},
    {5, "many-part"},
    {6, "gradient"},
    {7, "effect"},
    {8, "animation"},
    {9, "vector"},
    {10, "one-part fixed size"},
    {11, "one-part tiled"},
    {20, "three-part horizontal tiled"},
    {21, "three-part horizontal scaled"},
    {22, "three-part horizontal uniform"},
    {23, "three-part vertical tiled"},
    {24, "three-part vertical scaled"},
    {25, "three-part vertical uniform"},
    {30, "nine-part tiled"},
    {31, "nine-part scaled"},
    {32, "nine-part horizontal uniform vertical scaled"},
    {33, "nine-part horizontal scaled vertical uniform"},
    {34, "nine-part edges only"},
    {40, "six-part"},
    {50, "animation filmstrip"},
    {1000, "raw data"},
    {1001, "external link"},
    {1002, "layer stack"},
    {1006, "thinning placeholder"},
    {1007, "texture"},
    {1008, "texture image"},
    {1009, "color"},
    {1011, "model asset"},
    {1012, "model mesh"},
    {1013, "recognition group"},
    {1014, "recognition object"},
    {1015, "text style"},
    {1016, "model sub-mesh"},
    {1017, "vector glyph"},
    {1018, "solid image stack"},
    {1019, "icon image stack"},
    {1020, "icon group"},
    {1021, "named gradient"},
};

constexpr NamedValue kSubblocks[] = {
    {1001, "slices"},
    {1002, "sample colors"},
    {1003, "metrics"},
    {1004, "composition"},
    {1005, "UTI"},
    {1006, "orientation"},
    {1007, "bytes per line"},
    {1008, "external link"},
    {1009, "layer reference"},
    {1010, "reference"},
    {1011, "alpha cropping"},
    {1012, "layer references"},
    {1013, "name list"},
    {1014, "texture interpretation"},
    {1015, "properties"},
    {1016, "rendition properties"},
    {1017, "transformation"},
    {1020, "layer fills"},
    {1021, "layer effects"},
};

constexpr NamedValue kColorRecordSpaces[] = {
    {0, "unspecified"},   {1, "sRGB"},          {2, "gray gamma 2.2"},
    {3, "Display P3"},    {4, "extended sRGB"}, {5, "extended linear sRGB"},
    {6, "extended gray"},
};

constexpr NamedValue kColorspaces[] = {
    {0, "unspecified"},
    {1, "standard RGB"},
    {2, "expanded DisplayP3"},
};

// Raw formats appear in both byte orders in real catalogs: the stored,
// reversed form ("GEPJ") and the reading order ("JPEG").
constexpr struct {
  char code[5];
  const char* description;
} kPixelFormats[] = {
    {"BGRA", "32-bit BGRA"},
    {" 8AG", "grayscale + 8-bit alpha"},
    {"JPEG", "raw JPEG data"},
    {"GEPJ", "raw JPEG data"},
    {"WebP", "raw WebP data"},
    {"PbeW", "raw WebP data"},
    {"DATA", "raw data"},
    {"ATAD", "raw data"},
    {" FDP", "raw PDF data"},
    {{0, 0, 0, 0, 0}, "SISM data"},
    // Formats of newer catalogs.
    {"WBGR", "64-bit RGBA half float"},
    {"FIEH", "raw HEIF data"},
    {" GVS", "raw SVG data"},
};

// Effect components: stored tags (reversed words).
constexpr struct {
  char tag[5];
  const char* name;
} kEffectComponents[] = {
    {"rloC", "color fill"},     {"cpOS", "shape opacity"}, {"edaF", "fade"},
    {"porD", "drop shadow"},    {"darG", "gradient"},      {"hSni", "inner shadow"},
    {"SeuH", "hue/saturation"}, {"wlGo", "outer glow"},    {"wlGi", "inner glow"},
    {"sbmE", "emboss"},
};

template <size_t N>
const char* Lookup(const NamedValue (&table)[N], uint32_t value, const char* unknown) {
  for (const NamedValue& entry : table) {
    if (entry.value == value) return entry.name;
  }
  return unknown;
}

}  // namespace

const char* ColorspaceName(uint32_t colorspace) {
  return Lookup(kColorspaces, colorspace, "??? UNKNOWN");
}
const char* BlendModeName(uint32_t mode) { return Lookup(kBlendModes, mode, "???"); }
const char* OrientationName(uint32_t orientation) {
  return Lookup(kOrientations, orientation, "???");
}
const char* UnitName(uint32_t unit) { return Lookup(kUnits, unit, "???"); }
const char* CompressionMethodName(uint32_t method) {
  return Lookup(kCompressionMethods, method, "???");
}

const char* PixelFormatDescription(const uint8_t code[4]) {
  for (const auto& entry : kPixelFormats) {
    if (std::memcmp(entry.code, code, 4) == 0) return entry.description;
  }
  return "???";
}

const char* NewerLayoutName(uint32_t layout) { return Lookup(kNewerLayouts, layout, nullptr); }
const char* SubblockName(uint32_t id) { return Lookup(kSubblocks, id, nullptr); }
const char* ColorRecordSpaceName(uint32_t space) {
  return Lookup(kColorRecordSpaces, space, "???");
}

const char* EffectComponentName(const uint8_t tag[4]) {
  for (const auto& entry : kEffectComponents) {
    if (std::memcmp(entry.tag, tag, 4) == 0) return entry.name;
  }
  return "???";
}

}  // namespace skarvel
