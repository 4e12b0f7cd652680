#pragma once
// Image replacement (-replace_img): puts one picture into every rendition of
// a catalog that has the picture's size, and into its place inside the packed
// images of app icon sets, keeping each rendition's header, subblocks,
// compression method and chunk count. Renditions are compared with the
// canonical form this program writes and every difference is reported as a
// warning on stderr; warnings never stop the work.

#include <cstdint>

#include "bom/bom_store.h"
#include "catalog/assets_catalog.h"
#include "frontend/command_line.h"

namespace skarvel {

// One place of a picture inside a packed image: the packed image's size, the
// picture's size, and the column and row (from the top) of its top-left pixel.
struct PackedImagePosition {
  int32_t packed_width;
  int32_t packed_height;
  int32_t width;
  int32_t height;
  int32_t x;
  int32_t y;
};

// The packed images of app icon sets as the compiler lays them out.
inline constexpr PackedImagePosition kPackedImagePositions[] = {
    {92, 60, 57, 57, 2, 1},        {92, 60, 29, 29, 61, 29},      {154, 122, 40, 40, 2, 2},
    {154, 122, 76, 76, 2, 44},     {154, 122, 72, 72, 80, 48},    {54, 32, 29, 29, 2, 1},
    {54, 32, 20, 20, 33, 10},      {240, 124, 120, 120, 2, 2},    {240, 124, 114, 114, 124, 8},
    {144, 126, 40, 40, 2, 2},      {144, 126, 80, 80, 2, 44},     {144, 126, 58, 58, 84, 66},
    {302, 156, 152, 152, 2, 2},    {302, 156, 144, 144, 156, 10}, {306, 184, 180, 180, 2, 2},
    {306, 184, 120, 120, 184, 62}, {152, 90, 87, 87, 2, 1},       {152, 90, 60, 60, 91, 28},
};

// The position of a width x height picture inside a packed image of
// packed_width x packed_height, from the table; false when there is none.
[[nodiscard]] bool PackedImage_FindPosition(int32_t packed_width, int32_t packed_height,
                                            int32_t width, int32_t height, int32_t& x, int32_t& y);

// Rebuilds the rendition in `block` with the picture at `picture_path` pasted
// in: a full replacement when x and y are both -1 (the picture must have the
// rendition's size), otherwise at column x, row y (from the top) with a
// one-pixel frame. The picture is read in the rendition's pixel format (a
// gray rendition takes its green values); a 1024 x 1024 picture is made
// opaque. Prints the header, subblock and element warnings, then replaces the
// block's data with the new record. False, the block unchanged, with:
//   ENOENT           the block is not a CSI record with pixels that decode;
//   kErrUnsupported  a pixel format other than "BGRA" or " 8AG", a compression
//                    method that cannot be written again (palette image,
//                    deepmaps), a subblock other than slices, metrics,
//                    composition, orientation and bytes per line, a subblock
//                    too short for its own count, or more than 16 subblocks;
//   EFAULT           a full replacement with a picture of another size;
//   ENOSPC           a placed picture that does not fit;
//   EINVAL           a subblock chain that runs past the block, or a codec
//                    failure while encoding;
//   ENOMEM, or the codes of Image_ReadFile.
[[nodiscard]] bool CSI_ReplaceImage(BOMBlock& block, const char* picture_path, int32_t x,
                                    int32_t y);

// The command on a loaded catalog: reads the picture (its failure is reported
// and gives status 1, nothing saved), replaces it into every matching block
// and saves the catalog to `output_path` (a failed save is reported, gives
// status 1 and leaves any previous file as it was). Returns the exit status.
[[nodiscard]] int ReplaceImage_Run(AssetsCatalog& catalog, const char* picture_path,
                                   const char* output_path);

// The command as the front end dispatches it: loads the input catalog (ending
// the process with status 1 when it is not one), runs ReplaceImage_Run with
// the replacement picture and the output pathname, and releases the catalog.
[[nodiscard]] int RunReplaceImageCommand(const CommandLine& cl);

}  // namespace skarvel
