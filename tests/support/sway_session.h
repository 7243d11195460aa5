#pragma once
// A headless sway (wlroots) compositor for tests. sway refuses to run as
// root, so it runs as the unprivileged user nobody with a runtime directory
// of its own; the test process (root) connects to its socket as a client.
// grim takes screenshots of its output.
#include <string>

#include "tests/support/process.h"

namespace pmrtest {

class SwaySession {
 public:
  SwaySession() = default;
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  // Starts sway and waits until its Wayland socket exists.
  bool Start(int timeoutMs = 20000);
  void Stop();
  const std::string& runtimeDir() const { return dir_; }
  const std::string& display() const { return display_; }
  // A PNG of the whole output; empty when grim failed.
  std::string Screenshot(const std::string& tag);

 private:
  ChildProcess sway_;
  std::string dir_, display_;
};

}  // namespace pmrtest
