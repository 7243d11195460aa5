#pragma once
// The running program's actions on the user's session bus, the way desktop
// programs offer them: the well-known name is the application id
// (OsBundleIdentifier(), "app.pellomar.free"), the object path the id with
// its dots as slashes ("/app/pellomar/free"), with the interfaces
// org.freedesktop.Application (Activate, Open, ActivateAction) and
// org.gtk.Actions (List, Describe, DescribeAll, Activate, SetState and the
// signal Changed). Only callers of the program's own user are served.
// The client side is what the command line uses.
// Implemented in platform/linux/gtk/remote_actions.cpp.
#include <functional>
#include <string>
#include <vector>

// A parameter or a state: nothing, a boolean or a text (D-Bus "b" or "s").
struct RemoteValue {
  enum Kind { kNone, kBool, kText };
  Kind kind = kNone;
  bool flag = false;
  std::string text;
  static RemoteValue Bool(bool b) { return {kBool, b, {}}; }
  static RemoteValue Text(std::string t) { return {kText, false, std::move(t)}; }
  bool operator==(const RemoteValue&) const = default;
};

struct RemoteAction {
  std::string name;
  RemoteValue::Kind parameter = RemoteValue::kNone;  // what Activate takes
  RemoteValue::Kind state = RemoteValue::kNone;      // kNone: the action has no state
  bool enabled = true;
};

// What the program does for the bus. Every function runs on the main thread.
struct RemoteHandlers {
  std::vector<RemoteAction> actions;
  // Empty: done; otherwise one sentence saying why the request was refused.
  // The parameter and the state have the kind the action declares.
  std::function<std::string(const std::string& name, const RemoteValue& parameter)> activate;
  std::function<std::string(const std::string& name, const RemoteValue& state)> setState;
  // The present state of a stateful action.
  std::function<RemoteValue(const std::string& name)> state;
  // Whether states change by themselves now (a tool runs, counts grow);
  // empty: never.
  std::function<bool()> lively;
  // org.freedesktop.Application.Activate: bring the window forward.
  std::function<void()> activateApp;
};

// Main thread, once GTK runs: exports the actions and asks for the name
// (queued behind an owner that holds it already). States are read again
// after every request and when told (OsRemoteRefresh), every 250 ms while
// lively() holds and shortly after, every 5 s otherwise; changes are
// announced with Changed.
// False when there is no session bus.
bool OsRemoteStart(RemoteHandlers handlers);
// Reads every state now and announces what changed; with `settling` the
// states are read often for a little while even when nothing is lively.
// Main thread.
void OsRemoteRefresh(bool settling = false);
// Gives the name up and removes the objects. Main thread.
void OsRemoteStop();

// ---- client ------------------------------------------------------------------

enum class RemoteResult {
  kDone,
  kNotRunning,  // no session bus, or nobody owns the name
  kRefused,     // the program answered with an error; the message says why
};
// Each call blocks until the program answered (at most 25 s). Any thread,
// without GTK.
RemoteResult OsRemoteActivate(const std::string& name, const RemoteValue& parameter, std::string& message);
RemoteResult OsRemoteSetState(const std::string& name, const RemoteValue& state, std::string& message);
RemoteResult OsRemoteGetState(const std::string& name, RemoteValue& state, std::string& message);
