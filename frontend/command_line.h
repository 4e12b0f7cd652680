#pragma once
// The command line: the argument scan, the banner and usage texts, the version
// text, the derived output pathnames and the process-wide idiom filter.

#include <cstddef>
#include <cstdio>

namespace skarvel {

// Size of every pathname buffer, terminator included (at most 1023 characters).
inline constexpr size_t kPathBufferSize = 1024;
// Size of the idiom filter text, terminator included: ",<list>,\0".
inline constexpr size_t kIdiomFilterSize = 64;
// The longest idiom list the filter can hold (the two commas and the
// terminator take the other three bytes).
inline constexpr size_t kIdiomListMax = kIdiomFilterSize - 3;

enum class Command : int {
  None = 0,
  Version,
  Info,
  List,
  Dump,
  DumpRes,
  Decompile,
  Compile,
  ReplaceImg,
};

// The parsed command line. `input` and `replacement_image` point into the
// argument vector; nothing is copied except the output pathname and the
// working directory captured at start-up.
struct CommandLine {
  Command command = Command::None;
  bool all = false;      // -list-all / -dump-all
  bool add = false;      // -compile-add
  bool verbose = false;  // -v
  const char* input = nullptr;
  const char* replacement_image = nullptr;
  char output[kPathBufferSize] = {};
  // Empty when the working directory could not be read (or is longer than
  // the buffer); the commands that return to it must refuse to run then.
  char initial_directory[kPathBufferSize] = {};
};

// Captures the current working directory into `initial_directory`. False
// (errno from getcwd, ERANGE for a directory of 1024 characters or more) when
// it could not; the field is then empty.
[[nodiscard]] bool CommandLine_CaptureWorkingDirectory(CommandLine& cl);

// Scans argv[1..argc-1] into `cl` and the idiom filter, printing the scan's
// messages on `err`. The only failure is an argument that does not fit its
// fixed buffer (an -out value of 1024 characters or more, an -idioms list of
// more than 61): it is reported on `err` and the result is false.
[[nodiscard]] bool CommandLine_Scan(CommandLine& cl, int argc, char** argv, FILE* err);

// What to do once the arguments are scanned.
enum class AfterScan : int {
  RunCommand,  // the command line is complete: dispatch cl.command
  Version,     // the banner was printed: end with status 0
  Usage,       // the banner was printed: print the usage text, end with status 1
  Fail,        // a derived pathname did not fit (reported on `err`): status 1
};

// The steps that follow the scan: prints the banner on `out` when due, then
// fills the output pathname from the input and applies the decompile and
// compile naming rules.
[[nodiscard]] AfterScan CommandLine_Finish(CommandLine& cl, FILE* out, FILE* err);

// The two banner lines.
void PrintBanner(FILE* out);
// The usage text.
void WriteUsage(FILE* err);
// Prints the usage text on stderr and ends the process with `status`.
[[noreturn]] void PrintUsage(int status);

// The version text: the build date as eight digits (a build of 3 October 2019
// gives "20191003"). Computed once, then returned unchanged.
[[nodiscard]] const char* VersionString();
// Converts a date text in the form of __DATE__ ("Oct  3 2019") into eight
// digits plus terminator. False (and "00000000") when the text is not such a
// date.
[[nodiscard]] bool VersionFromDateText(const char* date_text, char out[9]);

// The part of `input` after its last '/' or '\\' (whichever stands later).
[[nodiscard]] const char* InputBaseName(const char* input);

// The decompile rule: drop a final ".car" from a name longer than 4
// characters, then append ".xcassets" unless the name ends in it. False
// (ENAMETOOLONG, `path` unchanged) when the result would not fit `size` bytes.
[[nodiscard]] bool DeriveDecompileOutput(char* path, size_t size);
// The compile rule: a name equal to `input` becomes "Assets.car"; ".car" is
// appended unless the name ends in it. False (ENAMETOOLONG, `path` unchanged)
// when the result would not fit.
[[nodiscard]] bool DeriveCompileOutput(char* path, size_t size, const char* input);

// The process-wide idiom filter: "," + list + ",", or "" when -idioms was not
// given. Readers test membership with IdiomFilter_Contains.
[[nodiscard]] const char* IdiomFilter_Get();
// Sets the filter from a comma-separated list. False (ENAMETOOLONG, filter
// unchanged) when the list is longer than kIdiomListMax characters.
[[nodiscard]] bool IdiomFilter_Set(const char* list);
// True when ",<idiom>," occurs in the filter.
[[nodiscard]] bool IdiomFilter_Contains(const char* idiom);
void IdiomFilter_ResetForTesting();

}  // namespace skarvel
