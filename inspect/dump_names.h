#pragma once
// The names of the files that -dump and -dump_res write into the current
// directory. Every name is one path component: a "/" or "\" taken from the
// catalog (a block label or a rendition name) becomes "_", so no name can
// reach another directory.
//
// Each builder writes a NUL-terminated name into `out` (`size` bytes) and
// returns true, or returns false with ENAMETOOLONG when the name does not fit
// (`out` then holds as much of it as fits).

#include <cstddef>
#include <cstdint>
#include <span>

namespace skarvel {

// The character that stands in for a path separator taken from a catalog.
inline constexpr char kSeparatorStandIn = '_';

// Block dump file: the input base name cut before its last ".", "-block<N>",
// "-<label>" when the label is not empty (null counts as empty), ".bin".
// `input` is the input pathname as given.
[[nodiscard]] bool Dump_BlockFileName(char* out, size_t size, const char* input, uint32_t index,
                                      const char* label);
// Picture file: "(block <N>) <name>", plus ".png" unless the name already
// ends in a picture extension the image writer knows (".bmp", ".png", ".jpg",
// ".jpeg", any case). `name` is the rendition name (NUL-terminated).
[[nodiscard]] bool Dump_ImageFileName(char* out, size_t size, uint32_t index, const char* name);
// Raw data file: "(block <N>) <name>", plus the extension RawDataExtension
// chooses for the rendition's pixel format (its 4 bytes as stored) and `data`,
// the raw data as it is written (decompressed when it was stored compressed).
[[nodiscard]] bool Dump_RawFileName(char* out, size_t size, uint32_t index, const char* name,
                                    std::span<const uint8_t, 4> pixel_format,
                                    std::span<const uint8_t> data);

// The extension appended to a picture's name: "" or ".png".
[[nodiscard]] const char* ImageExtension(const char* name);
// The extension appended to raw data's name. Documents and photos are named
// by their pixel format: " FDP" ".pdf", " GVS" ".svg", "GEPJ" (or "JPEG")
// ".jpg", "FIEH" ".heic", each "" when the name already ends in it (".jpeg"
// and ".heif" count as well). Any other format: ".pdf" for a PDF document (6
// bytes or more beginning "%PDF-") unless the name ends in it; otherwise ""
// for a name ending in a picture extension, ".bin" for any other.
[[nodiscard]] const char* RawDataExtension(const char* name,
                                           std::span<const uint8_t, 4> pixel_format,
                                           std::span<const uint8_t> data);

}  // namespace skarvel
