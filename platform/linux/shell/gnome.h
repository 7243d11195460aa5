#pragma once
// GNOME Shell helper backend: the helper extension's D-Bus object.
bool GnomeSession();
// leftDown, when given, receives whether the left button is held.
bool GnomePointer(double& x, double& y, bool* leftDown);
int GnomeWindowPidAt(double x, double y);
bool GnomeSetAbove(bool above);
bool GnomeMoveFrame(int x, int y);
bool GnomeGetFrame(int& x, int& y, int& w, int& h);
