#include "platform/linux/input/input_state.h"

#include <time.h>

#include <atomic>

#include "platform/os_shell.h"
#include "tools/recorder.h"

namespace {

const InputCallouts kRealCallouts = {
    &TapKey,
    &TapMouseButton,
    &TapMouseMove,
    &TapScroll,
    &LinuxPointerPosition,
    &LinuxLayoutBox,
    &LinuxWindowPidAt,
};
std::atomic<const InputCallouts*> g_Callouts{&kRealCallouts};

}  // namespace

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
