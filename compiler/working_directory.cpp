#include "compiler/working_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/file_system.h"

namespace skarvel {

int WorkingDirectory_Remember() { return ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

void WorkingDirectory_Return(int remembered) {
  if (remembered >= 0 && ::fchdir(remembered) == 0) {
    ::close(remembered);
    return;
  }
  if (remembered >= 0) ::close(remembered);
  (void)ChangeDirectory("..");
}

void WorkingDirectory_Forget(int remembered) {
  if (remembered >= 0) ::close(remembered);
}

}  // namespace skarvel
