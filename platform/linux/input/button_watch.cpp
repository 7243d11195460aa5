// The left-button watch (is the left button still held where the shell
// cannot tell?) and the test whether a window belongs to this program.
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/input/device_io.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"

namespace {

bool LeftHeldOn(int fd) {
  unsigned char state[(KEY_CNT + 7) / 8] = {};
  return IoIoctl(fd, EVIOCGKEY(sizeof state), state) >= 0 && (state[BTN_LEFT / 8] >> (BTN_LEFT % 8) & 1);
}

}  // namespace

struct LinuxButtonWatch {
  std::vector<int> fds;
  bool released = false;
};

LinuxButtonWatch* LinuxButtonWatchStart() {
  std::vector<std::string> names;
  if (!InputIo().ListDir("/dev/input", names)) return nullptr;
  auto* w = new LinuxButtonWatch;
  bool held = false;
  for (const std::string& name : names) {
    if (name.rfind("event", 0) != 0) continue;
    const std::string path = "/dev/input/" + name;
    int fd = InputIo().Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    char phys[256] = {};
    if (IoIoctl(fd, EVIOCGPHYS(255), phys) < 0) phys[0] = 0;
    // Twins are watched: a grabbed mouse's buttons appear only there.
    if (std::strcmp(phys, "pmr-inject") == 0 || std::strcmp(phys, "pmr-pointer") == 0) {
      InputIo().Close(fd);
      continue;
    }
    unsigned char ev[(EV_CNT + 7) / 8] = {};
    unsigned char keys[(KEY_CNT + 7) / 8] = {};
    IoIoctl(fd, EVIOCGBIT(0, sizeof ev), ev);
    IoIoctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys);
    const bool hasLeft = (ev[EV_KEY / 8] >> (EV_KEY % 8) & 1) && (keys[BTN_LEFT / 8] >> (BTN_LEFT % 8) & 1);
    if (!hasLeft) {
      InputIo().Close(fd);
      continue;
    }
    if (LeftHeldOn(fd)) held = true;
    w->fds.push_back(fd);
  }
  if (!held) {
    LinuxButtonWatchStop(w);
    return nullptr;
  }
  return w;
}

bool LinuxButtonWatchReleased(LinuxButtonWatch* w) {
  if (!w) return true;
  bool lost = false;  // events may have gone unseen
  for (int fd : w->fds) {
    input_event evs[32];
    // Bounded, so a device that never runs dry cannot hold the caller.
    for (int reads = 0; reads < 64; ++reads) {
      ssize_t n = InputIo().Read(fd, evs, sizeof evs);
      if (n < 0 && errno != EAGAIN && errno != EINTR) lost = true;  // unplugged
      if (n <= 0) break;
      for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(input_event); ++i) {
        if (evs[i].type == EV_KEY && evs[i].code == BTN_LEFT && evs[i].value == 0) w->released = true;
        if (evs[i].type == EV_SYN && evs[i].code == SYN_DROPPED) lost = true;
      }
    }
  }
  // A full buffer may have swallowed the release (a fast mouse fills it in
  // a few milliseconds), and an unplugged mouse reports none: then the key
  // state of the devices tells (a gone one holds nothing).
  if (lost && !w->released) {
    bool held = false;
    for (int fd : w->fds) held = held || LeftHeldOn(fd);
    if (!held) w->released = true;
  }
  return w->released;
}

void LinuxButtonWatchStop(LinuxButtonWatch* w) {
  if (!w) return;
  for (int fd : w->fds) InputIo().Close(fd);
  delete w;
}

std::string ExecutableOf(int pid) {
  char buf[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buf, 4095);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

bool OsIsOwnWindowAt(double x, double y) {
  const int pid = Callouts().windowPidAt(x, y);
  if (pid <= 0) return false;
  if (pid == getpid()) return true;
  static const std::string own = ExecutableOf(getpid());
  if (own.empty()) return false;
  return ExecutableOf(pid) == own;
}
