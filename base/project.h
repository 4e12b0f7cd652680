#pragma once
// The project's own address: its home page, issue tracker and contact, used in
// the banner and in every notice that asks the user to report a problem.

namespace skarvel {

inline constexpr const char kProjectAddress[] = "https://skarvel.example.org";

}  // namespace skarvel
