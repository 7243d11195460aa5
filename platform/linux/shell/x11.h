#pragma once
// X11 backend: the program's own Xlib connection to the display named by
// DISPLAY. Every call on it holds one mutex, so any thread may use these.

// Whether GDK's default display is an X11 display (main thread).
bool X11GdkDisplayIsX11();
// Opens the connection (once; later calls report whether it is open).
bool X11Open();
bool X11IsOpen();
// The pointer in root coordinates and whether the left button is held.
bool X11QueryPointer(double& x, double& y, bool& leftDown);
// Pid of the client window under the point, 0 when unknown.
int X11WindowPidAt(double x, double y);
// Pid of the client found from a window (the window itself when it carries
// WM_STATE, else its topmost descendant that does, at most five levels
// down); 0 when there is none or the window is gone.
int X11ClientPidFrom(unsigned long window);
