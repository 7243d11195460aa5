// The pointer as the snap coordinator sees it: position and left button, and
// presses on the main window's title bar.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <climits>
#include <cmath>
#include <functional>
#include <memory>

#include "platform/os_input.h"
#include "platform/os_overlay.h"
#include "platform/os_shell.h"

bool OsPointerState(int& x, int& y, bool& pressed) {
  double px, py;
  bool down = false;
  if (LinuxPointerState(px, py, down)) {
    x = static_cast<int>(std::lround(px));
    y = static_cast<int>(std::lround(py));
    pressed = down;
    return true;
  }
  if (!LinuxPointerPosition(px, py)) return false;
  x = static_cast<int>(std::lround(px));
  y = static_cast<int>(std::lround(py));
  // Without the shell's button state the devices tell when the button goes
  // up; until then it counts as held (callers ask only during a press).
  static LinuxButtonWatch* watch = nullptr;
  if (watch) {
    if (LinuxButtonWatchReleased(watch)) {
      LinuxButtonWatchStop(watch);
      watch = nullptr;
      pressed = false;
    } else {
      pressed = true;
    }
    return true;
  }
  watch = LinuxButtonWatchStart();
  pressed = watch != nullptr;
  return true;
}

namespace {

struct MoveWatch {
  std::function<void()> fn;
  guint idle = 0;
  int lastX = INT_MIN, lastY = INT_MIN;
  // Where the window rested before the button went down; a move seen only
  // through position changes has already begun when it is reported.
  int restX = INT_MIN, restY = INT_MIN;
  bool sawHeld = false;
};

gboolean RunMoveStarted(gpointer data) {
  auto* w = static_cast<MoveWatch*>(data);
  w->idle = 0;
  if (w->fn) w->fn();
  return G_SOURCE_REMOVE;
}

gboolean OnButtonPress(GtkWidget* widget, GdkEvent* event, gpointer data) {
  if (event->type != GDK_BUTTON_PRESS || event->button.button != 1) return FALSE;
  GtkWidget* page = gtk_bin_get_child(GTK_BIN(widget));
  if (!page) return FALSE;
  GtkAllocation a;
  gtk_widget_get_allocation(page, &a);
  // Event coordinates are relative to the event's GdkWindow; take them into
  // the top-level's coordinates.
  double ex = event->button.x, ey = event->button.y;
  GdkWindow* top = gtk_widget_get_window(widget);
  for (GdkWindow* w = event->button.window; w && w != top; w = gdk_window_get_parent(w)) {
    int wx, wy;
    gdk_window_get_position(w, &wx, &wy);
    ex += wx;
    ey += wy;
  }
  if (ex >= a.x && ex < a.x + a.width && ey >= a.y - 64 && ey < a.y) {
    auto* w = static_cast<MoveWatch*>(data);
    if (!w->idle) w->idle = g_idle_add(RunMoveStarted, w);
  }
  return FALSE;
}

// Where the window manager draws the title bar itself, the press never
// reaches the window; the move shows as a change of position while the left
// button is held.
// The pointer lies in the 64-pixel band above the window's page, where a
// title bar is (root coordinates).
bool PointerOverTitle(GtkWidget* window, double px, double py) {
  GtkWidget* page = gtk_bin_get_child(GTK_BIN(window));
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  if (!page || !gdkWindow) return false;
  GtkAllocation a;
  gtk_widget_get_allocation(page, &a);
  int ox = 0, oy = 0;
  gdk_window_get_origin(gdkWindow, &ox, &oy);
  return px >= ox + a.x && px < ox + a.x + a.width && py >= oy + a.y - 64 && py < oy + a.y;
}

gboolean OnConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer data) {
  auto* w = static_cast<MoveWatch*>(data);
  const bool moved = event->x != w->lastX || event->y != w->lastY;
  const bool first = w->lastX == INT_MIN;
  double px, py;
  bool held = false;
  // A move ordered by the program (or another window) while the button is
  // down elsewhere is no user move: the pointer must be on the title bar.
  const bool known = LinuxPointerState(px, py, held) && (!held || PointerOverTitle(widget, px, py));
  if (first || !known || !held) {
    w->restX = event->x;
    w->restY = event->y;
    w->sawHeld = false;
  }
  w->lastX = event->x;
  w->lastY = event->y;
  if (!moved || first || !known || !held) return FALSE;
  w->sawHeld = true;
  if (!w->idle) w->idle = g_idle_add(RunMoveStarted, w);
  return FALSE;
}

MoveWatch* g_Watch = nullptr;

}  // namespace

void OsWatchUserMoves(void* window, std::function<void()> fn) {
  if (!window) return;
  auto* w = new MoveWatch{std::move(fn)};
  g_Watch = w;
  gtk_widget_add_events(GTK_WIDGET(window), GDK_BUTTON_PRESS_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(GTK_WIDGET(window), "configure-event", G_CALLBACK(OnConfigure), w);
  g_signal_connect_data(GTK_WIDGET(window), "event", G_CALLBACK(OnButtonPress), w,
                        [](gpointer data, GClosure*) {
                          if (g_Watch == data) g_Watch = nullptr;
                          delete static_cast<MoveWatch*>(data);
                        }, static_cast<GConnectFlags>(0));
}

bool OsUserMoveShift(int& dx, int& dy) {
  dx = dy = 0;
  if (!g_Watch || !g_Watch->sawHeld || g_Watch->restX == INT_MIN) return false;
  dx = g_Watch->lastX - g_Watch->restX;
  dy = g_Watch->lastY - g_Watch->restY;
  return true;
}
