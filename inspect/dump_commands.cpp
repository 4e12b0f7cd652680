#include "inspect/dump_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/buffer.h"
#include "base/bytes.h"
#include "base/file_system.h"
#include "base/result.h"
#include "csi/csi_decode.h"
#include "csi/csi_format.h"
#include "frontend/input_catalog.h"
#include "frontend/report.h"
#include "image/image_file.h"
#include "inspect/block_listing.h"
#include "inspect/dump_names.h"
#include "inspect/listing_fields.h"
#include "lzfse/lzfse.h"

namespace skarvel {

namespace {

struct DumpContext {
  FILE* err = nullptr;
  const char* input = nullptr;
};

// Makes `name`, one path component in the current directory, ready to be
// created. A file of that name left by an earlier run is removed first: the
// writers resolve emulated links, and a catalog can plant a file that reads
// as one ("!<symlink>..." or a bare path) and have a later run write through
// it to wherever it points. The removal uses the plain system calls for that
// reason. False with EACCES when the resolver would still lead elsewhere
// (a link it has already seen during this run).
bool ClaimOutputName(const char* name) {
  struct stat st;
  if (lstat(name, &st) == 0 && !S_ISDIR(st.st_mode)) (void)unlink(name);
  ResolvedPath resolved;
  if (!ResolvePath(name, resolved)) return false;
  if (std::strcmp(resolved.path, name) != 0) return Fail(EACCES);
  return true;
}

// Writes a decoded picture; reports a failure on `err`.
bool WriteImage(FILE* err, const char* path, const Image& image) {
  const bool written =
      ClaimOutputName(path) && Image_WriteFile(path, image.pixel_format, image.pixels.bytes(),
                                               image.width, image.height, image.stride);
  if (!written) {
    const int code = errno;
    Report_ImageWriteFailure(err, path, code);
  }
  return written;
}

// Writes raw data through a Buffer; reports a failure on `err`.
bool WriteRaw(FILE* err, const char* path, std::span<const uint8_t> raw) {
  Buffer buffer;
  const bool written = ClaimOutputName(path) && Buffer_Append(buffer, raw.data(), raw.size()) &&
                       Buffer_WriteToFile(buffer, path);
  if (!written) {
    const int code = errno;
    Report_RawWriteFailure(err, path, code);
  }
  Buffer_Free(buffer);
  return written;
}

// The rendition name of a CSI header: its 128-byte field up to the first zero.
void CopyName(const CSIHeader& header, char (&name)[sizeof(CSIHeader::name) + 1]) {
  std::memcpy(name, header.name, sizeof header.name);
  name[sizeof header.name] = '\0';
}

void DumpBlockFile(void* context, FILE* out, uint32_t index, const BOMBlock& block) {
  const DumpContext& dump = *static_cast<const DumpContext*>(context);
  char name[kPathBufferSize];
  int code = 0;
  if (!Dump_BlockFileName(name, sizeof name, dump.input, index, block.label)) {
    code = errno;
  } else if (!ClaimOutputName(name)) {
    code = errno;
  } else if (FILE* file = OpenFile(name, "wb"); file == nullptr) {
    code = errno;
  } else {
    // A short write or a failed close is reported like a failed open: the
    // file on disk is not the block.
    errno = 0;
    const std::span<const uint8_t> bytes = block.bytes();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      code = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(file) != 0 && code == 0) code = errno != 0 ? errno : EIO;
  }
  if (code != 0) std::fprintf(out, "  -- Warning: dump to \"%s\" failed [errno %d]", name, code);
}

void ExtractImage(void* context, FILE* out, uint32_t index, const BOMBlock& block,
                  const char* name) {
  FILE* err = static_cast<const DumpContext*>(context)->err;
  char path[kPathBufferSize];
  if (!Dump_ImageFileName(path, sizeof path, index, name)) {
    std::fputs("    + Image data\n", out);
    Report_NameTooLong(err, index);
    return;
  }
  std::fprintf(out, "    + Image data [extracted to \"%s\"]\n", path);
  Image image;
  if (!CSI_DecodeImage(block, image)) {
    const int code = errno;
    Report_ImageExtractFailure(err, index, code);
    return;
  }
  (void)WriteImage(err, path, image);
  Buffer_Free(image.pixels);
}

void ReportDecompressFailure(FILE* err, uint32_t index, uint64_t stored_size, int code) {
  switch (code) {
    case EINVAL:
      std::fprintf(err, "skarvel: compressed raw data of block %d does not decode; skipped\n",
                   static_cast<int>(index));
      return;
    case ENOSPC:
      std::fprintf(err,
                   "skarvel: compressed raw data of block %d decodes to more than %llu bytes; "
                   "skipped\n",
                   static_cast<int>(index),
                   static_cast<unsigned long long>(RawData_DecodedLimit(stored_size)));
      return;
    case ENOMEM:
      std::fprintf(err, "skarvel: out of memory decompressing raw data of block %d\n",
                   static_cast<int>(index));
      return;
    default:
      std::fprintf(err, "skarvel: unknown error decompressing raw data of block %d (errno = %d)\n",
                   static_cast<int>(index), code);
      return;
  }
}

// A raw-data payload that lies inside its block: the rendition's pixel
// format, the flags word and the stored bytes after the 12-byte head.
struct RawPayload {
  std::span<const uint8_t, 4> pixel_format;
  uint32_t flags = 0;
  std::span<const uint8_t> stored;
};

// Writes one raw-data payload of block `index` under its file name (built
// from the data as written, so a compressed document is named by what it
// decodes to). `announce` prints the file's line once the name is known.
// True when the file was written, its name then in `path`; a failure is
// reported on `err`.
template <typename Announce>
bool ExtractRawPayload(FILE* err, uint32_t index, const char* name, const RawPayload& payload,
                       char (&path)[kPathBufferSize], Announce announce) {
  Buffer decoded;
  std::span<const uint8_t> data = payload.stored;
  if ((payload.flags & kRawDataCompressed) != 0) {
    if (!RawData_Decompress(payload.stored, decoded)) {
      const int code = errno;
      ReportDecompressFailure(err, index, payload.stored.size(), code);
      return false;
    }
    data = decoded.bytes();
  }
  if (!Dump_RawFileName(path, sizeof path, index, name, payload.pixel_format, data)) {
    Report_NameTooLong(err, index);
    return false;
  }
  announce();
  return WriteRaw(err, path, data);
}

void ExtractRaw(void* context, FILE* out, uint32_t index, const BOMBlock& block, const char* name,
                std::span<const uint8_t> raw) {
  FILE* err = static_cast<const DumpContext*>(context)->err;
  // The listing hands over the bytes after a raw-data head it has read
  // inside the block; the head's flags word stands 8 bytes before them.
  const CSIHeader* header = CSI_Header(block);
  const std::span<const uint8_t> bytes = block.bytes();
  const uint64_t at = static_cast<uint64_t>(raw.data() - bytes.data());
  if (header == nullptr || at < 12 || at > bytes.size()) return;
  const RawPayload payload{.pixel_format = std::span<const uint8_t, 4>(header->pixel_format, 4),
                           .flags = LoadU32LEAt(bytes, at - 8),
                           .stored = raw};
  char path[kPathBufferSize];
  (void)ExtractRawPayload(err, index, name, payload, path, [&] {
    std::fprintf(out, "    + Raw data [extracted to \"%s\"]\n", path);
  });
}

// One block of -dump_res: a picture or raw data, or nothing.
void ExtractResource(FILE* out, FILE* err, uint32_t index, const BOMBlock& block) {
  const std::span<const uint8_t> bytes = block.bytes();
  if (bytes.size() <= kCSIHeaderSize) return;
  const CSIHeader* header = CSI_Header(block);
  if (header == nullptr) return;
  const uint64_t p = kCSIHeaderSize + Get(header->all_subblocks_size);
  char name[sizeof(CSIHeader::name) + 1];
  CopyName(*header, name);
  char path[kPathBufferSize];

  if (bytes.size() > p + kCSIElementHeaderSize && CodeAt(bytes, p, "MLEC")) {
    Image image;
    if (!CSI_DecodeImage(block, image)) return;
    if (!Dump_ImageFileName(path, sizeof path, index, name)) {
      Report_NameTooLong(err, index);
    } else if (WriteImage(err, path, image)) {
      std::fprintf(out, "   %s\n", path);
    }
    Buffer_Free(image.pixels);
    return;
  }
  if (bytes.size() > p + 12 && CodeAt(bytes, p, "DWAR")) {
    const uint32_t raw_size = LoadU32LEAt(bytes, p + 8);
    if (!Range_Fits(p + 12, raw_size, bytes.size())) {
      std::fprintf(err,
                   "skarvel: raw data of block %d runs past the end of the block (%u bytes "
                   "claimed, %llu present); skipped\n",
                   static_cast<int>(index), raw_size,
                   static_cast<unsigned long long>(bytes.size() - (p + 12)));
      return;
    }
    const RawPayload payload{.pixel_format = std::span<const uint8_t, 4>(header->pixel_format, 4),
                             .flags = LoadU32LEAt(bytes, p + 4),
                             .stored = bytes.subspan(p + 12, raw_size)};
    if (ExtractRawPayload(err, index, name, payload, path, [] {})) {
      std::fprintf(out, "   %s\n", path);
    }
  }
}

}  // namespace

uint64_t RawData_DecodedLimit(uint64_t stored_size) {
  constexpr uint64_t kFloor = uint64_t{1} << 20;
  constexpr uint64_t kCeiling = uint64_t{256} << 20;
  // Compare before multiplying: a size above the ceiling / 64 is at the
  // ceiling.
  if (stored_size >= kCeiling / 64) return kCeiling;
  return std::max(kFloor, stored_size * 64);
}

bool RawData_Decompress(std::span<const uint8_t> stream, Buffer& out) {
  Buffer_Free(out);
  Buffer scratch;
  if (!Buffer_AppendZeros(scratch, lzfse_decode_scratch_size())) return false;
  const uint64_t limit = RawData_DecodedLimit(stream.size());
  // Start at a room that holds most documents at once; double it while the
  // decoder fills it. One byte past the limit tells a stream that ends
  // exactly at the limit from one that goes on.
  uint64_t room = std::min(limit, std::max(uint64_t{64} << 10, uint64_t{16} * stream.size()));
  for (;;) {
    if (!Buffer_AppendZeros(out, room - out.size)) return false;
    const size_t produced =
        lzfse_decode_buffer(out.data, room, stream.data(), stream.size(), scratch.data);
    if (produced == 0) {
      // The decoder gives 0 for a stream of no bytes as for a broken one; a
      // stream that is only the end-of-stream block is the empty document.
      static constexpr uint8_t kEnd[] = {'b', 'v', 'x', '$'};
      if (stream.size() >= 4 && std::memcmp(stream.data(), kEnd, 4) == 0) {
        return Buffer_Subset(out, 0, 0);
      }
      Buffer_Free(out);
      return Fail(EINVAL);
    }
    if (produced < room) return Buffer_Subset(out, 0, produced);
    if (room > limit) {
      Buffer_Free(out);
      return Fail(ENOSPC);
    }
    room = room == limit ? limit + 1 : std::min(limit, room * 2);
  }
}

void Dump_Print(FILE* out, FILE* err, const AssetsCatalog& catalog, const char* input, bool all) {
  DumpContext context{.err = err, .input = input};
  ListingOptions options;
  options.heading = "Dumping";
  options.all = all;
  options.hooks.context = &context;
  options.hooks.dump_block = DumpBlockFile;
  options.hooks.extract_image = ExtractImage;
  options.hooks.extract_raw = ExtractRaw;
  Listing_Print(out, catalog, input, options);
}

void DumpRes_Extract(FILE* out, FILE* err, const AssetsCatalog& catalog, const char* input) {
  std::fprintf(out, "Dumping resources from %s...\n", input);
  for (uint64_t i = 0; i < catalog.store.count; ++i) {
    ExtractResource(out, err, static_cast<uint32_t>(i), catalog.store.blocks[i]);
  }
}

int RunDumpCommand(const CommandLine& cl) {
  AssetsCatalog catalog;
  LoadInputCatalog(cl, catalog);
  Dump_Print(stdout, stderr, catalog, cl.input, cl.all);
  ReleaseInputCatalog(catalog);
  return 0;
}

int RunDumpResCommand(const CommandLine& cl) {
  AssetsCatalog catalog;
  LoadInputCatalog(cl, catalog);
  DumpRes_Extract(stdout, stderr, catalog, cl.input);
  ReleaseInputCatalog(catalog);
  return 0;
}

}  // namespace skarvel
