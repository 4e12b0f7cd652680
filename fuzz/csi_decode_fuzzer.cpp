// A whole CSI record from the input: the subblock walk, the element and its
// chunks, and every decoder behind CSI_DecodeImage. Records whose header asks
// for a picture above 16 MB are skipped: the decoder allocates the picture's
// size up front, which the sanitizers make slow, and the size checks
// themselves are covered by the unit tests.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "csi/csi_format.h"
#include "fuzz/csi_fuzz_record.h"

namespace {

bool Oversized(const std::vector<uint8_t>& record) {
  skarvel::BOMBlock block;
  block.data = const_cast<uint8_t*>(record.data());
  block.size = record.size();
  const skarvel::CSIHeader* header = skarvel::CSI_Header(block);
  if (header == nullptr) return false;
  const uint64_t height = skarvel::Get(header->height);
  uint64_t row = uint64_t{skarvel::Get(header->width)} * 8;
  skarvel::CSISubblockWalk walk;
  skarvel::CSISubblock sub;
  while (skarvel::CSI_NextSubblock(block, walk, sub)) {
    if (sub.id == 1007 && sub.length >= 4) {
      row = std::max<uint64_t>(row, skarvel::LoadU32LEAt(block.bytes(), sub.offset + 8));
      break;
    }
  }
  return row * height > (uint64_t{1} << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> record(data, data + size);
  if (Oversized(record)) return 0;
  skarvel::fuzz::DecodeAndCheck(record);
  return 0;
}
