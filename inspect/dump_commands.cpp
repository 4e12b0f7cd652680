#include "inspect/dump_commands.h"

#include <sys/stat.h>
#include <unistd.h>

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

void ExtractRaw(void* context, FILE* out, uint32_t index, const BOMBlock&, const char* name,
                std::span<const uint8_t> raw) {
  FILE* err = static_cast<const DumpContext*>(context)->err;
  char path[kPathBufferSize];
  if (!Dump_RawFileName(path, sizeof path, index, name, raw)) {
    Report_NameTooLong(err, index);
    return;
  }
  std::fprintf(out, "    + Raw data [extracted to \"%s\"]\n", path);
  (void)WriteRaw(err, path, raw);
}

bool CodeAt(std::span<const uint8_t> bytes, uint64_t offset, const char* code) {
  return Range_Fits(offset, 4, bytes.size()) && std::memcmp(bytes.data() + offset, code, 4) == 0;
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
    const std::span<const uint8_t> raw = bytes.subspan(p + 12, raw_size);
    if (!Dump_RawFileName(path, sizeof path, index, name, raw)) {
      Report_NameTooLong(err, index);
    } else if (WriteRaw(err, path, raw)) {
      std::fprintf(out, "   %s\n", path);
    }
  }
}

}  // namespace

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
