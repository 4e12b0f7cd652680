#pragma once
// Leaving a directory the way it was entered. The asset compilers enter their
// directory by name and must leave the walk where it was: going up with ".."
// would land elsewhere when the name was a link to a directory, so the
// directory is remembered by descriptor and ".." is only the fallback.

namespace skarvel {

// A descriptor of the working directory, or -1 when it cannot be opened.
[[nodiscard]] int WorkingDirectory_Remember();
// Makes the remembered directory (or, for -1, "..") the working directory
// again and closes the descriptor.
void WorkingDirectory_Return(int remembered);
// Closes the descriptor without changing the working directory.
void WorkingDirectory_Forget(int remembered);

}  // namespace skarvel
