// Where the per-user state lives.
#include <sys/stat.h>

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
  ::chmod(path.c_str(), 0700);
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
