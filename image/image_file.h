#pragma once
// Picture files: PNG (libpng), JPEG (libjpeg) and uncompressed 24/32-bit BMP,
// read into an Image of a requested PixelFormat and written from one. The file
// type is chosen by the path's extension alone. Nothing is printed.

#include <cstdint>
#include <span>

#include "image/image.h"

namespace skarvel {

enum class ImageFileType : uint8_t { None, Png, Jpeg, Bmp };

// Type for reading, case-insensitively: ".png" (path of 5+ characters), then
// ".jpg"/".jpeg" (6+), then ".bmp" (5+); anything else is None.
ImageFileType ImageFile_TypeForReading(const char* path);
// Type for writing: PNG and JPEG as for reading, BMP for every other path.
ImageFileType ImageFile_TypeForWriting(const char* path);

// Reads the picture at `path` (through OpenFile) into `image` in `format`, with
// the stride rule's stride. False with ERANGE (34, format not valid),
// kErrUnsupported (129: unknown extension, BMP other than 24/32-bit
// uncompressed, JPEG other than 1 or 3 components), ENOENT (2: unreadable or
// truncated file), ENOMEM (12) or EINVAL (22: malformed data, a codec error,
// or a picture of more than kImageMaxPixels pixels or larger than its file can
// hold). On failure the image holds no pixels.
[[nodiscard]] bool Image_ReadFile(const char* path, const char* format, Image& image);
// The same for the bytes of a file of the given type (None gives 129).
[[nodiscard]] bool Image_ReadMemory(std::span<const uint8_t> bytes, ImageFileType type,
                                    const char* format, Image& image);

// Writes `height` rows of `width` pixels in `format`, `stride` bytes apart, to
// `path` (through OpenFile, "wb"): PNG as 8-bit RGBA, JPEG as RGB at quality
// 90, any other extension as a 32-bit BMP. False with ERANGE (34), EINVAL
// (arguments that do not describe `pixels`, or a codec error), EACCES (13:
// the file cannot be created; nothing else is created), ENOMEM (12), or the
// system's code of a failed write. The file exists once it could be opened.
[[nodiscard]] bool Image_WriteFile(const char* path, const char* format,
                                   std::span<const uint8_t> pixels, int32_t width, int32_t height,
                                   int32_t stride);

}  // namespace skarvel
