#pragma once
// A small X11 desktop for tests on the current DISPLAY (normally the private
// Xvfb of tests/e2e/with-xvfb.sh): a real window manager, client windows of
// chosen processes at chosen places, and pointer input through XTest.
//
// The helper keeps its own Xlib connection; everything it creates is
// destroyed, and the window manager stopped, when it goes away.
#include <X11/Xlib.h>

#include <functional>
#include <string>
#include <vector>

namespace pmrtest {

// The window manager the tests use: xfwm4 with its compositor, which sets
// WM_STATE and _NET_WM_PID handling, reparents into frames and redirects
// windows into an offscreen compositing scene like a full desktop does.
inline constexpr const char* kTestWindowManager = "xfwm4 --compositor=on";

// While it lives, X errors on display are ignored instead of ending the
// process, for requests about windows another client may destroy at any
// moment (walking the tree, reading properties of other programs' windows).
// Leaving the scope waits for the replies, so every error raised inside it
// is also handled inside it.
class XErrorsIgnored {
 public:
  explicit XErrorsIgnored(Display* display);
  ~XErrorsIgnored();
  XErrorsIgnored(const XErrorsIgnored&) = delete;
  XErrorsIgnored& operator=(const XErrorsIgnored&) = delete;

 private:
  Display* display_;
  XErrorHandler old_;
};

class X11Session {
 public:
  X11Session();  // opens the connection; Ok() tells whether that worked
  ~X11Session();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  bool Ok() const { return display_ != nullptr; }
  Display* display() const { return display_; }
  Window root() const;

  // Starts the window manager and waits until it manages windows (it owns
  // the WM_S0 selection and announces itself on the root window).
  bool StartWindowManager(const std::string& command = kTestWindowManager, int timeoutMs = 15000);
  void StopWindowManager();
  bool WindowManagerRunning() const;
  // Whether a compositing manager owns the screen (_NET_WM_CM_S<n>).
  bool CompositorRunning() const;

  // A top-level client window with _NET_WM_PID = pid whose client area
  // appears at (x, y) in root coordinates, w x h. Without decorations the
  // frame is exactly that rectangle. Waits until the window manager has
  // managed it (WM_STATE set) and it sits at the requested place; returns
  // None when that does not happen in time.
  Window MapClient(int pid, int x, int y, int w, int h, bool decorated = false, const std::string& title = "pmr");
  // A plain child window (InputOutput, mapped) inside parent.
  Window MapChild(Window parent, int x, int y, int w, int h);
  // A mapped override-redirect top-level: not managed, no WM_STATE.
  Window MapUnmanaged(int x, int y, int w, int h);
  void SetPid(Window window, long pid);
  void SetWmState(Window window);
  void Destroy(Window window);
  // Asks the window manager to activate and raise a client; waits until it
  // is on top of the stacking order.
  bool Raise(Window client, int timeoutMs = 5000);
  // The root-coordinate rectangle of a window.
  bool RootGeometry(Window window, int& x, int& y, int& w, int& h);

  // Replaces the monitor layout (RandR monitors): the first rectangle takes
  // over the screen's output, the others become monitors without an output.
  // An empty list restores the layout of the output alone. The change is
  // announced on an output property, since setting monitors sends no RandR
  // event of its own. GTK 3 lists only monitors that have an output, so on
  // Xvfb (one output per screen) it sees the first rectangle alone.
  struct MonitorRect {
    int x, y, w, h;
  };
  bool SetMonitors(const std::vector<MonitorRect>& monitors);

  // Input through XTest.
  void MovePointer(int x, int y);
  void Button(int button, bool down);

  void Sync();
  // Polls condition every 10 ms until it holds or the time is up.
  static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

 private:
  bool HasProperty(Window window, const char* atom);
  Window TopOfStack();

  Display* display_ = nullptr;
  int wmPid_ = -1;
  std::vector<Window> created_;
  std::vector<int> heldButtons_;
  std::vector<std::string> monitorNames_;
  long layoutSerial_ = 0;
};

}  // namespace pmrtest
