#include "base/mem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace skarvel {

namespace {

long g_allowed = -1;  // allocations left before failing; -1 = never fail
long g_failed = 0;
size_t g_largest = 0;  // largest request since the last reset

void Note(size_t size) {
  if (size > g_largest) g_largest = size;
}

bool ShouldFail() {
  if (g_allowed < 0) return false;
  if (g_allowed == 0) {
    ++g_failed;
    return true;
  }
  --g_allowed;
  return false;
}

}  // namespace

void* Mem_Alloc(size_t size) {
  Note(size);
  if (ShouldFail()) return nullptr;
  return std::malloc(size ? size : 1);
}

void* Mem_AllocZeroed(size_t count, size_t size) {
  Note(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
  if (ShouldFail()) return nullptr;
  if (count == 0 || size == 0) return std::calloc(1, 1);
  return std::calloc(count, size);
}

void* Mem_Realloc(void* ptr, size_t size) {
  Note(size);
  if (ShouldFail()) return nullptr;
  return std::realloc(ptr, size ? size : 1);
}

void Mem_Free(void* ptr) { std::free(ptr); }

char* Mem_StrDup(const char* text) { return Mem_StrNDup(text, std::strlen(text)); }

char* Mem_StrNDup(const char* text, size_t length) {
  char* copy = static_cast<char*>(Mem_Alloc(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void Mem_FailAfter(long n) {
  g_allowed = n < 0 ? -1 : n;
  g_failed = 0;
}

long Mem_FailedCount() { return g_failed; }

size_t Mem_LargestRequest() { return g_largest; }

void Mem_ResetLargestRequest() { g_largest = 0; }

}  // namespace skarvel
