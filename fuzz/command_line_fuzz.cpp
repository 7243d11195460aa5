// The command line: arguments separated by NUL bytes in the input, the
// program name first. Modes and overrides come from the arguments that name
// them; only accepted file names are collected for the running instance.
#include <unistd.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "base/strings.h"
#include "fuzz/fuzz_support.h"
#include "platform/linux/gtk/gtk_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = {"pellomar"};
  std::string_view rest = pmrfuzz::AsText(data, size);
  while (!rest.empty() && args.size() < 256) {
    size_t nul = rest.find('\0');
    args.emplace_back(rest.substr(0, nul));
    rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const CommandLine cl = ParseCommandLine(static_cast<int>(args.size()), argv.data());
  FUZZ_CHECK(cl.child == (args.size() > 1 && args[1] == "--child"));
  if (cl.selfTest) {
    bool named = false;
    for (size_t i = 1; i < args.size(); ++i) named |= args[i].rfind("--selftest-update=", 0) == 0;
    FUZZ_CHECK(named);
  }
  if (cl.hasManifestOverride) {
    bool named = false;
    for (size_t i = 1; i < args.size(); ++i)
      named |= args[i] == "--update-manifest=" + cl.manifestOverride;
    FUZZ_CHECK(named);
  }

  // The modes beyond the old ones: a usage error is one printable line; help
  // and version come only from their words; a control request names a tool,
  // on/off or a profile name that is one line of UTF-8 text.
  auto given = [&](const char* word) {
    for (size_t i = 1; i < args.size(); ++i)
      if (args[i] == word) return true;
    return false;
  };
  if (!cl.selfTest && !cl.child) {
    FUZZ_CHECK((cl.mode == CommandLine::kUsageError) == !cl.usageError.empty());
    for (char c : cl.usageError) FUZZ_CHECK(c >= 0x20 && c < 0x7f);
    if (cl.mode == CommandLine::kHelp) FUZZ_CHECK(given("--help") || given("-h"));
    if (cl.mode == CommandLine::kVersion) FUZZ_CHECK(given("--version"));
    if (cl.mode == CommandLine::kControl) {
      FUZZ_CHECK(!cl.control.empty());
      for (const ControlCommand& c : cl.control) {
        switch (c.verb) {
          case ControlCommand::kToggle:
          case ControlCommand::kStart:
          case ControlCommand::kStop:
            FUZZ_CHECK(c.value == "clicker" || c.value == "spammer" || c.value == "record" || c.value == "play");
            break;
          case ControlCommand::kHotkeys: FUZZ_CHECK(c.value == "on" || c.value == "off"); break;
          case ControlCommand::kProfile:
            FUZZ_CHECK(!c.value.empty() && c.value.size() <= 256 && IsValidUtf8(c.value));
            for (char ch : c.value) FUZZ_CHECK(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f);
            break;
          default: FUZZ_CHECK(c.value.empty()); break;
        }
      }
    }
  }

  // Relative names resolve in a private directory holding one file of each
  // accepted kind; whatever is collected is a full path.
  static const bool inHome = [] {
    const std::string& home = pmrfuzz::PrivateHome();
    FUZZ_CHECK(chdir(home.c_str()) == 0);
    return pmrfuzz::PutFile(home + "/a.pmrmacro", "x") && pmrfuzz::PutFile(home + "/b.pmrtheme", "y");
  }();
  FUZZ_CHECK(inHome);
  for (const std::string& f : pmrgtk::CollectLaunchFiles(args)) FUZZ_CHECK(!f.empty() && f[0] == '/');
  return 0;
}
