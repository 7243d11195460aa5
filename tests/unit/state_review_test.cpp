// Persistence corner cases: leftovers of an earlier process that ran under
// the same process id, the memory a loaded profile keeps, and the keys the
// app settings file and the page's setter share or do not share.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/atomic_file.h"
#include "state_test_util.h"

using namespace statetest;
namespace fs = std::filesystem;

namespace {

class StateReviewTest : public StateTest {};

}  // namespace

// An earlier process with our process id was stopped in the middle of writes
// and left temporary files behind; the start-up clean-up keeps them because
// that id is alive. Writing the same files again must still succeed.
TEST_F(StateReviewTest, LeftoverTempFilesOfOurOwnProcessIdDoNotBlockWrites) {
  const std::string target = dir_ + "/appsettings.txt";
  WriteText(target, "old\n");
  // Far more names than this test program writes files before this point.
  constexpr int kLeftovers = 1024;
  const std::string prefix = target + ".tmp-" + std::to_string(::getpid()) + "-";
  for (int n = 0; n < kLeftovers; ++n) WriteText(prefix + std::to_string(n), "half");
  RemoveStaleTempFiles(target);
  ASSERT_TRUE(Exists(prefix + "0"));  // our id is alive: kept

  for (const char* content : {"first\n", "second\n"}) {
    SCOPED_TRACE(content);
    EXPECT_TRUE(WriteFileAtomically(target, content));
    EXPECT_EQ(Slurp(target), content);
  }
}

// A profile without events that is followed at once by another profile must
// not keep room for the following profile's recording.
TEST_F(StateReviewTest, AnEmptyProfileDoesNotReserveTheNextRecording) {
  constexpr size_t kEvents = 20000;
  std::string text = "SETTINGS:" + std::string(kFreshSettings) + "\nCURRENT:1\nPROFILE:" + kDefaultProfileName +
                     "\nPROFILE:Empty\nPROFILE:Big\n";
  for (size_t i = 0; i < kEvents; ++i) text += "1," + std::to_string(i) + ",1,2,0,0,0,0\n";
  text += "PROFILE:Last\n";
  WriteText(SessionPath(), text);
  ASSERT_TRUE(LoadSessionState());
  std::vector<MacroProfile> got;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    // The fourth profile is beyond the limit: the current one, the default
    // and the earliest other one are kept.
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[2].events.size(), kEvents);
    for (size_t i : {0u, 1u}) {
      SCOPED_TRACE(profiles[i].name);
      EXPECT_TRUE(profiles[i].events.empty());
      EXPECT_LT(profiles[i].events.capacity(), 16u);
    }
  }
}

// The file and the page name most on/off settings alike; the hotkey lock is
// hotkeyLockOn in the file and hotkeyLock from the page, the maximized flag
// and the sets come only from the file, min: keys only from the page.
TEST_F(StateReviewTest, FileKeysAndPageKeysReachTheRightSettings) {
  struct Case {
    const char* key;
    bool fromFile;  // read by LoadAppSettings
    bool fromPage;  // taken by setAppSetting
    std::function<bool()> changed;  // the setting left its default
  } cases[] = {
      {"alwaysOnTop", true, true, [] { return g_AlwaysOnTop; }},
      {"launchOnStartup", true, true, [] { return g_LaunchOnStartup; }},
      {"startMinimized", true, true, [] { return g_StartMinimized; }},
      {"hotkeysEnabled", true, true, [] { return !g_HotkeysEnabled.load(); }},
      {"stopToolsWithMacro", true, true, [] { return !g_StopToolsWithMacro.load(); }},
      {"disableAnimations", true, true, [] { return g_DisableAnimations; }},
      {"performanceMode", true, true, [] { return !g_SiteDesign; }},
      {"snapAnimation", true, true, [] { return !g_SnapAnimation; }},
      {"showWarnings", true, true, [] { return !g_ShowWarnings; }},
      {"hotkeyLockOn", true, false, [] { return !g_HotkeyLockEnabled.load(); }},
      {"hotkeyLock", false, true, [] { return !g_HotkeyLockEnabled.load(); }},
      {"windowMaximized", true, false, [] { return g_SavedMaximized; }},
      {"min:panel-ui", false, true, [] { return g_MinimizedPanels.count("panel-ui") == 1; }},
  };
  // The value that moves each setting away from its default.
  auto valueFor = [](const std::string& key) {
    for (const char* defaultOn : {"hotkeysEnabled", "stopToolsWithMacro", "snapAnimation", "showWarnings",
                                  "hotkeyLockOn", "hotkeyLock"})
      if (key == defaultOn) return "0";
    return "1";
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    ResetAppSettingsForTest();
    WriteText(GetAppSettingsFilePath(), std::string(c.key) + "=" + valueFor(c.key) + "\n");
    LoadAppSettings();
    EXPECT_EQ(c.changed(), c.fromFile) << "from the file";

    ResetAppSettingsForTest();
    BindSetAppSetting(std::string(c.key) + "," + valueFor(c.key));
    EXPECT_EQ(c.changed(), c.fromPage) << "from the page";
  }
}
