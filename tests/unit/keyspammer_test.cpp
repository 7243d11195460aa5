// The key spammer: sequential and chord cycles, the rotation that survives a
// stop, count limits, the target list operations and the chord-mode switch.
// The keys are observed through a running recording, where every key the tool
// presses and releases is written as a key event.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tools/keyspammer.h"
#include "tools/signals.h"
#include "tools_test_util.h"

namespace {

using toolstest::Events;
using toolstest::WaitFor;

constexpr int X = 65, Y = 66, Z = 67;

class KeySpammerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    toolstest::StartRecording();
  }
  void TearDown() override { toolstest::ResetAll(); }

  static void SetTargets(std::initializer_list<int> vks) {
    int i = 0;
    for (auto& t : keySpamTargets) t.store(0);
    for (int vk : vks) keySpamTargets[i++].store(vk);
    keySpamTargetCount.store(i);
    vkKeySpamTarget.store(keySpamTargets[0].load());
  }
  static std::vector<int> Targets() {
    std::vector<int> out;
    for (int i = 0; i < keySpamTargetCount.load(); ++i) out.push_back(keySpamTargets[i].load());
    return out;
  }
  static void Start() {
    triggerKeySpamStart.store(true);
    ProcessSignals();
  }
  static void Stop() {
    triggerKeySpamStop.store(true);
    ProcessSignals();
  }
  // Stopped, and the thread has gone idle so the next start is a fresh run.
  static bool Stopped() { return !isKeySpamming.load() && currentKeySpamCount.load() == 0; }
};

// Key events as signed codes: +vk press, -vk release.
std::vector<int> Keys(const std::vector<UnifiedEvent>& events) {
  std::vector<int> out;
  for (const auto& e : events) {
    EXPECT_EQ(e.type, 3);
    out.push_back(e.keyDown ? e.vk : -e.vk);
  }
  return out;
}

TEST_F(KeySpammerTest, CyclesInSequenceAndAsChordUpToTheRepeatCount) {
  struct Case {
    std::vector<int> targets;
    bool chord;
    int repeats;
    std::vector<int> expect;
  } cases[] = {
      {{X, Y, Z}, false, 10, {X, -X, Y, -Y, Z, -Z, X, -X, Y, -Y, Z, -Z, X, -X, Y, -Y, Z, -Z, X, -X}},
      {{X, Y}, true, 2, {X, Y, -X, -Y, X, Y, -X, -Y}},
      {{X, Y, Z}, true, 1, {X, Y, Z, -X, -Y, -Z}},
      {{X}, false, 3, {X, -X, X, -X, X, -X}},
      {{X, X}, false, 3, {X, -X, X, -X, X, -X}},  // duplicates are allowed
      {{X, Y}, false, 0, {}},
      {{X, Y}, true, -1, {}},
  };
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  for (const auto& c : cases) {
    ResetKeySpammerForTest();
    toolstest::StartRecording();
    SetTargets({});
    for (size_t i = 0; i < c.targets.size(); ++i) keySpamTargets[i].store(c.targets[i]);
    keySpamTargetCount.store(static_cast<int>(c.targets.size()));
    keySpamChordMode.store(c.chord);
    keySpamRepeatMode = 0;
    keySpamRepeatTimes = c.repeats;
    keySpamIntervalMs = 0;  // 1 ms
    Start();
    ASSERT_TRUE(WaitFor(Stopped)) << c.repeats;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Keys(Events()), c.expect) << "chord " << c.chord << " repeats " << c.repeats;
  }
}

TEST_F(KeySpammerTest, RotationContinuesAfterAStop) {
  SetTargets({X, Y, Z});
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 1;
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  std::vector<int> pressed;
  for (int run = 0; run < 4; ++run) {
    toolstest::StartRecording();
    Start();
    ASSERT_TRUE(WaitFor(Stopped));
    auto keys = Keys(Events());
    ASSERT_EQ(keys.size(), 2u);
    pressed.push_back(keys[0]);
  }
  EXPECT_EQ(pressed, (std::vector<int>{X, Y, Z, X}));

  // The same through a stop request in the middle of an endless run.
  keySpamRepeatMode = 1;
  keySpamIntervalSecs = 3600;  // one cycle, then a long wait
  ResetKeySpammerForTest();
  toolstest::StartRecording();
  Start();
  ASSERT_TRUE(WaitFor([] { return Events().size() == 2; }));
  Stop();
  ASSERT_TRUE(WaitFor(Stopped));
  Start();
  ASSERT_TRUE(WaitFor([] { return Events().size() == 4; }));
  Stop();
  EXPECT_EQ(Keys(Events()), (std::vector<int>{X, -X, Y, -Y}));
}

TEST_F(KeySpammerTest, ShrinkingListRestartsTheRotationWithinIt) {
  SetTargets({X, Y, Z});
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 2;
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  Start();
  ASSERT_TRUE(WaitFor(Stopped));  // X, Y: next is Z (index 2)
  RemoveKeySpamTargetAt(2);
  toolstest::StartRecording();
  keySpamRepeatTimes = 1;
  Start();
  ASSERT_TRUE(WaitFor(Stopped));
  EXPECT_EQ(Keys(Events()), (std::vector<int>{X, -X})) << "an index past the list starts over";
}

TEST_F(KeySpammerTest, EmptyListNeverRunsAndTheThreadStopsARunWithoutTargets) {
  SetTargets({});
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  Start();
  EXPECT_FALSE(isKeySpamming.load());
  // A run whose list empties behind the signal processor's back.
  isKeySpamming.store(true);
  WakeKeySpamThread();
  ASSERT_TRUE(WaitFor(Stopped));
  EXPECT_TRUE(Events().empty());
}

TEST_F(KeySpammerTest, RemovingTargets) {
  struct Case {
    std::vector<int> before;
    int index;
    std::vector<int> after;
    int firstCopy;  // vkKeySpamTarget afterwards
  } cases[] = {
      {{X, Y, Z}, 1, {X, Z}, X},
      {{X, Y, Z}, 0, {Y, Z}, Y},
      {{X, Y, Z}, 2, {X, Y}, X},
      {{X, Y, Z}, 3, {X, Y, Z}, X},
      {{X, Y, Z}, -1, {X, Y, Z}, X},
      {{X, Y, Z}, INT_MIN, {X, Y, Z}, X},
      {{X}, 0, {}, X},  // the copy keeps the removed key
      {{}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    toolstest::ResetAll();
    SetTargets({});
    for (size_t i = 0; i < c.before.size(); ++i) keySpamTargets[i].store(c.before[i]);
    keySpamTargetCount.store(static_cast<int>(c.before.size()));
    if (!c.before.empty()) vkKeySpamTarget.store(c.before[0]);
    RemoveKeySpamTargetAt(c.index);
    EXPECT_EQ(Targets(), c.after) << c.index;
    EXPECT_EQ(vkKeySpamTarget.load(), c.firstCopy) << c.index;
    EXPECT_FALSE(triggerKeySpamStop.load()) << "nothing runs, nothing to stop";
  }
}

TEST_F(KeySpammerTest, RemovingTheOnlyTargetWhileRunningStopsTheSpammer) {
  SetTargets({X});
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  keySpamIntervalMs = 2;
  Start();
  ASSERT_TRUE(WaitFor([] { return Events().size() >= 4; }));
  RemoveKeySpamTargetAt(0);
  EXPECT_TRUE(triggerKeySpamStop.load());
  EXPECT_TRUE(g_SignalWake.flag.load());
  ProcessSignals();
  ASSERT_TRUE(WaitFor(Stopped));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto keys = Keys(Events());
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.back(), -X) << "every press was released";
  EXPECT_EQ(keys.size() % 2, 0u);
}

TEST_F(KeySpammerTest, RemoveTargetBridgeTextMustBeANumber) {
  struct Case {
    std::string text;
    std::vector<int> after;
  } cases[] = {
      {"1", {X, Z}},  {"0", {Y, Z}},   {"abc", {X, Y, Z}},         {"", {X, Y, Z}},
      {"-1", {X, Y, Z}}, {"7", {X, Y, Z}}, {"99999999999", {X, Y, Z}}, {"4294967297", {X, Y, Z}},
  };
  for (const auto& c : cases) {
    SetTargets({X, Y, Z});
    RemoveKeySpamTarget(c.text);
    EXPECT_EQ(Targets(), c.after) << '"' << c.text << '"';
  }
}

TEST_F(KeySpammerTest, ChordModeIsOnOnlyForTheTextOne) {
  struct Case {
    std::string text;
    bool on;
  } cases[] = {{"1", true}, {"true", false}, {"0", false}, {"", false}, {"11", false}, {"1.0", false}, {"yes", false}};
  for (const auto& c : cases) {
    keySpamChordMode.store(!c.on);
    SetKeySpamChordMode(c.text);
    EXPECT_EQ(keySpamChordMode.load(), c.on) << '"' << c.text << '"';
  }
}

TEST_F(KeySpammerTest, KeysAreNotRecordedWhenKeyboardRecordingIsOffOrTheCodeIsNotAKey) {
  bRecordKeyboard = false;
  SetTargets({X});
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 2;
  toolstest::WorkerThread worker(KeySpammerThread, g_KeySpamWake, currentKeySpamCount);
  Start();
  ASSERT_TRUE(WaitFor(Stopped));
  EXPECT_TRUE(Events().empty());

  bRecordKeyboard = true;
  SetTargets({0, -5});  // from a damaged session file
  Start();
  ASSERT_TRUE(WaitFor(Stopped));
  EXPECT_TRUE(Events().empty());
}

}  // namespace
