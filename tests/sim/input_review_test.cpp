// Corner cases of the input layer: events lost to a full reader buffer, and
// the watchdog's reach over everything a frame calls out to.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <chrono>
#include <thread>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "tests/sim/input_harness.h"
#include "model/tool_state.h"

using namespace pmrsim;

namespace {

// Which call out of the capture blocks (once) for longer than the watchdog
// allows.
enum class Stall { None, MoveHook, ScrollHook, PositionQuery };
std::atomic<Stall> g_Stall{Stall::None};
std::atomic<bool> g_Stalling{false};

void StallIf(Stall where) {
  Stall expected = where;
  if (!g_Stall.compare_exchange_strong(expected, Stall::None)) return;
  g_Stalling.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(1600));
  g_Stalling.store(false);
}

const InputCallouts kStallingCallouts = {
    [](int, bool) { return false; },
    [](int, bool) { return 0; },
    [](int, bool, int, bool, double, double) {},
    [](bool, double, double, long, long) { StallIf(Stall::MoveHook); },
    [](int) { StallIf(Stall::ScrollHook); },
    [](double& x, double& y) {
      StallIf(Stall::PositionQuery);
      x = 10;
      y = 20;
      return true;
    },
    [](int& x, int& y, int& w, int& h) {
      x = y = 0;
      w = 1920;
      h = 1080;
      return true;
    },
    [](double, double) { return 0; },
};

}  // namespace

// The movement and wheel hooks may wait for the profile lock: a block in
// either must not leave the desktop without its mouse. Recorded absolute
// motion asks the pointer backend on a thread of its own, so a backend that
// does not answer holds up no frame at all: nothing is released.
TEST(Watchdog, CoversEveryCallOfAFrame) {
  struct Case {
    const char* what;
    Stall stall;
    bool recordAbsolute;
    bool captureStalls;
  };
  const Case cases[] = {
      {"movement hook", Stall::MoveHook, false, true},
      {"wheel hook", Stall::ScrollHook, false, true},
      {"position query for recorded motion", Stall::PositionQuery, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InputHarness h;
    SetInputCalloutsForTest(&kStallingCallouts);
    DeviceDesc m = BasicMouse("Mouse");
    m.phys = "usb-mouse/input0";
    std::string mouse = h.Add(m);
    h.Add(BasicKeyboard());
    ASSERT_TRUE(OsStartInputTap());
    ASSERT_TRUE(h.WaitGrabbed(mouse));
    isRecording.store(c.recordAbsolute);
    bUseRelativeMouse = false;
    testing::internal::CaptureStderr();
    g_Stall.store(c.stall);
    h.k().Emit(mouse, {Ev(EV_REL, REL_X, 4), Ev(EV_SYN, SYN_REPORT, 0)});
    ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return g_Stalling.load(); }, 60000));
    if (c.captureStalls) {
      // Released while the call is still blocked.
      EXPECT_TRUE(h.k().WaitNodes([&](const auto&) { return !h.k().Node(mouse)->grabbed; }, 60000));
      EXPECT_TRUE(g_Stalling.load()) << "released only after the call returned";
    } else {
      // The next frame reaches the desktop while the query still waits.
      const uint64_t mark = h.k().DesktopSeq();
      h.k().Emit(mouse, {Ev(EV_REL, REL_Y, 3), Ev(EV_SYN, SYN_REPORT, 0)});
      EXPECT_TRUE(h.WaitSeen([&](const auto&) {
        for (const auto& seen : h.k().Desktop(mark))
          if (seen.ev.type == EV_REL && seen.ev.code == REL_Y) return true;
        return false;
      }));
      EXPECT_TRUE(g_Stalling.load()) << "the frame passed only after the query returned";
      EXPECT_TRUE(h.k().Node(mouse)->grabbed);
    }
    ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return !g_Stalling.load(); }, 60000));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("PMR input: the input thread stalled; keyboard and mouse released\n") != std::string::npos,
              c.captureStalls)
        << err;
    OsStopInputTap();
    isRecording.store(false);
  }
}

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

// A mouse unplugged while its button is held can report no release any more:
// once no device holds the button, the watch ends.
TEST(ButtonWatch, UnpluggedMouseEndsTheWatch) {
  InputHarness h;
  std::string mice[2];
  for (int i = 0; i < 2; ++i) {
    DeviceDesc m = BasicMouse("Mouse " + std::to_string(i));
    m.phys = "usb-m" + std::to_string(i);
    mice[i] = h.Add(m);
    h.k().Emit(mice[i], {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  }
  LinuxButtonWatch* w = LinuxButtonWatchStart();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(h.k().Unplug(mice[0]));
  EXPECT_FALSE(LinuxButtonWatchReleased(w)) << "still held on the other mouse";
  ASSERT_TRUE(h.k().Unplug(mice[1]));
  EXPECT_TRUE(LinuxButtonWatchReleased(w));
  LinuxButtonWatchStop(w);
}

// A key or button the tools hold when the session locks is let go on the
// injection device; nothing new is pressed or moved while locked.
TEST(Inject, LockedSessionLetsOnlyReleasesThrough) {
  InputHarness h;
  ASSERT_TRUE(EnsureInjectDevice());
  const std::string inject = h.k().NodeByPhys("pmr-inject")->node;
  const std::string pointer = h.k().NodeByPhys("pmr-pointer")->node;
  OsKeyVk(65, true);
  OsMouseButton(0, true, 1);
  LinuxInputSetSessionUsable(false);
  const size_t pointerWrites = h.k().Node(pointer)->uinputWrites.size();
  OsKeyVk(66, true);
  OsMouseButton(1, true, 1);
  OsMoveMouseTo(100, 100);
  OsKeyVk(67, false);         // not held: nothing to let go
  OsMouseButton(2, false, 1);
  OsKeyVk(65, false);
  OsMouseButton(0, false, 1);
  LinuxInputSetSessionUsable(true);
  const std::vector<std::vector<Triple>> expected = {
      {{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}},
      {{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}},
      {{EV_KEY, KEY_A, 0}, {EV_SYN, SYN_REPORT, 0}},
      {{EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}},
  };
  std::vector<std::vector<Triple>> writes;
  const auto injectWrites = h.k().Node(inject)->uinputWrites;
  for (const auto& w : injectWrites) writes.push_back(Triples(w));
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(h.k().Node(pointer)->uinputWrites.size(), pointerWrites);
  // The desktop holds nothing of the tools'.
  std::set<int> held;
  const auto seen = h.SeenFrom("pmr-inject");
  for (const auto& s : seen) {
    if (s.ev.type != EV_KEY) continue;
    if (s.ev.value) held.insert(s.ev.code);
    else held.erase(s.ev.code);
  }
  EXPECT_TRUE(held.empty());
}

// A hotkey released while the reader overflowed: the hooks learn of the
// release, so the next press of the hotkey works again.
TEST(Capture, HotkeyReleaseLostToOverflowReachesTheHooks) {
  InputHarness h;
  h.UseRealHooks();
  DeviceDesc kd = BasicKeyboard("Kbd");
  kd.phys = "usb-kbd/input0";
  std::string kbd = h.Add(kd);
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  const uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(kbd, KeyFrame(KEY_F6, 1));
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return triggerAutoClicker.load(); }, 60000));
  triggerAutoClicker.store(false);
  ASSERT_TRUE(h.k().EmitLost(kbd, {Ev(EV_KEY, KEY_F6, 0), Ev(EV_SYN, SYN_REPORT, 0)}));
  h.k().Emit(kbd, KeyFrame(KEY_K, 1));
  h.k().Emit(kbd, KeyFrame(KEY_K, 0));
  ASSERT_TRUE(h.WaitSeen([&](const auto&) {
    const auto seen = h.k().Desktop(mark);
    return std::any_of(seen.begin(), seen.end(),
                       [](const SeenEvent& s) { return s.ev.code == KEY_K && s.ev.value == 0; });
  }));
  h.k().Emit(kbd, KeyFrame(KEY_F6, 1));
  EXPECT_TRUE(h.k().WaitNodes([&](const auto&) { return triggerAutoClicker.load(); }, 60000));
  h.k().Emit(kbd, KeyFrame(KEY_F6, 0));
  h.Settle(50);
  for (const auto& s : h.k().Desktop(mark)) EXPECT_NE(s.ev.code, KEY_F6);
  OsStopInputTap();
}
