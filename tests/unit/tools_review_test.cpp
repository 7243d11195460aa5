// Texts handed to the page stay valid JSON whatever the stored settings hold,
// the number fields of the comma lists follow their white-space rules, a
// settings write that fails half way is retried, and the auto clicker asks for
// the pointer position of a recorded click before pressing the button.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "app/status_json.h"
#include "bridge_json.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "tests/sim/input_harness.h"
#include "tools/autoclicker.h"
#include "tools/signals.h"
#include "tools_test_util.h"

namespace {

// The data directory is worked out once per process: point it at a private
// directory before anything asks for it.
const std::string kDataHome = [] {
  char tmpl[] = "/tmp/pmr-tools-review-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  return dir;
}();

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A playback speed read from a hand-edited session file can be "nan" or
// "inf"; the settings JSON must still parse in the page, and it then reports
// the default speed.
TEST(SettingsJsonSpeed, NonFiniteSpeedStillGivesValidJson) {
  toolstest::ResetAll();
  const float cases[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
  for (float speed : cases) {
    fPlaybackSpeed = speed;
    const std::string text = BuildSettingsJson();
    bridgetest::Json j;
    ASSERT_TRUE(bridgetest::ParseJson(text, j)) << speed << ": " << text;
    EXPECT_EQ(j["tspd"].kind, bridgetest::Json::Number) << text;
    EXPECT_EQ(j["tspd"].n, 1.0) << text;
  }
  fPlaybackSpeed = 2.5f;  // finite values are written as they are
  bridgetest::Json j;
  ASSERT_TRUE(bridgetest::ParseJson(BuildSettingsJson(), j));
  EXPECT_EQ(j["tspd"].n, 2.5);
  toolstest::ResetAll();
}

// Leading white space of any kind is skipped; after the number only spaces
// may follow.
TEST(CommaFieldsWhiteSpace, OnlySpacesMayTrailANumber) {
  struct Case {
    const char* field;
    double expected;
  } cases[] = {
      {"\t5", 5},  {"\n 5", 5}, {"5 ", 5},   {"5   ", 5},
      {"5\t", 9},  {"5\n", 9},  {"5 \r", 9}, {"5\v", 9},
  };
  for (const Case& c : cases) EXPECT_EQ(FieldNumber(c.field, 9), c.expected) << '"' << c.field << '"';
}

}  // namespace

namespace {

// A settings write that opens the file but cannot write all of it (a full
// disk) leaves a cut text behind; it must be written again at the next poll
// instead of being taken as done until the settings change.
TEST(PanelSettingsFile, WriteThatFailsAfterOpeningIsRetried) {
  toolstest::ResetAll();
  const std::string panelPath = GetPanelSettingsFilePath();
  RunStatusPoll();  // the directory exists from here on
  ::unlink(panelPath.c_str());
  ASSERT_EQ(::symlink("/dev/full", panelPath.c_str()), 0);  // opens, every write fails
  autoClickIntervalMs = 2468;
  RunStatusPoll();
  ASSERT_EQ(::unlink(panelPath.c_str()), 0);
  RunStatusPoll();  // settings unchanged since the failed write
  EXPECT_EQ(Slurp(panelPath), BuildSettingsJson());
  EXPECT_NE(Slurp(panelPath).find("\"sms\":2468"), std::string::npos);
  toolstest::ResetAll();
}

}  // namespace

// ---- the pointer query of a recorded click ------------------------------------

namespace {

pmrsim::InputHarness* g_Harness = nullptr;
std::atomic<int> g_PositionQueries{0};
std::atomic<int> g_QueriesWithButtonHeld{0};

// The pointer backend: answers (100, 200) and notes whether the clicked
// button was down on the injection device at the moment of asking. A query
// can be slow (a round trip to the display server or the shell), so it must
// not sit between a press and its release.
bool ObservingPosition(double& x, double& y) {
  g_PositionQueries.fetch_add(1);
  auto node = g_Harness->k().NodeByPhys("pmr-inject");
  if (node && node->keyState.test(BTN_LEFT)) g_QueriesWithButtonHeld.fetch_add(1);
  x = 100;
  y = 200;
  return true;
}
bool IgnoreKey(int, bool) { return false; }
int IgnoreButton(int, bool) { return 0; }
void IgnorePlace(int, bool, int, bool, double, double) {}
void IgnoreMove(bool, double, double, long, long) {}
void IgnoreScroll(int) {}
bool OneScreen(int& x, int& y, int& w, int& h) {
  x = 0;
  y = 0;
  w = 1920;
  h = 1080;
  return true;
}
int NoWindow(double, double) { return 0; }
const InputCallouts kObserving = {&IgnoreKey,         &IgnoreButton, &IgnorePlace, &IgnoreMove, &IgnoreScroll,
                                  &ObservingPosition, &OneScreen,    &NoWindow};

TEST(AutoClickerRecording, PointerIsReadBeforeThePressNotWhileTheButtonIsDown) {
  pmrsim::InputHarness h;
  g_Harness = &h;
  toolstest::ResetAll();
  ASSERT_TRUE(EnsureInjectDevice());
  SetInputCalloutsForTest(&kObserving);
  g_PositionQueries.store(0);
  g_QueriesWithButtonHeld.store(0);

  struct Case {
    int clickType;
    size_t events;
  } cases[] = {{0, 6}, {1, 12}};  // three single clicks, three double clicks
  for (const Case& c : cases) {
    toolstest::StartRecording();
    autoClickerButtonIdx = 0;
    autoClickClickType = c.clickType;
    autoClickRepeatMode = 0;
    autoClickRepeatTimes = 3;
    autoClickIntervalMs = 1;
    {
      toolstest::WorkerThread worker(AutoClickerThread, g_AutoClickWake, currentClickCount);
      triggerAutoClickStart.store(true);
      ProcessSignals();
      ASSERT_TRUE(toolstest::WaitFor([] { return !isAutoClicking.load() && currentClickCount.load() == 0; }));
    }
    isRecording.store(false);
    const auto events = toolstest::Events();
    ASSERT_EQ(events.size(), c.events) << c.clickType;
    for (const auto& e : events) {
      EXPECT_EQ(e.x, 100);
      EXPECT_EQ(e.y, 200);
    }
  }
  EXPECT_GT(g_PositionQueries.load(), 0);
  EXPECT_EQ(g_QueriesWithButtonHeld.load(), 0);
  toolstest::ResetAll();
  g_Harness = nullptr;
}

}  // namespace
