// Where the per-user state lives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdlib>
#include <mutex>
#include <string>

#include "base/data_dir.h"

std::string XdgDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + "/.local/share";
  return "/tmp/.local/share";
}

void EnsurePrivateDirectory(const std::string& path) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
    ::mkdir(path.substr(0, pos).c_str(), 0700);
  ::mkdir(path.c_str(), 0700);
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0700) ::fchmod(fd, 0700);
  ::close(fd);
}

std::string DataDirProblem(const std::string& dir) {
  const std::string start = "Pellomar cannot start: its data directory " + dir;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0)
    return start + " cannot be created (" + std::strerror(errno) + ").";
  if (!S_ISDIR(st.st_mode)) return start + " is not a directory. Move that file away and start Pellomar again.";
  if (st.st_uid != ::geteuid()) return start + " belongs to another user.";
  if (st.st_mode & 022) return start + " can be changed by other users.";
  if (::access(dir.c_str(), W_OK | X_OK) != 0) return start + " is not writable (" + std::strerror(errno) + ").";
  // The directories above, from the nearest up to the root.
  std::string above = dir;
  while (!above.empty() && above.back() == '/') above.pop_back();
  for (size_t slash = above.rfind('/'); slash != std::string::npos && !above.empty(); slash = above.rfind('/')) {
    above.resize(slash);
    const std::string path = above.empty() ? "/" : above;
    struct stat up {};
    if (::stat(path.c_str(), &up) != 0) continue;
    const bool othersOwn = up.st_uid != ::geteuid() && up.st_uid != 0;
    const bool anyoneChanges = (up.st_mode & S_IWOTH) && !(up.st_mode & S_ISVTX);
    if (othersOwn || anyoneChanges) return start + " lies in " + path + ", which another user can change.";
  }
  return {};
}

std::string OsDataDir() {
  static std::once_flag once;
  static std::string dir;
  std::call_once(once, [] {
    dir = XdgDataHome() + "/Pellomar";
    EnsurePrivateDirectory(dir);
  });
  return dir;
}
