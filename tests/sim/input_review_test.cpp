// Corner cases of the input layer found in review: events lost to a full
// reader buffer.
#include <gtest/gtest.h>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "tests/sim/input_harness.h"

using namespace pmrsim;

// A left-button release lost to an overflowing reader buffer must still end
// the watch, or the button would count as held for good.
TEST(ButtonWatch, ReleaseLostToOverflowIsFoundFromTheKeyState) {
  InputHarness h;
  DeviceDesc m = BasicMouse("Mouse");
  m.phys = "usb-m";
  std::string mouse = h.Add(m);
  DeviceDesc m2 = BasicMouse("Second Mouse");
  m2.phys = "usb-m2";
  std::string second = h.Add(m2);
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  LinuxButtonWatch* w = LinuxButtonWatchStart();
  ASSERT_NE(w, nullptr);

  // Lost events on a device whose button is up do not mean a release while
  // the button is still held on the other one.
  ASSERT_TRUE(h.k().EmitLost(second, {Ev(EV_REL, REL_X, 5), Ev(EV_SYN, SYN_REPORT, 0)}));
  EXPECT_FALSE(LinuxButtonWatchReleased(w));
  // Lost events that leave the button held are no release either.
  ASSERT_TRUE(h.k().EmitLost(mouse, {Ev(EV_REL, REL_X, 5), Ev(EV_SYN, SYN_REPORT, 0)}));
  EXPECT_FALSE(LinuxButtonWatchReleased(w));

  ASSERT_TRUE(h.k().EmitLost(mouse, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)}));
  h.k().Emit(mouse, {Ev(EV_REL, REL_X, 3), Ev(EV_SYN, SYN_REPORT, 0)});
  EXPECT_TRUE(LinuxButtonWatchReleased(w));
  LinuxButtonWatchStop(w);
}
