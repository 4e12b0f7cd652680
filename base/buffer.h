#pragma once
// Buffer: the program's one growable byte array. The content is always
// followed by 8 zero bytes (so text content is a C string), and every growth
// reallocates to exactly the new size + 8. Allocation failures leave the
// previous content in place and report ENOMEM.

#include <cstdarg>
#include <cstdint>
#include <span>

namespace skarvel {

struct Buffer {
  uint8_t* data = nullptr;  // owned; size + 8 bytes when present
  uint64_t size = 0;

  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept;
  Buffer& operator=(Buffer&& other) noexcept;
  ~Buffer();

  std::span<const uint8_t> bytes() const { return {data, data ? size : 0}; }
  std::span<uint8_t> bytes() { return {data, data ? size : 0}; }
};

void Buffer_Init(Buffer& b);
void Buffer_Free(Buffer& b);
// Reallocates to 8 zero bytes with size 0.
[[nodiscard]] bool Buffer_Reset(Buffer& b);
[[nodiscard]] bool Buffer_Append(Buffer& b, const void* bytes, uint64_t length);
[[nodiscard]] bool Buffer_AppendFormat(Buffer& b, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
[[nodiscard]] bool Buffer_AppendFormatV(Buffer& b, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));
[[nodiscard]] bool Buffer_Prepend(Buffer& b, const void* bytes, uint64_t length);
[[nodiscard]] bool Buffer_PrependFormat(Buffer& b, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Inserts at `position` (0 to size), moving the tail up. EINVAL past the end.
[[nodiscard]] bool Buffer_InsertAt(Buffer& b, uint64_t position, const void* bytes,
                                   uint64_t length);
// Copies at `position`, growing to exactly position + length when that is past
// the end (the gap is zero-filled). Length 0 past the end only reserves room.
[[nodiscard]] bool Buffer_WriteAt(Buffer& b, uint64_t position, const void* bytes,
                                  uint64_t length);
// Keeps bytes from..to-1; false (EINVAL) when to < from or to > size.
[[nodiscard]] bool Buffer_Subset(Buffer& b, uint64_t from, uint64_t to);
// First / last occurrence of the needle in the content, or null.
const uint8_t* Buffer_FindFirst(const Buffer& b, const void* needle, uint64_t length);
const uint8_t* Buffer_FindLast(const Buffer& b, const void* needle, uint64_t length);
// Replaces occurrences from the start (at most `maximum` when above 0) and
// returns how many were replaced; -1 when memory ran out part way.
int64_t Buffer_Replace(Buffer& b, const void* needle, uint64_t needle_length,
                       const void* replacement, uint64_t replacement_length, uint64_t maximum);
// 0 when equal (or the very same bytes), the byte comparison when the lengths
// are equal, and 0x44494646 ("DIFF") when the lengths differ.
[[nodiscard]] int Buffer_Compare(const Buffer& b, const void* bytes, uint64_t length);
[[nodiscard]] uint64_t Buffer_OffsetOf(const Buffer& b, const void* pointer);
// Removes leading / trailing bytes found in the NUL-terminated `set` (a zero
// byte always counts), at most `maximum` of them (no limit when 0).
[[nodiscard]] bool Buffer_TrimLeft(Buffer& b, const char* set, uint64_t maximum);
[[nodiscard]] bool Buffer_TrimRight(Buffer& b, const char* set, uint64_t maximum);

// Big- and little-endian integer appends for building files.
[[nodiscard]] bool Buffer_AppendU16LE(Buffer& b, uint16_t v);
[[nodiscard]] bool Buffer_AppendU32LE(Buffer& b, uint32_t v);
[[nodiscard]] bool Buffer_AppendU32BE(Buffer& b, uint32_t v);
[[nodiscard]] bool Buffer_AppendZeros(Buffer& b, uint64_t count);

// Replaces the content with the whole file. On failure errno is the status
// query's or the open/read's code and the buffer is empty (no data, size 0).
[[nodiscard]] bool Buffer_ReadFromFile(Buffer& b, const char* path);
// Writes the content to the file, creating missing parent directories.
// "/stdout/" and "/stderr/" name the standard streams. EINVAL for "".
[[nodiscard]] bool Buffer_WriteToFile(const Buffer& b, const char* path);

}  // namespace skarvel
