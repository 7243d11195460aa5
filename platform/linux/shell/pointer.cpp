// The pointer backend: chosen once, then every pointer, window-under-point
// and own-window request is passed to it. Also keeps the layout box, the
// bounding box of all monitors.
#include <gdk/gdk.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/linux/shell/gnome.h"
#include "platform/linux/shell/hyprland.h"
#include "platform/linux/shell/kwin.h"
#include "platform/linux/shell/layout_box.h"
#include "platform/linux/shell/portal.h"
#include "platform/linux/shell/x11.h"
#include "platform/os_shell.h"

std::atomic<int> g_Backend{0};

std::mutex g_LayoutMutex;
bool g_HaveLayout = false;
int g_LayoutX = 0;
int g_LayoutY = 0;
int g_LayoutW = 0;
int g_LayoutH = 0;

namespace {

PointerBackend Backend() { return static_cast<PointerBackend>(g_Backend.load()); }

// The box from all monitors of the default display. Runs on the main thread.
void RecomputeLayout() {
  std::vector<LayoutRect> monitors;
  if (GdkDisplay* display = gdk_display_get_default()) {
    int count = gdk_display_get_n_monitors(display);
    for (int i = 0; i < count; ++i) {
      GdkMonitor* monitor = gdk_display_get_monitor(display, i);
      if (!monitor) continue;
      GdkRectangle g;
      gdk_monitor_get_geometry(monitor, &g);
      monitors.push_back({g.x, g.y, g.width, g.height});
    }
  }
  LayoutRect box;
  bool valid = LayoutUnion(monitors, box);
  std::lock_guard<std::mutex> lock(g_LayoutMutex);
  g_HaveLayout = valid;
  if (valid) {
    g_LayoutX = box.x;
    g_LayoutY = box.y;
    g_LayoutW = box.width;
    g_LayoutH = box.height;
  }
}

void OnMonitorsChanged(GdkScreen*, gpointer) { RecomputeLayout(); }
void OnMonitorAddedOrRemoved(GdkDisplay*, GdkMonitor*, gpointer) { RecomputeLayout(); }

void WatchLayout() {
  RecomputeLayout();
  if (GdkScreen* screen = gdk_screen_get_default())
    g_signal_connect(screen, "monitors-changed", G_CALLBACK(OnMonitorsChanged), nullptr);
  if (GdkDisplay* display = gdk_display_get_default()) {
    g_signal_connect(display, "monitor-added", G_CALLBACK(OnMonitorAddedOrRemoved), nullptr);
    g_signal_connect(display, "monitor-removed", G_CALLBACK(OnMonitorAddedOrRemoved), nullptr);
  }
}

PointerBackend SelectBackend() {
  if (X11GdkDisplayIsX11() && X11Open()) return PointerBackend::kX11;
  const char* forced = std::getenv("PMR_POINTER_BACKEND");
  if (!(forced && std::strcmp(forced, "portal") == 0)) {
    if (GnomeSession()) return PointerBackend::kGnome;
    if (KWinSession() && KWinStart()) return PointerBackend::kKWin;
    if (!HyprSocketPath().empty()) {
      // The reply to the rule does not matter: without it the window is
      // floated when it is prepared.
      if (HyprLua()) HyprRequest(kHyprWindowRule);
      return PointerBackend::kHyprland;
    }
    if (!std::getenv("WAYLAND_DISPLAY")) return PointerBackend::kNone;
  }
  return PortalStart() ? PointerBackend::kPortal : PointerBackend::kNone;
}

}  // namespace

bool LayoutUnion(const std::vector<LayoutRect>& monitors, LayoutRect& box) {
  if (monitors.empty()) return false;
  long long left = monitors[0].x, top = monitors[0].y;
  long long right = left + monitors[0].width, bottom = top + monitors[0].height;
  for (const LayoutRect& m : monitors) {
    left = std::min<long long>(left, m.x);
    top = std::min<long long>(top, m.y);
    right = std::max<long long>(right, static_cast<long long>(m.x) + m.width);
    bottom = std::max<long long>(bottom, static_cast<long long>(m.y) + m.height);
  }
  long long width = right - left, height = bottom - top;
  if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX) return false;
  box = {static_cast<int>(left), static_cast<int>(top), static_cast<int>(width), static_cast<int>(height)};
  return true;
}

void LinuxPointerInit() {
  static std::atomic<bool> ran{false};
  if (ran.exchange(true)) return;
  WatchLayout();
  g_Backend.store(static_cast<int>(SelectBackend()));
}

void LinuxPointerStop() { PortalStop(); }

PointerBackend LinuxPointerBackend() { return Backend(); }

bool LinuxLayoutBox(int& x, int& y, int& w, int& h) {
  std::lock_guard<std::mutex> lock(g_LayoutMutex);
  if (!g_HaveLayout) return false;
  x = g_LayoutX;
  y = g_LayoutY;
  w = g_LayoutW;
  h = g_LayoutH;
  return true;
}

bool LinuxPointerPosition(double& x, double& y) {
  switch (Backend()) {
    case PointerBackend::kX11: {
      bool leftDown = false;
      return X11QueryPointer(x, y, leftDown);
    }
    case PointerBackend::kGnome: return GnomePointer(x, y, nullptr);
    case PointerBackend::kKWin: return KWinPointer(x, y);
    case PointerBackend::kHyprland: return HyprPointer(HyprDefaultLink(), x, y);
    case PointerBackend::kPortal: return PortalPointer(x, y);
    case PointerBackend::kNone: break;
  }
  return false;
}

bool LinuxPointerState(double& x, double& y, bool& leftDown) {
  switch (Backend()) {
    case PointerBackend::kX11: {
      return X11QueryPointer(x, y, leftDown);
    }
    case PointerBackend::kGnome: return GnomePointer(x, y, &leftDown);
    default: return false;
  }
}

int LinuxWindowPidAt(double x, double y) {
  switch (Backend()) {
    case PointerBackend::kX11: return X11WindowPidAt(x, y);
    case PointerBackend::kGnome: return GnomeWindowPidAt(x, y);
    case PointerBackend::kKWin: return KWinWindowPidAt(x, y);
    case PointerBackend::kHyprland: return HyprWindowPidAt(HyprDefaultLink(), x, y);
    default: return 0;
  }
}

bool LinuxShellGetFrame(int& x, int& y, int& w, int& h) {
  switch (Backend()) {
    case PointerBackend::kGnome: return GnomeGetFrame(x, y, w, h);
    case PointerBackend::kKWin: return KWinGetFrame(x, y, w, h);
    case PointerBackend::kHyprland: return HyprGetFrame(HyprDefaultLink(), x, y, w, h);
    default: return false;
  }
}

bool LinuxShellMoveFrame(int x, int y) {
  switch (Backend()) {
    case PointerBackend::kGnome: return GnomeMoveFrame(x, y);
    case PointerBackend::kKWin: return KWinMoveFrame(x, y);
    case PointerBackend::kHyprland: return HyprMoveFrame(HyprDefaultLink(), x, y);
    default: return false;
  }
}

bool LinuxShellSetAbove(bool above) {
  switch (Backend()) {
    case PointerBackend::kGnome: return GnomeSetAbove(above);
    case PointerBackend::kKWin: return KWinSetAbove(above);
    case PointerBackend::kHyprland: return HyprSetPinned(HyprDefaultLink(), above);
    default: return false;
  }
}

bool LinuxShellSetRounded(bool rounded) {
  return Backend() == PointerBackend::kHyprland && HyprSetRounded(HyprDefaultLink(), rounded);
}

bool LinuxShellResizeFrame(int w, int h) {
  return Backend() == PointerBackend::kHyprland && HyprResizeFrame(HyprDefaultLink(), w, h);
}

bool LinuxShellIsMaximized(bool& maximized) {
  return Backend() == PointerBackend::kHyprland && HyprIsMaximized(HyprDefaultLink(), maximized);
}

void LinuxShellPrepareWindow(int w, int h, int x, int y) {
  LinuxPointerInit();
  if (Backend() == PointerBackend::kHyprland) HyprPrepareWindow(HyprDefaultLink(), w, h, x, y);
}
