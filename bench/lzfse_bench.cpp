// Speed and ratio of the LZFSE / LZVN codec on the reference inputs: the
// 1024 x 1024 icon (regenerated), the 58 x 58 and 180 x 180 icons, and
// text_300000.bin from the vectors. Counters: "MB/s" is uncompressed bytes
// per second in 10^6 bytes (shown with k for thousands), "ratio" is
// uncompressed / compressed size.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "lzfse/lzfse.h"
#include "tests/lzfse/lzfse_test_data.h"

namespace skarvel::test {
namespace {

enum class Input { kIcon1024, kIcon58, kIcon180, kText };

const Bytes& Data(Input which) {
  static std::map<Input, Bytes> cache;
  auto it = cache.find(which);
  if (it != cache.end()) return it->second;
  Bytes data;
  switch (which) {
    case Input::kIcon1024:
      data = MakeIcon(1024);
      break;
    case Input::kIcon58:
      data = MakeIcon(58);
      break;
    case Input::kIcon180:
      data = MakeIcon(180);
      break;
    case Input::kText:
      if (!LzfseVectorsDir().empty()) data = ReadBytes(LzfseVectorsDir() + "/text_300000.bin");
      break;
  }
  return cache.emplace(which, std::move(data)).first->second;
}

enum class Codec { kLzfse, kLzfseNullScratch, kLzvn };

size_t Encode(Codec codec, Bytes& dst, const Bytes& src, void* scratch) {
  if (codec == Codec::kLzvn) {
    return lzvn_encode_buffer(dst.data(), dst.size(), src.data(), src.size(), scratch);
  }
  return lzfse_encode_buffer(dst.data(), dst.size(), src.data(), src.size(),
                             codec == Codec::kLzfseNullScratch ? nullptr : scratch);
}

size_t Decode(Codec codec, Bytes& dst, const Bytes& src, void* scratch) {
  if (codec == Codec::kLzvn) return lzvn_decode_buffer(dst.data(), dst.size(), src.data(), src.size());
  return lzfse_decode_buffer(dst.data(), dst.size(), src.data(), src.size(),
                             codec == Codec::kLzfseNullScratch ? nullptr : scratch);
}

void SetCounters(benchmark::State& state, size_t raw, size_t compressed) {
  state.counters["MB/s"] = benchmark::Counter(
      static_cast<double>(raw) * static_cast<double>(state.iterations()) / 1e6,
      benchmark::Counter::kIsRate);
  state.counters["ratio"] = static_cast<double>(raw) / static_cast<double>(compressed);
}

void BM_Encode(benchmark::State& state, Input input, Codec codec) {
  const Bytes& src = Data(input);
  if (src.empty()) {
    state.SkipWithError("input not available (vectors absent)");
    return;
  }
  Bytes dst(2 * src.size() + 4096);
  Bytes scratch(lzfse_encode_scratch_size());
  size_t n = 0;
  for (auto _ : state) {
    n = Encode(codec, dst, src, scratch.data());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (n == 0) state.SkipWithError("encoding failed");
  SetCounters(state, src.size(), n);
}

void BM_Decode(benchmark::State& state, Input input, Codec codec) {
  const Bytes& raw = Data(input);
  if (raw.empty()) {
    state.SkipWithError("input not available (vectors absent)");
    return;
  }
  Bytes stream(2 * raw.size() + 4096);
  Bytes scratch(lzfse_encode_scratch_size());
  stream.resize(Encode(codec, stream, raw, scratch.data()));
  Bytes dst(raw.size() + 4096);
  Bytes decode_scratch(lzfse_decode_scratch_size());
  size_t n = 0;
  for (auto _ : state) {
    n = Decode(codec, dst, stream, decode_scratch.data());
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  if (n != raw.size() || !std::equal(raw.begin(), raw.end(), dst.begin())) {
    state.SkipWithError("round trip failed");
  }
  SetCounters(state, raw.size(), stream.size());
}

#define CODEC_BENCH(name, input, codec)                                 \
  BENCHMARK_CAPTURE(BM_Encode, name, input, codec)->Unit(benchmark::kMicrosecond); \
  BENCHMARK_CAPTURE(BM_Decode, name, input, codec)->Unit(benchmark::kMicrosecond)

CODEC_BENCH(lzfse_icon_1024, Input::kIcon1024, Codec::kLzfse);
CODEC_BENCH(lzfse_icon_58, Input::kIcon58, Codec::kLzfse);
CODEC_BENCH(lzfse_icon_58_null_scratch, Input::kIcon58, Codec::kLzfseNullScratch);
CODEC_BENCH(lzfse_icon_180, Input::kIcon180, Codec::kLzfse);
CODEC_BENCH(lzfse_icon_180_null_scratch, Input::kIcon180, Codec::kLzfseNullScratch);
CODEC_BENCH(lzfse_text_300000, Input::kText, Codec::kLzfse);
CODEC_BENCH(lzvn_icon_1024, Input::kIcon1024, Codec::kLzvn);
CODEC_BENCH(lzvn_icon_58, Input::kIcon58, Codec::kLzvn);
CODEC_BENCH(lzvn_icon_180, Input::kIcon180, Codec::kLzvn);
CODEC_BENCH(lzvn_text_300000, Input::kText, Codec::kLzvn);

}  // namespace
}  // namespace skarvel::test

BENCHMARK_MAIN();
