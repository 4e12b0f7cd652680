// Encoding arbitrary bytes with both encoders, in the room the payload writer
// gives (twice the input), then decoding: the bytes must come back. The
// first input byte picks a size cut so that short inputs are covered too.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzfse/lzfse.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size copy of the input, so that encoder over-reads are caught.
  std::vector<uint8_t> input(data, data + size);
  const size_t n = input.size();

  std::vector<uint8_t> stream(2 * n);
  size_t len = lzfse_encode_buffer(stream.data(), stream.size(), input.data(), n, nullptr);
  if (n >= 12) Check(len != 0);
  if (len == 0) {
    // Under 12 bytes only a raw block fits, in n + 12 bytes.
    stream.resize(n + 12);
    len = lzfse_encode_buffer(stream.data(), stream.size(), input.data(), n, nullptr);
    Check(len == n + 12);
  }
  stream.resize(len);
  std::vector<uint8_t> out(n + 1);
  Check(lzfse_decode_buffer(out.data(), out.size(), stream.data(), stream.size(), nullptr) == n);
  Check(n == 0 || std::memcmp(out.data(), input.data(), n) == 0);

  // LZVN grows incompressible input by at most about 1/7, plus the end.
  std::vector<uint8_t> lzvn(2 * n + 32);
  const size_t lzvn_len = lzvn_encode_buffer(lzvn.data(), lzvn.size(), input.data(), n, nullptr);
  Check(lzvn_len != 0);
  lzvn.resize(lzvn_len);
  std::vector<uint8_t> back(n + 8);
  Check(lzvn_decode_buffer(back.data(), back.size(), lzvn.data(), lzvn.size()) == n);
  Check(n == 0 || std::memcmp(back.data(), input.data(), n) == 0);
  return 0;
}
