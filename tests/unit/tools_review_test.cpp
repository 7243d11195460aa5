// Texts handed to the page stay valid JSON whatever the stored settings hold,
// and the number fields of the comma lists follow their white-space rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "bridge_json.h"
#include "tools/status_json.h"
#include "tools/tool_state.h"
#include "tools_test_util.h"

namespace {

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
