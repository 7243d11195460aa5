// Hold to run, hotkey combinations and the panic stop, decided without
// devices: the levels the signal processor turns into starts and stops, the
// combinations the dispatch and the conflict check compare, the names the
// page shows, the panic combinations against the clock, and a session file of
// the version before these settings.
#include <gtest/gtest.h>

#include "platform/os_input.h"
#include "state/session_file.h"
#include "state_test_util.h"
#include "model/hold_mode.h"
#include "model/hotkey_guard.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "app/status_json.h"
#include "model/tool_state.h"
#include "tools/signals.h"

using namespace statetest;

namespace {

class HoldComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetToolStateForTest();
    ResetInputHooksForTest();
    ResetPlaybackForTest();
    g_SignalWake.flag.store(false);
  }
  void TearDown() override {
    ResetToolStateForTest();
    ResetInputHooksForTest();
  }
};

// A key press and release as the capture offers them.
bool Press(int vk) { return TapKey(vk, true); }
bool Release(int vk) { return TapKey(vk, false); }

constexpr int kF1 = 112, kF6 = 117, kF7 = 118, kF9 = 120, kLCtrl = 162, kRCtrl = 163, kLShift = 160, kRShift = 161,
              kLAlt = 164, kLSuper = 91;

}  // namespace

// Hold mode runs a tool exactly while its hotkey is down, whatever order the
// presses and releases reach the signal processor in; without hold mode the
// hotkey toggles as before.
TEST_F(HoldComboTest, HoldModeFollowsTheKeyNotTheOrderOfEvents) {
  g_HoldModeAuto.store(true);
  EXPECT_TRUE(Press(kF6));
  ProcessSignals();
  EXPECT_TRUE(isAutoClicking.load()) << "the press starts it at once";
  EXPECT_TRUE(Release(kF6));
  ProcessSignals();
  EXPECT_FALSE(isAutoClicking.load()) << "the release stops it";

  // Release and press again before the processor runs: the key is down, so
  // the tool runs (an edge-driven start/stop pair would leave it stopped).
  EXPECT_TRUE(Press(kF6));
  ProcessSignals();
  EXPECT_TRUE(Release(kF6));
  EXPECT_TRUE(HoldReleasedBeforeStop(kReassignAuto)) << "no click while the stop is on its way";
  EXPECT_TRUE(Press(kF6));
  EXPECT_FALSE(HoldReleasedBeforeStop(kReassignAuto));
  ProcessSignals();
  EXPECT_TRUE(isAutoClicking.load());
  // The hotkey is changed while it is held: its release still stops the tool.
  vkAutoClicker.store(kF1);
  EXPECT_TRUE(Release(kF6));
  ProcessSignals();
  EXPECT_FALSE(isAutoClicking.load());

  // The key spammer likewise; the lock stops it even with its key held.
  g_HoldModeKeySpam.store(true);
  EXPECT_TRUE(Press(kF9));
  ProcessSignals();
  EXPECT_TRUE(isKeySpamming.load());
  EXPECT_TRUE(Press(121));  // F10 locks
  ProcessSignals();
  EXPECT_FALSE(isKeySpamming.load());
  EXPECT_TRUE(Release(kF9));
  ProcessSignals();
  EXPECT_FALSE(isKeySpamming.load());
  EXPECT_TRUE(Release(121));

  // Without hold mode the press toggles and the release does nothing.
  EXPECT_TRUE(Press(121));  // unlock
  EXPECT_TRUE(Release(121));
  g_HoldModeKeySpam.store(false);
  EXPECT_TRUE(Press(kF9));
  EXPECT_TRUE(Release(kF9));
  ProcessSignals();
  EXPECT_TRUE(isKeySpamming.load());

  // The session lock stops the tools whose keys it can no longer see.
  EXPECT_TRUE(Press(kF1));  // the auto clicker's hotkey now
  ProcessSignals();
  EXPECT_TRUE(isAutoClicking.load());
  ToolInputHooks().sessionLocked();
  ProcessSignals();
  EXPECT_FALSE(isAutoClicking.load()) << "hold mode: stopped at the lock";
  EXPECT_TRUE(isKeySpamming.load()) << "toggled: keeps running as before";
}

// A hotkey matches only with exactly its modifiers; the modifiers themselves
// are never swallowed, and a swallowed key never counts as a held modifier.
TEST_F(HoldComboTest, CombinationsMatchExactlyAndLeaveTheModifiersAlone) {
  modsAutoClicker.store(kModCtrl | kModShift);
  struct Case {
    const char* name;
    std::vector<int> held;  // pressed first, in order
    bool fires;
  } cases[] = {
      {"Ctrl+Shift+F6", {kLCtrl, kLShift}, true},
      {"right-hand modifiers count the same", {kRCtrl, kRShift}, true},
      {"F6 alone", {}, false},
      {"Ctrl+F6", {kLCtrl}, false},
      {"Ctrl+Alt+Shift+F6", {kLCtrl, kLAlt, kLShift}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int vk : c.held) EXPECT_FALSE(Press(vk)) << "a modifier reaches the desktop";
    EXPECT_EQ(Press(kF6), c.fires);
    EXPECT_EQ(triggerAutoClicker.exchange(false), c.fires);
    EXPECT_EQ(Release(kF6), c.fires);
    for (int vk : c.held) EXPECT_FALSE(Release(vk));
  }
  // A modifier as a hotkey of its own is swallowed and does not make the next
  // key a combination.
  vkKeySpamHotkey.store(kRCtrl);
  EXPECT_TRUE(Press(kRCtrl));
  EXPECT_TRUE(triggerKeySpam.exchange(false));
  EXPECT_EQ(HeldModifierMask(), 0);
  EXPECT_TRUE(Release(kRCtrl));
}

// The conflict check compares combinations; a typing key stops being one when
// Ctrl, Alt or Super goes with it; names are as the desktop writes them.
TEST_F(HoldComboTest, ConflictCheckAndNamesUseTheWholeCombination) {
  EXPECT_EQ(HotkeyOwnerOf(kF7, kReassignAuto, 0), kReassignPlay);
  EXPECT_EQ(HotkeyOwnerOf(kF7, kReassignAuto, kModCtrl), 0) << "Ctrl+F7 is free";
  EXPECT_TRUE(GuardHotkeyReassignment(kReassignAuto, kF7, kModCtrl));
  StoreHotkey(kReassignAuto, kF7, kModCtrl);
  EXPECT_FALSE(GuardHotkeyReassignment(kReassignRecord, kF7, kModCtrl));
  EXPECT_EQ(LastRefusedHotkey().owner, kReassignAuto);
  EXPECT_EQ(LastRefusedHotkey().mods, kModCtrl);

  struct Typing {
    int vk, mods;
    bool asks;
  } typing[] = {{65, 0, true}, {65, kModShift, true}, {65, kModCtrl, false}, {32, kModAlt, false},
                {65, kModSuper, false}, {112, 0, false}};
  for (const Typing& t : typing) EXPECT_EQ(IsTypingCombo(t.vk, t.mods), t.asks) << t.vk << "/" << t.mods;

  EXPECT_EQ(HotkeyComboName(kF6, kModCtrl | kModShift), "Ctrl+Shift+F6");
  EXPECT_EQ(HotkeyComboName(kF6, kModAll), "Ctrl+Alt+Shift+Super+F6");
  EXPECT_EQ(HotkeyComboName(kF6, 0), "F6");
  const std::string status = BuildStatusJson("[]");
  EXPECT_NE(status.find("\"hkAuto\":\"Ctrl+F7\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"key\":\"Ctrl+F7\",\"owner\":\"auto\""), std::string::npos) << status;
}

// Reassignment through the hooks: modifiers held with the new key become its
// mask and still reach the desktop; a modifier released alone is the new
// hotkey by itself; key-spam targets take modifiers as keys, as before.
TEST_F(HoldComboTest, ReassignmentCapturesCombinationsAndLoneModifiers) {
  ReassignKey("auto");
  EXPECT_FALSE(Press(kLCtrl));
  EXPECT_FALSE(Press(kLSuper));
  EXPECT_TRUE(Press(kF1));
  ProcessSignals();
  EXPECT_EQ(vkAutoClicker.load(), kF1);
  EXPECT_EQ(modsAutoClicker.load(), kModCtrl | kModSuper);
  EXPECT_TRUE(Release(kF1));
  EXPECT_FALSE(Release(kLSuper));
  EXPECT_FALSE(Release(kLCtrl));
  EXPECT_EQ(currentReassign.load(), 0) << "the modifiers' releases captured nothing more";

  ReassignKey("keyspamhotkey");
  EXPECT_FALSE(Press(kRCtrl));
  EXPECT_FALSE(Release(kRCtrl));
  ProcessSignals();
  EXPECT_EQ(vkKeySpamHotkey.load(), kRCtrl);
  EXPECT_EQ(modsKeySpamHotkey.load(), 0);

  // Escape with a modifier still cancels.
  ReassignKey("rec");
  EXPECT_FALSE(Press(kLShift));
  EXPECT_TRUE(Press(kVkEscape));
  ProcessSignals();
  EXPECT_EQ(vkRecord.load(), 119);
  EXPECT_EQ(modsRecord.load(), 0);
  EXPECT_TRUE(Release(kVkEscape));
  EXPECT_FALSE(Release(kLShift));

  ReassignKey("keyspamtarget");
  EXPECT_TRUE(Press(kLShift));
  ProcessSignals();
  EXPECT_EQ(keySpamTargetCount.load(), 2);
  EXPECT_EQ(keySpamTargets[1].load(), kLShift);
  EXPECT_TRUE(Release(kLShift));

  ResetHotkeys();
  EXPECT_EQ(modsAutoClicker.load(), 0);
  EXPECT_EQ(vkAutoClicker.load(), kF6);
}

// Both Shift keys, or Escape three times within a second: the press that
// completes the combination is swallowed and stops everything, with the
// hotkeys locked, switched off or waiting for a reassignment.
TEST_F(HoldComboTest, PanicCombinationsAgainstTheClock) {
  constexpr int64_t ms = 1'000'000;
  struct Step {
    int vk;
    bool down, repeat;
    int64_t atMs;
    bool fires;
  };
  struct Case {
    const char* name;
    int combo;
    std::vector<Step> steps;
  } cases[] = {
      {"both Shift keys", kPanicBothShifts,
       {{kLShift, true, false, 0, false}, {kRShift, true, false, 10, true}}},
      {"right then left", kPanicBothShifts,
       {{kRShift, true, false, 0, false}, {kLShift, true, false, 10, true}}},
      {"one after the other is no combination", kPanicBothShifts,
       {{kLShift, true, false, 0, false}, {kLShift, false, false, 5, false}, {kRShift, true, false, 10, false}}},
      {"a repeat of the held Shift is not a press", kPanicBothShifts,
       {{kLShift, true, false, 0, false}, {kRShift, true, false, 5, true}, {kRShift, true, true, 40, false}}},
      {"Esc three times", kPanicEscThrice,
       {{27, true, false, 0, false}, {27, true, false, 400, false}, {27, true, false, 999, true}}},
      {"Esc three times over more than a second", kPanicEscThrice,
       {{27, true, false, 0, false}, {27, true, false, 600, false}, {27, true, false, 1001, false},
        {27, true, false, 1300, true}}},
      {"Esc auto-repeat counts nothing", kPanicEscThrice,
       {{27, true, false, 0, false}, {27, true, true, 30, false}, {27, true, true, 60, false}}},
      {"Esc thrice while both Shifts is the setting", kPanicBothShifts,
       {{27, true, false, 0, false}, {27, true, false, 10, false}, {27, true, false, 20, false}}},
      {"off", kPanicOff, {{kLShift, true, false, 0, false}, {kRShift, true, false, 10, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetPanicWatch();
    g_PanicCombo.store(c.combo);
    for (const Step& s : c.steps) {
      triggerStopAll.store(false);
      EXPECT_EQ(PanicKey(s.vk, s.down, s.repeat, s.atMs * ms), s.fires) << s.atMs;
      EXPECT_EQ(triggerStopAll.load(), s.fires);
    }
  }

  // Through the hooks, with the hotkeys locked and switched off, while the
  // clicker and the spammer run and a reassignment waits.
  g_PanicCombo.store(kPanicBothShifts);
  g_PanicStops.store(0);
  ResetInputHooksForTest();
  g_HotkeysUnlocked.store(false);
  g_HotkeysEnabled.store(false);
  isAutoClicking.store(true);
  isKeySpamming.store(true);
  ReassignKey("rec");
  EXPECT_FALSE(Press(kRShift));
  EXPECT_TRUE(Press(kLShift)) << "the completing press is swallowed";
  ProcessSignals();
  EXPECT_FALSE(isAutoClicking.load());
  EXPECT_FALSE(isKeySpamming.load());
  EXPECT_TRUE(Release(kLShift)) << "and so is its release";
  EXPECT_FALSE(Release(kRShift));
  EXPECT_NE(BuildStatusJson("[]").find("\"panicStops\":1}"), std::string::npos);
  SetPanicCombo("2");
  EXPECT_EQ(g_PanicCombo.load(), kPanicEscThrice);
  SetPanicCombo("7");
  EXPECT_EQ(g_PanicCombo.load(), kPanicEscThrice);
}

// A session file of the version before these settings loads unchanged: every
// value it holds, plain hotkeys, no turbo, the default panic combination; and
// its 36 fields come back in place when it is saved again.
TEST_F(StateTest, SessionFileOfThePreviousVersionLoadsUnchanged) {
  const std::string fixture = Slurp(std::string(PMR_FIXTURES_DIR) + "/session/session-36-fields.dat");
  ASSERT_FALSE(fixture.empty());
  WriteText(SessionPath(), fixture);
  ASSERT_TRUE(LoadSessionState());
  EXPECT_EQ(autoClickIntervalSecs, 1);
  EXPECT_EQ(autoClickIntervalMs, 250);
  EXPECT_EQ(autoClickFixedX.load(), 640);
  EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.5f);
  EXPECT_EQ(vkRecord.load(), 114);
  EXPECT_EQ(vkPlay.load(), 115);
  EXPECT_EQ(keySpamTargetCount.load(), 2);
  EXPECT_TRUE(keySpamChordMode.load());
  EXPECT_TRUE(g_HoldModeAuto.load());
  EXPECT_FALSE(g_HoldModeKeySpam.load());
  EXPECT_EQ(vkUnlock.load(), 121);
  EXPECT_FALSE(g_TurboAuto.load());
  for (auto* m : {&modsRecord, &modsPlay, &modsAutoClicker, &modsKeySpamHotkey, &modsUnlock}) EXPECT_EQ(m->load(), 0);
  EXPECT_EQ(g_PanicCombo.load(), kDefaultPanicCombo);
  const std::vector<MacroProfile> list = GetProfiles();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].events.size(), 2u);

  const std::string oldLine = fixture.substr(9, fixture.find('\n') - 9);
  const std::string line = SerializeSettings();
  EXPECT_EQ(line.substr(0, oldLine.size() + 1), oldLine + ",");
  // Turbo, the five masks and the panic combination, then no jitter.
  EXPECT_EQ(line.substr(oldLine.size()), ",0,0,0,0,0,0,1,0,0,0");
}
