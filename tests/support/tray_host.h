#pragma once
// A real tray host for tests: waybar with its tray module on a headless sway
// (SwaySession), on a given session bus. waybar keeps the
// StatusNotifierWatcher itself when nobody else does and registers itself
// as the host, as a desktop panel does.
#include <string>

#include "tests/support/process.h"
#include "tests/support/sway_session.h"

namespace pmrtest {

class WaybarTray {
 public:
  WaybarTray() = default;
  ~WaybarTray();
  WaybarTray(const WaybarTray&) = delete;
  WaybarTray& operator=(const WaybarTray&) = delete;

  // Starts waybar on sway's output and waits until the watcher on the bus
  // says a host is registered.
  bool Start(const SwaySession& sway, const std::string& busAddress, int timeoutMs = 60000);
  void Stop();

 private:
  ChildProcess waybar_;
  std::string dir_;
};

// A property of an object on the bus as gdbus prints it ("<'text'>" and so
// on); empty when the call failed.
std::string BusProperty(const std::string& busAddress, const std::string& dest, const std::string& path,
                        const std::string& iface, const std::string& name);

}  // namespace pmrtest
