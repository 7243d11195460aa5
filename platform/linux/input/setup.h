#pragma once
// The one-time input access setup: a udev rule that lets the person at the
// computer use keyboards, mice and uinput, installed as root through pkexec.
// The operations themselves are declared in platform/os_input.h.
#include <string>

inline constexpr const char* kRulesPath = "/etc/udev/rules.d/70-pellomar.rules";
inline constexpr const char* kModulesLoadPath = "/etc/modules-load.d/pellomar.conf";
// The rule file, eight lines each ending in a line feed.
extern const char* const kUdevRules;

// The shell script run as root by RunInputSetup.
std::string InputSetupScript();

// Setup states as kept in memory.
enum InputSetupState : int {
  kSetupIdle = 0,
  kSetupRunning = 1,
  kSetupDone = 2,
  kSetupFailed = 3,
  kSetupCancelled = 4,
};
