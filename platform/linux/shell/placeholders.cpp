// Placeholders for the pointer and window backends: no backend.
#include "platform/os_shell.h"

void LinuxPointerInit() {}
PointerBackend LinuxPointerBackend() { return PointerBackend::None; }
bool LinuxLayoutBox(int&, int&, int&, int&) { return false; }
bool LinuxPointerPosition(double&, double&) { return false; }
bool LinuxPointerState(double&, double&, bool&) { return false; }
int LinuxWindowPidAt(double, double) { return 0; }
bool LinuxShellGetFrame(int&, int&, int&, int&) { return false; }
bool LinuxShellMoveFrame(int, int) { return false; }
bool LinuxShellResizeFrame(int, int) { return false; }
bool LinuxShellSetAbove(bool) { return false; }
bool LinuxShellIsMaximized() { return false; }
void LinuxShellPrepareWindow(void*) {}
