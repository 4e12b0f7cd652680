#include "image/image_file.h"

#include <png.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <type_traits>

#include "base/buffer.h"
#include "base/bytes.h"
#include "base/file_system.h"
#include "base/result.h"

namespace skarvel {

namespace {

// ---------------------------------------------------------------------------
// File types

bool EndsWith(const char* path, size_t length, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (length < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = path[length - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

bool IsPngPath(const char* path, size_t length) {
  return length >= 5 && EndsWith(path, length, ".png");
}

bool IsJpegPath(const char* path, size_t length) {
  return length >= 6 && (EndsWith(path, length, ".jpg") || EndsWith(path, length, ".jpeg"));
}

// ---------------------------------------------------------------------------
// Pixels

// Largest expansion of a deflate stream: 258 bytes from two 1-bit codes.
constexpr uint64_t kDeflateMaxRatio = 1032;
// A Huffman-coded JPEG spends at least one bit on every 8 x 8 block.
constexpr uint64_t kJpegPixelsPerByte = 8 * 64;
// Progressive JPEGs can hold any number of scans; real files use a few dozen.
constexpr int kJpegMaxScans = 500;

// The pixels of a new image of `width` x `height`, refused (EINVAL) beyond
// kImageMaxPixels before anything is allocated.
int AllocatePixels(const char* format, uint64_t width, uint64_t height, Image& image) {
  if (width > static_cast<uint64_t>(kImageMaxPixels) ||
      height > static_cast<uint64_t>(kImageMaxPixels) ||
      width * height > static_cast<uint64_t>(kImageMaxPixels)) {
    return EINVAL;
  }
  if (!Image_CreateBlank(format, static_cast<int32_t>(width), static_cast<int32_t>(height),
                         image)) {
    return errno;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// PNG. Library errors come back through png_jmpbuf; the functions between the
// setjmp and the library calls keep only trivially destructible locals, and
// everything that owns memory lives in the job, owned by the caller.

void PngQuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngQuietWarning(png_structp, png_const_charp) {}

struct MemorySource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

void PngReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (length > source->size - source->pos) png_error(png, "truncated");
  std::memcpy(out, source->data + source->pos, length);
  source->pos += length;
}

struct PngReadJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  MemorySource source;
  const char* format = nullptr;
  PixelLayout layout;
  Buffer rows;  // one row, or every row of an interlaced picture
  Image* image = nullptr;

  PngReadJob() = default;
  PngReadJob(const PngReadJob&) = delete;
  PngReadJob& operator=(const PngReadJob&) = delete;
  ~PngReadJob() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

void StorePngRow(const PngReadJob& job, const uint8_t* rgba, uint32_t y) {
  Image& image = *job.image;
  uint8_t* out = image.pixels.data + uint64_t{y} * static_cast<uint64_t>(image.stride);
  const int n = job.layout.channel_count;
  for (int32_t x = 0; x < image.width; ++x, rgba += 4, out += n) {
    PixelLayout_Store(out, job.layout, rgba[0], rgba[1], rgba[2], rgba[3]);
  }
}

// Everything after the header has been read. Library errors jump out of here.
int DecodePngPixels(PngReadJob& job) {
  png_structp png = job.png;
  png_infop info = job.info;
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int color_type = png_get_color_type(png, info);
  const int bit_depth = png_get_bit_depth(png, info);
  // The compressed rows must fit in the file: refuse a header whose size the
  // data cannot hold before allocating for it.
  const uint64_t samples = (color_type & PNG_COLOR_MASK_PALETTE) != 0 ? 1
                           : png_get_channels(png, info);
  const uint64_t raw_row = (uint64_t{width} * samples * static_cast<uint64_t>(bit_depth) + 7) / 8;
  const uint64_t raw = (raw_row + 1) * height;
  if (uint64_t{width} * height > static_cast<uint64_t>(kImageMaxPixels) ||
      raw / kDeflateMaxRatio > job.source.size) {
    return EINVAL;
  }

  if (bit_depth == 16) png_set_strip_16(png);
  if (color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_RGB ||
      color_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png);
  }
  // Interlaced pictures arrive in passes that each touch every row.
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  if (row_bytes != uint64_t{width} * 4) return EINVAL;

  if (const int code = AllocatePixels(job.format, width, height, *job.image); code != 0) {
    return code;
  }
  const uint64_t buffered_rows = passes > 1 ? height : 1;
  if (!Buffer_AppendZeros(job.rows, buffered_rows * row_bytes)) return ENOMEM;
  if (passes > 1) {
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, job.rows.data + uint64_t{y} * row_bytes, nullptr);
      }
    }
    for (png_uint_32 y = 0; y < height; ++y) {
      StorePngRow(job, job.rows.data + uint64_t{y} * row_bytes, y);
    }
  } else {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, job.rows.data, nullptr);
      StorePngRow(job, job.rows.data, y);
    }
  }
  return 0;
}

// Ancillary chunks that play no part in the pixels. They are skipped unread:
// libpng would otherwise allocate a text or profile chunk at the size its
// header claims, before finding that the file is far shorter.
constexpr png_byte kIgnoredChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0"
    "tEXt\0tIME\0zTXt";
constexpr int kIgnoredChunkCount = 17;
static_assert(sizeof kIgnoredChunks == 5 * kIgnoredChunkCount);
// The largest ancillary chunk libpng may allocate.
constexpr png_alloc_size_t kPngChunkLimit = 1 << 20;

int RunPngRead(PngReadJob& job) {
  if (setjmp(png_jmpbuf(job.png)) != 0) return EINVAL;
  png_set_keep_unknown_chunks(job.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(job.png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                              kIgnoredChunkCount);
  png_set_chunk_malloc_max(job.png, kPngChunkLimit);
  png_set_read_fn(job.png, &job.source, PngReadFromMemory);
  png_read_info(job.png, job.info);
  return DecodePngPixels(job);
}

int ReadPng(std::span<const uint8_t> bytes, const char* format, const PixelLayout& layout,
            Image& image) {
  PngReadJob job;
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngQuietError, PngQuietWarning);
  if (job.png == nullptr) return EINVAL;
  job.info = png_create_info_struct(job.png);
  if (job.info == nullptr) return EINVAL;
  job.source = MemorySource{bytes.data(), bytes.size(), 0};
  job.format = format;
  job.layout = layout;
  job.image = &image;
  return RunPngRead(job);
}

// What a writer takes: `height` rows of `width` pixels in `layout`, `stride`
// bytes apart (checked by Image_WriteFile).
struct PixelRows {
  PixelLayout layout;
  std::span<const uint8_t> pixels;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
};

// Row y as 8-bit red, green and blue, and with `channels` 4 alpha too (255
// when the layout has none). Every layout with an alpha channel keeps it,
// gray and alpha included (as the BMP writer does): extracting a gray
// picture must not lose its mask.
void PackRow(const PixelRows& rows, int32_t y, uint8_t* out, int channels) {
  const PixelLayout& l = rows.layout;
  const uint8_t* in = rows.pixels.data() + int64_t{y} * rows.stride;
  for (int32_t x = 0; x < rows.width; ++x, in += l.channel_count, out += channels) {
    out[0] = in[l.red];
    out[1] = in[l.green];
    out[2] = in[l.blue];
    if (channels == 4) out[3] = l.alpha >= 0 ? in[l.alpha] : 255;
  }
}

struct PngWriteJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  FILE* file = nullptr;
  const PixelRows* rows = nullptr;
  Buffer row;

  PngWriteJob() = default;
  PngWriteJob(const PngWriteJob&) = delete;
  PngWriteJob& operator=(const PngWriteJob&) = delete;
  ~PngWriteJob() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
};

void WritePngRows(PngWriteJob& job) {
  for (int32_t y = 0; y < job.rows->height; ++y) {
    PackRow(*job.rows, y, job.row.data, 4);
    png_write_row(job.png, job.row.data);
  }
}

int RunPngWrite(PngWriteJob& job) {
  if (setjmp(png_jmpbuf(job.png)) != 0) return EINVAL;
  png_init_io(job.png, job.file);
  png_set_IHDR(job.png, job.info, static_cast<png_uint_32>(job.rows->width),
               static_cast<png_uint_32>(job.rows->height), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(job.png, job.info);
  WritePngRows(job);
  png_write_end(job.png, nullptr);
  return 0;
}

int WritePng(FILE* file, const PixelRows& rows) {
  PngWriteJob job;
  if (!Buffer_AppendZeros(job.row, uint64_t(static_cast<uint32_t>(rows.width)) * 4)) return ENOMEM;
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngQuietError,
                                    PngQuietWarning);
  if (job.png == nullptr) return EINVAL;
  job.info = png_create_info_struct(job.png);
  if (job.info == nullptr) return EINVAL;
  job.file = file;
  job.rows = &rows;
  return RunPngWrite(job);
}

// ---------------------------------------------------------------------------
// JPEG. The library's errors normally end the process; here error_exit jumps
// back and the operation fails with EINVAL. Its messages are not printed.

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}
void JpegQuietMessage(j_common_ptr) {}

void SetUpJpegErrors(JpegErrors& errors) {
  jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  errors.manager.output_message = JpegQuietMessage;
}

// Stops a progressive file that keeps adding scans.
void JpegLimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kJpegMaxScans) {
    cinfo->err->msg_code = JERR_BAD_PROGRESSION;
    cinfo->err->error_exit(cinfo);
  }
}

struct JpegReadJob {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  jpeg_progress_mgr progress;
  std::span<const uint8_t> bytes;
  const char* format = nullptr;
  PixelLayout layout;
  Buffer row;
  Image* image = nullptr;

  JpegReadJob() {
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&progress, 0, sizeof progress);
  }
  JpegReadJob(const JpegReadJob&) = delete;
  JpegReadJob& operator=(const JpegReadJob&) = delete;
  // Safe on a structure that was never created (its memory manager is null).
  ~JpegReadJob() { jpeg_destroy_decompress(&cinfo); }
};

int DecodeJpegPixels(JpegReadJob& job) {
  jpeg_decompress_struct& cinfo = job.cinfo;
  jpeg_read_header(&cinfo, TRUE);
  const uint64_t pixels = uint64_t{cinfo.image_width} * cinfo.image_height;
  if (pixels > static_cast<uint64_t>(kImageMaxPixels) ||
      pixels / kJpegPixelsPerByte > job.bytes.size()) {
    return EINVAL;
  }
  jpeg_start_decompress(&cinfo);
  const int c = cinfo.output_components;
  if (c != 1 && c != 3) return kErrUnsupported;
  if (const int code = AllocatePixels(job.format, cinfo.output_width, cinfo.output_height,
                                      *job.image);
      code != 0) {
    return code;
  }
  if (!Buffer_AppendZeros(job.row, uint64_t{cinfo.output_width} * static_cast<uint64_t>(c))) {
    return ENOMEM;
  }
  Image& image = *job.image;
  const int n = job.layout.channel_count;
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION y = cinfo.output_scanline;
    JSAMPROW row = job.row.data;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return EINVAL;
    const uint8_t* in = job.row.data;
    uint8_t* out = image.pixels.data + uint64_t{y} * static_cast<uint64_t>(image.stride);
    for (JDIMENSION x = 0; x < cinfo.output_width; ++x, in += c, out += n) {
      if (c == 3) {
        PixelLayout_Store(out, job.layout, in[0], in[1], in[2], 255);
      } else {
        PixelLayout_Store(out, job.layout, in[0], in[0], in[0], 255);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  return 0;
}

int RunJpegRead(JpegReadJob& job) {
  if (setjmp(job.errors.jump) != 0) return EINVAL;
  jpeg_CreateDecompress(&job.cinfo, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
  job.progress.progress_monitor = JpegLimitScans;
  job.cinfo.progress = &job.progress;
  jpeg_mem_src(&job.cinfo, job.bytes.data(), job.bytes.size());
  return DecodeJpegPixels(job);
}

int ReadJpeg(std::span<const uint8_t> bytes, const char* format, const PixelLayout& layout,
             Image& image) {
  JpegReadJob job;
  SetUpJpegErrors(job.errors);
  job.cinfo.err = &job.errors.manager;
  job.bytes = bytes;
  job.format = format;
  job.layout = layout;
  job.image = &image;
  return RunJpegRead(job);
}

struct JpegWriteJob {
  jpeg_compress_struct cinfo;
  JpegErrors errors;
  FILE* file = nullptr;
  const PixelRows* rows = nullptr;
  Buffer row;

  JpegWriteJob() { std::memset(&cinfo, 0, sizeof cinfo); }
  JpegWriteJob(const JpegWriteJob&) = delete;
  JpegWriteJob& operator=(const JpegWriteJob&) = delete;
  ~JpegWriteJob() { jpeg_destroy_compress(&cinfo); }
};

void WriteJpegRows(JpegWriteJob& job) {
  for (int32_t y = 0; y < job.rows->height; ++y) {
    PackRow(*job.rows, y, job.row.data, 3);
    JSAMPROW row = job.row.data;
    jpeg_write_scanlines(&job.cinfo, &row, 1);
  }
}

int RunJpegWrite(JpegWriteJob& job) {
  if (setjmp(job.errors.jump) != 0) return EINVAL;
  jpeg_CreateCompress(&job.cinfo, JPEG_LIB_VERSION, sizeof(jpeg_compress_struct));
  jpeg_stdio_dest(&job.cinfo, job.file);
  job.cinfo.image_width = static_cast<JDIMENSION>(job.rows->width);
  job.cinfo.image_height = static_cast<JDIMENSION>(job.rows->height);
  job.cinfo.input_components = 3;
  job.cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&job.cinfo);
  jpeg_set_quality(&job.cinfo, 90, TRUE);
  jpeg_start_compress(&job.cinfo, TRUE);
  WriteJpegRows(job);
  jpeg_finish_compress(&job.cinfo);
  return 0;
}

int WriteJpeg(FILE* file, const PixelRows& rows) {
  JpegWriteJob job;
  if (!Buffer_AppendZeros(job.row, uint64_t(static_cast<uint32_t>(rows.width)) * 3)) return ENOMEM;
  SetUpJpegErrors(job.errors);
  job.cinfo.err = &job.errors.manager;
  job.file = file;
  job.rows = &rows;
  return RunJpegWrite(job);
}

// ---------------------------------------------------------------------------
// BMP

constexpr uint64_t kBmpHeaderSize = 54;

int ReadBmp(std::span<const uint8_t> bytes, const char* format, const PixelLayout& layout,
            Image& image) {
  // Both headers must be present; a shorter file is truncated.
  if (bytes.size() < kBmpHeaderSize) return ENOENT;
  if (bytes[0] != 'B' || bytes[1] != 'M') return kErrUnsupported;
  const uint32_t data_offset = LoadU32LEAt(bytes, 10);
  const auto width = static_cast<int32_t>(LoadU32LEAt(bytes, 18));
  const auto height = static_cast<int32_t>(LoadU32LEAt(bytes, 22));
  const uint32_t b = LoadU16LEAt(bytes, 28) / 8u;
  const uint16_t compression = LoadU16LEAt(bytes, 30);
  if ((b != 3 && b != 4) || compression != 0) return kErrUnsupported;
  // A negative height stores the rows top-down.
  if (width <= 0 || height == 0 || height == INT32_MIN) return kErrUnsupported;
  const bool top_down = height < 0;
  const uint64_t rows = top_down ? uint64_t(-int64_t{height}) : uint64_t(height);
  const uint64_t row_length = (b * uint64_t(width) + 3) & ~uint64_t{3};
  // Every row must be in the file (this also bounds the allocation by the
  // file's size); the last row needs only its pixel bytes.
  const uint64_t needed = (rows - 1) * row_length + b * uint64_t(width);
  if (!Range_Fits(data_offset, needed, bytes.size())) return ENOENT;
  if (uint64_t(width) * rows > static_cast<uint64_t>(kImageMaxPixels)) return kErrUnsupported;
  if (const int code = AllocatePixels(format, uint64_t(width), rows, image); code != 0) return code;
  const int n = layout.channel_count;
  for (uint64_t y = 0; y < rows; ++y) {
    const uint64_t file_row = top_down ? y : rows - 1 - y;
    const uint8_t* in = bytes.data() + data_offset + file_row * row_length;
    uint8_t* out = image.pixels.data + y * static_cast<uint64_t>(image.stride);
    for (int32_t x = 0; x < width; ++x, in += b, out += n) {
      PixelLayout_Store(out, layout, in[2], in[1], in[0], b == 4 ? in[3] : 255);
    }
  }
  return 0;
}

int WriteBmp(FILE* file, const PixelRows& rows) {
  const PixelLayout& layout = rows.layout;
  const int32_t width = rows.width;
  const int32_t height = rows.height;
  const uint64_t row_length = uint64_t(static_cast<uint32_t>(width)) * 4;
  const uint64_t image_size = row_length * static_cast<uint32_t>(height);
  if (image_size > UINT32_MAX - kBmpHeaderSize) return EINVAL;
  uint8_t header[kBmpHeaderSize] = {'B', 'M'};
  const std::span<uint8_t> h(header);
  StoreU32LEAt(h, 2, static_cast<uint32_t>(kBmpHeaderSize + image_size));
  StoreU32LEAt(h, 10, static_cast<uint32_t>(kBmpHeaderSize));
  StoreU32LEAt(h, 14, 40);
  StoreU32LEAt(h, 18, static_cast<uint32_t>(width));
  StoreU32LEAt(h, 22, static_cast<uint32_t>(height));
  StoreU16LEAt(h, 26, 1);
  StoreU16LEAt(h, 28, 32);
  StoreU32LEAt(h, 34, static_cast<uint32_t>(image_size));
  StoreU32LEAt(h, 38, 2835);  // 72 dots per inch
  StoreU32LEAt(h, 42, 2835);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return errno ? errno : EIO;
  const int n = layout.channel_count;
  uint8_t out[4 * 256];
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint8_t* in = rows.pixels.data() + int64_t{y} * rows.stride;
    int32_t x = 0;
    while (x < width) {
      // Whole rows go out in pieces of 256 pixels.
      const int32_t count = width - x < 256 ? width - x : 256;
      for (int32_t k = 0; k < count; ++k, in += n) {
        out[4 * k + 0] = in[layout.blue];
        out[4 * k + 1] = in[layout.green];
        out[4 * k + 2] = in[layout.red];
        out[4 * k + 3] = layout.alpha >= 0 ? in[layout.alpha] : 255;
      }
      const size_t length = static_cast<size_t>(count) * 4;
      if (std::fwrite(out, 1, length, file) != length) return errno ? errno : EIO;
      x += count;
    }
  }
  return 0;
}

}  // namespace

ImageFileType ImageFile_TypeForReading(const char* path) {
  const size_t length = std::strlen(path);
  if (IsPngPath(path, length)) return ImageFileType::Png;
  if (IsJpegPath(path, length)) return ImageFileType::Jpeg;
  if (length >= 5 && EndsWith(path, length, ".bmp")) return ImageFileType::Bmp;
  return ImageFileType::None;
}

ImageFileType ImageFile_TypeForWriting(const char* path) {
  const size_t length = std::strlen(path);
  if (IsPngPath(path, length)) return ImageFileType::Png;
  if (IsJpegPath(path, length)) return ImageFileType::Jpeg;
  return ImageFileType::Bmp;
}

bool Image_ReadMemory(std::span<const uint8_t> bytes, ImageFileType type, const char* format,
                      Image& image) {
  Buffer_Free(image.pixels);
  PixelLayout layout;
  if (!PixelFormat_Parse(format, layout)) return Fail(ERANGE);
  int code = kErrUnsupported;
  switch (type) {
    case ImageFileType::Png:
      code = ReadPng(bytes, format, layout, image);
      break;
    case ImageFileType::Jpeg:
      code = ReadJpeg(bytes, format, layout, image);
      break;
    case ImageFileType::Bmp:
      code = ReadBmp(bytes, format, layout, image);
      break;
    case ImageFileType::None:
      break;
  }
  if (code != 0) {
    Buffer_Free(image.pixels);
    return Fail(code);
  }
  return true;
}

bool Image_ReadFile(const char* path, const char* format, Image& image) {
  Buffer_Free(image.pixels);
  PixelLayout layout;
  if (!PixelFormat_Parse(format, layout)) return Fail(ERANGE);
  const ImageFileType type = ImageFile_TypeForReading(path);
  if (type == ImageFileType::None) return Fail(kErrUnsupported);
  int code = 0;
  {
    Buffer file;
    if (!Buffer_ReadFromFile(file, path)) {
      code = errno == ENOMEM ? ENOMEM : ENOENT;
    } else if (!Image_ReadMemory(file.bytes(), type, format, image)) {
      code = errno;
    }
  }
  return code == 0 ? true : Fail(code);
}

bool Image_WriteFile(const char* path, const char* format, std::span<const uint8_t> pixels,
                     int32_t width, int32_t height, int32_t stride) {
  PixelLayout layout;
  if (!PixelFormat_Parse(format, layout)) return Fail(ERANGE);
  if (!Image_RowsFit(pixels, width, height, stride, layout.channel_count)) return Fail(EINVAL);
  FILE* file = OpenFile(path, "wb");
  // The resolver's allocation failure is not a refusal to create the file.
  if (file == nullptr) return Fail(errno == ENOMEM ? ENOMEM : EACCES);
  const PixelRows rows{layout, pixels, width, height, stride};
  int code = 0;
  switch (ImageFile_TypeForWriting(path)) {
    case ImageFileType::Png:
      code = WritePng(file, rows);
      break;
    case ImageFileType::Jpeg:
      code = WriteJpeg(file, rows);
      break;
    case ImageFileType::Bmp:
    case ImageFileType::None:
      code = WriteBmp(file, rows);
      break;
  }
  // A failed close loses buffered bytes: report it like a failed write.
  errno = 0;
  if (std::fclose(file) != 0 && code == 0) code = errno != 0 ? errno : EIO;
  return code == 0 ? true : Fail(code);
}

}  // namespace skarvel
