// The native bridge: the table of functions bound into the page, in
// registration order, and the handlers whose work is done here.
#include "app/bridge.h"

#include <charconv>
#include <climits>
#include <utility>

#include "app/app.h"
#include "app/bridge_table.h"
#include "app/macro_files.h"
#include "app/pages.h"
#include "app/remote_control.h"
#include "base/json_escape.h"
#include "platform/os_webview.h"
#include "platform/os_overlay.h"
#include "platform/os_window.h"
#include "snap/desktop_windows.h"
#include "state/app_settings.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "model/hotkey_guard.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "tools/tool_rate.h"
#include "tools/keyspammer.h"
#include "app/status_json.h"
#include "model/tool_state.h"
#include "app/update_flow.h"
#include "app/macro_edit_bridge.h"
#include "model/hold_mode.h"
#include "model/panic_stop.h"

std::string ParseJSString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '[' && c != ']' && c != '"') out += c;
  return out;
}

bool ParseDecimalInt32(const std::string& text, int& out) {
  const char* p = text.data();
  const char* end = p + text.size();
  if (p < end && *p == '+') {
    ++p;
    if (p < end && *p == '-') return false;
  }
  int v = 0;
  auto [next, ec] = std::from_chars(p, end, v, 10);
  if (ec != std::errc() || next != end || next == p) return false;
  out = v;
  return true;
}

bool FirstStringArgument(const std::string& args, std::string& out) {
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < args.size() && (args[i] == ' ' || args[i] == '\t' || args[i] == '\n' || args[i] == '\r')) ++i;
  };
  skipSpace();
  if (i >= args.size() || args[i] != '[') return false;
  ++i;
  skipSpace();
  if (i >= args.size() || args[i] != '"') return false;
  ++i;
  std::string s;
  while (i < args.size()) {
    char c = args[i++];
    if (c == '"') {
      out = std::move(s);
      return true;
    }
    if (c != '\\') {
      s += c;
      continue;
    }
    if (i >= args.size()) return false;
    char e = args[i++];
    switch (e) {
      case '"': s += '"'; break;
      case '\\': s += '\\'; break;
      case '/': s += '/'; break;
      case 'b': s += '\b'; break;
      case 'f': s += '\f'; break;
      case 'n': s += '\n'; break;
      case 'r': s += '\r'; break;
      case 't': s += '\t'; break;
      case 'u': {
        // Only code points below 0x80 matter for the words compared here;
        // others are kept as UTF-8.
        if (i + 4 > args.size()) return false;
        unsigned cp = 0;
        auto [next, ec] = std::from_chars(args.data() + i, args.data() + i + 4, cp, 16);
        if (ec != std::errc() || next != args.data() + i + 4) return false;
        i += 4;
        if (cp < 0x80) {
          s += static_cast<char>(cp);
        } else if (cp < 0x800) {
          s += static_cast<char>(0xC0 | (cp >> 6));
          s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          s += static_cast<char>(0xE0 | (cp >> 12));
          s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          s += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
      default: return false;
    }
  }
  return false;
}

bool BridgeIntArgs(const std::string& args, size_t count, int* out) {
  std::vector<std::string> f = SplitString(ParseJSString(args), ',');
  if (f.size() < count) return false;
  for (size_t i = 0; i < count; ++i)
    if (!ParseDecimalInt32(f[i], out[i])) return false;
  return true;
}

namespace {

std::string LockDragCursor(const std::string& args) {
  int r[4];
  if (!BridgeIntArgs(args, 4, r)) return {};
  int px = 0, py = 0, pw = 0, ph = 0;
  if (OsGetPageFrame(g_MasterWindow, px, py, pw, ph))
    OsConfinePointer(px + r[0], py + r[1], px + r[2], py + r[3]);
  return {};
}

std::string ResizeWindow(const std::string& args) {
  int r[2];
  if (BridgeIntArgs(args, 2, r)) OsResizeWindowClamped(g_MasterWindow, r[0], r[1], false);
  return {};
}

std::string LinuxPaste(const std::string& args) {
  return JsonEscapeForBind(OsReadClipboardText(ParseJSString(args) == "primary"));
}

// Empty when the address was handed to the desktop; when nothing could open
// it, the address as a JSON string, so the page can offer it for copying.
std::string OpenLink(const std::string& args) {
  std::string name = ParseJSString(args);
  const char* url = name == "docs" ? kDocsUrl : (name == "discord" ? kCommunityUrl : nullptr);
  if (!url || OsOpenUrl(url)) return {};
  return JsonEscapeForBind(url);
}

void Trigger(std::atomic<bool>& trigger) {
  trigger.store(true);
  WakeSignalProcessor();
}

// A handler that takes no argument and returns nothing.
template <typename F>
std::function<std::string(const std::string&)> NoArgs(F f) {
  return [f](const std::string&) {
    f();
    return std::string();
  };
}

// A handler that passes the unwrapped argument on and returns nothing.
template <typename F>
std::function<std::string(const std::string&)> Unwrapped(F f) {
  return [f](const std::string& args) {
    f(ParseJSString(args));
    return std::string();
  };
}

}  // namespace

std::string HandleSetTitleBarColors(void* window, const std::string& args) {
  std::string text = ParseJSString(args);
  size_t bar = text.find('|');
  if (bar == std::string::npos) return {};
  TitleBarColors colors;
  if (ParseThemeColor(text.substr(0, bar), colors.background) &&
      ParseThemeColor(text.substr(bar + 1), colors.foreground))
    OsSetTitleBarColors(window, colors);
  return {};
}

std::vector<BridgeBinding> BuildBridgeTable(const BridgeContext& ctx) {
  std::vector<BridgeBinding> t;
  auto sync = [&t](const char* name, std::function<std::string(const std::string&)> fn) {
    t.push_back(BridgeBinding{name, std::move(fn), {}});
  };
  sync("setSnapAccent", Unwrapped([](const std::string& s) { DesktopSetSnapAccent(s); }));
  sync("lockDragCursor", LockDragCursor);
  sync("unlockDragCursor", NoArgs([] { OsUnconfinePointer(); }));
  sync("pmrLinuxPaste", LinuxPaste);
  sync("resizeWindow", ResizeWindow);
  sync("updateSpammer", Unwrapped([](const std::string& s) { ApplyAutoClickerUpdate(s); }));
  sync("startSpammer", NoArgs([] { Trigger(triggerAutoClickStart); }));
  sync("stopSpammer", NoArgs([] { Trigger(triggerAutoClickStop); }));
  sync("updateKeySpam", Unwrapped([](const std::string& s) { ApplyKeySpamUpdate(s); }));
  sync("startKeySpam", NoArgs([] { Trigger(triggerKeySpamStart); }));
  sync("stopKeySpam", NoArgs([] { Trigger(triggerKeySpamStop); }));
  sync("removeKeySpamTarget", Unwrapped([](const std::string& s) { RemoveKeySpamTarget(s); }));
  sync("setKeySpamChordMode", Unwrapped([](const std::string& s) { SetKeySpamChordMode(s); }));
  sync("pickLocation", NoArgs([] { isPickingLocation.store(true); }));
  sync("getAppSettings", [](const std::string&) {
    g_MainPageReady.store(true);
    return BindGetAppSettings();
  });
  sync("markWarningSeen", [](const std::string& a) { return BindMarkWarningSeen(ParseJSString(a)); });
  sync("setAppSetting", [](const std::string& a) { return BindSetAppSetting(ParseJSString(a)); });
  sync("setPanelOrder", [](const std::string& a) { return BindSetPanelOrder(ParseJSString(a)); });
  sync("resetHotkeys", NoArgs([] {
    ClearPendingHotkey();
    ResetHotkeys();
  }));
  sync("openLink", OpenLink);
  sync("getTrackerStatus", [](const std::string&) { return RunStatusPoll(); });
  sync("clearProfile", NoArgs(BindClearProfile));
  sync("addProfile", Unwrapped([](const std::string& s) { BindAddProfile(s); }));
  sync("deleteProfile", NoArgs(BindDeleteProfile));
  sync("switchProfile", Unwrapped([](const std::string& s) { BindSwitchProfile(s); }));
  sync("getProfiles", [](const std::string&) { return BindGetProfiles(); });
  sync("getSettings", [](const std::string&) { return BuildSettingsJson(); });
  t.push_back(BridgeBinding{"startUpdate", {}, ctx.startUpdate});
  sync("reassignKey", Unwrapped([](const std::string& s) {
    ClearPendingHotkey();
    ReassignKey(s);
  }));
  sync("pmrMacPermissionStatus", [](const std::string&) { return HandlePermissionStatus(); });
  sync("pmrMacRequestPermission", [](const std::string& a) {
    HandleRequestPermission(a);
    return std::string();
  });
  auto dispatch = ctx.dispatch;
  sync("pmrMacAlert", [dispatch](const std::string& a) {
    std::string message = ParseJSString(a);
    // Posted: the modal alert must not run inside the page's call.
    if (dispatch) dispatch([message] { OsShowAlert(message); });
    return std::string();
  });
  sync("pmrLinuxInstallGnomeHelper", [](const std::string&) { return HandleInstallGnomeHelper(); });
  sync("pmrMacOpenSoftwareUpdate", NoArgs([] { OsOpenSoftwareUpdate(); }));
  sync("pmrMacContinue", [ctx](const std::string&) {
    HandleContinue(ctx);
    return std::string();
  });
  sync("updateRecorder", Unwrapped([](const std::string& s) { ApplyRecorderUpdate(s); }));
  sync("toggleRecording", NoArgs([] { Trigger(triggerRecord); }));
  sync("togglePlayback", NoArgs([] { Trigger(triggerPlay); }));
  sync("exportMacro", NoArgs([dispatch] { BindExportMacro(dispatch); }));
  sync("openMacro", NoArgs([dispatch] { BindOpenMacro(dispatch); }));
  sync("answerMacroOpen", Unwrapped([](const std::string& s) { AnswerMacroOpen(s); }));
  // The question about a macro file that waits, with what the file will do.
  sync("getMacroAsk", [](const std::string&) { return MacroAskJson(); });
  // The answer to "use this typing key as a hotkey?": "1" yes, else no.
  sync("confirmHotkey", Unwrapped([](const std::string& s) { ConfirmPendingHotkey(s); }));
  // The macro editor (tools/macro_edit.h): rows and events of the current
  // profile a window at a time, edit batches, undo and redo.
  sync("getMacroRows", BindGetMacroRows);
  sync("getMacroEvents", BindGetMacroEvents);
  sync("editMacro", BindEditMacro);
  sync("undoMacroEdit", [](const std::string&) { return BindUndoMacroEdit(); });
  sync("redoMacroEdit", [](const std::string&) { return BindRedoMacroEdit(); });
  // Jitter, the fixed spot typed in, the click sequence.
  sync("updateJitter", Unwrapped([](const std::string& s) { ApplyJitterUpdate(s); }));
  sync("setFixedSpot", Unwrapped([](const std::string& s) { ApplyFixedSpotUpdate(s); }));
  sync("setClickSequence", Unwrapped([](const std::string& s) { ApplyClickSequenceUpdate(s); }));
  // The measured timing: a test run of the clicker's wait, and its result.
  sync("testClickTiming", NoArgs([] { RequestTimingTest(); }));
  sync("getTimingTest", [](const std::string&) { return TimingTestJson(); });
  // Hold to run and turbo ("auto,1", "keyspam,0", "turbo,1") and the panic
  // stop's combination ("0" off, "1" both Shift keys, "2" Escape three times).
  sync("setHoldOption", Unwrapped([](const std::string& s) { SetHoldOption(s); }));
  sync("setPanicCombo", Unwrapped([](const std::string& s) { SetPanicCombo(s); }));
  return t;
}

void BindSetTitleBarColors(webview::WebView& w) {
  void* window = w.window();
  w.bind("setTitleBarColors",
         [window](const std::string& args) { return HandleSetTitleBarColors(window, args); });
}

void BindBridgeFunctions(webview::WebView& w) {
  BridgeContext ctx;
  ctx.dispatch = [&w](std::function<void()> fn) { w.dispatch(std::move(fn)); };
  ctx.loadMainUi = [&w] { LoadMainUi(w); };
  ctx.startUpdate = [&w](const std::string& id, const std::string& args) { BindStartUpdate(w, id, args); };
  for (BridgeBinding& b : BuildBridgeTable(ctx)) {
    if (b.async) {
      w.bind_async(b.name, std::move(b.async));
      continue;
    }
    // A call may switch or rename the profile or change what the tray and
    // the bus actions show: they read the state again after it.
    w.bind(b.name, [fn = std::move(b.sync)](const std::string& args) {
      std::string result = fn(args);
      RemoteControlStateChanged(false);
      return result;
    });
  }
}
