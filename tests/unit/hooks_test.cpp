// The input hooks: which presses are swallowed (hotkeys, their repeats and
// releases, reassignment captures, the position pick), what is recorded, and
// that no sequence of codes can make a release be swallowed whose press
// reached the desktop.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "tools/signals.h"
#include "tools_test_util.h"

namespace {

using toolstest::Events;

class HooksTest : public ::testing::Test {
 protected:
  void SetUp() override { toolstest::ResetAll(); }
  void TearDown() override { toolstest::ResetAll(); }
};

std::vector<int> KeyLog(const std::vector<UnifiedEvent>& events) {
  std::vector<int> out;
  for (const auto& e : events)
    if (e.type == 3) out.push_back(e.keyDown ? e.vk : -e.vk);
  return out;
}

TEST_F(HooksTest, HotkeyPressRepeatsAndReleaseAreSwallowedAndNeverRecorded) {
  toolstest::StartRecording();
  EXPECT_TRUE(TapKey(117, true));
  EXPECT_TRUE(triggerAutoClicker.exchange(false));
  EXPECT_TRUE(TapKey(117, true)) << "auto-repeat";
  EXPECT_TRUE(TapKey(117, true)) << "auto-repeat";
  EXPECT_FALSE(triggerAutoClicker.load()) << "repeats are not offered to the dispatch again";
  EXPECT_TRUE(TapKey(117, false));
  // An ordinary key: press, repeat, release all pass and are recorded.
  EXPECT_FALSE(TapKey(65, true));
  EXPECT_FALSE(TapKey(65, true));
  EXPECT_FALSE(TapKey(65, false));
  EXPECT_EQ(KeyLog(Events()), (std::vector<int>{65, 65, -65}));
}

TEST_F(HooksTest, RecordHotkeyIsNotPartOfItsOwnRecording) {
  EXPECT_TRUE(TapKey(119, true));
  ProcessSignals();
  ASSERT_TRUE(isRecording.load());
  EXPECT_TRUE(TapKey(119, false));
  EXPECT_FALSE(TapKey(66, true));
  EXPECT_FALSE(TapKey(66, false));
  EXPECT_TRUE(TapKey(119, true));
  ProcessSignals();
  EXPECT_FALSE(isRecording.load());
  EXPECT_TRUE(TapKey(119, false));
  auto ev = Events();
  EXPECT_EQ(KeyLog(ev), (std::vector<int>{66, -66}));
  ASSERT_FALSE(ev.empty());
  EXPECT_EQ(ev[0].time, 0.0) << "normalised when the recording stopped";
}

TEST_F(HooksTest, HotkeysPassThroughWhenDisabledOrLocked) {
  struct Case {
    const char* what;
    bool enabled, unlocked;
  } cases[] = {{"master switch off", false, true}, {"hotkeys locked", true, false}};
  for (const auto& c : cases) {
    toolstest::ResetAll();
    toolstest::StartRecording();
    g_HotkeysEnabled.store(c.enabled);
    g_HotkeysUnlocked.store(c.unlocked);
    EXPECT_FALSE(TapKey(117, true)) << c.what;
    EXPECT_FALSE(TapKey(117, false)) << c.what;
    EXPECT_FALSE(triggerAutoClicker.load()) << c.what;
    EXPECT_EQ(KeyLog(Events()), (std::vector<int>{117, -117})) << c.what;
  }
}

TEST_F(HooksTest, ReassignmentCapturesTheNextKeyOrAcceptedButton) {
  struct Case {
    int kind;
    bool isButton;
    int code;
    bool captured;
  } cases[] = {
      {kReassignRecord, false, 65, true},        {kReassignKeySpamTarget, false, 66, true},
      {kReassignUnlock, false, 67, true},        {kReassignRecord, true, 1, true},
      {kReassignKeySpamHotkey, true, 2, true},   {kReassignAuto, true, 5, true},
      {kReassignUnlock, true, 1, false},         {kReassignUnlock, true, 4, true},
      {kReassignKeySpamTarget, true, 1, false},  {kReassignKeySpamTarget, true, 6, false},
  };
  for (const auto& c : cases) {
    toolstest::ResetAll();
    currentReassign.store(c.kind);
    bool swallowed = c.isButton ? TapMouseButtonAt(c.code, true, 5, 5) : TapKey(c.code, true);
    EXPECT_EQ(swallowed, c.captured) << c.kind << "/" << c.code;
    EXPECT_EQ(capturedReassignKey.load(), c.captured ? c.code : 0) << c.kind << "/" << c.code;
    EXPECT_EQ(g_SignalWake.flag.load(), c.captured) << c.kind << "/" << c.code;
  }
}

TEST_F(HooksTest, ReassignedHotkeyAndTheFourthTargetThroughTheWholePath) {
  ReassignKey("auto");
  EXPECT_TRUE(TapKey(113, true));
  ProcessSignals();
  EXPECT_EQ(vkAutoClicker.load(), 113);
  // Repeats of the captured press are no first presses; once the key was
  // let go it works as the new hotkey.
  EXPECT_TRUE(TapKey(113, true));
  EXPECT_FALSE(triggerAutoClicker.load());
  EXPECT_TRUE(TapKey(113, false));
  EXPECT_TRUE(TapKey(113, true));
  EXPECT_TRUE(triggerAutoClicker.exchange(false));
  EXPECT_TRUE(TapKey(113, false));

  for (int vk : {66, 67}) {
    ReassignKey("keyspamtarget");
    EXPECT_TRUE(TapKey(vk, true));
    ProcessSignals();
  }
  EXPECT_EQ(keySpamTargetCount.load(), 3);
  ReassignKey("keyspamtarget");
  EXPECT_TRUE(TapKey(68, true)) << "the press for a fourth target is still consumed";
  ProcessSignals();
  EXPECT_EQ(keySpamTargetCount.load(), 3);
  EXPECT_EQ(currentReassign.load(), 0);

  ReassignKey("rec");
  EXPECT_TRUE(TapKey(27, true));
  ProcessSignals();
  EXPECT_EQ(vkRecord.load(), 119) << "Escape cancels";
}

TEST_F(HooksTest, PositionPick) {
  struct Case {
    int button;
    double x, y;
    bool swallowed;
    bool picks;
    int fx, fy;
    bool stillPicking;
  } cases[] = {
      {1, 100.5, 199.49, true, true, 101, 199, false},
      {1, -0.5, -2.5, true, true, -1, -3, false},  // halves away from zero
      {1, 1e20, std::nan(""), true, true, INT_MAX, 0, false},
      {2, 300, 300, true, false, 7, 8, false},
      {4, 300, 300, true, false, 7, 8, false},
      {5, 300, 300, false, false, 7, 8, true},
      {6, 300, 300, false, false, 7, 8, true},
  };
  for (const auto& c : cases) {
    toolstest::ResetAll();
    toolstest::StartRecording();
    autoClickFixedX.store(7);
    autoClickFixedY.store(8);
    isPickingLocation.store(true);
    EXPECT_EQ(TapMouseButtonAt(c.button, true, c.x, c.y), c.swallowed) << c.button;
    EXPECT_EQ(autoClickFixedX.load(), c.fx) << c.button;
    EXPECT_EQ(autoClickFixedY.load(), c.fy) << c.button;
    EXPECT_EQ(autoClickLocationMode.load(), c.picks ? 1 : 0) << c.button;
    EXPECT_EQ(isPickingLocation.load(), c.stillPicking) << c.button;
    if (c.swallowed) {
      EXPECT_TRUE(Events().empty()) << "the picking click is not recorded";
    }
    EXPECT_FALSE(TapMouseButtonAt(c.button, false, c.x, c.y)) << "its release is handled as usual";
  }
  // A release does not end a pick.
  isPickingLocation.store(true);
  EXPECT_FALSE(TapMouseButtonAt(1, false, 1, 1));
  EXPECT_TRUE(isPickingLocation.load());
}

TEST_F(HooksTest, MouseButtonsAreRecordedWithTheirFlagsAndRoundedPosition) {
  struct Case {
    int button;
    std::vector<uint64_t> flags;
  } cases[] = {{1, {2, 4}}, {2, {8, 16}}, {4, {32, 64}}, {5, {128}}, {6, {128}}, {7, {128}}};
  for (const auto& c : cases) {
    toolstest::StartRecording();
    EXPECT_FALSE(TapMouseButtonAt(c.button, true, 10.5, -3.5));
    EXPECT_FALSE(TapMouseButtonAt(c.button, false, 11.2, -3.4));
    auto ev = Events();
    ASSERT_EQ(ev.size(), c.flags.size()) << c.button;
    for (size_t i = 0; i < ev.size(); ++i) {
      EXPECT_EQ(ev[i].type, 2);
      EXPECT_EQ(ev[i].flags, c.flags[i]) << c.button;
    }
    EXPECT_EQ(ev[0].x, 11);
    EXPECT_EQ(ev[0].y, -4);
  }
  bRecordMouseClicks = false;
  toolstest::StartRecording();
  TapMouseButtonAt(1, true, 0, 0);
  TapMouseButtonAt(1, false, 0, 0);
  EXPECT_TRUE(Events().empty());
}

TEST_F(HooksTest, MouseButtonHotkeyIsSwallowedWithItsRelease) {
  toolstest::StartRecording();
  vkAutoClicker.store(5);
  EXPECT_TRUE(TapMouseButtonAt(5, true, 1, 1));
  EXPECT_TRUE(triggerAutoClicker.load());
  EXPECT_TRUE(TapMouseButtonAt(5, false, 1, 1));
  EXPECT_FALSE(TapMouseButtonAt(6, true, 1, 1));
  EXPECT_FALSE(TapMouseButtonAt(6, false, 1, 1));
  ASSERT_EQ(Events().size(), 1u) << "only the other side button's press";
  EXPECT_EQ(Events()[0].flags, 128u);
}

TEST_F(HooksTest, ResetForgetsHeldAndSwallowedKeysAndButtons) {
  EXPECT_TRUE(TapKey(117, true));
  vkPlay.store(4);
  EXPECT_TRUE(TapMouseButtonAt(4, true, 0, 0));
  TapRequestReset();
  EXPECT_FALSE(TapKey(117, false)) << "a release after the reset is not swallowed";
  EXPECT_FALSE(TapMouseButtonAt(4, false, 0, 0));
  triggerAutoClicker.store(false);
  // Another key held across the reset: its next press counts as a first press.
  EXPECT_FALSE(TapKey(65, true));
  vkAutoClicker.store(65);
  TapRequestReset();
  EXPECT_TRUE(TapKey(65, true));
  EXPECT_TRUE(triggerAutoClicker.load());
}

TEST_F(HooksTest, CodesOutsideTheKeyRangeCannotStickAnotherKey) {
  // Key A is pressed and reaches the desktop. A hotkey holds a code whose low
  // eight bits are A's (possible through a damaged session file). A stray
  // release and press of that code must not make A's release be swallowed,
  // which would leave A held on the desktop.
  toolstest::StartRecording();
  vkAutoClicker.store(65 + 256);
  EXPECT_FALSE(TapKey(65, true));
  EXPECT_FALSE(TapKey(65 + 256, false));
  EXPECT_FALSE(TapKey(65 + 256, true));
  EXPECT_FALSE(TapKey(65, false)) << "A's release must reach the desktop";
  EXPECT_FALSE(triggerAutoClicker.load());

  // The same for buttons: left held, then a stray code aliasing it.
  vkPlay.store(1 + 256);
  EXPECT_FALSE(TapMouseButtonAt(1, true, 0, 0));
  EXPECT_FALSE(TapMouseButtonAt(1 + 256, false, 0, 0));
  EXPECT_FALSE(TapMouseButtonAt(1 + 256, true, 0, 0));
  EXPECT_FALSE(TapMouseButtonAt(1, false, 0, 0));
  EXPECT_FALSE(triggerPlay.load());

  // Odd codes never crash, swallow or get recorded, also with a reassignment
  // waiting and a pick in progress.
  const int odd[] = {0, -1, 256, 767, 768, INT_MAX, INT_MIN};
  currentReassign.store(kReassignRecord);
  for (int code : odd) {
    vkRecord.store(code);
    EXPECT_FALSE(TapKey(code, true)) << code;
    EXPECT_FALSE(TapKey(code, false)) << code;
    EXPECT_FALSE(TapMouseButtonAt(code, true, 1, 1)) << code;
    EXPECT_FALSE(TapMouseButtonAt(code, false, 1, 1)) << code;
  }
  EXPECT_EQ(capturedReassignKey.load(), 0);
  EXPECT_EQ(KeyLog(Events()), (std::vector<int>{65, -65}));
}

TEST_F(HooksTest, PointerMovement) {
  struct Step {
    bool have;
    double x, y;
    long dx, dy;
  };
  struct Case {
    const char* what;
    bool relative;
    std::vector<Step> steps;
    std::vector<std::pair<int64_t, int64_t>> recorded;
  } cases[] = {
      {"absolute", false,
       {{true, 10.2, 20.2, 1, 1}, {true, 10.4, 19.6, 1, 1}, {true, 10.6, 20, 0, 0}, {false, 99, 99, 5, 5}, {true, 10.6, 20.4, 0, 0}},
       {{10, 20}, {11, 20}}},
      {"relative", true,
       {{true, 10, 20, 0, 0}, {false, 0, 0, 3, -2}, {true, 11, 20, 0, 1}, {false, 0, 0, 0, 0}},
       {{3, -2}, {0, 1}}},
  };
  for (const auto& c : cases) {
    toolstest::ResetAll();
    bUseRelativeMouse = c.relative;
    toolstest::StartRecording();
    for (const auto& s : c.steps) TapMouseMove(s.have, s.x, s.y, s.dx, s.dy);
    std::vector<std::pair<int64_t, int64_t>> got;
    for (const auto& e : Events()) {
      EXPECT_EQ(e.type, 1);
      got.emplace_back(e.x, e.y);
    }
    EXPECT_EQ(got, c.recorded) << c.what;
  }
  // The last position is remembered while not recording too.
  toolstest::ResetAll();
  TapMouseMove(true, 50, 60, 0, 0);
  toolstest::StartRecording();
  TapMouseMove(true, 50.3, 59.8, 0, 0);
  EXPECT_TRUE(Events().empty());
  bRecordMouseMovement = false;
  TapMouseMove(true, 500, 600, 0, 0);
  EXPECT_TRUE(Events().empty());
}

TEST_F(HooksTest, WheelMovement) {
  toolstest::StartRecording();
  for (int w : {0, 120, -120, 0, 360, INT_MIN}) TapScroll(w);
  std::vector<int> got;
  for (const auto& e : Events()) {
    EXPECT_EQ(e.type, 4);
    got.push_back(e.wheelDelta);
  }
  EXPECT_EQ(got, (std::vector<int>{120, -120, 360, INT_MIN}));
  bRecordMouseScroll = false;
  TapScroll(120);
  EXPECT_EQ(Events().size(), 4u);
}

TEST_F(HooksTest, NothingIsRecordedWhileNotRecording) {
  EXPECT_FALSE(TapKey(65, true));
  EXPECT_FALSE(TapMouseButtonAt(1, true, 1, 1));
  TapMouseMove(true, 5, 5, 1, 1);
  TapScroll(120);
  EXPECT_TRUE(Events().empty());
}

}  // namespace
