#pragma once
// Resizing (bicubic), cropping, pasting with an optional edge bleed, and
// pixel format conversion of Images. Results follow the stride rule (rows
// rounded up to 32 bytes, padding zero) except where an image is left as it
// is. Nothing blends: channel values, alpha included, are copied or computed
// as they stand. Each returns false with ERANGE (34) for a format text that
// is not valid, EINVAL (22) for an image whose stride and pixels do not match
// its size, ENOMEM (12), or ENOSPC (28) as noted; on failure the image is
// unchanged.

#include <cstdint>

#include "image/image.h"

namespace skarvel {

// Resizes to width x height by Catmull-Rom interpolation over 4 x 4 source
// pixels, in single precision. The same size changes nothing (the stride
// stays); a target of width or height 1 samples the source's centre.
// EINVAL also for a negative target, one above kImageMaxPixels, or an empty
// source.
[[nodiscard]] bool Image_Resize(const char* format, Image& image, int32_t width, int32_t height);

// Keeps the rectangle at column x, row y (from the top) of width x height.
// The image's own size changes nothing (x and y are not looked at). ENOSPC
// when the rectangle is negative or reaches beyond the image.
[[nodiscard]] bool Image_Crop(const char* format, Image& image, int32_t x, int32_t y,
                              int32_t width, int32_t height);

// Copies `source` into `target` at column x, row y (from the top), converting
// a copy first when the formats differ. With `bleed` the pasted picture gets a
// one-pixel frame copied from its own border, inside the target. ENOSPC when
// the picture does not fit (or x, y is negative); the target is then unchanged.
[[nodiscard]] bool Image_Paste(const char* target_format, Image& target,
                               const char* source_format, const Image& source, int32_t x,
                               int32_t y, bool bleed);

// Converts the image from `source_format` to `target_format` (formats equal
// in their first four characters: nothing changes). Red, green and blue go to
// the target's positions (a gray target keeps green), alpha to its alpha
// position (255 when the source has none).
[[nodiscard]] bool Image_Convert(const char* source_format, Image& image,
                                 const char* target_format);

}  // namespace skarvel
