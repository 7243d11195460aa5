// Injection: the two virtual devices the tools act through ("pmr-inject", a
// keyboard plus relative mouse with wheel, and "pmr-pointer", an absolute
// pointer), created through uinput and kept for the life of the process.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>

#include <bitset>
#include <cmath>
#include <cstring>

#include "platform/linux/input/device_io.h"
#include "platform/linux/input/input_state.h"
#include "platform/linux/input/motion_positions.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "platform/os_shell.h"

std::mutex g_InjectMutex;
int g_InjectFd = -1;
int g_PointerFd = -1;
int g_LastAbsX = -1;
int g_LastAbsY = -1;

namespace {

constexpr uint16_t kPmrVendor = 0x504D;

input_event Event(int type, int code, int value) {
  input_event e{};
  e.type = static_cast<uint16_t>(type);
  e.code = static_cast<uint16_t>(code);
  e.value = value;
  return e;
}

bool SetUp(int fd, uint16_t product, const char* name, const char* phys) {
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = kPmrVendor;
  setup.id.product = product;
  setup.id.version = 1;
  std::strncpy(setup.name, name, UINPUT_MAX_NAME_SIZE - 1);
  setup.ff_effects_max = 0;
  return IoIoctl(fd, UI_SET_PHYS, phys) >= 0 && IoIoctl(fd, UI_DEV_SETUP, &setup) >= 0 &&
         IoIoctlInt(fd, UI_DEV_CREATE, 0) >= 0;
}

bool CreateInjectDevice(int fd) {
  for (int type : {EV_KEY, EV_REL, EV_SYN})
    if (IoIoctlInt(fd, UI_SET_EVBIT, type) < 0) return false;
  for (int code = 1; code <= 766; ++code)
    if (EvdevToVk(code) != 0 && IoIoctlInt(fd, UI_SET_KEYBIT, code) < 0) return false;
  for (int code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA})
    if (IoIoctlInt(fd, UI_SET_KEYBIT, code) < 0) return false;
  for (int axis : {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES, REL_HWHEEL, REL_HWHEEL_HI_RES})
    if (IoIoctlInt(fd, UI_SET_RELBIT, axis) < 0) return false;
  return SetUp(fd, 0x5201, "Pellomar virtual input", "pmr-inject");
}

bool CreatePointerDevice(int fd) {
  if (IoIoctlInt(fd, UI_SET_EVBIT, EV_ABS) < 0 || IoIoctlInt(fd, UI_SET_EVBIT, EV_KEY) < 0 ||
      IoIoctlInt(fd, UI_SET_KEYBIT, BTN_LEFT) < 0)
    return false;
  for (int axis : {ABS_X, ABS_Y}) {
    uinput_abs_setup abs{};
    abs.code = static_cast<uint16_t>(axis);
    abs.absinfo.value = 0;
    abs.absinfo.minimum = 0;
    abs.absinfo.maximum = 65535;
    if (IoIoctlInt(fd, UI_SET_ABSBIT, axis) < 0 || IoIoctl(fd, UI_ABS_SETUP, &abs) < 0) return false;
  }
  return SetUp(fd, 0x5202, "Pellomar virtual pointer", "pmr-pointer");
}

// Part of a wheel notch written as high-resolution movement but not yet as a
// whole notch; guarded by g_InjectMutex.
int g_WheelRemainder = 0;
int g_HWheelRemainder = 0;

// Key and button codes pressed on the injection device; guarded by
// g_InjectMutex.
std::bitset<KEY_CNT> g_InjectHeld;

// Writes events[0..n) plus the SYN_REPORT at events[n] to the injection
// device in one write; the caller holds g_InjectMutex. While the session is
// locked or inactive nothing is written but the release of a key or button
// the tools hold: it must not stay down (the lock screen would repeat it).
void WriteFrameLocked(const input_event* events, int n) {
  if (g_InjectFd < 0) return;
  if (!g_SessionUsable.load()) {
    for (int i = 0; i < n; ++i)
      if (events[i].type != EV_KEY || events[i].value != 0 || events[i].code >= KEY_CNT ||
          !g_InjectHeld.test(events[i].code))
        return;
  }
  (void)InputIo().Write(g_InjectFd, events, sizeof(input_event) * (n + 1));
  for (int i = 0; i < n; ++i)
    if (events[i].type == EV_KEY && events[i].code < KEY_CNT) g_InjectHeld.set(events[i].code, events[i].value != 0);
}

// Writes events[0..n) plus a SYN_REPORT at events[n] to the injection device.
void Send(input_event* events, int n) {
  events[n] = input_event{};
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  WriteFrameLocked(events, n);
}

}  // namespace

bool OsInputInit() {
  LinuxPointerInit();
  return EnsureInjectDevice();
}

bool EnsureInjectDevice() {
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  if (g_InjectFd >= 0) return true;
  int fd = InputIo().Open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  if (!CreateInjectDevice(fd)) {
    InputIo().Close(fd);
    return false;
  }
  g_InjectFd = fd;
  int pfd = InputIo().Open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (pfd >= 0) {
    if (CreatePointerDevice(pfd)) {
      g_PointerFd = pfd;
    } else {
      InputIo().Close(pfd);
    }
  }
  return true;
}

void OsMouseButton(int button, bool down, int) {
  const int code = button == 0 ? BTN_LEFT : button == 1 ? BTN_RIGHT : BTN_MIDDLE;
  input_event events[2] = {Event(EV_KEY, code, down ? 1 : 0), input_event{}};
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  WriteFrameLocked(events, 1);
}

void OsMoveMouseTo(int x, int y) {
  if (!g_SessionUsable.load()) return;
  MotionPositionsForget();
  int left = 0, top = 0, width = 0, height = 0;
  if (!Callouts().layoutBox(left, top, width, height)) return;
  const int ax = ScaleToAbs(x, left, width);
  const int ay = ScaleToAbs(y, top, height);
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  if (g_PointerFd < 0) return;
  input_event events[5];
  int n = 0;
  if (ax == g_LastAbsX && ay == g_LastAbsY) {
    // The kernel drops an axis value equal to the last one, so the pointer
    // would not be placed again (the desktop may have moved it meanwhile).
    events[n++] = Event(EV_ABS, ABS_X, ax == 0 ? ax + 1 : ax - 1);
    events[n++] = input_event{};
  }
  events[n++] = Event(EV_ABS, ABS_X, ax);
  events[n++] = Event(EV_ABS, ABS_Y, ay);
  events[n++] = input_event{};
  (void)InputIo().Write(g_PointerFd, events, sizeof(input_event) * n);
  g_LastAbsX = ax;
  g_LastAbsY = ay;
}

void OsCursorPosition(int& x, int& y) {
  double px = 0, py = 0;
  if (Callouts().pointerPosition(px, py)) {
    x = static_cast<int>(std::lround(px));
    y = static_cast<int>(std::lround(py));
  } else {
    x = 0;
    y = 0;
  }
}

void OsInputReleaseAllHeld() {
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  for (size_t code = 0; code < g_InjectHeld.size(); ++code) {
    if (!g_InjectHeld.test(code)) continue;
    input_event events[2] = {Event(EV_KEY, static_cast<int>(code), 0), input_event{}};
    WriteFrameLocked(events, 1);
  }
}

void OsKeyVk(int vk, bool down) {
  const int code = VkToEvdev(vk);
  if (code <= 0) return;
  input_event events[2] = {Event(EV_KEY, code, down ? 1 : 0)};
  Send(events, 1);
}

void OsKeyVkRepeat(int vk) {
  const int code = VkToEvdev(vk);
  if (code <= 0) return;
  input_event events[2] = {Event(EV_KEY, code, 2)};
  Send(events, 1);
}

void OsMoveMouseBy(int dx, int dy) {
  if (dx == 0 && dy == 0) return;
  input_event events[3];
  int n = 0;
  if (dx != 0) events[n++] = Event(EV_REL, REL_X, dx);
  if (dy != 0) events[n++] = Event(EV_REL, REL_Y, dy);
  Send(events, n);
}

namespace {

// One wheel axis: the high-resolution value as given, whole notches for
// readers of the classic axis; the part of a notch left over is kept for the
// next movement in the same direction.
void SendWheel(int delta120, int hiResAxis, int notchAxis, int& remainder) {
  if (delta120 == 0) return;
  input_event events[3];
  int n = 0;
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  if (!g_SessionUsable.load()) return;
  if ((remainder > 0 && delta120 < 0) || (remainder < 0 && delta120 > 0)) remainder = 0;
  const long long total = static_cast<long long>(remainder) + delta120;
  const long long notches = total / 120;
  remainder = static_cast<int>(total - notches * 120);
  events[n++] = Event(EV_REL, static_cast<uint16_t>(hiResAxis), delta120);
  if (notches != 0) events[n++] = Event(EV_REL, static_cast<uint16_t>(notchAxis), static_cast<int>(notches));
  events[n] = input_event{};
  WriteFrameLocked(events, n);
}

}  // namespace

void OsMouseWheel(int delta120) { SendWheel(delta120, REL_WHEEL_HI_RES, REL_WHEEL, g_WheelRemainder); }
void OsMouseHWheel(int delta120) { SendWheel(delta120, REL_HWHEEL_HI_RES, REL_HWHEEL, g_HWheelRemainder); }

bool OsAccessibilityTrusted() {
  int fd = InputIo().Open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  InputIo().Close(fd);
  return true;
}

void OsOpenPrivacyPane(const std::string&) {}

void ResetInputForTest() {
  std::lock_guard<std::mutex> lock(g_InjectMutex);
  if (g_InjectFd >= 0) InputIo().Close(g_InjectFd);
  if (g_PointerFd >= 0) InputIo().Close(g_PointerFd);
  g_InjectFd = g_PointerFd = -1;
  g_LastAbsX = g_LastAbsY = -1;
  g_InjectHeld.reset();
  g_WheelRemainder = 0;
  g_HWheelRemainder = 0;
  g_SessionUsable.store(true);
  g_GrabBroken.store(false);
  g_BusySinceNs.store(0);
}
