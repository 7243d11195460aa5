// The boot page's bindings: permission status, permission request, GNOME
// helper install and the continue step.
#include "app/app.h"
#include "app/bridge_table.h"
#include "base/json_escape.h"
#include "platform/os_webview.h"
#include "platform/os_input.h"
#include "platform/os_shell.h"
#include "platform/os_window.h"
#include "state/app_settings.h"

std::string BuildPermissionStatusJson(bool accessibility, bool input, bool ready,
                                      const std::string& setup, const std::string& commands,
                                      const std::string& gnome, const std::string& problem,
                                      int inputDevices) {
  auto b = [](bool v) { return v ? "true" : "false"; };
  std::string j = "{\"accessibility\":";
  j += b(accessibility);
  j += ",\"input\":";
  j += b(input);
  j += ",\"ready\":";
  j += b(ready);
  j += ",\"setup\":";
  j += JsonEscapeForBind(setup);
  j += ",\"commands\":";
  j += JsonEscapeForBind(commands);
  j += ",\"gnome\":";
  j += JsonEscapeForBind(gnome);
  j += ",\"setupProblem\":";
  j += JsonEscapeForBind(problem);
  // Input devices present at all, readable or not: none found is not the
  // same as not allowed.
  j += ",\"inputDevices\":";
  j += std::to_string(inputDevices);
  j += '}';
  return j;
}

std::string HandlePermissionStatus() {
  bool accessibility = OsAccessibilityTrusted();
  bool ready = false;
  if (OsAccessibilityTrusted()) {
    RememberAccessibilityGranted();
    ready = OsStartInputTap();  // starts the capture when it is not running yet
  }
  std::string gnome = LinuxGnomeHelperState();
  std::string commands = OsInputSetupCommands();
  std::string setup = OsInputSetupState();
  bool input = ready || OsListenEventAllowed();
  return BuildPermissionStatusJson(accessibility, input, ready, setup, commands, gnome,
                                   OsInputSetupProblem(), OsInputDeviceCount());
}

void HandleRequestPermission(const std::string& args) {
  std::string which;
  if (!FirstStringArgument(args, which)) return;
  if (which == "accessibility")
    OsPromptAccessibility();
  else if (which == "input")
    OsRequestListenEvent();
  else
    return;
  OsOpenPrivacyPane(which);
}

std::string HandleInstallGnomeHelper() {
  return LinuxGnomeInstallHelper(OsResourceDir()) ? "true" : "false";
}

void HandleContinue(const BridgeContext& ctx) {
  if (!OsAccessibilityTrusted()) return;
  RememberAccessibilityGranted();
  if (!OsStartInputTap()) return;
  if (!ctx.dispatch) return;
  auto load = ctx.loadMainUi;
  ctx.dispatch([load] {
    if (load) load();
    OsBringToFront(g_MasterWindow);
  });
}
