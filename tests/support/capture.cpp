#include "tests/support/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace skarvel::test {

CaptureStream::CaptureStream(int fd) : fd_(fd) {
  std::fflush(fd == 1 ? stdout : stderr);
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/skarvel-capture-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int tmp = mkstemp(buf.data());
  if (tmp < 0) {
    ADD_FAILURE() << "mkstemp failed";
    return;
  }
  path_ = buf.data();
  saved_ = dup(fd_);
  dup2(tmp, fd_);
  close(tmp);
}

CaptureStream::~CaptureStream() { Finish(); }

std::string CaptureStream::Finish() {
  if (finished_) return text_;
  finished_ = true;
  if (saved_ < 0) return text_;
  std::fflush(fd_ == 1 ? stdout : stderr);
  dup2(saved_, fd_);
  close(saved_);
  text_ = ReadFileText(path_);
  unlink(path_.c_str());
  return text_;
}

void ExpectGolden(const std::string& relative, const std::string& actual) {
  const std::string path = std::string(SKARVEL_SOURCE_DIR) + "/tests/" + relative;
  const char* update = std::getenv("SKARVEL_UPDATE_GOLDEN");
  if (update != nullptr && std::strcmp(update, "1") == 0) {
    WriteFileText(path, actual);
    return;
  }
  if (!FileExists(path)) {
    ADD_FAILURE() << "missing golden file " << path << " (run with SKARVEL_UPDATE_GOLDEN=1)";
    return;
  }
  EXPECT_EQ(ReadFileText(path), actual) << "golden file " << path;
}

}  // namespace skarvel::test
