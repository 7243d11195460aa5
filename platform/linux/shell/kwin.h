#pragma once
// KWin script backend: pointer position and window list reported by a KWin
// script over D-Bus; own-window actions through one-shot scripts.
bool KWinSession();
bool KWinStart();
bool KWinPointer(double& x, double& y);
int KWinWindowPidAt(double x, double y);
bool KWinGetFrame(int& x, int& y, int& w, int& h);
bool KWinSetAbove(bool above);
bool KWinMoveFrame(int x, int y);
