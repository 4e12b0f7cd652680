#pragma once
// The inspection commands as the front end dispatches them. Each loads the
// input catalog (ending the process with status 1 when it is not one), prints
// on stdout, releases the catalog and returns the exit status.

#include "frontend/command_line.h"

namespace skarvel {

[[nodiscard]] int RunInfoCommand(const CommandLine& cl);
[[nodiscard]] int RunListCommand(const CommandLine& cl);

}  // namespace skarvel
