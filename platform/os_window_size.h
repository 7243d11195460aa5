#pragma once
// The smallest size of a window's page: the window cannot be made smaller
// than this, whatever size is asked of it later (restored placement,
// resizeWindow). Window handles are GtkWindow* passed as void*; main thread.
void OsSetPageMinimumSize(void* window, int width, int height);
