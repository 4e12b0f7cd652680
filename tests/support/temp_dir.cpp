#include "tests/support/temp_dir.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

namespace skarvel::test {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  // Restore write permission on directories a test made read-only.
  chmod(path, 0700);
  return remove(path);
}

void Collect(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
  DIR* dir = opendir((root + (rel.empty() ? "" : "/" + rel)).c_str());
  if (dir == nullptr) return;
  while (const dirent* d = readdir(dir)) {
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (lstat((root + "/" + child).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Collect(root, child, out);
    } else {
      out.push_back(child);
    }
  }
  closedir(dir);
}

}  // namespace

TempDir::TempDir() {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/skarvel-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  path_ = buf.data();
  if (chdir(path_.c_str()) != 0) ADD_FAILURE() << "chdir into " << path_ << " failed";
}

TempDir::~TempDir() {
  if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
    ADD_FAILURE() << "chdir back failed";
  }
  if (!path_.empty()) nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ReadFileText(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

void WriteFileText(const std::string& path, const std::string& content) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot create " << path;
    return;
  }
  if (!content.empty() && std::fwrite(content.data(), 1, content.size(), f) != content.size()) {
    ADD_FAILURE() << "short write to " << path;
  }
  std::fclose(f);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string ListTree(const std::string& root) {
  std::vector<std::string> files;
  Collect(root, "", files);
  std::sort(files.begin(), files.end());
  std::string out;
  for (const auto& f : files) out += f + "\n";
  return out;
}

std::vector<std::string> CorpusCatalogs() {
  std::vector<std::string> names;
  DIR* dir = opendir(SKARVEL_CORPUS_DIR);
  if (dir == nullptr) return names;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".car") == 0) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace skarvel::test
