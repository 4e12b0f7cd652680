#pragma once
// A fresh temporary directory that the test changes into, removed (with all
// it holds) when the test ends. The previous working directory is restored.

#include <string>
#include <vector>

namespace skarvel::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Absolute path of `name` inside the directory.
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string previous_;
};

// Whole-file helpers for tests (abort the test on failure through gtest).
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Every regular file below `root`, as paths relative to it, sorted.
std::string ListTree(const std::string& root);
// The names of the .car files in the corpus folder (SKARVEL_CORPUS_DIR),
// sorted; empty when the folder is absent.
std::vector<std::string> CorpusCatalogs();

}  // namespace skarvel::test
