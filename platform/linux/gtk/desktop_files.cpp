// Where the program lies and what it leaves on disk for the desktop: the
// resource directory, the application identifier, the files named on the
// command line, the single-instance lock with the pending-open hand-over, and
// the autostart entry.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "base/data_dir.h"
#include "base/atomic_file.h"
#include "base/number_text.h"
#include "base/read_file.h"
#include "base/strings.h"

namespace pmrgtk {

std::vector<std::string> g_LaunchFiles;
int g_LockFds = -1;

namespace {

bool EndsWith(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// The command line of a process is at most a few MiB (ARG_MAX); the lock
// file holds a process id.
constexpr size_t kCommandLineMaxBytes = size_t{8} << 20;
constexpr size_t kLockFileMaxBytes = 4096;

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Until the lifecycle hooks take over SIGUSR2, a wake from a second start must
// not end this process (its default action): the handed-over files stay in
// the pending-open file and are delivered when the open-files handler is
// installed.
void IgnoreWakeUntilHooked(int) {}

// A path inside a double-quoted Exec argument: the characters the desktop
// entry format reserves there are escaped, and a percent sign is doubled.
std::string QuoteExecArgument(const std::string& path) {
  std::string arg = "\"";
  for (char c : path) {
    if (c == '%')
      arg += "%%";
    else if (c == '$' || c == '`')
      arg += std::string("\\\\") + c;  // written \\$: one backslash once string escapes are undone
    else if (c == '\\')
      arg += "\\\\\\\\";  // four backslashes: an escaped backslash, string-escaped
    else
      arg += c;
  }
  return arg + "\"";
}

}  // namespace

std::string ExecutablePath() {
  static const std::string path = [] {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, 4095);
    if (n <= 0) return std::string();
    std::string p(buf, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (p.size() > deleted.size() && EndsWith(p, deleted.c_str())) p.resize(p.size() - deleted.size());
    return p;
  }();
  return path;
}

bool IsAcceptedFileName(const std::string& name, bool dropped) {
  if (name.size() > 9 && (EndsWith(name, ".pmrtheme") || EndsWith(name, ".pmrmacro"))) return true;
  return dropped && name.size() > 4 && EndsWith(name, ".mcr");
}

std::vector<std::string> CollectLaunchFiles(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || arg[0] == '-' || !IsAcceptedFileName(arg, false)) continue;
    if (access(arg.c_str(), R_OK) != 0) continue;
    char resolved[4096];
    files.push_back(realpath(arg.c_str(), resolved) ? std::string(resolved) : arg);
  }
  return files;
}

std::string XdgConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  if (home && home[0]) return std::string(home) + "/.config";
  return "/tmp/.config";
}

std::string AutostartEntryPath() {
  return XdgConfigHome() + "/autostart" + "/pellomar-" + kEditionWord + ".desktop";
}

std::string AutostartEntryText(const std::string& programPath, const std::string& icon) {
  std::string text = std::string("[Desktop Entry]\n") + "Type=Application\n" + "Name=Pellomar " + kEditionWord +
                     "\n" + "Exec=" + QuoteExecArgument(programPath) + "\n" + "Terminal=false\n" +
                     "X-GNOME-Autostart-enabled=true\n";
  // A value with a control character or a backslash would need escapes some
  // readers get wrong; such an icon is left out (the entry works without it).
  bool plain = !icon.empty();
  for (char c : icon)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\\') plain = false;
  if (plain) text += "Icon=" + icon + "\n";
  return text;
}

std::string AutostartIcon(bool appImage) {
  // An AppImage's files live under a mount point that changes with every
  // start: name the icon instead, as desktop integration of AppImages installs it.
  if (appImage) return std::string("pellomar-") + kEditionWord;
  return OsResourceDir() + "/" + kWindowIconDir + "/pellomar.svg";
}

std::string LockFilePath() { return OsDataDir() + "/instance.lock"; }
std::string PendingOpenFilePath() { return OsDataDir() + "/pending-open.txt"; }

int LockFileOwnerPid(const std::string& content) {
  std::string first = content.substr(0, content.find('\n'));
  // A value that does not fit a process id is no process id: sending a signal
  // to a wrapped-around number could reach every process of the user.
  std::optional<int32_t> pid = ParseLeadingInt32(first);
  return pid && *pid > 0 ? *pid : 0;
}

void MakeDirectories(const std::string& path, unsigned mode) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), mode);
  mkdir(path.c_str(), mode);
}

}  // namespace pmrgtk

using namespace pmrgtk;

std::string OsResourceDir() {
  static const std::string dir = [] {
    const std::string& exe = ExecutablePath();
    if (exe.empty()) return std::string(".");
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  }();
  return dir;
}

std::string OsBundleIdentifier() { return std::string("app.pellomar.") + kEditionWord; }

void OsPrepareFileOpenHandling() {
  std::string cmdline;
  if (ReadFileCapped("/proc/self/cmdline", cmdline, ReadLimits{.maxBytes = kCommandLineMaxBytes}) != ReadStatus::kOk)
    return;
  std::vector<std::string> files = CollectLaunchFiles(SplitString(cmdline, '\0'));
  g_LaunchFiles.insert(g_LaunchFiles.end(), files.begin(), files.end());
}

bool OsAcquireSingleInstanceLock(std::string* problem) {
  OsDataDir();  // creates the data directory (mode 0700) on first use
  const std::string path = LockFilePath();
  // Never through a link, never a FIFO or device: only a regular file of the
  // data directory is locked and written.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
    errno = EINVAL;
  }
  if (fd < 0) {
    // Not being able to take the lock is no sign of another instance.
    if (problem) {
      const int err = errno;
      *problem = "Pellomar cannot start: its lock file " + path +
                 (err == ELOOP || err == EINVAL || err == EISDIR || err == ENXIO
                      ? std::string(" is not a regular file.")
                      : " cannot be opened (" + std::string(std::strerror(err)) + ").");
    }
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    if (problem && err != EWOULDBLOCK)
      *problem = "Pellomar cannot start: its lock file " + path + " cannot be locked (" + std::strerror(err) + ").";
    return false;
  }
  g_LockFds = fd;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = IgnoreWakeUntilHooked;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR2, &sa, nullptr);
  if (ftruncate(fd, 0) == 0) {
    std::string pid = std::to_string(getpid()) + "\n";
    (void)!pwrite(fd, pid.data(), pid.size(), 0);
  }
  return true;
}

void OsActivateOtherInstance() {
  int pid = LockFileOwnerPid(ReadStateFile(LockFilePath(), kLockFileMaxBytes));
  if (pid <= 0) return;
  if (!g_LaunchFiles.empty()) {
    int fd = open(PendingOpenFilePath().c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd >= 0) {
      std::string text;
      for (const std::string& path : g_LaunchFiles)
        if (path.find('\n') == std::string::npos) text += path + "\n";  // a line feed would split the path
      WriteAll(fd, text);
      close(fd);
    }
  }
  kill(pid, SIGUSR2);
}

void OsApplyLaunchAtLogin(bool enabled) {
  const std::string entry = AutostartEntryPath();
  if (!enabled) {
    unlink(entry.c_str());
    return;
  }
  const char* appimage = std::getenv("APPIMAGE");
  const std::string program = appimage && appimage[0] ? std::string(appimage) : ExecutablePath();
  if (program.empty() || program.find('"') != std::string::npos || program.find('\n') != std::string::npos)
    return;
  MakeDirectories(XdgConfigHome() + "/autostart", 0755);
  WriteFileAtomically(entry, AutostartEntryText(program, AutostartIcon(appimage && appimage[0])));
}
