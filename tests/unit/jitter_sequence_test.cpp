// Jitter and the click sequence, apart from the devices: the documented
// distributions, the stored fields at the end of the settings lines (files of
// the previous version load unchanged), the page's lists and Esc during a
// position pick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/strings.h"
#include "state/session_file.h"
#include "model/settings_extras.h"
#include "state_test_util.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "tools/recorder.h"
#include "app/status_json.h"
#include "tools/tool_rate.h"

using namespace statetest;

namespace {

class JitterSequenceTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    ResetInputHooksForTest();
  }
  void TearDown() override {
    ResetToolStateForTest();
    ResetInputHooksForTest();
    StateTest::TearDown();
  }
};

// The fresh lines as the previous version wrote them (36 and 20 fields).
const std::string kOldSettings =
    "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121";
const std::string kOldProfileSettings = "0,0,0,100,0,0,1,10,0,0,0,0,0,0,100,1,10,32,32,0";
// Fields 36-42 of the settings line at their defaults: no turbo, plain
// hotkeys, the panic stop on both Shift keys.
constexpr const char* kHoldDefaults = ",0,0,0,0,0,0,1";

TEST(JitterMath, IntervalRangeIsSymmetricAndNeverBelowOneMillisecond) {
  struct Case {
    double interval;
    int jitter;
    double low, high;
  } cases[] = {
      {100, 10, 90, 110}, {100, 7, 93, 107}, {100, 0, 100, 100}, {100, -5, 100, 100},
      // The jitter shrinks so the range stays around the interval (mean kept).
      {5, 10, 1, 9}, {1, 10, 1, 1}, {1500, 500, 1000, 2000},
  };
  for (const Case& c : cases) {
    const JitterRange r = IntervalJitterRange(c.interval, c.jitter);
    EXPECT_DOUBLE_EQ(r.lowMs, c.low) << c.interval << "±" << c.jitter;
    EXPECT_DOUBLE_EQ(r.highMs, c.high) << c.interval << "±" << c.jitter;
    EXPECT_DOUBLE_EQ(JitteredIntervalMsAt(c.interval, c.jitter, 0.0), c.low);
    EXPECT_DOUBLE_EQ(JitteredIntervalMsAt(c.interval, c.jitter, 0.5), c.interval);
  }
}

TEST(JitterMath, DrawnPausesFillTheRangeWithTheSetMean) {
  SeedToolRandomForTest(42);
  const int n = 20000;
  double lo = 1e9, hi = 0, sum = 0;
  int buckets[10] = {};
  for (int i = 0; i < n; ++i) {
    const double p = JitteredIntervalMs(100, 10);
    lo = std::min(lo, p);
    hi = std::max(hi, p);
    sum += p;
    ++buckets[std::min(9, static_cast<int>((p - 90) / 2))];
  }
  EXPECT_GE(lo, 90.0);
  EXPECT_LE(hi, 110.0);
  EXPECT_LT(lo, 90.1);
  EXPECT_GT(hi, 109.9);
  EXPECT_NEAR(sum / n, 100.0, 0.2);
  // Uniform: each tenth of the range holds about a tenth of the draws.
  for (int b : buckets) EXPECT_NEAR(b, n / 10, n / 50);
  EXPECT_EQ(JitteredIntervalMs(100, 0), 100.0);
}

TEST(JitterMath, PositionsAreUniformOverTheDisc) {
  SeedToolRandomForTest(7);
  const int radius = 40, n = 20000;
  int inner = 0, right = 0;
  bool moved = false;
  for (int i = 0; i < n; ++i) {
    int x = 1000, y = -300;
    JitterPosition(radius, x, y);
    const double dx = x - 1000, dy = y + 300;
    ASSERT_LE(dx * dx + dy * dy, radius * radius) << dx << "," << dy;
    if (dx * dx + dy * dy <= (radius / 2.0) * (radius / 2.0)) ++inner;
    if (dx > 0) ++right;
    moved = moved || dx != 0 || dy != 0;
  }
  EXPECT_TRUE(moved);
  // Uniform by area: the inner half of the radius holds a quarter of the points
  // (uniform by distance would put half there); no side is favoured.
  EXPECT_NEAR(inner, n / 4, n / 50);
  EXPECT_NEAR(right, n / 2, n / 25);
  // The rim rounds inside the disc; no radius moves nothing; the sum saturates.
  for (double v : {0.0, 0.125, 0.25, 0.375, 0.5, 0.875}) {
    int dx = 0, dy = 0;
    DiscOffsetAt(3, 1.0, v, dx, dy);
    EXPECT_LE(dx * dx + dy * dy, 9) << v;
  }
  int x = 5, y = 6;
  JitterPosition(0, x, y);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 6);
  x = 2147483647;
  y = -2147483647 - 1;
  for (int i = 0; i < 100; ++i) JitterPosition(10, x, y);
  EXPECT_GE(x, 2147483647 - 100 * 10);
}

TEST(ClickSequenceText, PointsAreReadByTheDocumentedRules) {
  struct Case {
    const char* text;
    std::vector<ClickPoint> want;
  } cases[] = {
      {"", {}},
      {"10:20:0:1:100", {{10, 20, 0, 1, 100}}},
      {"10:20:1:2:5;-30:40:2:1:0", {{10, 20, 1, 2, 5}, {-30, 40, 2, 1, 0}}},
      // Clicks other than 2 are single; pauses are clamped; extra fields ignored.
      {"1:2:0:7:-5;3:4:0:2:999999999:extra", {{1, 2, 0, 1, 0}, {3, 4, 0, 2, kMaxSequencePauseMs}}},
      // Bad points are skipped one by one: a button out of range, a field
      // missing or not a number, empty points.
      {"1:1:3:1:10;2:2:0:1;x:3:0:1:10;;4:4:0:1:10;", {{4, 4, 0, 1, 10}}},
      {"5:5:0:1:10;99999999999:1:0:1:1", {{5, 5, 0, 1, 10}}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseClickSequence(c.text), c.want) << c.text;

  // At most kMaxSequencePoints, however long the text.
  std::string many;
  for (int i = 0; i < 500; ++i) many += std::to_string(i) + ":0:0:1:1;";
  many += std::string(1 << 20, ';');
  const std::vector<ClickPoint> got = ParseClickSequence(many);
  ASSERT_EQ(got.size(), kMaxSequencePoints);
  EXPECT_EQ(got.back().x, static_cast<int>(kMaxSequencePoints) - 1);
}

TEST_F(JitterSequenceTest, JitterAndSequenceRoundTripAtTheEndOfBothLines) {
  // The settings line's earlier fields, then turbo, the hotkeys' modifier
  // masks and the panic combination at their defaults.
  const std::string before = kOldSettings + std::string(kHoldDefaults);
  const std::string& beforeProfile = kOldProfileSettings;
  ApplyJitterUpdate("10,25,4");
  ApplyClickSequenceUpdate("100:200:0:1:50;-5:7:1:2:300");
  const std::string line = SerializeSettings();
  const std::string profileLine = SerializeProfileSettings();
  // Every earlier field stays where it was; the group follows them.
  EXPECT_EQ(line, before + ",10,25,4,100:200:0:1:50;-5:7:1:2:300");
  EXPECT_EQ(profileLine, beforeProfile + ",10,25,4,100:200:0:1:50;-5:7:1:2:300");

  ResetToolStateForTest();
  DeserializeSettings(line);
  EXPECT_EQ(SerializeSettings(), line);
  ResetToolStateForTest();
  DeserializeProfileSettings(profileLine);
  EXPECT_EQ(SerializeProfileSettings(), profileLine);
  EXPECT_EQ(ClickSequence().size(), 2u);

  // A profile line of the previous version carries no jitter: switching to it
  // leaves none of the other profile's behind. Unreadable or negative fields
  // are no jitter either; values beyond the limits are capped.
  ApplyJitterUpdate("10,25,4");
  DeserializeProfileSettings(kOldProfileSettings);
  EXPECT_EQ(SerializeProfileSettings(), kFreshProfileSettings);
  EXPECT_TRUE(ClickSequence().empty());
  DeserializeSettings(before + ",x,-3,99999999,1:2:0:1:1");
  EXPECT_EQ(SerializeSettings(), before + ",0,0," + std::to_string(kMaxJitterMs) + ",1:2:0:1:1");
}

TEST_F(JitterSequenceTest, ASessionFileOfThePreviousVersionLoadsUnchanged) {
  const std::string fixture = Slurp(std::string(PMR_FIXTURES_DIR) + "/state/session-before-jitter.dat");
  ASSERT_FALSE(fixture.empty());
  WriteText(SessionPath(), fixture);
  ApplyJitterUpdate("10,25,4");  // what the loader must not leave behind
  ApplyClickSequenceUpdate("1:1:0:1:1");
  ASSERT_TRUE(LoadSessionState());

  std::vector<std::string> lines = SplitString(fixture, '\n');
  ASSERT_GE(lines.size(), 10u);
  const std::string oldSettings = lines[0].substr(9);
  // Every field means what it meant; the line written now only adds the groups.
  EXPECT_EQ(SerializeSettings(), oldSettings + kHoldDefaults + ",0,0,0");
  EXPECT_EQ(ReadSetting(autoClickIntervalMs), 250);
  EXPECT_EQ(autoClickFixedX.load(), 640);
  EXPECT_EQ(autoClickFixedY.load(), -20);
  EXPECT_EQ(keySpamTargetCount.load(), 2);
  EXPECT_EQ(ReadSetting(autoClickJitterMs), 0);
  EXPECT_TRUE(ClickSequence().empty());

  int current = -1;
  std::vector<MacroProfile> got = GetProfiles(&current);
  EXPECT_EQ(current, 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].settingsLine, lines[3].substr(16));
  EXPECT_EQ(got[1].settingsLine, lines[7].substr(16));
  EXPECT_EQ(got[0].events.size(), 2u);
  EXPECT_EQ(got[1].events.size(), 2u);

  // Saved again, the file is the old one with the groups added to the first line.
  SaveSessionStateBlocking();
  std::string want = "SETTINGS:" + oldSettings + kHoldDefaults + ",0,0,0\n";
  for (size_t i = 1; i < lines.size(); ++i) want += lines[i] + "\n";
  EXPECT_EQ(Slurp(SessionPath()), want);
}

TEST_F(JitterSequenceTest, PageListsAndSettingsJson) {
  // updateJitter: clamped and truncated; missing, empty or bad fields keep.
  ApplyJitterUpdate("12.9,30,5");
  ApplyJitterUpdate(",abc");
  EXPECT_EQ(ReadSetting(autoClickJitterMs), 12);
  EXPECT_EQ(ReadSetting(autoClickJitterRadius), 30);
  EXPECT_EQ(ReadSetting(keySpamJitterMs), 5);
  ApplyJitterUpdate("-4,1e9,inf");
  EXPECT_EQ(ReadSetting(autoClickJitterMs), 0);
  EXPECT_EQ(ReadSetting(autoClickJitterRadius), kMaxJitterRadius);
  EXPECT_EQ(ReadSetting(keySpamJitterMs), 5);

  // setFixedSpot: both numbers or nothing; it selects the fixed spot.
  ApplyFixedSpotUpdate("1280,-40");
  EXPECT_EQ(autoClickFixedX.load(), 1280);
  EXPECT_EQ(autoClickFixedY.load(), -40);
  EXPECT_EQ(autoClickLocationMode.load(), 1);
  for (const char* bad : {"", "5", "x,5", "5,", "5,nan"}) {
    ApplyFixedSpotUpdate(bad);
    EXPECT_EQ(autoClickFixedX.load(), 1280) << bad;
    EXPECT_EQ(autoClickFixedY.load(), -40) << bad;
  }

  ApplyClickSequenceUpdate("5:6:1:2:250;7:8:0:1:10");
  const std::string json = BuildSettingsJson();
  EXPECT_NE(json.find(",\"holdKeySpam\":false,\"jitterMs\":0,\"jitterRadius\":10000,\"ksJitterMs\":5,"
                      "\"sequence\":[{\"x\":5,\"y\":6,\"button\":1,\"clicks\":2,\"pause\":250},"
                      "{\"x\":7,\"y\":8,\"button\":0,\"clicks\":1,\"pause\":10}],"),
            std::string::npos)
      << json;
}

TEST_F(JitterSequenceTest, EscEndsAPickAndGoesNowhere) {
  // Without a pick Esc is an ordinary key.
  EXPECT_FALSE(TapKey(kVkEscape, true));
  EXPECT_FALSE(TapKey(kVkEscape, false));

  isPickingLocation.store(true);
  EXPECT_TRUE(TapKey(kVkEscape, true));
  EXPECT_FALSE(isPickingLocation.load());
  EXPECT_TRUE(TapKey(kVkEscape, true)) << "its repeats are swallowed too";
  EXPECT_TRUE(TapKey(kVkEscape, false)) << "and its release";
  EXPECT_EQ(autoClickLocationMode.load(), 0);
  EXPECT_FALSE(TapKey(kVkEscape, true));
  EXPECT_FALSE(TapKey(kVkEscape, false));

  // An Esc already held when the pick began keeps its way to the desktop.
  EXPECT_FALSE(TapKey(kVkEscape, true));
  isPickingLocation.store(true);
  EXPECT_FALSE(TapKey(kVkEscape, true));
  EXPECT_FALSE(TapKey(kVkEscape, false));
  EXPECT_TRUE(isPickingLocation.load());
}

TEST(RateMeterTest, RateOfTheRecentActions) {
  RateMeter m;
  EXPECT_EQ(m.PerSecond(0), 0.0);
  m.Mark(1000000000);
  EXPECT_EQ(m.PerSecond(1000000000), 0.0) << "one action has no rate";
  // Every 10 ms: 100 a second, over the last 32 actions only.
  for (int i = 1; i <= 40; ++i) m.Mark(1000000000 + i * 10000000LL);
  EXPECT_NEAR(m.PerSecond(1500000000), 100.0, 1e-9);
  // After a slow stretch the window holds only the recent pace.
  for (int i = 1; i <= 40; ++i) m.Mark(1400000000 + i * 50000000LL);
  EXPECT_NEAR(m.PerSecond(3400000000), 20.0, 1e-9);
  // Actions older than 5 s do not count; a new run forgets the old one.
  EXPECT_EQ(m.PerSecond(20000000000), 0.0);
  m.Reset();
  EXPECT_EQ(m.PerSecond(3400000000), 0.0);
}

}  // namespace
