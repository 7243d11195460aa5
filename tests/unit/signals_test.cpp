// Hotkey dispatch, the hotkey lock, key reassignment and the fixed order in
// which ProcessSignals applies triggers.
#include <gtest/gtest.h>

#include "app/app.h"
#include "model/hotkey_guard.h"
#include "tools/signals.h"

namespace {

class SignalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetToolStateForTest();
    g_SignalWake.flag.store(false);
    g_AutoClickWake.flag.store(false);
    g_KeySpamWake.flag.store(false);
    g_PlaybackWake.flag.store(false);
  }
  void TearDown() override { ResetToolStateForTest(); }
};

TEST_F(SignalsTest, HotkeysSetTheirTriggerAndWakeTheProcessor) {
  struct Case {
    int code;
    std::atomic<bool>* trigger;
  } cases[] = {
      {119, &triggerRecord}, {118, &triggerPlay}, {117, &triggerAutoClicker}, {120, &triggerKeySpam}};
  for (const auto& c : cases) {
    SetUp();
    EXPECT_TRUE(HandleHotkeyDown(c.code)) << c.code;
    EXPECT_TRUE(c.trigger->load()) << c.code;
    EXPECT_TRUE(g_SignalWake.flag.load()) << c.code;
  }
  SetUp();
  EXPECT_FALSE(HandleHotkeyDown(65));
  EXPECT_FALSE(g_SignalWake.flag.load()) << "a plain key must not wake the processor";
}

TEST_F(SignalsTest, UnlockKeyLocksStopsToolsAndUnlocks) {
  isAutoClicking.store(true);
  isKeySpamming.store(true);
  isPlaying.store(true);
  EXPECT_TRUE(HandleHotkeyDown(121));
  EXPECT_FALSE(g_HotkeysUnlocked.load());
  ProcessSignals();
  EXPECT_FALSE(isAutoClicking.load());
  EXPECT_FALSE(isKeySpamming.load());
  EXPECT_FALSE(isPlaying.load());

  // Locked: every hotkey but the unlock key passes through.
  EXPECT_FALSE(HandleHotkeyDown(119));
  EXPECT_FALSE(triggerRecord.load());
  EXPECT_FALSE(HandleHotkeyDown(117));

  // Unlocking sets no stop triggers.
  EXPECT_TRUE(HandleHotkeyDown(121));
  EXPECT_TRUE(g_HotkeysUnlocked.load());
  EXPECT_FALSE(triggerAutoClickStop.load());
  EXPECT_TRUE(HandleHotkeyDown(119));
}

TEST_F(SignalsTest, UnlockKeyWithLockFeatureOffIsOrdinary) {
  g_HotkeyLockEnabled.store(false);
  EXPECT_FALSE(HandleHotkeyDown(121));
  EXPECT_TRUE(g_HotkeysUnlocked.load());
  // Unless another hotkey uses it.
  vkAutoClicker.store(121);
  EXPECT_TRUE(HandleHotkeyDown(121));
  EXPECT_TRUE(triggerAutoClicker.load());
}

TEST_F(SignalsTest, UnlockKeyWinsOverHotkeyOnSameKey) {
  vkRecord.store(121);
  EXPECT_TRUE(HandleHotkeyDown(121));
  EXPECT_FALSE(triggerRecord.load());
  EXPECT_FALSE(g_HotkeysUnlocked.load());
}

TEST_F(SignalsTest, SharedKeyTakesFirstInDispatchOrder) {
  vkPlay.store(119);  // record and play on F8
  EXPECT_TRUE(HandleHotkeyDown(119));
  EXPECT_TRUE(triggerRecord.load());
  EXPECT_FALSE(triggerPlay.load());
}

TEST_F(SignalsTest, RecordAndPlayExcludeEachOther) {
  isPlaying.store(true);
  triggerRecord.store(true);
  ProcessSignals();
  EXPECT_FALSE(isRecording.load());
  EXPECT_FALSE(triggerRecord.load()) << "ignored triggers are still consumed";

  isPlaying.store(false);
  isRecording.store(true);
  triggerPlay.store(true);
  ProcessSignals();
  EXPECT_FALSE(isPlaying.load());
  EXPECT_TRUE(isRecording.load());
}

TEST_F(SignalsTest, StopToolsRuleOnLeavingPlay) {
  struct Case {
    bool stopTools;
    bool clickerAfter;
  } cases[] = {{true, false}, {false, true}};
  for (const auto& c : cases) {
    SetUp();
    g_StopToolsWithMacro = c.stopTools;
    isPlaying.store(true);
    isAutoClicking.store(true);
    isKeySpamming.store(true);
    triggerPlay.store(true);
    ProcessSignals();
    EXPECT_FALSE(isPlaying.load());
    EXPECT_TRUE(g_PlaybackWake.flag.load());
    EXPECT_EQ(isAutoClicking.load(), c.clickerAfter) << "stop tools " << c.stopTools;
    EXPECT_EQ(isKeySpamming.load(), c.clickerAfter) << "stop tools " << c.stopTools;
  }
}

TEST_F(SignalsTest, PlayStopOnlyWhenPlayingAndNotRecording) {
  triggerPlayStop.store(true);
  ProcessSignals();
  EXPECT_FALSE(isPlaying.load());
  EXPECT_FALSE(g_PlaybackWake.flag.load());

  isPlaying.store(true);
  triggerPlayStop.store(true);
  ProcessSignals();
  EXPECT_FALSE(isPlaying.load());
  EXPECT_TRUE(g_PlaybackWake.flag.load());
}

TEST_F(SignalsTest, AutoClickerToggleStartStop) {
  triggerAutoClicker.store(true);
  ProcessSignals();
  EXPECT_TRUE(isAutoClicking.load());
  EXPECT_TRUE(g_AutoClickWake.flag.exchange(false));

  // Start while running: nothing, no extra wake.
  triggerAutoClickStart.store(true);
  ProcessSignals();
  EXPECT_TRUE(isAutoClicking.load());
  EXPECT_FALSE(g_AutoClickWake.flag.load());

  triggerAutoClickStop.store(true);
  ProcessSignals();
  EXPECT_FALSE(isAutoClicking.load());
  EXPECT_TRUE(g_AutoClickWake.flag.exchange(false));

  // Stop while stopped: nothing, no wake.
  triggerAutoClickStop.store(true);
  ProcessSignals();
  EXPECT_FALSE(g_AutoClickWake.flag.load());
}

TEST_F(SignalsTest, KeySpamNeedsATarget) {
  keySpamTargetCount.store(0);
  triggerKeySpam.store(true);
  ProcessSignals();
  EXPECT_FALSE(isKeySpamming.load());
  EXPECT_TRUE(g_KeySpamWake.flag.exchange(false)) << "the toggle wakes the thread even without targets";

  triggerKeySpamStart.store(true);
  ProcessSignals();
  EXPECT_FALSE(isKeySpamming.load());
  EXPECT_FALSE(g_KeySpamWake.flag.load());

  keySpamTargetCount.store(1);
  triggerKeySpamStart.store(true);
  ProcessSignals();
  EXPECT_TRUE(isKeySpamming.load());
  triggerKeySpam.store(true);
  ProcessSignals();
  EXPECT_FALSE(isKeySpamming.load());
}

TEST_F(SignalsTest, StoppingRecordingAppliesStopToolsInSamePass) {
  for (bool stopTools : {true, false}) {
    SetUp();
    g_StopToolsWithMacro = stopTools;
    isRecording.store(true);
    isAutoClicking.store(true);
    triggerRecord.store(true);
    ProcessSignals();
    EXPECT_FALSE(isRecording.load());
    EXPECT_EQ(isAutoClicking.load(), !stopTools);
    EXPECT_FALSE(triggerAutoClickStop.load()) << "the rule's triggers are consumed in the same call";
  }
}

TEST_F(SignalsTest, ReassignmentKinds) {
  struct Case {
    const char* kind;
    std::atomic<int>* hotkey;
  } cases[] = {{"rec", &vkRecord},
               {"play", &vkPlay},
               {"auto", &vkAutoClicker},
               {"keyspamhotkey", &vkKeySpamHotkey},
               {"unlock", &vkUnlock}};
  for (const auto& c : cases) {
    SetUp();
    ReassignKey(c.kind);
    EXPECT_NE(currentReassign.load(), 0) << c.kind;
    ProcessSignals();  // nothing captured yet: keeps waiting
    EXPECT_NE(currentReassign.load(), 0) << c.kind;
    capturedReassignKey.store(113);  // F2
    ProcessSignals();
    EXPECT_EQ(c.hotkey->load(), 113) << c.kind;
    EXPECT_EQ(currentReassign.load(), 0);
    EXPECT_EQ(capturedReassignKey.load(), 0);
  }
}

// Never two tools on one key: a key another hotkey has is refused and the
// refusal names the owner; a typing key (or the left button) waits for a yes.
TEST_F(SignalsTest, ReassignmentRefusesTakenKeysAndHoldsTypingKeys) {
  struct Case {
    const char* kind;
    int key;
    int expectOwner;    // refusal expected, naming this kind (0: none)
    bool expectHeld;    // waits for confirmation
    std::atomic<int>* hotkey;
    int before;
  } cases[] = {
      {"auto", 118, kReassignPlay, false, &vkAutoClicker, 117},           // F7 is play
      {"rec", 117, kReassignAuto, false, &vkRecord, 119},                 // F6 is the clicker
      {"play", 121, kReassignUnlock, false, &vkPlay, 118},                // F10 unlocks
      {"unlock", 120, kReassignKeySpamHotkey, false, &vkUnlock, 121},     // F9 is the key spammer
      {"keyspamhotkey", 65, 0, true, &vkKeySpamHotkey, 120},              // A types
      {"auto", 32, 0, true, &vkAutoClicker, 117},                         // Space types
      {"rec", 13, 0, true, &vkRecord, 119},                               // Enter types
      {"play", 1, 0, true, &vkPlay, 118},                                 // the left button clicks
      {"auto", 117, 0, false, &vkAutoClicker, 117},                       // its own key: no change
  };
  int seq = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + "/" + std::to_string(c.key));
    ClearPendingHotkey();
    ReassignKey(c.kind);
    capturedReassignKey.store(c.key);
    ProcessSignals();
    EXPECT_EQ(currentReassign.load(), 0) << "the reassignment ends either way";
    HotkeyNotice n = LastRefusedHotkey();
    if (c.expectOwner) {
      EXPECT_EQ(n.seq, ++seq);
      EXPECT_EQ(n.owner, c.expectOwner);
      EXPECT_EQ(n.vk, c.key);
      EXPECT_EQ(c.hotkey->load(), c.before) << "a refused key changes nothing";
    } else {
      EXPECT_EQ(n.seq, seq) << "no new refusal";
    }
    PendingHotkey p = PendingHotkeyConfirmation();
    EXPECT_EQ(p.vk, c.expectHeld ? c.key : 0);
    if (c.expectHeld) {
      EXPECT_EQ(c.hotkey->load(), c.before) << "held until confirmed";
    }
    if (!c.expectOwner && !c.expectHeld) {
      EXPECT_EQ(c.hotkey->load(), c.key);
    }
  }
  // Every hotkey is still on its own key.
  EXPECT_EQ(HotkeyOwnerOf(117, kReassignAuto), 0);
  EXPECT_EQ(HotkeyOwnerOf(118, kReassignPlay), 0);
}

TEST_F(SignalsTest, HeldTypingKeyAppliesOnlyWhenConfirmedAndStillFree) {
  ReassignKey("auto");
  capturedReassignKey.store(65);
  ProcessSignals();
  ConfirmPendingHotkey("0");
  EXPECT_EQ(vkAutoClicker.load(), 117) << "declined";
  EXPECT_EQ(PendingHotkeyConfirmation().kind, 0);
  ConfirmPendingHotkey("1");
  EXPECT_EQ(vkAutoClicker.load(), 117) << "nothing waits any more";

  ReassignKey("auto");
  capturedReassignKey.store(65);
  ProcessSignals();
  ConfirmPendingHotkey("1");
  EXPECT_EQ(vkAutoClicker.load(), 65);
  EXPECT_EQ(HandleHotkeyDown(65), true);
  EXPECT_TRUE(triggerAutoClicker.exchange(false));

  // Another tool took the key while the question was open: refused then.
  ReassignKey("play");
  capturedReassignKey.store(66);
  ProcessSignals();
  vkRecord.store(66);
  ConfirmPendingHotkey("1");
  EXPECT_EQ(vkPlay.load(), 118);
  EXPECT_EQ(LastRefusedHotkey().owner, kReassignRecord);

  // A new reassignment drops a held key.
  ReassignKey("keyspamhotkey");
  capturedReassignKey.store(67);
  ProcessSignals();
  ClearPendingHotkey();
  ConfirmPendingHotkey("1");
  EXPECT_EQ(vkKeySpamHotkey.load(), 120);
}

TEST_F(SignalsTest, ReassignmentEscapeAndUnknownKind) {
  ReassignKey("bogus");
  EXPECT_EQ(currentReassign.load(), 0);
  ReassignKey("rec");
  ReassignKey("\"rec\"");  // not unwrapped here: ignored, the waiting kind stays
  EXPECT_EQ(currentReassign.load(), kReassignRecord);
  capturedReassignKey.store(kVkEscape);
  ProcessSignals();
  EXPECT_EQ(vkRecord.load(), 119);
  EXPECT_EQ(currentReassign.load(), 0);
  EXPECT_EQ(capturedReassignKey.load(), 0);
}

TEST_F(SignalsTest, KeySpamTargetAppendCapsAtThree) {
  for (int key : {65, 66, 67}) {
    ReassignKey("keyspamtarget");
    capturedReassignKey.store(key);
    ProcessSignals();
  }
  EXPECT_EQ(keySpamTargetCount.load(), 3);
  EXPECT_EQ(keySpamTargets[0].load(), 32);
  EXPECT_EQ(keySpamTargets[1].load(), 65);
  EXPECT_EQ(keySpamTargets[2].load(), 66);
  EXPECT_EQ(keySpamTargets[3].load(), 0) << "a fourth target is dropped";
  EXPECT_EQ(vkKeySpamTarget.load(), 32);
  EXPECT_EQ(currentReassign.load(), 0) << "the press is consumed even when dropped";
}

TEST_F(SignalsTest, ResetHotkeysRestoresDefaults) {
  vkRecord.store(1);
  vkPlay.store(2);
  vkAutoClicker.store(3);
  vkKeySpamHotkey.store(4);
  vkUnlock.store(5);
  ResetHotkeys();
  EXPECT_EQ(vkRecord.load(), 119);
  EXPECT_EQ(vkPlay.load(), 118);
  EXPECT_EQ(vkAutoClicker.load(), 117);
  EXPECT_EQ(vkKeySpamHotkey.load(), 120);
  EXPECT_EQ(vkUnlock.load(), 121);
}

TEST_F(SignalsTest, EachTriggerActsOnceUnderConcurrentProcessors) {
  for (int round = 0; round < 200; ++round) {
    isAutoClicking.store(false);
    triggerAutoClicker.store(true);
    std::thread a(ProcessSignals), b(ProcessSignals);
    a.join();
    b.join();
    EXPECT_TRUE(isAutoClicking.load()) << "a toggle applied twice would cancel itself";
  }
}

}  // namespace
