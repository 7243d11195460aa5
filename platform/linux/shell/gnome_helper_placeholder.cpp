// The GNOME helper backend is not built yet: outside a GNOME Wayland session
// the helper is not needed ("n/a"); inside one it is reported missing.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/os_shell.h"

std::string LinuxGnomeHelperState() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  bool gnome = desktop && std::strstr(desktop, "GNOME") != nullptr;
  if (!wayland || !*wayland || !gnome) return "n/a";
  return "missing";
}

// Nothing to install until the helper itself is part of the program.
bool LinuxGnomeInstallHelper(const std::string&) { return false; }
