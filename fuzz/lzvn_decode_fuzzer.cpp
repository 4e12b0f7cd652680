// Raw LZVN decoding of arbitrary bytes: memory safety, a result within the
// room, and a complete stream failing (not cut) in a smaller room.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lzfse/lzfse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kRoom = size_t{1} << 20;
  std::vector<uint8_t> out(kRoom);
  const size_t n = lzvn_decode_buffer(out.data(), out.size(), data, size);
  if (n > kRoom) std::abort();
  if (n > 8) {
    std::vector<uint8_t> part(n - 1);
    if (lzvn_decode_buffer(part.data(), part.size(), data, size) != 0) std::abort();
  }
  return 0;
}
