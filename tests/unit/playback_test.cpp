// Playback: what each recorded event becomes, the schedule's arithmetic,
// passes and loops, and that every way of stopping leaves nothing held -
// against a recording output and against the simulated injection devices
// with the real signal processor and worker thread.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cmath>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

#include "app/status_json.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "tests/sim/input_harness.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "tools/signals.h"
#include "tools_test_util.h"

namespace {

using toolstest::WaitFor;

UnifiedEvent Key(double t, int vk, bool down) { return UnifiedEvent{kEventKey, t, 0, 0, 0, vk, down, 0}; }
UnifiedEvent Button(double t, uint64_t flags, int64_t x, int64_t y) {
  return UnifiedEvent{kEventButton, t, x, y, flags, 0, false, 0};
}
UnifiedEvent Move(double t, int64_t x, int64_t y) { return UnifiedEvent{kEventMove, t, x, y, 0, 0, false, 0}; }
UnifiedEvent Wheel(double t, int delta) { return UnifiedEvent{kEventWheel, t, 0, 0, 0, 0, false, delta}; }

PlaybackAction Act(int kind, int code, bool down, int x = 0, int y = 0, int wheel = 0) {
  PlaybackAction a;
  a.kind = kind;
  a.code = code;
  a.down = down;
  a.x = x;
  a.y = y;
  a.wheel = wheel;
  return a;
}

TEST(PlaybackActions, EachRecordedEventBecomesOneActionOrNone) {
  using A = PlaybackAction;
  struct Case {
    const char* what;
    UnifiedEvent ev;
    bool relative;
    PlaybackAction expect;
  } cases[] = {
      {"key press", Key(0, 65, true), false, Act(A::kKey, 65, true)},
      {"key release", Key(0, 65, false), false, Act(A::kKey, 65, false)},
      {"key without a code", Key(0, 0, true), false, Act(A::kNone, 0, false)},
      {"left press", Button(0, kFlagLeftDown, 10, 20), false, Act(A::kButton, 0, true, 10, 20)},
      {"left release", Button(0, kFlagLeftUp, 10, 20), false, Act(A::kButton, 0, false, 10, 20)},
      {"right press", Button(0, kFlagRightDown, 1, 2), false, Act(A::kButton, 1, true, 1, 2)},
      {"right release", Button(0, kFlagRightUp, 1, 2), false, Act(A::kButton, 1, false, 1, 2)},
      {"middle press", Button(0, kFlagMiddleDown, 3, 4), true, Act(A::kButton, 2, true, 3, 4)},
      {"middle release", Button(0, kFlagMiddleUp, 3, 4), true, Act(A::kButton, 2, false, 3, 4)},
      {"another button's press (no release was recorded)", Button(0, kFlagOtherDown, 5, 5), false,
       Act(A::kNone, 0, false)},
      {"flags that name no button", Button(0, kFlagLeftDown | kFlagRightDown, 5, 5), false, Act(A::kNone, 0, false)},
      {"absolute movement", Move(0, 300, 400), false, Act(A::kMoveTo, 0, false, 300, 400)},
      {"relative movement", Move(0, -3, 7), true, Act(A::kMoveBy, 0, false, -3, 7)},
      {"relative movement of nothing", Move(0, 0, 0), true, Act(A::kNone, 0, false)},
      {"absolute movement to the origin", Move(0, 0, 0), false, Act(A::kMoveTo, 0, false, 0, 0)},
      {"position beyond 32 bits is clamped", Move(0, int64_t{1} << 40, -(int64_t{1} << 40)), false,
       Act(A::kMoveTo, 0, false, std::numeric_limits<int>::max(), std::numeric_limits<int>::min())},
      {"wheel up one notch", Wheel(0, 120), false, Act(A::kWheel, 0, false, 0, 0, 120)},
      {"wheel down half a notch", Wheel(0, -60), false, Act(A::kWheel, 0, false, 0, 0, -60)},
      {"wheel of nothing", Wheel(0, 0), false, Act(A::kNone, 0, false)},
      {"horizontal wheel a quarter notch left", UnifiedEvent{kEventHWheel, 0, 0, 0, 0, 0, false, -30}, true,
       Act(A::kHWheel, 0, false, 0, 0, -30)},
      {"horizontal wheel of nothing", UnifiedEvent{kEventHWheel, 0, 0, 0, 0, 0, false, 0}, false, Act(A::kNone, 0, false)},
      {"unknown type", UnifiedEvent{9, 0, 1, 1, 2, 65, true, 120}, false, Act(A::kNone, 0, false)},
  };
  for (const Case& c : cases) EXPECT_EQ(PlaybackActionFor(c.ev, c.relative), c.expect) << c.what;
}

TEST(PlaybackSchedule, SpeedOffsetsAndLoopPause) {
  const double nan = std::nan("");
  const float inf = std::numeric_limits<float>::infinity();
  struct SpeedCase {
    float setting;
    double plays;
  } speeds[] = {{1.0f, 1.0}, {2.5f, 2.5}, {0.1f, 0.1f}, {10.0f, 10.0}, {0.05f, 1.0}, {10.5f, 1.0},
                {0.0f, 1.0}, {-2.0f, 1.0}, {static_cast<float>(nan), 1.0}, {inf, 1.0}, {-inf, 1.0}};
  for (const auto& c : speeds) EXPECT_DOUBLE_EQ(EffectivePlaybackSpeed(c.setting), c.plays) << c.setting;

  struct OffsetCase {
    double seconds, speed;
    int64_t ns;
  } offsets[] = {
      {0, 1, 0},
      {1.5, 1, 1500000000},
      {1.5, 2, 750000000},
      {1, 0.1, 10000000000},
      {2.000001, 1, 2000001000},  // microseconds survive
      {-1, 1, 0},                 // a hand-edited negative time is due at once
      {nan, 1, 0},
      {std::numeric_limits<double>::infinity(), 1, 0},
  };
  for (const auto& c : offsets) EXPECT_EQ(PlaybackOffsetNs(c.seconds, c.speed), c.ns) << c.seconds << " @" << c.speed;
  // Absurd times are far away, never an overflow into "now".
  const int64_t thirtyYearsNs = int64_t{1000000000} * 3600 * 24 * 365 * 30;
  EXPECT_GT(PlaybackOffsetNs(1e300, 0.1), thirtyYearsNs);
  EXPECT_GT(PlaybackOffsetNs(1e12, 1), thirtyYearsNs);

  EXPECT_EQ(LoopPauseNs(500), 500000000);
  EXPECT_EQ(LoopPauseNs(0), 0);
  EXPECT_EQ(LoopPauseNs(-20), 0);
  EXPECT_EQ(LoopPauseNs(std::numeric_limits<int>::max()), int64_t{std::numeric_limits<int>::max()} * 1000000);
}

// ---- a recording output -----------------------------------------------------

struct Recorded {
  char what;  // 'k' key, 'b' button, 'm' move to, 'r' move by, 'w' wheel
  int a, b;
  bool operator==(const Recorded&) const = default;
};
std::mutex g_OutMutex;
std::vector<Recorded> g_Out;
std::atomic<int> g_StopAfter{std::numeric_limits<int>::max()};
std::atomic<bool> g_Stop{false};

void Push(Recorded r) {
  std::lock_guard<std::mutex> lock(g_OutMutex);
  g_Out.push_back(r);
}
const PlaybackOutput kRecordingOutput = {
    [](int vk, bool down) { Push({'k', vk, down}); },
    [](int vk) { Push({'k', vk, 2}); },
    [](int button, bool down) { Push({'b', button, down}); },
    [](int x, int y) { Push({'m', x, y}); },
    [](int dx, int dy) { Push({'r', dx, dy}); },
    [](int d) { Push({'w', d, 0}); },
    nullptr,
};
std::vector<Recorded> Out() {
  std::lock_guard<std::mutex> lock(g_OutMutex);
  return g_Out;
}
bool StillPlaying(uint64_t) {
  if (g_Stop.load()) return false;
  std::lock_guard<std::mutex> lock(g_OutMutex);
  return static_cast<int>(g_Out.size()) < g_StopAfter.load();
}

class PlayEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    std::lock_guard<std::mutex> lock(g_OutMutex);
    g_Out.clear();
    g_StopAfter.store(std::numeric_limits<int>::max());
    g_Stop.store(false);
  }
  WakeEvent wake;
};

TEST_F(PlayEventsTest, PlaysInOrderPlacesThePointerForClicksAndReleasesWhatTheRecordingLeftHeld) {
  const std::vector<UnifiedEvent> events = {
      Move(0, 100, 200),
      Button(0, kFlagLeftDown, 100, 200),  // the pointer is already there
      Button(0, kFlagLeftUp, 150, 250),    // a drag ends elsewhere: placed first
      Wheel(0, -120),
      Key(0, 16, true),  // Shift, never released in the recording
      Key(0, 65, true),
      Key(0, 65, true),  // auto-repeat while held
      Key(0, 65, false),
      Button(0, kFlagOtherDown, 1, 1),  // nothing
  };
  PlaybackSettings s;
  EXPECT_TRUE(PlayEvents(events, s, kRecordingOutput, wake, StillPlaying, 0));
  const std::vector<Recorded> expect = {{'m', 100, 200}, {'b', 0, 1}, {'m', 150, 250}, {'b', 0, 0}, {'w', -120, 0},
                                        {'k', 16, 1},    {'k', 65, 1}, {'k', 65, 2},    {'k', 65, 0},
                                        {'k', 16, 0}};
  EXPECT_EQ(Out(), expect);
  EXPECT_EQ(g_PlaybackDone.load(), 9);
  EXPECT_EQ(g_PlaybackTotal.load(), 9);
  EXPECT_EQ(g_PlaybackLoop.load(), 1);
}

TEST_F(PlayEventsTest, RelativeRecordingMovesByCountsAndClicksWherever) {
  const std::vector<UnifiedEvent> events = {Move(0, 5, -2), Button(0, kFlagRightDown, 700, 800),
                                            Button(0, kFlagRightUp, 700, 800), Move(0, 0, 0)};
  PlaybackSettings s;
  s.relative = true;
  EXPECT_TRUE(PlayEvents(events, s, kRecordingOutput, wake, StillPlaying, 0));
  const std::vector<Recorded> expect = {{'r', 5, -2}, {'b', 1, 1}, {'b', 1, 0}};
  EXPECT_EQ(Out(), expect);
}

TEST_F(PlayEventsTest, LoopPlaysPassAfterPassUntilStoppedAndReleasesEachPass) {
  // A pass presses Ctrl and leaves it held; the loop pause is 0 and every
  // event is due at once, so only the stop condition ends the run: after
  // exactly three passes (three outputs each: press, and the pass-end release).
  const std::vector<UnifiedEvent> events = {Key(0, 17, true), Key(0, 66, true)};
  PlaybackSettings s;
  s.loop = true;
  s.loopIntervalMs = 0;
  s.speed = 10;
  g_StopAfter.store(3 * 4);
  EXPECT_FALSE(PlayEvents(events, s, kRecordingOutput, wake, StillPlaying, 0));
  const std::vector<Recorded> pass = {{'k', 17, 1}, {'k', 66, 1}, {'k', 66, 0}, {'k', 17, 0}};
  std::vector<Recorded> expect;
  for (int i = 0; i < 3; ++i) expect.insert(expect.end(), pass.begin(), pass.end());
  EXPECT_EQ(Out(), expect);
  EXPECT_EQ(g_PlaybackLoop.load(), 4) << "stopped before the first event of the fourth pass";
  EXPECT_EQ(g_PlaybackDone.load(), 0);
}

TEST_F(PlayEventsTest, EmptyRecordingFinishesAtOnceEvenWhenLooping) {
  PlaybackSettings s;
  s.loop = true;
  s.loopIntervalMs = 0;
  EXPECT_TRUE(PlayEvents({}, s, kRecordingOutput, wake, StillPlaying, 0));
  EXPECT_TRUE(Out().empty());
}

// A stop while the next event is far in the future ends the wait at once and
// releases what is held: a chord (reverse order) and a drag.
TEST_F(PlayEventsTest, StopInTheMiddleOfAChordOrADragReleasesEverything) {
  struct Case {
    const char* what;
    std::vector<UnifiedEvent> events;
    int64_t played;    // events before the long wait
    size_t heldAfter;  // outputs before the long wait
    std::vector<Recorded> releases;
  } cases[] = {
      {"chord",
       {Key(0, 17, true), Key(0, 16, true), Key(0, 65, true), Key(3600, 65, false), Key(3600, 16, false),
        Key(3600, 17, false)},
       3,
       3,
       {{'k', 65, 0}, {'k', 16, 0}, {'k', 17, 0}}},
      {"drag",
       {Move(0, 10, 10), Button(0, kFlagLeftDown, 10, 10), Move(0, 50, 60), Button(0, kFlagMiddleDown, 50, 60),
        Move(3600, 90, 90), Button(3600, kFlagLeftUp, 90, 90)},
       4,
       4,
       {{'b', 0, 0}, {'b', 2, 0}}},
  };
  for (const Case& c : cases) {
    SetUp();
    bool finished = true;
    std::thread player([&] { finished = PlayEvents(c.events, PlaybackSettings{}, kRecordingOutput, wake, StillPlaying, 0); });
    struct Joiner {
      std::thread& t;
      WakeEvent& wake;
      ~Joiner() {
        g_Stop.store(true);
        wake.Wake();
        t.join();
      }
    } joiner{player, wake};
    ASSERT_TRUE(WaitFor([&] { return Out().size() >= c.heldAfter; })) << c.what;
    ASSERT_TRUE(WaitFor([&] { return g_PlaybackDone.load() == c.played; }))
        << c.what;
    g_Stop.store(true);
    wake.Wake();
    ASSERT_TRUE(WaitFor([&] { return Out().size() == c.heldAfter + c.releases.size(); })) << c.what;
    const std::vector<Recorded> out = Out();
    EXPECT_EQ(std::vector<Recorded>(out.begin() + static_cast<long>(c.heldAfter), out.end()), c.releases) << c.what;
  }
}

// ---- the worker, the signal processor and the simulated devices -------------

class PlaybackDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    ASSERT_TRUE(EnsureInjectDevice());
  }
  void TearDown() override { toolstest::ResetAll(); }

  std::vector<std::pair<int, int>> KeyWrites() {
    std::vector<std::pair<int, int>> out;
    auto n = h.k().NodeByPhys("pmr-inject");
    if (!n) return out;
    for (const auto& w : n->uinputWrites)
      for (const auto& e : w)
        if (e.type == EV_KEY) out.emplace_back(e.code, e.value);
    return out;
  }
  std::vector<int> Held() {
    std::vector<int> out;
    auto n = h.k().NodeByPhys("pmr-inject");
    if (!n) return out;
    for (int c = 0; c < KEY_CNT; ++c)
      if (n->keyState.test(static_cast<size_t>(c))) out.push_back(c);
    return out;
  }
  static void SetEvents(std::vector<UnifiedEvent> events) {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles[0].events = std::move(events);
  }
  static void Trigger(std::atomic<bool>& t) {
    t.store(true);
    ProcessSignals();
  }

  // Runs the playback worker for the length of a test; ended the way
  // shutdown ends it.
  struct Worker {
    std::thread t;
    Worker() {
      g_AppRunning.store(true);
      t = std::thread(PlaybackThread);
    }
    ~Worker() { Stop(); }
    void Stop() {
      if (!t.joinable()) return;
      g_AppRunning.store(false);
      g_PlaybackWake.Wake();
      t.join();
      g_AppRunning.store(true);
    }
  };

  pmrsim::InputHarness h;
};

TEST_F(PlaybackDeviceTest, PlayWithNothingRecordedStaysIdleAndSaysWhy) {
  Worker worker;
  Trigger(triggerPlay);
  EXPECT_FALSE(isPlaying.load());
  std::string status;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    status = BuildStatusJson("[]");
  }
  EXPECT_NE(status.find("\"note\":\"Nothing to play yet: record a macro with F8 first.\",\"noteId\":1"),
            std::string::npos)
      << status;
}

TEST_F(PlaybackDeviceTest, PlaysToTheEndOnTheDevicesThenLeavesPlayStateAndStopsTheTools) {
  SetEvents({Key(0, 72, true), Key(0.002, 72, false), Key(0.004, 73, true), Key(0.006, 73, false),
             Button(0.008, kFlagLeftDown, 10, 10), Button(0.010, kFlagLeftUp, 10, 10)});
  g_StopToolsWithMacro.store(true);
  isAutoClicking.store(true);  // no clicker thread here: the rule is what matters
  Worker worker;
  Trigger(triggerPlay);
  ASSERT_TRUE(isPlaying.load());
  ASSERT_TRUE(WaitFor([] { return !isPlaying.load(); })) << "a pass without loop ends play state";
  const std::vector<std::pair<int, int>> expect = {{KEY_H, 1}, {KEY_H, 0}, {KEY_I, 1}, {KEY_I, 0}, {BTN_LEFT, 1},
                                                   {BTN_LEFT, 0}};
  auto writes = KeyWrites();
  // Leaving play state also writes releases of both buttons (dropped as
  // repeats by the kernel when they are up already).
  ASSERT_GE(writes.size(), expect.size());
  const std::vector<std::pair<int, int>> played(writes.begin(), writes.begin() + 6);
  EXPECT_EQ(played, expect);
  EXPECT_TRUE(Held().empty());
  // Play state ends first, the stop request follows it.
  EXPECT_TRUE(WaitFor([] { return triggerAutoClickStop.load(); })) << "the stop-tools rule asked the clicker to stop";
  EXPECT_TRUE(WaitFor([] { return g_PlaybackTotal.load() == 0; })) << "progress is cleared when idle";
}

// Every way out of play state, with a chord and a drag held, releases them.
TEST_F(PlaybackDeviceTest, EveryStopReleasesTheHeldChordAndDrag) {
  struct Case {
    const char* what;
    std::function<void(Worker&)> stop;
  } cases[] = {
      {"the play hotkey or the page's Stop", [](Worker&) { Trigger(triggerPlay); }},
      {"the hotkey lock locking",
       [](Worker&) {
         EXPECT_TRUE(HandleHotkeyDown(vkUnlock.load()));
         ProcessSignals();
         g_HotkeysUnlocked.store(true);
       }},
      {"the session locking",
       [](Worker&) {
         ToolInputHooks().sessionLocked();
         ProcessSignals();
       }},
      {"shutdown", [](Worker& w) { w.Stop(); }},
  };
  SetEvents({Key(0, 17, true), Key(0, 16, true), Move(0, 40, 40), Button(0, kFlagLeftDown, 40, 40),
             Move(0.001, 80, 80), Key(3600, 16, false), Key(3600, 17, false), Button(3600, kFlagLeftUp, 80, 80)});
  for (const Case& c : cases) {
    Worker worker;
    Trigger(triggerPlay);
    ASSERT_TRUE(isPlaying.load()) << c.what;
    ASSERT_TRUE(WaitFor([] { return g_PlaybackDone.load() == 5; })) << c.what;
    EXPECT_EQ(Held(), (std::vector<int>{KEY_LEFTCTRL, KEY_LEFTSHIFT, BTN_LEFT})) << c.what;
    const size_t mark = KeyWrites().size();
    c.stop(worker);
    if (worker.t.joinable()) {
      EXPECT_FALSE(isPlaying.load()) << c.what;
    }
    ASSERT_TRUE(WaitFor([&] { return Held().empty(); })) << c.what << " left held: " << Held().size();
    // Only releases were written after the stop.
    auto writes = KeyWrites();
    EXPECT_GE(writes.size(), mark + 3) << c.what;
    for (size_t i = mark; i < writes.size(); ++i) EXPECT_EQ(writes[i].second, 0) << c.what;
    worker.Stop();
    isPlaying.store(false);
  }
}

// Playback's own input goes out through the program's devices, which the
// capture never reads: with a recording running (as far as the hooks know)
// and the real hooks installed, nothing played is recorded, and the hotkeys
// it types are not taken as hotkeys.
TEST(PlaybackThroughCapture, PlayedInputIsNeitherRecordedNorTakenForHotkeys) {
  toolstest::ResetAll();
  pmrsim::InputHarness h;
  h.UseRealHooks();
  pmrsim::DeviceDesc keyboard = pmrsim::BasicKeyboard();
  keyboard.phys = "usb-sim-kbd/input0";
  const std::string kbd = h.Add(keyboard);
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  toolstest::StartRecording();

  WakeEvent wake;
  const std::vector<UnifiedEvent> events = {Key(0, kDefaultVkPlay, true),   Key(0, kDefaultVkPlay, false),
                                            Key(0, kDefaultVkRecord, true), Key(0, kDefaultVkRecord, false),
                                            Key(0, 65, true),               Key(0, 65, true),
                                            Key(0, 65, false),              Move(0, 500, 500),
                                            Button(0, kFlagLeftDown, 500, 500),
                                            Button(0, kFlagLeftUp, 500, 500), Wheel(0, 120)};
  const uint64_t mark = h.k().DesktopSeq();
  EXPECT_TRUE(PlayEvents(events, PlaybackSettings{}, DevicePlaybackOutput(), wake,
                         [](uint64_t) { return true; }, 0));
  ASSERT_TRUE(h.WaitSeen([&](const std::vector<pmrsim::SeenEvent>& seen) {
    for (const auto& s : seen)
      if (s.seq > mark && s.phys == "pmr-inject" && s.ev.type == EV_REL && s.ev.code == REL_WHEEL) return true;
    return false;
  }));
  h.Settle();
  EXPECT_TRUE(toolstest::Events().empty()) << toolstest::Events().size() << " played events were recorded";
  EXPECT_FALSE(triggerPlay.load());
  EXPECT_FALSE(triggerRecord.load());
  // The desktop got every key, the F-keys included.
  int f7 = 0, f8 = 0;
  std::vector<int> a;
  for (const auto& s : h.SeenFrom("pmr-inject", mark)) {
    if (s.ev.type == EV_KEY && s.ev.code == KEY_F7) ++f7;
    if (s.ev.type == EV_KEY && s.ev.code == KEY_F8) ++f8;
    if (s.ev.type == EV_KEY && s.ev.code == KEY_A) a.push_back(s.ev.value);
  }
  EXPECT_EQ(f7, 2);
  EXPECT_EQ(f8, 2);
  EXPECT_EQ(a, (std::vector<int>{1, 2, 0})) << "a recorded auto-repeat plays as a repeat";
  isRecording.store(false);
}

}  // namespace
