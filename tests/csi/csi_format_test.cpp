#include "csi/csi_format.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/mem.h"
#include "tests/support/byte_patch.h"
#include "tests/support/csi_record_builder.h"

namespace skarvel {
namespace {

using test::Bytes;
using test::CSIRecordBuilder;
using test::CSIRecordLayout;

// Holds a record in a store block, as rendition values are held.
struct Record {
  BOMStore store;
  explicit Record(const Bytes& bytes) {
    EXPECT_TRUE(BOMStore_WriteBlock(store, 1, nullptr, bytes.data(), bytes.size()));
  }
  BOMBlock& block() { return store.blocks[1]; }
  Bytes bytes() { return Bytes(block().data, block().data + block().size); }
};

// Slices, metrics, composition, orientation, bytes per line (one slice, one
// metric) and an unchunked element of 8 data bytes.
CSIRecordBuilder ImageRecord() {
  CSIRecordBuilder b;
  b.Size(2, 1)
      .Slices({{0, 0, 2, 1}})
      .Metrics({{0, 0, 0, 0, 2, 1}})
      .Composition(0, 1.0f)
      .Orientation(1)
      .BytesPerLine(8)
      .Element(0, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  return b;
}

std::vector<std::pair<uint64_t, uint32_t>> Walk(const BOMBlock& block, bool* truncated = nullptr) {
  std::vector<std::pair<uint64_t, uint32_t>> out;
  CSISubblockWalk walk;
  CSISubblock sub;
  while (CSI_NextSubblock(block, walk, sub)) out.push_back({sub.offset, sub.id});
  if (truncated) *truncated = walk.truncated;
  return out;
}

TEST(CSIFormat, WalkAndLookupOffsets) {
  CSIRecordLayout l;
  Record r(ImageRecord().Subblock(4242, Bytes(3, 9)).Build(&l));
  const CSIHeader* h = CSI_Header(r.block());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Get(h->all_subblocks_size), 104u + 11u);
  bool truncated = true;
  const auto walked = Walk(r.block(), &truncated);
  EXPECT_FALSE(truncated);
  const std::vector<std::pair<uint64_t, uint32_t>> expected = {
      {184, 1001}, {212, 1003}, {248, 1004}, {264, 1006}, {276, 1007}, {288, 4242}};
  EXPECT_EQ(walked, expected);
  EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::BytesPerLine, 0), 276u);
  EXPECT_EQ(CSI_GetInfoBlock(r.block(), static_cast<CSIInfoID>(4242), 0), 288u);
  errno = 0;
  EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::Reference, 0), 0u);
  EXPECT_EQ(errno, ENOENT);

  uint64_t at = 0;
  uint64_t size = 0;
  ASSERT_TRUE(CSI_PayloadRange(r.block(), at, size));
  EXPECT_EQ(at, l.payload_at);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(CSI_GetPayload(r.block(), 0), l.payload_at);
  EXPECT_EQ(CSI_GetPayload(r.block(), 24), l.payload_at);
  EXPECT_FALSE(CSI_IsChunked(r.block(), at));
}

TEST(CSIFormat, NoSubblocksPutsThePayloadAt184) {
  Record r(CSIRecordBuilder().RawData(test::BytesOf("%PDF-1")).Build());
  uint64_t at = 0;
  uint64_t size = 0;
  ASSERT_TRUE(CSI_PayloadRange(r.block(), at, size));
  EXPECT_EQ(at, 184u);
  EXPECT_EQ(size, 18u);
  EXPECT_TRUE(Walk(r.block()).empty());
}

TEST(CSIFormat, AppendingSubblocks) {
  Record bare(CSIRecordBuilder().Build());
  ASSERT_EQ(bare.block().size, 184u);
  const uint64_t at = CSI_GetInfoBlock(bare.block(), CSIInfoID::Composition, 16);
  ASSERT_EQ(at, 184u);
  EXPECT_EQ(bare.block().size, 200u);
  EXPECT_EQ(bare.block().data[200], 0);  // the trailing zero byte stays
  const Bytes b = bare.bytes();
  EXPECT_EQ(test::GetU32LE(b, test::kCSIAllSubblocksSizeAt), 16u);
  EXPECT_EQ(test::GetU32LE(b, 184), 1004u);
  EXPECT_EQ(test::GetU32LE(b, 188), 8u);
  // Asking again finds it and does not grow the record.
  EXPECT_EQ(CSI_GetInfoBlock(bare.block(), CSIInfoID::Composition, 16), 184u);
  EXPECT_EQ(bare.block().size, 200u);

  // Appending in front of a payload moves the payload and what follows it.
  CSIRecordLayout l;
  const Bytes payload = {9, 8, 7, 6, 5};
  const Bytes trailing = {0xAA, 0xBB};
  Record full(CSIRecordBuilder().Orientation(1).Payload(payload).Trailing(trailing).Build(&l));
  const uint64_t added = CSI_GetInfoBlock(full.block(), CSIInfoID::BytesPerLine, 12);
  ASSERT_EQ(added, l.payload_at);
  const Bytes after = full.bytes();
  EXPECT_EQ(after.size(), l.size + 12);
  EXPECT_EQ(test::GetU32LE(after, test::kCSIAllSubblocksSizeAt), 12u + 12u);
  EXPECT_EQ(test::GetU32LE(after, test::kCSIPayloadSizeAt), 5u);
  EXPECT_EQ(Bytes(after.begin() + long(l.payload_at) + 12, after.end()), test::Join({payload, trailing}));
  uint64_t p = 0;
  uint64_t size = 0;
  ASSERT_TRUE(CSI_PayloadRange(full.block(), p, size));
  EXPECT_EQ(p, l.payload_at + 12);
  EXPECT_EQ(CSI_GetInfoBlock(full.block(), CSIInfoID::Orientation, 0), 184u);
  EXPECT_EQ(Walk(full.block()).size(), 2u);

  errno = 0;
  EXPECT_EQ(CSI_GetInfoBlock(bare.block(), CSIInfoID::Metrics, 7), 0u);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(bare.block().size, 200u);
}

TEST(CSIFormat, SettingThePayload) {
  Record r(CSIRecordBuilder().Composition(0, 1.0f).Build());
  errno = 0;
  EXPECT_EQ(CSI_GetPayload(r.block(), 0), 0u);
  EXPECT_EQ(errno, ENOENT);
  const uint64_t at = CSI_GetPayload(r.block(), 100);
  ASSERT_EQ(at, 200u);
  EXPECT_EQ(r.block().size, 300u);
  EXPECT_EQ(test::GetU32LE(r.bytes(), test::kCSIPayloadSizeAt), 100u);
  EXPECT_EQ(CSI_GetPayload(r.block(), 0), 200u);
  // A second, different payload is refused rather than mixed with the first.
  errno = 0;
  EXPECT_EQ(CSI_GetPayload(r.block(), 50), 0u);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(r.block().size, 300u);
}

TEST(CSIFormat, ReferenceAttributes) {
  CSIRecordLayout l;
  const Bytes rec = CSIRecordBuilder().Layout(1003).Reference(1, 2, 3, 4, 12, {{17, 5}}).Build(&l);
  Record r(rec);
  const uint64_t at = CSI_GetInfoBlock(r.block(), CSIInfoID::Reference, 0);
  ASSERT_EQ(at, 184u);
  EXPECT_EQ(test::GetU32LE(rec, at + 4), 38u);
  EXPECT_EQ(test::GetU32LE(rec, at + 34), 8u);
  EXPECT_EQ(test::GetU32LE(rec, at + 42), 0u);
  const std::span<const uint8_t> sub(r.block().data + at, 8 + 38);
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 17), 5);
  EXPECT_EQ(CSI_GetReferenceAttribute(sub, 12), -1);

  struct Case {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> pairs;
    std::optional<uint32_t> key_length;
    uint32_t attribute;
    int32_t expected;
  };
  const Case kCases[] = {
      {"second pair", {{12, 2}, {15, 1}}, std::nullopt, 15, 1},
      {"first of two equal attributes", {{9, 3}, {9, 4}}, std::nullopt, 9, 3},
      {"key length 4 holds no pair", {{9, 3}}, 4, 9, -1},
      {"key length 0", {{9, 3}}, 0, 9, -1},
      {"key length beyond the subblock", {{9, 3}}, 0xFFFFFFF0, 7, -1},
      {"key length beyond the subblock, found first", {{9, 3}}, 0xFFFFFFF0, 9, 3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = CSIRecordBuilder().Reference(0, 0, 1, 1, 12, c.pairs, c.key_length).Build();
    // An exact-size copy of the subblock alone, so ASan sees any overrun.
    const size_t length = bytes.size() - 184;
    std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
    std::memcpy(exact.get(), bytes.data() + 184, length);
    EXPECT_EQ(CSI_GetReferenceAttribute({exact.get(), length}, c.attribute), c.expected);
  }
  EXPECT_EQ(CSI_GetReferenceAttribute({r.block().data + at, 37}, 17), -1);
}

TEST(CSIFormat, ChunkingTest) {
  struct Case {
    const char* name;
    Bytes record;
    bool chunked;
  };
  const Bytes kcbc_tail = test::Join({test::BytesOf("MLEC"), Bytes(12, 0), test::BytesOf("KCBC")});
  const Case kCases[] = {
      {"chunked element", CSIRecordBuilder().ChunkedElement(4, {{1, Bytes(5, 1)}}).Build(), true},
      {"chunk with no data", CSIRecordBuilder().ChunkedElement(4, {{1, {}}}).Build(), true},
      {"plain element", CSIRecordBuilder().Element(4, Bytes(40, 0)).Build(), false},
      {"KCBC ending exactly 20 bytes after P", CSIRecordBuilder().Payload(kcbc_tail).Build(), false},
      {"KCBC then one more byte",
       CSIRecordBuilder().Payload(test::Join({kcbc_tail, Bytes{0}})).Build(), true},
      {"element cut inside its header", CSIRecordBuilder().Payload(test::BytesOf("MLEC")).Build(),
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Record r(c.record);
    EXPECT_EQ(CSI_IsChunked(r.block(), 184), c.chunked);
    EXPECT_FALSE(CSI_IsChunked(r.block(), r.block().size + 5));
  }
}

TEST(CSIFormat, MalformedRecordsStopAtTheBlockEnd) {
  CSIRecordLayout l;
  const Bytes good = ImageRecord().Build(&l);
  struct BadRecord {
    const char* name;
    test::Patch patch;
    int found_before_defect;  // subblocks walked before the walk stops
  };
  const BadRecord kBadRecords[] = {
      {"metrics length past the block", test::PutU32LE(l.subblock_at[1] + 4, 0xFFFFFFF0), 1},
      {"metrics length past the chain", test::PutU32LE(l.subblock_at[1] + 4, 80), 1},
      {"chain ends inside a head", test::PutU32LE(test::kCSIAllSubblocksSizeAt, 104 + 4), 5},
      {"chain ends inside a subblock", test::PutU32LE(test::kCSIAllSubblocksSizeAt, 100), 4},
      // The walk reads the payload's words as two more heads, then stops.
      {"chain longer than the block", test::PutU32LE(test::kCSIAllSubblocksSizeAt, 0x7FFFFFFF), 7},
      {"record cut inside the chain", test::Truncate(250), 2},
  };
  for (const BadRecord& c : kBadRecords) {
    SCOPED_TRACE(c.name);
    Record r(test::Patched(good, c.patch));
    const Bytes before = r.bytes();
    bool truncated = false;
    EXPECT_EQ(int(Walk(r.block(), &truncated).size()), c.found_before_defect);
    EXPECT_TRUE(truncated);
    // The first subblock is still found; anything behind the defect is not,
    // and nothing is appended to a broken chain.
    EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::Slices, 0), 184u);
    errno = 0;
    EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::Reference, 0), 0u);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::Reference, 46), 0u);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(r.bytes(), before);
  }

  // Payloads that run past the block.
  struct BadPayload {
    const char* name;
    test::Patch patch;
  };
  const BadPayload kBadPayloads[] = {
      {"payload size past the block", test::PutU32LE(test::kCSIPayloadSizeAt, 25)},
      {"payload size near 4 GiB", test::PutU32LE(test::kCSIPayloadSizeAt, 0xFFFFFFFF)},
      {"record cut inside the payload", test::Truncate(l.payload_at + 10)},
  };
  for (const BadPayload& c : kBadPayloads) {
    SCOPED_TRACE(c.name);
    Record r(test::Patched(good, c.patch));
    const Bytes before = r.bytes();
    uint64_t at = 0;
    uint64_t size = 0;
    errno = 0;
    EXPECT_FALSE(CSI_PayloadRange(r.block(), at, size));
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(CSI_GetPayload(r.block(), 0), 0u);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::Reference, 46), 0u);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(r.bytes(), before);
  }

  // Not a CSI record at all.
  for (const Bytes& bytes : {Bytes(183, 0), test::Patched(good, test::PutText(0, "ISTD"))}) {
    Record r(bytes);
    EXPECT_EQ(CSI_Header(r.block()), nullptr);
    errno = 0;
    EXPECT_EQ(CSI_GetInfoBlock(r.block(), CSIInfoID::Slices, 0), 0u);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(CSI_GetPayload(r.block(), 10), 0u);
    EXPECT_EQ(errno, EINVAL);
    bool truncated = false;
    EXPECT_TRUE(Walk(r.block(), &truncated).empty());
    EXPECT_TRUE(truncated);
  }
}

TEST(CSIFormat, GrowthFailureLeavesTheRecordUnchanged) {
  const Bytes good = ImageRecord().Build();
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which == 0 ? "subblock" : "payload");
    Record r(which == 0 ? good : CSIRecordBuilder().Orientation(1).Build());
    const Bytes before = r.bytes();
    Mem_FailAfter(0);
    errno = 0;
    const uint64_t at = which == 0 ? CSI_GetInfoBlock(r.block(), CSIInfoID::Reference, 46)
                                   : CSI_GetPayload(r.block(), 64);
    const int code = errno;
    Mem_FailAfter(-1);
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(code, ENOMEM);
    EXPECT_EQ(r.bytes(), before);
  }
}

}  // namespace
}  // namespace skarvel
