// Decoding: every vector, then truncated, corrupted and hostile streams (each
// in an exact-size heap block, so that a read past the end is caught by the
// sanitizers), output rooms that cut the stream, and the lenient points.

#include <gtest/gtest.h>

#include <cstring>

#include "lzfse/lzfse.h"
#include "tests/lzfse/lzfse_test_data.h"

namespace skarvel::test {
namespace {

#define SKIP_WITHOUT_VECTORS()                                                     \
  if (LzfseVectorsDir().empty()) {                                                 \
    GTEST_SKIP() << "codec vectors not found under " SKARVEL_VECTORS_DIR "/lzfse"; \
  }

Bytes Vector(const std::string& name) {
  bool ok = false;
  Bytes data = ReadBytes(LzfseVectorsDir() + "/" + name, &ok);
  EXPECT_TRUE(ok) << name;
  return data;
}

// Decodes into a room of exactly `room` bytes; returns the result and the
// bytes written.
size_t Decode(const Bytes& stream, size_t room, Bytes* out = nullptr) {
  Bytes dst(room);
  Bytes src = stream;  // exact-size copy
  const size_t n = lzfse_decode_buffer(dst.data(), dst.size(), src.data(), src.size(), nullptr);
  if (out != nullptr) out->assign(dst.begin(), dst.begin() + static_cast<ptrdiff_t>(n));
  return n;
}

size_t DecodeLzvn(const Bytes& stream, size_t room, Bytes* out = nullptr) {
  Bytes dst(room);
  Bytes src = stream;
  const size_t n = lzvn_decode_buffer(dst.data(), dst.size(), src.data(), src.size());
  if (out != nullptr) out->assign(dst.begin(), dst.begin() + static_cast<ptrdiff_t>(n));
  return n;
}

TEST(LzfseDecode, EveryVectorDecodesToItsRawFile) {
  SKIP_WITHOUT_VECTORS();
  std::vector<uint8_t> scratch(lzfse_decode_scratch_size());
  for (const CodecVector& v : ReadCodecManifest()) {
    if (v.raw_file == "-") continue;  // the 1024 icon: see the encoder tests
    SCOPED_TRACE(v.file);
    const Bytes stream = Vector(v.file);
    const Bytes raw = Vector(v.raw_file);
    ASSERT_EQ(raw.size(), v.raw_size);
    Bytes out;
    if (v.kind == "lzvn") {
      EXPECT_EQ(DecodeLzvn(stream, raw.size() + 8, &out), raw.size());
    } else {
      // An exact-fit room, and a caller's scratch area reused across streams.
      Bytes dst(raw.size());
      const size_t n =
          lzfse_decode_buffer(dst.data(), dst.size(), stream.data(), stream.size(), scratch.data());
      EXPECT_EQ(n, raw.size());
      out = dst;
    }
    EXPECT_TRUE(out == raw);
  }
}

// A change to a stream: truncation, or a value put at an offset.
struct Patch {
  enum Kind { kTruncate, kPut8, kXor8, kAdd16, kPut16, kPut32, kBits64, kAppend } kind;
  size_t offset;
  uint64_t value;
  int shift = 0, width = 0;  // kBits64: field of a 64-bit word at `offset`
};
Patch Truncate(size_t size) { return {Patch::kTruncate, size, 0}; }
Patch DropLast(size_t count) { return {Patch::kTruncate, SIZE_MAX, count}; }
Patch Put8(size_t off, uint8_t v) { return {Patch::kPut8, off, v}; }
Patch Xor8(size_t off, uint8_t v) { return {Patch::kXor8, off, v}; }
Patch Add16(size_t off, int v) { return {Patch::kAdd16, off, static_cast<uint64_t>(v)}; }
Patch Put16(size_t off, uint16_t v) { return {Patch::kPut16, off, v}; }
Patch Put32(size_t off, uint32_t v) { return {Patch::kPut32, off, v}; }
Patch Field(size_t off, int shift, int width, uint64_t v) {
  return {Patch::kBits64, off, v, shift, width};
}
Patch Append(uint8_t byte) { return {Patch::kAppend, 0, byte}; }

Bytes Apply(Bytes data, const Patch& p) {
  auto load = [&](size_t off, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | data.at(off + static_cast<size_t>(i));
    return v;
  };
  auto store = [&](size_t off, int bytes, uint64_t v) {
    for (int i = 0; i < bytes; ++i) data.at(off + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
  };
  switch (p.kind) {
    case Patch::kTruncate:
      data.resize(p.offset == SIZE_MAX ? data.size() - p.value : p.offset);
      break;
    case Patch::kPut8:
      store(p.offset, 1, p.value);
      break;
    case Patch::kXor8:
      store(p.offset, 1, load(p.offset, 1) ^ p.value);
      break;
    case Patch::kAdd16:
      store(p.offset, 2, load(p.offset, 2) + p.value);
      break;
    case Patch::kPut16:
      store(p.offset, 2, p.value);
      break;
    case Patch::kPut32:
      store(p.offset, 4, p.value);
      break;
    case Patch::kBits64: {
      const uint64_t mask = ((uint64_t{1} << p.width) - 1) << p.shift;
      store(p.offset, 8, (load(p.offset, 8) & ~mask) | ((p.value << p.shift) & mask));
      break;
    }
    case Patch::kAppend:
      data.push_back(static_cast<uint8_t>(p.value));
      break;
  }
  return data;
}

// text_10000.v1.lzfse: one bvx1 block with 764 literal payload bytes and 2926
// L/M/D payload bytes, both with final bits -1; L frequency 0 is 33.
constexpr size_t kV1LiteralEnd = 772 + 764;
constexpr size_t kV1LmdEnd = kV1LiteralEnd + 2926;

TEST(LzfseDecode, MalformedStreamsGiveZero) {
  SKIP_WITHOUT_VECTORS();
  struct Bad {
    const char* name;
    const char* file;
    Patch patch;
  };
  // zeros_4096.lzfse: one bvx2 block (header 131 bytes, packed words at 8, 16,
  // 24). text_4095.lzfse: bvxn, 2029 payload bytes. random_100.lzfse: bvx-.
  const Bad kBad[] = {
      {"empty input", "zeros_4096.lzfse", Truncate(0)},
      {"three bytes", "zeros_4096.lzfse", Truncate(3)},
      {"unknown magic", "zeros_4096.lzfse", Put8(3, 'z')},
      {"no end-of-stream block", "zeros_4096.lzfse", DropLast(4)},
      {"end-of-stream block cut", "zeros_4096.lzfse", DropLast(1)},
      {"v2: 40004 literals", "zeros_4096.lzfse", Field(8, 0, 20, 40004)},
      {"v2: 10001 triples", "zeros_4096.lzfse", Field(8, 40, 20, 10001)},
      {"v2: L state 64", "zeros_4096.lzfse", Field(24, 32, 10, 64)},
      {"v2: M state 64", "zeros_4096.lzfse", Field(24, 42, 10, 64)},
      {"v2: D state 256", "zeros_4096.lzfse", Field(24, 52, 10, 256)},
      {"v2: header size 31", "zeros_4096.lzfse", Field(24, 0, 32, 31)},
      {"v2: header size one past the frequency code", "zeros_4096.lzfse", Field(24, 0, 32, 132)},
      {"v2: header size one short of the frequency code", "zeros_4096.lzfse",
       Field(24, 0, 32, 130)},
      {"v2: header size past the input", "zeros_4096.lzfse", Field(24, 0, 32, 0xFFFFFFFF)},
      {"v2: literal payload past the input", "zeros_4096.lzfse", Field(8, 20, 20, 0xFFFFF)},
      {"v2: L/M/D payload past the input", "zeros_4096.lzfse", Field(16, 40, 20, 0xFFFFF)},
      {"v2: L/M/D payload of 7 bytes", "zeros_4096.lzfse", Field(16, 40, 20, 7)},
      {"v2: frequency code changed", "zeros_4096.lzfse", Xor8(40, 0x10)},
      {"v2: nonzero padding above the L/M/D bits", "zeros_4096.lzfse", Xor8(131 + 11, 0x80)},
      {"v1: literal state 1024", "text_10000.v1.lzfse", Put16(32, 1024)},
      {"v1: L state 64", "text_10000.v1.lzfse", Put16(44, 64)},
      {"v1: literal final bits 1", "text_10000.v1.lzfse", Put32(28, 1)},
      {"v1: L/M/D final bits -8", "text_10000.v1.lzfse", Put32(40, 0xFFFFFFF8)},
      {"v1: L frequencies sum to 65", "text_10000.v1.lzfse", Add16(50, 1)},
      {"v1: L frequencies sum to 63", "text_10000.v1.lzfse", Add16(50, -1)},
      {"v1: literal frequencies sum to 1025", "text_10000.v1.lzfse", Add16(258 + 2 * 'e', 1)},
      {"v1: nonzero padding above the literal bits", "text_10000.v1.lzfse",
       Xor8(kV1LiteralEnd - 1, 0x80)},
      {"v1: nonzero padding above the L/M/D bits", "text_10000.v1.lzfse",
       Xor8(kV1LmdEnd - 1, 0x80)},
      {"v1: literal payload one byte short", "text_10000.v1.lzfse", Put32(20, 763)},
      {"v1: header cut", "text_10000.v1.lzfse", Truncate(771)},
      {"bvxn: raw size one more", "text_4095.lzfse", Put32(4, 4096)},
      {"bvxn: raw size one less", "text_4095.lzfse", Put32(4, 4094)},
      {"bvxn: payload one byte longer", "text_4095.lzfse", Put32(8, 2030)},
      {"bvxn: payload one byte shorter", "text_4095.lzfse", Put32(8, 2028)},
      {"bvxn: invalid opcode first", "text_4095.lzfse", Put8(12, 0x70)},
      {"bvx-: size past the input", "random_100.lzfse", Put32(4, 101)},
      {"bvx-: size far past the input", "random_100.lzfse", Put32(4, 0xFFFFFFFF)},
  };
  for (const Bad& c : kBad) {
    SCOPED_TRACE(c.name);
    const Bytes stream = Apply(Vector(c.file), c.patch);
    EXPECT_EQ(Decode(stream, 8192), 0u);
  }
}

TEST(LzfseDecode, DistancesBeforeTheStartGiveZero) {
  SKIP_WITHOUT_VECTORS();
  // The second block of text_300000.lzfse (bytes 23704..46525) copies from
  // the first; alone it reaches before the start of the output.
  const Bytes whole = Vector("text_300000.lzfse");
  ASSERT_GE(whole.size(), 46526u);
  Bytes block(whole.begin() + 23704, whole.begin() + 46526);
  for (uint8_t b : {'b', 'v', 'x', '$'}) block.push_back(b);
  EXPECT_EQ(Decode(block, 300000), 0u);
  // With the first block in front it decodes.
  Bytes both(whole.begin(), whole.begin() + 46526);
  for (uint8_t b : {'b', 'v', 'x', '$'}) both.push_back(b);
  Bytes out;
  const Bytes raw = Vector("text_300000.bin");
  ASSERT_GT(Decode(both, 300000, &out), 0u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), raw.begin()));
}

TEST(LzfseDecode, EveryTruncationGivesZero) {
  SKIP_WITHOUT_VECTORS();
  const char* const kFiles[] = {"zeros_4096.lzfse", "random_100.lzfse", "text_4095.lzfse",
                                "text_10000.lzfse", "text_10000.v1.lzfse", "mixed_blocks.lzfse"};
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    const Bytes stream = Vector(file);
    for (size_t size = 0; size < stream.size(); ++size) {
      Bytes cut(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(size));
      Bytes dst(32768);
      if (lzfse_decode_buffer(dst.data(), dst.size(), cut.data(), cut.size(), nullptr) != 0) {
        ADD_FAILURE() << "decoded when cut to " << size << " bytes";
        break;
      }
    }
  }
  const char* const kLzvnFiles[] = {"text_4095.lzvn", "bgra_icon_29x29_s128.lzvn", "zeros_9.lzvn"};
  for (const char* file : kLzvnFiles) {
    SCOPED_TRACE(file);
    const Bytes stream = Vector(file);
    for (size_t size = 0; size < stream.size(); ++size) {
      Bytes cut(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(size));
      Bytes dst(8192);
      if (lzvn_decode_buffer(dst.data(), dst.size(), cut.data(), cut.size()) != 0) {
        ADD_FAILURE() << "decoded when cut to " << size << " bytes";
        break;
      }
    }
  }
}

TEST(LzfseDecode, SmallRoomGetsTheFirstBytes) {
  SKIP_WITHOUT_VECTORS();
  // Past the room, the output is cut: the first dst_size bytes are written
  // and dst_size is returned, whatever the block kind.
  const char* const kFiles[] = {"random_100.lzfse", "text_4095.lzfse", "text_10000.lzfse",
                                "zeros_300000.lzfse", "mixed_blocks.lzfse"};
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    const Bytes stream = Vector(file);
    Bytes raw = Vector(std::string(file).substr(0, std::strlen(file) - 6) + ".bin");
    const size_t step = raw.size() < 5000 ? 1 : raw.size() / 1000 + 1;
    for (size_t room = 1; room < raw.size(); room += step) {
      Bytes out;
      const size_t n = Decode(stream, room, &out);
      if (n != room || !std::equal(out.begin(), out.end(), raw.begin())) {
        ADD_FAILURE() << "room " << room << " gave " << n;
        break;
      }
    }
  }
}

TEST(LzfseDecode, LenientWhereValidStreamsDiffer) {
  SKIP_WITHOUT_VECTORS();
  struct Lenient {
    const char* name;
    const char* file;
    Patch patch;
  };
  const Lenient kCases[] = {
      {"bytes after the end-of-stream block", "text_10000.lzfse", Append(0xAB)},
      {"bvx2 raw size not the real one", "text_10000.lzfse", Put32(4, 7)},
      {"bvx1 payload total not the real one", "text_10000.v1.lzfse", Put32(8, 0)},
      {"bvx1 header padding nonzero", "text_10000.v1.lzfse", Put16(770, 0xFFFF)},
      {"end-of-stream opcode of a bvxn block with nonzero tail", "text_4095.lzfse",
       Put8(12 + 2029 - 1, 0x5A)},
  };
  const Bytes raw10000 = Vector("text_10000.bin");
  const Bytes raw4095 = Vector("text_4095.bin");
  for (const Lenient& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes& raw = std::string(c.file).find("4095") != std::string::npos ? raw4095 : raw10000;
    Bytes out;
    EXPECT_EQ(Decode(Apply(Vector(c.file), c.patch), raw.size() + 100, &out), raw.size());
    EXPECT_TRUE(out == raw);
  }
  // A valid stream of no bytes decodes to 0 bytes, which reads as failure.
  EXPECT_EQ(Decode(Vector("zeros_0.lzfse"), 16), 0u);
}

TEST(LzvnDecode, SmallStreams) {
  const Bytes kEos = {0x06, 0, 0, 0, 0, 0, 0, 0};
  auto with_eos = [&](Bytes ops) {
    ops.insert(ops.end(), kEos.begin(), kEos.end());
    return ops;
  };
  struct Case {
    const char* name;
    Bytes stream;
    size_t room;
    const char* expect;  // nullptr: result 0
  };
  const Case kCases[] = {
      {"literals, no-ops, then a match", with_eos({0xE3, 'a', 'b', 'c', 0x0E, 0x16, 0x00, 0x03}),
       16, "abcabc"},
      {"end-of-stream tail not checked", {0xE3, 'a', 'b', 'c', 6, 1, 2, 3, 4, 5, 6, 7}, 16, "abc"},
      {"bytes after end-of-stream ignored", with_eos({0xE3, 'a', 'b', 'c', 6, 0, 0, 0, 0, 0, 0, 0}),
       16, "abc"},
      {"previous distance repeats", with_eos({0xE2, 'a', 'b', 0x00, 0x02, 0xF5}), 16, "ababababab"},
      {"room of exactly 8", with_eos({0xE8, '1', '2', '3', '4', '5', '6', '7', '8'}), 8, "12345678"},
      {"room of 7", with_eos({0xE3, 'a', 'b', 'c'}), 7, nullptr},
      {"stream of 7 bytes", {0x06, 0, 0, 0, 0, 0, 0}, 16, nullptr},
      {"end-of-stream cut", {0xE3, 'a', 'b', 'c', 0x06, 0, 0, 0, 0, 0, 0}, 16, nullptr},
      {"no end-of-stream", {0xEF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',
                            'n', 'o'}, 32, nullptr},
      {"distance 0", with_eos({0xE3, 'a', 'b', 'c', 0x00, 0x00}), 16, nullptr},
      {"distance past the start", with_eos({0xE3, 'a', 'b', 'c', 0x00, 0x04}), 16, nullptr},
      {"large distance past the start", with_eos({0xE3, 'a', 'b', 'c', 0x07, 0x00, 0x01}), 16,
       nullptr},
      {"medium distance past the start", with_eos({0xE3, 'a', 'b', 'c', 0xA0, 0x10, 0x00}), 16,
       nullptr},
      {"previous distance before any", with_eos({0x46, 'a'}), 16, nullptr},
      {"small match before any distance", with_eos({0xE1, 'a', 0xF3}), 16, nullptr},
      {"large match before any distance", with_eos({0xE1, 'a', 0xF0, 0x00}), 16, nullptr},
      {"invalid opcode 0x70", with_eos({0x70}), 16, nullptr},
      {"invalid opcode 0xD0", with_eos({0xD0}), 16, nullptr},
      {"invalid opcode 0x1E", with_eos({0x1E}), 16, nullptr},
      {"literals past the input", {0xEF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, 32, nullptr},
      {"output past the room", with_eos({0xE1, 'a', 0x00, 0x01, 0xF0, 0xFF}), 64, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    const size_t n = DecodeLzvn(c.stream, c.room, &out);
    if (c.expect == nullptr) {
      EXPECT_EQ(n, 0u);
    } else {
      EXPECT_EQ(std::string(out.begin(), out.end()), c.expect);
    }
  }
}

}  // namespace
}  // namespace skarvel::test
