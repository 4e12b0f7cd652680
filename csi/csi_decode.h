#pragma once
// Pixel decoding of rendition records: turns a CSI record whose payload is a
// CoreUI element ("MLEC") into an Image, undoing the element's chunking and
// its compression method.

#include "bom/bom_store.h"
#include "image/image.h"

namespace skarvel {

// Decodes the record in `block` into `image` (any pixels it held are freed
// first). The result keeps the record's own pixel format ("BGRA" or " 8AG");
// a wide "WBGR" record comes out as 8-bit "BGRA". Width and height are the
// header's. Rows are top first; channel values are returned as stored.
//
// Methods 0 to 4 (uncompressed, RLE, gzip, LZVN, LZFSE) keep the stride of the
// record's bytes-per-line subblock. The palette image (8) and the deepmaps
// (10, 11) are tightly packed: stride = width * bytes per pixel.
//
// errno on failure (the image then holds no pixels):
//   ENOENT  no bytes-per-line subblock (methods 0 to 4), no payload, or a
//           payload that is not a CoreUI element;
//   ENOMEM  the output or a work area could not be allocated;
//   EINVAL  not a CSI record, a size that cannot be decoded sanely (empty,
//           more than 2^30 bytes, bytes per line below the row's length), or
//           data that is malformed, truncated or points outside the record;
//   kErrUnsupported  pixel format or compression method not decoded here.
[[nodiscard]] bool CSI_DecodeImage(const BOMBlock& block, Image& image);

}  // namespace skarvel
