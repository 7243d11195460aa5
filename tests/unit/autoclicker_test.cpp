// The auto clicker: interval arithmetic, count limits, button and click-type
// rules, the double-click gap, stopping, and the saturation of huge intervals.
// The clicks are observed through a running recording, where every click the
// tool makes is written as a press and a release event.
#include <gtest/gtest.h>

#include <climits>

#include "tools/autoclicker.h"
#include "tools/signals.h"
#include "tools/tool_timing.h"
#include "tools_test_util.h"

namespace {

using toolstest::Events;
using toolstest::WaitFor;

class AutoClickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    toolstest::StartRecording();
  }
  void TearDown() override { toolstest::ResetAll(); }

  // Starts the clicker the way the page's Start button does.
  static void Start() {
    triggerAutoClickStart.store(true);
    ProcessSignals();
  }
  static void Stop() {
    triggerAutoClickStop.store(true);
    ProcessSignals();
  }
  // Stopped, and the thread has gone idle (it resets the count when it finds
  // the clicker stopped), so the next start begins a fresh run.
  static bool Stopped() { return !isAutoClicking.load() && currentClickCount.load() == 0; }
};

std::vector<uint64_t> Flags(const std::vector<UnifiedEvent>& events) {
  std::vector<uint64_t> out;
  for (const auto& e : events) out.push_back(e.flags);
  return out;
}

std::vector<uint64_t> Repeat(std::vector<uint64_t> unit, int times) {
  std::vector<uint64_t> out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

TEST(ToolInterval, SumOfPartsRoundedWithFloorAndCeiling) {
  struct Case {
    int h, m, s, ms;
    double expect;
  } cases[] = {
      {0, 0, 0, 100, 100},
      {0, 0, 1, 500, 1500},
      {0, 1, 0, 0, 60000},
      {1, 0, 0, 0, 3600000},
      {1, 2, 3, 4, 3723004},
      {0, 0, 0, 0, 1},            // all zero: one action per millisecond
      {0, 0, 0, 1, 1},
      {0, 0, 0, -5, 1},           // negative total (possible through the session file)
      {-1, 0, 0, 100, 1},
      {0, 0, 0, INT_MAX, 2147483647.0},
      {0, 0, INT_MAX, 0, 2147483647000.0 > kMaxToolIntervalMs ? kMaxToolIntervalMs : 2147483647000.0},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX, kMaxToolIntervalMs},
      {INT_MIN, INT_MIN, INT_MIN, INT_MIN, 1},
      {INT_MAX, INT_MIN, 0, 0, kMaxToolIntervalMs},  // the sum is done in double, no int overflow
      {0, 0, 1, -999, 1},
      {0, 0, 1, -998, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToolIntervalMs(c.h, c.m, c.s, c.ms), c.expect) << c.h << "h " << c.m << "m " << c.s << "s " << c.ms;
  }
}

TEST(ToolInterval, HugeIntervalStaysFarInsideTheNanosecondRange) {
  // The wait turns the interval into a nanosecond deadline on the monotonic
  // clock; the cap keeps that far below the 64-bit limit.
  const double ms = ToolIntervalMs(INT_MAX, INT_MAX, INT_MAX, INT_MAX);
  EXPECT_LT(ms * 1e6 + 1e18 /* generous uptime */, 9.2e18);
  EXPECT_GT(ms, 365.0 * 24 * 3600 * 1000 * 10) << "still means effectively never (over ten years)";
}

TEST_F(AutoClickerTest, RepeatModeCountsExactlyThenStopsByItself) {
  struct Case {
    int repeatTimes;
    int clickType;
    int expectPairs;
  } cases[] = {
      {10, 0, 10},  // single clicks
      {3, 1, 6},    // double clicks count once
      {0, 0, 0},    // no click at all
      {-4, 0, 0},   // a negative count is reached at once
      {2, 7, 2},    // any click type but 1 is a single click
  };
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  for (const auto& c : cases) {
    toolstest::StartRecording();
    autoClickRepeatMode = 0;
    autoClickRepeatTimes = c.repeatTimes;
    autoClickClickType = c.clickType;
    autoClickIntervalMs = 0;  // one click per millisecond
    const uint32_t runsBefore = lastClickRun.runs.load();
    Start();
    ASSERT_TRUE(WaitFor(Stopped)) << c.repeatTimes;
    // The finished run keeps its final count after the live count went back to 0.
    if (c.repeatTimes > 0) {
      ASSERT_TRUE(WaitFor([&] { return lastClickRun.runs.load() == runsBefore + 1; })) << c.repeatTimes;
      EXPECT_EQ(lastClickRun.count.load(), c.repeatTimes);
    }
    // Give a clicker that would keep going the chance to show it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Flags(Events()), Repeat({2, 4}, c.expectPairs)) << c.repeatTimes << " type " << c.clickType;
    EXPECT_FALSE(isAutoClicking.load());
  }
}

TEST_F(AutoClickerTest, ButtonIndexChoosesFlagsAndOutOfRangeClicksNothingButCounts) {
  struct Case {
    int button;
    std::vector<uint64_t> unit;
  } cases[] = {
      {0, {2, 4}}, {1, {8, 16}}, {2, {32, 64}}, {3, {}}, {-1, {}}, {INT_MAX, {}},
  };
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  for (const auto& c : cases) {
    toolstest::StartRecording();
    autoClickerButtonIdx = c.button;
    autoClickRepeatMode = 0;
    autoClickRepeatTimes = 4;
    autoClickIntervalMs = 1;
    Start();
    // The run ends by itself after four counted steps even when nothing clicks.
    ASSERT_TRUE(WaitFor(Stopped)) << c.button;
    EXPECT_EQ(Flags(Events()), Repeat(c.unit, 4)) << c.button;
  }
}

TEST_F(AutoClickerTest, DoubleClickSecondPressFollowsTheFirstReleaseBy15ms) {
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  autoClickClickType = 1;
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 3;
  autoClickIntervalMs = 1;
  Start();
  ASSERT_TRUE(WaitFor(Stopped));
  auto ev = Events();
  ASSERT_EQ(ev.size(), 12u);
  for (size_t i = 0; i < ev.size(); i += 4) {
    // press, release, (15 ms), press, release
    EXPECT_GE(ev[i + 2].time - ev[i + 1].time, 0.015) << "double click " << i / 4;
  }
  for (size_t i = 4; i < ev.size(); i += 4) {
    // The interval follows the whole double click.
    EXPECT_GE(ev[i].time - ev[i - 1].time, 0.001);
  }
}

TEST_F(AutoClickerTest, PauseBetweenClicksIsAtLeastTheInterval) {
  struct Case {
    int s, ms;
    double seconds;
  } cases[] = {{0, 0, 0.001}, {0, 7, 0.007}, {0, -3, 0.001}};
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  for (const auto& c : cases) {
    toolstest::StartRecording();
    autoClickIntervalSecs = c.s;
    autoClickIntervalMs = c.ms;
    autoClickRepeatMode = 0;
    autoClickRepeatTimes = 5;
    Start();
    ASSERT_TRUE(WaitFor(Stopped));
    auto ev = Events();
    ASSERT_EQ(ev.size(), 10u);
    for (size_t i = 2; i < ev.size(); i += 2)
      EXPECT_GE(ev[i].time - ev[i - 1].time, c.seconds - 1e-6) << c.ms << " click " << i / 2;
  }
}

TEST_F(AutoClickerTest, StopEndsTheRunWithEveryClickComplete) {
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  autoClickIntervalMs = 1;
  autoClickRepeatMode = 1;  // until stopped
  for (int clickType : {0, 1}) {
    toolstest::StartRecording();
    autoClickClickType = clickType;
    Start();
    ASSERT_TRUE(WaitFor([] { return Events().size() >= 8; }));
    Stop();
    EXPECT_FALSE(isAutoClicking.load());
    // A click in progress is completed: the events settle on a release.
    size_t settled = 0;
    ASSERT_TRUE(WaitFor([&] {
      size_t n = Events().size();
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      settled = Events().size();
      return n == settled;
    }));
    auto ev = Events();
    ASSERT_EQ(ev.size() % 2, 0u) << clickType;
    EXPECT_EQ(ev.back().flags, 4u) << clickType;
    EXPECT_EQ(currentClickCount.load(), 0) << "the idle thread resets the count";
  }
}

TEST_F(AutoClickerTest, HugeIntervalMeansEffectivelyNeverNotOneClickPerMillisecond) {
  // 2^31-1 hours as a session file can hold it.
  autoClickIntervalHours = INT_MAX;
  autoClickIntervalMins = INT_MAX;
  autoClickIntervalSecs = INT_MAX;
  autoClickIntervalMs = INT_MAX;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  Start();
  ASSERT_TRUE(WaitFor([] { return Events().size() == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(Events().size(), 2u) << "one click, then the long wait";
  // A stop still ends the wait at once, and a new run clicks right away.
  Stop();
  Start();
  EXPECT_TRUE(WaitFor([] { return Events().size() == 4; }));
  Stop();
}

TEST_F(AutoClickerTest, ClicksAreNotRecordedWhenMouseClickRecordingIsOff) {
  bRecordMouseClicks = false;
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 3;
  autoClickIntervalMs = 1;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  Start();
  ASSERT_TRUE(WaitFor(Stopped));
  EXPECT_TRUE(Events().empty());
}

}  // namespace
