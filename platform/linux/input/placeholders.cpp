// Placeholders for the input layer until injection, capture and setup land:
// no devices, nothing written, access reported missing.
#include "platform/os_input.h"
#include "platform/os_keys.h"

bool OsInputInit() { return false; }
bool EnsureInjectDevice() { return false; }
void OsMouseButton(int, bool, int) {}
void OsMoveMouseTo(int, int) {}
void OsCursorPosition(int& x, int& y) { x = 0; y = 0; }
void OsKeyVk(int, bool) {}
bool OsAccessibilityTrusted() { return false; }
void OsOpenPrivacyPane(const std::string&) {}
bool OsStartInputTap() { return false; }
void OsStopInputTap() {}
bool OsListenEventAllowed() { return false; }
void LinuxInputSetSessionUsable(bool) {}
void OsInputTapOnSessionLocked() {}
LinuxButtonWatch* LinuxButtonWatchStart() { return nullptr; }
bool LinuxButtonWatchReleased(LinuxButtonWatch*) { return true; }
void LinuxButtonWatchStop(LinuxButtonWatch*) {}
bool OsIsOwnWindowAt(double, double) { return false; }
std::string ExecutableOf(int) { return {}; }
