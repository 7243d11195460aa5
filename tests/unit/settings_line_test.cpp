// The settings line, the profile settings line, the key-spam target list, the
// event line and the number and field rules they are built on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <random>
#include <sstream>

#include "base/number_text.h"
#include "state_test_util.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"

using namespace statetest;

namespace {

std::vector<int> Targets() {
  std::vector<int> t;
  for (int i = 0; i < keySpamTargetCount.load(); ++i) t.push_back(keySpamTargets[i].load());
  return t;
}

void SetTargets(const std::vector<int>& t) {
  for (size_t i = 0; i < t.size(); ++i) keySpamTargets[i].store(t[i]);
  keySpamTargetCount.store(static_cast<int>(t.size()));
}

class SettingsLineTest : public StateTest {};

}  // namespace

TEST(SplitStringTest, KeepsInnerAndLeadingEmptyFieldsButNotATrailingOne) {
  struct Case {
    std::string text;
    std::vector<std::string> fields;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a,b", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {",a", {"", "a"}},
      {"a,", {"a"}},
      {",", {""}},
      {",,", {"", ""}},
      {"a,b,,", {"a", "b", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitString(c.text, ','), c.fields) << '"' << c.text << '"';
    std::vector<std::string_view> views;
    SplitStringView(c.text, ',', views);
    EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), c.fields) << '"' << c.text << '"';
  }
}

TEST(NumberTextTest, IntegersFollowTheStandardConversionRules) {
  struct Case {
    const char* text;
    std::optional<int32_t> i32;
    std::optional<int64_t> i64;
    std::optional<uint64_t> u64;
  } cases[] = {
      {"42", 42, 42, 42u},
      {"  -7", -7, -7, std::nullopt},
      {"+5", 5, 5, 5u},
      {"12abc", 12, 12, 12u},
      {"\t\n 3 4", 3, 3, 3u},
      {"abc", std::nullopt, std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt, std::nullopt},
      {"-", std::nullopt, std::nullopt, std::nullopt},
      {"+-1", std::nullopt, std::nullopt, std::nullopt},
      {"- 1", std::nullopt, std::nullopt, std::nullopt},
      {"-0", 0, 0, 0u},
      {"2147483647", 2147483647, 2147483647LL, 2147483647u},
      {"2147483648", std::nullopt, 2147483648LL, 2147483648u},
      {"-2147483648", std::numeric_limits<int32_t>::min(), -2147483648LL, std::nullopt},
      {"-2147483649", std::nullopt, -2147483649LL, std::nullopt},
      {"9223372036854775807", std::nullopt, std::numeric_limits<int64_t>::max(), 9223372036854775807ULL},
      {"9223372036854775808", std::nullopt, std::nullopt, 9223372036854775808ULL},
      {"-9223372036854775808", std::nullopt, std::numeric_limits<int64_t>::min(), std::nullopt},
      {"18446744073709551615", std::nullopt, std::nullopt, std::numeric_limits<uint64_t>::max()},
      {"18446744073709551616", std::nullopt, std::nullopt, std::nullopt},
      {"99999999999999999999999", std::nullopt, std::nullopt, std::nullopt},
      {"1.9", 1, 1, 1u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseLeadingInt32(c.text), c.i32) << c.text;
    EXPECT_EQ(ParseLeadingInt64(c.text), c.i64) << c.text;
    EXPECT_EQ(ParseLeadingUInt64(c.text), c.u64) << c.text;
  }
}

TEST(NumberTextTest, FloatingPointReadingMatchesTheStreamConversion) {
  struct Case {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"1.5", 1.5},       {" 2.25xyz", 2.25}, {"+3", 3.0},   {"-0.5", -0.5}, {".5", 0.5},
      {"1e3", 1000.0},    {"1e", 1.0},        {"abc", std::nullopt},        {"", std::nullopt},
      {"1e999", std::nullopt},                {"-1e999", std::nullopt},      {"5.", 5.0},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseLeadingDouble(c.text), c.value) << c.text;
  EXPECT_TRUE(std::isinf(*ParseLeadingDouble("inf")));
  EXPECT_TRUE(std::isnan(*ParseLeadingDouble("nan")));
  EXPECT_EQ(ParseLeadingFloat("0.25"), 0.25f);
  EXPECT_EQ(ParseLeadingFloat("1e39"), std::nullopt);  // beyond float
}

TEST(NumberTextTest, DefaultFloatFormatIsTheStreamsDefault) {
  // The stream itself is the reference, over hand-picked and random values.
  std::vector<double> values = {0,      1,        1.5,      -2.75,     100,     0.1,
                                1e-5,   0.0001,   123456,   1234567,   1e6,     1e21,
                                1234.5678, 99999.95, 999999.5, 1e-300, 5e-324, -0.0,
                                std::numeric_limits<double>::max()};
  // Values at and next to rounding ties and powers of ten.
  for (double v : {0.5, 2.5, 1.0000005, 1.0000015, 999999.5, 99999.95, 0.00012345650, 123456.5, 0.0001,
                   0.00009999995, 9.999995, 1e5, 1e-4, 12345.65, 0.1234565})
    for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, 1e300)}) values.push_back(w);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mant(-10, 10);
  std::uniform_int_distribution<int> exp10(-12, 12);
  std::uniform_int_distribution<int64_t> digits(0, 99999999);
  for (int i = 0; i < 100000; ++i) {
    values.push_back(mant(rng) * std::pow(10.0, exp10(rng)));
    // Short decimals, as recorded times are: many sit on a rounding tie.
    values.push_back(static_cast<double>(digits(rng)) / std::pow(10.0, exp10(rng) + 12));
  }
  std::uniform_int_distribution<uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    uint64_t b = bits(rng);
    double v;
    std::memcpy(&v, &b, sizeof v);
    values.push_back(v);  // any bit pattern: NaN, infinities, denormals
  }
  int mismatches = 0;
  for (double v : values) {
    std::ostringstream ref;
    ref << v;
    if (FormatDefaultFloat(v) != ref.str() && ++mismatches <= 10)
      ADD_FAILURE() << std::setprecision(17) << v << ": " << FormatDefaultFloat(v) << " vs " << ref.str();
  }
  EXPECT_EQ(mismatches, 0);
  float speed = 0.3f;
  std::ostringstream ref;
  ref << speed;
  EXPECT_EQ(FormatDefaultFloat(speed), ref.str());
}

TEST_F(SettingsLineTest, FreshDefaultsGiveTheDocumentedLines) {
  EXPECT_EQ(SerializeSettings(), kFreshSettings);
  EXPECT_EQ(SerializeProfileSettings(), kFreshProfileSettings);
  EXPECT_EQ(SerializeKeySpamTargetList(), "32");
}

TEST_F(SettingsLineTest, EveryFieldSurvivesARoundTrip) {
  autoClickIntervalHours = 1;
  autoClickIntervalMins = 2;
  autoClickIntervalSecs = 3;
  autoClickIntervalMs = 4;
  autoClickerButtonIdx = 2;
  autoClickClickType = 1;
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 77;
  autoClickLocationMode = 1;
  autoClickFixedX.store(-640);
  autoClickFixedY.store(480);
  bRecordMouseMovement = false;
  bRecordMouseClicks = false;
  bRecordMouseScroll = false;
  bRecordKeyboard = false;
  bUseRelativeMouse = true;
  fPlaybackSpeed = 0.25f;
  bLoopSequence = true;
  iLoopIntervalMs = 1234;
  vkRecord.store(65);
  vkPlay.store(66);
  vkAutoClicker.store(67);
  keySpamIntervalHours = 5;
  keySpamIntervalMins = 6;
  keySpamIntervalSecs = 7;
  keySpamIntervalMs = 8;
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 99;
  vkKeySpamHotkey.store(68);
  vkKeySpamTarget.store(69);
  SetTargets({69, 70, 71});
  keySpamChordMode.store(true);
  g_HoldModeAuto.store(true);
  g_HoldModeKeySpam.store(true);
  vkUnlock.store(5);
  g_TurboAuto.store(true);
  modsRecord.store(kModCtrl);
  modsPlay.store(kModAlt);
  modsAutoClicker.store(kModCtrl | kModShift);
  modsKeySpamHotkey.store(kModSuper);
  modsUnlock.store(kModAll);
  g_PanicCombo.store(kPanicEscThrice);

  const std::string line = SerializeSettings();
  EXPECT_EQ(line,
            "1,2,3,4,2,1,0,77,1,-640,480,0,0,0,0,1,0.25,1,1234,65,66,0,67,5,6,7,8,0,99,68,69,69|70|71,1,1,1,5"
            ",1,1,2,5,8,15,2,0,0,0");
  const std::string profileLine = SerializeProfileSettings();
  EXPECT_EQ(profileLine, "1,2,3,4,2,1,0,77,1,-640,480,5,6,7,8,0,99,69,69|70|71,1,0,0,0");

  ResetToolStateForTest();
  DeserializeSettings(line);
  EXPECT_EQ(SerializeSettings(), line);
  ResetToolStateForTest();
  DeserializeProfileSettings(profileLine);
  EXPECT_EQ(SerializeProfileSettings(), profileLine);
}

TEST_F(SettingsLineTest, SettingsLineGenerationsAndBadFields) {
  // Start every case from a state that differs from what the lines hold.
  auto prepare = [] {
    ResetToolStateForTest();
    SetTargets({10, 11});
    keySpamChordMode.store(true);
    g_HoldModeAuto.store(true);
    g_HoldModeKeySpam.store(true);
    vkUnlock.store(99);
  };
  const std::string f23 = "1,2,3,4,1,1,0,5,1,10,20,0,1,0,1,1,2.5,1,700,80,81,9,82";
  const std::string f31 = f23 + ",1,2,3,4,0,6,83,65";
  struct Case {
    std::string name;
    std::string line;
    std::function<void()> check;
  } cases[] = {
      {"22 fields: nothing applied", "1,2,3,4,1,1,0,5,1,10,20,0,1,0,1,1,2.5,1,700,80,81,9",
       [] {
         EXPECT_EQ(autoClickIntervalHours, 0);
         EXPECT_EQ(Targets(), (std::vector<int>{10, 11}));
         EXPECT_TRUE(keySpamChordMode.load());
       }},
      {"a non-finite playback speed keeps the current speed, the rest is read",
       "1,2,3,4,1,1,0,5,1,10,20,0,1,0,1,1,nan,1,700,80,81,9,82",
       [] {
         EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.0f);
         EXPECT_TRUE(bLoopSequence);
         EXPECT_EQ(vkRecord.load(), 80);
       }},
      {"an infinite playback speed likewise", "1,2,3,4,1,1,0,5,1,10,20,0,1,0,1,1,-inf,1,700,80,81,9,82",
       [] {
         EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.0f);
         EXPECT_EQ(iLoopIntervalMs, 700);
       }},
      {"23 fields: old line, one target from vkKeySpamTarget", f23,
       [] {
         EXPECT_EQ(autoClickIntervalHours, 1);
         EXPECT_EQ(autoClickRepeatTimes, 5);
         EXPECT_EQ(autoClickFixedY.load(), 20);
         EXPECT_FALSE(bRecordMouseMovement);
         EXPECT_TRUE(bRecordMouseClicks);
         EXPECT_FLOAT_EQ(fPlaybackSpeed, 2.5f);
         EXPECT_TRUE(bLoopSequence);
         EXPECT_EQ(iLoopIntervalMs, 700);
         EXPECT_EQ(vkRecord.load(), 80);
         EXPECT_EQ(vkPlay.load(), 81);
         EXPECT_EQ(vkAutoClicker.load(), 82);
         EXPECT_EQ(keySpamIntervalMs, 100);
         EXPECT_EQ(Targets(), (std::vector<int>{32}));
         EXPECT_FALSE(keySpamChordMode.load());
         EXPECT_TRUE(g_HoldModeAuto.load());
         EXPECT_EQ(vkUnlock.load(), 99);
       }},
      {"31 fields: target from field 30 alone, hold modes and unlock unchanged", f31,
       [] {
         EXPECT_EQ(keySpamIntervalHours, 1);
         EXPECT_EQ(keySpamRepeatMode, 0);
         EXPECT_EQ(keySpamRepeatTimes, 6);
         EXPECT_EQ(vkKeySpamHotkey.load(), 83);
         EXPECT_EQ(vkKeySpamTarget.load(), 65);
         EXPECT_EQ(Targets(), (std::vector<int>{65}));
         EXPECT_FALSE(keySpamChordMode.load());
         EXPECT_TRUE(g_HoldModeAuto.load());
         EXPECT_TRUE(g_HoldModeKeySpam.load());
         EXPECT_EQ(vkUnlock.load(), 99);
       }},
      {"33 fields: list and chord", f31 + ",65|66,1",
       [] {
         EXPECT_EQ(Targets(), (std::vector<int>{65, 66}));
         EXPECT_TRUE(keySpamChordMode.load());
         EXPECT_TRUE(g_HoldModeAuto.load());
       }},
      {"33 fields: empty list means no target", f31 + ",,0",
       [] {
         EXPECT_EQ(Targets(), std::vector<int>{});
         EXPECT_FALSE(keySpamChordMode.load());
       }},
      {"35 fields: hold modes", f31 + ",65,0,0,1",
       [] {
         EXPECT_FALSE(g_HoldModeAuto.load());
         EXPECT_TRUE(g_HoldModeKeySpam.load());
         EXPECT_EQ(vkUnlock.load(), 99);
       }},
      {"36 fields: unlock key", f31 + ",65,0,0,0,122", [] { EXPECT_EQ(vkUnlock.load(), 122); }},
      {"43 fields: turbo, the hotkeys' modifier masks, the panic combination",
       f31 + ",65,0,0,0,122,1,1,2,4,8,3,2",
       [] {
         EXPECT_EQ(vkUnlock.load(), 122);
         EXPECT_TRUE(g_TurboAuto.load());
         EXPECT_EQ(modsRecord.load(), kModCtrl);
         EXPECT_EQ(modsPlay.load(), kModAlt);
         EXPECT_EQ(modsAutoClicker.load(), kModShift);
         EXPECT_EQ(modsKeySpamHotkey.load(), kModSuper);
         EXPECT_EQ(modsUnlock.load(), kModCtrl | kModAlt);
         EXPECT_EQ(g_PanicCombo.load(), kPanicEscThrice);
       }},
      {"unknown mask bits are dropped; an unreadable mask or combination keeps the current one",
       f31 + ",65,0,0,0,122,0,255,x,0,0,0,9",
       [] {
         EXPECT_FALSE(g_TurboAuto.load());
         EXPECT_EQ(modsRecord.load(), kModAll);
         EXPECT_EQ(modsPlay.load(), 0);
         EXPECT_EQ(g_PanicCombo.load(), kPanicBothShifts);
       }},
      {"unlock key that is not a number is ignored", f31 + ",65,0,0,0,F10",
       [] {
         EXPECT_EQ(vkUnlock.load(), 99);
         EXPECT_FALSE(g_HoldModeAuto.load());
       }},
      {"a bad field stops fields 0-22 but the later groups still apply",
       "1,2,3,4,1,x,0,5,1,10,20,0,1,0,1,1,2.5,1,700,80,81,9,82,1,2,3,4,0,6,83,65,65|66,1",
       [] {
         EXPECT_EQ(autoClickerButtonIdx, 1);
         EXPECT_EQ(autoClickClickType, 0);
         EXPECT_EQ(autoClickRepeatMode, 1);
         EXPECT_EQ(vkRecord.load(), 119);
         EXPECT_EQ(keySpamRepeatTimes, 6);
         EXPECT_EQ(Targets(), (std::vector<int>{65, 66}));
       }},
      {"a bad playback speed stops the rest of fields 0-22",
       "1,2,3,4,1,1,0,5,1,10,20,0,0,0,0,0,fast,1,700,80,81,9,82",
       [] {
         EXPECT_EQ(autoClickFixedY.load(), 20);
         EXPECT_FLOAT_EQ(fPlaybackSpeed, 1.0f);
         EXPECT_FALSE(bLoopSequence);
         EXPECT_EQ(iLoopIntervalMs, 500);
       }},
      {"flags are true only for exactly 1; reserved field ignored",
       "0,0,0,100,0,0,1,10,0,0,0,true,1 ,0,1,2,1,1,500,119,118,zzz,117",
       [] {
         EXPECT_FALSE(bRecordMouseMovement);
         EXPECT_FALSE(bRecordMouseClicks);
         EXPECT_FALSE(bRecordMouseScroll);
         EXPECT_TRUE(bRecordKeyboard);
         EXPECT_FALSE(bUseRelativeMouse);
         EXPECT_TRUE(bLoopSequence);
         EXPECT_EQ(vkAutoClicker.load(), 117);
       }},
      {"numbers with white space and trailing text are read like stoi",
       " 5,+6,7ms,100,0,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117",
       [] {
         EXPECT_EQ(autoClickIntervalHours, 5);
         EXPECT_EQ(autoClickIntervalMins, 6);
         EXPECT_EQ(autoClickIntervalSecs, 7);
       }},
      {"out of 32-bit range stops reading", "0,0,0,4294967296,1,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117",
       [] {
         EXPECT_EQ(autoClickIntervalMs, 100);
         EXPECT_EQ(autoClickerButtonIdx, 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prepare();
    DeserializeSettings(c.line);
    c.check();
  }
}

TEST_F(SettingsLineTest, ProfileSettingsLineGenerationsAndBadFields) {
  auto prepare = [] {
    ResetToolStateForTest();
    SetTargets({10, 11});
    keySpamChordMode.store(true);
  };
  const std::string f18 = "1,2,3,4,1,1,0,5,1,10,20,5,6,7,8,0,9,70";
  struct Case {
    std::string name;
    std::string line;
    std::function<void()> check;
  } cases[] = {
      {"17 fields: nothing", "1,2,3,4,1,1,0,5,1,10,20,5,6,7,8,0,9",
       [] {
         EXPECT_EQ(autoClickIntervalHours, 0);
         EXPECT_EQ(Targets(), (std::vector<int>{10, 11}));
       }},
      {"18 fields: one target", f18,
       [] {
         EXPECT_EQ(autoClickIntervalHours, 1);
         EXPECT_EQ(autoClickFixedX.load(), 10);
         EXPECT_EQ(keySpamIntervalHours, 5);
         EXPECT_EQ(keySpamIntervalMs, 8);
         EXPECT_EQ(keySpamRepeatMode, 0);
         EXPECT_EQ(keySpamRepeatTimes, 9);
         EXPECT_EQ(vkKeySpamTarget.load(), 70);
         EXPECT_EQ(Targets(), (std::vector<int>{70}));
         EXPECT_FALSE(keySpamChordMode.load());
       }},
      {"19 fields: still one target", f18 + ",71|72", [] { EXPECT_EQ(Targets(), (std::vector<int>{70})); }},
      {"20 fields: list and chord", f18 + ",71|72,1",
       [] {
         EXPECT_EQ(Targets(), (std::vector<int>{71, 72}));
         EXPECT_TRUE(keySpamChordMode.load());
       }},
      {"a bad field keeps what was read and leaves the targets", "1,2,3,4,1,1,0,5,1,10,20,5,x,7,8,0,9,70,71,1",
       [] {
         EXPECT_EQ(autoClickFixedY.load(), 20);
         EXPECT_EQ(keySpamIntervalHours, 5);
         EXPECT_EQ(keySpamIntervalMins, 0);
         EXPECT_EQ(vkKeySpamTarget.load(), 32);
         EXPECT_EQ(Targets(), (std::vector<int>{10, 11}));
         EXPECT_TRUE(keySpamChordMode.load());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prepare();
    DeserializeProfileSettings(c.line);
    c.check();
  }
}

TEST_F(SettingsLineTest, KeySpamTargetList) {
  SetTargets({32, 65});
  EXPECT_EQ(SerializeKeySpamTargetList(), "32|65");
  SetTargets({});
  EXPECT_EQ(SerializeKeySpamTargetList(), "");

  struct Case {
    std::string text;
    std::vector<int> targets;
  } cases[] = {
      {"", {}},
      {"65", {65}},
      {"65|x|66|67|68", {65, 66, 67}},  // five entries, the second not a number
      {"1|2|3|4", {1, 2, 3}},
      {"|7", {7}},
      {" 8|+9|10z", {8, 9, 10}},
      {"99999999999|5", {5}},
  };
  for (const Case& c : cases) {
    SetTargets({1, 1, 1});
    EXPECT_TRUE(DeserializeKeySpamTargetList(c.text));
    EXPECT_EQ(Targets(), c.targets) << c.text;
  }
}

TEST(EventLineTest, WritesTheDocumentedForm) {
  struct Case {
    UnifiedEvent ev;
    std::string line;
  } cases[] = {
      {Ev(2, 1.5, 100, 200, 2), "2,1.5,100,200,2,0,0,0"},
      {Ev(3, 0, 0, 0, 0, 65, true), "3,0,0,0,0,65,1,0"},
      {Ev(4, 12.25, 0, 0, 0, 0, false, -120), "4,12.25,0,0,0,0,0,-120"},
      {Ev(1, 1234.5678, -5, -7), "1,1234.57,-5,-7,0,0,0,0"},
      {Ev(1, 1e-5, INT64_MIN, INT64_MAX), "1,1e-05,-9223372036854775808,9223372036854775807,0,0,0,0"},
      {Ev(2, 3600, 1, 1, UINT64_MAX), "2,3600,1,1,18446744073709551615,0,0,0"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendEventLine(out, c.ev);
    EXPECT_EQ(out, c.line);
    UnifiedEvent back;
    ASSERT_TRUE(ParseEventLine(c.line, back)) << c.line;
    AppendEventLine(out = {}, back);
    EXPECT_EQ(out, c.line);
  }
}

TEST(EventLineTest, ReadingSkipsBadLinesAndToleratesNoise) {
  struct Case {
    std::string line;
    bool ok;
    UnifiedEvent ev;
  } cases[] = {
      {"2,1.5,100,200,2,0,0,0", true, Ev(2, 1.5, 100, 200, 2)},
      {"2,1.5,100,200,2,0,0", false, {}},               // 7 fields
      {"2,1.5,100,200,2,0,0,0,9", true, Ev(2, 1.5, 100, 200, 2)},  // 9 fields: first 8
      {"2,1.5,100,200,2,0,0,", false, {}},               // last field missing
      {"2,1.5,100,200,2,0,0,x", false, {}},
      {"2, 1.5 ,100px,200,2,0,0,0", true, Ev(2, 1.5, 100, 200, 2)},
      {"3,0,0,0,0,65,5,0", true, Ev(3, 0, 0, 0, 0, 65, true)},  // non-zero is down
      {"2147483648,0,0,0,0,0,0,0", false, {}},           // type beyond 32 bits
      {"1,0,9223372036854775808,0,0,0,0,0", false, {}},  // x beyond 64 bits
      {"2,0,0,0,-1,0,0,0", false, {}},                   // negative flags
      {"2,1e999,0,0,0,0,0,0", false, {}},
      {"4,0,0,0,0,0,0,4294967296", false, {}},
      {"", false, {}},
      {",,,,,,,", false, {}},
  };
  for (const Case& c : cases) {
    UnifiedEvent ev;
    EXPECT_EQ(ParseEventLine(c.line, ev), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(ev, c.ev) << c.line;
    }
  }
}
