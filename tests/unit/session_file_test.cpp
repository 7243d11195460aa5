// The session file: the exact text written, change detection, the busy lock,
// retries after failed writes and the loader's rules.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "state_test_util.h"

using namespace statetest;

namespace {

class SessionFileTest : public StateTest {
 protected:
  // Saves, then loads the file into a fresh state and returns what came back.
  std::vector<MacroProfile> RoundTrip(int* current = nullptr) {
    SaveSessionState();
    SetProfiles({});
    EXPECT_TRUE(LoadSessionState());
    return GetProfiles(current);
  }
};

std::string Header(const std::string& settings = kFreshSettings, int current = 0) {
  return "SETTINGS:" + settings + "\nCURRENT:" + std::to_string(current) + "\n";
}

}  // namespace

TEST_F(SessionFileTest, WritesTheDocumentedText) {
  SetProfiles({{kDefaultProfileName, "", {}}});
  SaveSessionState();
  EXPECT_EQ(Slurp(SessionPath()), Header() + "PROFILE:Default Tracking Profile\n");

  SetProfiles({{kDefaultProfileName, "", {Ev(2, 1.5, 100, 200, 2), Ev(3, 2, 0, 0, 0, 65, true)}},
               {"Second", kFreshProfileSettings, {}}},
              1);
  SaveSessionState();
  EXPECT_EQ(Slurp(SessionPath()), Header(kFreshSettings, 1) +
                                      "PROFILE:Default Tracking Profile\n"
                                      "2,1.5,100,200,2,0,0,0\n"
                                      "3,2,0,0,0,65,1,0\n"
                                      "PROFILE:Second\n"
                                      "PROFILESETTINGS:" +
                                      kFreshProfileSettings + "\n");
}

TEST_F(SessionFileTest, SavingTwiceWithoutAChangeWritesOnce) {
  SetProfiles({{kDefaultProfileName, "", {Ev(1, 0, 1, 2)}}});
  SaveSessionState();
  ASSERT_TRUE(LastSessionSaveStats().wrote);
  const ino_t first = Inode(SessionPath());
  SaveSessionState();
  EXPECT_FALSE(LastSessionSaveStats().wrote);
  EXPECT_FALSE(LastSessionSaveStats().rebuilt);
  EXPECT_EQ(Inode(SessionPath()), first);  // a replaced file would have a new inode
  // The shutdown save compares the full text and finds it unchanged too.
  SaveSessionStateBlocking();
  EXPECT_TRUE(LastSessionSaveStats().rebuilt);
  EXPECT_FALSE(LastSessionSaveStats().wrote);
  EXPECT_EQ(Inode(SessionPath()), first);
}

// Every kind of change the program makes must reach the file at the next
// autosave, including changes that keep the number of events.
TEST_F(SessionFileTest, EveryKindOfChangeIsWrittenByTheNextAutosave) {
  std::vector<UnifiedEvent> base;
  for (int i = 0; i < 1000; ++i) base.push_back(Ev(1, 1.0 + i * 0.5, i, -i));
  struct Change {
    const char* name;
    std::function<void()> apply;
  } changes[] = {
      {"append an event", [] { profiles[0].events.push_back(Ev(4, 999, 0, 0, 0, 0, false, 120)); }},
      {"normalise times in place",
       [] {
         double first = profiles[0].events.front().time;
         for (auto& e : profiles[0].events) e.time -= first;
       }},
      {"change one event in the middle", [] { profiles[0].events[517].x += 1; }},
      {"clear and record the same count again",
       [] {
         auto old = profiles[0].events;
         profiles[0].events.clear();
         for (auto& e : old) {
           e.y += 3;
           profiles[0].events.push_back(e);
         }
       }},
      {"rename", [] { profiles[1].name = "Renamed"; }},
      {"profile settings", [] { profiles[1].settingsLine = "1,2,3"; }},
      {"current profile", [] { currentProfileIdx = 1; }},
      {"tool setting", [] { autoClickRepeatTimes = 42; }},
      {"hotkey", [] { vkRecord.store(65); }},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    ResetToolStateForTest();
    SetProfiles({{kDefaultProfileName, "", base}, {"Other", "", {}}});
    SaveSessionState();
    SaveSessionState();
    ASSERT_FALSE(LastSessionSaveStats().wrote);
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      c.apply();
      // "change one event in the middle" is the one change that needs the
      // data revision; the others are seen without it.
      if (std::string(c.name) == "change one event in the middle") g_ProfileDataRev.fetch_add(1);
    }
    int current = 0;
    std::vector<MacroProfile> expected = GetProfiles(&current);
    const std::string expectedSettings = SerializeSettings();
    SaveSessionState();
    EXPECT_TRUE(LastSessionSaveStats().wrote);
    ResetToolStateForTest();
    SetProfiles({});
    ASSERT_TRUE(LoadSessionState());
    int loadedCurrent = -1;
    std::vector<MacroProfile> loaded = GetProfiles(&loadedCurrent);
    EXPECT_EQ(SerializeSettings(), expectedSettings);
    EXPECT_EQ(loadedCurrent, current);
    ASSERT_EQ(loaded.size(), expected.size());
    for (size_t i = 0; i < loaded.size(); ++i) {
      EXPECT_EQ(loaded[i].name, expected[i].name);
      EXPECT_EQ(loaded[i].events, expected[i].events);
    }
  }
}

TEST_F(SessionFileTest, AutosaveSkipsWhileTheLockIsBusyAndShutdownWaits) {
  SetProfiles({{kDefaultProfileName, "", {Ev(1, 0, 5, 5)}}});
  std::unique_lock<std::mutex> held(profileMutex);
  // The stats are read by the saving thread: the save takes the stats lock
  // before the profile lock, so no thread reads them holding the profile lock.
  SessionSaveStats skipped;
  std::thread([&] {
    SaveSessionState();
    skipped = LastSessionSaveStats();
  }).join();
  EXPECT_TRUE(skipped.skippedBusy);
  EXPECT_FALSE(Exists(SessionPath()));

  std::atomic<bool> done{false};
  std::thread shutdownSave([&] {
    SaveSessionStateBlocking();
    done.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done.load());
  profiles[0].events.push_back(Ev(1, 1, 6, 6));  // a change made while it waits
  held.unlock();
  shutdownSave.join();
  EXPECT_TRUE(LastSessionSaveStats().wrote);
  EXPECT_EQ(Slurp(SessionPath()), Header() + "PROFILE:Default Tracking Profile\n1,0,5,5,0,0,0,0\n1,1,6,6,0,0,0,0\n");
}

TEST_F(SessionFileTest, AFailedWriteKeepsTheOldFileAndIsRetriedWithoutAChange) {
  SetProfiles({{kDefaultProfileName, "", {}}});
  g_SessionStateFilePath = dir_ + "/missing/session.dat";
  SaveSessionState();
  EXPECT_TRUE(LastSessionSaveStats().writeFailed);
  ASSERT_EQ(::mkdir((dir_ + "/missing").c_str(), 0700), 0);
  SaveSessionState();  // nothing changed, but the last write failed
  EXPECT_TRUE(LastSessionSaveStats().wrote);
  EXPECT_EQ(Slurp(g_SessionStateFilePath), Header() + "PROFILE:Default Tracking Profile\n");

  // A directory where the file should be: the write fails and the next save
  // retries; no temporary file is left behind.
  g_SessionStateFilePath = dir_ + "/blocked";
  ASSERT_EQ(::mkdir((g_SessionStateFilePath + "/").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((g_SessionStateFilePath + "/x").c_str(), 0700), 0);
  SaveSessionState();
  EXPECT_TRUE(LastSessionSaveStats().writeFailed);
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(SessionFileTest, ProfileNamesNeverBreakTheLineStructure) {
  SetProfiles({{"two\nlines\rhere", "", {Ev(1, 0, 1, 1)}}, {kDefaultProfileName, "", {}}});
  std::vector<MacroProfile> back = RoundTrip();
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].name, "two lines here");
  EXPECT_EQ(back[0].events.size(), 1u);
}

TEST_F(SessionFileTest, LargeRecordingsRoundTrip) {
  std::vector<UnifiedEvent> events;
  for (int i = 0; i < 50000; ++i)
    events.push_back(Ev(1 + i % 4, i / 100.0, i * 3 - 70000, -i, i % 4 == 1 ? 2u << (i % 3) : 0u,
                        i % 4 == 2 ? 65 + i % 26 : 0, i % 8 == 2, i % 4 == 3 ? 120 : 0));
  SetProfiles({{kDefaultProfileName, kFreshProfileSettings, events}, {"B", "", {Ev(1, 0.5, 1, 2)}}}, 1);
  int current = -1;
  std::vector<MacroProfile> back = RoundTrip(&current);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(current, 1);
  EXPECT_EQ(back[0].events, events);
  EXPECT_EQ(back[1].events.size(), 1u);
}

TEST_F(SessionFileTest, LoaderRules) {
  struct Case {
    std::string name;
    std::string text;
    bool result;
    std::vector<std::string> names;  // profiles after the load (unchanged when false)
    int current;
    std::vector<size_t> eventCounts;
    std::function<void()> check;
  } cases[] = {
      {"foreign first line", "hello\nCURRENT:0\nPROFILE:A\n", false, {"Before"}, 0, {0}, nullptr},
      {"SETTINGS without colon", "SETTINGS\nPROFILE:A\n", false, {"Before"}, 0, {0}, nullptr},
      {"empty file", "", false, {"Before"}, 0, {0}, nullptr},
      {"settings but no profile: applied, still false",
       "SETTINGS:1,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117\nCURRENT:0\n",
       false, {"Before"}, 0, {0}, [] { EXPECT_EQ(autoClickIntervalHours, 1); }},
      {"CURRENT beyond the list selects 0", Header(kFreshSettings, 7) + "PROFILE:A\nPROFILE:B\n", true,
       {"A", "B"}, 0, {0, 0}, nullptr},
      {"negative CURRENT selects 0", Header(kFreshSettings, -1) + "PROFILE:A\nPROFILE:B\n", true,
       {"A", "B"}, 0, {0, 0}, nullptr},
      {"CURRENT that is not a number", "SETTINGS:" + std::string(kFreshSettings) +
       "\nCURRENT:x\nPROFILE:A\nPROFILE:B\n", true, {"A", "B"}, 0, {0, 0}, nullptr},
      {"CURRENT selects", Header(kFreshSettings, 1) + "PROFILE:A\nPROFILE:B\n", true, {"A", "B"}, 1, {0, 0},
       nullptr},
      {"the second line is consumed whatever it holds",
       "SETTINGS:" + std::string(kFreshSettings) + "\nPROFILE:Lost\nPROFILE:Kept\n1,0,0,0,0,0,0,0\n", true,
       {"Kept"}, 0, {1}, nullptr},
      {"events before the first profile and stray settings are ignored",
       Header() + "1,0,0,0,0,0,0,0\nPROFILESETTINGS:1,1,1\nPROFILE:A\n1,0,0,0,0,0,0,0\n", true, {"A"}, 0, {1},
       nullptr},
      {"empty lines, bad lines, 7 and 9 fields",
       Header() + "PROFILE:A\n\n2,1.5,100,200,2,0,0,0\n2,1.5,100,200,2,0,0\n2,1.5,100,200,2,0,0,0,7\nnoise\n",
       true, {"A"}, 0, {2}, nullptr},
      {"empty name and empty profile settings", Header() + "PROFILE:\nPROFILESETTINGS:\n", true, {""}, 0, {0},
       nullptr},
      {"PROFILE is not a profile line", Header() + "PROFILE:A\nPROFILE\n", true, {"A"}, 0, {0}, nullptr},
      {"no final line feed", Header() + "PROFILE:A\n3,0,0,0,0,65,1,0", true, {"A"}, 0, {1}, nullptr},
      {"CRLF lines still load", "SETTINGS:" + std::string(kFreshSettings) + "\r\nCURRENT:1\r\nPROFILE:A\r\n"
       "PROFILE:B\r\n1,0.5,1,2,0,0,0,0\r\n", true, {"A\r", "B\r"}, 1, {0, 1}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetToolStateForTest();
    SetProfiles({{"Before", "", {}}});
    WriteText(SessionPath(), c.text);
    EXPECT_EQ(LoadSessionState(), c.result);
    int current = -1;
    std::vector<MacroProfile> got = GetProfiles(&current);
    ASSERT_EQ(got.size(), c.names.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, c.names[i]);
      EXPECT_EQ(got[i].events.size(), c.eventCounts[i]);
    }
    EXPECT_EQ(current, c.current);
    if (c.check) c.check();
  }
}

TEST_F(SessionFileTest, MissingFileLoadsNothing) {
  SetProfiles({});
  EXPECT_FALSE(LoadSessionState());
  EXPECT_TRUE(GetProfiles().empty());
  EXPECT_EQ(SerializeSettings(), kFreshSettings);
}

TEST_F(SessionFileTest, LoadedSettingsApplyAndFillAnEmptyCurrentProfileLine) {
  const std::string settings =
      "0,5,0,250,1,1,0,3,1,10,20,1,1,1,1,0,1,0,500,119,118,0,117,0,0,2,0,1,10,120,65,65|66,1,0,0,121";
  WriteText(SessionPath(), Header(settings, 1) + "PROFILE:A\nPROFILESETTINGS:" + kFreshProfileSettings +
                               "\nPROFILE:B\n");
  ASSERT_TRUE(LoadSessionState());
  std::vector<MacroProfile> got = GetProfiles();
  // The SETTINGS line rules, not B's line; a line of the previous version
  // gains the later fields at their defaults.
  EXPECT_EQ(SerializeSettings(), settings + ",0,0,0,0,0,0,1,0,0,0");
  EXPECT_EQ(got[0].settingsLine, kFreshProfileSettings);
  EXPECT_EQ(got[1].settingsLine, "0,5,0,250,1,1,0,3,1,10,20,0,0,2,0,1,10,65,65|66,1,0,0,0");
}
