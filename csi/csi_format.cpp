#include "csi/csi_format.h"

#include <cerrno>
#include <cstring>

#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

namespace {

constexpr uint64_t kReferenceKeyLengthAt = 34;
constexpr uint64_t kReferencePairsAt = 38;

uint64_t ChainEnd(const CSIHeader& header) { return kCSIHeaderSize + Get(header.all_subblocks_size); }

// Grows the block by `extra` bytes and moves the bytes from `at` to the end
// up by that much, leaving [at, at + extra) uninitialised. The block keeps
// its trailing zero byte. ENOMEM leaves the block unchanged.
bool OpenGap(BOMBlock& block, uint64_t at, uint64_t extra) {
  const uint64_t new_size = block.size + extra;
  if (new_size < block.size || new_size >= SIZE_MAX) return Fail(ENOMEM);
  auto* grown = static_cast<uint8_t*>(Mem_Realloc(block.data, static_cast<size_t>(new_size) + 1));
  if (grown == nullptr) return Fail(ENOMEM);
  std::memmove(grown + at + extra, grown + at, static_cast<size_t>(block.size - at));
  grown[new_size] = 0;
  block.data = grown;
  block.size = new_size;
  return true;
}

}  // namespace

const CSIHeader* CSI_Header(const BOMBlock& block) {
  if (block.data == nullptr || block.size < kCSIHeaderSize) return nullptr;
  if (std::memcmp(block.data, "ISTC", 4) != 0) return nullptr;
  return reinterpret_cast<const CSIHeader*>(block.data);
}

CSIHeader* CSI_Header(BOMBlock& block) {
  return const_cast<CSIHeader*>(CSI_Header(static_cast<const BOMBlock&>(block)));
}

bool CSI_NextSubblock(const BOMBlock& block, CSISubblockWalk& walk, CSISubblock& out) {
  const CSIHeader* header = CSI_Header(block);
  if (header == nullptr) {
    walk.truncated = true;
    return false;
  }
  const uint64_t chain_end = ChainEnd(*header);
  if (walk.next >= chain_end) return false;
  // The chain may claim more than the block holds: stop at whichever ends first.
  const uint64_t limit = chain_end < block.size ? chain_end : block.size;
  if (!Range_Fits(walk.next, kCSISubblockHeadSize, limit)) {
    walk.truncated = true;
    walk.next = chain_end;
    return false;
  }
  const std::span<const uint8_t> bytes = block.bytes();
  const uint32_t id = LoadU32LEAt(bytes, walk.next);
  const uint32_t length = LoadU32LEAt(bytes, walk.next + 4);
  if (!Range_Fits(walk.next + kCSISubblockHeadSize, length, limit)) {
    walk.truncated = true;
    walk.next = chain_end;
    return false;
  }
  out = {walk.next, id, length};
  walk.next += kCSISubblockHeadSize + length;
  return true;
}

bool CSI_PayloadRange(const BOMBlock& block, uint64_t& offset, uint64_t& size) {
  const CSIHeader* header = CSI_Header(block);
  if (header == nullptr) return Fail(EINVAL);
  const uint64_t at = ChainEnd(*header);
  const uint32_t length = Get(header->payload_size);
  if (!Range_Fits(at, length, block.size)) return Fail(EINVAL);
  offset = at;
  size = length;
  return true;
}

uint64_t CSI_GetInfoBlock(BOMBlock& block, CSIInfoID id, uint32_t append_size) {
  if (CSI_Header(block) == nullptr) return Fail(EINVAL);
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) {
    if (sub.id == static_cast<uint32_t>(id)) return sub.offset;
  }
  // A chain that runs past the block cannot be searched to its end, nor
  // appended to.
  if (walk.truncated) return Fail(EINVAL);
  if (append_size == 0) return Fail(ENOENT);
  uint64_t payload_at = 0;
  uint64_t payload_size = 0;
  if (append_size < kCSISubblockHeadSize || !CSI_PayloadRange(block, payload_at, payload_size)) {
    return Fail(EINVAL);
  }
  const uint64_t new_total = Get(CSI_Header(block)->all_subblocks_size) + uint64_t{append_size};
  if (new_total > UINT32_MAX) return Fail(EINVAL);
  // The new subblock goes where the chain ends; the payload (and anything
  // after it) moves up.
  if (!OpenGap(block, payload_at, append_size)) return 0;
  CSIHeader* header = CSI_Header(block);
  Set(header->all_subblocks_size, static_cast<uint32_t>(new_total));
  StoreU32LEAt(block.bytes(), payload_at, static_cast<uint32_t>(id));
  StoreU32LEAt(block.bytes(), payload_at + 4, append_size - static_cast<uint32_t>(kCSISubblockHeadSize));
  return payload_at;
}

uint64_t CSI_GetPayload(BOMBlock& block, uint32_t payload_size) {
  const CSIHeader* header = CSI_Header(block);
  if (header == nullptr) return Fail(EINVAL);
  const uint32_t current = Get(header->payload_size);
  const uint64_t at = ChainEnd(*header);
  if (payload_size == 0 || payload_size == current) {
    if (current == 0) return Fail(ENOENT);
    uint64_t offset = 0;
    uint64_t size = 0;
    if (!CSI_PayloadRange(block, offset, size)) return 0;
    return offset;
  }
  // A payload is set once, on a record that has none yet; replacing one in
  // place would leave the old bytes inside the new payload.
  if (current != 0 || at > block.size) return Fail(EINVAL);
  if (!OpenGap(block, at, payload_size)) return 0;
  Set(CSI_Header(block)->payload_size, payload_size);
  return at;
}

int32_t CSI_GetReferenceAttribute(std::span<const uint8_t> subblock, uint32_t attribute) {
  if (!Range_Fits(kReferenceKeyLengthAt, 4, subblock.size())) return -1;
  const uint32_t key_length = LoadU32LEAt(subblock, kReferenceKeyLengthAt);
  const uint32_t pairs = key_length >= 8 ? key_length / 4 - 1 : 0;
  for (uint32_t i = 0; i < pairs; ++i) {
    const uint64_t at = kReferencePairsAt + uint64_t{4} * i;
    if (!Range_Fits(at, 4, subblock.size())) break;
    if (LoadU16LEAt(subblock, at) == attribute) return LoadU16LEAt(subblock, at + 2);
  }
  return -1;
}

bool CSI_IsChunked(const BOMBlock& block, uint64_t payload_offset) {
  if (block.data == nullptr || payload_offset >= block.size) return false;
  if (block.size - payload_offset <= kCSIChunkHeaderSize) return false;
  if (std::memcmp(block.data + payload_offset + kCSIElementHeaderSize, "KCBC", 4) != 0) {
    return false;
  }
  // An element that is not chunked gives its data length as its fourth word,
  // and no chunk count can equal that length (each chunk takes at least its
  // 20-byte header): such data merely begins with the bytes "KCBC", as
  // uncompressed pixels may.
  const CSIHeader* header = CSI_Header(block);
  const uint32_t fourth = LoadU32LEAt(block.bytes(), payload_offset + 12);
  return header == nullptr || Get(header->payload_size) < kCSIElementHeaderSize || fourth == 0 ||
         fourth != Get(header->payload_size) - kCSIElementHeaderSize;
}

}  // namespace skarvel
