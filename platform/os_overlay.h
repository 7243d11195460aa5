#pragma once
// Drawing over the desktop: the glow along a window contact, the contact
// effect's surface and its animation timer, pointer confinement while a drag
// runs, and the pointer operations the snap coordinator uses. Implemented in
// platform/linux/overlay/. Main thread only unless noted.
#include <functional>

#include "platform/overlay_scene.h"

// Keeps the pointer inside the rectangle (desktop coordinates, inclusive)
// while the left button is held; false when the platform cannot (only X11
// can). Releasing the button ends the confinement by itself.
bool OsConfinePointer(int left, int top, int right, int bottom);
void OsUnconfinePointer();

// Glow along `count` (0-2) lines given as left, top, right, bottom each;
// other slots are hidden. colour is 0xRRGGBB.
void OsShowSnapGlow(void* window, int count, const int* lines, const bool* vertical, unsigned colour);
// Each window can draw only inside itself (no absolute positions, no overlay layer).
bool OsGlowRelativeToWindow();
// False only on an X11 screen without a compositor.
bool OsSnapFxAvailable();
void OsSnapFxStyle(unsigned accent, bool light);
bool OsSnapFxApproach(void* owner, const snapfx::Guide& g);
void OsSnapFxClick(void* owner, const snapfx::Guide& g, double seconds);
// True while the effect timer runs.
bool OsSnapFxRunning();

// Pointer position and left button, coordinates rounded.
bool OsPointerState(int& x, int& y, bool& pressed);
// Calls fn from the idle queue after a left press in the 64-pixel band above
// the window's page (its title bar).
void OsWatchUserMoves(void* window, std::function<void()> fn);
// How far the watched window had already moved when a move that the window
// manager's own title bar started was noticed; false (zeros) otherwise.
bool OsUserMoveShift(int& dx, int& dy);
