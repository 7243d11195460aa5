// The actions offered to the desktop; see remote_control.h.
#include "app/remote_control.h"

#include <atomic>
#include <mutex>

#include "app/app.h"
#include "base/json_escape.h"
#include "platform/os_tray.h"
#include "platform/os_window.h"
#include "state/app_settings.h"
#include "model/profiles.h"
#include "tools/playback.h"
#include "model/tool_state.h"

namespace {

std::function<void()> g_Quit;

const char* Bool(bool v) { return v ? "true" : "false"; }

void Trigger(std::atomic<bool>& trigger) {
  trigger.store(true);
  WakeSignalProcessor();
}

// A tool runs, a recording grows or playback goes on: counts and states
// change without any request.
bool Lively() { return isAutoClicking.load() || isKeySpamming.load() || isRecording.load() || isPlaying.load(); }

bool HotkeysWork() { return g_HotkeysEnabled.load() && (!g_HotkeyLockEnabled.load() || g_HotkeysUnlocked.load()); }

void SetHotkeys(bool on) {
  BindSetAppSetting(on ? "hotkeysEnabled,1" : "hotkeysEnabled,0");  // saved as the page saves it
  if (on) g_HotkeysUnlocked.store(true);
  WakeSignalProcessor();  // the page hears of the change after the next round
}

// Why `tool` cannot start now; empty when it can.
std::string StartProblem(const std::string& tool) {
  if (tool == "spammer" && keySpamTargetCount.load() <= 0)
    return "The key spammer has no key to press: add one in the window first.";
  if (tool == "record" && isPlaying.load()) return "A recording cannot start during playback.";
  if (tool == "play") {
    if (isRecording.load()) return "Playback cannot start during a recording.";
    if (!CurrentProfileHasEvents()) return "The current profile has no recording to play.";
  }
  return {};
}

bool Running(const std::string& tool) {
  if (tool == "clicker") return isAutoClicking.load();
  if (tool == "spammer") return isKeySpamming.load();
  if (tool == "record") return isRecording.load();
  return isPlaying.load();
}

struct ToolTriggers {
  const char* name;
  std::atomic<bool>* toggle;
  std::atomic<bool>* start;
  std::atomic<bool>* stop;
};
const ToolTriggers kTools[] = {
    {"clicker", &triggerAutoClicker, &triggerAutoClickStart, &triggerAutoClickStop},
    {"spammer", &triggerKeySpam, &triggerKeySpamStart, &triggerKeySpamStop},
    {"record", &triggerRecord, &triggerRecordStart, &triggerRecordStop},
    {"play", &triggerPlay, &triggerPlayStart, &triggerPlayStop},
};

const ToolTriggers* FindTool(const std::string& name) {
  for (const ToolTriggers& t : kTools)
    if (name == t.name) return &t;
  return nullptr;
}

std::string SwitchToProfile(const std::string& name) {
  if (isRecording.load()) return "The profile cannot change during a recording.";
  int index = -1;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    for (size_t i = 0; i < profiles.size() && index < 0; ++i)
      if (profiles[i].name == name) index = static_cast<int>(i);
  }
  if (index < 0) return "There is no profile of that name.";
  BindSwitchProfile(std::to_string(index));
  WakeSignalProcessor();  // the page hears of it after the next round
  return {};
}

}  // namespace

std::vector<RemoteAction> RemoteActionTable() {
  std::vector<RemoteAction> t;
  for (const ToolTriggers& tool : kTools) t.push_back({tool.name, RemoteValue::kNone, RemoteValue::kBool, true});
  t.push_back({"hotkeys", RemoteValue::kNone, RemoteValue::kBool, true});
  t.push_back({"profile", RemoteValue::kText, RemoteValue::kText, true});
  t.push_back({"stop-all", RemoteValue::kNone, RemoteValue::kNone, true});
  t.push_back({"show-window", RemoteValue::kNone, RemoteValue::kNone, true});
  t.push_back({"quit", RemoteValue::kNone, RemoteValue::kNone, true});
  t.push_back({"status", RemoteValue::kNone, RemoteValue::kText, false});
  return t;
}

std::string RemoteActivateAction(const std::string& name, const RemoteValue& parameter) {
  if (const ToolTriggers* tool = FindTool(name)) {
    if (!Running(name)) {
      std::string problem = StartProblem(name);
      if (!problem.empty()) return problem;
    }
    Trigger(*tool->toggle);
    return {};
  }
  if (name == "hotkeys") {
    SetHotkeys(!HotkeysWork());
    return {};
  }
  if (name == "profile") return SwitchToProfile(parameter.text);
  if (name == "stop-all") {
    Trigger(triggerStopAll);
    return {};
  }
  if (name == "show-window") {
    if (g_MasterWindow) OsBringToFront(g_MasterWindow);
    return {};
  }
  if (name == "quit") {
    if (g_Quit) g_Quit();
    return {};
  }
  return "That action cannot be activated.";
}

std::string RemoteSetActionState(const std::string& name, const RemoteValue& state) {
  if (const ToolTriggers* tool = FindTool(name)) {
    if (state.flag) {
      if (Running(name)) return {};
      std::string problem = StartProblem(name);
      if (!problem.empty()) return problem;
    }
    Trigger(state.flag ? *tool->start : *tool->stop);
    return {};
  }
  if (name == "hotkeys") {
    SetHotkeys(state.flag);
    return {};
  }
  if (name == "profile") return SwitchToProfile(state.text);
  return "The state of that action cannot be set.";
}

RemoteValue RemoteActionState(const std::string& name) {
  if (FindTool(name)) return RemoteValue::Bool(Running(name));
  if (name == "hotkeys") return RemoteValue::Bool(HotkeysWork());
  if (name == "profile") {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (currentProfileIdx >= 0 && static_cast<size_t>(currentProfileIdx) < profiles.size())
      return RemoteValue::Text(profiles[static_cast<size_t>(currentProfileIdx)].name);
    return RemoteValue::Text("");
  }
  if (name == "status") return RemoteValue::Text(BuildControlStatusJson());
  return {};
}

std::string BuildControlStatusJson() {
  std::string j = "{\"clicker\":";
  j += Bool(isAutoClicking.load());
  j += ",\"spammer\":";
  j += Bool(isKeySpamming.load());
  j += ",\"record\":";
  j += Bool(isRecording.load());
  j += ",\"play\":";
  j += Bool(isPlaying.load());
  j += ",\"clicks\":";
  j += std::to_string(currentClickCount.load());
  j += ",\"keys\":";
  j += std::to_string(currentKeySpamCount.load());
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    const bool valid = currentProfileIdx >= 0 && static_cast<size_t>(currentProfileIdx) < profiles.size();
    j += ",\"events\":";
    j += std::to_string(valid ? profiles[static_cast<size_t>(currentProfileIdx)].events.size() : 0);
    j += ",\"profile\":";
    j += JsonEscapeForBind(valid ? profiles[static_cast<size_t>(currentProfileIdx)].name : std::string());
    j += ",\"profiles\":[";
    for (size_t i = 0; i < profiles.size(); ++i) {
      if (i) j += ',';
      j += JsonEscapeForBind(profiles[i].name);
    }
    j += ']';
  }
  j += ",\"hotkeys\":";
  j += Bool(HotkeysWork());
  j += ",\"hotkeysLocked\":";
  j += Bool(g_HotkeyLockEnabled.load() && !g_HotkeysUnlocked.load());
  j += '}';
  return j;
}

bool StartRemoteControl(std::function<void()> quit) {
  g_Quit = std::move(quit);
  RemoteHandlers h;
  h.actions = RemoteActionTable();
  h.activate = RemoteActivateAction;
  h.setState = RemoteSetActionState;
  h.state = RemoteActionState;
  h.lively = Lively;
  h.activateApp = [] {
    if (g_MasterWindow) OsBringToFront(g_MasterWindow);
  };
  TrayHandlers tray;
  tray.state = [] {
    TrayState t;
    t.clicking = isAutoClicking.load();
    t.spamming = isKeySpamming.load();
    t.recording = isRecording.load();
    t.playing = isPlaying.load();
    t.hotkeysWork = HotkeysWork();
    return t;
  };
  tray.lively = Lively;
  tray.menu = [](const std::string& action) { RemoteActivateAction(action, RemoteValue()); };
  tray.keepRunningWhenClosed = [] { return g_KeepInTray; };
  OsTrayStart(g_MasterWindow, std::move(tray));
  return OsRemoteStart(std::move(h));
}

void RemoteControlStateChanged(bool settling) {
  OsTrayRefresh(settling);
  OsRemoteRefresh(settling);
}

void StopRemoteControl() {
  OsTrayStop();
  OsRemoteStop();
  g_Quit = nullptr;
}
