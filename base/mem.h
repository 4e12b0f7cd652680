#pragma once
// The one allocation funnel for every allocation whose failure is reported.
// Tests reach each "malloc() failed" branch with Mem_FailAfter().

#include <cstddef>

namespace skarvel {

// malloc/calloc/realloc/free with a size of 0 treated as 1, so that a null
// result always means failure.
[[nodiscard]] void* Mem_Alloc(size_t size);
[[nodiscard]] void* Mem_AllocZeroed(size_t count, size_t size);
[[nodiscard]] void* Mem_Realloc(void* ptr, size_t size);
void Mem_Free(void* ptr);
// NUL-terminated copies; null on failure.
[[nodiscard]] char* Mem_StrDup(const char* text);
[[nodiscard]] char* Mem_StrNDup(const char* text, size_t length);

// Test hook: after `n` more successful allocations the next one fails (and so
// does every later one until the hook is reset). A negative n disables it.
void Mem_FailAfter(long n);
// Number of allocations that the hook made fail since it was last armed.
long Mem_FailedCount();
// Test hook: the largest single request (count x size for zeroed blocks)
// made through the funnel since the last Mem_ResetLargestRequest(), failed
// requests included. Shows that a size read from a file was refused before
// it reached an allocation.
size_t Mem_LargestRequest();
void Mem_ResetLargestRequest();

}  // namespace skarvel
