// Recording control: starting replaces the current profile's events, stopping
// normalises the times, the tools' own clicks and keys are recorded by the
// rules of their switches, and events never land outside a profile.
#include <gtest/gtest.h>

#include <climits>

#include "tools/signals.h"
#include "tools/tool_timing.h"
#include "tools_test_util.h"

namespace {

using toolstest::Events;

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override { toolstest::ResetAll(); }
  void TearDown() override { toolstest::ResetAll(); }
};

UnifiedEvent KeyAt(double time, int vk, bool down) {
  UnifiedEvent e;
  e.type = 3;
  e.time = time;
  e.vk = vk;
  e.keyDown = down;
  return e;
}

TEST_F(RecorderTest, StartingDiscardsTheCurrentProfilesEventsAtOnce) {
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles.push_back(MacroProfile{"other", "", {KeyAt(1, 65, true)}});
    profiles[0].events = {KeyAt(0, 66, true), KeyAt(0.5, 66, false)};
  }
  toolstest::StartRecording();
  EXPECT_TRUE(isRecording.load());
  EXPECT_TRUE(Events().empty());
  std::lock_guard<std::mutex> lock(profileMutex);
  EXPECT_EQ(profiles[1].events.size(), 1u) << "other profiles keep their events";
}

TEST_F(RecorderTest, FinishingShiftsTimesSoTheEarliestIsZeroAndKeepsOrder) {
  struct Case {
    std::vector<double> in;
    std::vector<double> out;
  } cases[] = {
      {{2.5, 3.0, 4.25}, {0.0, 0.5, 1.75}},
      {{3.0, 2.0, 5.0}, {1.0, 0.0, 3.0}},  // not sorted: arrival order stays
      {{0.0, 1.0}, {0.0, 1.0}},
      {{7.0}, {0.0}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      profiles[0].events.clear();
      for (size_t i = 0; i < c.in.size(); ++i) profiles[0].events.push_back(KeyAt(c.in[i], 65 + static_cast<int>(i), true));
    }
    FinishRecording();
    auto ev = Events();
    ASSERT_EQ(ev.size(), c.out.size());
    for (size_t i = 0; i < ev.size(); ++i) {
      EXPECT_DOUBLE_EQ(ev[i].time, c.out[i]);
      EXPECT_EQ(ev[i].vk, 65 + static_cast<int>(i));
    }
  }
}

TEST_F(RecorderTest, FirstEventAfterTwoAndAHalfSecondsStartsAtZeroAfterStopping) {
  toolstest::StartRecording();
  g_RecordStart.store(MonotonicNs() - 2500000000LL);  // the recording began 2.5 s ago
  RecordToolKey(65, true);
  RecordToolKey(65, false);
  auto raw = Events();
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_GE(raw[0].time, 2.5);
  isRecording.store(false);
  FinishRecording();
  auto ev = Events();
  EXPECT_EQ(ev[0].time, 0.0);
  EXPECT_DOUBLE_EQ(ev[1].time, raw[1].time - raw[0].time);
}

TEST_F(RecorderTest, RecordHotkeyTogglesThroughTheSignalProcessorAndNormalises) {
  triggerRecord.store(true);
  ProcessSignals();
  ASSERT_TRUE(isRecording.load());
  g_RecordStart.store(MonotonicNs() - 1000000000LL);
  RecordToolClick(2, 10, 20);
  RecordToolClick(4, 10, 20);
  triggerRecord.store(true);
  ProcessSignals();
  EXPECT_FALSE(isRecording.load());
  auto ev = Events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].time, 0.0);
  EXPECT_EQ(ev[0].type, 2);
  EXPECT_EQ(ev[0].flags, 2u);
  EXPECT_EQ(ev[0].x, 10);
  EXPECT_EQ(ev[0].y, 20);
  // Nothing is appended once the recording stopped.
  RecordToolClick(2, 1, 1);
  RecordToolKey(65, true);
  EXPECT_EQ(Events().size(), 2u);
}

TEST_F(RecorderTest, ToolOutputIsRecordedOnlyByItsRules) {
  struct Case {
    const char* what;
    bool clicksOn, keysOn, isKey;
    uint64_t flags;
    int vk;
    size_t expect;
  } cases[] = {
      {"click", true, true, false, 2, 0, 1},
      {"click with flags 0", true, true, false, 0, 0, 0},
      {"click with click recording off", false, true, false, 4, 0, 0},
      {"key", true, true, true, 0, 65, 1},
      {"key 0", true, true, true, 0, 0, 0},
      {"negative key", true, true, true, 0, -3, 0},
      {"key with keyboard recording off", true, false, true, 0, 65, 0},
  };
  for (const auto& c : cases) {
    toolstest::StartRecording();
    bRecordMouseClicks = c.clicksOn;
    bRecordKeyboard = c.keysOn;
    if (c.isKey)
      RecordToolKey(c.vk, true);
    else
      RecordToolClick(c.flags, 5, 6);
    EXPECT_EQ(Events().size(), c.expect) << c.what;
  }
}

TEST_F(RecorderTest, EventsWithoutAValidCurrentProfileAreDropped) {
  toolstest::StartRecording();
  for (int idx : {-1, 1, INT_MAX}) {
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      currentProfileIdx = idx;
    }
    RecordEvent(KeyAt(0, 65, true));
    RecordToolKey(65, true);
    FinishRecording();
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      BeginRecordingLocked();
    }
  }
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    currentProfileIdx = 0;
    EXPECT_TRUE(profiles[0].events.empty());
    profiles.clear();
  }
  RecordEvent(KeyAt(0, 65, true));
  FinishRecording();
  std::lock_guard<std::mutex> lock(profileMutex);
  EXPECT_TRUE(profiles.empty());
}

}  // namespace
