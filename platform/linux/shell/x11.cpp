// X11 backend: pointer and window-under-point queries on the program's own
// Xlib connection (separate from GDK's, which belongs to the main thread).
#include "platform/linux/shell/x11.h"

#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>

Display* g_XDisplay = nullptr;
Atom g_AtomWmState = None;
Atom g_AtomPid = None;
std::mutex g_XMutex;

namespace {

// How far below a top-level window the client window is looked for.
constexpr int kClientSearchDepth = 5;
constexpr double kMinCoord = -32768.0;
constexpr double kMaxCoord = 32767.0;

XErrorHandler g_PreviousErrorHandler = nullptr;

// Windows can vanish between two requests on this connection; the failed
// request then reports failure to its caller, which is all that is needed.
// Errors on other connections go to the handler that was there before.
int IgnoreOwnErrors(Display* display, XErrorEvent* error) {
  if (display == g_XDisplay) return 0;
  return g_PreviousErrorHandler ? g_PreviousErrorHandler(display, error) : 0;
}

bool HasWmState(Window window) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(g_XDisplay, window, g_AtomWmState, 0, 0, False, AnyPropertyType, &type, &format,
                                  &items, &after, &data);
  if (data) XFree(data);
  return status == Success && type != None;
}

// The client window at or below window: the window itself when it carries
// WM_STATE, else the first found among its children from the topmost down.
Window FindClient(Window window, int depthLeft) {
  if (HasWmState(window)) return window;
  if (depthLeft <= 0) return None;
  Window root = None, parent = None;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(g_XDisplay, window, &root, &parent, &children, &count)) return None;
  Window found = None;
  for (unsigned int i = count; i-- > 0 && found == None;) found = FindClient(children[i], depthLeft - 1);
  if (children) XFree(children);
  return found;
}

int PidOf(Window client) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(g_XDisplay, client, g_AtomPid, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                                  &after, &data);
  int pid = 0;
  if (status == Success && data && format == 32 && items == 1) {
    // Xlib hands 32-bit items over as longs.
    unsigned long value = *reinterpret_cast<unsigned long*>(data);
    if (value <= static_cast<unsigned long>(INT_MAX)) pid = static_cast<int>(value);
  }
  if (data) XFree(data);
  return pid;
}

}  // namespace

bool X11GdkDisplayIsX11() {
  GdkDisplay* display = gdk_display_get_default();
  return display && GDK_IS_X11_DISPLAY(display);
}

bool X11Open() {
  std::lock_guard<std::mutex> lock(g_XMutex);
  if (g_XDisplay) return true;
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return false;
  Display* display = XOpenDisplay(name);
  if (!display) return false;
  g_XDisplay = display;
  g_AtomWmState = XInternAtom(display, "WM_STATE", False);
  g_AtomPid = XInternAtom(display, "_NET_WM_PID", False);
  g_PreviousErrorHandler = XSetErrorHandler(IgnoreOwnErrors);
  return true;
}

bool X11IsOpen() {
  std::lock_guard<std::mutex> lock(g_XMutex);
  return g_XDisplay != nullptr;
}

bool X11QueryPointer(double& x, double& y, bool& leftDown) {
  std::lock_guard<std::mutex> lock(g_XMutex);
  if (!g_XDisplay) return false;
  Window root = None, child = None;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned int buttons = 0;
  if (!XQueryPointer(g_XDisplay, DefaultRootWindow(g_XDisplay), &root, &child, &rootX, &rootY, &winX, &winY,
                     &buttons))
    return false;
  x = rootX;
  y = rootY;
  leftDown = (buttons & Button1Mask) != 0;
  return true;
}

int X11WindowPidAt(double x, double y) {
  // Coordinates are truncated. The protocol carries 16-bit coordinates, so a
  // point beyond that range would wrap onto some other window: no window
  // can lie there.
  if (!std::isfinite(x) || !std::isfinite(y) || x <= kMinCoord - 1.0 || x >= kMaxCoord + 1.0 ||
      y <= kMinCoord - 1.0 || y >= kMaxCoord + 1.0)
    return 0;
  std::lock_guard<std::mutex> lock(g_XMutex);
  if (!g_XDisplay) return 0;
  Window root = DefaultRootWindow(g_XDisplay);
  Window child = None;
  int destX = 0, destY = 0;
  if (!XTranslateCoordinates(g_XDisplay, root, root, static_cast<int>(x), static_cast<int>(y), &destX, &destY, &child) ||
      child == None)
    return 0;
  Window client = FindClient(child, kClientSearchDepth);
  return client == None ? 0 : PidOf(client);
}

int X11ClientPidFrom(unsigned long window) {
  std::lock_guard<std::mutex> lock(g_XMutex);
  if (!g_XDisplay || window == None) return 0;
  Window client = FindClient(static_cast<Window>(window), kClientSearchDepth);
  return client == None ? 0 : PidOf(client);
}
