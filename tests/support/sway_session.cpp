// A headless sway compositor for tests.
#include "tests/support/sway_session.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace pmrtest {

SwaySession::~SwaySession() { Stop(); }

bool SwaySession::Start(int timeoutMs) {
  dir_ = MakeTempDir("sway");
  if (dir_.empty()) return false;
  const uid_t nobody = 65534;
  if (chown(dir_.c_str(), nobody, nobody) != 0 || chmod(dir_.c_str(), 0700) != 0) return false;
  const std::string config = dir_ + ".conf";
  { std::ofstream(config) << "output * bg #000000 solid_color\n"; }
  chmod(config.c_str(), 0644);
  sway_ = Spawn({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "env", "-i", "PATH=/usr/bin:/bin",
                 "HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_, "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                 "WLR_LIBINPUT_NO_DEVICES=1", "sway", "-c", config},
                {}, false);
  if (sway_.pid <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  struct stat st {};
  while (std::chrono::steady_clock::now() < deadline) {
    if (stat((dir_ + "/wayland-1").c_str(), &st) == 0) {
      display_ = "wayland-1";
      return true;
    }
    if (kill(sway_.pid, 0) != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void SwaySession::Stop() {
  if (sway_.pid > 0) {
    kill(sway_.pid, SIGTERM);
    if (WaitFor(sway_, 10) < 0) WaitFor(sway_, 1);
    sway_.pid = -1;
  }
}

std::string SwaySession::Screenshot(const std::string& tag) {
  const std::string png = MakeTempDir("grim") + "/" + tag + ".png";
  if (Run({"grim", png}, nullptr, {"XDG_RUNTIME_DIR=" + dir_, "WAYLAND_DISPLAY=" + display_}) != 0) return {};
  return png;
}

}  // namespace pmrtest
