// Encoding: byte-for-byte equality with every vector (the 1024 x 1024 icon
// regenerated), the method and room rules, round trips of generated inputs
// through both codecs, and reuse of a caller's scratch area.

#include <gtest/gtest.h>

#include "lzfse/lzfse.h"
#include "lzfse/lzfse_internal.h"
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

// Encodes into a room of exactly `room` bytes; the result is cut to the
// returned length (empty on failure).
Bytes Encode(const Bytes& input, size_t room, void* scratch = nullptr) {
  Bytes dst(room);
  Bytes src = input;
  const size_t n = lzfse_encode_buffer(dst.data(), dst.size(), src.data(), src.size(), scratch);
  dst.resize(n);
  return dst;
}
Bytes EncodeLzvn(const Bytes& input, size_t room, void* work = nullptr) {
  Bytes dst(room);
  Bytes src = input;
  const size_t n = lzvn_encode_buffer(dst.data(), dst.size(), src.data(), src.size(), work);
  dst.resize(n);
  return dst;
}
Bytes Decode(const Bytes& stream, size_t room) {
  Bytes dst(room);
  const size_t n = lzfse_decode_buffer(dst.data(), dst.size(), stream.data(), stream.size(), nullptr);
  dst.resize(n);
  return dst;
}

std::string Magic(const Bytes& stream) {
  return stream.size() < 4 ? std::string() : std::string(stream.begin(), stream.begin() + 4);
}

TEST(LzfseEncode, ReproducesEveryVector) {
  SKIP_WITHOUT_VECTORS();
  for (const CodecVector& v : ReadCodecManifest()) {
    if (v.raw_file == "-" || (v.kind != "lzfse" && v.kind != "lzvn")) continue;
    SCOPED_TRACE(v.file);
    const Bytes raw = Vector(v.raw_file);
    const Bytes expected = Vector(v.file);
    if (v.kind == "lzvn") {
      EXPECT_TRUE(EncodeLzvn(raw, 2 * raw.size() + 4096) == expected);
      continue;
    }
    EXPECT_TRUE(Encode(raw, 2 * raw.size() + 4096) == expected);
    // With the payload writer's room of twice the input: the same bytes, or
    // nothing for inputs under 12 bytes (no stream fits).
    const Bytes tight = Encode(raw, 2 * raw.size());
    if (v.notes.find("room=2n: encoder returns 0") != std::string::npos) {
      EXPECT_TRUE(tight.empty());
      EXPECT_LT(raw.size(), 12u);
    } else {
      EXPECT_TRUE(tight == expected);
    }
  }
}

TEST(LzfseEncode, ReproducesTheLargeIcon) {
  SKIP_WITHOUT_VECTORS();
  const Bytes icon = MakeIcon(1024);
  ASSERT_EQ(Sha256Hex(icon), IconSha256FromManifest());
  const Bytes expected = Vector("bgra_icon_1024x1024_s4096.lzfse");
  const Bytes encoded = Encode(icon, 2 * icon.size());
  EXPECT_TRUE(encoded == expected) << "encoded " << encoded.size() << " bytes";
  EXPECT_TRUE(Decode(expected, icon.size()) == icon);
}

// Inputs of generated contents for round trips.
struct Content {
  const char* name;
  Bytes (*make)(size_t);
};
Bytes IconRows(size_t n) {
  Bytes icon = MakeIcon(120);  // stride 480: 4 padding bytes per row
  Bytes data;
  while (data.size() < n) data.insert(data.end(), icon.begin(), icon.end());
  data.resize(n);
  return data;
}
Bytes GradientRows(size_t n) {
  Bytes rows = MakeGradient(75, static_cast<int>(n / 320 + 1));  // stride 320, 20 padding bytes
  rows.resize(n);
  return rows;
}
const Content kContents[] = {
    {"zeros", MakeZeros},
    {"random", MakeRandom},
    {"text", MakeText},
    {"icon rows", IconRows},
    {"gradient rows", GradientRows},
};
const size_t kSizes[] = {0, 1, 2, 3, 4, 7, 8, 9, 11, 12, 13, 16, 31, 100, 315, 1000, 4095,
                         4096, 4097, 9000, 40000, 65536 + 13, 200000};

TEST(LzfseEncode, RoundTripsGeneratedInputs) {
  for (const Content& content : kContents) {
    for (size_t n : kSizes) {
      SCOPED_TRACE(std::string(content.name) + " of " + std::to_string(n) + " bytes");
      const Bytes input = content.make(n);
      ASSERT_EQ(input.size(), n);
      // The payload writer's room of twice the input fits every input from 12
      // bytes on; below that only a raw block of n + 12 bytes fits.
      Bytes stream = Encode(input, 2 * n);
      if (n < 12) {
        EXPECT_TRUE(stream.empty());
        stream = Encode(input, n + 12);
        EXPECT_EQ(stream.size(), n + 12);
      }
      ASSERT_FALSE(stream.empty());
      const std::string magic = Magic(stream);
      if (n < 8) {
        EXPECT_EQ(magic, "bvx-");
      } else if (n < 4096) {
        EXPECT_TRUE(magic == "bvxn" || magic == "bvx-") << magic;
        EXPECT_LE(stream.size(), n + 12);
      } else {
        EXPECT_EQ(magic, "bvx2");
      }
      EXPECT_EQ(Magic(Bytes(stream.end() - 4, stream.end())), "bvx$");
      if (n > 0) {
        EXPECT_TRUE(Decode(stream, n) == input);
      }

      // Raw LZVN, with the worst-case growth of incompressible input.
      const Bytes lzvn = EncodeLzvn(input, n + n / 64 + 64);
      ASSERT_FALSE(lzvn.empty());
      Bytes out(n + 8);
      const size_t got = lzvn_decode_buffer(out.data(), out.size(), lzvn.data(), lzvn.size());
      EXPECT_EQ(got, n);
      out.resize(got);
      EXPECT_TRUE(out == input);
    }
  }
}

TEST(LzfseEncode, ReusedScratchGivesTheSameBytes) {
  // The match history is not cleared between calls: leftovers of an earlier
  // input must not change the next output. The area is also misaligned.
  Bytes area(lzfse_encode_scratch_size() + 1);
  void* scratch = area.data() + 1;
  const Bytes inputs[] = {MakeText(70000), IconRows(20000), MakeText(70000), MakeText(3000),
                          IconRows(3000), MakeZeros(5000), MakeText(3000)};
  for (const Bytes& input : inputs) {
    SCOPED_TRACE(input.size());
    EXPECT_TRUE(Encode(input, 2 * input.size(), scratch) == Encode(input, 2 * input.size()));
    EXPECT_TRUE(EncodeLzvn(input, 2 * input.size(), scratch) ==
                EncodeLzvn(input, 2 * input.size()));
  }
}

TEST(LzfseEncode, FallsBackToARawBlockWhenCompressionDoesNotFit) {
  // 4096 random bytes take 4323 bytes as LZFSE, 4108 as a raw block.
  const Bytes input = MakeRandom(4096);
  ASSERT_EQ(Encode(input, 8192).size(), 4323u);
  const Bytes raw = Encode(input, 4200);
  EXPECT_EQ(raw.size(), 4108u);
  EXPECT_EQ(Magic(raw), "bvx-");
  EXPECT_TRUE(Decode(raw, 4096) == input);
  EXPECT_TRUE(Encode(input, 4107).empty());
  // LZVN for small inputs is kept only when smaller than the input.
  EXPECT_EQ(Magic(Encode(MakeRandom(1000), 2000)), "bvx-");
  EXPECT_EQ(Magic(Encode(MakeText(1000), 2000)), "bvxn");
  // A raw LZVN stream needs room for its end-of-stream opcode.
  EXPECT_TRUE(EncodeLzvn(Bytes(), 7).empty());
  EXPECT_EQ(EncodeLzvn(Bytes(), 8).size(), 8u);
  EXPECT_TRUE(EncodeLzvn(MakeRandom(1000), 1000).empty());
}

TEST(LzfseEncode, NormalizesCountsToTheStateCount) {
  struct Case {
    const char* name;
    std::vector<uint32_t> counts;
    std::vector<uint16_t> expected;
  };
  std::vector<uint32_t> skewed(20, 1);
  skewed[0] = 1000;
  std::vector<uint16_t> skewed_freq(20, 1);
  skewed_freq[0] = 45;
  const Case kCases[] = {
      {"small under-assignment", {100, 10, 1, 0}, {57, 6, 1, 0}},
      {"small excess taken from the largest", {1, 1, 1, 1, 1}, {12, 13, 13, 13, 13}},
      {"large excess taken back in passes", skewed, skewed_freq},
      {"nothing counted", {0, 0, 0}, {64, 0, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint16_t> freq(c.counts.size());
    lzfse::NormalizeCounts(64, static_cast<int>(c.counts.size()), c.counts.data(), freq.data());
    EXPECT_EQ(freq, c.expected);
  }
}

}  // namespace
}  // namespace skarvel::test
