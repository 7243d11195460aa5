// The input hooks during a position pick: the click that picks (or cancels)
// leaves no trace in a running recording, neither its press nor its release.
#include <gtest/gtest.h>

#include "tools_test_util.h"

namespace {

class PickHooksTest : public ::testing::Test {
 protected:
  void SetUp() override { toolstest::ResetAll(); }
  void TearDown() override { toolstest::ResetAll(); }
};

TEST_F(PickHooksTest, PickingClickIsNotRecordedAtAll) {
  for (int button : {1, 2, 4}) {
    SCOPED_TRACE(button);
    toolstest::ResetAll();
    toolstest::StartRecording();
    isPickingLocation.store(true);
    EXPECT_TRUE(TapMouseButton(button, true, 40, 50));
    EXPECT_FALSE(isPickingLocation.load());
    EXPECT_FALSE(TapMouseButton(button, false, 40, 50)) << "the release still reaches the desktop";
    EXPECT_TRUE(toolstest::Events().empty());
    // The next click of the same button is recorded whole.
    EXPECT_FALSE(TapMouseButton(button, true, 41, 51));
    EXPECT_FALSE(TapMouseButton(button, false, 41, 51));
    EXPECT_EQ(toolstest::Events().size(), 2u);
  }
}

}  // namespace
