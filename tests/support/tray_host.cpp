// waybar as the tray host of tests.
#include "tests/support/tray_host.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace pmrtest {

WaybarTray::~WaybarTray() { Stop(); }

bool WaybarTray::Start(const SwaySession& sway, const std::string& busAddress, int timeoutMs) {
  dir_ = MakeTempDir("waybar");
  if (dir_.empty()) return false;
  const std::string config = dir_ + "/config.json";
  {
    std::ofstream out(config);
    out << "{\"layer\":\"top\",\"position\":\"top\",\"height\":30,\"modules-right\":[\"tray\"],"
           "\"tray\":{\"icon-size\":16,\"spacing\":4}}\n";
  }
  { std::ofstream(dir_ + "/style.css") << "* { font-size: 12px; }\n"; }
  waybar_ = Spawn({"waybar", "-c", config, "-s", dir_ + "/style.css"},
                  {"DBUS_SESSION_BUS_ADDRESS=" + busAddress, "XDG_RUNTIME_DIR=" + sway.runtimeDir(),
                   "WAYLAND_DISPLAY=" + sway.display(), "GDK_BACKEND=wayland", "HOME=" + dir_,
                   "XDG_CONFIG_HOME=" + dir_, "DISPLAY=", "NO_AT_BRIDGE=1"},
                  false);
  if (waybar_.pid <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (BusProperty(busAddress, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                    "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered") == "<true>")
      return true;
    if (kill(waybar_.pid, 0) != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void WaybarTray::Stop() {
  if (waybar_.pid > 0) {
    kill(waybar_.pid, SIGTERM);
    if (WaitFor(waybar_, 10) < 0) WaitFor(waybar_, 1);
    waybar_.pid = -1;
  }
}

std::string BusProperty(const std::string& busAddress, const std::string& dest, const std::string& path,
                        const std::string& iface, const std::string& name) {
  std::string out;
  if (Run({"gdbus", "call", "--session", "--dest", dest, "--object-path", path, "--method",
           "org.freedesktop.DBus.Properties.Get", iface, name},
          &out, {"DBUS_SESSION_BUS_ADDRESS=" + busAddress}, 10) != 0)
    return {};
  // "(<value>,)\n" → "<value>"
  if (out.size() > 4 && out.front() == '(' && out.compare(out.size() - 3, 3, ",)\n") == 0)
    return out.substr(1, out.size() - 4);
  return out;
}

}  // namespace pmrtest
