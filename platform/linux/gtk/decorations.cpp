// Decorations of every top-level window: rounded corners drawn by the
// program (the page keeps the window's rounding), the program's own header
// bar where the desktop would otherwise draw a title bar, title-bar colours
// and square corners on request.
#include <cairo.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/linux/gtk/gtk_internal.h"

namespace pmrgtk {

bool g_OwnTitleBars = false;

namespace {

constexpr const char* kCornersKey = "pmr-corners";
constexpr const char* kSquareKey = "pmr-square";
constexpr const char* kPageCornersKey = "pmr-page-corners";

// Pixels saved from under the page's corners while the page draws, put back
// outside the rounded page outline once the window has drawn. Positions are
// in the drawing surface's coordinates of the current frame.
struct PageCorners {
  cairo_surface_t* target = nullptr;  // the surface the pixels were copied from
  cairo_surface_t* slot[4] = {nullptr, nullptr, nullptr, nullptr};  // TL, TR, BL, BR
  double slotX[4] = {0, 0, 0, 0};
  double slotY[4] = {0, 0, 0, 0};
  double pageX = 0, pageY = 0, pageW = 0, pageH = 0;
  bool topRounded = true;
};

void FreeSlots(PageCorners* pc) {
  for (cairo_surface_t*& s : pc->slot) {
    if (s) cairo_surface_destroy(s);
    s = nullptr;
  }
  pc->target = nullptr;
}

void FreePageCorners(gpointer data) {
  auto* pc = static_cast<PageCorners*>(data);
  FreeSlots(pc);
  delete pc;
}

PageCorners* PageCornersOf(GtkWidget* window) {
  auto* pc = static_cast<PageCorners*>(g_object_get_data(G_OBJECT(window), kPageCornersKey));
  if (!pc) {
    pc = new PageCorners;
    g_object_set_data_full(G_OBJECT(window), kPageCornersKey, pc, FreePageCorners);
  }
  return pc;
}

bool TitleBarVisible(GtkWindow* window) {
  GtkWidget* bar = gtk_window_get_titlebar(window);
  return bar && gtk_widget_get_visible(bar);
}

void RoundedRectPath(cairo_t* cr, double x, double y, double w, double h, double rTop, double rBottom) {
  cairo_new_sub_path(cr);
  if (rTop > 0) {
    cairo_arc(cr, x + rTop, y + rTop, rTop, M_PI, 1.5 * M_PI);
    cairo_arc(cr, x + w - rTop, y + rTop, rTop, 1.5 * M_PI, 2 * M_PI);
  } else {
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + w, y);
  }
  cairo_arc(cr, x + w - rBottom, y + h - rBottom, rBottom, 0, 0.5 * M_PI);
  cairo_arc(cr, x + rBottom, y + h - rBottom, rBottom, 0.5 * M_PI, M_PI);
  cairo_close_path(cr);
}

// Before the page draws (the window's background is already painted): keep
// what lies under the page's rounded corners.
gboolean KeepUnderPageCorners(GtkWidget* page, cairo_t* cr, gpointer) {
  GtkWidget* top = gtk_widget_get_toplevel(page);
  if (!GTK_IS_WINDOW(top)) return FALSE;
  PageCorners* pc = PageCornersOf(top);
  FreeSlots(pc);
  if (g_object_get_data(G_OBJECT(top), kSquareKey)) return FALSE;
  GdkWindow* gdkWindow = gtk_widget_get_window(top);
  if (gdkWindow && (gdk_window_get_state(gdkWindow) &
                    (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_TILED)))
    return FALSE;
  const int w = gtk_widget_get_allocated_width(page);
  const int h = gtk_widget_get_allocated_height(page);
  if (w < 16 || h < 16) return FALSE;

  cairo_surface_t* target = cairo_get_group_target(cr);
  double ox = 0, oy = 0;
  cairo_user_to_device(cr, &ox, &oy);
  double sx = 1, sy = 1;
  cairo_surface_get_device_scale(target, &sx, &sy);
  pc->target = target;
  pc->pageX = ox;
  pc->pageY = oy;
  pc->pageW = w;
  pc->pageH = h;
  pc->topRounded = !TitleBarVisible(GTK_WINDOW(top));

  const double r = kCornerRadius;
  const double cornerX[4] = {ox, ox + w - r, ox, ox + w - r};
  const double cornerY[4] = {oy, oy, oy + h - r, oy + h - r};
  for (int i = pc->topRounded ? 0 : 2; i < 4; ++i) {
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(r * sx)),
                                                      static_cast<int>(std::ceil(r * sy)));
    cairo_surface_set_device_scale(img, sx, sy);
    cairo_t* c = cairo_create(img);
    cairo_set_source_surface(c, target, -cornerX[i], -cornerY[i]);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    cairo_paint(c);
    cairo_destroy(c);
    pc->slot[i] = img;
    pc->slotX[i] = cornerX[i];
    pc->slotY[i] = cornerY[i];
  }
  return FALSE;
}

// After the window has drawn (page included): paint the kept pixels back in
// the part of each corner square outside the rounded page outline.
gboolean PutBackPageCorners(GtkWidget* window, cairo_t* cr, gpointer) {
  auto* pc = static_cast<PageCorners*>(g_object_get_data(G_OBJECT(window), kPageCornersKey));
  if (!pc) return FALSE;
  if (pc->target == cairo_get_group_target(cr)) {
    const double r = kCornerRadius;
    for (int i = 0; i < 4; ++i) {
      if (!pc->slot[i]) continue;
      cairo_save(cr);
      cairo_identity_matrix(cr);
      cairo_new_path(cr);
      cairo_rectangle(cr, pc->slotX[i], pc->slotY[i], r, r);
      cairo_clip(cr);
      cairo_rectangle(cr, pc->slotX[i], pc->slotY[i], r, r);
      RoundedRectPath(cr, pc->pageX, pc->pageY, pc->pageW, pc->pageH, pc->topRounded ? r : 0, r);
      cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
      cairo_clip(cr);
      cairo_set_source_surface(cr, pc->slot[i], pc->slotX[i], pc->slotY[i]);
      cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
      cairo_paint(cr);
      cairo_restore(cr);
    }
  }
  FreeSlots(pc);
  return FALSE;
}

void PrepareRoundedCorners(GtkWindow* window, GtkWidget* child) {
  GtkWidget* widget = GTK_WIDGET(window);
  if (g_object_get_data(G_OBJECT(window), kCornersKey)) return;
  const char* hypr = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
  if (hypr) return;
  if (gtk_widget_get_realized(widget)) return;
  g_object_set_data(G_OBJECT(window), kCornersKey, GINT_TO_POINTER(1));
  GdkScreen* screen = gtk_widget_get_screen(widget);
  GdkVisual* rgba = screen ? gdk_screen_get_rgba_visual(screen) : nullptr;
  if (!screen || !gdk_screen_is_composited(screen) || !rgba) return;
  gtk_widget_set_visual(widget, rgba);
  PrepareCornerStyle();
  gtk_style_context_add_class(gtk_widget_get_style_context(widget), "pmr-corners");
  g_signal_connect_after(window, "draw", G_CALLBACK(PutBackPageCorners), nullptr);
  if (child) g_signal_connect(child, "draw", G_CALLBACK(KeepUnderPageCorners), nullptr);
}

void PrepareOwnTitleBar(GtkWindow* window) {
  if (!g_OwnTitleBars || gtk_widget_get_realized(GTK_WIDGET(window)) || gtk_window_get_titlebar(window) ||
      !gtk_window_get_decorated(window) || gtk_window_get_window_type(window) != GTK_WINDOW_TOPLEVEL)
    return;
  GtkWidget* bar = gtk_header_bar_new();
  GtkHeaderBar* header = GTK_HEADER_BAR(bar);
  gtk_header_bar_set_show_close_button(header, TRUE);
  gchar* layout = nullptr;
  GtkSettings* settings = gtk_settings_get_default();
  if (settings) g_object_get(settings, "gtk-decoration-layout", &layout, nullptr);
  if (!layout || (!std::strstr(layout, "minimize") && !std::strstr(layout, "maximize")))
    gtk_header_bar_set_decoration_layout(header, ":minimize,maximize,close");
  g_free(layout);
  // GTK copies a header bar's title into its window: only real changes are
  // passed on, or the two would echo each other forever.
  gtk_header_bar_set_title(header, gtk_window_get_title(window));
  g_signal_connect_object(window, "notify::title", G_CALLBACK(+[](GtkWindow* w, GParamSpec*, gpointer bar) {
                            const gchar* title = gtk_window_get_title(w);
                            if (g_strcmp0(title, gtk_header_bar_get_title(GTK_HEADER_BAR(bar))) != 0)
                              gtk_header_bar_set_title(GTK_HEADER_BAR(bar), title);
                          }),
                          bar, GConnectFlags(0));
  gtk_window_set_titlebar(window, bar);
  gtk_widget_show(bar);
}

// Every widget added to any container passes here; top-level windows get
// their decorations before they are first realized.
gboolean OnContainerAdd(GSignalInvocationHint*, guint count, const GValue* params, gpointer) {
  if (count < 1) return TRUE;
  GObject* container = static_cast<GObject*>(g_value_get_object(&params[0]));
  if (!GTK_IS_WINDOW(container)) return TRUE;
  GtkWindow* window = GTK_WINDOW(container);
  if (gtk_window_get_window_type(window) != GTK_WINDOW_TOPLEVEL) return TRUE;
  GtkWidget* child = nullptr;
  if (count > 1 && G_VALUE_HOLDS_OBJECT(&params[1])) {
    GObject* added = static_cast<GObject*>(g_value_get_object(&params[1]));
    if (GTK_IS_WIDGET(added)) child = GTK_WIDGET(added);
  }
  PrepareRoundedCorners(window, child);
  PrepareOwnTitleBar(window);
  return TRUE;
}

}  // namespace

void PrepareCornerStyle() {
  static bool done = false;
  GdkScreen* screen = gdk_screen_get_default();
  if (done || !screen) return;
  done = true;
  GtkCssProvider* provider = gtk_css_provider_new();
  const std::string css = CornerStyleCss();
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider), 801);
  g_object_unref(provider);
}

}  // namespace pmrgtk

using namespace pmrgtk;

void OsPrepareWindowDecorations(bool child) {
  if (!gtk_init_check(nullptr, nullptr)) return;
  static bool hooked = false;
  if (!hooked) {
    hooked = true;
    g_type_class_ref(GTK_TYPE_WINDOW);
    guint add = g_signal_lookup("add", GTK_TYPE_CONTAINER);
    g_signal_add_emission_hook(add, 0, OnContainerAdd, nullptr, nullptr);
  }
  if (child) return;
#ifdef GDK_WINDOWING_WAYLAND
  GdkDisplay* display = gdk_display_get_default();
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  if (display && GDK_IS_WAYLAND_DISPLAY(display) && gdk_wayland_display_prefers_ssd(display) && desktop &&
      std::strstr(desktop, "KDE"))
    g_OwnTitleBars = true;
#endif
}

void OsSetTitleBarColors(void* window, const TitleBarColors& colors) {
  static GtkCssProvider* provider = nullptr;
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen) return;
  if (!provider) {
    provider = gtk_css_provider_new();
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider), 600);
  }
  const std::string css = TitleBarCss(colors);
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
  if (GtkSettings* settings = gtk_settings_get_default())
    g_object_set(settings, "gtk-application-prefer-dark-theme", PrefersDarkTheme(colors) ? TRUE : FALSE,
                 nullptr);
}

void OsSetWindowCornersRounded(void* handle, bool rounded) {
  if (!handle) return;
  GtkWindow* window = GTK_WINDOW(handle);
  const bool square = !rounded;
  if ((g_object_get_data(G_OBJECT(window), kSquareKey) != nullptr) == square) return;
  g_object_set_data(G_OBJECT(window), kSquareKey, square ? GINT_TO_POINTER(1) : nullptr);
  if (!std::getenv("HYPRLAND_INSTANCE_SIGNATURE")) {
    GtkStyleContext* style = gtk_widget_get_style_context(GTK_WIDGET(window));
    if (square)
      gtk_style_context_add_class(style, "pmr-square");
    else
      gtk_style_context_remove_class(style, "pmr-square");
    gtk_widget_queue_draw(GTK_WIDGET(window));
  } else {
    RunWhenMapped(window, [rounded](GtkWindow*) { g_ShellOps.setRounded(rounded); });
  }
}
