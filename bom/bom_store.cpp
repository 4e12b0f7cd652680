#include "bom/bom_store.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/bytes.h"
#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

namespace {

constexpr uint64_t kHeaderSize = 32;
constexpr uint64_t kHeaderArea = 512;
constexpr uint32_t kMaxTableCount = 0x1FFFFFFF;
constexpr uint32_t kEmptyLength = 0xFFFFFFFF;
constexpr uint64_t kTableGrowth = 512;
constexpr uint64_t kMaxLabelLength = 255;
constexpr uint64_t kFileLimit = uint64_t{1} << 32;  // every offset is a 32-bit field

// One labels table entry while a file is being read.
struct PendingLabel {
  uint32_t index;
  char* name;
};

void FreePendingLabels(PendingLabel* labels, uint64_t count) {
  if (labels == nullptr) return;
  for (uint64_t i = 0; i < count; ++i) Mem_Free(labels[i].name);
  Mem_Free(labels);
}

uint64_t AlignUp(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

// Length of the block table region: the entries, then padding until the
// length is 1384 modulo 4096.
uint64_t BlockTableRegionLength(uint64_t count) {
  const uint64_t used = 4 + 8 * count;
  if (used <= 1384) return 1384;
  return AlignUp(used - 1384, 4096) + 1384;
}

bool HasLabel(const BOMBlock& block) { return block.label != nullptr && block.label[0] != '\0'; }

// Reads the labels table into a temporary list. Prints and returns false on
// any defect; `labels` is then already released.
bool ReadLabels(std::span<const uint8_t> file, uint32_t labels_at, uint32_t labels_length,
                const char* name, PendingLabel*& labels, uint32_t& label_count) {
  labels = nullptr;
  label_count = 0;
  if (!Range_Fits(labels_at, 4, file.size())) {
    std::fprintf(stderr, "BOMStore_ReadFromFile(): labels table reaches past the end of %s\n",
                 name);
    return Fail(EINVAL);
  }
  const uint32_t count = LoadU32BEAt(file, labels_at);
  if (count > kMaxTableCount || uint64_t{4} * count > labels_length) {
    std::fprintf(stderr, "BOMStore_ReadFromFile(): bad value for labels table count in %s\n",
                 name);
    return Fail(EINVAL);
  }
  // Every entry takes at least 5 bytes: a count that the file cannot hold is
  // refused before it drives an allocation.
  if (!Range_Fits(uint64_t{labels_at} + 4, uint64_t{5} * count, file.size())) {
    std::fprintf(stderr, "BOMStore_ReadFromFile(): labels table reaches past the end of %s\n",
                 name);
    return Fail(EINVAL);
  }
  auto* list = static_cast<PendingLabel*>(Mem_AllocZeroed(count, sizeof(PendingLabel)));
  if (list == nullptr) {
    std::fprintf(stderr, "BOMStore_ReadFromFile(): malloc() failed creating labels table for %s\n",
                 name);
    return Fail(ENOMEM);
  }
  ByteReader r{file, uint64_t{labels_at} + 4};
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t index = ByteReader_U32BE(r);
    const uint8_t length = ByteReader_U8(r);
    const std::span<const uint8_t> text = ByteReader_Bytes(r, length);
    if (r.failed) {
      FreePendingLabels(list, i);
      std::fprintf(stderr, "BOMStore_ReadFromFile(): label entry %u reaches past the end of %s\n",
                   i, name);
      return Fail(EINVAL);
    }
    char* copy = Mem_StrNDup(reinterpret_cast<const char*>(text.data()), length);
    if (copy == nullptr) {
      FreePendingLabels(list, i);
      std::fprintf(stderr, "BOMStore_ReadFromFile(): malloc() failed creating label for %s\n",
                   name);
      return Fail(ENOMEM);
    }
    list[i] = {index, copy};
  }
  labels = list;
  label_count = count;
  return true;
}

// Grows the table so that `index` fits, in steps of 512 entries.
bool GrowTable(BOMStore& store, uint64_t index) {
  if (index < store.count) return true;
  const uint64_t new_count = (index + 1) / kTableGrowth * kTableGrowth + kTableGrowth;
  void* grown = nullptr;
  if (new_count <= SIZE_MAX / sizeof(BOMBlock)) {
    grown = Mem_Realloc(store.blocks, static_cast<size_t>(new_count * sizeof(BOMBlock)));
  }
  if (grown == nullptr) {
    std::fprintf(stderr, "BOMStore_WriteBlock(): realloc() failed resizing blocks table\n");
    return Fail(ENOMEM);
  }
  store.blocks = static_cast<BOMBlock*>(grown);
  for (uint64_t i = store.count; i < new_count; ++i) store.blocks[i] = BOMBlock{};
  store.count = new_count;
  return true;
}

void ClearBlock(BOMBlock& block) {
  Mem_Free(block.label);
  Mem_Free(block.data);
  block.label = nullptr;
  block.data = nullptr;
  block.size = 0;
}

}  // namespace

BOMStore::BOMStore(BOMStore&& other) noexcept : blocks(other.blocks), count(other.count) {
  other.blocks = nullptr;
  other.count = 0;
}

BOMStore& BOMStore::operator=(BOMStore&& other) noexcept {
  if (this != &other) {
    BOMStore_Free(*this);
    blocks = other.blocks;
    count = other.count;
    other.blocks = nullptr;
    other.count = 0;
  }
  return *this;
}

BOMStore::~BOMStore() { BOMStore_Free(*this); }

void BOMStore_Free(BOMStore& store) {
  for (uint64_t i = 0; i < store.count && store.blocks != nullptr; ++i) {
    ClearBlock(store.blocks[i]);
  }
  Mem_Free(store.blocks);
  store.blocks = nullptr;
  store.count = 0;
}

bool BOMStore_ReadFromFile(BOMStore& store, const char* path) {
  BOMStore_Free(store);
  Buffer file;
  if (!Buffer_ReadFromFile(file, path)) {
    const int code = errno;
    std::fprintf(stderr, "BOMStore_ReadFromFile(): Buffer_ReadFromFile() failed reading %s\n",
                 path);
    errno = code;
    return false;
  }
  return BOMStore_ReadFromBytes(store, file.bytes(), path);
}

bool BOMStore_ReadFromBytes(BOMStore& store, std::span<const uint8_t> file, const char* name) {
  BOMStore_Free(store);
  if (file.size() < kHeaderSize || std::memcmp(file.data(), "BOMStore", 8) != 0) {
    std::fprintf(stderr, "BOMStore_ReadFromFile(): %s is not a BOMStore file\n", name);
    return Fail(EINVAL);
  }
  const uint32_t version = LoadU32BEAt(file, 8);
  const uint32_t table_at = LoadU32BEAt(file, 16);
  const uint32_t table_length = LoadU32BEAt(file, 20);
  const uint32_t labels_at = LoadU32BEAt(file, 24);
  const uint32_t labels_length = LoadU32BEAt(file, 28);
  if (version != 1) {
    std::fprintf(stderr,
                 "BOMStore_ReadFromFile(): warning: unsupported BOMStore format version (%d) for "
                 "%s\n",
                 static_cast<int>(version), name);
  }

  PendingLabel* labels = nullptr;
  uint32_t label_count = 0;
  if (!ReadLabels(file, labels_at, labels_length, name, labels, label_count)) return false;

  if (!Range_Fits(table_at, 4, file.size())) {
    FreePendingLabels(labels, label_count);
    std::fprintf(stderr, "BOMStore_ReadFromFile(): blocks table reaches past the end of %s\n",
                 name);
    return Fail(EINVAL);
  }
  const uint32_t count = LoadU32BEAt(file, table_at);
  if (count > kMaxTableCount || uint64_t{8} * count > table_length) {
    FreePendingLabels(labels, label_count);
    std::fprintf(stderr, "BOMStore_ReadFromFile(): bad value for blocks table count in %s\n", name);
    return Fail(EINVAL);
  }
  if (!Range_Fits(uint64_t{table_at} + 4, uint64_t{8} * count, file.size())) {
    FreePendingLabels(labels, label_count);
    std::fprintf(stderr, "BOMStore_ReadFromFile(): blocks table reaches past the end of %s\n",
                 name);
    return Fail(EINVAL);
  }
  auto* blocks = static_cast<BOMBlock*>(Mem_AllocZeroed(count, sizeof(BOMBlock)));
  if (blocks == nullptr) {
    FreePendingLabels(labels, label_count);
    std::fprintf(stderr, "BOMStore_ReadFromFile(): malloc() failed creating blocks table for %s\n",
                 name);
    return Fail(ENOMEM);
  }
  store.blocks = blocks;
  store.count = count;
  for (uint32_t i = 0; i < count; ++i) blocks[i] = BOMBlock{};

  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = uint64_t{table_at} + 4 + uint64_t{8} * i;
    const uint32_t address = LoadU32BEAt(file, entry);
    const uint32_t length = LoadU32BEAt(file, entry + 4);
    if (length == 0 || length == kEmptyLength) continue;
    if (!Range_Fits(address, length, file.size())) {
      FreePendingLabels(labels, label_count);
      BOMStore_Free(store);
      std::fprintf(stderr, "BOMStore_ReadFromFile(): block %u reaches past the end of %s\n", i,
                   name);
      return Fail(EINVAL);
    }
    auto* data = static_cast<uint8_t*>(Mem_Alloc(size_t{length} + 1));
    if (data == nullptr) {
      FreePendingLabels(labels, label_count);
      BOMStore_Free(store);
      std::fprintf(stderr, "BOMStore_ReadFromFile(): malloc() failed creating block for %s\n",
                   name);
      return Fail(ENOMEM);
    }
    std::memcpy(data, file.data() + address, length);
    data[length] = 0;
    blocks[i].data = data;
    blocks[i].size = length;
  }

  // The first label naming a non-empty block wins (even an empty name, which
  // counts as no label); later ones and those naming empty blocks are dropped.
  for (uint32_t i = 0; i < label_count; ++i) {
    const uint32_t index = labels[i].index;
    if (index >= count || blocks[index].size == 0 || blocks[index].label != nullptr) continue;
    blocks[index].label = labels[i].name;
    labels[i].name = nullptr;
  }
  FreePendingLabels(labels, label_count);
  return true;
}

bool BOMStore_WriteToBuffer(const BOMStore& store, Buffer& out, const char* name) {
  // Refuse what the format cannot represent before anything is allocated.
  uint32_t labelled = 0;
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& block = store.blocks[i];
    if (HasLabel(block)) {
      if (std::strlen(block.label) > kMaxLabelLength) {
        std::fprintf(stderr,
                     "BOMStore_WriteToFile(): label of block %" PRIu64
                     " is longer than 255 bytes in %s\n",
                     i, name);
        return Fail(EINVAL);
      }
      ++labelled;
    }
    if (block.size >= kFileLimit) {
      std::fprintf(stderr, "BOMStore_WriteToFile(): block %" PRIu64 " is 4 GiB or larger in %s\n",
                   i, name);
      return Fail(EFBIG);
    }
  }
  if (store.count > kMaxTableCount) {
    std::fprintf(stderr, "BOMStore_WriteToFile(): too many blocks for %s\n", name);
    return Fail(EFBIG);
  }

  // Table of contents: the labelled blocks in index order.
  auto* toc = static_cast<uint32_t*>(Mem_Realloc(nullptr, size_t{labelled} * sizeof(uint32_t)));
  if (toc == nullptr) {
    std::fprintf(stderr,
                 "BOMStore_WriteToFile(): realloc() failed creating table of contents for %s\n",
                 name);
    return Fail(ENOMEM);
  }
  auto* offsets = static_cast<uint64_t*>(
      Mem_AllocZeroed(static_cast<size_t>(store.count), sizeof(uint64_t)));
  if (offsets == nullptr) {
    Mem_Free(toc);
    std::fprintf(stderr, "BOMStore_WriteToFile(): malloc() failed creating offsets table for %s\n",
                 name);
    return Fail(ENOMEM);
  }

  // Lay the file out.
  uint64_t position = kHeaderArea;
  uint64_t last_used = 0;
  uint32_t toc_count = 0;
  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& block = store.blocks[i];
    if (HasLabel(block)) toc[toc_count++] = static_cast<uint32_t>(i);
    if (block.size == 0) continue;
    offsets[i] = position;
    position = AlignUp(position + block.size, 16);
    last_used = i;
  }
  const uint64_t labels_at = position;
  uint64_t labels_length = 4;
  for (uint32_t t = 0; t < toc_count; ++t) {
    labels_length += 5 + std::strlen(store.blocks[toc[t]].label);
  }
  const uint64_t table_at = AlignUp(labels_at + labels_length, 16);
  const uint64_t table_length = BlockTableRegionLength(store.count);
  const uint64_t total = table_at + table_length;
  if (total >= kFileLimit) {
    Mem_Free(toc);
    Mem_Free(offsets);
    std::fprintf(stderr, "BOMStore_WriteToFile(): %s would be 4 GiB or larger\n", name);
    return Fail(EFBIG);
  }

  // One allocation for the whole image, zero-filled, then filled in place.
  Buffer image;
  if (!Buffer_WriteAt(image, total, nullptr, 0)) {
    Mem_Free(toc);
    Mem_Free(offsets);
    std::fprintf(stderr, "BOMStore_WriteToFile(): malloc() failed creating file image for %s\n",
                 name);
    return Fail(ENOMEM);
  }
  const std::span<uint8_t> bytes = image.bytes();
  std::memcpy(bytes.data(), "BOMStore", 8);
  StoreU32BEAt(bytes, 8, 1);
  StoreU32BEAt(bytes, 12, static_cast<uint32_t>(last_used));
  StoreU32BEAt(bytes, 16, static_cast<uint32_t>(table_at));
  StoreU32BEAt(bytes, 20, static_cast<uint32_t>(table_length));
  StoreU32BEAt(bytes, 24, static_cast<uint32_t>(labels_at));
  StoreU32BEAt(bytes, 28, static_cast<uint32_t>(labels_length));

  for (uint64_t i = 0; i < store.count; ++i) {
    const BOMBlock& block = store.blocks[i];
    const uint64_t entry = table_at + 4 + 8 * i;
    if (block.size != 0) {
      std::memcpy(bytes.data() + offsets[i], block.data, block.size);
      StoreU32BEAt(bytes, entry, static_cast<uint32_t>(offsets[i]));
      StoreU32BEAt(bytes, entry + 4, static_cast<uint32_t>(block.size));
    } else if (i > 0 && i < last_used) {
      StoreU32BEAt(bytes, entry, kEmptyLength);
      StoreU32BEAt(bytes, entry + 4, kEmptyLength);
    }
  }
  StoreU32BEAt(bytes, table_at, static_cast<uint32_t>(store.count));

  StoreU32BEAt(bytes, labels_at, toc_count);
  uint64_t at = labels_at + 4;
  for (uint32_t t = 0; t < toc_count; ++t) {
    const char* label = store.blocks[toc[t]].label;
    const size_t length = std::strlen(label);
    StoreU32BEAt(bytes, at, toc[t]);
    bytes[at + 4] = static_cast<uint8_t>(length);
    std::memcpy(bytes.data() + at + 5, label, length);
    at += 5 + length;
  }
  Mem_Free(toc);
  Mem_Free(offsets);
  out = std::move(image);
  return true;
}

bool BOMStore_WriteToFile(const BOMStore& store, const char* path) {
  Buffer image;
  if (!BOMStore_WriteToBuffer(store, image, path)) return false;
  return Buffer_WriteToFile(image, path);
}

int32_t BOMStore_FindBlockByLabel(const BOMStore& store, const char* label) {
  if (label == nullptr || label[0] == '\0') return -1;
  const uint64_t limit = store.count < INT32_MAX ? store.count : INT32_MAX;
  for (uint64_t i = 0; i < limit; ++i) {
    const BOMBlock& block = store.blocks[i];
    if (HasLabel(block) && std::strcmp(block.label, label) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t BOMStore_FindFreeBlock(const BOMStore& store) {
  const uint64_t limit = store.count < INT32_MAX ? store.count : INT32_MAX;
  for (uint64_t i = 1; i < limit; ++i) {
    if (store.blocks[i].size == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

bool BOMStore_WriteBlock(BOMStore& store, int32_t index, const char* label, const void* data,
                         uint64_t size) {
  if (index < -1) return Fail(EINVAL);
  if (index == -1) {
    if (label != nullptr) index = BOMStore_FindBlockByLabel(store, label);
    if (index == -1) index = BOMStore_FindFreeBlock(store);
    if (index == -1) {
      // No free entry: append after the table, which grows it.
      if (store.count >= INT32_MAX) return Fail(ENOSPC);
      index = static_cast<int32_t>(store.count);
    }
  } else {
    if (index == 0) {
      std::fprintf(stderr,
                   "BOMStore_WriteBlock(): you are writing the block at position #0 which is "
                   "usually skipped by Xcode and iOS!\n");
    }
    if (label != nullptr) {
      const int32_t holder = BOMStore_FindBlockByLabel(store, label);
      if (holder != -1 && holder != index) {
        std::fprintf(stderr, "BOMStore_WriteBlock(): a label called '%s' already exists at "
                             "position #%d\n",
                     label, holder);
        return Fail(EINVAL);
      }
    }
  }
  if (!GrowTable(store, static_cast<uint64_t>(index))) return false;

  char* new_label = nullptr;
  if (label != nullptr) {
    new_label = Mem_StrDup(label);
    if (new_label == nullptr) {
      std::fprintf(stderr, "BOMStore_WriteBlock(): strdup() failed saving block label\n");
      return Fail(ENOMEM);
    }
  }
  uint8_t* new_data = nullptr;
  if (data == nullptr) size = 0;
  if (data != nullptr) {
    new_data = size < SIZE_MAX ? static_cast<uint8_t*>(Mem_Alloc(static_cast<size_t>(size) + 1))
                               : nullptr;
    if (new_data == nullptr) {
      Mem_Free(new_label);
      std::fprintf(stderr, "BOMStore_WriteBlock(): malloc() failed saving block data\n");
      return Fail(ENOMEM);
    }
    if (size != 0) std::memcpy(new_data, data, static_cast<size_t>(size));
    new_data[size] = 0;
  }
  BOMBlock& block = store.blocks[index];
  ClearBlock(block);
  block.label = new_label;
  block.data = new_data;
  block.size = size;
  return true;
}

bool BOMStore_NameBlock(BOMStore& store, int32_t index, const char* label) {
  if (index < 0 || static_cast<uint64_t>(index) >= store.count || label == nullptr) {
    return Fail(EINVAL);
  }
  if (index == 0) {
    std::fprintf(stderr,
                 "BOMStore_NameBlock(): you are renaming the block at position #0 which is usually "
                 "skipped by Xcode and iOS!\n");
  }
  const int32_t holder = BOMStore_FindBlockByLabel(store, label);
  if (holder != -1 && holder != index) {
    std::fprintf(stderr, "BOMStore_NameBlock(): a label called '%s' already exists at position #%d\n",
                 label, holder);
    return Fail(EINVAL);
  }
  char* copy = Mem_StrDup(label);
  if (copy == nullptr) {
    std::fprintf(stderr, "BOMStore_NameBlock(): strdup() failed saving block label\n");
    return Fail(ENOMEM);
  }
  Mem_Free(store.blocks[index].label);
  store.blocks[index].label = copy;
  return true;
}

bool BOMStore_EraseBlock(BOMStore& store, int32_t index) {
  if (index < 0 || static_cast<uint64_t>(index) >= store.count) return Fail(EINVAL);
  if (index == 0) {
    std::fprintf(stderr,
                 "BOMStore_EraseBlock(): you are erasing the block at position #0 which is usually "
                 "skipped by Xcode and iOS!\n");
  }
  ClearBlock(store.blocks[index]);
  return true;
}

}  // namespace skarvel
