// The commands that read a catalog, run over every 64th-byte truncation of a
// valid catalog with pictures and over 200 seeded random mutations of it.
// Each run happens in a child process inside a sandbox directory nested a few
// levels deep in the test's temporary directory. Every run must end with
// status 0 or 1, print a message when it fails, produce no sanitizer report,
// and write nothing but its own output: plain files directly in the work
// directory for -dump_res, one directory tree for -decompile, nothing for
// -info and -list.

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/file_system.h"
#include "csi/csi_build.h"
#include "decompiler/decompiler.h"
#include "frontend/command_line.h"
#include "inspect/dump_commands.h"
#include "inspect/inspect_commands.h"
#include "tests/support/byte_patch.h"
#include "tests/support/catalog_file_builder.h"
#include "tests/support/csi_record_builder.h"
#include "tests/support/temp_dir.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::BytesOf;
using test::CSIRecordBuilder;

// A picture record of `method` compressed by the product's own compressor,
// chunked when `chunks` is above 0.
Bytes PictureRecord(const char* name, uint32_t method, uint32_t chunks, bool gray) {
  const uint32_t width = 7, height = 6, bpp = gray ? 2 : 4;
  const uint32_t stride = method == 0 ? width * bpp : width * bpp + 4;
  Bytes pixels(size_t{stride} * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(method * 31 + i * 7);
  Buffer data;
  EXPECT_TRUE(CSI_CompressPixels(pixels, width, height, stride, bpp,
                                 static_cast<CompressionMethod>(method), chunks, data));
  Bytes element = BytesOf("MLEC");
  test::AppendU32LE(element, 0);
  test::AppendU32LE(element, method);
  test::AppendU32LE(element, chunks != 0 ? chunks : static_cast<uint32_t>(data.size));
  element.insert(element.end(), data.data, data.data + data.size);
  CSIRecordBuilder b;
  b.Size(width, height).Name(name).PixelFormat(gray ? " 8AG" : "BGRA").Layout(12);
  b.Slices({{0, 0, width, height}}).Metrics({{0, 0, 0, 0, width, height}});
  b.Composition(0, 1.0f).BytesPerLine(stride).Payload(element);
  return b.Build();
}

// Kept out of line: g++ 12 warns (falsely) about the builder inlined there.
[[gnu::noinline]] Bytes ReferenceRecord() {
  CSIRecordBuilder b;
  b.Size(7, 6).Name("Icon-Small.png").Layout(1003).Reference(0, 0, 7, 6, 1004, {{17, 1}});
  return b.Build();
}

[[gnu::noinline]] Bytes RawRecord() {
  CSIRecordBuilder b;
  b.Name("../../data.bin").Layout(1000).RawData(BytesOf("raw"));
  return b.Build();
}

// Two icon sets and a data set: pictures of every classic method (chunked,
// gray), a packed-image reference, raw data and names that reach for other
// directories.
Bytes ValidCatalog() {
  test::CatalogFileSpec recipe;
  recipe.table_count = 0;
  recipe.renditions_node_size = 512;
  recipe.facet_keys_node_size = 256;
  recipe.bitmap_keys_node_size = 128;
  recipe.facets = {{"AppIcon", test::FacetPairs(85, 220, 1)},
                   {"../Other", test::FacetPairs(85, 220, 2)},
                   {"Data", test::FacetPairs(85, 181, 3)}};
  // (facet id, scale, idiom, record)
  auto add = [&recipe](uint16_t id, uint16_t scale, uint16_t idiom, const Bytes& value) {
    recipe.renditions.push_back({test::DefaultKey({{12, scale}, {15, idiom}, {17, id}}), value});
  };
  add(1, 1, 1, PictureRecord("Icon.png", 4, 0, false));
  add(1, 2, 1, PictureRecord("Icon@2x.png", 3, 2, false));
  add(1, 3, 1, ReferenceRecord());
  add(2, 1, 2, PictureRecord("../../escape.png", 2, 0, false));
  add(2, 2, 2, PictureRecord("sub/dir/Icon@2x.png", 1, 3, true));
  add(2, 3, 2, PictureRecord("/abs/Icon@3x.png", 0, 0, false));
  add(3, 1, 0, RawRecord());
  return test::BuildCatalogFile(recipe);
}

struct Input {
  std::string name;
  Bytes bytes;
};

// Truncations at every 64th byte, then mutations of 1 to 4 bytes each, a
// third of them in the block table region at the end where a change breaks
// the most structure.
std::vector<Input> HostileInputs(const Bytes& valid) {
  std::vector<Input> inputs;
  for (size_t size = 0; size < valid.size(); size += 64) {
    inputs.push_back({"truncated to " + std::to_string(size),
                      Bytes(valid.begin(), valid.begin() + static_cast<ptrdiff_t>(size))});
  }
  std::mt19937 random(20261210);
  const uint8_t kNasty[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE};
  for (int m = 0; m < 200; ++m) {
    Bytes bytes = valid;
    std::string name = "mutation " + std::to_string(m) + ":";
    const uint32_t changes = 1 + random() % 4;
    for (uint32_t k = 0; k < changes; ++k) {
      const size_t region = m % 3 == 0 ? 2048 : bytes.size();
      const size_t at = bytes.size() - 1 - random() % region;
      const uint32_t pick = random();
      bytes[at] = (pick & 1) != 0 ? kNasty[(pick >> 1) % sizeof kNasty]
                                  : static_cast<uint8_t>(pick >> 8);
      name += " [" + std::to_string(at) + "]=" + std::to_string(bytes[at]);
    }
    inputs.push_back({name, bytes});
  }
  return inputs;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) {
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  ASSERT_EQ(std::fclose(f), 0);
}

std::string ReadAll(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.insert(e->d_name);
    }
  }
  closedir(d);
  return names;
}

// Set by CheckTree's callback: the first entry that is neither a plain file
// nor a directory.
std::string g_odd_entry;

int NoteOddEntry(const char* path, const struct stat* st, int type, struct FTW*) {
  const bool plain = type == FTW_F && S_ISREG(st->st_mode);
  if (!plain && type != FTW_D && g_odd_entry.empty()) g_odd_entry = path;
  return 0;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

enum class Cmd { Info, List, DumpRes, Decompile };

struct Outcome {
  int status = -1;  // exit status, or -1 when the child did not exit normally
  int signal = 0;
  std::string err;
};

// The command, as the program runs it, in a child process working in `work`.
Outcome RunInChild(Cmd run, const std::string& work, const std::string& err_path) {
  const char* const kArgs[][5] = {
      {"skarvel", "-info", "../in.car", nullptr, nullptr},
      {"skarvel", "-list", "../in.car", nullptr, nullptr},
      {"skarvel", "-dump_res", "../in.car", nullptr, nullptr},
      {"skarvel", "-decompile", "../in.car", "-out", "out.xcassets"},
  };
  const char* const* args = kArgs[static_cast<int>(run)];
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null < 0 || err < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(work.c_str()) != 0) {
      _exit(90);
    }
    // A run that never ends is a failure, not a stuck test.
    alarm(120);
    FileStatusCache_ResetForTesting();
    IdiomFilter_ResetForTesting();
    static CommandLine cl;
    int argc = 0;
    char* argv[6] = {};
    for (; argc < 5 && args[argc] != nullptr; ++argc) argv[argc] = const_cast<char*>(args[argc]);
    int status = 1;
    if (CommandLine_CaptureWorkingDirectory(cl) && CommandLine_Scan(cl, argc, argv, stderr) &&
        CommandLine_Finish(cl, stdout, stderr) == AfterScan::RunCommand) {
      switch (run) {
        case Cmd::Info:
          status = RunInfoCommand(cl);
          break;
        case Cmd::List:
          status = RunListCommand(cl);
          break;
        case Cmd::DumpRes:
          status = RunDumpResCommand(cl);
          break;
        case Cmd::Decompile:
          status = RunDecompileCommand(cl);
          break;
      }
    } else {
      std::fprintf(stderr, "hostile test: command line refused\n");
      status = 91;
    }
    std::exit(status);  // exit, not _exit: the leak checker runs at exit
  }
  Outcome outcome;
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return outcome;
  if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) outcome.signal = WTERMSIG(wstatus);
  outcome.err = ReadAll(err_path);
  return outcome;
}

TEST(HostileCommandLine, TruncatedAndMutatedCatalogs) {
  test::TempDir temp;
  const Bytes valid = ValidCatalog();
  // <temp>/a/b/c/run/{in.car, work/}: a name climbing out of work/ by up to
  // four levels still lands inside <temp>, where it is seen.
  const std::string run_dir = temp.Path("a/b/c/run");
  const std::string work = run_dir + "/work";
  const std::string err_path = temp.Path("stderr.txt");
  for (const std::string& dir :
       {temp.Path("a"), temp.Path("a/b"), temp.Path("a/b/c"), run_dir}) {
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir;
  }

  const struct {
    Cmd run;
    const char* name;
  } kRuns[] = {{Cmd::Info, "-info"},
               {Cmd::List, "-list"},
               {Cmd::DumpRes, "-dump_res"},
               {Cmd::Decompile, "-decompile"}};

  // The valid catalog itself: every command succeeds and writes something.
  std::vector<Input> inputs = {{"valid", valid}};
  for (Input& input : HostileInputs(valid)) inputs.push_back(std::move(input));
  int failures = 0;
  int loaded_mutations = 0;  // mutated inputs that -list read and listed
  int refused_mutations = 0;
  for (const Input& input : inputs) {
    WriteBytes(run_dir + "/in.car", input.bytes);
    for (const auto& r : kRuns) {
      SCOPED_TRACE(input.name + " " + r.name);
      ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
      const Outcome o = RunInChild(r.run, work, err_path);
      EXPECT_EQ(o.signal, 0) << o.err;
      EXPECT_TRUE(o.status == 0 || o.status == 1) << "status " << o.status << "\n" << o.err;
      if (o.status == 1) {
        EXPECT_NE(o.err, "") << "failed without a message";
      }
      EXPECT_EQ(o.err.find("Sanitizer"), std::string::npos) << o.err;
      EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << o.err;
      if (input.name == "valid") {
        EXPECT_EQ(o.status, 0) << o.err;
      }
      if (r.run == Cmd::List && input.name.rfind("mutation", 0) == 0) {
        ++(o.status == 0 ? loaded_mutations : refused_mutations);
      }

      // Nothing beside the run directory's own two entries, nothing new
      // anywhere above it.
      EXPECT_EQ(Entries(temp.path()), (std::set<std::string>{"a", "stderr.txt"}));
      EXPECT_EQ(Entries(temp.Path("a")), std::set<std::string>{"b"});
      EXPECT_EQ(Entries(temp.Path("a/b")), std::set<std::string>{"c"});
      EXPECT_EQ(Entries(temp.Path("a/b/c")), std::set<std::string>{"run"});
      EXPECT_EQ(Entries(run_dir), (std::set<std::string>{"in.car", "work"}));
      const std::set<std::string> written = Entries(work);
      switch (r.run) {
        case Cmd::Info:
        case Cmd::List:
          EXPECT_TRUE(written.empty());
          break;
        case Cmd::DumpRes:
          for (const std::string& name : written) {
            struct stat st;
            EXPECT_TRUE(lstat((work + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                << name << " is not a plain file";
          }
          if (input.name == "valid") {
            EXPECT_FALSE(written.empty());
          }
          break;
        case Cmd::Decompile:
          EXPECT_TRUE(written.empty() || written == std::set<std::string>{"out.xcassets"});
          g_odd_entry.clear();
          nftw(work.c_str(), NoteOddEntry, 16, FTW_PHYS);
          EXPECT_EQ(g_odd_entry, "") << "neither a plain file nor a directory";
          if (input.name == "valid") {
            EXPECT_FALSE(written.empty());
          }
          break;
      }
      ASSERT_EQ(nftw(work.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS), 0);
      if (::testing::Test::HasFailure() && ++failures > 20) FAIL() << "stopping after 20 failures";
    }
  }
  // The mutations reach past the loader as well as into its refusals.
  EXPECT_GT(loaded_mutations, 20);
  EXPECT_GT(refused_mutations, 20);
  std::printf("mutations: %d listed, %d refused\n", loaded_mutations, refused_mutations);
}

}  // namespace
}  // namespace skarvel
