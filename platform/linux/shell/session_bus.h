#pragma once
// A private connection to the session bus, for code that keeps its own
// (its signal subscriptions on its own thread, or simply its own life). It
// never ends the process when the bus goes away.
#include <gio/gio.h>

// A new connection, or null when there is no session bus. The caller owns it.
GDBusConnection* LinuxNewSessionConnection();
