// The input access setup: the installed setup-input helper (or, in a copy
// without one, the same steps as a script) started through pkexec, its state,
// and the same steps as commands for people who run them by hand.
#include "platform/linux/input/setup.h"

#include <glib.h>
#include <sys/wait.h>

#include <atomic>
#include <vector>

#include "platform/linux/system_tools.h"
#include "platform/os_input.h"
#include "platform/os_window.h"

namespace {

std::atomic<int> g_SetupState{kSetupIdle};
// Why the last run failed, when that is known: 1 pkexec could not be started
// (not installed), 2 pkexec found no way to authenticate (exit status 127:
// no polkit authentication agent running, or authorisation refused).
std::atomic<int> g_SetupProblem{0};

void OnSetupExited(GPid pid, gint waitStatus, gpointer) {
  g_spawn_close_pid(pid);
  int state = kSetupFailed;
  if (WIFEXITED(waitStatus)) {
    int code = WEXITSTATUS(waitStatus);
    if (code == 0)
      state = kSetupDone;
    else if (code == 126)  // pkexec: the authentication dialog was dismissed
      state = kSetupCancelled;
    else if (code == 127)  // pkexec: not authorised, or no agent to ask with
      g_SetupProblem.store(2);
  }
  g_SetupState.store(state);
}

}  // namespace

std::string InputSetupScript() {
  std::string s;
  s += "# Pellomar: one-time keyboard and mouse access\n";
  s += "set -e\n";
  s += std::string("cat > ") + kRulesPath + " <<'PMR_RULES'\n";
  s += kUdevRules;
  s += "PMR_RULES\n";
  s += "echo uinput > /etc/modules-load.d/pellomar.conf\n";
  s += "modprobe uinput || true\n";
  s += "udevadm control --reload-rules\n";
  s += "udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput\n";
  s += "udevadm trigger --action=change --subsystem-match=input --sysname-match='event*'\n";
  s += "udevadm settle --timeout=5 || true\n";
  return s;
}

std::string& HelperDirForTest() {
  static std::string dir;
  return dir;
}

void SetInputSetupHelperDirForTest(const std::string& dir) { HelperDirForTest() = dir; }

std::string InputSetupHelper(const std::string& resourceDir) {
  std::string helper = resourceDir + "/" + kSetupHelperName;
  return IsRootOwnedHelper(helper) ? helper : std::string();
}

std::vector<std::string> InputSetupCommand(const std::string& resourceDir) {
  std::string pkexec = SystemToolPath("pkexec");
  if (pkexec.empty()) return {};
  std::string helper = InputSetupHelper(resourceDir);
  // An installed package runs its own helper (its polkit action names the
  // steps); a copy without one (an AppImage, a build) hands pkexec the script.
  if (!helper.empty()) return {pkexec, helper};
  return {pkexec, "/bin/sh", "-c", InputSetupScript()};
}

void RunInputSetup() {
  int seen = g_SetupState.load();
  if (seen == kSetupRunning) return;
  if (!g_SetupState.compare_exchange_strong(seen, kSetupRunning)) return;

  g_SetupProblem.store(0);
  std::vector<std::string> command =
      InputSetupCommand(HelperDirForTest().empty() ? OsResourceDir() : HelperDirForTest());
  std::vector<gchar*> argv;
  for (std::string& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  GPid pid = 0;
  GError* error = nullptr;
  gboolean started = !command.empty() &&
                     g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                   &pid, &error);
  if (!started) {
    if (error) g_error_free(error);
    g_SetupProblem.store(1);
    g_SetupState.store(kSetupFailed);
    return;
  }
  g_child_watch_add(pid, OnSetupExited, nullptr);
}

void OsPromptAccessibility() { RunInputSetup(); }
void OsRequestListenEvent() { RunInputSetup(); }

std::string OsInputSetupState() {
  switch (g_SetupState.load()) {
    case kSetupRunning: return "running";
    case kSetupDone: return "done";
    case kSetupFailed: return "failed";
    case kSetupCancelled: return "cancelled";
    default: return "idle";
  }
}

std::string OsInputSetupProblem() {
  switch (g_SetupProblem.load()) {
    case 1: return "pkexec-missing";
    case 2: return "not-authorized";
    default: return "";
  }
}

std::string OsInputSetupCommands() {
  std::string s;
  s += std::string("sudo tee ") + kRulesPath + " > /dev/null <<'PMR_RULES'\n";
  s += kUdevRules;
  s += "PMR_RULES\n";
  s += "sudo sh -c 'echo uinput > /etc/modules-load.d/pellomar.conf'\n";
  s += "sudo modprobe uinput\n";
  s += "sudo udevadm control --reload-rules\n";
  s += "sudo udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput\n";
  s += "sudo udevadm trigger --action=change --subsystem-match=input --sysname-match='event*'\n";
  return s;
}
