// Jitter and the click sequence as the desktop receives them: the clicker's
// and the key spammer's writes on the simulated injection devices, through the
// real injection code.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <set>
#include <string>

#include "base/strings.h"

#include "platform/os_input.h"
#include "tests/sim/input_harness.h"
#include "tools/autoclicker.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "app/status_json.h"
#include "tools/signals.h"
#include "tools/tool_rate.h"
#include "tools_test_util.h"

namespace {

using toolstest::WaitFor;

// The simulated layout is one 1920 x 1080 screen at the origin; the pointer
// device writes the centre of a pixel as ((2 * x + 1) * 65536) / (2 * size).
int AbsOf(int px, int size) { return static_cast<int>((static_cast<int64_t>(2 * px + 1) * 65536) / (2 * size)); }
int PixelOf(int abs, int size) {
  int px = static_cast<int>((static_cast<int64_t>(abs) * size) / 65536);
  while (AbsOf(px, size) < abs) ++px;
  while (px > 0 && AbsOf(px, size) > abs) --px;
  return px;
}

// One click as the desktop saw it: the button, where the pointer was, when
// the press and the release arrived.
struct SeenClick {
  int code;
  int x, y;
  int64_t pressNs, releaseNs;
};

class ClickerExtrasInjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    ASSERT_TRUE(EnsureInjectDevice());
  }
  void TearDown() override { toolstest::ResetAll(); }

  static void Trigger(std::atomic<bool>& t) {
    t.store(true);
    ProcessSignals();
  }
  static bool Idle() { return !isAutoClicking.load() && currentClickCount.load() == 0; }

  // Clicks after `since`, with the pointer position last written before each.
  std::vector<SeenClick> Clicks(int64_t since) {
    std::vector<SeenClick> out;
    int absX = 0, absY = 0;
    for (const auto& s : h.k().Desktop()) {
      if (s.ns < since) continue;
      if (s.phys == "pmr-pointer" && s.ev.type == EV_ABS) (s.ev.code == ABS_X ? absX : absY) = s.ev.value;
      if (s.phys != "pmr-inject" || s.ev.type != EV_KEY) continue;
      if (s.ev.value == 1) out.push_back({s.ev.code, PixelOf(absX, 1920), PixelOf(absY, 1080), s.ns, 0});
      else if (s.ev.value == 0 && !out.empty()) out.back().releaseNs = s.ns;
    }
    return out;
  }
  std::vector<int> Held() {
    std::vector<int> held;
    if (auto n = h.k().NodeByPhys("pmr-inject"))
      for (int c = 0; c < KEY_CNT; ++c)
        if (n->keyState.test(static_cast<size_t>(c))) held.push_back(c);
    return held;
  }

  pmrsim::InputHarness h;
};

TEST_F(ClickerExtrasInjectTest, IntervalAndPositionJitterStayWithinTheirRanges) {
  // 20 ms ± 8 ms: no pause shorter than 12 ms (a wait never ends early), and
  // the pauses really vary. (How late a loaded machine wakes bounds the
  // longest pause, not the code; the bench measures that side.)
  autoClickIntervalMs = 20;
  autoClickJitterMs = 8;
  autoClickJitterRadius = 15;
  autoClickLocationMode.store(1);
  autoClickFixedX.store(500);
  autoClickFixedY.store(400);
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 40;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  const int64_t t0 = MonotonicNs();
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor(Idle));

  const std::vector<SeenClick> c = Clicks(t0);
  ASSERT_EQ(c.size(), 40u);
  double shortest = 1e9, longest = 0;
  std::set<std::pair<int, int>> spots;
  for (size_t i = 0; i < c.size(); ++i) {
    const int dx = c[i].x - 500, dy = c[i].y - 400;
    EXPECT_LE(dx * dx + dy * dy, 15 * 15) << "click " << i << " at " << c[i].x << "," << c[i].y;
    spots.insert({c[i].x, c[i].y});
    if (i + 1 < c.size()) {
      const double pause = static_cast<double>(c[i + 1].pressNs - c[i].releaseNs) / 1e6;
      shortest = std::min(shortest, pause);
      longest = std::max(longest, pause);
    }
  }
  EXPECT_GE(shortest, 12.0);
  EXPECT_GT(longest - shortest, 4.0) << "the pauses do not vary";
  EXPECT_GT(spots.size(), 10u) << "the positions do not vary";
  EXPECT_TRUE(Held().empty());
}

TEST_F(ClickerExtrasInjectTest, KeySpammerPausesCarryTheirJitter) {
  keySpamTargets[0].store(65);
  keySpamTargetCount.store(1);
  keySpamIntervalMs = 15;
  keySpamJitterMs = 10;
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 30;
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  const int64_t t0 = MonotonicNs();
  Trigger(triggerKeySpamStart);
  ASSERT_TRUE(WaitFor([] { return !isKeySpamming.load() && currentKeySpamCount.load() == 0; }));
  const std::vector<SeenClick> c = Clicks(t0);
  ASSERT_EQ(c.size(), 30u);
  double shortest = 1e9, longest = 0;
  for (size_t i = 0; i + 1 < c.size(); ++i) {
    const double pause = static_cast<double>(c[i + 1].pressNs - c[i].releaseNs) / 1e6;
    shortest = std::min(shortest, pause);
    longest = std::max(longest, pause);
  }
  EXPECT_GE(shortest, 5.0);
  EXPECT_GT(longest - shortest, 4.0);
  EXPECT_TRUE(Held().empty());
}

TEST_F(ClickerExtrasInjectTest, ASequenceClicksItsPointsWithTheirButtonsAndPauses) {
  SetClickSequence({{100, 100, 0, 1, 5}, {300, 200, 1, 2, 60}, {50, 60, 2, 1, 5}});
  autoClickLocationMode.store(kLocationSequence);
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 2;  // passes through the list
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  const uint32_t runsBefore = lastClickRun.runs.load();
  const int64_t t0 = MonotonicNs();
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor([&] { return Idle() && lastClickRun.runs.load() > runsBefore; }));

  const std::vector<SeenClick> c = Clicks(t0);
  struct Want {
    int code, x, y;
  } want[] = {{BTN_LEFT, 100, 100}, {BTN_RIGHT, 300, 200}, {BTN_RIGHT, 300, 200}, {BTN_MIDDLE, 50, 60}};
  ASSERT_EQ(c.size(), 8u);
  for (size_t i = 0; i < c.size(); ++i) {
    const Want& w = want[i % 4];
    EXPECT_EQ(c[i].code, w.code) << i;
    EXPECT_EQ(c[i].x, w.x) << i;
    EXPECT_EQ(c[i].y, w.y) << i;
  }
  for (size_t pass : {0u, 4u}) {
    // The double click's second press follows 15 ms after the first release,
    // and the point's 60 ms pause comes after the double click.
    EXPECT_GE(c[pass + 2].pressNs - c[pass + 1].releaseNs, 15000000);
    EXPECT_GE(c[pass + 3].pressNs - c[pass + 2].releaseNs, 60000000);
  }
  EXPECT_EQ(lastClickRun.count.load(), 6) << "one count per point";
  EXPECT_TRUE(Held().empty());

  // An empty list ends a run at once, with no click.
  SetClickSequence({});
  const int64_t t1 = MonotonicNs();
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor(Idle));
  EXPECT_TRUE(Clicks(t1).empty());
}

TEST_F(ClickerExtrasInjectTest, AStopDuringASequenceLeavesNothingPressed) {
  SetClickSequence({{10, 10, 0, 2, 3600000}});
  autoClickLocationMode.store(kLocationSequence);
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  const uint32_t runsBefore = lastClickRun.runs.load();
  const int64_t t0 = MonotonicNs();
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor([&] { return !Clicks(t0).empty(); }));
  Trigger(triggerAutoClickStop);
  // The run has ended once its count was settled (after the click in progress).
  ASSERT_TRUE(WaitFor([&] { return lastClickRun.runs.load() > runsBefore; }));
  ASSERT_TRUE(WaitFor([&] { return Held().empty(); }));
  const std::vector<SeenClick> c = Clicks(t0);
  EXPECT_EQ(c.size(), 2u) << "the double click completes, the hour's pause is cut short";
}

// A number member of a JSON text (enough for the flat texts here).
double JsonNumber(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return -1;
  return std::stod(json.substr(at + key.size() + 3));
}

TEST_F(ClickerExtrasInjectTest, TheStatusShowsTheRateTheClicksReallyReach) {
  autoClickIntervalMs = 20;
  autoClickJitterMs = 0;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  const int64_t t0 = MonotonicNs();
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor([&] { return Clicks(t0).size() >= 12; }));
  const double rate = JsonNumber(BuildStatusJson("[]"), "clickRate");
  Trigger(triggerAutoClickStop);
  ASSERT_TRUE(WaitFor([] { return lastClickRun.runs.load() > 0; }));
  // A pause of 20 ms after each click: never faster than 50 a second, and
  // at the very least a few a second even on a loaded machine.
  EXPECT_GT(rate, 2.0);
  EXPECT_LE(rate, 50.0);
  // Measured, not the setting: the clicks the desktop saw give the same pace.
  const std::vector<SeenClick> c = Clicks(t0);
  const double seen = static_cast<double>(c.size() - 1) * 1e9 / static_cast<double>(c.back().pressNs - c.front().pressNs);
  EXPECT_LE(seen, 50.5);
  EXPECT_EQ(JsonNumber(BuildStatusJson("[]"), "clickRate"), 0.0) << "no rate while stopped";
}

TEST_F(ClickerExtrasInjectTest, TimingTestRunsTheWaitWithoutClicking) {
  autoClickIntervalMs = 50;
  toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
  const int64_t t0 = MonotonicNs();
  EXPECT_NE(TimingTestJson().find("\"state\":\"idle\""), std::string::npos);
  RequestTimingTest();
  ASSERT_TRUE(WaitFor([] { return TimingTestJson().find("\"state\":\"done\"") != std::string::npos; }));
  const std::string j = TimingTestJson();
  EXPECT_TRUE(Clicks(t0).empty()) << "the test sends no click";
  EXPECT_EQ(JsonNumber(j, "intervalMs"), 50.0);
  EXPECT_EQ(JsonNumber(j, "seq"), 1.0);
  const double samples = JsonNumber(j, "samples");
  EXPECT_GE(samples, 1.0);
  EXPECT_LE(samples, 61.0) << "3 s of 50 ms pauses";
  EXPECT_GT(JsonNumber(j, "perSecond"), 0.0);
  EXPECT_LE(JsonNumber(j, "perSecond"), 20.5);
  const double p50 = JsonNumber(j, "p50Us"), p99 = JsonNumber(j, "p99Us"), max = JsonNumber(j, "maxUs");
  EXPECT_LE(0.0, p50);
  EXPECT_LE(p50, p99);
  EXPECT_LE(p99, max);
  // The histogram counts every sample once, in buckets with the edges given.
  const size_t h = j.find("\"histogram\":[");
  ASSERT_NE(h, std::string::npos);
  std::vector<std::string> counts = SplitString(j.substr(h + 13, j.find(']', h) - h - 13), ',');
  ASSERT_EQ(counts.size(), static_cast<size_t>(kTimingBuckets));
  double sum = 0;
  for (const std::string& n : counts) sum += std::stod(n);
  EXPECT_EQ(sum, samples);
  EXPECT_NE(j.find("\"edgesUs\":[10,20,50,100,200,500,1000,2000]"), std::string::npos) << j;

  // Starting the clicker ends a test at once, marked as interrupted.
  autoClickIntervalMs = 1000;
  RequestTimingTest();
  ASSERT_TRUE(WaitFor([] { return TimingTestJson().find("\"state\":\"running\"") != std::string::npos; }));
  Trigger(triggerAutoClickStart);
  ASSERT_TRUE(WaitFor([] { return TimingTestJson().find("\"state\":\"interrupted\"") != std::string::npos; }));
  ASSERT_TRUE(WaitFor([&] { return !Clicks(t0).empty(); })) << "the clicker runs";
  Trigger(triggerAutoClickStop);
}

}  // namespace
