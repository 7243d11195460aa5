// Key names that follow the X keyboard layout, switched with setxkbmap while
// the program watches the keymap.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os_keys.h"
#include "tests/support/gtk_test_env.h"

namespace {

using Names = std::vector<std::pair<int, std::string>>;

// Switches the X layout and waits until the names given as probes show it.
bool SwitchLayout(const std::string& layout, const Names& probes) {
  if (pmrtest::RunCommand("setxkbmap " + layout) != 0) return false;
  return pmrtest::SpinUntil([&] {
    for (const auto& [vk, name] : probes)
      if (OsKeyName(vk) != name) return false;
    return true;
  }, 60000);
}

// Probes that tell us, fr and de apart.
const Names kUsProbes = {{65, "A"}, {90, "Z"}, {49, "1"}};
const Names kFrProbes = {{65, "Q"}, {49, "&"}};
const Names kDeProbes = {{90, "Y"}, {49, "1"}};

void ExpectNames(const std::string& layout, const Names& names) {
  for (const auto& [vk, name] : names) EXPECT_EQ(OsKeyName(vk), name) << layout << " vk " << vk;
}

class KeysLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(pmrtest::InitGtkOnce()) << "no display";
    ASSERT_EQ(pmrtest::RunCommand("setxkbmap us"), 0);
    OsKeysWatchLayout();
  }
  void TearDown() override { SwitchLayout("us", kUsProbes); }
};

TEST_F(KeysLayoutTest, NamesFollowTheActiveLayout) {
  ASSERT_TRUE(SwitchLayout("us", kUsProbes));
  const Names us = {
      {65, "A"}, {81, "Q"}, {90, "Z"}, {49, "1"}, {51, "3"}, {186, ";"}, {187, "="},
      {188, ","}, {189, "-"}, {190, "."}, {191, "/"}, {219, "["}, {221, "]"}, {222, "'"},
      {220, "Backslash"},  // prints a backslash: no label, plain fallback
      {192, "`"}, {160, "Shift"}, {161, "Right Shift"}, {112, "F1"}, {32, "Space"},
      {42, "Key[42]"}, {12, "Key[12]"}, {3, "Key[3]"},
  };
  ExpectNames("us", us);

  ASSERT_TRUE(SwitchLayout("fr", kFrProbes)) << "the French layout never reached the names";
  const Names fr = {
      {65, "Q"}, {81, "A"}, {90, "W"}, {87, "Z"}, {77, ","}, {186, "M"},
      {49, "&"}, {50, "\xc3\x89"},  // é, upper-cased
      {51, "3"},                    // prints a double quote: no label, plain fallback
      {52, "'"}, {219, "^"},        // dead circumflex gets a spacing character
      {220, "*"}, {222, "\xc3\x99"}, {188, ";"},
      {192, "`"},  // fixed whatever the layout
      {160, "Shift"}, {13, "Enter"}, {124, "F13"},
  };
  ExpectNames("fr", fr);

  ASSERT_TRUE(SwitchLayout("de", kDeProbes)) << "the German layout never reached the names";
  const Names de = {
      {89, "Z"}, {90, "Y"}, {187, "\xc2\xb4"},  // dead acute
      {186, "\xc3\x96"}, {222, "\xc3\x84"}, {219, "\xc3\x9c"}, {189, "\xc3\x9f"},
      {192, "`"},
  };
  ExpectNames("de", de);

  ASSERT_TRUE(SwitchLayout("us", kUsProbes));
  ExpectNames("us again", us);
}

TEST_F(KeysLayoutTest, ReadersSeeWholeLayouts) {
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t)
    readers.emplace_back([&] {
      while (!stop) {
        std::string a = OsKeyName(65), one = OsKeyName(49);
        if ((a != "A" && a != "Q") || (one != "1" && one != "&")) ++bad;
        ++reads;
      }
    });
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(SwitchLayout("fr", kFrProbes));
    EXPECT_TRUE(SwitchLayout("us", kUsProbes));
  }
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
