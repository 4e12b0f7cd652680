#include "frontend/report.h"

#include <cerrno>

#include "base/result.h"
#include "frontend/command_line.h"

namespace skarvel {

void Report_ImageExtractFailure(FILE* err, uint32_t block, int code) {
  const int index = static_cast<int>(block);
  switch (code) {
    case ENOENT:
      std::fprintf(err, "skarvel: block %d doesn't contain an image\n", index);
      return;
    case ENOMEM:
      std::fprintf(err, "skarvel: out of memory extracting image from block %d\n", index);
      return;
    case EINVAL:
      std::fprintf(err,
                   "skarvel: internal image library error while extracting image from block %d\n",
                   index);
      return;
    case kErrUnsupported:
      std::fprintf(err, "skarvel: unsupported pixel format while extracting image from block %d\n",
                   index);
      return;
    default:
      std::fprintf(err, "skarvel: unknown error extracting image from block %d (errno = %d)\n",
                   index, code);
      return;
  }
}

void Report_ImageWriteFailure(FILE* err, const char* path, int code) {
  switch (code) {
    case EACCES:
      std::fprintf(err, "skarvel: unable to create output file %s\n", path);
      return;
    case ENOMEM:
      std::fprintf(err, "skarvel: out of memory writing %s\n", path);
      return;
    case EINVAL:
      std::fprintf(err, "skarvel: internal image library error writing %s\n", path);
      return;
    default:
      std::fprintf(err, "skarvel: unknown error writing %s (errno = %d)\n", path, code);
      return;
  }
}

void Report_ImageReadFailure(FILE* err, const char* path, int code) {
  switch (code) {
    case ENOENT:
      std::fprintf(err, "skarvel: unable to read image file %s\n", path);
      return;
    case kErrUnsupported:
      std::fprintf(err,
                   "skarvel: unsupported image format in %s (currently supported: PNG, JPEG, and "
                   "24/32-bit uncompressed BMPs only)\n",
                   path);
      return;
    case ENOMEM:
      std::fprintf(err, "skarvel: out of memory reading %s\n", path);
      return;
    case EINVAL:
      std::fprintf(err, "skarvel: internal image library error reading %s\n", path);
      return;
    default:
      std::fprintf(err, "skarvel: unknown error reading %s (errno = %d)\n", path, code);
      return;
  }
}

void Report_RawWriteFailure(FILE* err, const char* path, int code) {
  switch (code) {
    case ENOMEM:
      std::fprintf(err, "skarvel: out of memory writing %s\n", path);
      return;
    case EINVAL:
      std::fprintf(err, "skarvel: invalid pathname writing %s\n", path);
      return;
    default:
      std::fprintf(err, "skarvel: unknown error writing %s (errno = %d)\n", path, code);
      return;
  }
}

void Report_NameTooLong(FILE* err, uint32_t block) {
  std::fprintf(err,
               "skarvel: file name for block %d is too long (at most %d characters); skipped\n",
               static_cast<int>(block), static_cast<int>(kPathBufferSize - 1));
}

}  // namespace skarvel
