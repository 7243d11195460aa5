// Recorded absolute movement asks the shell for the pointer position on a
// thread of its own: keys typed while the shell is slow to answer reach the
// desktop at once, and the recording still holds the movement before them,
// at its own time.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <condition_variable>
#include <mutex>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "model/profiles.h"
#include "tests/sim/input_harness.h"
#include "tools/recorder.h"
#include "model/tool_state.h"

namespace {

using pmrsim::Ev;

// A pointer backend that answers only when the test lets it.
struct SlowShell {
  std::mutex mu;
  std::condition_variable cv;
  bool open = false;
  int asked = 0;
};
SlowShell* g_Shell = nullptr;

bool SlowPosition(double& x, double& y) {
  std::unique_lock<std::mutex> lock(g_Shell->mu);
  ++g_Shell->asked;
  g_Shell->cv.notify_all();
  g_Shell->cv.wait(lock, [] { return g_Shell->open; });
  x = 100;
  y = 200;
  return true;
}
bool Layout(int& x, int& y, int& w, int& h) {
  x = y = 0;
  w = 1920;
  h = 1080;
  return true;
}
int NoPid(double, double) { return 0; }

const InputCallouts kSlowShell = {&TapKey, &TapMouseButton, &PlaceMouseButton, &TapMouseMove, &TapScroll,
                                  &SlowPosition, &Layout, &NoPid};

class SlowShellScope {
 public:
  SlowShellScope() { g_Shell = &shell; }
  ~SlowShellScope() {
    Open();
    g_Shell = nullptr;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(shell.mu);
    shell.open = true;
    shell.cv.notify_all();
  }
  bool WaitAsked(int n) {
    std::unique_lock<std::mutex> lock(shell.mu);
    return shell.cv.wait_for(lock, std::chrono::seconds(10), [&] { return shell.asked >= n; });
  }
  SlowShell shell;
};

// One profile, recording keys, clicks and absolute movement.
void StartAbsoluteRecording() {
  std::lock_guard<std::mutex> lock(profileMutex);
  profiles.assign(1, MacroProfile{kDefaultProfileName, "", {}});
  currentProfileIdx = 0;
  bUseRelativeMouse = false;
  bRecordMouseMovement = true;
  bRecordKeyboard = true;
  bRecordMouseClicks = true;
  BeginRecordingLocked();
}

std::vector<UnifiedEvent> RecordedEvents() {
  std::lock_guard<std::mutex> lock(profileMutex);
  return profiles.empty() ? std::vector<UnifiedEvent>{} : profiles[0].events;
}

}  // namespace

TEST(MotionPositions, KeysPassWhileTheShellIsSlowAndTheRecordingKeepsOrder) {
  pmrsim::InputHarness h;
  h.UseRealHooks();
  SlowShellScope slow;
  SetInputCalloutsForTest(&kSlowShell);
  StartAbsoluteRecording();
  const std::string kbd = h.Add(pmrsim::BasicKeyboard("Kbd"));
  const std::string mouse = h.Add(pmrsim::BasicMouse("Mouse"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  ASSERT_TRUE(h.WaitGrabbed(mouse));

  const uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(mouse, {Ev(EV_REL, REL_X, 5), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(slow.WaitAsked(1));
  // The shell has not answered; typing still reaches the desktop.
  h.k().Emit(kbd, pmrsim::KeyFrame(KEY_K, 1));
  h.k().Emit(kbd, pmrsim::KeyFrame(KEY_K, 0));
  EXPECT_TRUE(h.WaitSeen([&](const std::vector<pmrsim::SeenEvent>&) {
    int k = 0;
    for (const auto& s : h.k().Desktop(mark))
      if (s.ev.type == EV_KEY && s.ev.code == KEY_K) ++k;
    return k == 2;
  }));

  slow.Open();
  EXPECT_TRUE(OsInputFlushMotion(5000));
  isRecording.store(false);

  const std::vector<UnifiedEvent> ev = RecordedEvents();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].type, kEventMove);
  EXPECT_EQ(ev[0].x, 100);
  EXPECT_EQ(ev[0].y, 200);
  EXPECT_EQ(ev[1].type, kEventKey);
  EXPECT_TRUE(ev[1].keyDown);
  EXPECT_EQ(ev[2].type, kEventKey);
  EXPECT_FALSE(ev[2].keyDown);
  EXPECT_LE(ev[0].time, ev[1].time);
  EXPECT_LE(ev[1].time, ev[2].time);
  OsStopInputTap();
}

// Out of a recording nobody needs where the pointer is: clicks on the desktop
// never cost a question to the shell.
TEST(MotionPositions, ClicksOutsideARecordingAskNothing) {
  pmrsim::InputHarness h;
  h.UseRealHooks();
  SlowShellScope slow;
  slow.Open();
  SetInputCalloutsForTest(&kSlowShell);
  h.Add(pmrsim::BasicKeyboard("Kbd"));  // the capture only starts with a keyboard
  const std::string mouse = h.Add(pmrsim::BasicMouse("Mouse"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(mouse));
  const uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  h.k().Emit(mouse, {Ev(EV_REL, REL_X, 3), Ev(EV_SYN, SYN_REPORT, 0)});
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.WaitSeen([&](const std::vector<pmrsim::SeenEvent>&) {
    int n = 0;
    for (const auto& s : h.k().Desktop(mark))
      if (s.ev.type == EV_KEY && s.ev.code == BTN_LEFT) ++n;
    return n == 2;
  }));
  EXPECT_TRUE(OsInputFlushMotion(5000));
  std::lock_guard<std::mutex> lock(slow.shell.mu);
  EXPECT_EQ(slow.shell.asked, 0);
  OsStopInputTap();
}

// While absolute movement is recorded, the position after the last movement is
// known: a click that follows asks the shell nothing more and is recorded
// where the pointer went. A move by the program itself forgets it.
TEST(MotionPositions, AClickAfterRecordedMovementUsesTheKnownPosition) {
  pmrsim::InputHarness h;
  h.UseRealHooks();
  SlowShellScope slow;
  slow.Open();
  SetInputCalloutsForTest(&kSlowShell);
  StartAbsoluteRecording();
  h.Add(pmrsim::BasicKeyboard("Kbd"));
  const std::string mouse = h.Add(pmrsim::BasicMouse("Mouse"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(mouse));
  auto asked = [&] {
    std::lock_guard<std::mutex> lock(slow.shell.mu);
    return slow.shell.asked;
  };
  h.k().Emit(mouse, {Ev(EV_REL, REL_X, 5), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(slow.WaitAsked(1));
  ASSERT_TRUE(OsInputFlushMotion(5000));
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.k().WaitDrained(mouse, 3000));
  h.Settle(50);
  EXPECT_EQ(asked(), 1);
  OsMoveMouseTo(10, 10);
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.k().WaitDrained(mouse, 3000));
  h.Settle(50);
  EXPECT_EQ(asked(), 2);
  isRecording.store(false);
  const std::vector<UnifiedEvent> ev = RecordedEvents();
  ASSERT_EQ(ev.size(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(ev[i].type, kEventButton);
    EXPECT_EQ(ev[i].x, 100);
    EXPECT_EQ(ev[i].y, 200);
  }
  OsStopInputTap();
}

// Where a click went is asked after the click has passed: while recording
// relative movement a click reaches the desktop though the shell has not
// answered, and is recorded where the shell then says. A position pick ends
// at the click, which goes nowhere, and takes the answered location.
TEST(MotionPositions, ClicksNeverWaitForTheShellInARecordingOrAPick) {
  pmrsim::InputHarness h;
  h.UseRealHooks();
  SlowShellScope slow;
  SetInputCalloutsForTest(&kSlowShell);
  StartAbsoluteRecording();
  bUseRelativeMouse = true;
  h.Add(pmrsim::BasicKeyboard("Kbd"));
  const std::string mouse = h.Add(pmrsim::BasicMouse("Mouse"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(mouse));
  auto leftSeen = [&](uint64_t mark) {
    int n = 0;
    for (const auto& s : h.k().Desktop(mark))
      if (s.ev.type == EV_KEY && s.ev.code == BTN_LEFT) ++n;
    return n;
  };

  uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(slow.WaitAsked(1));
  EXPECT_TRUE(h.WaitSeen([&](const std::vector<pmrsim::SeenEvent>&) { return leftSeen(mark) == 2; }));
  slow.Open();
  ASSERT_TRUE(OsInputFlushMotion(5000));
  isRecording.store(false);
  std::vector<UnifiedEvent> ev = RecordedEvents();
  ASSERT_EQ(ev.size(), 2u);
  for (const UnifiedEvent& e : ev) {
    EXPECT_EQ(e.type, kEventButton);
    EXPECT_EQ(e.x, 100);
    EXPECT_EQ(e.y, 200);
  }

  // The pointer moves (so its last answer is out of date), then picks.
  int askedBefore = 0;
  {
    std::lock_guard<std::mutex> lock(slow.shell.mu);
    slow.shell.open = false;
    askedBefore = slow.shell.asked;
  }
  h.k().Emit(mouse, {Ev(EV_REL, REL_X, 3), Ev(EV_SYN, SYN_REPORT, 0)});
  autoClickLocationMode.store(0);
  isPickingLocation.store(true);
  mark = h.k().DesktopSeq();
  h.k().Emit(mouse, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(slow.WaitAsked(askedBefore + 1));
  EXPECT_FALSE(isPickingLocation.load());  // ended by the click itself
  EXPECT_EQ(autoClickLocationMode.load(), 0);
  slow.Open();
  ASSERT_TRUE(OsInputFlushMotion(5000));
  EXPECT_EQ(autoClickLocationMode.load(), 1);
  EXPECT_EQ(autoClickFixedX.load(), 100);
  EXPECT_EQ(autoClickFixedY.load(), 200);
  ASSERT_TRUE(h.k().WaitDrained(mouse, 3000));
  EXPECT_EQ(leftSeen(mark), 0);
  OsStopInputTap();
}
