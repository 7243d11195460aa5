#pragma once
// Tests inside the private headless GNOME Shell session of
// tests/support/with-gnome.sh: controlling the shell, reading its state
// through Eval, and moving the pointer through Mutter's remote-desktop
// interface as a real input device would.
#include <gio/gio.h>

#include <string>

namespace pmrtest {

// True when running under with-gnome.sh.
bool InGnomeSession();
// Runs a session control ("shell-stop", "shell-kill", "shell-start",
// "pipewire-stop"); true when it succeeded.
bool GnomeControl(const std::string& what);
// Evaluates JavaScript inside the shell; false when the shell did not answer
// or the script threw. *result holds the shell's answer text.
bool GnomeEval(const std::string& script, std::string* result);
// Whether the extension with this UUID is loaded and enabled (state 1).
bool GnomeExtensionActive(const std::string& uuid);
// Whether a window of process `pid` is mapped on the shell: placed and shown,
// past the point where the shell's own placement could still move it.
bool GnomeWindowOfPidMapped(int pid);
// A private session-bus connection for the test (closed by the caller).
GDBusConnection* TestSessionBus();

// Pointer input through a remote-desktop session of the shell, as relative
// motion of a virtual pointer; MoveTo moves by the distance from where the
// shell says the pointer is.
class GnomeRemotePointer {
 public:
  GnomeRemotePointer();
  ~GnomeRemotePointer();
  GnomeRemotePointer(const GnomeRemotePointer&) = delete;
  GnomeRemotePointer& operator=(const GnomeRemotePointer&) = delete;

  bool Ok() const { return !session_.empty(); }
  const std::string& error() const { return error_; }
  bool MoveBy(double dx, double dy);
  bool MoveTo(double x, double y);
  bool LeftButton(bool down);
  // Presses and releases a key of the virtual keyboard (an X keysym).
  bool Key(unsigned keysym);

 private:
  bool Call(const char* method, GVariant* args);
  GDBusConnection* bus_ = nullptr;
  std::string session_;
  std::string error_;
  bool leftHeld_ = false;
};

// Plays the user in the portal's "Screen Share" dialog through its
// accessibility interface: waits for the dialog, selects the first monitor,
// makes sure "remember" is on and presses Share. False when no dialog came,
// a control was missing or the dialog did not close. *why says what failed.
bool GnomeGrantScreenShare(int timeoutMs, std::string* why = nullptr);
// Whether the portal's "Screen Share" dialog is open.
bool GnomeScreenShareDialogOpen();

}  // namespace pmrtest
