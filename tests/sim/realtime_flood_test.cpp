// Floods against the real-time threads: a device that sends events as fast as
// the capture can take them, and playback of dense movement at speed 10. Both
// keep their thread from ever blocking; the kernel ends a process whose
// real-time thread runs 200 ms without blocking. The process must live on,
// the desktop keep receiving the flood, hotkeys keep working, and the thread
// be real-time again once the flood is over.
//
// Where the process may not have real-time scheduling (no CAP_SYS_NICE, no
// RealtimeKit), the threads run at normal priority: these tests then check
// survival, delivery and hotkeys only, and say so; the budget's decision is
// checked without real-time in tests/unit/realtime_test.cpp.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "platform/os_thread.h"
#include "model/profiles.h"
#include "tests/sim/input_harness.h"
#include "tests/support/scoped_thread.h"
#include "tests/unit/tools_test_util.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "tools/signals.h"
#include "model/tool_state.h"

using namespace pmrsim;

namespace {

constexpr int kVkF6 = 117;

// Counting stand-ins for the hooks (a flood makes millions of calls): F6 is a
// hotkey and swallowed, everything else goes through.
std::atomic<int> g_HotkeyPresses{0};
bool CountKey(int vk, bool down) {
  if (vk != kVkF6) return false;
  if (down) g_HotkeyPresses.fetch_add(1);
  return true;
}
int NoButton(int, bool) { return 0; }
void NoPlace(int, bool, int, bool, double, double) {}
void NoMove(bool, double, double, long, long) {}
void NoScroll(int) {}
bool NoPosition(double&, double&) { return false; }
bool NoLayout(int& x, int& y, int& w, int& h) {
  x = y = 0;
  w = 1920;
  h = 1080;
  return true;
}
int NoPid(double, double) { return 0; }
const InputCallouts kCounting = {&CountKey, &NoButton, &NoPlace, &NoMove, &NoScroll, &NoPosition, &NoLayout, &NoPid};

// What reached the desktop, counted as it arrives.
struct DesktopCounts {
  std::atomic<uint64_t> twinMotion{0};
  std::atomic<uint64_t> injectMotion{0};
  std::atomic<int> hotkeyLeaks{0};  // F6 events that reached the desktop
};

void Observe(Kernel& k, DesktopCounts& c) {
  k.SetDesktopLog(false);
  k.SetUinputWriteLog(false);
  k.SetDesktopObserver([&c](const SeenEvent& s) {
    if (s.ev.type == EV_REL && s.phys == "pmr-twin") c.twinMotion.fetch_add(1, std::memory_order_relaxed);
    if (s.ev.type == EV_REL && s.phys == "pmr-inject") c.injectMotion.fetch_add(1, std::memory_order_relaxed);
    if (s.ev.type == EV_KEY && s.ev.code == KEY_F6) c.hotkeyLeaks.fetch_add(1);
  });
}

// The scheduling policy of this process's thread called `name`; -1 when there
// is none.
int PolicyOf(const std::string& name) {
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  int policy = -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string n;
    std::getline(comm, n);
    if (n != name) continue;
    policy = sched_getscheduler(std::atoi(e->d_name)) & ~SCHED_RESET_ON_FORK;
    break;
  }
  closedir(dir);
  return policy;
}

bool IsRealtime(int policy) { return policy == SCHED_FIFO || policy == SCHED_RR; }

bool RealtimeAvailable() {
  bool rt = false;
  std::thread t([&] {
    OsMakeThreadTimeCritical(kTimingPriorityTool);
    rt = OsThreadIsRealtime();
  });
  t.join();
  return rt;
}

// A hotkey press and release on the keyboard; true once the hook saw the press.
bool TapHotkey(Kernel& k, const std::string& kbd) {
  const int before = g_HotkeyPresses.load();
  k.Emit(kbd, KeyFrame(KEY_F6, 1, true));
  k.Emit(kbd, KeyFrame(KEY_F6, 0, true));
  return toolstest::WaitFor([&] { return g_HotkeyPresses.load() > before; }, 30);
}

// Runs `duration` of a flood, checking all along that what floods keeps
// arriving (`count` grows) and that hotkeys keep working; returns how many
// rounds of both were made.
int CheckDuringFlood(Kernel& k, const std::string& kbd, const std::atomic<uint64_t>& count,
                     std::chrono::milliseconds duration, const char* what) {
  int rounds = 0;
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    const uint64_t mark = count.load();
    EXPECT_TRUE(toolstest::WaitFor([&] { return count.load() > mark; }, 30)) << what << ": the desktop stopped receiving";
    EXPECT_TRUE(TapHotkey(k, kbd)) << what << ": a hotkey went unseen during the flood";
    ++rounds;
  }
  return rounds;
}

class RealtimeFlood : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    g_HotkeyPresses.store(0);
    realtime_ = RealtimeAvailable();
    if (!realtime_)
      std::printf("note: no real-time scheduling here; checked: survival, delivery and hotkeys, not the budget\n");
    SetInputCalloutsForTest(&kCounting);
    Observe(h.k(), counts);
    // Room for a deep backlog, so the capture never finds its reader empty.
    h.k().SetClientBufferSize(1 << 18);
    DeviceDesc keyboard = BasicKeyboard();
    keyboard.phys = "usb-sim-kbd/input0";
    DeviceDesc mouse = BasicMouse();
    mouse.phys = "usb-sim-mouse/input0";
    kbd = h.Add(keyboard);
    mouseNode = h.Add(mouse);
    ASSERT_TRUE(OsStartInputTap());
    ASSERT_TRUE(h.WaitGrabbed(kbd));
    ASSERT_TRUE(h.WaitGrabbed(mouseNode));
    ASSERT_TRUE(TapHotkey(h.k(), kbd));
  }
  void TearDown() override { h.k().SetDesktopObserver(nullptr); }

  InputHarness h;
  DesktopCounts counts;
  std::string kbd, mouseNode;
  bool realtime_ = false;
};

TEST_F(RealtimeFlood, CaptureOutlivesADeviceFloodKeepsForwardingAndHotkeysAndIsRealtimeAgainAfter) {
  if (realtime_) {
    ASSERT_TRUE(IsRealtime(PolicyOf("PMR input tap"))) << "the capture thread runs real-time";
  }
  const uint64_t demotionsBefore = OsRealtimeBudgetDemotions();

  std::vector<input_event> chunk;
  for (int i = 0; i < 16384; ++i) {
    chunk.push_back(Ev(EV_REL, REL_X, (i % 2) ? 1 : -1));
    chunk.push_back(Ev(EV_REL, REL_Y, (i % 2) ? -1 : 1));
    chunk.push_back(Ev(EV_SYN, SYN_REPORT, 0));
  }
  std::atomic<bool> stop{false};
  {
    pmrtest::ScopedThread flood(
        [&] {
          // A deep backlog, topped up now and then: the capture always finds
          // events waiting and seldom meets the emitter in the simulation.
          while (!stop.load()) {
            if (h.k().Unread(mouseNode) < 65536)
              h.k().Emit(mouseNode, chunk);
            else
              std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        },
        [&] { stop.store(true); });
    if (realtime_) {
      EXPECT_TRUE(toolstest::WaitFor([&] { return OsRealtimeBudgetDemotions() > demotionsBefore; }, 60))
          << "the flood never kept the capture busy for its budget";
    }
    const int rounds = CheckDuringFlood(h.k(), kbd, counts.twinMotion, std::chrono::seconds(4), "capture flood");
    EXPECT_GE(rounds, 1);
  }
  const uint64_t forwarded = counts.twinMotion.load();
  EXPECT_GT(forwarded, 100000u) << "the flood reached the desktop through the twin";
  if (realtime_) {
    EXPECT_TRUE(toolstest::WaitFor([] { return IsRealtime(PolicyOf("PMR input tap")); }, 60))
        << "the capture is real-time again after the flood";
  }
  EXPECT_TRUE(TapHotkey(h.k(), kbd));
  EXPECT_EQ(counts.hotkeyLeaks.load(), 0) << "a swallowed hotkey reached the desktop";
  EXPECT_FALSE(g_GrabBroken.load()) << "the watchdog had to release the devices";
  EXPECT_TRUE(h.k().Node(kbd)->grabbed);
  EXPECT_TRUE(h.k().Node(mouseNode)->grabbed);
}

TEST_F(RealtimeFlood, PlaybackOfDenseMovementAtSpeedTenOutlivesItKeepsHotkeysAndIsRealtimeAgainAfter) {
  // An 8000 Hz mouse recorded for 30 s, played at speed 10: a move every
  // 12.5 us for 3 s, closer than the thread can sleep between.
  std::vector<UnifiedEvent> dense;
  dense.reserve(240000);
  for (int i = 0; i < 240000; ++i)
    dense.push_back(UnifiedEvent{kEventMove, i / 8000.0, (i % 2) ? 1 : -1, (i % 2) ? -1 : 1, 0, 0, false, 0});
  const std::vector<UnifiedEvent> sparse = {UnifiedEvent{kEventKey, 0, 0, 0, 0, 65, true, 0},
                                            UnifiedEvent{kEventKey, 600.0, 0, 0, 0, 65, false, 0}};
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles[0].events = dense;
  }
  StoreSetting(fPlaybackSpeed, 10.0f);
  StoreSetting(bUseRelativeMouse, true);
  StoreSetting(bLoopSequence, false);
  const uint64_t demotionsBefore = OsRealtimeBudgetDemotions();

  g_AppRunning.store(true);
  pmrtest::ScopedThread worker(
      [] {
        pthread_setname_np(pthread_self(), "PMR playback");
        PlaybackThread();
      },
      [] {
        g_AppRunning.store(false);
        g_PlaybackWake.Wake();
      });
  triggerPlay.store(true);
  ProcessSignals();
  ASSERT_TRUE(isPlaying.load());
  if (realtime_) {
    EXPECT_TRUE(toolstest::WaitFor([&] { return OsRealtimeBudgetDemotions() > demotionsBefore; }, 60))
        << "dense playback never kept its thread busy for its budget";
  }
  // Until the end of the pass (or far beyond it, when something hangs).
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int rounds = 0;
  while (isPlaying.load() && std::chrono::steady_clock::now() < giveUp) {
    const uint64_t mark = counts.injectMotion.load();
    EXPECT_TRUE(toolstest::WaitFor([&] { return counts.injectMotion.load() > mark || !isPlaying.load(); }, 30))
        << "the desktop stopped receiving the played movement";
    EXPECT_TRUE(TapHotkey(h.k(), kbd)) << "a hotkey went unseen during playback";
    ++rounds;
  }
  ASSERT_FALSE(isPlaying.load()) << "the pass never ended";
  EXPECT_GE(rounds, 1);
  // Every move reached the desktop (two axes each).
  EXPECT_TRUE(toolstest::WaitFor([&] { return counts.injectMotion.load() >= 480000u; }, 30))
      << counts.injectMotion.load() << " motion events of 480000";

  // The next playback runs real-time again.
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles[0].events = sparse;
  }
  triggerPlay.store(true);
  ProcessSignals();
  ASSERT_TRUE(isPlaying.load());
  if (realtime_) {
    EXPECT_TRUE(toolstest::WaitFor([] { return IsRealtime(PolicyOf("PMR playback")); }, 60))
        << "playback is real-time again after the dense pass";
  }
  triggerPlay.store(true);
  ProcessSignals();
  EXPECT_FALSE(isPlaying.load());
  EXPECT_TRUE(TapHotkey(h.k(), kbd));
  EXPECT_EQ(counts.hotkeyLeaks.load(), 0);
}

}  // namespace
