#pragma once
// The overlay layer: pointer confinement while a drag runs. Implemented in
// platform/linux/overlay/.

// Keeps the pointer inside the rectangle (desktop coordinates) while the left
// button is held; false when the platform cannot.
bool OsConfinePointer(int left, int top, int right, int bottom);
void OsUnconfinePointer();
