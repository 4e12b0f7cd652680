#pragma once
// The rendition attribute vocabulary: identifiers, their names and the names
// of their values, and the 17-attribute key format of new catalogs.

#include <array>
#include <cstdint>

namespace skarvel {

enum class RenditionAttribute : uint16_t {
  Element = 1,
  Part = 2,
  Size = 3,
  Direction = 4,
  Value = 6,
  Dimension1 = 8,
  Dimension2 = 9,
  State = 10,
  Layer = 11,
  Scale = 12,
  PresentationState = 14,
  Idiom = 15,
  Subtype = 16,
  FacetId = 17,
  PreviousValue = 18,
  PreviousState = 19,
  WidthClass = 20,
  HeightClass = 21,
  MemoryClass = 22,
  GraphicsClass = 23,
  DisplayGamut = 24,
  DeploymentTarget = 25,
};

// Attribute identifiers as plain numbers, for the places that index arrays.
inline constexpr uint32_t kAttrElement = 1;
inline constexpr uint32_t kAttrPart = 2;
inline constexpr uint32_t kAttrPlaceholder = 5;  // stands for a KEYFORMATWORKAROUND substitute
inline constexpr uint32_t kAttrAppearance = 7;   // values named by APPEARANCEKEYS
inline constexpr uint32_t kAttrDirection = 4;
inline constexpr uint32_t kAttrValue = 6;
inline constexpr uint32_t kAttrDimension1 = 8;
inline constexpr uint32_t kAttrDimension2 = 9;
inline constexpr uint32_t kAttrState = 10;
inline constexpr uint32_t kAttrScale = 12;
inline constexpr uint32_t kAttrIdiom = 15;
inline constexpr uint32_t kAttrSubtype = 16;
inline constexpr uint32_t kAttrFacetId = 17;
inline constexpr uint32_t kAttrDisplayGamut = 24;
inline constexpr uint32_t kAttrCount = 26;  // attribute arrays are indexed 0 to 25

struct KeyFormatSlot {
  uint32_t attribute;
  uint32_t default_mask;  // bitmap-key mask of a new facet: bit v = value v present
};

// The key format of new catalogs, in key order (a key is 34 bytes).
inline constexpr std::array<KeyFormatSlot, 17> kDefaultKeyFormat = {{
    {12, 2}, {15, 1}, {16, 1}, {25, 1}, {23, 1}, {22, 1}, {24, 1}, {4, 1}, {20, 1},
    {21, 1}, {17, 0}, {1, 0}, {2, 0}, {10, 1}, {6, 0}, {8, 1}, {9, 1},
}};

// Fills whichever of `attribute_name` and `value_name` is given with static
// strings ("???" when unnamed). Values are compared as signed 32-bit numbers.
void RenditionAttribute_GetNames(uint32_t attribute, int32_t value, const char** attribute_name,
                                 const char** value_name);
// The same names, and also the names of the attributes that newer catalogs
// key on (5 "placeholder", 7 "appearance", 13 "localization", 26 "glyph
// weight", 27 "glyph size"), whose values stay "???". For listings.
void RenditionAttribute_GetListingNames(uint32_t attribute, int32_t value,
                                        const char** attribute_name, const char** value_name);

}  // namespace skarvel
