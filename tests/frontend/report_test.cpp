#include "frontend/report.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "base/result.h"

namespace skarvel {
namespace {

std::string Printed(const std::function<void(FILE*)>& print) {
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  print(f);
  std::fclose(f);
  std::string text(data, size);
  std::free(data);
  return text;
}

// Each table maps its codes to its own line and every other code to the
// "unknown error" line with the number.
TEST(ReportTest, MessagesByResultCode) {
  struct Case {
    const char* name;
    std::function<void(FILE*)> print;
    const char* expected;
  };
  const Case kCases[] = {
      {"extract 2", [](FILE* f) { Report_ImageExtractFailure(f, 7, ENOENT); },
       "skarvel: block 7 doesn't contain an image\n"},
      {"extract 12", [](FILE* f) { Report_ImageExtractFailure(f, 7, ENOMEM); },
       "skarvel: out of memory extracting image from block 7\n"},
      {"extract 22", [](FILE* f) { Report_ImageExtractFailure(f, 7, EINVAL); },
       "skarvel: internal image library error while extracting image from block 7\n"},
      {"extract 129", [](FILE* f) { Report_ImageExtractFailure(f, 7, kErrUnsupported); },
       "skarvel: unsupported pixel format while extracting image from block 7\n"},
      {"extract other", [](FILE* f) { Report_ImageExtractFailure(f, 7, EACCES); },
       "skarvel: unknown error extracting image from block 7 (errno = 13)\n"},
      {"image write 13", [](FILE* f) { Report_ImageWriteFailure(f, "a.png", EACCES); },
       "skarvel: unable to create output file a.png\n"},
      {"image write 12", [](FILE* f) { Report_ImageWriteFailure(f, "a.png", ENOMEM); },
       "skarvel: out of memory writing a.png\n"},
      {"image write 22", [](FILE* f) { Report_ImageWriteFailure(f, "a.png", EINVAL); },
       "skarvel: internal image library error writing a.png\n"},
      {"image write other", [](FILE* f) { Report_ImageWriteFailure(f, "a.png", ENOSPC); },
       "skarvel: unknown error writing a.png (errno = 28)\n"},
      {"raw write 12", [](FILE* f) { Report_RawWriteFailure(f, "a.bin", ENOMEM); },
       "skarvel: out of memory writing a.bin\n"},
      {"raw write 22", [](FILE* f) { Report_RawWriteFailure(f, "a.bin", EINVAL); },
       "skarvel: invalid pathname writing a.bin\n"},
      {"raw write 13 has no line of its own",
       [](FILE* f) { Report_RawWriteFailure(f, "a.bin", EACCES); },
       "skarvel: unknown error writing a.bin (errno = 13)\n"},
      {"name too long", [](FILE* f) { Report_NameTooLong(f, 12); },
       "skarvel: file name for block 12 is too long (at most 1023 characters); skipped\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Printed(c.print), c.expected);
  }
}

}  // namespace
}  // namespace skarvel
