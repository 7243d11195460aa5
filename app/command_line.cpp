// The command line of the process entry: the modes Part of start-up has
// always had (the update self-test, the manifest override, the helper-window
// mode, files to open), and the options that ask for help, the version, or
// act on the running program.
#include <cstring>
#include <string>

#include "app/app.h"
#include "base/strings.h"
#include "update/update_core.h"

namespace {

constexpr const char kSelfTestPrefix[] = "--selftest-update=";
constexpr const char kManifestPrefix[] = "--update-manifest=";
// Longest profile name the command line passes on.
constexpr size_t kMaxProfileNameBytes = 256;

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool IsTool(const std::string& v) { return v == "clicker" || v == "spammer" || v == "record" || v == "play"; }

// Why `name` cannot name a profile; empty when it can.
std::string ProfileNameProblem(const std::string& name) {
  if (name.empty()) return "the profile name is empty";
  if (name.size() > kMaxProfileNameBytes) return "the profile name is longer than 256 bytes";
  if (!IsValidUtf8(name)) return "the profile name is not UTF-8 text";
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "the profile name holds a control character";
  return {};
}

struct ValueOption {
  const char* name;
  ControlCommand::Verb verb;
};
constexpr ValueOption kValueOptions[] = {{"--toggle", ControlCommand::kToggle},
                                         {"--start", ControlCommand::kStart},
                                         {"--stop", ControlCommand::kStop},
                                         {"--hotkeys", ControlCommand::kHotkeys},
                                         {"--profile", ControlCommand::kProfile}};

// Why `value` does not fit `verb`; empty when it does.
std::string ValueProblem(const char* option, ControlCommand::Verb verb, const std::string& value) {
  switch (verb) {
    case ControlCommand::kToggle:
    case ControlCommand::kStart:
    case ControlCommand::kStop:
      if (IsTool(value)) return {};
      return std::string(option) + " takes clicker, spammer, record or play";
    case ControlCommand::kHotkeys:
      if (value == "on" || value == "off") return {};
      return "--hotkeys takes on or off";
    case ControlCommand::kProfile: {
      std::string problem = ProfileNameProblem(value);
      return problem.empty() ? problem : "--profile: " + problem;
    }
    default: return {};
  }
}

// Quoted for a message: control characters and bytes beyond ASCII shown as
// escapes, so an argument cannot write to the terminal.
std::string Shown(const std::string& arg) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "'";
  for (size_t i = 0; i < arg.size() && i < 64; ++i) {
    const unsigned char c = static_cast<unsigned char>(arg[i]);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (arg.size() > 64) out += "...";
  return out + "'";
}

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
  if (cl.child) return cl;  // the helper-window mode ends the process whatever follows

  bool help = false, version = false, files = false, optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // A single dash with a dot ("-x.pmrmacro") was always a file name the
    // program passes over, never an option.
    const bool dashedName = arg.size() > 1 && arg[1] != '-' && arg.find('.') != std::string::npos;
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || dashedName) {
      files = files || !arg.empty();
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // Accepted as before: the manifest override (the bare word is ignored),
    // "--child" after the first place, and the word WebKitWebDriver starts
    // its browser with.
    if (StartsWith(arg, kManifestPrefix) || arg == "--update-manifest" || arg == "--child" ||
        arg == "--automation")
      continue;
    if (arg == "--help" || arg == "-h") {
      help = true;
      continue;
    }
    if (arg == "--version") {
      version = true;
      continue;
    }
    if (arg == "--stop-all" || arg == "--status") {
      cl.control.push_back({arg == "--status" ? ControlCommand::kStatus : ControlCommand::kStopAll, {}});
      continue;
    }
    const ValueOption* option = nullptr;
    std::string value;
    bool hasValue = false;
    for (const ValueOption& o : kValueOptions) {
      const size_t n = std::strlen(o.name);
      if (arg == o.name) {
        option = &o;
      } else if (arg.size() > n && arg.compare(0, n, o.name) == 0 && arg[n] == '=') {
        option = &o;
        value = arg.substr(n + 1);
        hasValue = true;
      }
      if (option) break;
    }
    if (!option) {
      if (cl.usageError.empty()) cl.usageError = "unknown option " + Shown(arg);
      continue;
    }
    if (!hasValue) {
      if (i + 1 >= argc) {
        if (cl.usageError.empty()) cl.usageError = std::string(option->name) + " needs a value";
        continue;
      }
      value = argv[++i];
    }
    std::string problem = ValueProblem(option->name, option->verb, value);
    if (!problem.empty()) {
      if (cl.usageError.empty()) cl.usageError = problem;
      continue;
    }
    cl.control.push_back({option->verb, value});
  }
  if (!cl.usageError.empty())
    cl.mode = CommandLine::kUsageError;
  else if (help)
    cl.mode = CommandLine::kHelp;
  else if (version)
    cl.mode = CommandLine::kVersion;
  else if (!cl.control.empty() && files) {
    cl.mode = CommandLine::kUsageError;
    cl.usageError = "files to open cannot be given with options that control the running program";
  } else if (!cl.control.empty())
    cl.mode = CommandLine::kControl;
  return cl;
}

std::string CommandLineHelp() {
  return "Usage: pellomar [OPTION]... [FILE]...\n"
         "Auto clicker, key spammer and macro recorder with global hotkeys.\n"
         "Files ending in .pmrmacro or .pmrtheme open in the running program, which starts when needed.\n"
         "\n"
         "Options that act on the running program (TOOL is clicker, spammer, record or play):\n"
         "  --toggle TOOL              start TOOL when it is stopped, stop it when it runs\n"
         "  --start TOOL               start TOOL\n"
         "  --stop TOOL                stop TOOL\n"
         "  --stop-all                 stop every tool and release every key and button still held\n"
         "  --hotkeys on|off           switch the global hotkeys on or off\n"
         "  --profile NAME             make the profile called NAME the current one\n"
         "  --status                   print what runs, the counts, the profile and the hotkeys as JSON\n"
         "\n"
         "Other options:\n"
         "  -h, --help                 print this help and exit\n"
         "  --version                  print the name and version and exit\n"
         "  --update-manifest=SOURCE   check for updates against SOURCE instead of the release manifest\n"
         "  --selftest-update=FILE     check the update rules against the vectors in FILE and exit\n"
         "  --child                    as the first argument: prepare a helper window's decorations and exit\n"
         "\n"
         "Exit status: 0 done; 1 refused by the running program; 2 wrong usage; 3 the program is not running.\n";
}

std::string CommandLineVersion() { return std::string("pellomar ") + kCurrentVersion + " (Free)\n"; }
