#include "tests/lzfse/lzfse_test_data.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sys/stat.h>

namespace skarvel::test {

std::string LzfseVectorsDir() {
  const std::string dir = std::string(SKARVEL_VECTORS_DIR) + "/lzfse";
  struct stat st;
  return stat((dir + "/MANIFEST.tsv").c_str(), &st) == 0 ? dir : std::string();
}

Bytes ReadBytes(const std::string& path, bool* ok) {
  Bytes data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (ok != nullptr) *ok = f != nullptr;
  if (f == nullptr) return data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  return data;
}

std::vector<CodecVector> ReadCodecManifest() {
  std::vector<CodecVector> rows;
  const std::string dir = LzfseVectorsDir();
  if (dir.empty()) return rows;
  const Bytes text = ReadBytes(dir + "/MANIFEST.tsv");
  std::string line;
  bool header = true;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\n') {
      line += static_cast<char>(text[i]);
      continue;
    }
    if (!header && !line.empty()) {
      std::vector<std::string> cols(1);
      for (char c : line) {
        if (c == '\t') {
          cols.emplace_back();
        } else {
          cols.back() += c;
        }
      }
      if (cols.size() >= 7) {
        rows.push_back(CodecVector{.file = cols[0],
                                   .raw_file = cols[1],
                                   .kind = cols[2],
                                   .raw_size = std::stoull(cols[3]),
                                   .notes = cols[6]});
      }
    }
    header = false;
    line.clear();
  }
  return rows;
}

std::string IconSha256FromManifest() {
  for (const CodecVector& v : ReadCodecManifest()) {
    if (v.file != "bgra_icon_1024x1024_s4096.lzfse") continue;
    const size_t at = v.notes.find("SHA-256 ");
    if (at != std::string::npos) return v.notes.substr(at + 8, 64);
  }
  return {};
}

Bytes MakeIcon(int size) {
  const int64_t s = size;
  const int64_t u = 8 * s;  // sub-sample units: one pixel is 8
  const int64_t margin = u / 16, corner = 3 * u / 16;
  const int64_t cx = u / 2, cy = 9 * u / 20, radius = u / 4;
  const int64_t bar_x0 = 3 * u / 10, bar_x1 = 7 * u / 10, bar_y0 = 7 * u / 10, bar_y1 = 39 * u / 50;
  const int64_t stride = (4 * s + 31) / 32 * 32;
  const std::array<int64_t, 3> top = {230, 120, 40}, bottom = {160, 60, 20};
  const std::array<int64_t, 3> white = {255, 255, 255}, bar = {40, 200, 250};
  Bytes pixels(static_cast<size_t>(stride * s));
  for (int64_t y = 0; y < s; ++y) {
    for (int64_t x = 0; x < s; ++x) {
      std::array<int64_t, 3> body;
      for (size_t k = 0; k < 3; ++k) {
        body[k] = (top[k] * (2 * s - 2 - x - y) + bottom[k] * (x + y)) / (2 * s - 2);
      }
      std::array<int64_t, 4> sum = {0, 0, 0, 0};
      for (int64_t j = 0; j < 4; ++j) {
        for (int64_t i = 0; i < 4; ++i) {
          const int64_t px = 8 * x + 2 * i + 1, py = 8 * y + 2 * j + 1;
          const std::array<int64_t, 3>* colour;
          if (px >= bar_x0 && px < bar_x1 && py >= bar_y0 && py < bar_y1) {
            colour = &bar;
          } else if ((px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius) {
            colour = &white;
          } else {
            if (px < margin || px >= u - margin || py < margin || py >= u - margin) continue;
            const int64_t qx = std::clamp(px, margin + corner, u - margin - corner);
            const int64_t qy = std::clamp(py, margin + corner, u - margin - corner);
            if ((px - qx) * (px - qx) + (py - qy) * (py - qy) > corner * corner) continue;
            colour = &body;
          }
          for (size_t k = 0; k < 3; ++k) sum[k] += (*colour)[k];
          sum[3] += 255;
        }
      }
      for (size_t k = 0; k < 4; ++k) {
        pixels[static_cast<size_t>(y * stride + 4 * x) + k] = static_cast<uint8_t>((sum[k] + 8) / 16);
      }
    }
  }
  return pixels;
}

Bytes MakeZeros(size_t n) { return Bytes(n, 0); }

Bytes MakeRandom(size_t n) {
  Bytes data(n);
  uint64_t s = 0x9E3779B97F4A7C15ull ^ n;
  for (uint8_t& b : data) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    b = static_cast<uint8_t>(s >> 56);
  }
  return data;
}

Bytes MakeText(size_t n) {
  static const char* const kWords[] = {
      "the",    "catalog", "holds",   "images", "of",     "every",  "size",   "and",
      "scale",  "a",       "render",  "takes",  "its",    "name",   "from",   "key",
      "with",   "colour",  "space",   "while",  "pixels", "stay",   "packed", "in",
      "rows",   "bytes",   "per",     "line",   "asset",  "icon",   "dark",   "light",
      "button", "window",  "shadow",  "glyph",  "vector", "tree",   "block",  "index"};
  constexpr size_t kCount = sizeof kWords / sizeof kWords[0];
  Bytes text;
  text.reserve(n + 16);
  uint64_t s = 12345;
  bool capital = true;
  int words_in_sentence = 0, sentences = 0;
  while (text.size() < n) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    const char* w = kWords[(s >> 33) % kCount];
    for (size_t i = 0; w[i] != 0; ++i) {
      char c = w[i];
      if (i == 0 && capital) c = static_cast<char>(c - 'a' + 'A');
      text.push_back(static_cast<uint8_t>(c));
    }
    capital = false;
    ++words_in_sentence;
    if (words_in_sentence > 4 + static_cast<int>((s >> 20) % 9)) {
      text.push_back('.');
      words_in_sentence = 0;
      capital = true;
      if (++sentences % 5 == 0) {
        text.push_back('\n');
        text.push_back('\n');
        continue;
      }
    } else if ((s >> 40) % 11 == 0) {
      text.push_back(',');
    }
    text.push_back(' ');
  }
  text.resize(n);
  return text;
}

Bytes MakeGradient(int width, int height) {
  const int64_t w = width, h = height;
  const int64_t stride = (4 * w + 31) / 32 * 32;
  Bytes pixels(static_cast<size_t>(stride * h));
  for (int64_t y = 0; y < h; ++y) {
    const int64_t a = 128 + (h > 1 ? (y * 127) / (h - 1) : 0);
    for (int64_t x = 0; x < w; ++x) {
      uint8_t* p = &pixels[static_cast<size_t>(y * stride + 4 * x)];
      p[0] = static_cast<uint8_t>(w > 1 ? (x * a) / (w - 1) : 0);
      p[1] = static_cast<uint8_t>(h > 1 ? (y * a) / (h - 1) : 0);
      p[2] = static_cast<uint8_t>(w > 1 ? ((w - 1 - x) * a) / (w - 1) : 0);
      p[3] = static_cast<uint8_t>(a);
    }
  }
  return pixels;
}

namespace {

constexpr std::array<uint32_t, 64> kSha256K = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

std::string Sha256Hex(const Bytes& data) {
  std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  Bytes msg = data;
  const uint64_t bit_length = uint64_t{data.size()} * 8;
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bit_length >> (8 * i)));
  for (size_t block = 0; block < msg.size(); block += 64) {
    std::array<uint32_t, 64> w;
    for (size_t i = 0; i < 16; ++i) {
      const uint8_t* p = &msg[block + 4 * i];
      w[i] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    for (size_t i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<uint32_t, 8> v = h;
    for (size_t i = 0; i < 64; ++i) {
      const uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
      const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const uint32_t t1 = v[7] + s1 + ch + kSha256K[i] + w[i];
      const uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
      const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const uint32_t t2 = s0 + maj;
      v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (size_t i = 0; i < 8; ++i) h[i] += v[i];
  }
  std::string hex;
  char buf[9];
  for (uint32_t x : h) {
    std::snprintf(buf, sizeof buf, "%08x", x);
    hex += buf;
  }
  return hex;
}

}  // namespace skarvel::test
