#pragma once
// Input devices: injection through uinput, capture from evdev with hotkey
// swallowing, the one-time access setup. Implemented in platform/linux/input/.
#include <string>

// Injection.
bool OsInputInit();
bool EnsureInjectDevice();
void OsMouseButton(int button, bool down, int clickNumber);
void OsMoveMouseTo(int x, int y);
void OsCursorPosition(int& x, int& y);
void OsKeyVk(int vk, bool down);
bool OsAccessibilityTrusted();
void OsOpenPrivacyPane(const std::string& which);

// Capture.
bool OsStartInputTap();
void OsStopInputTap();
bool OsListenEventAllowed();
void LinuxInputSetSessionUsable(bool usable);
void OsInputTapOnSessionLocked();
struct LinuxButtonWatch;
LinuxButtonWatch* LinuxButtonWatchStart();
bool LinuxButtonWatchReleased(LinuxButtonWatch* watch);
void LinuxButtonWatchStop(LinuxButtonWatch* watch);
bool OsIsOwnWindowAt(double x, double y);
std::string ExecutableOf(int pid);

// Access setup.
void RunInputSetup();
void OsPromptAccessibility();
void OsRequestListenEvent();
std::string OsInputSetupState();
std::string OsInputSetupCommands();
