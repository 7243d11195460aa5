#include "platform/linux/input/input_state.h"

#include <time.h>

#include <atomic>

#include "platform/os_shell.h"

namespace {

bool PassKey(int, bool) { return false; }
int PassButton(int, bool) { return 0; }
void IgnorePlace(int, bool, int, bool, double, double) {}
void IgnoreMove(bool, double, double, long, long) {}
void IgnoreScroll(int) {}
bool NoMovePosition() { return false; }
void Nothing() {}

const InputHooks kPassThrough = {&PassKey,      &PassButton,     &IgnorePlace, &IgnoreMove,
                                 &IgnoreScroll, &NoMovePosition, &Nothing};
std::atomic<const InputHooks*> g_Hooks{&kPassThrough};

bool HookKey(int vk, bool down) { return InstalledHooks().tapKey(vk, down); }
int HookButton(int button, bool down) { return InstalledHooks().tapMouseButton(button, down); }
void HookPlace(int button, bool down, int tap, bool have, double x, double y) {
  InstalledHooks().placeMouseButton(button, down, tap, have, x, y);
}
void HookMove(bool have, double x, double y, long dx, long dy) { InstalledHooks().tapMouseMove(have, x, y, dx, dy); }
void HookScroll(int wheel) { InstalledHooks().tapScroll(wheel); }

const InputCallouts kRealCallouts = {
    &HookKey,
    &HookButton,
    &HookPlace,
    &HookMove,
    &HookScroll,
    &LinuxPointerPosition,
    &LinuxLayoutBox,
    &LinuxWindowPidAt,
};
std::atomic<const InputCallouts*> g_Callouts{&kRealCallouts};

}  // namespace

const InputHooks& InstalledHooks() { return *g_Hooks.load(std::memory_order_acquire); }

void OsSetInputHooks(const InputHooks* hooks) {
  g_Hooks.store(hooks ? hooks : &kPassThrough, std::memory_order_release);
}

const InputCallouts& Callouts() { return *g_Callouts.load(std::memory_order_acquire); }

void SetInputCalloutsForTest(const InputCallouts* c) {
  g_Callouts.store(c ? c : &kRealCallouts, std::memory_order_release);
}

int64_t SteadyNowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int ScaleToAbs(int v, int origin, int extent) {
  if (extent <= 0) return 0;
  const int64_t num = (2 * (static_cast<int64_t>(v) - origin) + 1) * 65536;
  const int64_t a = num / (2 * static_cast<int64_t>(extent));
  if (a >= 65535) return 65535;
  if (a <= 0) return 0;
  return static_cast<int>(a);
}

int ButtonVkOfCode(int code) {
  switch (code) {
    case 272: return 1;  // BTN_LEFT
    case 273: return 2;  // BTN_RIGHT
    case 274: return 4;  // BTN_MIDDLE
    case 275:            // BTN_SIDE
    case 278: return 5;  // BTN_BACK
    case 276:            // BTN_EXTRA
    case 277: return 6;  // BTN_FORWARD
    default: return 0;
  }
}
