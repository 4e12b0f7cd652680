#include "base/buffer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/bytes.h"
#include "base/file_system.h"
#include "base/mem.h"
#include "base/result.h"

namespace skarvel {

namespace {

constexpr uint64_t kTail = 8;

// Reallocates to exactly new_size + 8 bytes and zeroes the 8 bytes after
// new_size. Content up to min(old, new) is kept; the buffer is unchanged on
// failure.
bool Resize(Buffer& b, uint64_t new_size) {
  if (new_size > SIZE_MAX - kTail) return Fail(ENOMEM);
  auto* data = static_cast<uint8_t*>(Mem_Realloc(b.data, static_cast<size_t>(new_size + kTail)));
  if (data == nullptr) return Fail(ENOMEM);
  b.data = data;
  b.size = new_size;
  std::memset(b.data + new_size, 0, kTail);
  return true;
}

bool InSet(const char* set, uint8_t byte) {
  return byte == 0 || std::strchr(set, byte) != nullptr;
}

}  // namespace

Buffer::Buffer(Buffer&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Buffer_Free(*this);
    data = std::exchange(other.data, nullptr);
    size = std::exchange(other.size, 0);
  }
  return *this;
}

Buffer::~Buffer() { Buffer_Free(*this); }

void Buffer_Init(Buffer& b) {
  b.data = nullptr;
  b.size = 0;
}

void Buffer_Free(Buffer& b) {
  Mem_Free(b.data);
  b.data = nullptr;
  b.size = 0;
}

bool Buffer_Reset(Buffer& b) {
  auto* data = static_cast<uint8_t*>(Mem_Realloc(b.data, kTail));
  if (data == nullptr) return Fail(ENOMEM);
  b.data = data;
  b.size = 0;
  std::memset(b.data, 0, kTail);
  return true;
}

bool Buffer_Append(Buffer& b, const void* bytes, uint64_t length) {
  return Buffer_InsertAt(b, b.size, bytes, length);
}

bool Buffer_AppendFormatV(Buffer& b, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return Fail(EINVAL);
  const uint64_t old_size = b.size;
  if (!Resize(b, old_size + static_cast<uint64_t>(length))) return false;
  // The formatter writes its terminator over the first of the 8 zero bytes.
  std::vsnprintf(reinterpret_cast<char*>(b.data + old_size), static_cast<size_t>(length) + 1,
                 format, args);
  return true;
}

bool Buffer_AppendFormat(Buffer& b, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = Buffer_AppendFormatV(b, format, args);
  va_end(args);
  return ok;
}

bool Buffer_Prepend(Buffer& b, const void* bytes, uint64_t length) {
  return Buffer_InsertAt(b, 0, bytes, length);
}

bool Buffer_PrependFormat(Buffer& b, const char* format, ...) {
  Buffer text;
  va_list args;
  va_start(args, format);
  const bool ok = Buffer_AppendFormatV(text, format, args);
  va_end(args);
  if (!ok) return false;
  return Buffer_Prepend(b, text.data, text.size);
}

bool Buffer_InsertAt(Buffer& b, uint64_t position, const void* bytes, uint64_t length) {
  if (position > b.size) return Fail(EINVAL);
  if (length == 0) {
    // An empty buffer still gets its 8 zero bytes, so that it reads as "".
    return b.data != nullptr || Buffer_Reset(b);
  }
  const uint64_t old_size = b.size;
  if (old_size > UINT64_MAX - length) return Fail(ENOMEM);
  if (!Resize(b, old_size + length)) return false;
  std::memmove(b.data + position + length, b.data + position,
               static_cast<size_t>(old_size - position));
  std::memcpy(b.data + position, bytes, static_cast<size_t>(length));
  return true;
}

bool Buffer_WriteAt(Buffer& b, uint64_t position, const void* bytes, uint64_t length) {
  if (position > UINT64_MAX - length) return Fail(EINVAL);
  const uint64_t end = position + length;
  if (end > b.size || b.data == nullptr) {
    const uint64_t old_size = b.data ? b.size : 0;
    if (!Resize(b, end > old_size ? end : old_size)) return false;
    if (position > old_size) std::memset(b.data + old_size, 0, static_cast<size_t>(position - old_size));
  }
  if (length != 0) std::memcpy(b.data + position, bytes, static_cast<size_t>(length));
  return true;
}

bool Buffer_Subset(Buffer& b, uint64_t from, uint64_t to) {
  if (to < from || to > b.size) return Fail(EINVAL);
  if (b.data == nullptr) return Buffer_Reset(b);
  const uint64_t length = to - from;
  std::memmove(b.data, b.data + from, static_cast<size_t>(length));
  return Resize(b, length);
}

const uint8_t* Buffer_FindFirst(const Buffer& b, const void* needle, uint64_t length) {
  if (b.data == nullptr || length > b.size) return nullptr;
  for (uint64_t i = 0; i <= b.size - length; ++i) {
    if (std::memcmp(b.data + i, needle, static_cast<size_t>(length)) == 0) return b.data + i;
  }
  return nullptr;
}

const uint8_t* Buffer_FindLast(const Buffer& b, const void* needle, uint64_t length) {
  if (b.data == nullptr || length > b.size) return nullptr;
  for (uint64_t i = b.size - length + 1; i-- > 0;) {
    if (std::memcmp(b.data + i, needle, static_cast<size_t>(length)) == 0) return b.data + i;
  }
  return nullptr;
}

int64_t Buffer_Replace(Buffer& b, const void* needle, uint64_t needle_length,
                       const void* replacement, uint64_t replacement_length, uint64_t maximum) {
  if (b.data == nullptr || needle_length > b.size || needle_length == 0) return 0;
  int64_t count = 0;
  uint64_t pos = 0;
  while (pos + needle_length <= b.size) {
    if (std::memcmp(b.data + pos, needle, static_cast<size_t>(needle_length)) != 0) {
      ++pos;
      continue;
    }
    const uint64_t old_size = b.size;
    const uint64_t new_size = old_size - needle_length + replacement_length;
    if (replacement_length > needle_length) {
      if (!Resize(b, new_size)) return -1;
      std::memmove(b.data + pos + replacement_length, b.data + pos + needle_length,
                   static_cast<size_t>(old_size - pos - needle_length));
    } else {
      std::memmove(b.data + pos + replacement_length, b.data + pos + needle_length,
                   static_cast<size_t>(old_size - pos - needle_length));
      if (!Resize(b, new_size)) return -1;
    }
    std::memcpy(b.data + pos, replacement, static_cast<size_t>(replacement_length));
    pos += replacement_length;
    ++count;
    if (maximum > 0 && static_cast<uint64_t>(count) >= maximum) break;
  }
  return count;
}

int Buffer_Compare(const Buffer& b, const void* bytes, uint64_t length) {
  if (length != b.size) return 0x44494646;
  if (bytes == b.data || length == 0) return 0;
  return std::memcmp(b.data, bytes, static_cast<size_t>(length));
}

uint64_t Buffer_OffsetOf(const Buffer& b, const void* pointer) {
  return static_cast<uint64_t>(static_cast<const uint8_t*>(pointer) - b.data);
}

bool Buffer_TrimLeft(Buffer& b, const char* set, uint64_t maximum) {
  if (b.data == nullptr) return true;
  uint64_t n = 0;
  while (n < b.size && (maximum == 0 || n < maximum) && InSet(set, b.data[n])) ++n;
  return Buffer_Subset(b, n, b.size);
}

bool Buffer_TrimRight(Buffer& b, const char* set, uint64_t maximum) {
  if (b.data == nullptr) return true;
  uint64_t n = 0;
  while (n < b.size && (maximum == 0 || n < maximum) && InSet(set, b.data[b.size - 1 - n])) ++n;
  return Buffer_Subset(b, 0, b.size - n);
}

bool Buffer_AppendU16LE(Buffer& b, uint16_t v) {
  uint8_t bytes[2];
  StoreU16LE(bytes, v);
  return Buffer_Append(b, bytes, sizeof bytes);
}

bool Buffer_AppendU32LE(Buffer& b, uint32_t v) {
  uint8_t bytes[4];
  StoreU32LE(bytes, v);
  return Buffer_Append(b, bytes, sizeof bytes);
}

bool Buffer_AppendU32BE(Buffer& b, uint32_t v) {
  uint8_t bytes[4];
  StoreU32BE(bytes, v);
  return Buffer_Append(b, bytes, sizeof bytes);
}

bool Buffer_AppendZeros(Buffer& b, uint64_t count) {
  return Buffer_WriteAt(b, b.data ? b.size + count : count, nullptr, 0);
}

bool Buffer_ReadFromFile(Buffer& b, const char* path) {
  Buffer_Free(b);
  struct stat st;
  if (StatFile(path, &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  if (file_size > SIZE_MAX - kTail) return Fail(ENOMEM);
  auto* data = static_cast<uint8_t*>(Mem_Alloc(static_cast<size_t>(file_size + kTail)));
  if (data == nullptr) return Fail(ENOMEM);
  FILE* f = OpenFile(path, "rb");
  if (f == nullptr) {
    const int code = errno;
    Mem_Free(data);
    return Fail(code);
  }
  const size_t got = std::fread(data, 1, static_cast<size_t>(file_size), f);
  const int read_code = std::ferror(f) ? errno : EIO;
  std::fclose(f);
  if (got != file_size) {
    Mem_Free(data);
    return Fail(read_code ? read_code : EIO);
  }
  std::memset(data + file_size, 0, kTail);
  b.data = data;
  b.size = file_size;
  return true;
}

bool Buffer_WriteToFile(const Buffer& b, const char* path) {
  FILE* f = nullptr;
  const bool standard = std::strcmp(path, "/stdout/") == 0 || std::strcmp(path, "/stderr/") == 0;
  if (standard) {
    f = path[4] == 'o' ? stdout : stderr;
  } else {
    if (path[0] == '\0') return Fail(EINVAL);
    if (!File_CreateParentDirectories(path)) return false;
    f = OpenFile(path, "wb");
    if (f == nullptr) return false;
  }
  const size_t length = static_cast<size_t>(b.data ? b.size : 0);
  const size_t written = length ? std::fwrite(b.data, 1, length, f) : 0;
  int code = written == length ? 0 : (errno ? errno : EIO);
  if (standard) {
    if (std::fflush(f) != 0 && code == 0) code = errno ? errno : EIO;
  } else if (std::fclose(f) != 0 && code == 0) {
    code = errno ? errno : EIO;
  }
  return code == 0 ? true : Fail(code);
}

}  // namespace skarvel
