// Status JSON, settings JSON, the status poll and the comma lists.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_json.h"
#include "state/app_settings.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "app/status_json.h"
#include "model/hold_mode.h"
#include "model/hotkey_guard.h"
#include "model/panic_stop.h"
#include "model/tool_state.h"
#include "tools_test_util.h"
#include "platform/os_keys.h"

namespace {

// The data directory is worked out once per process: point it at a private
// directory before anything asks for it.
const std::string kDataHome = [] {
  char tmpl[] = "/tmp/pmr-status-json-XXXXXX";
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

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

class StatusJsonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolstest::ResetAll();
    g_PanelHoverActive.store(false);
    g_SiteDesign = true;
    g_DisableAnimations = false;
    g_SnapAnimation = true;
  }
  static std::string Status() {
    std::lock_guard<std::mutex> lock(profileMutex);
    return BuildStatusJson("[]");
  }
  static std::string Profiles() {
    std::lock_guard<std::mutex> lock(profileMutex);
    return BuildProfilesJsonLocked();
  }
  static bridgetest::Json ParsedStatus() {
    bridgetest::Json j;
    std::string text = Status();
    EXPECT_TRUE(bridgetest::ParseJson(text, j)) << text;
    return j;
  }
};

// No playback running, no note, no macro file waiting.
const std::string kQuietPlaybackTail =
    ",\"playDone\":0,\"playTotal\":0,\"playLoop\":0,\"note\":\"\",\"noteId\":0,\"macroAsk\":\"\","
    "\"macroAskCount\":0";

TEST_F(StatusJsonTest, DefaultStateIsExactText) {
  std::string expected =
      "{\"state\":\"Idle\",\"count\":0,\"restore\":[],\"hkRec\":\"F8\",\"hkPlay\":\"F7\","
      "\"hkAuto\":\"F6\",\"hkKeySpam\":\"F9\",\"hkUnlock\":\"F10\",\"lockOn\":true,"
      "\"unlocked\":true,\"keySpamTargets\":[\"Space\"],\"keySpamChord\":false,\"ksCap\":3,"
      "\"reassigning\":\"\",\"panelHover\":false,\"autoClicking\":false,\"keySpamming\":false,"
      "\"picking\":false,\"locMode\":0,\"canUndoContinue\":false,\"siteDesign\":true,"
      "\"noAnimations\":false,\"snapAnimation\":true,\"profiles\":" +
      Profiles() + kQuietPlaybackTail +
      ",\"clicks\":0,\"keyPresses\":0,\"hotkeyRefused\":{\"seq\":0,\"kind\":\"\",\"key\":\"\",\"owner\":\"\"},"
      "\"hotkeyPending\":{\"kind\":\"\",\"key\":\"\"},"
      "\"clickRuns\":0,\"lastClicks\":0,\"keyPressRuns\":0,\"lastKeyPresses\":0,\"clickRate\":0,\"keyRate\":0,\"panicStops\":0}";
  EXPECT_EQ(Status(), expected);
}

TEST_F(StatusJsonTest, BusyStateIsExactText) {
  isRecording.store(true);
  isPlaying.store(true);  // recording wins
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles[0].events.resize(7);
  }
  vkRecord.store(65);
  vkAutoClicker.store(1);
  vkUnlock.store(27);
  g_HotkeyLockEnabled.store(false);
  g_HotkeysUnlocked.store(false);
  keySpamTargets[0].store(81);
  keySpamTargets[1].store(87);
  keySpamTargets[2].store(69);
  keySpamTargetCount.store(3);
  keySpamChordMode.store(true);
  currentReassign.store(kReassignKeySpamTarget);
  g_PanelHoverActive.store(true);
  isAutoClicking.store(true);
  isKeySpamming.store(true);
  isPickingLocation.store(true);
  autoClickLocationMode = -4;
  g_SiteDesign = false;
  g_DisableAnimations = true;
  g_SnapAnimation = false;
  currentClickCount.store(12);
  currentKeySpamCount.store(3);
  lastClickRun.count.store(1991);
  lastClickRun.runs.store(4);
  lastKeySpamRun.count.store(35);
  lastKeySpamRun.runs.store(2);
  EXPECT_FALSE(GuardHotkeyReassignment(kReassignAuto, 118));     // F7 is the play hotkey
  EXPECT_FALSE(GuardHotkeyReassignment(kReassignKeySpamHotkey, 81));  // Q waits for a yes
  std::string expected =
      "{\"state\":\"Recording\",\"count\":7,\"restore\":[],\"hkRec\":\"A\",\"hkPlay\":\"F7\","
      "\"hkAuto\":\"Left Mouse\",\"hkKeySpam\":\"F9\",\"hkUnlock\":\"Esc\",\"lockOn\":false,"
      "\"unlocked\":false,\"keySpamTargets\":[\"Q\",\"W\",\"E\"],\"keySpamChord\":true,\"ksCap\":3,"
      "\"reassigning\":\"keyspamtarget\",\"panelHover\":true,\"autoClicking\":true,\"keySpamming\":true,"
      "\"picking\":true,\"locMode\":-4,\"canUndoContinue\":false,\"siteDesign\":false,"
      "\"noAnimations\":true,\"snapAnimation\":false,\"profiles\":" +
      Profiles() + kQuietPlaybackTail +
      ",\"clicks\":12,\"keyPresses\":3,\"hotkeyRefused\":{\"seq\":1,\"kind\":\"auto\",\"key\":\"F7\",\"owner\":\"play\"},"
      "\"hotkeyPending\":{\"kind\":\"keyspamhotkey\",\"key\":\"Q\"},"
      "\"clickRuns\":4,\"lastClicks\":1991,\"keyPressRuns\":2,\"lastKeyPresses\":35,\"clickRate\":0,\"keyRate\":0,\"panicStops\":0}";
  EXPECT_EQ(Status(), expected);
}

TEST_F(StatusJsonTest, RestoreArrayIsInsertedUnchanged) {
  std::lock_guard<std::mutex> lock(profileMutex);
  std::string s = BuildStatusJson("[1,\"x\"]");
  EXPECT_NE(s.find(",\"restore\":[1,\"x\"],\"hkRec\":"), std::string::npos) << s;
}

TEST_F(StatusJsonTest, StateWordAndReassignWord) {
  struct Case {
    bool recording, playing;
    const char* state;
  } states[] = {{false, false, "Idle"}, {false, true, "Playing"}, {true, false, "Recording"}, {true, true, "Recording"}};
  for (const Case& c : states) {
    isRecording.store(c.recording);
    isPlaying.store(c.playing);
    EXPECT_EQ(ParsedStatus()["state"].s, c.state);
  }
  const char* words[] = {"", "rec", "play", "auto", "keyspamhotkey", "keyspamtarget", "unlock", "", ""};
  int kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, -1};
  for (int i = 0; i < 9; ++i) {
    currentReassign.store(kinds[i]);
    EXPECT_EQ(ParsedStatus()["reassigning"].s, words[i]) << "kind " << kinds[i];
  }
}

TEST_F(StatusJsonTest, KeySpamTargetsFollowTheCount) {
  keySpamTargets[0].store(32);
  keySpamTargets[1].store(65);
  keySpamTargets[2].store(66);
  struct Case {
    int count;
    const char* member;
  } cases[] = {
      {0, ",\"keySpamTargets\":[],"},
      {1, ",\"keySpamTargets\":[\"Space\"],"},
      {2, ",\"keySpamTargets\":[\"Space\",\"A\"],"},
      {3, ",\"keySpamTargets\":[\"Space\",\"A\",\"B\"],"},
  };
  for (const Case& c : cases) {
    keySpamTargetCount.store(c.count);
    EXPECT_NE(Status().find(c.member), std::string::npos) << c.count;
  }
}

TEST_F(StatusJsonTest, EveryKeyNameSurvivesTheRoundTrip) {
  // Whatever a key is called (layout labels included), the page receives
  // valid JSON and the name unchanged.
  for (int vk = 0; vk < 256; ++vk) {
    vkRecord.store(vk);
    keySpamTargets[0].store(vk);
    bridgetest::Json j = ParsedStatus();
    ASSERT_EQ(j.kind, bridgetest::Json::Object) << vk;
    EXPECT_EQ(j["hkRec"].s, GetKeyName(vk)) << vk;
    ASSERT_EQ(j["keySpamTargets"].items.size(), 1u);
    EXPECT_EQ(j["keySpamTargets"].items[0].s, GetKeyName(vk)) << vk;
  }
}

TEST_F(StatusJsonTest, CountIsTheCurrentProfilesEvents) {
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles.push_back(MacroProfile{"Second", "", std::vector<UnifiedEvent>(5)});
    profiles[0].events.resize(2);
    currentProfileIdx = 1;
  }
  EXPECT_EQ(ParsedStatus()["count"].n, 5);
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    currentProfileIdx = 9;  // out of range: no events
  }
  EXPECT_EQ(ParsedStatus()["count"].n, 0);
}

TEST_F(StatusJsonTest, SettingsDefaultsAreExactText) {
  EXPECT_EQ(BuildSettingsJson(),
            "{\"sh\":0,\"sm\":0,\"ss\":0,\"sms\":100,\"sbtn\":0,\"stype\":0,\"rptMode\":1,"
            "\"rptTimes\":10,\"locMode\":0,\"fixedX\":0,\"fixedY\":0,\"tmv\":true,\"tcl\":true,"
            "\"tsc\":true,\"tke\":true,\"tre\":false,\"tspd\":1,\"tloop\":false,\"tloopMs\":500,"
            "\"ksh\":0,\"ksm\":0,\"kss\":0,\"ksms\":100,\"ksRptMode\":1,\"ksRptTimes\":10,"
            "\"holdAuto\":false,\"holdKeySpam\":false,\"jitterMs\":0,\"jitterRadius\":0,\"ksJitterMs\":0,\"sequence\":[],\"turbo\":false,\"panicCombo\":1}");
}

TEST_F(StatusJsonTest, SettingsChangedValuesAreExactText) {
  autoClickIntervalHours = 1;
  autoClickIntervalMins = 2;
  autoClickIntervalSecs = 3;
  autoClickIntervalMs = 4;
  autoClickerButtonIdx = 2;
  autoClickClickType = 1;
  autoClickRepeatMode = 0;
  autoClickRepeatTimes = 1000000000;
  autoClickLocationMode = 1;
  autoClickFixedX.store(-15);
  autoClickFixedY.store(2160);
  bRecordMouseMovement = false;
  bRecordMouseClicks = false;
  bRecordMouseScroll = false;
  bRecordKeyboard = false;
  bUseRelativeMouse = true;
  fPlaybackSpeed = 0.25f;
  bLoopSequence = true;
  iLoopIntervalMs = -1;
  keySpamIntervalHours = 5;
  keySpamIntervalMins = 6;
  keySpamIntervalSecs = 7;
  keySpamIntervalMs = 8;
  keySpamRepeatMode = 0;
  keySpamRepeatTimes = 3;
  g_HoldModeAuto.store(true);
  g_HoldModeKeySpam.store(true);
  g_TurboAuto.store(true);
  g_PanicCombo.store(kPanicOff);
  EXPECT_EQ(BuildSettingsJson(),
            "{\"sh\":1,\"sm\":2,\"ss\":3,\"sms\":4,\"sbtn\":2,\"stype\":1,\"rptMode\":0,"
            "\"rptTimes\":1000000000,\"locMode\":1,\"fixedX\":-15,\"fixedY\":2160,\"tmv\":false,"
            "\"tcl\":false,\"tsc\":false,\"tke\":false,\"tre\":true,\"tspd\":0.25,\"tloop\":true,"
            "\"tloopMs\":-1,\"ksh\":5,\"ksm\":6,\"kss\":7,\"ksms\":8,\"ksRptMode\":0,\"ksRptTimes\":3,"
            "\"holdAuto\":true,\"holdKeySpam\":true,\"jitterMs\":0,\"jitterRadius\":0,\"ksJitterMs\":0,\"sequence\":[],\"turbo\":true,\"panicCombo\":0}");
}

TEST_F(StatusJsonTest, PlaybackSpeedUsesDefaultStreamFormatting) {
  struct Case {
    float speed;
    const char* text;
  } cases[] = {{1.0f, "1"}, {0.5f, "0.5"}, {0.25f, "0.25"}, {0.1f, "0.1"}, {2.0f / 3.0f, "0.666667"},
               {1234567.0f, "1.23457e+06"}, {1e-7f, "1e-07"}, {-3.5f, "-3.5"}, {100000.0f, "100000"}};
  for (const Case& c : cases) {
    fPlaybackSpeed = c.speed;
    EXPECT_NE(BuildSettingsJson().find(std::string(",\"tspd\":") + c.text + ",\"tloop\":"), std::string::npos)
        << c.text;
  }
}

// ---- comma lists ---------------------------------------------------------------

TEST(CommaFields, NumberField) {
  struct Case {
    const char* field;
    double current;
    double expected;
  } cases[] = {
      {"5", 1, 5},          {"  7.25", 1, 7.25},   {"7.25  ", 1, 7.25}, {"-3", 1, -3},
      {"+4", 1, 4},         {"1e3", 1, 1000},      {"", 9, 9},          {"   ", 9, 9},
      {"abc", 9, 9},        {"5x", 9, 9},          {"5 5", 9, 9},       {"inf", 9, 9},
      {"-inf", 9, 9},       {"nan", 9, 9},         {"1e400", 9, 9},     {"0x10", 9, 9},
      {"+-1", 9, 9},        {".5", 9, 0.5},        {"true", 9, 9},
  };
  for (const Case& c : cases) EXPECT_EQ(FieldNumber(c.field, c.current), c.expected) << '"' << c.field << '"';
}

TEST(CommaFields, IntAndCountFields) {
  EXPECT_EQ(FieldInt("2.9", 0), 2);
  EXPECT_EQ(FieldInt("-2.9", 0), -2);
  EXPECT_EQ(FieldInt("x", 7), 7);
  EXPECT_EQ(FieldInt("1e12", 0), 2147483647);
  EXPECT_EQ(FieldInt("-1e12", 0), -2147483647 - 1);

  struct Case {
    const char* field;
    int current;
    int expected;
  } counts[] = {
      {"25", 10, 25},       {"25.9", 10, 25},     {"0", 10, 0},     {"-5", 10, 0},
      {"5000000000", 10, 1000000000},             {"1000000000", 1, 1000000000},
      {"abc", 10, 10},      {"abc", 0, 0},        {"abc", -3, 0},   {"0.5", 10, 0},
  };
  for (const Case& c : counts) EXPECT_EQ(FieldCount(c.field, c.current), c.expected) << c.field << " / " << c.current;
}

TEST(CommaFields, IntervalGroupCarriesDownwardOnly) {
  struct Case {
    const char *h, *m, *s, *ms;
    int eh, em, es, ems;
  } cases[] = {
      {"0.5", "0", "0", "0", 0, 30, 0, 0},
      {"1.5", "0", "0", "0", 1, 30, 0, 0},
      {"0", "90", "0", "0", 0, 90, 0, 0},            // never upward
      {"0", "0", "1", "500", 0, 0, 1, 500},
      {"0", "0.5", "0", "0", 0, 0, 30, 0},
      {"0", "0", "1.25", "0", 0, 0, 1, 250},
      {"0", "0", "0", "2.5", 0, 0, 0, 3},            // milliseconds round
      {"0.001", "0", "0", "0", 0, 0, 3, 600},        // 3,600 ms: 3 s 600 ms
      {"0.0001", "0", "0", "0", 0, 0, 0, 360},
      {"2000000", "0", "0", "0", 1000000, 0, 0, 0},  // clamped
      {"-1", "-1", "-1", "-1", 0, 0, 0, 0},
      {"0", "0", "0", "2000000", 0, 0, 0, 1000000},
      {"1.75", "59.5", "59.5", "999", 1, 104, 89, 1499},
  };
  for (const Case& c : cases) {
    int h = 9, m = 9, s = 9, ms = 9;
    ApplyIntervalFields(c.h, c.m, c.s, c.ms, h, m, s, ms);
    EXPECT_EQ(h, c.eh) << c.h << ',' << c.m << ',' << c.s << ',' << c.ms;
    EXPECT_EQ(m, c.em) << c.h << ',' << c.m << ',' << c.s << ',' << c.ms;
    EXPECT_EQ(s, c.es) << c.h << ',' << c.m << ',' << c.s << ',' << c.ms;
    EXPECT_EQ(ms, c.ems) << c.h << ',' << c.m << ',' << c.s << ',' << c.ms;
  }
  // Unparsable fields keep the current values.
  int h = 2, m = 3, s = 4, ms = 5;
  ApplyIntervalFields("x", "", "y", "z", h, m, s, ms);
  EXPECT_EQ((std::vector<int>{h, m, s, ms}), (std::vector<int>{2, 3, 4, 5}));
}

class CommaListTest : public StatusJsonTest {};

TEST_F(CommaListTest, SpammerListAppliesItsNineFields) {
  ApplyAutoClickerUpdate("0,1,2.5,30,1,1,0,25,1");
  EXPECT_EQ((std::vector<int>{autoClickIntervalHours, autoClickIntervalMins, autoClickIntervalSecs,
                              autoClickIntervalMs, autoClickerButtonIdx, autoClickClickType,
                              autoClickRepeatMode, autoClickRepeatTimes, autoClickLocationMode.load()}),
            (std::vector<int>{0, 1, 2, 530, 1, 1, 0, 25, 1}));
}

// The page changes the intervals on the main thread while the autosave
// serialises them and the workers read them: every value read is one that was
// written, never a mix. (Under the thread sanitizer this also proves that both
// sides access the settings atomically.)
TEST_F(CommaListTest, SettingsChangedByThePageAreReadWholeByOtherThreads) {
  std::atomic<bool> stop{false};
  std::atomic<int> lines{0};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const std::string line = SerializeSettings();
      std::vector<std::string> f = SplitString(line, ',');
      const bool ok = f.size() == 46 && (f[3] == "100" || f[3] == "250") && (f[26] == "100" || f[26] == "250") &&
                      (f[7] == "10" || f[7] == "99");
      if (!ok) torn.fetch_add(1);
      lines.fetch_add(1);
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& t;
    ~Join() {
      stop.store(true);
      t.join();
    }
  } join{stop, reader};
  const char* lists[2][2] = {{"0,0,0,100,0,0,1,10,0", "0,0,0,100,1,10"}, {"0,0,0,250,0,0,1,99,0", "0,0,0,250,1,99"}};
  for (int i = 0; i < 2000 || lines.load() < 50; ++i) {
    ApplyAutoClickerUpdate(lists[i % 2][0]);
    ApplyKeySpamUpdate(lists[i % 2][1]);
  }
  stop.store(true);
  EXPECT_EQ(torn.load(), 0);
}

TEST_F(CommaListTest, ShortListsChangeNothingAndExtraFieldsAreIgnored) {
  std::string before = BuildSettingsJson();
  ApplyAutoClickerUpdate("1,1,1,1,1,1,0,5");  // 8 fields
  ApplyAutoClickerUpdate("1,1,1,1,1,1,0,5,");  // a trailing comma adds no field
  ApplyKeySpamUpdate("1,1,1,1,0");          // 5 fields
  ApplyAutoClickerUpdate("");
  EXPECT_EQ(BuildSettingsJson(), before);

  ApplyAutoClickerUpdate("0,0,0,250,2,0,0,3,1,99,junk");
  EXPECT_EQ(autoClickIntervalMs, 250);
  EXPECT_EQ(autoClickerButtonIdx, 2);
  EXPECT_EQ(autoClickRepeatTimes, 3);
  EXPECT_EQ(autoClickLocationMode.load(), 1);
  ApplyKeySpamUpdate("0,0,2,0,0,4,77");
  EXPECT_EQ(keySpamIntervalSecs, 2);
  EXPECT_EQ(keySpamIntervalMs, 0);
  EXPECT_EQ(keySpamRepeatMode, 0);
  EXPECT_EQ(keySpamRepeatTimes, 4);
}

TEST_F(CommaListTest, RepeatCountRules) {
  struct Case {
    int current;
    const char* field;
    int expected;
  } cases[] = {{12, "abc", 12}, {12, "-5", 0}, {12, "5000000000", 1000000000}, {0, "abc", 0}, {12, "", 12}};
  for (const Case& c : cases) {
    autoClickRepeatTimes = c.current;
    ApplyAutoClickerUpdate(std::string("0,0,0,100,0,0,0,") + c.field + ",0");
    EXPECT_EQ(autoClickRepeatTimes, c.expected) << c.field;
    keySpamRepeatTimes = c.current;
    ApplyKeySpamUpdate(std::string("0,0,0,100,0,") + c.field);
    EXPECT_EQ(keySpamRepeatTimes, c.expected) << c.field;
  }
}

TEST_F(CommaListTest, EmptyFieldsKeepCurrentValues) {
  autoClickIntervalMins = 4;
  autoClickerButtonIdx = 1;
  ApplyAutoClickerUpdate(",,,,,,,,");
  EXPECT_EQ(autoClickIntervalMins, 4);
  EXPECT_EQ(autoClickIntervalMs, 100);
  EXPECT_EQ(autoClickerButtonIdx, 1);
  EXPECT_EQ(autoClickRepeatTimes, 10);
}

TEST_F(CommaListTest, ChangesAreCopiedIntoTheCurrentProfile) {
  ApplyAutoClickerUpdate("0,0,0,350,0,0,1,10,0");
  std::string afterSpammer;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    afterSpammer = profiles[0].settingsLine;
  }
  EXPECT_FALSE(afterSpammer.empty());
  ApplyKeySpamUpdate("0,0,0,45,1,10");
  std::lock_guard<std::mutex> lock(profileMutex);
  EXPECT_NE(profiles[0].settingsLine, afterSpammer);
}

// ---- the status poll ----------------------------------------------------------

TEST_F(StatusJsonTest, PollWritesStatusAndChangedSettings) {
  std::string statusPath = GetStatusFilePath();
  std::string panelPath = GetPanelSettingsFilePath();
  std::string status = RunStatusPoll();
  EXPECT_EQ(status, Status());
  EXPECT_EQ(Slurp(statusPath), status);
  EXPECT_EQ(Slurp(panelPath), BuildSettingsJson());

  // Unchanged settings: the file is left alone (a removed file stays away).
  ASSERT_EQ(::unlink(panelPath.c_str()), 0);
  EXPECT_EQ(BuildSettingsJson(), BuildSettingsJson());
  RunStatusPoll();
  EXPECT_FALSE(Exists(panelPath));

  // A change is written at the next poll.
  autoClickIntervalMs = 777;
  RunStatusPoll();
  EXPECT_EQ(Slurp(panelPath), BuildSettingsJson());

  // The status file follows every poll.
  isAutoClicking.store(true);
  status = RunStatusPoll();
  EXPECT_NE(status.find("\"autoClicking\":true"), std::string::npos);
  EXPECT_EQ(Slurp(statusPath), status);
}

TEST_F(StatusJsonTest, FailedSettingsWriteIsRetried) {
  std::string panelPath = GetPanelSettingsFilePath();
  RunStatusPoll();
  ::unlink(panelPath.c_str());
  ASSERT_EQ(::mkdir(panelPath.c_str(), 0700), 0);  // cannot be opened as a file
  autoClickIntervalMs = 4321;
  std::string status = RunStatusPoll();
  EXPECT_FALSE(status.empty());
  ASSERT_EQ(::rmdir(panelPath.c_str()), 0);
  RunStatusPoll();  // same settings as the failed write: written now
  EXPECT_EQ(Slurp(panelPath), BuildSettingsJson());
  EXPECT_NE(Slurp(panelPath).find("\"sms\":4321"), std::string::npos);
}

}  // namespace
