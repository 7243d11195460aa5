#pragma once
// A private Xvfb for a benchmark. Header-only.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

extern char** environ;

namespace pmrbench {

class Xvfb {
 public:
  bool Start() {
    int n = 300 + static_cast<int>(getpid() % 300);
    for (;; ++n) {
      std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
      std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      struct stat st;
      if (stat(sock.c_str(), &st) != 0 && stat(lock.c_str(), &st) != 0) break;
    }
    display_ = ":" + std::to_string(n);
    std::vector<std::string> args = {"Xvfb", display_, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&pid_, "Xvfb", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int i = 0; i < 800; ++i) {  // up to 20 s: a loaded machine starts it slowly
      struct stat st;
      if (stat(sock.c_str(), &st) == 0) {
        if (Display* d = XOpenDisplay(display_.c_str())) {
          XCloseDisplay(d);
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace pmrbench
