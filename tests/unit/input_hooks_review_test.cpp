// The input hooks during a position pick: the click that picks (or cancels)
// leaves no trace in a running recording, neither its press nor its release.
#include <gtest/gtest.h>

#include "tools/signals.h"
#include "tools_test_util.h"

namespace {

class PickHooksTest : public ::testing::Test {
 protected:
  void SetUp() override { toolstest::ResetAll(); }
  void TearDown() override { toolstest::ResetAll(); }
};

TEST_F(PickHooksTest, PickingClickIsNotRecordedAtAll) {
  for (int button : {1, 2, 4}) {
    SCOPED_TRACE(button);
    toolstest::ResetAll();
    toolstest::StartRecording();
    isPickingLocation.store(true);
    EXPECT_TRUE(TapMouseButtonAt(button, true, 40, 50));
    EXPECT_FALSE(isPickingLocation.load());
    EXPECT_FALSE(TapMouseButtonAt(button, false, 40, 50)) << "the release still reaches the desktop";
    EXPECT_TRUE(toolstest::Events().empty());
    // The next click of the same button is recorded whole.
    EXPECT_FALSE(TapMouseButtonAt(button, true, 41, 51));
    EXPECT_FALSE(TapMouseButtonAt(button, false, 41, 51));
    EXPECT_EQ(toolstest::Events().size(), 2u);
  }
}

}  // namespace

namespace {

class ReassignHooksTest : public ::testing::Test {
 protected:
  void SetUp() override { toolstest::ResetAll(); }
  void TearDown() override { toolstest::ResetAll(); }
};

// The key pressed to become a hotkey is held on past the repeat delay: its
// repeats are no first presses, so the new hotkey does not fire, and nothing
// of it (nor of a captured button) reaches the desktop or the recording.
TEST_F(ReassignHooksTest, CapturedPressRepeatsAndReleaseGoNowhere) {
  struct Case {
    const char* kind;
    bool isButton;
    int code;
    std::atomic<int>* hotkey;
    std::atomic<bool>* trigger;
  };
  const Case cases[] = {
      {"auto", false, 113, &vkAutoClicker, &triggerAutoClicker},
      {"keyspamhotkey", false, 114, &vkKeySpamHotkey, &triggerKeySpam},
      {"auto", true, 2, &vkAutoClicker, &triggerAutoClicker},
  };
  auto tap = [](const Case& c, bool down) {
    return c.isButton ? TapMouseButtonAt(c.code, down, 5, 5) : TapKey(c.code, down);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    toolstest::ResetAll();
    toolstest::StartRecording();
    ReassignKey(c.kind);
    EXPECT_TRUE(tap(c, true));
    ProcessSignals();
    ASSERT_EQ(c.hotkey->load(), c.code);
    if (!c.isButton) {  // buttons do not repeat
      EXPECT_TRUE(tap(c, true)) << "a repeat of the captured press";
      EXPECT_TRUE(tap(c, true));
    }
    EXPECT_FALSE(c.trigger->load()) << "the repeat fired the new hotkey";
    EXPECT_TRUE(tap(c, false));
    EXPECT_TRUE(toolstest::Events().empty());
    // The next press is the hotkey.
    EXPECT_TRUE(tap(c, true));
    EXPECT_TRUE(c.trigger->exchange(false));
    EXPECT_TRUE(tap(c, false));
  }
}

// A key whose press reached the desktop before the reassignment began still
// gets its release there when one of its repeats is captured. A modifier's
// repeat is not captured at all (it may begin a combination): it passes, and
// so does its release.
TEST_F(ReassignHooksTest, KeyHeldBeforeKeepsItsReleaseWhenARepeatIsCaptured) {
  struct Case {
    int vk;
    bool repeatCaptured;
  } cases[] = {{65, true}, {16, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vk);
    toolstest::ResetAll();
    EXPECT_FALSE(TapKey(c.vk, true));
    ReassignKey("rec");
    EXPECT_EQ(TapKey(c.vk, true), c.repeatCaptured);
    ProcessSignals();
    EXPECT_FALSE(TapKey(c.vk, false));
  }
}

}  // namespace
