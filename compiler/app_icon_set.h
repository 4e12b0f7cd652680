#pragma once
// App icon sets: a directory "<name>.appiconset" with a "Contents.json"
// description and the icon pictures it names. The set becomes a facet
// (element 85, part 220) and the renditions of the fixed app icon sequence.

#include <cstdint>

#include "catalog/assets_catalog.h"
#include "image/image.h"

namespace skarvel {

// Idiom values of "Contents.json" items (the rendition key's idiom).
inline constexpr int32_t kIdiomUniversal = 0;
inline constexpr int32_t kIdiomPhone = 1;
inline constexpr int32_t kIdiomPad = 2;
inline constexpr int32_t kIdiomTV = 3;
inline constexpr int32_t kIdiomWatch = 5;
inline constexpr int32_t kIdiomMarketing = 6;

// The set's facet: element and part, and the bitmap-key masks it gets.
inline constexpr int32_t kAppIconSetElement = 85;
inline constexpr int32_t kAppIconSetPart = 220;

// One usable item of the description, its picture brought to its pixel size.
// Plain record inside the source list, which owns the images.
struct AppIconSource {
  const char* file_name = nullptr;  // into the description, or "EMPTY_IMAGE"
  float size = 0;                   // points
  int32_t idiom = 0;
  int32_t scale = 0;
  int32_t display_gamut = 1;  // 1 sRGB, 2 display-P3
  int32_t role = 0;           // watch roles 1 to 5, 0 for other idioms
  Image image;                // "BGRA", pixel size x pixel size
};

// The pixel size of an icon: size x scale in single precision, truncated;
// -1 when that is not a number or does not fit 32 bits.
[[nodiscard]] int32_t AppIcon_PixelSize(float size, int32_t scale);

// Compiles the app icon set in `directory` (a name relative to the working
// directory, ending in its extension; the text is cut at its first '.' in
// place and the rest is the set's name). Prints a warning for every problem
// and skips what it concerns. True when the whole rendition sequence was
// stored. The working directory is the same afterwards.
[[nodiscard]] bool AssetsCatalog_CompileAppIconSet(AssetsCatalog& catalog, char* directory,
                                                   bool verbose);

}  // namespace skarvel
