#pragma once
// The one-time input access setup: a udev rule that lets the person at the
// computer use keyboards, mice and uinput, installed as root through pkexec.
// The operations themselves are declared in platform/os_input.h.
#include <string>
#include <vector>

inline constexpr const char* kRulesPath = "/etc/udev/rules.d/70-pellomar.rules";
inline constexpr const char* kModulesLoadPath = "/etc/modules-load.d/pellomar.conf";
// The rule file, eight lines each ending in a line feed.
extern const char* const kUdevRules;
// The installed root helper that makes the setup's fixed steps
// (platform/linux/input/setup_input_main.cpp), beside the program.
inline constexpr const char* kSetupHelperName = "setup-input";

// The setup's steps as root, in order: the rule file and the module file
// (written whole, mode 0644, their folders made when missing), modprobe
// uinput (may fail), udevadm: reload the rules, trigger uinput and the event
// devices, settle (may fail). `etc` is "/etc" (tests pass a private copy).
// Stops at the first failing step; returns "" or what failed.
std::string RunInputSetupSteps(const std::string& etc);

// The shell script run as root by RunInputSetup where no helper is installed.
std::string InputSetupScript();
// The installed, root-owned setup-input helper in `resourceDir`, or "".
std::string InputSetupHelper(const std::string& resourceDir);
// What RunInputSetup starts: /usr/bin/pkexec (or the system's other place for
// it, never a PATH search) with the helper, or with /bin/sh -c and the script
// when there is no helper; empty when pkexec is not installed.
std::vector<std::string> InputSetupCommand(const std::string& resourceDir);
// Test seam: RunInputSetup looks for the helper in `dir` instead of the
// resource directory ("" restores that).
void SetInputSetupHelperDirForTest(const std::string& dir);

// Setup states as kept in memory.
enum InputSetupState : int {
  kSetupIdle = 0,
  kSetupRunning = 1,
  kSetupDone = 2,
  kSetupFailed = 3,
  kSetupCancelled = 4,
};
