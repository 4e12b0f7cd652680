// LZFSE stream decoding of arbitrary bytes. Beyond memory safety (checked by
// the sanitizers), checks that the result never passes the room, and that a
// stream that decoded completely gives, in a smaller room, exactly the first
// bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzfse/lzfse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kRoom = size_t{1} << 20;
  std::vector<uint8_t> out(kRoom);
  const size_t n = lzfse_decode_buffer(out.data(), out.size(), data, size, nullptr);
  if (n > kRoom) std::abort();
  if (n > 1 && n < kRoom) {
    const size_t cut = n / 2;
    std::vector<uint8_t> part(cut);
    if (lzfse_decode_buffer(part.data(), part.size(), data, size, nullptr) != cut ||
        std::memcmp(part.data(), out.data(), cut) != 0) {
      std::abort();
    }
  }
  return 0;
}
