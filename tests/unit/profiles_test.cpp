// Profiles: the list JSON, add, delete, switch, clear, the default profile and
// the refusals while recording.
#include <gtest/gtest.h>

#include "state_test_util.h"

using namespace statetest;

namespace {

class ProfilesTest : public StateTest {
 protected:
  // What start-up does: load the session, fall back to the default profile.
  void StartUp() {
    if (!LoadSessionState()) SetProfiles({{kDefaultProfileName, "", {}}});
    EnsureDefaultProfileExists();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> n;
    for (const MacroProfile& p : GetProfiles()) n.push_back(p.name);
    return n;
  }
  int Current() {
    int c = -1;
    GetProfiles(&c);
    return c;
  }
};

}  // namespace

TEST_F(ProfilesTest, FreshStartHasOnlyTheDefaultProfile) {
  StartUp();
  EXPECT_EQ(BindGetProfiles(),
            "{\"current\":0,\"rev\":0,\"currentName\":\"Default Tracking Profile\","
            "\"names\":[\"Default Tracking Profile\"],\"cap\":3,\"defaultName\":\"Default Tracking Profile\"}");
}

TEST_F(ProfilesTest, JsonEscapesNamesAndHandlesABadIndex) {
  SetProfiles({{kDefaultProfileName, "", {}}, {"say \"hi\"\\", "", {}}}, 1);
  g_ProfilesRev.store(5);
  EXPECT_EQ(BindGetProfiles(),
            "{\"current\":1,\"rev\":5,\"currentName\":\"say \\\"hi\\\"\\\\\","
            "\"names\":[\"Default Tracking Profile\",\"say \\\"hi\\\"\\\\\"],\"cap\":3,"
            "\"defaultName\":\"Default Tracking Profile\"}");
  SetProfiles({}, 4);
  EXPECT_EQ(BindGetProfiles(),
            "{\"current\":4,\"rev\":5,\"currentName\":\"\",\"names\":[],\"cap\":3,"
            "\"defaultName\":\"Default Tracking Profile\"}");
}

TEST_F(ProfilesTest, AddingUpToThreeProfilesCopiesTheCurrentSettings) {
  StartUp();
  autoClickRepeatTimes = 55;
  BindAddProfile("Work");
  BindAddProfile("Play");
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "Work", "Play"}));
  EXPECT_EQ(Current(), 2);
  EXPECT_EQ(autoClickRepeatTimes, 55);  // live settings stay as they were
  EXPECT_EQ(GetProfiles()[2].settingsLine, SerializeProfileSettings());
  EXPECT_TRUE(GetProfiles()[2].events.empty());
  EXPECT_EQ(g_ProfilesRev.load(), 2);

  BindAddProfile("Fourth");  // refused silently, the revision still moves
  EXPECT_EQ(Names().size(), 3u);
  EXPECT_EQ(Current(), 2);
  EXPECT_EQ(g_ProfilesRev.load(), 3);

  BindAddProfile("");  // an empty name does nothing at all
  EXPECT_EQ(g_ProfilesRev.load(), 3);
}

TEST_F(ProfilesTest, LineBreaksInANewNameBecomeSpaces) {
  StartUp();
  BindAddProfile("a\nb\r\nc");
  EXPECT_EQ(Names().back(), "a b  c");
  SaveSessionState();
  SetProfiles({});
  ASSERT_TRUE(LoadSessionState());
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "a b  c"}));
}

TEST_F(ProfilesTest, DeletingTheLastProfileMakesThePreviousCurrentAndLoadsIt) {
  StartUp();
  BindAddProfile("A");
  autoClickRepeatTimes = 7;
  SnapshotActiveProfileSettings();
  BindAddProfile("B");
  autoClickRepeatTimes = 9;
  SnapshotActiveProfileSettings();
  ASSERT_EQ(Current(), 2);
  BindDeleteProfile();
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "A"}));
  EXPECT_EQ(Current(), 1);
  EXPECT_EQ(autoClickRepeatTimes, 7);
}

TEST_F(ProfilesTest, DeletingAProfileInTheMiddleKeepsTheIndex) {
  SetProfiles({{kDefaultProfileName, "", {}}, {"A", "", {}}, {"B", "", {Ev(1, 0)}}}, 1);
  autoClickRepeatTimes = 99;
  BindDeleteProfile();
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "B"}));
  EXPECT_EQ(Current(), 1);
  EXPECT_EQ(autoClickRepeatTimes, 10);  // B had no settings line: defaults
}

TEST_F(ProfilesTest, DeletingTheDefaultProfileResetsIt) {
  SetProfiles({{kDefaultProfileName, "1,2,3", {Ev(1, 0), Ev(1, 1)}}, {"A", "", {}}}, 0);
  autoClickIntervalMs = 5;
  keySpamChordMode.store(true);
  vkRecord.store(65);
  bRecordKeyboard = false;
  BindDeleteProfile();
  std::vector<MacroProfile> got = GetProfiles();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].events.empty());
  EXPECT_EQ(got[0].settingsLine, kFreshProfileSettings);
  EXPECT_EQ(autoClickIntervalMs, 100);
  EXPECT_FALSE(keySpamChordMode.load());
  EXPECT_EQ(vkRecord.load(), 65);  // hotkeys and recorder settings untouched
  EXPECT_FALSE(bRecordKeyboard);
  EXPECT_EQ(g_ProfilesRev.load(), 1);
}

TEST_F(ProfilesTest, TheOnlyProfileIsNeverDeleted) {
  SetProfiles({{"Solo", "", {Ev(1, 0)}}});
  BindDeleteProfile();
  EXPECT_EQ(Names(), std::vector<std::string>{"Solo"});
  EXPECT_EQ(GetProfiles()[0].events.size(), 1u);
  EXPECT_EQ(g_ProfilesRev.load(), 1);
}

TEST_F(ProfilesTest, SwitchingLoadsTheProfileSettingsAndKeepsEvents) {
  SetProfiles({{kDefaultProfileName, "", {Ev(1, 0)}},
               {"A", "0,0,2,0,1,0,0,3,1,40,50,0,0,1,0,0,4,65,65|66,1", {Ev(1, 0), Ev(1, 1)}}});
  struct Case {
    std::string arg;
    int current;
    int rev;
  } cases[] = {
      {"1", 1, 1}, {"x", 1, 2}, {"-1", 1, 3}, {"2", 1, 4}, {"0", 0, 5}, {" 1]", 1, 6}, {"99999999999", 1, 7},
  };
  for (const Case& c : cases) {
    BindSwitchProfile(c.arg);
    EXPECT_EQ(Current(), c.current) << c.arg;
    EXPECT_EQ(g_ProfilesRev.load(), c.rev) << c.arg;
    if (c.arg == "1") {
      EXPECT_EQ(autoClickIntervalSecs, 2);
      EXPECT_EQ(autoClickFixedX.load(), 40);
      EXPECT_EQ(keySpamTargetCount.load(), 2);
      EXPECT_TRUE(keySpamChordMode.load());
    }
    if (c.arg == "0") {
      // An empty settings line means the defaults.
      EXPECT_EQ(autoClickIntervalSecs, 0);
      EXPECT_EQ(keySpamTargetCount.load(), 1);
      EXPECT_FALSE(keySpamChordMode.load());
    }
  }
  EXPECT_EQ(GetProfiles()[0].events.size(), 1u);
  EXPECT_EQ(GetProfiles()[1].events.size(), 2u);
}

TEST_F(ProfilesTest, ClearEmptiesEventsAndResetsSettings) {
  SetProfiles({{kDefaultProfileName, "", {}}, {"A", "1,1,1", {Ev(1, 0), Ev(1, 1)}}}, 1);
  keySpamIntervalMs = 5;
  BindClearProfile();
  std::vector<MacroProfile> got = GetProfiles();
  EXPECT_TRUE(got[1].events.empty());
  EXPECT_EQ(got[1].settingsLine, kFreshProfileSettings);
  EXPECT_EQ(keySpamIntervalMs, 100);
  EXPECT_EQ(Names().size(), 2u);
}

TEST_F(ProfilesTest, EveryOperationIsRefusedWhileRecording) {
  SetProfiles({{kDefaultProfileName, "", {Ev(1, 0)}}, {"A", "", {Ev(1, 0)}}}, 1);
  autoClickRepeatTimes = 33;
  isRecording.store(true);
  BindSwitchProfile("0");
  BindAddProfile("New");
  BindDeleteProfile();
  BindClearProfile();
  EXPECT_EQ(g_ProfilesRev.load(), 0);
  EXPECT_EQ(Current(), 1);
  EXPECT_EQ(Names().size(), 2u);
  EXPECT_EQ(GetProfiles()[1].events.size(), 1u);
  EXPECT_EQ(autoClickRepeatTimes, 33);
}

TEST_F(ProfilesTest, DefaultProfileIsInsertedInFrontOfAnotherName) {
  WriteText(SessionPath(), "SETTINGS:" + std::string(kFreshSettings) + "\nCURRENT:0\nPROFILE:Mine\n1,0,1,1,0,0,0,0\n");
  StartUp();
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "Mine"}));
  EXPECT_EQ(Current(), 1);
  EXPECT_EQ(GetProfiles()[1].events.size(), 1u);

  // Already present (anywhere): nothing changes.
  EnsureDefaultProfileExists();
  EXPECT_EQ(Names().size(), 2u);
  SetProfiles({});
  EnsureDefaultProfileExists();
  EXPECT_EQ(Names(), std::vector<std::string>{kDefaultProfileName});
  EXPECT_EQ(Current(), 0);
}

// A file with more profiles than the limit keeps the current one, the default
// and the earliest others; a full list refuses another profile.
TEST_F(ProfilesTest, MoreThanThreeProfilesFromTheFileKeepTheCurrentAndBlockAdding) {
  std::string text = "SETTINGS:" + std::string(kFreshSettings) + "\nCURRENT:3\n";
  for (const char* n : {kDefaultProfileName, "B", "C", "D"}) text += std::string("PROFILE:") + n + "\n";
  WriteText(SessionPath(), text);
  StartUp();
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "B", "D"}));
  EXPECT_EQ(Current(), 2);
  BindAddProfile("E");
  EXPECT_EQ(Names().size(), 3u);
  BindDeleteProfile();
  BindAddProfile("E");
  EXPECT_EQ(Names(), (std::vector<std::string>{kDefaultProfileName, "B", "E"}));
}

TEST_F(ProfilesTest, SnapshotStoresTheCurrentSettings) {
  SetProfiles({{kDefaultProfileName, "", {}}, {"A", "", {}}}, 1);
  keySpamRepeatTimes = 4;
  SnapshotActiveProfileSettings();
  EXPECT_EQ(GetProfiles()[1].settingsLine, SerializeProfileSettings());
  EXPECT_TRUE(GetProfiles()[0].settingsLine.empty());
  SetProfiles({}, 0);
  SnapshotActiveProfileSettings();  // no profile: nothing to store, no crash
  EXPECT_TRUE(GetProfiles().empty());
}
