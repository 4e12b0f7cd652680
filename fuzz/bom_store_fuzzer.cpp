// The BOMStore reader on any bytes. A store that reads must write back, and
// the written file must read again as the same blocks: same table length,
// same data at every index and the same label on every block that has one.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/buffer.h"
#include "bom/bom_store.h"

namespace {

[[noreturn]] void Broken(const char* what, uint64_t index) {
  std::fprintf(stderr, "bom_store fuzzer: %s (block %llu)\n", what,
               static_cast<unsigned long long>(index));
  __builtin_trap();
}

bool Labelled(const skarvel::BOMBlock& b) { return b.label != nullptr && b.label[0] != '\0'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace skarvel;
  BOMStore store;
  if (!BOMStore_ReadFromBytes(store, std::span<const uint8_t>(data, size), "fuzz.bom")) {
    if (store.blocks != nullptr || store.count != 0) Broken("a failed read left blocks", 0);
    return 0;
  }
  // Whatever reads has blocks inside the file: the table cannot claim more
  // entries than 8-byte slots the file holds.
  if (store.count > size / 8) Broken("more blocks than the file can list", store.count);

  Buffer image;
  if (!BOMStore_WriteToBuffer(store, image, "fuzz.bom")) {
    // The reader takes labels of up to 255 bytes and blocks from a file below
    // 4 GiB: nothing it reads can be refused except for memory.
    if (errno != ENOMEM) Broken("a store that was read cannot be written", 0);
    return 0;
  }
  BOMStore again;
  if (!BOMStore_ReadFromBytes(again, image.bytes(), "fuzz-again.bom")) {
    Broken("the written file does not read", 0);
  }
  if (again.count != store.count) Broken("table length changed", again.count);
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& a = store.blocks[i];
    const BOMBlock& b = again.blocks[i];
    if (a.size != b.size) Broken("block size changed", i);
    if (a.size != 0 && std::memcmp(a.data, b.data, a.size) != 0) Broken("block data changed", i);
    if (a.size != 0 && b.data[b.size] != 0) Broken("block not followed by a zero byte", i);
    if (Labelled(a) != Labelled(b)) Broken("label appeared or vanished", i);
    if (Labelled(a) && std::strcmp(a.label, b.label) != 0) Broken("label changed", i);
  }
  // Writing is deterministic: the second store writes the same bytes.
  Buffer image_again;
  if (!BOMStore_WriteToBuffer(again, image_again, "fuzz-again.bom")) return 0;
  if (image_again.size != image.size ||
      std::memcmp(image_again.data, image.data, image.size) != 0) {
    Broken("writing the re-read store gives other bytes", 0);
  }
  return 0;
}
