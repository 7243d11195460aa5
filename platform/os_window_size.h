#pragma once
// The smallest size of a window's page: the window cannot be made smaller
// than this, whatever size is asked of it later (restored placement,
// resizeWindow). Window handles are GtkWindow* passed as void*; main thread.
void OsSetPageMinimumSize(void* window, int width, int height);
// The first size of a window that has no saved placement: `width` and
// `height` (page size, logical pixels) shrink to fit the work area of the
// primary monitor with room for the title bar, never below the minimum.
// Matters at large scale factors (GDK_SCALE=2 halves a 1080-pixel screen).
void OsFitFirstWindowSize(int& width, int& height, int minWidth, int minHeight);
