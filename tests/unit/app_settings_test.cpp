// The data directory, the app settings file and its four bridge handlers, the
// theme file, the status file and the access marker file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/os_window.h"
#include "base/atomic_file.h"
#include "state_test_util.h"

using namespace statetest;

namespace {

class AppSettingsTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    for (const std::string& p : {GetThemeFilePath(), GetAccessMarkerFilePath(), GetStatusFilePath()})
      ::unlink(p.c_str());
  }
  void LoadFrom(const std::string& text) {
    WriteText(GetAppSettingsFilePath(), text);
    LoadAppSettings();
  }
};

const std::string kDefaultFile =
    "alwaysOnTop=0\nlaunchOnStartup=0\nstartMinimized=0\nhotkeysEnabled=1\nhotkeyLockOn=1\n"
    "stopToolsWithMacro=1\ndisableAnimations=0\nperformanceMode=0\nsnapAnimation=1\nshowWarnings=1\n"
    "seenWarnings=\nminimizedPanels=\npanelOrder=\nwindowX=0\nwindowY=0\nwindowWidth=420\n"
    "windowHeight=560\nwindowMaximized=0\nstartDelaySecs=2\nrememberScreenGrant=0\nkeepInTray=0\n"
    "colorScheme=system\n";

// Runs `body` in a child process with the given environment changes and
// returns its exit status; the data directory is worked out once per process,
// so each variant needs a process of its own.
int InChild(const std::vector<std::pair<const char*, const char*>>& env, const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) {
      if (value)
        ::setenv(name, value, 1);
      else
        ::unsetenv(name);
    }
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(AppSettingsTest, DataHomeFollowsTheEnvironmentRules) {
  struct Case {
    const char* xdg;
    const char* home;
    std::string expected;
  } cases[] = {
      {"/x/data", "/home/u", "/x/data"},
      {"relative/dir", "/home/u", "/home/u/.local/share"},
      {"", "/home/u", "/home/u/.local/share"},
      {nullptr, "/home/u", "/home/u/.local/share"},
      {nullptr, "", "/tmp/.local/share"},
      {nullptr, nullptr, "/tmp/.local/share"},
  };
  for (const Case& c : cases) {
    std::string got;
    int rc = InChild({{"XDG_DATA_HOME", c.xdg}, {"HOME", c.home}}, [&] { return XdgDataHome() == c.expected ? 0 : 1; });
    EXPECT_EQ(rc, 0) << (c.xdg ? c.xdg : "(unset)") << " / " << (c.home ? c.home : "(unset)");
  }
}

// Started as a separate process by the test below: the data directory is
// worked out once per process, so a fresh one is needed for every variant.
TEST(DataDirProbe, PrintsPaths) {
  if (!std::getenv("PMR_DATADIR_PROBE")) GTEST_SKIP() << "runs only as a child of the data directory test";
  const std::string first = OsDataDir();
  // Worked out once: a later change of the environment does not move it.
  ::setenv("XDG_DATA_HOME", "/elsewhere", 1);
  std::printf("@%s|%s|%s|%s|%s@\n", first.c_str(), OsDataDir().c_str(), GetAppSettingsFilePath().c_str(),
              GetThemeFilePath().c_str(), GetStatusFilePath().c_str());
}

namespace {
std::string RunProbe(const std::string& xdg) {
  int out[2];
  if (::pipe(out) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    ::setenv("PMR_DATADIR_PROBE", xdg.c_str(), 1);
    ::execl("/proc/self/exe", "probe", "--gtest_filter=DataDirProbe.PrintsPaths", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  size_t a = text.find('@'), b = text.rfind('@');
  return a == std::string::npos || b <= a ? text : text.substr(a + 1, b - a - 1);
}
}  // namespace

TEST_F(AppSettingsTest, DataDirectoryIsCreatedPrivateWithItsParents) {
  const std::string root = NewTempDir("datadir");
  const std::string xdg = root + "/a/b";
  const std::string dir = xdg + "/Pellomar";
  EXPECT_EQ(RunProbe(xdg), dir + "|" + dir + "|" + dir + "/appsettings.txt|" + dir + "/theme.txt|" + dir +
                               "/status.txt");
  for (const std::string& d : {root + "/a", xdg, dir}) {
    struct stat st {};
    ASSERT_EQ(::stat(d.c_str(), &st), 0) << d;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << d;
  }
  // An existing directory with looser permissions is tightened.
  ::chmod(dir.c_str(), 0755);
  RunProbe(xdg);
  struct stat st {};
  ::stat(dir.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::system(("rm -rf '" + root + "'").c_str());
}

TEST_F(AppSettingsTest, SaveWritesEveryKeyInOrder) {
  ASSERT_TRUE(SaveAppSettings());
  EXPECT_EQ(Slurp(GetAppSettingsFilePath()), kDefaultFile);

  g_AlwaysOnTop = true;
  g_SiteDesign = false;
  g_HotkeysEnabled.store(false);
  g_SeenWarningIds = {"zeta", "Alpha", "beta"};
  g_MinimizedPanels = {"panel-ui", "panel-flick"};
  g_PanelOrder = {"panel-tracker", "panel-ui"};
  g_SavedWindowX = -12;
  g_SavedWindowHeight = 700;
  g_SavedMaximized = true;
  ASSERT_TRUE(SaveAppSettings());
  EXPECT_EQ(Slurp(GetAppSettingsFilePath()),
            "alwaysOnTop=1\nlaunchOnStartup=0\nstartMinimized=0\nhotkeysEnabled=0\nhotkeyLockOn=1\n"
            "stopToolsWithMacro=1\ndisableAnimations=0\nperformanceMode=1\nsnapAnimation=1\nshowWarnings=1\n"
            "seenWarnings=Alpha,beta,zeta\nminimizedPanels=panel-flick,panel-ui\n"
            "panelOrder=panel-tracker,panel-ui\nwindowX=-12\nwindowY=0\nwindowWidth=420\nwindowHeight=700\n"
            "windowMaximized=1\nstartDelaySecs=2\nrememberScreenGrant=0\nkeepInTray=0\ncolorScheme=system\n");

  ResetAppSettingsForTest();
  LoadAppSettings();
  EXPECT_TRUE(g_AlwaysOnTop);
  EXPECT_FALSE(g_SiteDesign);
  EXPECT_FALSE(g_HotkeysEnabled.load());
  EXPECT_EQ(g_SeenWarningIds, (std::set<std::string>{"Alpha", "beta", "zeta"}));
  EXPECT_EQ(g_PanelOrder, (std::vector<std::string>{"panel-tracker", "panel-ui"}));
  EXPECT_EQ(g_SavedWindowX, -12);
  EXPECT_TRUE(g_HasSavedWindowPos);
  EXPECT_TRUE(g_SavedMaximized);
}

TEST_F(AppSettingsTest, LoadRules) {
  struct Case {
    std::string name;
    std::string text;
    std::function<void()> check;
  } cases[] = {
      {"missing file keeps defaults", "", [] {
         EXPECT_EQ(g_SavedWindowWidth, 420);
         EXPECT_FALSE(g_HasSavedWindowPos);
         EXPECT_TRUE(g_SiteDesign);
       }},
      {"width alone is no saved position", "windowWidth=800\n", [] {
         EXPECT_EQ(g_SavedWindowWidth, 800);
         EXPECT_FALSE(g_HasSavedWindowPos);
       }},
      {"windowX=12abc stores 12", "windowX=12abc\n", [] {
         EXPECT_EQ(g_SavedWindowX, 12);
         EXPECT_TRUE(g_HasSavedWindowPos);
       }},
      {"windowX=abc is ignored", "windowX=abc\n", [] {
         EXPECT_EQ(g_SavedWindowX, 0);
         EXPECT_FALSE(g_HasSavedWindowPos);
       }},
      {"window numbers: sign, space, range", "windowY= -40\nwindowHeight=99999999999\nwindowWidth=+10\n", [] {
         EXPECT_EQ(g_SavedWindowY, -40);
         EXPECT_EQ(g_SavedWindowHeight, 560);
         EXPECT_EQ(g_SavedWindowWidth, 10);
       }},
      {"only 1 is true", "alwaysOnTop=true\nstartMinimized=1\nwindowMaximized=yes\nsnapAnimation=0\n", [] {
         EXPECT_FALSE(g_AlwaysOnTop);
         EXPECT_TRUE(g_StartMinimized);
         EXPECT_FALSE(g_SavedMaximized);
         EXPECT_FALSE(g_SnapAnimation);
       }},
      {"performanceMode=1 turns the site design off", "performanceMode=1\n", [] {
         EXPECT_FALSE(g_SiteDesign);
       }},
      {"performanceMode other than 1 keeps it on", "performanceMode=2\n", [] { EXPECT_TRUE(g_SiteDesign); }},
      {"repeated panel order is ignored", "panelOrder=panel-flick\npanelOrder=panel-ui,panel-ui\n", [] {
         EXPECT_EQ(g_PanelOrder, std::vector<std::string>{"panel-flick"});
       }},
      {"empty fields in the order are skipped", "panelOrder=,panel-ui,,panel-flick,\n", [] {
         EXPECT_EQ(g_PanelOrder, (std::vector<std::string>{"panel-ui", "panel-flick"}));
       }},
      {"unknown minimized panels are dropped", "minimizedPanels=panel-ui,bogus\n", [] {
         EXPECT_EQ(g_MinimizedPanels, std::set<std::string>{"panel-ui"});
       }},
      {"seen warnings skip empty items", "seenWarnings=b,,a,\n", [] {
         EXPECT_EQ(g_SeenWarningIds, (std::set<std::string>{"a", "b"}));
       }},
      {"atomic flags", "hotkeysEnabled=0\nhotkeyLockOn=0\nstopToolsWithMacro=0\n", [] {
         EXPECT_FALSE(g_HotkeysEnabled.load());
         EXPECT_FALSE(g_HotkeyLockEnabled.load());
         EXPECT_FALSE(g_StopToolsWithMacro);
       }},
      {"junk lines, unknown keys, first = splits", "\nnoequals\n=1\nALWAYSONTOP=1\nlaunchOnStartup=1=1\n"
       "launchOnStartup\nshowWarnings=0\n", [] {
         EXPECT_FALSE(g_AlwaysOnTop);
         EXPECT_FALSE(g_LaunchOnStartup);
         EXPECT_FALSE(g_ShowWarnings);
       }},
      {"CRLF values are not 1", "alwaysOnTop=1\r\n", [] { EXPECT_FALSE(g_AlwaysOnTop); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppSettingsForTest();
    ::unlink(GetAppSettingsFilePath().c_str());
    if (!c.text.empty()) WriteText(GetAppSettingsFilePath(), c.text);
    LoadAppSettings();
    c.check();
  }
}

TEST_F(AppSettingsTest, PanelOrderParsing) {
  struct Case {
    std::string text;
    bool accepted;
    std::vector<std::string> order;
  } cases[] = {
      {"", true, {}},
      {",,", true, {}},
      {"panel-ui,panel-profile,panel-spammer,panel-keyspam,panel-tracker,panel-flick", true,
       {"panel-ui", "panel-profile", "panel-spammer", "panel-keyspam", "panel-tracker", "panel-flick"}},
      {"panel-flick,,panel-ui", true, {"panel-flick", "panel-ui"}},
      {"panel-ui,panel-ui", false, {"keep"}},
      {"panel-ui,Panel-Flick", false, {"keep"}},
      {"panel-ui ", false, {"keep"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> order{"keep"};
    EXPECT_EQ(ParsePanelOrder(c.text, order), c.accepted) << c.text;
    EXPECT_EQ(order, c.order) << c.text;
  }
  EXPECT_TRUE(IsKnownPanelId("panel-keyspam"));
  EXPECT_FALSE(IsKnownPanelId("panel-"));
}

TEST_F(AppSettingsTest, SetAppSettingChangesAndSaves) {
  struct Case {
    std::string arg;
    std::function<void()> check;
  } cases[] = {
      {"alwaysOnTop,1", [] { EXPECT_TRUE(g_AlwaysOnTop); }},
      {"launchOnStartup,1", [] { EXPECT_TRUE(g_LaunchOnStartup); }},
      {"startMinimized,1", [] { EXPECT_TRUE(g_StartMinimized); }},
      {"hotkeysEnabled,0", [] { EXPECT_FALSE(g_HotkeysEnabled.load()); }},
      {"stopToolsWithMacro,0", [] { EXPECT_FALSE(g_StopToolsWithMacro); }},
      {"disableAnimations,1", [] { EXPECT_TRUE(g_DisableAnimations); }},
      {"performanceMode,1", [] { EXPECT_FALSE(g_SiteDesign); }},
      {"snapAnimation,0", [] { EXPECT_FALSE(g_SnapAnimation); }},
      {"showWarnings,true", [] { EXPECT_FALSE(g_ShowWarnings); }},
      {"min:panel-tracker,1", [] { EXPECT_EQ(g_MinimizedPanels, std::set<std::string>{"panel-tracker"}); }},
      {"min:bogus,1", [] { EXPECT_TRUE(g_MinimizedPanels.empty()); }},
      {"someFutureKey,1", [] {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    ResetAppSettingsForTest();
    ::unlink(GetAppSettingsFilePath().c_str());
    EXPECT_EQ(BindSetAppSetting(c.arg), "");
    c.check();
    // Saved after every two-field call, known key or not.
    ASSERT_TRUE(Exists(GetAppSettingsFilePath()));
    const std::string saved = Slurp(GetAppSettingsFilePath());
    SaveAppSettings();
    EXPECT_EQ(saved, Slurp(GetAppSettingsFilePath()));
  }
}

TEST_F(AppSettingsTest, HotkeyLockAndMinimizedPanels) {
  g_HotkeysUnlocked.store(false);
  BindSetAppSetting("hotkeyLock,0");
  EXPECT_FALSE(g_HotkeyLockEnabled.load());
  EXPECT_TRUE(g_HotkeysUnlocked.load());
  g_HotkeysUnlocked.store(false);
  BindSetAppSetting("hotkeyLock,1");
  EXPECT_TRUE(g_HotkeyLockEnabled.load());
  EXPECT_TRUE(g_HotkeysUnlocked.load());

  BindSetAppSetting("min:panel-tracker,1");
  BindSetAppSetting("min:panel-ui,1");
  BindSetAppSetting("min:panel-tracker,0");
  EXPECT_EQ(g_MinimizedPanels, std::set<std::string>{"panel-ui"});
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("minimizedPanels=panel-ui\n"), std::string::npos);
}

TEST_F(AppSettingsTest, WrongFieldCountsChangeAndSaveNothing) {
  for (const char* arg : {"", "alwaysOnTop", "alwaysOnTop,1,1", "hotkeyLock,0,extra", ",", "alwaysOnTop,"}) {
    ::unlink(GetAppSettingsFilePath().c_str());
    BindSetAppSetting(arg);
    EXPECT_FALSE(g_AlwaysOnTop) << arg;
    EXPECT_TRUE(g_HotkeyLockEnabled.load()) << arg;
    EXPECT_FALSE(Exists(GetAppSettingsFilePath())) << arg;
  }
}

TEST_F(AppSettingsTest, MarkWarningSeenAddsOnceAndSavesOnlyThen) {
  BindMarkWarningSeen("w1");
  ASSERT_TRUE(Exists(GetAppSettingsFilePath()));
  const ino_t first = Inode(GetAppSettingsFilePath());
  BindMarkWarningSeen("w1");
  EXPECT_EQ(Inode(GetAppSettingsFilePath()), first);  // not rewritten
  BindMarkWarningSeen("");
  EXPECT_EQ(Inode(GetAppSettingsFilePath()), first);
  BindMarkWarningSeen("w0");
  EXPECT_NE(Inode(GetAppSettingsFilePath()), first);
  EXPECT_EQ(g_SeenWarningIds, (std::set<std::string>{"w0", "w1"}));
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("seenWarnings=w0,w1\n"), std::string::npos);
}

TEST_F(AppSettingsTest, SetPanelOrderSavesOnlyWhenAccepted) {
  BindSetPanelOrder("panel-ui,bogus");
  EXPECT_FALSE(Exists(GetAppSettingsFilePath()));
  BindSetPanelOrder("panel-flick,panel-ui");
  EXPECT_EQ(g_PanelOrder, (std::vector<std::string>{"panel-flick", "panel-ui"}));
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("panelOrder=panel-flick,panel-ui\n"), std::string::npos);
  BindSetPanelOrder("panel-ui,panel-ui");
  EXPECT_EQ(g_PanelOrder, (std::vector<std::string>{"panel-flick", "panel-ui"}));
}

TEST_F(AppSettingsTest, GetAppSettingsJson) {
  g_MainPageReady.store(false);
  EXPECT_EQ(BindGetAppSettings(),
            "{\"alwaysOnTop\":false,\"launchOnStartup\":false,\"startMinimized\":false,\"hotkeysEnabled\":true,"
            "\"hotkeyLock\":true,\"disableAnimations\":false,\"siteDesign\":true,\"performanceMode\":false,"
            "\"snapAnimation\":true,\"showWarnings\":true,\"seenWarnings\":[],\"minimizedPanels\":[],"
            "\"panelOrder\":[],\"stopToolsWithMacro\":true,\"startDelaySecs\":2,\"rememberScreenGrant\":false,"
            "\"keepInTray\":false,\"trayAvailable\":false,\"colorScheme\":\"system\",\"desktopDark\":false}");
  EXPECT_TRUE(g_MainPageReady.load());

  LoadFrom("performanceMode=1\nstopToolsWithMacro=0\nseenWarnings=b,a\nminimizedPanels=panel-ui,panel-flick\n"
           "panelOrder=panel-tracker,panel-flick\nhotkeyLockOn=0\nalwaysOnTop=1\n");
  EXPECT_EQ(BindGetAppSettings(),
            "{\"alwaysOnTop\":true,\"launchOnStartup\":false,\"startMinimized\":false,\"hotkeysEnabled\":true,"
            "\"hotkeyLock\":false,\"disableAnimations\":false,\"siteDesign\":false,\"performanceMode\":true,"
            "\"snapAnimation\":true,\"showWarnings\":true,\"seenWarnings\":[\"a\",\"b\"],"
            "\"minimizedPanels\":[\"panel-flick\",\"panel-ui\"],\"panelOrder\":[\"panel-tracker\",\"panel-flick\"],"
            "\"stopToolsWithMacro\":false,\"startDelaySecs\":2,\"rememberScreenGrant\":false,\"keepInTray\":false,"
            "\"trayAvailable\":false,\"colorScheme\":\"system\",\"desktopDark\":false}");

  // The start delay: whole seconds 0-10 from the page and the file; anything
  // else keeps the value it had.
  struct Case {
    const char* value;
    int expect;
  } cases[] = {{"0", 0}, {"10", 10}, {"5", 5}, {"11", 5}, {"-1", 5}, {"3.5", 5}, {"", 5}, {"2x", 5}, {"3", 3}};
  for (const Case& c : cases) {
    BindSetAppSetting(std::string("startDelaySecs,") + c.value);
    EXPECT_EQ(g_StartDelaySecs, c.expect) << c.value;
  }
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("\nstartDelaySecs=3\n"), std::string::npos);
  for (const Case& c : cases) {
    g_StartDelaySecs = 5;
    LoadFrom(std::string("startDelaySecs=") + c.value + "\n");
    EXPECT_EQ(g_StartDelaySecs, c.expect) << "file " << c.value;
  }
}

// Whether the screen-share permission outlives the run: off unless the file
// says so (a file of the previous version, without the line, loads as it
// did and reads as off); off deletes the saved permission.
TEST_F(AppSettingsTest, RememberScreenGrantIsOffUnlessChosenAndOffDeletesTheToken) {
  const std::string token = OsDataDir() + "/portal-token.txt";
  const std::string before = kDefaultFile.substr(0, kDefaultFile.find("rememberScreenGrant="));
  struct Case {
    std::string file;
    bool remember;
  } cases[] = {{before, false}, {"", false}, {"rememberScreenGrant=1\n", true},
               {"rememberScreenGrant=0\n", false}, {"rememberScreenGrant=true\n", false}};
  for (const Case& c : cases) {
    WriteText(token, "tok\n");
    ResetAppSettingsForTest();  // as at start-up
    LoadFrom(c.file);
    EXPECT_EQ(g_RememberScreenGrant, c.remember) << c.file;
    EXPECT_EQ(access(token.c_str(), F_OK) == 0, c.remember) << c.file;
    if (c.file == before) {
      EXPECT_EQ(g_StartDelaySecs, 2) << "the rest of an old file loads as before";
    }
  }
  BindSetAppSetting("rememberScreenGrant,1");
  EXPECT_TRUE(g_RememberScreenGrant);
  EXPECT_NE(BindGetAppSettings().find(",\"rememberScreenGrant\":true,"), std::string::npos);
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("\nrememberScreenGrant=1\n"), std::string::npos);
  WriteText(token, "tok\n");
  BindSetAppSetting("rememberScreenGrant,0");
  EXPECT_FALSE(g_RememberScreenGrant);
  EXPECT_NE(access(token.c_str(), F_OK), 0) << "switched off: the saved permission is gone at once";
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("\nrememberScreenGrant=0\n"), std::string::npos);
}

// The stop-tools switch the page shows after a restart is the stored one.
TEST_F(AppSettingsTest, StopToolsSettingSurvivesARestartInTheJson) {
  BindSetAppSetting("stopToolsWithMacro,0");
  ResetAppSettingsForTest();  // a new process: defaults, then the file
  EXPECT_NE(BindGetAppSettings().find("\"stopToolsWithMacro\":true,"), std::string::npos);
  LoadAppSettings();
  EXPECT_FALSE(g_StopToolsWithMacro.load());
  EXPECT_NE(BindGetAppSettings().find("\"stopToolsWithMacro\":false,"), std::string::npos) << BindGetAppSettings();
}

TEST_F(AppSettingsTest, OddWarningIdsKeepTheJsonReadable) {
  // Ids reach the set unescaped (a backslash survives the argument unwrapping);
  // the answer must stay valid JSON or the page could never read its settings.
  BindMarkWarningSeen("a\\");
  LoadFrom("seenWarnings=tab\there\n");
  EXPECT_NE(BindGetAppSettings().find("\"seenWarnings\":[\"a\\\\\",\"tab\\there\"]"), std::string::npos)
      << BindGetAppSettings();
}

TEST_F(AppSettingsTest, ThemeFile) {
  struct Case {
    const char* content;  // null: no file
    std::string key;
  } cases[] = {
      {nullptr, "pellomar"}, {"", "pellomar"}, {"\nmidnight\n", "pellomar"},
      {"midnight\nother\n", "midnight"}, {"ocean", "ocean"},
  };
  for (const Case& c : cases) {
    ::unlink(GetThemeFilePath().c_str());
    if (c.content) WriteText(GetThemeFilePath(), c.content);
    EXPECT_EQ(LoadThemeFromFile(), c.key) << (c.content ? c.content : "(none)");
  }
}

TEST_F(AppSettingsTest, StatusFileHoldsTheLastJsonWithoutLineEnd) {
  SaveStatusToFile("{\"state\":\"Idle\"}");
  SaveStatusToFile("{\"state\":\"Recording\"}");
  EXPECT_EQ(Slurp(GetStatusFilePath()), "{\"state\":\"Recording\"}");
}

TEST_F(AppSettingsTest, AccessMarker) {
  const std::string marker = "accessibilityGranted=" + OsBundleIdentifier();
  ASSERT_FALSE(OsBundleIdentifier().empty());
  EXPECT_FALSE(AccessibilityWasGrantedBefore());
  RememberAccessibilityGranted();
  EXPECT_TRUE(AccessibilityWasGrantedBefore());
  RememberAccessibilityGranted();
  EXPECT_EQ(Slurp(GetAccessMarkerFilePath()), marker + "\n");

  // Another identifier's marker or a longer line does not count.
  WriteText(GetAccessMarkerFilePath(), "accessibilityGranted=other\n" + marker + "x\n");
  EXPECT_FALSE(AccessibilityWasGrantedBefore());
  // A last line without its line feed does not swallow the new marker.
  WriteText(GetAccessMarkerFilePath(), "junk");
  RememberAccessibilityGranted();
  EXPECT_TRUE(AccessibilityWasGrantedBefore());
  EXPECT_EQ(Slurp(GetAccessMarkerFilePath()), "junk\n" + marker + "\n");
}

// "Keep running in the tray": off unless stored; a file of the previous
// version (without the key) loads as before with it off; the page's switch
// stores it.
TEST_F(AppSettingsTest, KeepInTraySetting) {
  LoadFrom(kDefaultFile.substr(0, kDefaultFile.find("keepInTray=")));
  EXPECT_FALSE(g_KeepInTray);
  EXPECT_EQ(g_StartDelaySecs, 2);
  LoadFrom("keepInTray=1\n");
  EXPECT_TRUE(g_KeepInTray);
  BindSetAppSetting("keepInTray,0");
  EXPECT_FALSE(g_KeepInTray);
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("\nkeepInTray=0\n"), std::string::npos);
  BindSetAppSetting("keepInTray,1");
  EXPECT_NE(BindGetAppSettings().find(",\"keepInTray\":true,\"trayAvailable\":false,"), std::string::npos);
  ResetAppSettingsForTest();
}

// The page's look: "system" unless stored; a file of the previous version
// loads as before; the page and the file set only the three known looks, and
// anything else keeps the one in use; the JSON ends with the look and the
// desktop's preference (no watch runs here: not dark).
TEST_F(AppSettingsTest, ColorSchemeSetting) {
  LoadFrom(kDefaultFile.substr(0, kDefaultFile.find("colorScheme=")));
  EXPECT_EQ(g_ColorScheme, "system");
  EXPECT_FALSE(g_KeepInTray);
  struct Case {
    const char* stored;   // in the file, then from the page
    const char* expected;
  } cases[] = {
      {"light", "light"}, {"dark", "dark"},   {"system", "system"}, {"Dark", "system"},
      {"", "system"},     {"dark ", "system"}, {"auto", "system"},   {"light,dark", "system"},
  };
  for (const Case& c : cases) {
    ResetAppSettingsForTest();
    LoadFrom(std::string("colorScheme=") + c.stored + "\n");
    EXPECT_EQ(g_ColorScheme, c.expected) << "file: " << c.stored;
    g_ColorScheme = "light";
    BindSetAppSetting(std::string("colorScheme,") + c.stored);
    const std::string after = std::string(c.expected) == "system" && std::string(c.stored) != "system" ? "light" : c.expected;
    EXPECT_EQ(g_ColorScheme, after) << "page: " << c.stored;
  }
  ResetAppSettingsForTest();
  BindSetAppSetting("colorScheme,dark");
  EXPECT_NE(Slurp(GetAppSettingsFilePath()).find("\nkeepInTray=0\ncolorScheme=dark\n"), std::string::npos);
  ResetAppSettingsForTest();
  LoadAppSettings();
  EXPECT_EQ(g_ColorScheme, "dark");
  const std::string json = BindGetAppSettings();
  EXPECT_EQ(json.substr(json.find(",\"colorScheme\"")), ",\"colorScheme\":\"dark\",\"desktopDark\":false}");
  // The pages' look: the chosen one, or the desktop's (light here) for system.
  EXPECT_TRUE(PagesLookDark());
  g_ColorScheme = "light";
  EXPECT_FALSE(PagesLookDark());
  g_ColorScheme = "system";
  EXPECT_FALSE(PagesLookDark());
  ResetAppSettingsForTest();
}
