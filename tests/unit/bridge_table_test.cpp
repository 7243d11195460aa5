// The bridge table: names and order, argument unwrapping, and what each
// handler does with the page's argument array.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/bridge.h"
#include "app/bridge_table.h"
#include "bridge_json.h"
#include "platform/os_input.h"
#include "platform/os_shell.h"
#include "state/app_settings.h"
#include "model/profiles.h"
#include "app/status_json.h"
#include "model/tool_state.h"
#include "tools_test_util.h"

namespace {

const std::string kDataHome = [] {
  char tmpl[] = "/tmp/pmr-bridge-table-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  // The GNOME helper install writes the shell's settings: keep them in memory.
  setenv("GSETTINGS_BACKEND", "memory", 1);
  return dir;
}();

// A bridge table whose context records what the handlers post.
struct Harness {
  std::vector<std::function<void()>> posted;
  int mainUiLoads = 0;
  std::vector<std::pair<std::string, std::string>> updateCalls;
  std::vector<BridgeBinding> table;

  Harness() {
    BridgeContext ctx;
    ctx.dispatch = [this](std::function<void()> fn) { posted.push_back(std::move(fn)); };
    ctx.loadMainUi = [this] { ++mainUiLoads; };
    ctx.startUpdate = [this](const std::string& id, const std::string& args) {
      updateCalls.emplace_back(id, args);
    };
    table = BuildBridgeTable(ctx);
  }
  const BridgeBinding& Find(const std::string& name) const {
    for (const BridgeBinding& b : table)
      if (b.name == name) return b;
    ADD_FAILURE() << "no binding " << name;
    static BridgeBinding none;
    return none;
  }
  std::string Call(const std::string& name, const std::string& args = "[]") const {
    const BridgeBinding& b = Find(name);
    if (!b.sync) {
      ADD_FAILURE() << name << " is not synchronous";
      return {};
    }
    return b.sync(args);
  }
};

class BridgeTableTest : public ::testing::Test {
 protected:
  void SetUp() override { toolstest::ResetAll(); }
};

TEST(ParseJSString, RemovesBracketsAndQuotesOnly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"[\"a,b\"]", "a,b"},
      {"[\"a\",\"b\"]", "a,b"},
      {"[1,2.5,-3]", "1,2.5,-3"},
      {"[]", ""},
      {"", ""},
      {"[\"x\\\\y\"]", "x\\\\y"},          // escapes stay as written
      {"[\"say \\\"hi\\\"\"]", "say \\hi\\"},  // quotes go, their backslashes stay
      {"[[\"nested\"]]", "nested"},
      {"[\"caf\xC3\xA9\"]", "caf\xC3\xA9"},
      {"[{\"k\":1}]", "{k:1}"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseJSString(c.in), c.out) << c.in;
}

TEST(BridgeArguments, DecimalInt32) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {{"0", true, 0},          {"-12", true, -12},          {"+7", true, 7},
               {"2147483647", true, 2147483647},                    {"-2147483648", true, -2147483647 - 1},
               {"2147483648", false, 0}, {"", false, 0},             {"1.5", false, 0},
               {" 1", false, 0},        {"1 ", false, 0},           {"x", false, 0},
               {"+-1", false, 0},       {"0x10", false, 0}};
  for (const Case& c : cases) {
    int v = 0;
    EXPECT_EQ(ParseDecimalInt32(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(BridgeArguments, FirstStringArgument) {
  struct Case {
    const char* args;
    bool ok;
    const char* value;
  } cases[] = {{"[\"input\"]", true, "input"},
               {"[\"accessibility\",\"input\"]", true, "accessibility"},
               {" [ \"a\\\"b\\\\c\\u0041\" ]", true, "a\"b\\cA"},
               {"[]", false, ""},
               {"[1]", false, ""},
               {"\"input\"", false, ""},
               {"[\"unterminated", false, ""},
               {"", false, ""}};
  for (const Case& c : cases) {
    std::string v;
    EXPECT_EQ(FirstStringArgument(c.args, v), c.ok) << c.args;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.args;
    }
  }
}

TEST_F(BridgeTableTest, NamesInRegistrationOrder) {
  // setTitleBarColors is bound on its own, right after the title-bar colours.
  const std::vector<std::string> expected = {
      "setSnapAccent", "lockDragCursor", "unlockDragCursor", "pmrLinuxPaste", "resizeWindow",
      "updateSpammer", "startSpammer", "stopSpammer", "updateKeySpam", "startKeySpam", "stopKeySpam",
      "removeKeySpamTarget", "setKeySpamChordMode", "pickLocation", "getAppSettings", "markWarningSeen",
      "setAppSetting", "setPanelOrder", "resetHotkeys", "openLink", "getTrackerStatus", "clearProfile",
      "addProfile", "deleteProfile", "switchProfile", "getProfiles", "getSettings", "startUpdate",
      "reassignKey", "pmrMacPermissionStatus", "pmrMacRequestPermission", "pmrMacAlert",
      "pmrLinuxInstallGnomeHelper", "pmrMacOpenSoftwareUpdate", "pmrMacContinue", "updateRecorder",
      "toggleRecording", "togglePlayback", "exportMacro", "openMacro", "answerMacroOpen", "getMacroAsk",
      "confirmHotkey", "getMacroRows", "getMacroEvents", "editMacro", "undoMacroEdit", "redoMacroEdit",
      "updateJitter", "setFixedSpot", "setClickSequence", "testClickTiming", "getTimingTest",
      "setHoldOption", "setPanicCombo"};
  Harness h;
  std::vector<std::string> names;
  for (const BridgeBinding& b : h.table) {
    names.push_back(b.name);
    // Exactly one handler per binding; only startUpdate answers later.
    EXPECT_NE(static_cast<bool>(b.sync), static_cast<bool>(b.async)) << b.name;
    EXPECT_EQ(static_cast<bool>(b.async), b.name == "startUpdate") << b.name;
  }
  EXPECT_EQ(names, expected);
}

TEST_F(BridgeTableTest, StartUpdateIsHandedTheCallIdAndArguments) {
  Harness h;
  h.Find("startUpdate").async("17", "[]");
  ASSERT_EQ(h.updateCalls.size(), 1u);
  EXPECT_EQ(h.updateCalls[0].first, "17");
  EXPECT_EQ(h.updateCalls[0].second, "[]");
}

TEST_F(BridgeTableTest, ToolRequestsSetTriggersAndWakeTheSignalProcessor) {
  struct Case {
    const char* name;
    std::atomic<bool>* flag;
  } cases[] = {{"startSpammer", &triggerAutoClickStart},
               {"stopSpammer", &triggerAutoClickStop},
               {"startKeySpam", &triggerKeySpamStart},
               {"stopKeySpam", &triggerKeySpamStop}};
  Harness h;
  for (const Case& c : cases) {
    c.flag->store(false);
    g_SignalWake.flag.store(false);
    EXPECT_EQ(h.Call(c.name, "[\"ignored\",1]"), "") << c.name;
    EXPECT_TRUE(c.flag->load()) << c.name;
    EXPECT_TRUE(g_SignalWake.flag.load()) << c.name;
    // Only its own trigger.
    for (const Case& other : cases)
      if (other.flag != c.flag) {
        EXPECT_FALSE(other.flag->load()) << c.name << " set " << other.name;
      }
    c.flag->store(false);
  }
  EXPECT_EQ(h.Call("pickLocation"), "");
  EXPECT_TRUE(isPickingLocation.load());
}

TEST_F(BridgeTableTest, UpdateSpammerOneStringOrSeparateNumbersAlike) {
  Harness h;
  EXPECT_EQ(h.Call("updateSpammer", "[\"0,0,1,500,1,1,0,12,1\"]"), "");
  std::string asString = BuildSettingsJson();
  toolstest::ResetAll();
  EXPECT_EQ(h.Call("updateSpammer", "[0,0,1,500,1,1,0,12,1]"), "");
  EXPECT_EQ(BuildSettingsJson(), asString);
  EXPECT_EQ(autoClickIntervalSecs, 1);
  EXPECT_EQ(autoClickIntervalMs, 500);
  EXPECT_EQ(autoClickRepeatTimes, 12);

  EXPECT_EQ(h.Call("updateKeySpam", "[0,0,0,\"75\",0,4]"), "");
  EXPECT_EQ(keySpamIntervalMs, 75);
  EXPECT_EQ(keySpamRepeatTimes, 4);
}

TEST_F(BridgeTableTest, JsonResultsAreTheStatusAndSettingsTexts) {
  Harness h;
  isAutoClicking.store(true);
  std::string status = h.Call("getTrackerStatus", "[\"whatever\"]");
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    EXPECT_EQ(status, BuildStatusJson("[]"));
  }
  bridgetest::Json j;
  ASSERT_TRUE(bridgetest::ParseJson(status, j)) << status;
  EXPECT_TRUE(j["autoClicking"].b);

  std::string settings = h.Call("getSettings");
  EXPECT_EQ(settings, BuildSettingsJson());
  ASSERT_TRUE(bridgetest::ParseJson(settings, j)) << settings;

  std::string profilesJson = h.Call("getProfiles");
  ASSERT_TRUE(bridgetest::ParseJson(profilesJson, j)) << profilesJson;
}

TEST_F(BridgeTableTest, ReassignKeyIsUnwrapped) {
  Harness h;
  struct Case {
    const char* args;
    int kind;
  } cases[] = {{"[\"auto\"]", kReassignAuto}, {"[\"keyspamtarget\"]", kReassignKeySpamTarget},
               {"[\"unlock\"]", kReassignUnlock}, {"[\"Auto\"]", kReassignNone}};
  for (const Case& c : cases) {
    currentReassign.store(kReassignNone);
    h.Call("reassignKey", c.args);
    EXPECT_EQ(currentReassign.load(), c.kind) << c.args;
  }
  vkAutoClicker.store(65);
  h.Call("resetHotkeys", "[1]");
  EXPECT_EQ(vkAutoClicker.load(), kDefaultVkAutoClicker);
}

TEST_F(BridgeTableTest, ChordModeAndTargetRemovalAreUnwrapped) {
  Harness h;
  h.Call("setKeySpamChordMode", "[\"1\"]");
  EXPECT_TRUE(keySpamChordMode.load());
  h.Call("setKeySpamChordMode", "[\"true\"]");
  EXPECT_FALSE(keySpamChordMode.load());
  h.Call("setKeySpamChordMode", "[1]");
  EXPECT_TRUE(keySpamChordMode.load());

  keySpamTargets[0].store(65);
  keySpamTargets[1].store(66);
  keySpamTargets[2].store(67);
  keySpamTargetCount.store(3);
  h.Call("removeKeySpamTarget", "[\"x\"]");
  EXPECT_EQ(keySpamTargetCount.load(), 3);
  h.Call("removeKeySpamTarget", "[1]");
  ASSERT_EQ(keySpamTargetCount.load(), 2);
  EXPECT_EQ(keySpamTargets[0].load(), 65);
  EXPECT_EQ(keySpamTargets[1].load(), 67);
}

TEST_F(BridgeTableTest, GetAppSettingsMarksThePageReady) {
  Harness h;
  g_MainPageReady.store(false);
  std::string text = h.Call("getAppSettings");
  EXPECT_TRUE(g_MainPageReady.load());
  bridgetest::Json j;
  EXPECT_TRUE(bridgetest::ParseJson(text, j)) << text;
}

// A warning id arrives unwrapped but not unescaped, so backslashes from the
// page's JSON stay in it; and every id seen is reported back by
// getAppSettings. The page must always receive valid JSON holding the id.
TEST_F(BridgeTableTest, AppSettingsStayValidJsonWithAwkwardWarningIds) {
  Harness h;
  const std::string ids[] = {
      "[\"plain-id\"]",
      "[\"x\\\\\\\"\"]",       // page string x\" : unwrapped x\\\ (ends in a lone backslash)
      "[\"tab\\there\"]",      // stays as the two characters \t
      "[\"new\\\\nline\"]",
      "[\"tail\\\\\"]",        // page string tail\ : unwrapped tail\\ .
      "[\"caf\xC3\xA9\"]",
  };
  for (const std::string& args : ids) {
    std::string id = ParseJSString(args);
    EXPECT_EQ(h.Call("markWarningSeen", args), "");
    std::string text = h.Call("getAppSettings");
    bridgetest::Json j;
    ASSERT_TRUE(bridgetest::ParseJson(text, j)) << "after " << args << ": " << text;
    bool found = false;
    for (const bridgetest::Json& seen : j["seenWarnings"].items) found = found || seen.s == id;
    EXPECT_TRUE(found) << id << " missing from " << text;
  }
}

TEST_F(BridgeTableTest, PanelSettingsTravelUnwrapped) {
  Harness h;
  EXPECT_EQ(h.Call("setPanelOrder", "[\"panel-tracker,panel-ui\"]"), "");
  EXPECT_EQ(h.Call("setAppSetting", "[\"min:panel-keyspam\",\"1\"]"), "");
  EXPECT_EQ(h.Call("setAppSetting", "[\"disableAnimations\",1]"), "");
  bridgetest::Json j;
  std::string text = h.Call("getAppSettings");
  ASSERT_TRUE(bridgetest::ParseJson(text, j)) << text;
  ASSERT_EQ(j["panelOrder"].items.size(), 2u) << text;
  EXPECT_EQ(j["panelOrder"].items[0].s, "panel-tracker");
  EXPECT_EQ(j["panelOrder"].items[1].s, "panel-ui");
  ASSERT_EQ(j["minimizedPanels"].items.size(), 1u) << text;
  EXPECT_EQ(j["minimizedPanels"].items[0].s, "panel-keyspam");
  EXPECT_TRUE(j["disableAnimations"].b);
  // The status JSON shows the look flag as well.
  EXPECT_NE(h.Call("getTrackerStatus").find("\"noAnimations\":true"), std::string::npos);
  h.Call("setAppSetting", "[\"disableAnimations\",0]");
}

TEST_F(BridgeTableTest, AlertIsPostedNotShownInline) {
  Harness h;
  EXPECT_EQ(h.Call("pmrMacAlert", "[\"Saved\"]"), "");
  EXPECT_EQ(h.posted.size(), 1u);  // shown later, on the main loop
}

TEST_F(BridgeTableTest, ResultsOfEveryBindingAreEmptyOrValidJson) {
  // Whatever the page passes, no handler throws and every result is either
  // empty (undefined) or JSON the page can parse. Bindings that would start
  // a process or touch the desktop are left out here.
  const std::set<std::string> skip = {"pmrMacRequestPermission", "pmrMacAlert", "startUpdate",
                                      "openLink", "pmrMacContinue", "pmrLinuxInstallGnomeHelper",
                                      "lockDragCursor", "resizeWindow", "pmrLinuxPaste", "setSnapAccent",
                                      "unlockDragCursor", "pmrMacOpenSoftwareUpdate"};
  const char* argsList[] = {"[]", "[\"\"]", "[null]", "[1,2,3]", "[\"a,b,c,d,e,f,g,h,i,j\"]",
                            "[\"\\\\\\\"\"]", "not json", "[[[]]]", "[-1e309]"};
  Harness h;
  for (const BridgeBinding& b : h.table) {
    if (!b.sync || skip.count(b.name)) continue;
    for (const char* args : argsList) {
      toolstest::ResetAll();
      std::string r = b.sync(args);
      if (r.empty()) continue;
      bridgetest::Json j;
      EXPECT_TRUE(bridgetest::ParseJson(r, j)) << b.name << "(" << args << ") gave " << r;
    }
  }
}

TEST_F(BridgeTableTest, PermissionStatusIsValidJsonInTheTableOrder) {
  Harness h;
  std::string text = h.Call("pmrMacPermissionStatus", "[\"ignored\"]");
  bridgetest::Json j;
  ASSERT_TRUE(bridgetest::ParseJson(text, j)) << text;
  EXPECT_EQ(j.keys, (std::vector<std::string>{"accessibility", "input", "ready", "setup", "commands", "gnome",
                                              "setupProblem", "inputDevices"}));
  EXPECT_EQ(j["setup"].s, OsInputSetupState());
  EXPECT_EQ(j["commands"].s, OsInputSetupCommands());
  EXPECT_EQ(j["gnome"].s, LinuxGnomeHelperState());
  EXPECT_EQ(j["accessibility"].b, OsAccessibilityTrusted());
  // Ready implies input.
  if (j["ready"].b) {
    EXPECT_TRUE(j["input"].b);
  }
}

TEST(PermissionStatus, ExactText) {
  EXPECT_EQ(BuildPermissionStatusJson(true, false, true, "running", "a\n\"b\"", "n/a", "", 2),
            "{\"accessibility\":true,\"input\":false,\"ready\":true,\"setup\":\"running\","
            "\"commands\":\"a\\n\\\"b\\\"\",\"gnome\":\"n/a\",\"setupProblem\":\"\",\"inputDevices\":2}");
  EXPECT_EQ(BuildPermissionStatusJson(false, true, false, "failed", "", "", "pkexec-missing", 0),
            "{\"accessibility\":false,\"input\":true,\"ready\":false,\"setup\":\"failed\","
            "\"commands\":\"\",\"gnome\":\"\",\"setupProblem\":\"pkexec-missing\",\"inputDevices\":0}");
}

TEST_F(BridgeTableTest, GnomeHelperInstallAnswersABoolean) {
  Harness h;
  std::string r = h.Call("pmrLinuxInstallGnomeHelper");
  EXPECT_TRUE(r == "true" || r == "false") << r;
}

TEST_F(BridgeTableTest, ContinueWithoutInputAccessStaysOnTheBootPage) {
  if (OsAccessibilityTrusted()) GTEST_SKIP() << "this machine has input access";
  Harness h;
  EXPECT_EQ(h.Call("pmrMacContinue"), "");
  EXPECT_TRUE(h.posted.empty());
  EXPECT_EQ(h.mainUiLoads, 0);
}

TEST(BridgeTitleBar, ColoursNeedABarAndTwoValidColours) {
  // Only observable through the result and the absence of a crash here; the
  // window itself is null in a unit test.
  const char* args[] = {"[\"#0D0E15|#FFFFFF\"]", "[\"#0D0E15\"]", "[\"#0D0E15|nope\"]", "[\"|\"]", "[]"};
  for (const char* a : args) EXPECT_EQ(HandleSetTitleBarColors(nullptr, a), "") << a;
}

TEST(BridgeIntArguments, WindowAndDragRectangleFields) {
  struct Case {
    const char* args;
    size_t count;
    bool ok;
    std::vector<int> values;
  } cases[] = {
      {"[640,480]", 2, true, {640, 480}},
      {"[\"640,480\"]", 2, true, {640, 480}},
      {"[640,480,1]", 2, true, {640, 480}},
      {"[640]", 2, false, {}},
      {"[\"wide\",480]", 2, false, {}},
      {"[640.5,480]", 2, false, {}},
      {"[1,2,3]", 4, false, {}},
      {"[1,2,3,4]", 4, true, {1, 2, 3, 4}},
      {"[-10,-20,30,40,50]", 4, true, {-10, -20, 30, 40}},
      {"[1,2,3,99999999999]", 4, false, {}},
  };
  for (const Case& c : cases) {
    int out[4] = {};
    EXPECT_EQ(BridgeIntArgs(c.args, c.count, out), c.ok) << c.args;
    if (c.ok) {
      EXPECT_EQ(std::vector<int>(out, out + c.count), c.values) << c.args;
    }
  }
}

}  // namespace
