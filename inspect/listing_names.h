#pragma once
// Names of the numbered values that the listings show in parentheses.

#include <cstdint>

namespace skarvel {

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

}  // namespace skarvel
