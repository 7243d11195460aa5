#pragma once
// The desktop's light or dark preference. Implemented in
// platform/linux/gtk/color_scheme.cpp. Main thread.
#include <functional>

// Whether the desktop asks applications for a dark look: the settings
// portal's org.freedesktop.appearance color-scheme (1 prefer dark, 2 prefer
// light); with no portal or no preference there (0), GTK's
// gtk-application-prefer-dark-theme as the desktop set it, or a GTK theme
// whose name ends in "-dark" or ":dark". False until the watch has started.
bool OsDesktopPrefersDark();

// Starts following the preference; `changed` is called on the main thread
// with the new answer whenever OsDesktopPrefersDark() changes (the portal's
// answer arriving, its SettingChanged signal, a new GTK theme). Call once,
// after GTK is set up and before the program sets GTK's dark preference for
// its own window.
void OsWatchDesktopColorScheme(std::function<void(bool dark)> changed);
