#pragma once
// The program's actions as the desktop reaches them from outside the window:
// over the session bus (platform/os_remote.h), from the command line (a
// client of the same actions) and from the tray menu. Each request is a
// trigger and a wake of the signal processor, as a bridge call is; settings
// and profiles change on the main thread, as the page changes them.
//
// Actions (name: parameter / state; what activating does):
//   clicker, spammer, record, play: none / b (runs); toggles the tool.
//     Setting the state starts (true) or stops (false) it.
//   hotkeys: none / b (hotkeys work: switched on and not locked); toggles.
//     Setting true switches them on and unlocks them; false switches them off.
//   profile: s / s (the current profile's name); makes the profile with
//     exactly that name current.
//   stop-all: none / none; stops every tool, the recording and playback and
//     releases every key and button still held.
//   show-window: brings the window forward.   quit: ends the program.
//   status: disabled, state s: the control status JSON below.
#include <functional>
#include <string>
#include <vector>

#include "platform/os_remote.h"

std::vector<RemoteAction> RemoteActionTable();
// Main thread. Empty when done; otherwise why the request was refused.
std::string RemoteActivateAction(const std::string& name, const RemoteValue& parameter);
std::string RemoteSetActionState(const std::string& name, const RemoteValue& state);
RemoteValue RemoteActionState(const std::string& name);

// {"clicker":b,"spammer":b,"record":b,"play":b,"clicks":n,"keys":n,
//  "events":n,"profile":s,"profiles":[s,...],"hotkeys":b,"hotkeysLocked":b}
// built by hand without white space. Takes the profile lock.
std::string BuildControlStatusJson();

// Main thread, once the window exists: offers the actions on the session bus
// and puts up the tray icon, whose menu uses the same actions.
// `quit` ends the main loop. False without a session bus (the program runs
// on without it).
bool StartRemoteControl(std::function<void()> quit);
void StopRemoteControl();
// The state the tray and the bus show may have changed: both read it now
// (they read it often only while a tool runs). `settling`: a tool may just
// have stopped, so they keep reading it often for a moment while its final
// count settles. Main thread.
void RemoteControlStateChanged(bool settling);
