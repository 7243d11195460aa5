// Hold to run, turbo, hotkey combinations and the panic stop on the simulated
// devices, through the real capture, the program's own hooks, the signal
// processor, the tool threads and the real injection device.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <thread>

#include "app/app.h"
#include "platform/os_input.h"
#include "tests/sim/input_harness.h"
#include "tests/unit/tools_test_util.h"
#include "tools/autoclicker.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "tools/keyspammer.h"
#include "model/panic_stop.h"
#include "app/status_json.h"
#include "model/tool_state.h"
#include "tools/signals.h"

using namespace pmrsim;
using toolstest::WaitFor;

namespace {

// The signal processor and both tool threads, for the length of a test.
class RunningTools {
 public:
  RunningTools()
      : clicker_(AutoClickerThread, g_AutoClickWake, currentClickCount),
        spammer_(KeySpammerThread, g_KeySpamWake, currentKeySpamCount) {
    signals_ = std::thread([this] {
      while (!stop_.load()) {
        ProcessSignals();
        WaitUntilWoken(g_SignalWake);
      }
    });
  }
  ~RunningTools() {
    stop_.store(true);
    g_SignalWake.Wake();
    signals_.join();
    g_SignalWake.flag.store(false);
  }

 private:
  toolstest::WorkerThread clicker_;
  toolstest::WorkerThread spammer_;
  std::atomic<bool> stop_{false};
  std::thread signals_;
};

// Key and button events that reached the desktop from `phys` after `mark`.
std::vector<Triple> KeysFrom(InputHarness& h, const std::string& phys, uint64_t mark) {
  std::vector<Triple> out;
  for (const SeenEvent& s : h.SeenFrom(phys, mark))
    if (s.ev.type == EV_KEY) out.emplace_back(EV_KEY, s.ev.code, s.ev.value);
  return out;
}

int Count(const std::vector<Triple>& keys, int code, int value) {
  int n = 0;
  for (const Triple& t : keys) n += std::get<1>(t) == code && std::get<2>(t) == value;
  return n;
}

bool InjectHoldsNothing(InputHarness& h) {
  auto inject = h.k().NodeByPhys("pmr-inject");
  return inject && inject->keyState.none();
}

void Send(InputHarness& h, const std::string& node, int code, int value) { h.k().Emit(node, KeyFrame(code, value)); }

struct Devices {
  std::string kbd, mouse;
};

Devices StartCapture(InputHarness& h) {
  h.UseRealHooks();
  Devices d{h.Add(BasicKeyboard("Kbd")), h.Add(BasicMouse("Mouse"))};
  EXPECT_TRUE(OsStartInputTap());
  EXPECT_TRUE(h.WaitGrabbed(d.kbd));
  EXPECT_TRUE(h.WaitGrabbed(d.mouse));
  return d;
}

}  // namespace

// With hold mode on, each tool runs from the press of its hotkey to its
// release: the first action comes at once, nothing comes after the release,
// nothing stays held, and the hotkey never reaches the desktop.
TEST(HoldToRun, EachToolRunsExactlyWhileItsHotkeyIsHeld) {
  InputHarness h;
  const Devices d = StartCapture(h);
  g_HoldModeAuto.store(true);
  g_HoldModeKeySpam.store(true);
  StoreSetting(autoClickIntervalMs, 5);
  StoreSetting(keySpamIntervalMs, 5);
  RunningTools tools;

  struct Case {
    const char* name;
    int hotkey;
    std::atomic<bool>* running;
    int injected;
  } cases[] = {{"auto clicker", KEY_F6, &isAutoClicking, BTN_LEFT}, {"key spammer", KEY_F9, &isKeySpamming, KEY_SPACE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t mark = h.k().DesktopSeq();
    Send(h, d.kbd, c.hotkey, 1);
    ASSERT_TRUE(WaitFor([&] { return Count(KeysFrom(h, "pmr-inject", mark), c.injected, 0) >= 3; }));
    EXPECT_TRUE(c.running->load());
    Send(h, d.kbd, c.hotkey, 0);
    ASSERT_TRUE(WaitFor([&] { return !c.running->load(); }));
    h.Settle(100);
    const std::vector<Triple> before = KeysFrom(h, "pmr-inject", mark);
    h.Settle(100);
    EXPECT_EQ(KeysFrom(h, "pmr-inject", mark).size(), before.size()) << "nothing after the stop";
    EXPECT_EQ(Count(before, c.injected, 1), Count(before, c.injected, 0)) << Describe(before);
    EXPECT_TRUE(InjectHoldsNothing(h));
    EXPECT_EQ(Count(KeysFrom(h, "pmr-twin", mark), c.hotkey, 1), 0) << "the hotkey is swallowed";
    EXPECT_EQ(Count(KeysFrom(h, "pmr-twin", mark), c.hotkey, 0), 0);
  }
}

// Turbo: armed by the start, the clicker clicks while the real left button is
// held. The real press and release never reach the desktop; the clicker's own
// presses and releases, written to the injection device, are never taken for
// the real button (each of them would otherwise end the run after one click);
// other buttons pass through; once stopped, the left button is the desktop's
// again.
TEST(Turbo, TheRealButtonDrivesTheClickerAndIsNeverConfusedWithItsClicks) {
  InputHarness h;
  const Devices d = StartCapture(h);
  g_TurboAuto.store(true);
  StoreSetting(autoClickIntervalMs, 5);
  RunningTools tools;

  uint64_t mark = h.k().DesktopSeq();
  triggerAutoClickStart.store(true);
  WakeSignalProcessor();
  ASSERT_TRUE(WaitFor([] { return isAutoClicking.load(); }));
  h.Settle(100);
  EXPECT_TRUE(KeysFrom(h, "pmr-inject", mark).empty()) << "armed, no click while the button is up";

  Send(h, d.mouse, BTN_LEFT, 1);
  ASSERT_TRUE(WaitFor([&] { return Count(KeysFrom(h, "pmr-inject", mark), BTN_LEFT, 0) >= 5; }));
  EXPECT_TRUE(g_TurboButtonHeld.load()) << "the injected releases did not end it";
  const uint64_t rightMark = h.k().DesktopSeq();
  Send(h, d.mouse, BTN_RIGHT, 1);
  Send(h, d.mouse, BTN_RIGHT, 0);
  ASSERT_TRUE(WaitFor([&] { return Count(KeysFrom(h, "pmr-twin", rightMark), BTN_RIGHT, 0) == 1; }));
  Send(h, d.mouse, BTN_LEFT, 0);
  ASSERT_TRUE(WaitFor([] { return !g_TurboButtonHeld.load(); }));
  h.Settle(100);
  const size_t clicks = KeysFrom(h, "pmr-inject", mark).size();
  h.Settle(100);
  EXPECT_EQ(KeysFrom(h, "pmr-inject", mark).size(), clicks) << "no click after the release";
  EXPECT_TRUE(isAutoClicking.load()) << "still armed for the next press";
  EXPECT_TRUE(InjectHoldsNothing(h));
  EXPECT_EQ(Count(KeysFrom(h, "pmr-twin", mark), BTN_LEFT, 1), 0) << "the real button was swallowed";
  EXPECT_EQ(Count(KeysFrom(h, "pmr-twin", mark), BTN_LEFT, 0), 0);

  triggerAutoClickStop.store(true);
  WakeSignalProcessor();
  ASSERT_TRUE(WaitFor([] { return !isAutoClicking.load(); }));
  mark = h.k().DesktopSeq();
  Send(h, d.mouse, BTN_LEFT, 1);
  Send(h, d.mouse, BTN_LEFT, 0);
  ASSERT_TRUE(WaitFor([&] { return Count(KeysFrom(h, "pmr-twin", mark), BTN_LEFT, 0) == 1; }));
  EXPECT_TRUE(KeysFrom(h, "pmr-inject", mark).empty());
}

// Ctrl+Shift+F6: only F6 is swallowed; Ctrl and Shift reach the desktop
// pressed and released as typed; F6 alone and Ctrl+C pass untouched.
TEST(HotkeyCombo, OnlyTheFinalKeyIsSwallowed) {
  InputHarness h;
  const Devices d = StartCapture(h);
  modsAutoClicker.store(kModCtrl | kModShift);
  const uint64_t mark = h.k().DesktopSeq();
  const std::vector<std::pair<int, int>> typed = {
      {KEY_LEFTCTRL, 1}, {KEY_RIGHTSHIFT, 1}, {KEY_F6, 1}, {KEY_F6, 0}, {KEY_RIGHTSHIFT, 0}, {KEY_LEFTCTRL, 0},
      {KEY_F6, 1},       {KEY_F6, 0},         {KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}};
  std::vector<Triple> expected;
  for (size_t i = 0; i < typed.size(); ++i) {
    Send(h, d.kbd, typed[i].first, typed[i].second);
    if (i == 2) {
      EXPECT_TRUE(WaitFor([] { return triggerAutoClicker.exchange(false); }));
    }
    if (i != 2 && i != 3) expected.emplace_back(EV_KEY, typed[i].first, typed[i].second);
  }
  ASSERT_TRUE(WaitFor([&] { return KeysFrom(h, "pmr-twin", mark).size() >= expected.size(); }));
  h.Settle(50);
  EXPECT_EQ(Describe(KeysFrom(h, "pmr-twin", mark)), Describe(expected));
  EXPECT_FALSE(triggerAutoClicker.load()) << "F6 without its modifiers is no hotkey";
  auto twin = h.Twin("Kbd");
  ASSERT_TRUE(twin);
  EXPECT_TRUE(twin->keyState.none());
}

// Both Shift keys stop the clicker, the spammer and playback and release every
// key and button the program holds, with the hotkeys locked by the unlock key
// and with the hotkeys switched off. The first Shift reaches the desktop, the
// second is swallowed with its release, and the page is told.
TEST(PanicStop, ReleasesEverythingWhileLockedOrSwitchedOff) {
  InputHarness h;
  const Devices d = StartCapture(h);
  StoreSetting(autoClickIntervalMs, 5);
  StoreSetting(keySpamIntervalMs, 5);
  RunningTools tools;
  for (bool locked : {true, false}) {
    SCOPED_TRACE(locked ? "locked" : "switched off");
    if (locked) {
      Send(h, d.kbd, KEY_F10, 1);
      Send(h, d.kbd, KEY_F10, 0);
      ASSERT_TRUE(WaitFor([] { return !g_HotkeysUnlocked.load(); }));
      // The lock's own stop requests are applied before the tools start.
      ASSERT_TRUE(WaitFor([] { return !triggerAutoClickStop.load() && !triggerKeySpamStop.load(); }));
    } else {
      g_HotkeysUnlocked.store(true);
      g_HotkeysEnabled.store(false);
    }
    triggerAutoClickStart.store(true);
    triggerKeySpamStart.store(true);
    WakeSignalProcessor();
    ASSERT_TRUE(WaitFor([] { return isAutoClicking.load() && isKeySpamming.load(); }));
    // What a playback would hold: a key and the right button.
    OsKeyVk(66, true);
    OsMouseButton(1, true, 1);
    ASSERT_FALSE(InjectHoldsNothing(h));

    const uint64_t mark = h.k().DesktopSeq();
    Send(h, d.kbd, KEY_LEFTSHIFT, 1);
    Send(h, d.kbd, KEY_RIGHTSHIFT, 1);
    ASSERT_TRUE(WaitFor([] { return !isAutoClicking.load() && !isKeySpamming.load(); }));
    ASSERT_TRUE(WaitFor([&] { return InjectHoldsNothing(h); }));
    Send(h, d.kbd, KEY_RIGHTSHIFT, 0);
    Send(h, d.kbd, KEY_LEFTSHIFT, 0);
    ASSERT_TRUE(WaitFor([&] { return Count(KeysFrom(h, "pmr-twin", mark), KEY_LEFTSHIFT, 0) == 1; }));
    h.Settle(50);
    EXPECT_EQ(Describe(KeysFrom(h, "pmr-twin", mark)),
              Describe({{EV_KEY, KEY_LEFTSHIFT, 1}, {EV_KEY, KEY_LEFTSHIFT, 0}}));
    std::string status;
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      status = BuildStatusJson("[]");
    }
    EXPECT_NE(status.find("\"panicStops\":" + std::to_string(locked ? 1 : 2) + "}"), std::string::npos) << status;
    EXPECT_EQ(g_HotkeysUnlocked.load(), !locked) << "the stop leaves the lock as it was";
  }
}

// A keyboard unplugged while its hold hotkey is down never sends the release;
// the capture hands the hooks one as it closes the device, so the tool stops.
// The same for turbo's button on a mouse that goes away.
TEST(HoldToRun, ADeviceThatGoesAwayWhileHeldStopsTheTool) {
  InputHarness h;
  const Devices d = StartCapture(h);
  g_HoldModeAuto.store(true);
  g_TurboAuto.store(false);
  StoreSetting(autoClickIntervalMs, 5);
  RunningTools tools;
  Send(h, d.kbd, KEY_F6, 1);
  ASSERT_TRUE(WaitFor([] { return currentClickCount.load() >= 2; }));
  ASSERT_TRUE(h.k().Unplug(d.kbd));
  ASSERT_TRUE(WaitFor([] { return !isAutoClicking.load(); }));
  ASSERT_TRUE(WaitFor([&] { return InjectHoldsNothing(h); }));

  g_HoldModeAuto.store(false);
  g_TurboAuto.store(true);
  triggerAutoClickStart.store(true);
  WakeSignalProcessor();
  ASSERT_TRUE(WaitFor([] { return isAutoClicking.load(); }));
  Send(h, d.mouse, BTN_LEFT, 1);
  ASSERT_TRUE(WaitFor([] { return g_TurboButtonHeld.load(); }));
  ASSERT_TRUE(h.k().Unplug(d.mouse));
  ASSERT_TRUE(WaitFor([] { return !g_TurboButtonHeld.load(); }));
  h.Settle(100);
  const int clicks = currentClickCount.load();
  h.Settle(100);
  EXPECT_EQ(currentClickCount.load(), clicks) << "no click once the button is gone";
}
