#include "tests/support/x11_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace pmrtest {

namespace {

// Window manager requests to the root window need these masks.
constexpr long kRootRequestMask = SubstructureRedirectMask | SubstructureNotifyMask;

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

XErrorsIgnored::XErrorsIgnored(Display* display) : display_(display), old_(XSetErrorHandler(IgnoreErrors)) {}

XErrorsIgnored::~XErrorsIgnored() {
  XSync(display_, False);
  XSetErrorHandler(old_);
}

X11Session::X11Session() {
  const char* name = std::getenv("DISPLAY");
  if (name && *name) display_ = XOpenDisplay(name);
}

X11Session::~X11Session() {
  if (!display_) return;
  for (int button : heldButtons_) XTestFakeButtonEvent(display_, button, False, CurrentTime);
  for (Window w : created_) XDestroyWindow(display_, w);
  if (!monitorNames_.empty()) SetMonitors({});
  XSync(display_, False);
  StopWindowManager();
  XCloseDisplay(display_);
}

Window X11Session::root() const { return DefaultRootWindow(display_); }

bool X11Session::HasProperty(Window window, const char* atomName) {
  Atom atom = XInternAtom(display_, atomName, False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  XErrorsIgnored ignored(display_);
  int status = XGetWindowProperty(display_, window, atom, 0, 0, False, AnyPropertyType, &type, &format, &items,
                                  &after, &data);
  if (data) XFree(data);
  return status == Success && type != None;
}

bool X11Session::WindowManagerRunning() const {
  if (!display_) return false;
  std::string selection = "WM_S" + std::to_string(DefaultScreen(display_));
  return XGetSelectionOwner(display_, XInternAtom(display_, selection.c_str(), False)) != None;
}

bool X11Session::CompositorRunning() const {
  if (!display_) return false;
  std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
  return XGetSelectionOwner(display_, XInternAtom(display_, selection.c_str(), False)) != None;
}

bool X11Session::StartWindowManager(const std::string& command, int timeoutMs) {
  if (!display_) return false;
  if (WindowManagerRunning()) return true;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // Its own process group, so that it and whatever it starts (its private
    // session bus, the settings daemon activated on it) stop together.
    setpgid(0, 0);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_A11Y", "none", 1);
    // The window manager reads its settings over a session bus and gives up
    // without one: give it a private bus that ends with it.
    std::string line = "exec " + command;
    if (access("/usr/bin/dbus-run-session", X_OK) == 0) line = "exec /usr/bin/dbus-run-session -- " + command;
    execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  wmPid_ = pid;
  bool up = WaitFor(
      [&] {
        int status = 0;
        if (waitpid(wmPid_, &status, WNOHANG) == wmPid_) {
          wmPid_ = -1;
          return true;  // ended: checked below
        }
        return WindowManagerRunning() && HasProperty(root(), "_NET_SUPPORTING_WM_CHECK");
      },
      timeoutMs);
  return up && wmPid_ > 0 && WindowManagerRunning();
}

void X11Session::StopWindowManager() {
  if (wmPid_ <= 0) return;
  kill(-wmPid_, SIGTERM);
  bool ended = WaitFor([&] { return waitpid(wmPid_, nullptr, WNOHANG) == wmPid_; }, 3000);
  if (!ended) {
    kill(-wmPid_, SIGKILL);
    waitpid(wmPid_, nullptr, 0);
  }
  kill(-wmPid_, SIGTERM);  // helpers that outlived it
  wmPid_ = -1;
  if (display_) WaitFor([&] { return !WindowManagerRunning(); }, 3000);
}

Window X11Session::MapClient(int pid, int x, int y, int w, int h, bool decorated, const std::string& title) {
  if (!display_) return None;
  int screen = DefaultScreen(display_);
  Window window = XCreateSimpleWindow(display_, root(), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                                      BlackPixel(display_, screen), WhitePixel(display_, screen));
  created_.push_back(window);
  // The client area goes exactly where asked, with or without a frame.
  XSizeHints hints{};
  hints.flags = USPosition | USSize | PPosition | PSize | PWinGravity;
  hints.x = x, hints.y = y, hints.width = w, hints.height = h;
  hints.win_gravity = StaticGravity;
  XSetWMNormalHints(display_, window, &hints);
  XStoreName(display_, window, title.c_str());
  XClassHint cls{const_cast<char*>("pmr-test"), const_cast<char*>("PmrTest")};
  XSetClassHint(display_, window, &cls);
  if (!decorated) {
    long motif[5] = {2, 0, 0, 0, 0};  // flags: decorations; decorations: none
    Atom motifAtom = XInternAtom(display_, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display_, window, motifAtom, motifAtom, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(motif), 5);
  }
  SetPid(window, pid);
  XMapWindow(display_, window);
  XSync(display_, False);
  bool placed = WaitFor(
      [&] {
        int rx, ry, rw, rh;
        return HasProperty(window, "WM_STATE") && RootGeometry(window, rx, ry, rw, rh) && rx == x && ry == y &&
               rw == w && rh == h;
      },
      5000);
  return placed ? window : None;
}

Window X11Session::MapChild(Window parent, int x, int y, int w, int h) {
  int screen = DefaultScreen(display_);
  Window window = XCreateSimpleWindow(display_, parent, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                                      BlackPixel(display_, screen), WhitePixel(display_, screen));
  XMapWindow(display_, window);
  XSync(display_, False);
  return window;
}

Window X11Session::MapUnmanaged(int x, int y, int w, int h) {
  int screen = DefaultScreen(display_);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = WhitePixel(display_, screen);
  Window window = XCreateWindow(display_, root(), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                                CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
  created_.push_back(window);
  XMapRaised(display_, window);
  XSync(display_, False);
  return window;
}

void X11Session::SetPid(Window window, long pid) {
  Atom atom = XInternAtom(display_, "_NET_WM_PID", False);
  XChangeProperty(display_, window, atom, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&pid),
                  1);
  XSync(display_, False);
}

void X11Session::SetWmState(Window window) {
  Atom atom = XInternAtom(display_, "WM_STATE", False);
  long state[2] = {NormalState, None};
  XChangeProperty(display_, window, atom, atom, 32, PropModeReplace, reinterpret_cast<unsigned char*>(state), 2);
  XSync(display_, False);
}

void X11Session::Destroy(Window window) {
  XDestroyWindow(display_, window);
  XSync(display_, False);
  created_.erase(std::remove(created_.begin(), created_.end(), window), created_.end());
}

Window X11Session::TopOfStack() {
  Atom atom = XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  Window top = None;
  if (XGetWindowProperty(display_, root(), atom, 0, 4096, False, XA_WINDOW, &type, &format, &items, &after, &data) ==
          Success &&
      data && format == 32 && items > 0)
    top = static_cast<Window>(reinterpret_cast<unsigned long*>(data)[items - 1]);
  if (data) XFree(data);
  return top;
}

bool X11Session::Raise(Window client, int timeoutMs) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = client;
  event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // from a pager: always honoured
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, root(), False, kRootRequestMask, &event);
  XSync(display_, False);
  return WaitFor([&] { return TopOfStack() == client; }, timeoutMs);
}

bool X11Session::RootGeometry(Window window, int& x, int& y, int& w, int& h) {
  XErrorsIgnored ignored(display_);
  XWindowAttributes attrs{};
  Window child = None;
  bool ok = XGetWindowAttributes(display_, window, &attrs) &&
            XTranslateCoordinates(display_, window, root(), 0, 0, &x, &y, &child);
  if (!ok) return false;
  w = attrs.width;
  h = attrs.height;
  return true;
}

bool X11Session::SetMonitors(const std::vector<MonitorRect>& monitors) {
  XErrorsIgnored ignored(display_);  // the old monitors may be gone already
  for (const std::string& name : monitorNames_)
    XRRDeleteMonitor(display_, root(), XInternAtom(display_, name.c_str(), False));
  monitorNames_.clear();
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root());
  RROutput output = resources && resources->noutput > 0 ? resources->outputs[0] : None;
  for (size_t i = 0; i < monitors.size(); ++i) {
    std::string name = "PMR-" + std::to_string(i);
    XRRMonitorInfo* info = XRRAllocateMonitor(display_, i == 0 && output != None ? 1 : 0);
    info->name = XInternAtom(display_, name.c_str(), False);
    info->primary = i == 0;
    info->automatic = False;
    info->x = monitors[i].x;
    info->y = monitors[i].y;
    info->width = monitors[i].w;
    info->height = monitors[i].h;
    info->mwidth = std::max(1, monitors[i].w / 4);
    info->mheight = std::max(1, monitors[i].h / 4);
    if (info->noutput > 0) info->outputs[0] = output;
    XRRSetMonitor(display_, root(), info);
    XRRFreeMonitors(info);
    monitorNames_.push_back(name);
  }
  if (output != None) {
    long serial = ++layoutSerial_;
    XRRChangeOutputProperty(display_, output, XInternAtom(display_, "PMR_TEST_LAYOUT", False), XA_INTEGER, 32,
                            PropModeReplace, reinterpret_cast<unsigned char*>(&serial), 1);
  }
  if (resources) XRRFreeScreenResources(resources);
  int count = 0;
  XRRMonitorInfo* now = XRRGetMonitors(display_, root(), True, &count);
  if (now) XRRFreeMonitors(now);
  return monitors.empty() || count == static_cast<int>(monitors.size());
}

void X11Session::MovePointer(int x, int y) {
  XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
  XSync(display_, False);
}

void X11Session::Button(int button, bool down) {
  XTestFakeButtonEvent(display_, static_cast<unsigned>(button), down ? True : False, CurrentTime);
  XSync(display_, False);
  heldButtons_.erase(std::remove(heldButtons_.begin(), heldButtons_.end(), button), heldButtons_.end());
  if (down) heldButtons_.push_back(button);
}

void X11Session::Sync() { XSync(display_, False); }

bool X11Session::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace pmrtest
