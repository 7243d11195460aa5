// The input access setup's fixed steps, run as root by the setup-input helper,
// and the rule file they write.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/atomic_file.h"
#include "platform/linux/input/setup.h"
#include "platform/linux/system_tools.h"

const char* const kUdevRules =
    "# Pellomar: lets the person signed in at this computer use the keyboard and mouse\n"
    "# devices (hotkeys, macro recording) and the virtual input device (the clicks and key presses\n"
    "# the app sends). Delete this file to undo.\n"
    "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\", OPTIONS+=\"static_node=uinput\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEYBOARD}==\"1\", TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEY}==\"1\", TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_MOUSE}==\"1\", TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_TOUCHPAD}==\"1\", TAG+=\"uaccess\"\n";

namespace {

bool MakeDirs(const std::string& path) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = path.find('/', slash + 1);
    std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes `content` whole over `path`, readable by everyone: a link standing at
// `path` is replaced, never followed.
bool WriteSystemFile(const std::string& path, const std::string& content) {
  if (!MakeDirs(path.substr(0, path.rfind('/')))) return false;
  AtomicWriteOptions options;
  options.mode = 0644;
  return WriteFileAtomically(path, content, options);
}

}  // namespace

std::string RunInputSetupSteps(const std::string& etc) {
  const std::string rules = etc + (kRulesPath + 4);           // kRulesPath starts with "/etc"
  const std::string modules = etc + (kModulesLoadPath + 4);  // so does kModulesLoadPath
  if (!WriteSystemFile(rules, kUdevRules)) return "could not write " + rules;
  if (!WriteSystemFile(modules, "uinput\n")) return "could not write " + modules;
  RunSystemTool("modprobe", {"uinput"});  // built into the kernel, or loaded at the next start
  const std::vector<std::vector<std::string>> udevadm = {
      {"control", "--reload-rules"},
      {"trigger", "--action=change", "--subsystem-match=misc", "--sysname-match=uinput"},
      {"trigger", "--action=change", "--subsystem-match=input", "--sysname-match=event*"},
  };
  for (const auto& args : udevadm) {
    if (RunSystemTool("udevadm", args) != 0) {
      std::string line = "udevadm";
      for (const std::string& a : args) line += " " + a;
      return line + " failed";
    }
  }
  RunSystemTool("udevadm", {"settle", "--timeout=5"});
  return std::string();
}
