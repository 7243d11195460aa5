#pragma once
// The tray icon: a StatusNotifierItem (through libayatana-appindicator)
// whose icon shows what runs and whose menu starts and stops each tool,
// switches the hotkeys, shows the window and quits; and closing the window
// into the tray when the user asked for it and a tray shows the item.
// Implemented in platform/linux/gtk/tray.cpp. Main thread.
#include <functional>
#include <string>

// What the icon and the menu show.
struct TrayState {
  bool clicking = false, spamming = false, recording = false, playing = false;
  bool hotkeysWork = true;
  bool operator==(const TrayState&) const = default;
};

// The icon's name for a state: what runs (recording, then playing, clicking,
// spamming), else "hotkeys off" when they do not work, else idle:
// "pellomar-tray-recording", "-playing", "-clicking", "-spamming",
// "-hotkeys-off", "-idle" (SVGs in linux-ui/icons/tray of the resource
// directory).
std::string TrayIconName(const TrayState& state);

struct TrayHandlers {
  // Read when told (OsTrayRefresh), every 250 ms while lively() holds and
  // shortly after, and every 5 s otherwise.
  std::function<TrayState()> state;
  // Whether the state changes by itself now (a tool runs); empty: never.
  std::function<bool()> lively;
  // A menu entry was chosen: "clicker", "spammer", "record", "play" (toggle),
  // "hotkeys" (toggle), "show-window" or "quit".
  std::function<void(const std::string& action)> menu;
  // Whether closing the window should keep the program running in the tray.
  std::function<bool()> keepRunningWhenClosed;
};

// Puts the item up for the main window (a GtkWindow*). Closing that window
// then hides it instead while keepRunningWhenClosed() holds and a tray host
// shows the item; a termination signal still ends the program.
void OsTrayStart(void* window, TrayHandlers handlers);
void OsTrayStop();
// The state may have changed: reads it now. With `settling` the state is
// read often for a little while even when nothing is lively. Main thread.
void OsTrayRefresh(bool settling);
// A tray host (StatusNotifierHost) is registered with the desktop's
// StatusNotifierWatcher, so the item can be seen.
bool OsTrayHostPresent();
