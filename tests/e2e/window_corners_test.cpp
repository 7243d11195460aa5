// Window decorations on a real X server with a real window manager: rounded
// corners drawn by the program on a composited screen (checked in the
// window's pixels and in a screenshot of the screen), square corners on
// request and when maximized, only the bottom page corners under a title
// bar, square windows without a compositor, the program's own header bar,
// and the title-bar colours.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <gtk/gtk.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/process.h"
#include "tests/support/x11_session.h"

namespace {

pmrtest::X11Session* g_X = nullptr;

struct Pixel {
  int a = -1, r = -1, g = -1, b = -1;
};

// A pixel of the window's own contents (alpha included on an RGBA visual).
Pixel WindowPixel(GtkWidget* window, int x, int y) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  Display* dpy = GDK_WINDOW_XDISPLAY(gdkWindow);
  XSync(dpy, False);
  Pixel p;
  XImage* image = XGetImage(dpy, GDK_WINDOW_XID(gdkWindow), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return p;
  unsigned long v = XGetPixel(image, 0, 0);
  p.a = image->depth == 32 ? static_cast<int>((v >> 24) & 0xff) : 255;
  p.r = static_cast<int>((v >> 16) & 0xff);
  p.g = static_cast<int>((v >> 8) & 0xff);
  p.b = static_cast<int>(v & 0xff);
  XDestroyImage(image);
  return p;
}

// A pixel of a screenshot of the whole screen, as `import` takes it.
std::string ScreenPixel(const std::string& png, int x, int y) {
  std::string out;
  pmrtest::Run({"convert", png, "-format", "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]", "info:"},
               &out);
  return out;
}

std::string Screenshot(const std::string& tag) {
  const std::string png = pmrtest::MakeTempDir("corners") + "/" + tag + ".png";
  EXPECT_EQ(pmrtest::Run({"import", "-window", "root", png}), 0);
  return png;
}

gboolean PaintRed(GtkWidget*, cairo_t* cr, gpointer) {
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_paint(cr);
  return FALSE;
}

struct TestWindow {
  GtkWidget* window = nullptr;
  GtkWidget* page = nullptr;

  // A top-level window whose page is solid red, w x h, placed at (x, y).
  TestWindow(int x, int y, int w, int h, bool headerBar = false) {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (headerBar) {
      GtkWidget* bar = gtk_header_bar_new();
      gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
      gtk_window_set_titlebar(GTK_WINDOW(window), bar);
    }
    page = gtk_drawing_area_new();
    gtk_widget_set_size_request(page, w, h);
    gtk_container_add(GTK_CONTAINER(window), page);
    // Painted by the page itself, after anything connected when it was added.
    g_signal_connect_after(page, "draw", G_CALLBACK(PaintRed), nullptr);
    gtk_window_move(GTK_WINDOW(window), x, y);
  }
  ~TestWindow() { gtk_widget_destroy(window); }

  bool ShowAndSettle() {
    gtk_widget_show_all(window);
    bool mapped = pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(window); }, 60000);
    Redraw();
    return mapped;
  }
  void Redraw() {
    gtk_widget_queue_draw(window);
    pmrtest::SpinFor(600);
  }
  // The page's own corner pixels, in window coordinates.
  Pixel PagePixel(int px, int py) {
    int wx = 0, wy = 0;
    gtk_widget_translate_coordinates(page, window, px, py, &wx, &wy);
    return WindowPixel(window, wx, wy);
  }
  int PageW() { return gtk_widget_get_allocated_width(page); }
  int PageH() { return gtk_widget_get_allocated_height(page); }
};

bool IsOpaqueRed(const Pixel& p) { return p.a == 255 && p.r == 255 && p.g == 0 && p.b == 0; }

class CornersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(pmrtest::InitGtkOnce());
    g_X = new pmrtest::X11Session;
    ASSERT_TRUE(g_X->Ok());
    ASSERT_TRUE(g_X->StartWindowManager());
    // GTK notices the compositor through the selection owner.
    ASSERT_TRUE(pmrtest::SpinUntil([] { return gdk_screen_is_composited(gdk_screen_get_default()); }, 60000));
    OsPrepareWindowDecorations(false);
  }
  static void TearDownTestSuite() {
    delete g_X;
    g_X = nullptr;
  }
};

TEST_F(CornersTest, PageCornersAreTransparentOnACompositedScreen) {
  TestWindow t(200, 150, 300, 200);
  ASSERT_TRUE(t.ShowAndSettle());
  EXPECT_EQ(gtk_widget_get_visual(t.window), gdk_screen_get_rgba_visual(gdk_screen_get_default()));
  EXPECT_TRUE(gtk_style_context_has_class(gtk_widget_get_style_context(t.window), "pmr-corners"));

  const int w = t.PageW(), h = t.PageH();
  ASSERT_EQ(w, 300);
  ASSERT_EQ(h, 200);
  // Outside the 8-pixel rounding: fully transparent; inside it: the page.
  for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {1, 1}, {w - 2, h - 2}})
    EXPECT_EQ(t.PagePixel(x, y).a, 0) << x << "," << y;
  for (auto [x, y] : {std::pair{4, 4}, {w - 5, 4}, {4, h - 5}, {w - 5, h - 5}, {8, 0}, {0, 8}, {w / 2, h / 2}})
    EXPECT_TRUE(IsOpaqueRed(t.PagePixel(x, y))) << x << "," << y;

  // What the user sees: the corner shows what lies behind the window.
  int ox = 0, oy = 0;
  gdk_window_get_origin(gtk_widget_get_window(t.window), &ox, &oy);
  const std::string shot = Screenshot("rounded");
  EXPECT_EQ(ScreenPixel(shot, ox + w / 2, oy + h / 2), "srgb(255,0,0)");
  EXPECT_NE(ScreenPixel(shot, ox, oy), "srgb(255,0,0)");
  EXPECT_NE(ScreenPixel(shot, ox + w - 1, oy + h - 1), "srgb(255,0,0)");
}

TEST_F(CornersTest, SquareOnRequestAndWhenMaximized) {
  TestWindow t(250, 200, 260, 180);
  ASSERT_TRUE(t.ShowAndSettle());
  const int w = t.PageW(), h = t.PageH();
  ASSERT_EQ(t.PagePixel(0, 0).a, 0);

  OsSetWindowCornersRounded(t.window, false);
  EXPECT_TRUE(gtk_style_context_has_class(gtk_widget_get_style_context(t.window), "pmr-square"));
  t.Redraw();
  for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
    EXPECT_TRUE(IsOpaqueRed(t.PagePixel(x, y))) << x << "," << y;
  int ox = 0, oy = 0;
  gdk_window_get_origin(gtk_widget_get_window(t.window), &ox, &oy);
  EXPECT_EQ(ScreenPixel(Screenshot("square"), ox, oy), "srgb(255,0,0)");

  OsSetWindowCornersRounded(t.window, false);  // unchanged request: stays square
  OsSetWindowCornersRounded(t.window, true);
  EXPECT_FALSE(gtk_style_context_has_class(gtk_widget_get_style_context(t.window), "pmr-square"));
  t.Redraw();
  EXPECT_EQ(t.PagePixel(0, 0).a, 0);

  gtk_window_maximize(GTK_WINDOW(t.window));
  ASSERT_TRUE(pmrtest::SpinUntil([&] { return gtk_window_is_maximized(GTK_WINDOW(t.window)); }, 60000));
  t.Redraw();
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(0, 0)));
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(t.PageW() - 1, t.PageH() - 1)));
}

TEST_F(CornersTest, UnderATitleBarOnlyTheBottomPageCornersAreRounded) {
  TestWindow t(300, 250, 280, 160, true);
  ASSERT_TRUE(t.ShowAndSettle());
  const int w = t.PageW(), h = t.PageH();
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(0, 0)));
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(w - 1, 0)));
  // The bottom corners show what the window drew there before the page: the
  // decoration's shadow, faint and never the page.
  for (auto [x, y] : {std::pair{0, h - 1}, {w - 1, h - 1}}) {
    Pixel p = t.PagePixel(x, y);
    EXPECT_LT(p.a, 128) << x << "," << y;
    EXPECT_FALSE(IsOpaqueRed(p));
  }
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(4, h - 5)));
  // The header bar's own top corners are rounded by the corner style.
  GtkWidget* bar = gtk_window_get_titlebar(GTK_WINDOW(t.window));
  int bx = 0, by = 0;
  gtk_widget_translate_coordinates(bar, t.window, 0, 0, &bx, &by);
  EXPECT_LT(WindowPixel(t.window, bx, by).a, 128);
  EXPECT_EQ(WindowPixel(t.window, bx + 20, by + 20).a, 255);
}

TEST_F(CornersTest, TitleBarColoursAndTheDarkThemePreference) {
  TestWindow t(320, 260, 240, 120, true);
  OsSetTitleBarColors(t.window, TitleBarColors{{13, 14, 21}, {255, 255, 255}});
  gboolean dark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  EXPECT_TRUE(dark);
  ASSERT_TRUE(t.ShowAndSettle());
  GtkWidget* bar = gtk_window_get_titlebar(GTK_WINDOW(t.window));
  int bx = 0, by = 0;
  gtk_widget_translate_coordinates(bar, t.window, 0, 0, &bx, &by);
  const int midY = by + gtk_widget_get_allocated_height(bar) / 2;
  Pixel p = WindowPixel(t.window, bx + 12, midY);
  EXPECT_EQ(p.a, 255);
  EXPECT_EQ(p.r, 13);
  EXPECT_EQ(p.g, 14);
  EXPECT_EQ(p.b, 21);

  // A later call replaces the colours of every title bar.
  OsSetTitleBarColors(t.window, TitleBarColors{{255, 255, 255}, {0, 0, 0}});
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  EXPECT_FALSE(dark);
  t.Redraw();
  p = WindowPixel(t.window, bx + 12, midY);
  EXPECT_EQ(p.r, 255);
  EXPECT_EQ(p.g, 255);
  EXPECT_EQ(p.b, 255);
}

TEST_F(CornersTest, OwnHeaderBarFollowsTheTitleAndGetsWindowButtons) {
  GtkSettings* settings = gtk_settings_get_default();
  struct Case {
    const char* desktopLayout;
    const char* barLayout;  // null: the desktop's layout is left alone
  };
  const Case cases[] = {{"menu:close", ":minimize,maximize,close"},
                        {"icon:minimize,close", nullptr},
                        {"close,maximize:", nullptr}};
  pmrgtk::g_OwnTitleBars = true;  // as decided on a KDE Wayland session
  for (const Case& c : cases) {
    g_object_set(settings, "gtk-decoration-layout", c.desktopLayout, nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "First");
    gtk_container_add(GTK_CONTAINER(window), gtk_label_new("page"));
    GtkWidget* bar = gtk_window_get_titlebar(GTK_WINDOW(window));
    ASSERT_TRUE(bar && GTK_IS_HEADER_BAR(bar)) << c.desktopLayout;
    EXPECT_TRUE(gtk_header_bar_get_show_close_button(GTK_HEADER_BAR(bar)));
    const gchar* layout = gtk_header_bar_get_decoration_layout(GTK_HEADER_BAR(bar));
    if (c.barLayout)
      EXPECT_STREQ(layout, c.barLayout);
    else
      EXPECT_EQ(layout, nullptr) << layout;
    EXPECT_STREQ(gtk_header_bar_get_title(GTK_HEADER_BAR(bar)), "First");
    gtk_window_set_title(GTK_WINDOW(window), "Second");
    EXPECT_STREQ(gtk_header_bar_get_title(GTK_HEADER_BAR(bar)), "Second");
    gtk_widget_destroy(window);
  }
  // Undecorated windows, windows that have a title bar and popups keep theirs.
  GtkWidget* plain = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(plain), FALSE);
  gtk_container_add(GTK_CONTAINER(plain), gtk_label_new("x"));
  EXPECT_EQ(gtk_window_get_titlebar(GTK_WINDOW(plain)), nullptr);
  GtkWidget* popup = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_container_add(GTK_CONTAINER(popup), gtk_label_new("x"));
  EXPECT_EQ(gtk_window_get_titlebar(GTK_WINDOW(popup)), nullptr);
  EXPECT_EQ(g_object_get_data(G_OBJECT(popup), "pmr-corners"), nullptr);
  gtk_widget_destroy(plain);
  gtk_widget_destroy(popup);
  pmrgtk::g_OwnTitleBars = false;
  g_object_set(settings, "gtk-decoration-layout", "menu:close", nullptr);
}

TEST_F(CornersTest, UnderHyprlandTheCompositorRoundsInstead) {
  setenv("HYPRLAND_INSTANCE_SIGNATURE", "test", 1);
  TestWindow t(100, 100, 200, 120);
  unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
  EXPECT_EQ(g_object_get_data(G_OBJECT(t.window), "pmr-corners"), nullptr);
  EXPECT_FALSE(gtk_style_context_has_class(gtk_widget_get_style_context(t.window), "pmr-corners"));
}

// Last: stops the compositor for the rest of the run.
TEST_F(CornersTest, WithoutACompositorWindowsStaySquare) {
  g_X->StopWindowManager();
  ASSERT_TRUE(pmrtest::SpinUntil([] { return !gdk_screen_is_composited(gdk_screen_get_default()); }, 60000));
  TestWindow t(150, 150, 220, 140);
  EXPECT_EQ(g_object_get_data(G_OBJECT(t.window), "pmr-corners"), GINT_TO_POINTER(1));
  EXPECT_FALSE(gtk_style_context_has_class(gtk_widget_get_style_context(t.window), "pmr-corners"));
  ASSERT_TRUE(t.ShowAndSettle());
  EXPECT_NE(gtk_widget_get_visual(t.window), gdk_screen_get_rgba_visual(gdk_screen_get_default()));
  EXPECT_EQ(g_object_get_data(G_OBJECT(t.window), "pmr-page-corners"), nullptr);  // no corner handlers ran
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(0, 0)));
  EXPECT_TRUE(IsOpaqueRed(t.PagePixel(t.PageW() - 1, t.PageH() - 1)));
}

}  // namespace
