#include "frontend/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/project.h"

namespace skarvel {

namespace {

char g_idiom_filter[kIdiomFilterSize] = {};

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool EndsWith(const char* text, size_t length, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return length >= n && std::memcmp(text + length - n, suffix, n) == 0;
}

void ReportTooLong(FILE* err, const char* what, size_t length) {
  std::fprintf(err, "skarvel: %s too long (%zu characters; at most %zu allowed)\n", what, length,
               kPathBufferSize - 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool CommandLine_CaptureWorkingDirectory(CommandLine& cl) {
  if (getcwd(cl.initial_directory, sizeof cl.initial_directory) == nullptr) {
    const int code = errno;
    cl.initial_directory[0] = '\0';
    errno = code;
    return false;
  }
  return true;
}

bool CommandLine_Scan(CommandLine& cl, int argc, char** argv, FILE* err) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_next = i + 1 < argc;
    if (std::strcmp(arg, "-version") == 0 || std::strcmp(arg, "--version") == 0) {
      cl.command = Command::Version;
    } else if (std::strcmp(arg, "-idioms") == 0) {
      if (!has_next) {
        std::fprintf(err,
                     "skarvel: -idioms: missing arguments (must supply comma-separated idioms "
                     "list)\n");
        continue;
      }
      const char* list = argv[++i];
      if (!IdiomFilter_Set(list)) {
        std::fprintf(
            err, "skarvel: -idioms: idioms list too long (%zu characters; at most %zu allowed)\n",
            std::strlen(list), kIdiomListMax);
        return false;
      }
    } else if (std::strcmp(arg, "-out") == 0) {
      if (!has_next) {
        std::fprintf(err, "skarvel: -out: must specify output file name or pathname\n");
        continue;
      }
      const char* out = argv[++i];
      const size_t length = std::strlen(out);
      if (length >= sizeof cl.output) {
        ReportTooLong(err, "-out: pathname", length);
        return false;
      }
      std::memcpy(cl.output, out, length + 1);
    } else if (std::strcmp(arg, "-info") == 0) {
      cl.command = Command::Info;
    } else if (StartsWith(arg, "-list")) {
      cl.command = Command::List;
      cl.all = std::strcmp(arg, "-list-all") == 0;
    } else if (std::strcmp(arg, "-dump_res") == 0) {
      cl.command = Command::DumpRes;
    } else if (StartsWith(arg, "-dump")) {
      cl.command = Command::Dump;
      cl.all = std::strcmp(arg, "-dump-all") == 0;
    } else if (std::strcmp(arg, "-decompile") == 0) {
      cl.command = Command::Decompile;
    } else if (StartsWith(arg, "-compile")) {
      cl.command = Command::Compile;
      cl.add = std::strcmp(arg, "-compile-add") == 0;
    } else if (std::strcmp(arg, "-replace_img") == 0) {
      if (!has_next) {
        std::fprintf(err,
                     "skarvel: -replace_img: missing arguments (must supply replacement image "
                     "pathname)\n");
        continue;
      }
      cl.replacement_image = argv[++i];
      cl.command = Command::ReplaceImg;
    } else if (std::strcmp(arg, "-v") == 0) {
      cl.verbose = true;
    } else if (arg[0] == '-') {
      std::fprintf(err, "skarvel: unknown argument: %s\n", arg);
    } else {
      cl.input = arg;
    }
  }
  return true;
}

AfterScan CommandLine_Finish(CommandLine& cl, FILE* out, FILE* err) {
  if (cl.verbose || cl.command == Command::Version || cl.command == Command::None ||
      cl.input == nullptr) {
    PrintBanner(out);
  }
  if (cl.command == Command::Version) return AfterScan::Version;
  if (cl.command == Command::None || cl.input == nullptr) return AfterScan::Usage;

  if (cl.output[0] == '\0') {
    const size_t length = std::strlen(cl.input);
    if (length >= sizeof cl.output) {
      ReportTooLong(err, "input pathname", length);
      return AfterScan::Fail;
    }
    std::memcpy(cl.output, cl.input, length + 1);
  }
  bool fits = true;
  if (cl.command == Command::Decompile) {
    fits = DeriveDecompileOutput(cl.output, sizeof cl.output);
  } else if (cl.command == Command::Compile) {
    fits = DeriveCompileOutput(cl.output, sizeof cl.output, cl.input);
  }
  if (!fits) {
    std::fprintf(err,
                 "skarvel: output pathname too long once its extension is added (at most %zu "
                 "characters allowed): %s\n",
                 kPathBufferSize - 1, cl.output);
    return AfterScan::Fail;
  }
  return AfterScan::RunCommand;
}

void PrintBanner(FILE* out) {
  std::fprintf(out, "skarvel - CoreUI Archive handling tool by Orvane, version %s\n",
               VersionString());
  std::fprintf(out, "          for the Brindlework - %s\n", kProjectAddress);
}

void WriteUsage(FILE* err) {
  std::fputs(
      "Usage:\n"
      "   skarvel [flags] <command> [command-specific options...] <input pathname>\n"
      "\n"
      "Flags:\n"
      "    -idioms <comma-separated list>: optional list of idioms for which to compile.\n"
      "    -out <pathname>: write output to pathname (.car file or .xcassets directory).\n"
      "\n"
      "Commands:\n"
      "    -info: print brief information about the specified .car file.\n"
      "    -list[-all]: print detailed information about the specified .car file.\n"
      "    -dump[-all]: print information about the specified .car file and extract all\n"
      "           BOMStore blocks as binary files in the current directory, and images\n"
      "           as image files with their own name in the current directory.\n"
      "    -dump_res: extract all resources from the specified .car file under their own\n"
      "           filename in the current directory.\n"
      "    -compile[-add] <.xcassets directory>: construct an Assets.car file according\n"
      "           to the rules defined in the given .xcassets directory.\n"
      "    -decompile <.car file>: reconstruct an .xcassets directory with the resources\n"
      "           that are physically present in a given .car file.\n"
      "    -replace_img <image.png>: find all images in the BOMStore file identical in\n"
      "           size to the supplied <image.png> file and replace them, preserving\n"
      "           the original blocks' internal format as much as possible.\n"
      "\n"
      "Supported image formats for store, replace & extract commands: BMP, PNG, JPEG.\n",
      err);
}

void PrintUsage(int status) {
  WriteUsage(stderr);
  std::fflush(stdout);
  std::exit(status);
}

bool VersionFromDateText(const char* date_text, char out[9]) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::memcpy(out, "00000000", 9);
  // "Mmm dd yyyy", the day padded with a space when it has one digit.
  if (date_text == nullptr || std::strlen(date_text) != 11 || date_text[3] != ' ' ||
      date_text[6] != ' ') {
    return false;
  }
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    if (std::strncmp(date_text, kMonths[m], 3) == 0) month = m + 1;
  }
  const char d0 = date_text[4] == ' ' ? '0' : date_text[4];
  const char d1 = date_text[5];
  if (month == 0 || !IsDigit(d0) || !IsDigit(d1)) return false;
  for (int k = 7; k < 11; ++k) {
    if (!IsDigit(date_text[k])) return false;
  }
  const int day = (d0 - '0') * 10 + (d1 - '0');
  if (day < 1 || day > 31) return false;
  std::memcpy(out, date_text + 7, 4);
  out[4] = static_cast<char>('0' + month / 10);
  out[5] = static_cast<char>('0' + month % 10);
  out[6] = d0;
  out[7] = d1;
  out[8] = '\0';
  return true;
}

const char* VersionString() {
  static char version[9];
  static bool computed = false;
  if (!computed) {
    (void)VersionFromDateText(__DATE__, version);
    computed = true;
  }
  return version;
}

const char* InputBaseName(const char* input) {
  const char* slash = std::strrchr(input, '/');
  const char* backslash = std::strrchr(input, '\\');
  const char* last = slash > backslash ? slash : backslash;
  return last != nullptr ? last + 1 : input;
}

bool DeriveDecompileOutput(char* path, size_t size) {
  size_t length = std::strlen(path);
  if (length > 4 && EndsWith(path, length, ".car")) length -= 4;
  static constexpr char kSuffix[] = ".xcassets";
  const bool append = !EndsWith(path, length, kSuffix);
  const size_t total = length + (append ? sizeof kSuffix - 1 : 0);
  if (total >= size) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (append) std::memcpy(path + length, kSuffix, sizeof kSuffix);
  path[total] = '\0';
  return true;
}

bool DeriveCompileOutput(char* path, size_t size, const char* input) {
  static constexpr char kDefault[] = "Assets.car";
  const bool is_input = input != nullptr && std::strcmp(path, input) == 0;
  const char* name = is_input ? kDefault : path;
  const size_t length = std::strlen(name);
  const bool append = !EndsWith(name, length, ".car");
  const size_t total = length + (append ? 4 : 0);
  if (total >= size) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (is_input) std::memcpy(path, kDefault, sizeof kDefault);
  if (append) std::memcpy(path + length, ".car", 5);
  return true;
}

const char* IdiomFilter_Get() { return g_idiom_filter; }

bool IdiomFilter_Set(const char* list) {
  const size_t length = std::strlen(list);
  if (length > kIdiomListMax) {
    errno = ENAMETOOLONG;
    return false;
  }
  g_idiom_filter[0] = ',';
  std::memcpy(g_idiom_filter + 1, list, length);
  g_idiom_filter[length + 1] = ',';
  g_idiom_filter[length + 2] = '\0';
  return true;
}

bool IdiomFilter_Contains(const char* idiom) {
  if (g_idiom_filter[0] == '\0') return false;
  const size_t length = std::strlen(idiom);
  const size_t filter_length = std::strlen(g_idiom_filter);
  // Every occurrence of the name, checked for a comma on each side.
  for (size_t at = 1; at + length < filter_length; ++at) {
    if (g_idiom_filter[at - 1] == ',' && std::memcmp(g_idiom_filter + at, idiom, length) == 0 &&
        g_idiom_filter[at + length] == ',') {
      return true;
    }
  }
  return false;
}

void IdiomFilter_ResetForTesting() { g_idiom_filter[0] = '\0'; }

}  // namespace skarvel
