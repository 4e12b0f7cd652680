#pragma once
// Result codes shared by every layer. Operations report failure through their
// return value (false, -1 or nullptr) and leave one of these numbers in errno;
// the command layers choose their message by the number.

#include <cerrno>

namespace skarvel {

// Unsupported pixel format, compression method or image file type. Above the
// standard errno values so that callers can tell it apart.
inline constexpr int kErrUnsupported = 129;

// Sets errno and returns false: `return Fail(EINVAL);`.
[[nodiscard]] inline bool Fail(int code) {
  errno = code;
  return false;
}

}  // namespace skarvel
