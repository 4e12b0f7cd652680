// The skarvel program: scans the command line and hands control to the
// command's own folder.

#include <cstdio>

#include "compiler/compile_command.h"
#include "csi/csi_replace.h"
#include "decompiler/decompiler.h"
#include "frontend/command_line.h"
#include "inspect/dump_commands.h"
#include "inspect/inspect_commands.h"

namespace skarvel {
namespace {

int Dispatch(const CommandLine& cl) {
  switch (cl.command) {
    case Command::Info:
      return RunInfoCommand(cl);
    case Command::List:
      return RunListCommand(cl);
    case Command::Dump:
      return RunDumpCommand(cl);
    case Command::DumpRes:
      return RunDumpResCommand(cl);
    case Command::Decompile:
      return RunDecompileCommand(cl);
    case Command::Compile:
      return RunCompileCommand(cl);
    case Command::ReplaceImg:
      return RunReplaceImageCommand(cl);
    case Command::None:
    case Command::Version:
      break;
  }
  return 1;
}

int Main(int argc, char** argv) {
  static CommandLine cl;  // two 1 KiB buffers: kept off the stack
  (void)CommandLine_CaptureWorkingDirectory(cl);
  if (!CommandLine_Scan(cl, argc, argv, stderr)) return 1;
  switch (CommandLine_Finish(cl, stdout, stderr)) {
    case AfterScan::Version:
      return 0;
    case AfterScan::Usage:
      PrintUsage(1);
    case AfterScan::Fail:
      return 1;
    case AfterScan::RunCommand:
      break;
  }
  return Dispatch(cl);
}

}  // namespace
}  // namespace skarvel

int main(int argc, char** argv) { return skarvel::Main(argc, argv); }
