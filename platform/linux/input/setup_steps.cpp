// The input access setup's fixed steps, run as root by the setup-input helper,
// and the rule file they write.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

// Writes `content` to a new file beside `path` and renames it over `path`: a
// link standing at `path` is replaced, never followed.
bool WriteSystemFile(const std::string& path, const std::string& content) {
  std::string folder = path.substr(0, path.rfind('/'));
  if (!MakeDirs(folder)) return false;
  std::string temp = path + ".pellomar-new";
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0;
  for (size_t done = 0; ok && done < content.size();) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
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
