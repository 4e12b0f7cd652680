#include "tests/support/byte_patch.h"

#include <bit>
#include <cstdio>

#include <gtest/gtest.h>

namespace skarvel::test {

namespace {

bool InRange(const Bytes& b, size_t at, size_t width) {
  if (at <= b.size() && width <= b.size() - at) return true;
  ADD_FAILURE() << "byte patch at " << at << " (+" << width << ") is past the end of "
                << b.size() << " bytes";
  return false;
}

}  // namespace

Bytes BytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void AppendU8(Bytes& b, uint8_t v) { b.push_back(v); }
void AppendU16LE(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void AppendU16BE(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void AppendU32LE(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void AppendU32BE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void AppendF32LE(Bytes& b, float v) { AppendU32LE(b, std::bit_cast<uint32_t>(v)); }
void AppendText(Bytes& b, std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }
void AppendField(Bytes& b, std::string_view text, size_t width) {
  const size_t n = text.size() < width ? text.size() : width;
  b.insert(b.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
  b.insert(b.end(), width - n, 0);
}
void AppendZeros(Bytes& b, size_t count) { b.insert(b.end(), count, 0); }
void AppendBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

uint16_t GetU16LE(const Bytes& b, size_t at) {
  if (!InRange(b, at, 2)) return 0;
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint16_t GetU16BE(const Bytes& b, size_t at) {
  if (!InRange(b, at, 2)) return 0;
  return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}
uint32_t GetU32LE(const Bytes& b, size_t at) {
  if (!InRange(b, at, 4)) return 0;
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) |
         (uint32_t{b[at + 3]} << 24);
}
uint32_t GetU32BE(const Bytes& b, size_t at) {
  if (!InRange(b, at, 4)) return 0;
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
         uint32_t{b[at + 3]};
}

Patch NoPatch() {
  return [](Bytes&) {};
}

Patch Truncate(size_t size) {
  return [size](Bytes& b) {
    if (size > b.size()) {
      ADD_FAILURE() << "Truncate(" << size << ") on " << b.size() << " bytes";
      return;
    }
    b.resize(size);
  };
}

Patch PutBytes(size_t at, Bytes bytes) {
  return [at, bytes = std::move(bytes)](Bytes& b) {
    if (!InRange(b, at, bytes.size())) return;
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  };
}

Patch PutU8(size_t at, uint8_t v) { return PutBytes(at, Bytes{v}); }
Patch PutU16LE(size_t at, uint16_t v) {
  Bytes b;
  AppendU16LE(b, v);
  return PutBytes(at, b);
}
Patch PutU16BE(size_t at, uint16_t v) {
  Bytes b;
  AppendU16BE(b, v);
  return PutBytes(at, b);
}
Patch PutU32LE(size_t at, uint32_t v) {
  Bytes b;
  AppendU32LE(b, v);
  return PutBytes(at, b);
}
Patch PutU32BE(size_t at, uint32_t v) {
  Bytes b;
  AppendU32BE(b, v);
  return PutBytes(at, b);
}
Patch PutText(size_t at, std::string_view text) { return PutBytes(at, BytesOf(text)); }

Patch AppendPatch(Bytes bytes) {
  return [bytes = std::move(bytes)](Bytes& b) { b.insert(b.end(), bytes.begin(), bytes.end()); };
}

Patch Patches(std::initializer_list<Patch> patches) {
  std::vector<Patch> list(patches);
  return [list](Bytes& b) {
    for (const Patch& p : list) p(b);
  };
}

Bytes Patched(Bytes bytes, const Patch& patch) {
  if (patch) patch(bytes);
  return bytes;
}

std::string Hex(const uint8_t* data, size_t size) {
  std::string out;
  char text[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(text, sizeof text, "%02x", data[i]);
    if (i) out += ' ';
    out += text;
  }
  return out;
}

}  // namespace skarvel::test
