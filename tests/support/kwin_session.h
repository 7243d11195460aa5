#pragma once
// A real KWin (Plasma's Wayland compositor), headless, for tests: its own
// session bus, runtime directory and Wayland socket. The helper asks KWin
// things through KWin's scripting service (a script reports a value back to
// an object of the helper's own connection) and moves KWin's pointer through
// KWin's fake-input protocol.
//
// Start one per test program: KWin takes a second or two to come up.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pmrtest {

// Polls condition until it holds or timeoutMs have passed. With
// iterateMainContext the default GLib main context runs in between (the KWin
// backend unloads its one-shot scripts from it).
bool WaitForCondition(const std::function<bool()>& condition, int timeoutMs, bool iterateMainContext = false);

class KWinSession {
 public:
  KWinSession();
  ~KWinSession();
  KWinSession(const KWinSession&) = delete;
  KWinSession& operator=(const KWinSession&) = delete;

  // Why no KWin can be started on this machine (kwin_wayland missing, say);
  // empty when it can.
  static std::string Unavailable();

  // Starts the bus and KWin and waits until KWin owns its name, offers its
  // scripting object and listens on its socket. False (with the reason in
  // error()) when that does not happen in time.
  bool Start();
  // KWin alone: SIGKILL and reaped. The bus stays.
  void KillKWin();
  // KWin again on the same bus and socket name.
  bool RestartKWin();
  // Stops KWin and the bus.
  void Stop();
  bool KWinRunning() const { return kwinPid_ > 0; }
  pid_t kwinPid() const { return kwinPid_; }
  const std::string& error() const { return error_; }

  const std::string& busAddress() const;
  const std::string& runtimeDir() const;
  // Absolute path of the Wayland socket (accepted as WAYLAND_DISPLAY).
  std::string waylandDisplay() const;
  // Environment that makes a program a client of this KWin's Plasma
  // session: bus, Wayland display, GDK backend, desktop and session type.
  std::vector<std::pair<std::string, std::string>> ClientEnv() const;
  // Sets the same variables in this process.
  void ExportClientEnv();

  // Runs `body` (a JavaScript function body that returns a value) inside
  // KWin and returns JSON.stringify of the value; empty on failure or after
  // timeoutMs.
  std::string Eval(const std::string& body, int timeoutMs = 5000);
  // Has KWin load and start the script file under that name.
  bool LoadScript(const std::string& file, const std::string& name);
  // Asks KWin's scripting service whether a script of that name is loaded.
  bool IsScriptLoaded(const std::string& name);
  // Unique bus name of KWin now; empty when it is not on the bus.
  std::string KWinBusName();
  // A call from a connection of its own (not KWin's) to an object on the bus:
  // the D-Bus error name, empty when the call succeeded. `message`, when
  // given, receives the error text.
  std::string ForeignCall(const std::string& destination, const std::string& path, const std::string& iface,
                          const std::string& method, const std::string& argsText, std::string* message = nullptr);

  // Moves KWin's pointer to (x, y) through fake input; false when the
  // protocol is not available.
  bool MovePointer(double x, double y);
  // KWin's own pointer position, from a script.
  bool PointerPosition(int& x, int& y);

  // What KWin wrote to its standard error so far.
  std::string Log() const;

  struct Impl;

 private:
  bool StartKWin();

  std::unique_ptr<Impl> impl_;
  pid_t kwinPid_ = -1;
  std::string error_;
};

// A small Wayland client window (GTK) in a process of its own, for windows of
// other programs: title, size. Stopped with SIGTERM when it goes away.
class KWinTestWindow {
 public:
  KWinTestWindow() = default;
  ~KWinTestWindow();
  // decorated: the window asks for the usual decorations (which GTK leaves
  // to KWin when KWin prefers drawing them).
  bool Start(const KWinSession& kwin, const std::string& title, int width, int height, bool decorated = false);
  void Stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace pmrtest
