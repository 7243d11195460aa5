#pragma once
// Helpers for tests that need GTK on a real (X) display.
#include <functional>
#include <string>

namespace pmrtest {

// Initialises GTK once for the process; false when no display can be opened.
bool InitGtkOnce();

// Iterates the default main context until cond() holds or timeout_ms has
// passed; returns cond()'s final value. Call on the thread that owns GTK.
bool SpinUntil(const std::function<bool()>& cond, int timeout_ms);

// Iterates the default main context for about ms milliseconds.
void SpinFor(int ms);

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);

}  // namespace pmrtest
