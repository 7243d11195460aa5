#include "app/app.h"

int main(int argc, char** argv) {
  // Help, the version, a usage error and requests to the running program end
  // here, before anything of the program starts; every other command line
  // (the self-test, the helper-window mode, files, none) is the program's.
  const CommandLine cl = ParseCommandLine(argc, argv);
  if (!cl.selfTest && !cl.child && cl.mode != CommandLine::kRun) return RunCommandLineMode(cl);
  return PmrMain(argc, argv);
}
