// Texts handed to the page stay valid JSON whatever the stored settings hold,
// and the number fields of the comma lists follow their white-space rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "bridge_json.h"
#include "tools/status_json.h"
#include "tools/tool_state.h"
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
