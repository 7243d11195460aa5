// The tools' output as the desktop receives it: the auto clicker's and the key
// spammer's writes on the simulated injection devices ("pmr-inject",
// "pmr-pointer"), one frame per write, with nothing left held after any stop.
// Also a hotkey pressed on a simulated keyboard, through the real capture and
// the real hooks, starting and stopping the clicker.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <functional>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "tests/sim/input_harness.h"
#include "tests/support/scoped_thread.h"
#include "tools/autoclicker.h"
#include "tools/recorder.h"
#include "tools/signals.h"
#include "tools/tool_timing.h"
#include "tools_test_util.h"

namespace {

using pmrsim::Triple;
using toolstest::WaitFor;

class ToolsInjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    ASSERT_TRUE(EnsureInjectDevice());
  }
  void TearDown() override { toolstest::ResetAll(); }

  std::vector<std::vector<input_event>> Writes(const char* phys) {
    auto n = h.k().NodeByPhys(phys);
    return n ? n->uinputWrites : std::vector<std::vector<input_event>>{};
  }
  // Writes to the injection device that carry `code`, as (code, value) pairs.
  std::vector<std::pair<int, int>> KeyWrites(std::initializer_list<int> codes) {
    std::vector<std::pair<int, int>> out;
    for (const auto& w : Writes("pmr-inject"))
      for (const auto& e : w)
        if (e.type == EV_KEY)
          for (int c : codes)
            if (e.code == c) out.emplace_back(e.code, e.value);
    return out;
  }
  // Codes held down on a node now.
  std::vector<int> HeldOn(const char* phys) {
    std::vector<int> out;
    auto n = h.k().NodeByPhys(phys);
    if (!n) return out;
    for (int c = 0; c < KEY_CNT; ++c)
      if (n->keyState.test(static_cast<size_t>(c))) out.push_back(c);
    return out;
  }

  static void Trigger(std::atomic<bool>& t) {
    t.store(true);
    ProcessSignals();
  }

  pmrsim::InputHarness h;
};

// The keyboard is grabbed and the capture has checked, after grabbing, that
// no key went down meanwhile: from here on its keys go through the hooks.
bool WaitKeyboardGrabbed(pmrsim::SimScope& sim, const std::string& kbd) {
  return sim.kernel.WaitNodes(
      [&](const std::vector<pmrsim::NodeInfo>& nodes) {
        for (const auto& n : nodes)
          if (n.node == kbd && n.exists && n.grabChecked) return true;
        return false;
      },
      60000);
}

TEST_F(ToolsInjectTest, EachClickIsAPressFrameAndAReleaseFrameOfTheChosenButton) {
  struct Case {
    int button;
    int code;
  } cases[] = {{0, BTN_LEFT}, {1, BTN_RIGHT}, {2, BTN_MIDDLE}};
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  for (const auto& c : cases) {
    size_t before = Writes("pmr-inject").size();
    autoClickerButtonIdx = c.button;
    autoClickRepeatMode = 0;
    autoClickRepeatTimes = 10;
    autoClickIntervalMs = 1;
    Trigger(triggerAutoClickStart);
    ASSERT_TRUE(WaitFor([] { return !isAutoClicking.load() && currentClickCount.load() == 0; }));
    auto writes = Writes("pmr-inject");
    std::vector<std::vector<Triple>> frames;
    for (size_t i = before; i < writes.size(); ++i) frames.push_back(pmrsim::Triples(writes[i]));
    ASSERT_EQ(frames.size(), 20u) << c.button;
    for (size_t i = 0; i < frames.size(); ++i) {
      const std::vector<Triple> expect = {{EV_KEY, c.code, i % 2 == 0 ? 1 : 0}, {EV_SYN, SYN_REPORT, 0}};
      EXPECT_EQ(frames[i], expect) << c.button << " write " << i;
    }
    EXPECT_TRUE(HeldOn("pmr-inject").empty());
  }
}

TEST_F(ToolsInjectTest, StopMidDoubleClickCompletesItAndLeavesNothingPressed) {
  autoClickClickType = 1;
  autoClickIntervalSecs = 3600;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  Trigger(triggerAutoClickStart);
  // The first click of the double click is out; the second follows 15 ms later.
  ASSERT_TRUE(WaitFor([&] { return KeyWrites({BTN_LEFT}).size() >= 2; }));
  Trigger(triggerAutoClickStop);
  ASSERT_TRUE(WaitFor([&] { return KeyWrites({BTN_LEFT}).size() >= 5; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  auto w = KeyWrites({BTN_LEFT});
  EXPECT_EQ(std::count(w.begin(), w.end(), std::make_pair(BTN_LEFT, 1)), 2) << "the double click completes";
  EXPECT_EQ(w.back(), std::make_pair(BTN_LEFT, 0));
  EXPECT_TRUE(HeldOn("pmr-inject").empty());
  EXPECT_FALSE(isAutoClicking.load());
}

TEST_F(ToolsInjectTest, FixedPositionMovesThePointerBeforeEveryClick) {
  // A 1920 x 1080 layout at the origin: (100, 200) is the centre of its pixel,
  // ((2*100+1) * 65536) / (2*1920) = 3430 and ((2*200+1) * 65536) / (2*1080) = 12166.
  toolstest::StartRecording();
  h.hooks.havePosition = true;
  h.hooks.px = 100;
  h.hooks.py = 200;
  autoClickLocationMode = 1;
  autoClickFixedX.store(100);
  autoClickFixedY.store(200);
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 3;
  autoClickIntervalMs = 1;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  const int64_t t0 = MonotonicNs();
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor([] { return !isAutoClicking.load() && currentClickCount.load() == 0; }));

  // Merge both devices' desktop events in order of arrival.
  std::vector<std::string> order;
  for (const auto& s : h.k().Desktop()) {
    if (s.ns < t0) continue;
    if (s.phys == "pmr-pointer" && s.ev.type == EV_ABS)
      order.push_back((s.ev.code == ABS_X ? "x" : "y") + std::to_string(s.ev.value));
    if (s.phys == "pmr-inject" && s.ev.type == EV_KEY) order.push_back(s.ev.value ? "press" : "release");
  }
  // The first move writes both axes; a move to the same point again is a
  // nudge frame followed by the real one, so the desktop sees the point anew.
  const std::vector<std::string> expect = {"x3430", "y12166", "press", "release",
                                           "x3429", "x3430", "press", "release",
                                           "x3429", "x3430", "press", "release"};
  EXPECT_EQ(order, expect);
  // Recorded clicks carry the position read after the move.
  auto ev = toolstest::Events();
  ASSERT_EQ(ev.size(), 6u);
  for (const auto& e : ev) {
    EXPECT_EQ(e.x, 100);
    EXPECT_EQ(e.y, 200);
  }
}

TEST_F(ToolsInjectTest, NoPointerQueryPerClickWhileNothingRecords) {
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 5;
  autoClickIntervalMs = 1;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor([] { return !isAutoClicking.load() && currentClickCount.load() == 0; }));
  EXPECT_EQ(KeyWrites({BTN_LEFT}).size(), 10u);
  EXPECT_EQ(h.hooks.positionQueries, 0);
}

TEST_F(ToolsInjectTest, KeySpammerWritesItsCyclesAndReleasesOnEveryStop) {
  const int A = 65, B = 66, C = 67;
  keySpamTargets[0].store(A);
  keySpamTargets[1].store(B);
  keySpamTargets[2].store(C);
  keySpamTargetCount.store(3);
  keySpamIntervalMs = 1;
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 4;
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  auto idle = [] { return !isKeySpamming.load() && currentKeySpamCount.load() == 0; };

  // In turn, then the releases of every target when the count is reached.
  Trigger(triggerKeySpamStart);
  ASSERT_TRUE(WaitFor(idle));
  std::vector<std::pair<int, int>> expect = {{KEY_A, 1}, {KEY_A, 0}, {KEY_B, 1}, {KEY_B, 0}, {KEY_C, 1},
                                             {KEY_C, 0}, {KEY_A, 1}, {KEY_A, 0}, {KEY_A, 0}, {KEY_B, 0},
                                             {KEY_C, 0}};
  EXPECT_EQ(KeyWrites({KEY_A, KEY_B, KEY_C}), expect);
  EXPECT_TRUE(HeldOn("pmr-inject").empty());

  // As a chord, stopped by request: the stop releases every target.
  size_t before = KeyWrites({KEY_A, KEY_B, KEY_C}).size();
  keySpamChordMode.store(true);
  keySpamRepeatMode = 1;
  keySpamIntervalSecs = 3600;
  Trigger(triggerKeySpamStart);
  ASSERT_TRUE(WaitFor([&] { return KeyWrites({KEY_A, KEY_B, KEY_C}).size() >= before + 6; }));
  Trigger(triggerKeySpamStop);
  ASSERT_TRUE(WaitFor(idle));
  auto w = KeyWrites({KEY_A, KEY_B, KEY_C});
  std::vector<std::pair<int, int>> tail(w.begin() + static_cast<long>(before), w.end());
  expect = {{KEY_A, 1}, {KEY_B, 1}, {KEY_C, 1}, {KEY_A, 0}, {KEY_B, 0}, {KEY_C, 0}, {KEY_A, 0}, {KEY_B, 0}, {KEY_C, 0}};
  EXPECT_EQ(tail, expect);
  EXPECT_TRUE(HeldOn("pmr-inject").empty());
}

// The target list changes in the middle of a chord (the page removes the first
// target): the cycle still releases exactly the keys it pressed.
TEST_F(ToolsInjectTest, ListChangedMidChordLeavesNoKeyHeld) {
  toolstest::StartRecording();
  keySpamTargets[0].store(65);
  keySpamTargets[1].store(66);
  keySpamTargets[2].store(67);
  keySpamTargetCount.store(3);
  keySpamChordMode.store(true);
  keySpamIntervalSecs = 3600;
  toolstest::WorkerThread spammer(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  {
    // Recording the first press needs the profile lock: holding it stops the
    // spammer right after its first key went down.
    std::unique_lock<std::mutex> lock(profileMutex);
    Trigger(triggerKeySpamStart);
    ASSERT_TRUE(WaitFor([&] { return !KeyWrites({KEY_A}).empty(); }));
    keySpamTargets[0].store(66);
    keySpamTargets[1].store(67);
    keySpamTargets[2].store(0);
    keySpamTargetCount.store(2);
  }
  ASSERT_TRUE(WaitFor([&] { return KeyWrites({KEY_A, KEY_B, KEY_C}).size() >= 6; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::vector<std::pair<int, int>> expect = {{KEY_A, 1}, {KEY_B, 1}, {KEY_C, 1},
                                                   {KEY_A, 0}, {KEY_B, 0}, {KEY_C, 0}};
  EXPECT_EQ(KeyWrites({KEY_A, KEY_B, KEY_C}), expect);
  EXPECT_TRUE(HeldOn("pmr-inject").empty());
  Trigger(triggerKeySpamStop);
}

// Leaving play, stopping a recording and locking the hotkeys each stop both
// running tools in the same pass, and nothing stays held on the desktop.
TEST_F(ToolsInjectTest, StopToolsPathsLeaveNothingHeld) {
  struct Case {
    const char* what;
    std::function<void()> before;  // puts the recorder in the state to leave
    std::function<void()> stop;
  } cases[] = {
      {"leaving play",
       [] {
         // Play state is entered only with something to play.
         {
           std::lock_guard<std::mutex> lock(profileMutex);
           profiles[0].events.assign(1, UnifiedEvent{kEventKey, 0, 0, 0, 0, 65, true, 0});
         }
         Trigger(triggerPlay);
         EXPECT_TRUE(isPlaying.load());
       },
       [] { Trigger(triggerPlay); }},
      {"stopping a recording", [] { Trigger(triggerRecord); }, [] { Trigger(triggerRecord); }},
      {"locking the hotkeys", [] {}, [] {
         EXPECT_TRUE(TapKey(vkUnlock.load(), true));
         ProcessSignals();
         EXPECT_TRUE(TapKey(vkUnlock.load(), false));
       }},
  };
  keySpamTargets[0].store(65);
  keySpamTargets[1].store(66);
  keySpamTargetCount.store(2);
  keySpamChordMode.store(true);
  keySpamIntervalMs = 1;
  autoClickIntervalMs = 1;
  toolstest::WorkerThread clicker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  toolstest::WorkerThread spammer(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  for (const auto& c : cases) {
    g_HotkeysUnlocked.store(true);
    c.before();
    Trigger(triggerAutoClickStart);
    Trigger(triggerKeySpamStart);
    const size_t mark = KeyWrites({BTN_LEFT, KEY_A}).size();
    ASSERT_TRUE(WaitFor([&] { return KeyWrites({BTN_LEFT, KEY_A}).size() >= mark + 8; })) << c.what;
    g_PlaybackWake.flag.store(false);
    c.stop();
    EXPECT_FALSE(isAutoClicking.load()) << c.what;
    EXPECT_FALSE(isKeySpamming.load()) << c.what;
    EXPECT_FALSE(isPlaying.load()) << c.what;
    EXPECT_FALSE(isRecording.load()) << c.what;
    ASSERT_TRUE(WaitFor([] { return currentClickCount.load() == 0 && currentKeySpamCount.load() == 0; })) << c.what;
    // The workers release what they hold as they stop; a key that stays held
    // never lets this wait succeed.
    EXPECT_TRUE(WaitFor([&] { return HeldOn("pmr-inject").empty(); })) << c.what;
  }
  // Nothing waits on the playback wake: the last one is still pending.
  isPlaying.store(true);
  Trigger(triggerPlay);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(g_PlaybackWake.flag.load());
  // Leaving play released the left and right buttons.
  auto w = KeyWrites({BTN_LEFT, BTN_RIGHT});
  ASSERT_GE(w.size(), 2u);
  const std::vector<std::pair<int, int>> last(w.end() - 2, w.end());
  const std::vector<std::pair<int, int>> released = {{BTN_LEFT, 0}, {BTN_RIGHT, 0}};
  EXPECT_EQ(last, released);
}

// F6 on a simulated keyboard, through the real capture and the real hooks:
// swallowed, and the clicker starts; F6 again stops it with nothing held.
TEST(ToolsThroughCapture, HotkeyOnAKeyboardTogglesTheClicker) {
  toolstest::ResetAll();
  pmrsim::SimScope sim;
  ResetInputForTest();
  OsSetInputHooks(&ToolInputHooks());  // as start-up installs them
  pmrsim::DeviceDesc keyboard = pmrsim::BasicKeyboard();
  keyboard.phys = "usb-sim-kbd/input0";
  const std::string kbd = sim.kernel.AddDevice(keyboard);
  ASSERT_FALSE(kbd.empty());
  ASSERT_TRUE(EnsureInjectDevice());
  ASSERT_TRUE(OsStartInputTap());
  pmrtest::OnExit stopTap([] {
    OsStopInputTap();
    ResetInputForTest();
    g_AppRunning.store(true);
  });
  ASSERT_TRUE(WaitKeyboardGrabbed(sim, kbd));
  autoClickIntervalMs = 5;
  g_AppRunning.store(true);
  toolstest::WorkerThread clicker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  std::atomic<bool> signalsRun{true};
  pmrtest::ScopedThread signals(
      [&] {
        while (signalsRun.load()) {
          ProcessSignals();
          std::unique_lock<std::mutex> lock(g_SignalWake.mutex);
          g_SignalWake.cv.wait(lock, [&] { return g_SignalWake.flag.exchange(false) || !signalsRun.load(); });
        }
      },
      [&] {
        signalsRun.store(false);
        g_SignalWake.Wake();
      });
  auto clicks = [&] {
    int n = 0;
    for (const auto& s : sim.kernel.Desktop())
      if (s.phys == "pmr-inject" && s.ev.type == EV_KEY && s.ev.code == BTN_LEFT && s.ev.value == 1) ++n;
    return n;
  };
  sim.kernel.Emit(kbd, pmrsim::KeyFrame(KEY_F6, 1, true));
  sim.kernel.Emit(kbd, pmrsim::KeyFrame(KEY_F6, 0, true));
  EXPECT_TRUE(WaitFor([&] { return clicks() >= 5; }));
  sim.kernel.Emit(kbd, pmrsim::KeyFrame(KEY_F6, 1, true));
  sim.kernel.Emit(kbd, pmrsim::KeyFrame(KEY_F6, 0, true));
  EXPECT_TRUE(WaitFor([] { return !isAutoClicking.load(); }));
  const int made = clicks();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(clicks(), made) << "no click after the stop";
  for (const auto& s : sim.kernel.Desktop())
    EXPECT_FALSE(s.ev.type == EV_KEY && s.ev.code == KEY_F6) << "the hotkey never reaches the desktop";
  auto inject = sim.kernel.NodeByPhys("pmr-inject");
  ASSERT_TRUE(inject);
  EXPECT_FALSE(inject->keyState.test(BTN_LEFT));
}


// Enter and keypad Enter share one VK code, so the hooks cannot tell them
// apart. Whatever order they come in, with the hotkey lock switching between
// their presses, no key may stay held on the desktop.
TEST(ToolsThroughCapture, KeysSharingAVkCodeNeverStayHeld) {
  toolstest::ResetAll();
  pmrsim::SimScope sim;
  ResetInputForTest();
  OsSetInputHooks(&ToolInputHooks());  // as start-up installs them
  pmrsim::DeviceDesc keyboard = pmrsim::BasicKeyboard();
  keyboard.phys = "usb-sim-kbd/input0";
  const std::string kbd = sim.kernel.AddDevice(keyboard);
  ASSERT_TRUE(EnsureInjectDevice());
  ASSERT_TRUE(OsStartInputTap());
  pmrtest::OnExit stopTap([] {
    OsStopInputTap();
    ResetInputForTest();
    toolstest::ResetAll();
  });
  ASSERT_TRUE(WaitKeyboardGrabbed(sim, kbd));
  vkAutoClicker.store(13);         // Enter is the clicker's hotkey
  g_HotkeysUnlocked.store(false);  // the hotkeys are locked for now
  auto twinSaw = [&](int code, int value) {
    int n = 0;
    for (const auto& s : sim.kernel.Desktop())
      if (s.phys == "pmr-twin" && s.ev.type == EV_KEY && s.ev.code == code && s.ev.value == value) ++n;
    return n;
  };
  auto key = [&](int code, int value) { sim.kernel.Emit(kbd, pmrsim::KeyFrame(code, value, true)); };

  key(KEY_ENTER, 1);  // locked: reaches the desktop
  ASSERT_TRUE(WaitFor([&] { return twinSaw(KEY_ENTER, 1) == 1; }));
  g_HotkeysUnlocked.store(true);
  key(KEY_KPENTER, 1);  // looks like a repeat of the held VK code: passes
  ASSERT_TRUE(WaitFor([&] { return twinSaw(KEY_KPENTER, 1) == 1; }));
  key(KEY_KPENTER, 0);
  ASSERT_TRUE(WaitFor([&] { return twinSaw(KEY_KPENTER, 0) == 1; }));
  key(KEY_KPENTER, 1);  // a first press again: the hotkey, swallowed
  ASSERT_TRUE(WaitFor([] { return triggerAutoClicker.load(); }));
  key(KEY_ENTER, 0);  // Enter's press reached the desktop, so must its release
  EXPECT_TRUE(WaitFor([&] { return twinSaw(KEY_ENTER, 0) == 1; }));
  key(KEY_KPENTER, 0);
  key(KEY_A, 1);
  key(KEY_A, 0);
  ASSERT_TRUE(WaitFor([&] { return twinSaw(KEY_A, 0) == 1; }));

  std::optional<pmrsim::NodeInfo> twin;
  for (const auto& n : sim.kernel.Nodes())
    if (n.phys == "pmr-twin") twin = n;
  ASSERT_TRUE(twin);
  EXPECT_FALSE(twin->keyState.test(KEY_ENTER));
  EXPECT_FALSE(twin->keyState.test(KEY_KPENTER));
}

}  // namespace
