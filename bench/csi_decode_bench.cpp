// Speed of CSI_DecodeImage per compression method, on a 512 x 512 "BGRA"
// icon (the codec benchmarks' generated icon) stored each way. "MB/s" is
// decoded picture bytes (width x height x 4) per second in 10^6 bytes.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "bom/bom_store.h"
#include "csi/csi_decode.h"
#include "lzfse/lzfse.h"
#include "tests/lzfse/lzfse_test_data.h"

namespace skarvel::test {
namespace {

constexpr uint32_t kSize = 512;
constexpr uint32_t kStride = kSize * 4;

void PutU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

Bytes Lz(const Bytes& data, bool lzvn = false) {
  Bytes out(2 * data.size() + 64);
  std::vector<uint8_t> work(lzfse_encode_scratch_size());
  const size_t n =
      lzvn ? lzvn_encode_buffer(out.data(), out.size(), data.data(), data.size(), work.data())
           : lzfse_encode_buffer(out.data(), out.size(), data.data(), data.size(), work.data());
  if (n == 0) std::abort();
  out.resize(n);
  return out;
}

Bytes GZip(const Bytes& data) {
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  Bytes out(deflateBound(&zs, data.size()) + 32);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// A 512 x 512 record: header, bytes per line, "MLEC" element (chunked when
// `chunks` is given, each with its row count).
Bytes Record(uint32_t method, const std::vector<std::pair<uint32_t, Bytes>>& chunks,
             const Bytes* single = nullptr) {
  Bytes element;
  element.insert(element.end(), {'M', 'L', 'E', 'C'});
  PutU32(element, single ? 0 : 1);
  PutU32(element, method);
  if (single != nullptr) {
    PutU32(element, static_cast<uint32_t>(single->size()));
    Append(element, *single);
  } else {
    PutU32(element, static_cast<uint32_t>(chunks.size()));
    for (const auto& [rows, data] : chunks) {
      element.insert(element.end(), {'K', 'C', 'B', 'C'});
      PutU32(element, 0);
      PutU32(element, 0);
      PutU32(element, rows);
      PutU32(element, static_cast<uint32_t>(data.size()));
      Append(element, data);
    }
  }
  Bytes r = {'I', 'S', 'T', 'C'};
  for (uint32_t v : {1u, 0u, kSize, kSize, 100u}) PutU32(r, v);
  r.insert(r.end(), {'B', 'G', 'R', 'A'});
  for (uint32_t v : {1u, 0u, 12u}) PutU32(r, v);
  r.resize(r.size() + 128, 0);
  for (uint32_t v : {12u, 1u, 0u, static_cast<uint32_t>(element.size())}) PutU32(r, v);
  for (uint32_t v : {1007u, 4u, kStride}) PutU32(r, v);
  Append(r, element);
  return r;
}

const Bytes& Icon() {
  static const Bytes icon = MakeIcon(kSize);  // stride 2048 = 4 x 512
  return icon;
}

Bytes Rows(uint32_t y0, uint32_t rows) {
  return Bytes(Icon().begin() + y0 * kStride, Icon().begin() + (y0 + rows) * kStride);
}

// Run-length rows: runs of equal pixels become fill runs, the rest literals.
Bytes RunLength() {
  Bytes s;
  PutU32(s, 4);
  PutU32(s, kSize);
  PutU32(s, kSize);
  Bytes body;
  for (uint32_t y = 0; y < kSize; ++y) {
    PutU32(s, 12 + 4 * kSize + static_cast<uint32_t>(body.size()));
    const uint8_t* row = Icon().data() + y * kStride;
    uint32_t x = 0;
    while (x < kSize) {
      uint32_t same = 1;
      while (x + same < kSize && std::memcmp(row + 4 * x, row + 4 * (x + same), 4) == 0) ++same;
      if (same >= 4) {
        PutU16(body, static_cast<uint16_t>(same));
        PutU16(body, 1);
        body.insert(body.end(), row + 4 * x, row + 4 * x + 4);
        x += same;
        continue;
      }
      uint32_t n = 1;
      while (x + n < kSize && n < 64) ++n;
      PutU16(body, static_cast<uint16_t>(n));
      PutU16(body, 0);
      body.insert(body.end(), row + 4 * x, row + 4 * (x + n));
      x += n;
    }
  }
  Append(s, body);
  return s;
}

// Palette image with 8-bit indices: colours reduced to 3-3-2 bits.
Bytes PaletteImage() {
  Bytes d;
  PutU32(d, 0xCAFEF00D);
  PutU32(d, 1);
  PutU16(d, 256);
  for (uint32_t i = 0; i < 256; ++i) {  // A, R, G, B
    d.insert(d.end(),
             {255, static_cast<uint8_t>((i >> 6) * 85), static_cast<uint8_t>(((i >> 3) & 7) * 36),
              static_cast<uint8_t>((i & 7) * 36)});
  }
  for (uint32_t y = 0; y < kSize; ++y) {
    for (uint32_t x = 0; x < kSize; x += 2) {
      auto index = [&](uint32_t px) {
        const uint8_t* p = Icon().data() + y * kStride + 4 * px;  // B, G, R, A
        return static_cast<uint8_t>((p[2] >> 6) << 6 | (p[1] >> 5) << 3 | p[0] >> 5);
      };
      d.push_back(index(x + 1));  // the even pixel is the word's high byte
      d.push_back(index(x));
    }
  }
  return Lz(d);
}

// Predictive planes of a rectangle: Y, u, v from the pixels (lossy), residuals
// against the left, above and mean predictors in turn.
Bytes Predictive(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, size_t pad) {
  std::vector<int32_t> values(size_t{w} * h * 3);
  Bytes alpha;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = Icon().data() + (y0 + y) * kStride + 4 * (x0 + x);
      const int32_t b = p[0], g = p[1], r = p[2];
      const int32_t u = (b - r) / 2, luma = (g + (b + r) / 2) / 2;
      int32_t* v = &values[(size_t{y} * w + x) * 3];
      v[0] = luma;
      v[1] = u;
      v[2] = g - luma;
      alpha.push_back(p[3]);
    }
  }
  Bytes predictors, high, low;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t p = y == 0 ? 2 : static_cast<uint8_t>(2 + y % 3);
    predictors.push_back(p);
    for (uint32_t x = 0; x < w; ++x) {
      for (uint32_t c = 0; c < 3; ++c) {
        const size_t s = (size_t{y} * w + x) * 3 + c;
        const int32_t left = x > 0 ? values[s - 3] : 0, above = y > 0 ? values[s - 3 * w] : 0;
        const int32_t q = p == 2 ? left : p == 3 ? above : x == 0 ? above : (left + above + 1) / 2;
        const int32_t r = values[s] - q;
        const uint32_t e = 2 * static_cast<uint32_t>(std::abs(r)) + (r < 0 ? 1 : 0);
        high.push_back(static_cast<uint8_t>(e >> 8));
        low.push_back(static_cast<uint8_t>(e));
      }
    }
  }
  Bytes planes = alpha;
  Append(planes, predictors);
  Append(planes, high);
  Append(planes, low);
  while (planes.size() % pad != 0) planes.push_back(0);
  return planes;
}

Bytes Unit(bool dmp2, uint8_t method, const Bytes& palette, const std::vector<Bytes>& streams) {
  Bytes body = dmp2 ? Bytes{'d', 'm', 'p', '2'} : Bytes{'d', 'm', 'a', 'p'};
  body.insert(body.end(), {method, 1, 10, 4});
  if (dmp2) {
    PutU16(body, kSize);
    PutU16(body, kSize);
  }
  if (!palette.empty()) {
    PutU16(body, static_cast<uint16_t>(palette.size() / 4));
    PutU16(body, dmp2 ? 4 : 0);
    Append(body, palette);
  }
  for (const Bytes& s : streams) {
    PutU32(body, static_cast<uint32_t>(s.size()));
    Append(body, s);
  }
  Bytes unit;
  PutU32(unit, dmp2 ? 1 : 5);
  PutU32(unit, 4);
  PutU32(unit, static_cast<uint32_t>(body.size()));
  PutU32(unit, 0);
  Append(unit, body);
  return unit;
}

// Method 10 in 4 chunks of 128 rows, each cut into two 256-wide tiles.
Bytes Deepmap(uint8_t inner) {
  std::vector<std::pair<uint32_t, Bytes>> chunks;
  for (uint32_t y = 0; y < kSize; y += 128) {
    std::vector<Bytes> streams;
    for (uint32_t x = 0; x < kSize; x += 256) {
      Bytes planes;
      if (inner == 2) {
        planes = Predictive(x, y, 256, 128, 8);
      } else {
        for (uint32_t row = 0; row < 128; ++row) {
          const auto at = Icon().begin() + (y + row) * kStride + 4 * x;
          planes.insert(planes.end(), at, at + 4 * 256);
        }
      }
      streams.push_back(Lz(planes));
    }
    chunks.emplace_back(128, Unit(false, inner, {}, streams));
  }
  return Record(10, chunks);
}

enum class Kind {
  kUncompressed,
  kRunLength,
  kGZip,
  kLzvn,
  kLzfse4Chunks,
  kPaletteImage,
  kDeepmapPlain,
  kDeepmapPredictive,
  kDeepmap2Predictive,
};

const Bytes& RecordFor(Kind kind) {
  static std::map<Kind, Bytes> cache;
  auto it = cache.find(kind);
  if (it != cache.end()) return it->second;
  Bytes r;
  switch (kind) {
    case Kind::kUncompressed:
      r = Record(0, {}, &Icon());
      break;
    case Kind::kRunLength: {
      const Bytes s = RunLength();
      r = Record(1, {}, &s);
      break;
    }
    case Kind::kGZip: {
      const Bytes s = GZip(Icon());
      r = Record(2, {}, &s);
      break;
    }
    case Kind::kLzvn: {
      const Bytes s = Lz(Icon(), true);
      r = Record(3, {}, &s);
      break;
    }
    case Kind::kLzfse4Chunks:
      r = Record(4, {{128, Lz(Rows(0, 128))},
                     {128, Lz(Rows(128, 128))},
                     {128, Lz(Rows(256, 128))},
                     {128, Lz(Rows(384, 128))}});
      break;
    case Kind::kPaletteImage: {
      const Bytes s = PaletteImage();
      r = Record(8, {}, &s);
      break;
    }
    case Kind::kDeepmapPlain:
      r = Deepmap(3);
      break;
    case Kind::kDeepmapPredictive:
      r = Deepmap(2);
      break;
    case Kind::kDeepmap2Predictive: {
      const Bytes unit = Unit(true, 2, {}, {Lz(Predictive(0, 0, kSize, kSize, 16))});
      r = Record(11, {}, &unit);
      break;
    }
  }
  return cache.emplace(kind, std::move(r)).first->second;
}

void BM_Decode(benchmark::State& state, Kind kind) {
  Bytes record = RecordFor(kind);
  BOMBlock block;
  block.data = record.data();
  block.size = record.size();
  for (auto _ : state) {
    Image image;
    if (!CSI_DecodeImage(block, image)) {
      state.SkipWithError("decoding failed");
      break;
    }
    benchmark::DoNotOptimize(image.pixels.data);
  }
  const double bytes = double{kSize} * kSize * 4;
  state.counters["MB/s"] =
      benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["stored_KB"] = double(record.size()) / 1e3;
}

BENCHMARK_CAPTURE(BM_Decode, method0_uncompressed, Kind::kUncompressed);
BENCHMARK_CAPTURE(BM_Decode, method1_run_length, Kind::kRunLength);
BENCHMARK_CAPTURE(BM_Decode, method2_gzip, Kind::kGZip);
BENCHMARK_CAPTURE(BM_Decode, method3_lzvn, Kind::kLzvn);
BENCHMARK_CAPTURE(BM_Decode, method4_lzfse_4_chunks, Kind::kLzfse4Chunks);
BENCHMARK_CAPTURE(BM_Decode, method8_palette_8bit, Kind::kPaletteImage);
BENCHMARK_CAPTURE(BM_Decode, method10_plain_tiles, Kind::kDeepmapPlain);
BENCHMARK_CAPTURE(BM_Decode, method10_predictive_tiles, Kind::kDeepmapPredictive);
BENCHMARK_CAPTURE(BM_Decode, method11_predictive_band, Kind::kDeepmap2Predictive);

}  // namespace
}  // namespace skarvel::test

BENCHMARK_MAIN();
