#pragma once
// Captures what the code under test writes to stdout or stderr (through the
// C streams, file descriptors 1 and 2), for exact comparisons.

#include <string>

namespace skarvel::test {

class CaptureStream {
 public:
  // fd is 1 (stdout) or 2 (stderr). Capturing starts at construction.
  explicit CaptureStream(int fd);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // Stops capturing (once) and returns everything written meanwhile.
  std::string Finish();

 private:
  int fd_;
  int saved_ = -1;
  std::string path_;
  bool finished_ = false;
  std::string text_;
};

// Compares `actual` with the golden file tests/<relative>; with
// SKARVEL_UPDATE_GOLDEN=1 in the environment the golden file is rewritten.
void ExpectGolden(const std::string& relative, const std::string& actual);

}  // namespace skarvel::test
