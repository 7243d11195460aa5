#pragma once
// Pointer and window backends: the running shell tells the pointer position,
// the window under the pointer and places the program's own window.
// Implemented in platform/linux/shell/.
#include <string>

enum class PointerBackend { None, X11, Gnome, KWin, Hyprland, Portal };

void LinuxPointerInit();
PointerBackend LinuxPointerBackend();
bool LinuxLayoutBox(int& x, int& y, int& w, int& h);
bool LinuxPointerPosition(double& x, double& y);
bool LinuxPointerState(double& x, double& y, bool& pressed);
int LinuxWindowPidAt(double x, double y);
bool LinuxShellGetFrame(int& x, int& y, int& w, int& h);
bool LinuxShellMoveFrame(int x, int y);
bool LinuxShellResizeFrame(int w, int h);
bool LinuxShellSetAbove(bool above);
bool LinuxShellIsMaximized();
void LinuxShellPrepareWindow(void* gtkWindow);
// "n/a" outside a GNOME Wayland session.
std::string LinuxGnomeHelperState();
