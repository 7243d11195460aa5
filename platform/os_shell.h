#pragma once
// Pointer and window backends: the running shell tells the pointer position,
// the window under the pointer and places the program's own window.
// Implemented in platform/linux/shell/.
#include <string>

// The backend chosen once by LinuxPointerInit; the values are stable. (The
// names avoid Xlib's None macro.)
enum class PointerBackend { kNone = 0, kX11 = 1, kGnome = 2, kKWin = 3, kHyprland = 4, kPortal = 5 };

// Chooses the backend and starts keeping the layout box. Runs once per
// process (later calls do nothing); call it on the GTK main thread after GTK
// has been initialised.
void LinuxPointerInit();
// Ends what the backend keeps running (the portal's session, streams and
// thread). Called once at shutdown; the backend then answers no position.
void LinuxPointerStop();
// The backend LinuxPointerInit chose (kNone before it ran).
PointerBackend LinuxPointerBackend();
// Bounding box of all monitors in desktop coordinates; false (outputs
// untouched) when there is none.
bool LinuxLayoutBox(int& x, int& y, int& w, int& h);

bool LinuxPointerPosition(double& x, double& y);
bool LinuxPointerState(double& x, double& y, bool& leftDown);
// Pid of the window under the point, 0 when unknown.
int LinuxWindowPidAt(double x, double y);

// The program's own top-level window (the frame: outer position and size).
bool LinuxShellGetFrame(int& x, int& y, int& w, int& h);
bool LinuxShellMoveFrame(int x, int y);
bool LinuxShellSetAbove(bool above);
bool LinuxShellSetRounded(bool rounded);
bool LinuxShellResizeFrame(int w, int h);
bool LinuxShellIsMaximized(bool& maximized);
// x or y equal to the minimum int value means "no position".
void LinuxShellPrepareWindow(int w, int h, int x, int y);

// "n/a" outside a GNOME Wayland session.
std::string LinuxGnomeHelperState();
// Installs or updates the GNOME Shell helper from the resource directory.
bool LinuxGnomeInstallHelper(const std::string& resourceDir);

// Whether the screen-share permission of the portal pointer stream outlives
// the program: on, the portal keeps it until revoked and its restore token is
// saved in the data directory; off (the default), it lasts while the program
// runs and the saved token is deleted (at once, and at the next session).
void LinuxPortalRememberGrant(bool remember);
