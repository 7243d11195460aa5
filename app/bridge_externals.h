#pragma once
// Operations of other areas that bridge handlers call but whose own headers
// do not declare yet. Each owner defines the real one; until then
// app/bridge_fallbacks.cpp gives the behaviour of an unavailable platform.
#include <string>

namespace webview { class WebView; }

// Snap group coordinator: accent colour text "colour;text colour;animated".
void DesktopSetSnapAccent(const std::string& spec);
// Pointer confinement while the left button is held (X11 only).
bool OsConfinePointer(int left, int top, int right, int bottom);
void OsUnconfinePointer();
// GNOME Shell helper: installs or updates it from the resource directory.
bool LinuxGnomeInstallHelper(const std::string& resourceDir);
// Self-update: the asynchronous startUpdate call; answers through w.resolve.
void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string& args);
