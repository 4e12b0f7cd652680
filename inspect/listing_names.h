#pragma once
// Names of the numbered values that the listings show in parentheses.

#include <cstdint>
#include <cstdio>

#include "catalog/assets_catalog.h"

namespace skarvel {

// The attribute and value names the listings show: the attribute table, the
// names of the attributes newer catalogs key on, and for the appearance
// attribute (7) the name the catalog's APPEARANCEKEYS gives the value.
void ListingAttributeNames(const AssetsCatalog& catalog, uint32_t attribute, int32_t value,
                           const char** attribute_name, const char** value_name);
// Prints one (attribute, value) pair of a key as the listings show it:
// `indent`, "+ [index]: attribute (name) = value (name)" and a newline.
void PrintAttributePair(FILE* out, const char* indent, uint32_t index,
                        const AssetsCatalog& catalog, uint32_t attribute, int32_t value);

// 0 "unspecified", 1 "standard RGB", 2 "expanded DisplayP3", else "??? UNKNOWN".
[[nodiscard]] const char* ColorspaceName(uint32_t colorspace);
// Composition blend modes 0 to 27, else "???".
[[nodiscard]] const char* BlendModeName(uint32_t mode);
// EXIF orientations 1 to 8, else "???".
[[nodiscard]] const char* OrientationName(uint32_t orientation);
// Physical units 0 to 4, else "???".
[[nodiscard]] const char* UnitName(uint32_t unit);
// CoreUI element compression methods 0 to 5, else "???".
[[nodiscard]] const char* CompressionMethodName(uint32_t method);
// The description of a stored pixel-format code, "???" when unknown.
[[nodiscard]] const char* PixelFormatDescription(const uint8_t code[4]);
// The name of a layout or rendition type that newer catalogs use; null for
// the values this program writes itself (12, 1003, 1004, 1005, 1010), which
// the listing leaves unnamed, and for unknown values.
[[nodiscard]] const char* NewerLayoutName(uint32_t layout);
// The name of a CSI subblock identifier; null when unknown.
[[nodiscard]] const char* SubblockName(uint32_t id);
// Colour spaces of colour records: 0 to 6, else "???".
[[nodiscard]] const char* ColorRecordSpaceName(uint32_t space);
// The kind of effect an effect component's tag stands for, "???" when unknown.
[[nodiscard]] const char* EffectComponentName(const uint8_t tag[4]);

}  // namespace skarvel
