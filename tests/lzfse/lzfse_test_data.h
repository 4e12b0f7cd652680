#pragma once
// Inputs for the codec tests and benchmarks: the shipped vectors, the
// generators that made them (the 1024 x 1024 icon is not shipped), and a
// SHA-256 to check regenerated data.

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel::test {

using Bytes = std::vector<uint8_t>;

// One row of vectors/lzfse/MANIFEST.tsv.
struct CodecVector {
  std::string file;      // compressed file
  std::string raw_file;  // "-" when not shipped
  std::string kind;      // lzfse, lzfse-v1, lzfse-crafted, lzvn
  uint64_t raw_size;
  std::string notes;
};

// Directory of the LZFSE vectors ("" when absent).
std::string LzfseVectorsDir();
// The manifest rows (empty when the vectors are absent).
std::vector<CodecVector> ReadCodecManifest();
// Whole file; `ok` false when it cannot be read.
Bytes ReadBytes(const std::string& path, bool* ok = nullptr);

// Premultiplied BGRA icon of size x size pixels, stride 4·size rounded up to
// 32 bytes (padding 0): a rounded square with a diagonal gradient, a white
// disc and a bar, anti-aliased with 16 sub-samples per pixel.
Bytes MakeIcon(int size);
// SHA-256 of the 1024 x 1024 icon, from the manifest ("" when absent).
std::string IconSha256FromManifest();

// Generated contents of any size.
Bytes MakeZeros(size_t n);
Bytes MakeRandom(size_t n);  // 64-bit LCG, seeded by n
Bytes MakeText(size_t n);    // English-like words, commas, full stops, paragraphs
// Premultiplied BGRA gradient rows of `width` pixels, with a stride padded to
// 32 bytes.
Bytes MakeGradient(int width, int height);

std::string Sha256Hex(const Bytes& data);

}  // namespace skarvel::test
