// The command-line modes of the process entry.
#include <cstring>
#include <string>

#include "app/app.h"

namespace {
constexpr const char kSelfTestPrefix[] = "--selftest-update=";
constexpr const char kManifestPrefix[] = "--update-manifest=";
}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine cl;
  if (argc < 2) return cl;
  cl.child = std::strcmp(argv[1], "--child") == 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() >= 18 && arg.compare(0, 18, kSelfTestPrefix) == 0) {
      cl.selfTest = true;
      cl.selfTestPath = arg.substr(18);
      return cl;  // the self-test ends the process before anything else
    }
    if (arg.compare(0, sizeof kManifestPrefix - 1, kManifestPrefix) == 0) {
      cl.manifestOverride = arg.substr(sizeof kManifestPrefix - 1);
      cl.hasManifestOverride = true;
    }
  }
  return cl;
}
