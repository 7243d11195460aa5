// The GNOME Shell helper backend is not built yet: no session is recognised,
// so the backend selection moves on to the next candidate.
#include "platform/linux/shell/gnome.h"

bool GnomeSession() { return false; }
bool GnomePointer(double&, double&, bool*) { return false; }
int GnomeWindowPidAt(double, double) { return 0; }
bool GnomeSetAbove(bool) { return false; }
bool GnomeMoveFrame(int, int) { return false; }
bool GnomeGetFrame(int&, int&, int&, int&) { return false; }
