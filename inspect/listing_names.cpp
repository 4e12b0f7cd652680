#include "inspect/listing_names.h"

#include <cstring>

namespace skarvel {

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
    {0, "uncompressed"}, {1, "RLE with row offsets table"}, {2, "GZip"}, {3, "LZVN"},
    {4, "LZFSE"},        {5, "blurred image [???]"},
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
    {"BGRA", "32-bit BGRA"},   {" 8AG", "grayscale + 8-bit alpha"},
    {"JPEG", "raw JPEG data"}, {"GEPJ", "raw JPEG data"},
    {"WebP", "raw WebP data"}, {"PbeW", "raw WebP data"},
    {"DATA", "raw data"},      {"ATAD", "raw data"},
    {" FDP", "raw PDF data"},  {{0, 0, 0, 0, 0}, "SISM data"},
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

}  // namespace skarvel
