// Placeholders for the overlay layer until it lands: confinement is unavailable.
#include "platform/os_overlay.h"

bool OsConfinePointer(int, int, int, int) { return false; }
void OsUnconfinePointer() {}
