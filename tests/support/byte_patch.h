#pragma once
// Byte vectors for building test inputs, and patches that break them: a Patch
// is a small function applied to a copy of valid bytes, so a table of named
// bad inputs reads as {"31 bytes", Truncate(31), ...}.
//
//   Bytes file = BuildStoreFile(recipe, &layout);
//   Bytes bad = Patched(file, PutU32BE(layout.TableEntryAt(3) + 4, 0x10000));
//
// A patch that would write past the end of the bytes reports a test failure
// (and changes nothing) instead of growing them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace skarvel::test {

using Bytes = std::vector<uint8_t>;
using Patch = std::function<void(Bytes&)>;

// The bytes of a text, without terminator.
Bytes BytesOf(std::string_view text);
// Concatenation.
Bytes Join(std::initializer_list<Bytes> parts);

// Appending fixed-order fields (for hand-made records).
void AppendU8(Bytes& b, uint8_t v);
void AppendU16LE(Bytes& b, uint16_t v);
void AppendU16BE(Bytes& b, uint16_t v);
void AppendU32LE(Bytes& b, uint32_t v);
void AppendU32BE(Bytes& b, uint32_t v);
void AppendF32LE(Bytes& b, float v);
void AppendText(Bytes& b, std::string_view text);     // no terminator
void AppendField(Bytes& b, std::string_view text, size_t width);  // zero-padded, cut to width
void AppendZeros(Bytes& b, size_t count);
void AppendBytes(Bytes& b, const Bytes& more);

// Reading fields back (for assertions). Out of range: test failure, 0.
uint16_t GetU16LE(const Bytes& b, size_t at);
uint16_t GetU16BE(const Bytes& b, size_t at);
uint32_t GetU32LE(const Bytes& b, size_t at);
uint32_t GetU32BE(const Bytes& b, size_t at);

// Patches.
Patch NoPatch();
Patch Truncate(size_t size);                   // keeps the first `size` bytes
Patch PutU8(size_t at, uint8_t v);
Patch PutU16LE(size_t at, uint16_t v);
Patch PutU16BE(size_t at, uint16_t v);
Patch PutU32LE(size_t at, uint32_t v);
Patch PutU32BE(size_t at, uint32_t v);
Patch PutBytes(size_t at, Bytes bytes);
Patch PutText(size_t at, std::string_view text);  // no terminator
Patch AppendPatch(Bytes bytes);                // adds bytes at the end
Patch Patches(std::initializer_list<Patch> patches);  // applied in order

// A copy of `bytes` with `patch` applied.
Bytes Patched(Bytes bytes, const Patch& patch);

// Hex text of a range, for readable failure messages ("42 4f 4d ...").
std::string Hex(const uint8_t* data, size_t size);

}  // namespace skarvel::test
