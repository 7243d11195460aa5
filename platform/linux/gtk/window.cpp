// The program's windows on the desktop: keep-above, sizing inside the work
// area, placement, frames, bringing forward, application names, clipboard.
// On X11 GTK and Xlib give positions directly; elsewhere the shell backend
// places the window.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <optional>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_shell.h"

namespace pmrgtk {

bool g_ShellAbove = false;
int g_DisplayKindOverride = -1;
ShellOps g_ShellOps = {LinuxPointerInit,      LinuxShellGetFrame,    LinuxShellMoveFrame,
                       LinuxShellResizeFrame, LinuxShellSetAbove,    LinuxShellSetRounded,
                       LinuxShellIsMaximized, LinuxShellPrepareWindow};

namespace {

constexpr const char* kPreparedKey = "pmr-prepared";

struct Extents {
  int left = 0, right = 0, top = 0, bottom = 0;
};

// _GTK_FRAME_EXTENTS of an X11 window (the client-side shadow around the
// visible frame), in GTK's logical pixels; zeros when absent or malformed.
Extents FrameExtents(GdkWindow* gdkWindow) {
  Extents e;
  if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow)) return e;
  GdkDisplay* display = gdk_window_get_display(gdkWindow);
  Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
  Atom atom = gdk_x11_get_xatom_by_name_for_display(display, "_GTK_FRAME_EXTENTS");
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(display);
  int status = XGetWindowProperty(xdisplay, GDK_WINDOW_XID(gdkWindow), atom, 0, 4, False, XA_CARDINAL, &type,
                                  &format, &count, &after, &data);
  gdk_x11_display_error_trap_pop_ignored(display);
  if (status == Success && data && type == XA_CARDINAL && format == 32 && count == 4) {
    const long* v = reinterpret_cast<const long*>(data);
    const int scale = std::max(1, gdk_window_get_scale_factor(gdkWindow));
    e.left = static_cast<int>(v[0]) / scale;
    e.right = static_cast<int>(v[1]) / scale;
    e.top = static_cast<int>(v[2]) / scale;
    e.bottom = static_cast<int>(v[3]) / scale;
  }
  if (data) XFree(data);
  return e;
}

GtkWidget* WebViewChild(GtkWindow* window) {
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
  return child && WEBKIT_IS_WEB_VIEW(child) ? child : nullptr;
}

struct PendingTask {
  GtkWindow* window;
  std::function<void(GtkWindow*)> task;
  gulong mapHandler = 0;
};

void RunLater(GtkWindow* window, guint delayMs, std::function<void(GtkWindow*)> task) {
  g_object_ref(window);
  auto* pending = new PendingTask{window, std::move(task)};
  g_timeout_add(
      delayMs,
      [](gpointer data) -> gboolean {
        auto* p = static_cast<PendingTask*>(data);
        if (gtk_widget_get_window(GTK_WIDGET(p->window))) p->task(p->window);  // skipped once destroyed
        g_object_unref(p->window);
        delete p;
        return G_SOURCE_REMOVE;
      },
      pending);
}

int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); }

// Frame work of a clamped resize, once the window is mapped.
void FitFrameIntoWorkArea(GtkWindow* window, int w, int h, std::optional<int> targetRow) {
  int fx, fy, fw, fh;
  if (!g_ShellOps.getFrame(fx, fy, fw, fh)) return;
  if (fw != w || fh != h) g_ShellOps.resizeFrame(w, h);
  const WorkArea wa = WorkAreaFor(window);
  const int x = Clamp(fx, wa.x, wa.x + wa.width - fw);
  const int y = targetRow ? *targetRow : Clamp(fy, wa.y, wa.y + wa.height - fh);
  if (x != fx || y != fy) g_ShellOps.moveFrame(x, y);
}

}  // namespace

bool OnX11() {
  if (g_DisplayKindOverride >= 0) return g_DisplayKindOverride == 1;
  GdkDisplay* display = gdk_display_get_default();
  return display && GDK_IS_X11_DISPLAY(display);
}

WorkArea WorkAreaFor(GtkWindow* window) {
  WorkArea area;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return area;
  GdkMonitor* monitor = nullptr;
  GdkWindow* gdkWindow = window ? gtk_widget_get_window(GTK_WIDGET(window)) : nullptr;
  if (gdkWindow)
    monitor = gdk_display_get_monitor_at_window(display, gdkWindow);
  else
    monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return area;
  GdkRectangle r;
  gdk_monitor_get_workarea(monitor, &r);
  area.x = r.x;
  area.y = r.y;
  area.width = r.width;
  area.height = r.height;
  return area;
}

void RunWhenMapped(GtkWindow* window, std::function<void(GtkWindow*)> task) {
  if (gtk_widget_get_mapped(GTK_WIDGET(window))) {
    RunLater(window, 50, std::move(task));
    return;
  }
  auto* pending = new PendingTask{window, std::move(task)};
  pending->mapHandler = g_signal_connect_data(
      window, "map-event",
      G_CALLBACK(+[](GtkWidget* widget, GdkEvent*, gpointer data) -> gboolean {
        auto* p = static_cast<PendingTask*>(data);
        RunLater(GTK_WINDOW(widget), 50, std::move(p->task));
        g_signal_handler_disconnect(widget, p->mapHandler);  // frees p
        return FALSE;
      }),
      pending, [](gpointer data, GClosure*) { delete static_cast<PendingTask*>(data); }, GConnectFlags(0));
}

void PrepareWindowWhenMapped(GtkWindow* window, bool centred) {
  if (OnX11() || g_object_get_data(G_OBJECT(window), kPreparedKey)) return;
  g_object_set_data(G_OBJECT(window), kPreparedKey, GINT_TO_POINTER(1));
  RunWhenMapped(window, [centred](GtkWindow* w) {
    int width = 0, height = 0;
    gtk_window_get_size(w, &width, &height);
    int x = kNoPosition, y = kNoPosition;
    if (centred) {
      const WorkArea wa = WorkAreaFor(w);
      const int spareW = wa.width - width, spareH = wa.height - height;
      x = wa.x + (spareW < 2 ? 0 : spareW / 2);
      y = wa.y + (spareH < 2 ? 0 : spareH / 2);
    }
    g_ShellOps.prepareWindow(width, height, x, y);
  });
}

void MoveFrameWhenMapped(GtkWindow* window, int x, int y) {
  RunWhenMapped(window, [x, y](GtkWindow* w) {
    struct Move {
      GtkWindow* window;
      int x, y, ticks;
    };
    g_object_ref(w);
    g_timeout_add(
        100,
        [](gpointer data) -> gboolean {
          auto* m = static_cast<Move*>(data);
          int fx, fy, fw, fh;
          bool done = !gtk_widget_get_window(GTK_WIDGET(m->window));
          if (!done && g_ShellOps.getFrame(fx, fy, fw, fh) && fx == m->x && fy == m->y) done = true;
          if (!done) g_ShellOps.moveFrame(m->x, m->y);
          if (done || ++m->ticks >= 20) {
            g_object_unref(m->window);
            delete m;
            return G_SOURCE_REMOVE;
          }
          return G_SOURCE_CONTINUE;
        },
        new Move{w, x, y, 0});
  });
}

}  // namespace pmrgtk

using namespace pmrgtk;

void OsSetAlwaysOnTop(void* handle, bool on) {
  if (!handle) return;
  GtkWindow* window = GTK_WINDOW(handle);
  gtk_window_set_keep_above(window, on);
  if (OnX11()) return;
  g_ShellAbove = on;
  RunWhenMapped(window, [on](GtkWindow*) { g_ShellOps.setAbove(on); });
}

void OsResizeWindowClamped(void* handle, int width, int height, bool keepOnScreen) {
  if (!handle) return;
  GtkWindow* window = GTK_WINDOW(handle);
  const WorkArea wa = WorkAreaFor(window);
  const int bottom = wa.y + wa.height;
  int w = std::min(width, wa.width);
  int h = std::min(height, wa.height);
  if (w <= 0 || h <= 0) return;  // GTK refuses sizes below 1
  if (OnX11()) {
    int x = 0, y = 0;
    gtk_window_get_position(window, &x, &y);
    if (keepOnScreen && y + h > bottom && bottom - y >= 120) h = bottom - y;
    gtk_window_resize(window, w, h);
    if (y + h > bottom) gtk_window_move(window, x, std::max(wa.y, bottom - h));
  }
  std::optional<int> targetRow;
  int fx, fy, fw, fh;
  if (keepOnScreen && gtk_widget_get_mapped(GTK_WIDGET(window)) && g_ShellOps.getFrame(fx, fy, fw, fh) &&
      bottom - fy >= 120) {
    targetRow = fy;
    if (fy + h > bottom) h = bottom - fy;
  }
  gtk_window_resize(window, w, h);

  struct Fit {
    GtkWindow* window;
    int w, h;
    std::optional<int> targetRow;
    int ticks;
  };
  g_object_ref(window);
  g_timeout_add(
      100,
      [](gpointer data) -> gboolean {
        auto* f = static_cast<Fit*>(data);
        const bool mapped = gtk_widget_get_mapped(GTK_WIDGET(f->window));
        if (mapped) FitFrameIntoWorkArea(f->window, f->w, f->h, f->targetRow);
        if (mapped || ++f->ticks >= 30 || !gtk_widget_get_window(GTK_WIDGET(f->window))) {
          g_object_unref(f->window);
          delete f;
          return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
      },
      new Fit{window, w, h, targetRow, 0});
}

void OsGetWindowPlacement(void* handle, int& x, int& y, int& width, int& height, bool& maximized) {
  x = y = width = height = 0;
  maximized = false;
  if (!handle || handle == g_DestroyedMainWindow) return;
  GtkWindow* window = GTK_WINDOW(handle);
  if (OnX11()) {
    gtk_window_get_position(window, &x, &y);
  } else {
    int fw, fh;
    if (!g_ShellOps.getFrame(x, y, fw, fh)) x = y = 0;
  }
  gtk_window_get_size(window, &width, &height);
  bool shellMaximized = false;
  if (OnX11())
    maximized = gtk_window_is_maximized(window);
  else if (g_ShellOps.isMaximized(shellMaximized))
    maximized = shellMaximized;
  else
    maximized = gtk_window_is_maximized(window);
}

void OsRestoreWindowPlacement(void* handle, int x, int y, int width, int height, bool maximized) {
  if (!handle) return;
  GtkWindow* window = GTK_WINDOW(handle);
  if (width > 0 && height > 0) gtk_window_resize(window, width, height);
  bool onMonitor = false;
  if (GdkDisplay* display = gdk_display_get_default()) {
    for (int i = 0, n = gdk_display_get_n_monitors(display); i < n && !onMonitor; ++i) {
      GdkRectangle r;
      gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &r);
      onMonitor = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
    }
  }
  if (onMonitor) {
    if (OnX11())
      gtk_window_move(window, x, y);
    else
      MoveFrameWhenMapped(window, x, y);
  }
  if (maximized) gtk_window_maximize(window);
}

bool OsGetWindowFrame(void* handle, int& x, int& y, int& width, int& height) {
  if (!handle) return false;
  GtkWindow* window = GTK_WINDOW(handle);
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (!gtk_widget_get_realized(GTK_WIDGET(window)) || !gdkWindow) return false;
  if (!OnX11()) return g_ShellOps.getFrame(x, y, width, height) && width > 0 && height > 0;
  const Extents e = FrameExtents(gdkWindow);
  int ox = 0, oy = 0;
  gdk_window_get_origin(gdkWindow, &ox, &oy);
  x = ox + e.left;
  y = oy + e.top;
  width = gdk_window_get_width(gdkWindow) - e.left - e.right;
  height = gdk_window_get_height(gdkWindow) - e.top - e.bottom;
  return width > 0 && height > 0;
}

bool OsGetPageFrame(void* handle, int& x, int& y, int& width, int& height) {
  if (!handle) return false;
  GtkWindow* window = GTK_WINDOW(handle);
  GtkWidget* page = WebViewChild(window);
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  if (!page || !gdkWindow) return false;
  GtkAllocation a;
  gtk_widget_get_allocation(page, &a);
  if (OnX11()) {
    int ox = 0, oy = 0;
    gdk_window_get_origin(gdkWindow, &ox, &oy);
    x = ox + a.x;
    y = oy + a.y;
  } else {
    int fx, fy, fw, fh;
    if (!g_ShellOps.getFrame(fx, fy, fw, fh)) return false;
    const int spare = fw - a.width;
    x = fx + (spare < 2 ? 0 : spare / 2);
    y = fy + std::max(0, fh - a.height);
  }
  width = a.width;
  height = a.height;
  return true;
}

void OsMoveWindowFrame(void* handle, int x, int y) {
  if (!handle) return;
  GtkWindow* window = GTK_WINDOW(handle);
  if (!OnX11()) {
    g_ShellOps.moveFrame(x, y);
    return;
  }
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
  const Extents e = FrameExtents(gdkWindow);
  if (!gdkWindow) {
    gtk_window_move(window, x - e.left, y - e.top);
    return;
  }
  // A window manager that draws its own frame around the window places that
  // frame at the requested point; the part reported as the frame above then
  // sits lower and further right by the decoration. Asking for the point
  // less that decoration makes a move land where the frame is read back.
  int ox = 0, oy = 0, rx = 0, ry = 0;
  gdk_window_get_origin(gdkWindow, &ox, &oy);
  gdk_window_get_root_origin(gdkWindow, &rx, &ry);
  gdk_window_move(gdkWindow, x - e.left - (ox - rx), y - e.top - (oy - ry));
}

void OsBringToFront(void* handle) {
  if (!handle) return;
  GtkWindow* window = GTK_WINDOW(handle);
  g_ShellOps.pointerInit();
  gtk_widget_show_all(GTK_WIDGET(window));
  gtk_window_present(window);
  PrepareWindowWhenMapped(window, true);
}

void OsMiniaturize(void* handle) {
  if (handle) gtk_window_iconify(GTK_WINDOW(handle));
}

bool OsWindowVisible(void* handle) {
  if (!handle) return false;
  GtkWidget* widget = GTK_WIDGET(handle);
  if (!gtk_widget_get_visible(widget)) return false;
  GdkWindow* gdkWindow = gtk_widget_get_window(widget);
  return !gdkWindow || !(gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ICONIFIED);
}

void OsInstallMainMenu(const std::string& name) {
  g_set_application_name(name.c_str());
  g_set_prgname((std::string("pellomar-") + kEditionWord).c_str());
}

std::string OsReadClipboardText(bool primary) {
  GtkClipboard* clipboard = gtk_clipboard_get(primary ? GDK_SELECTION_PRIMARY : GDK_SELECTION_CLIPBOARD);
  if (!clipboard) return {};
  gchar* text = gtk_clipboard_wait_for_text(clipboard);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}
