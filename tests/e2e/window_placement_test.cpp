// Placement, frames, keep-above, visibility, names and clipboard of real GTK
// windows on an X server run by a real window manager (xfwm4).
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/x11_session.h"

namespace {

pmrtest::X11Session* g_X = nullptr;

class PlacementTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(pmrtest::InitGtkOnce());
    g_X = new pmrtest::X11Session;
    ASSERT_TRUE(g_X->Ok());
    ASSERT_TRUE(g_X->StartWindowManager());
    ASSERT_TRUE(pmrtest::SpinUntil([] { return gdk_screen_is_composited(gdk_screen_get_default()); }, 60000));
    OsPrepareWindowDecorations(false);
  }
  static void TearDownTestSuite() {
    delete g_X;
    g_X = nullptr;
  }
  void TearDown() override {
    for (GtkWidget* w : windows) gtk_widget_destroy(w);
    g_X->SetMonitors({});
  }

  GtkWindow* NewWindow(bool headerBar = false, GtkWidget* child = nullptr) {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (headerBar) gtk_window_set_titlebar(GTK_WINDOW(w), gtk_header_bar_new());
    gtk_container_add(GTK_CONTAINER(w), child ? child : gtk_label_new("page"));
    gtk_window_set_default_size(GTK_WINDOW(w), 320, 240);
    windows.push_back(w);
    return GTK_WINDOW(w);
  }
  static bool Show(GtkWindow* w) {
    gtk_widget_show_all(GTK_WIDGET(w));
    bool ok = pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(w)); }, 60000);
    pmrtest::SpinFor(400);
    return ok;
  }
  struct Placement {
    int x = 0, y = 0, w = 0, h = 0;
    bool max = false;
  };
  static Placement Get(GtkWindow* w) {
    Placement p;
    OsGetWindowPlacement(w, p.x, p.y, p.w, p.h, p.max);
    return p;
  }
  // Waits until the window manager has carried out what was asked.
  static bool Settles(GtkWindow* w, const std::function<bool(const Placement&)>& want) {
    return pmrtest::SpinUntil([&] { return want(Get(w)); }, 60000);
  }

  std::vector<GtkWidget*> windows;
};

TEST_F(PlacementTest, RestoredPlacementReadsBackTheSame) {
  GtkWindow* w = NewWindow();
  OsRestoreWindowPlacement(w, 300, 200, 500, 400, false);
  ASSERT_TRUE(Show(w));
  EXPECT_TRUE(Settles(w, [](const Placement& p) { return p.x == 300 && p.y == 200 && p.w == 500 && p.h == 400; }))
      << Get(w).x << "," << Get(w).y << " " << Get(w).w << "x" << Get(w).h;
  EXPECT_FALSE(Get(w).max);

  // Restored again while shown: moved and resized by the window manager.
  OsRestoreWindowPlacement(w, 640, 480, 420, 300, false);
  EXPECT_TRUE(Settles(w, [](const Placement& p) { return p.x == 640 && p.y == 480 && p.w == 420 && p.h == 300; }));

  OsRestoreWindowPlacement(w, 640, 480, 420, 300, true);
  EXPECT_TRUE(Settles(w, [](const Placement& p) { return p.max; }));
}

TEST_F(PlacementTest, OffEveryMonitorOrZeroSizedPartsAreIgnored) {
  struct Case {
    const char* what;
    int x, y, w, h;
    bool positionKept, sizeKept;
  };
  const Case cases[] = {
      {"right of the screen", 5000, 300, 450, 350, false, true},
      {"above the screen", 300, -900, 450, 350, false, true},
      {"zero width", 260, 180, 0, 350, true, false},
      {"negative height", 260, 180, 450, -5, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GtkWindow* w = NewWindow();
    OsRestoreWindowPlacement(w, c.x, c.y, c.w, c.h, false);
    ASSERT_TRUE(Show(w));
    Placement p = Get(w);
    if (c.sizeKept) {
      EXPECT_TRUE(Settles(w, [&](const Placement& q) { return q.w == c.w && q.h == c.h; }));
    } else {
      EXPECT_EQ(p.w, 320);  // the default size stays
      EXPECT_EQ(p.h, 240);
    }
    if (c.positionKept) {
      EXPECT_TRUE(Settles(w, [&](const Placement& q) { return q.x == c.x && q.y == c.y; }));
    } else {
      // Wherever the window manager put it, on the screen.
      EXPECT_GE(p.x, 0);
      EXPECT_LT(p.x, 1920);
      EXPECT_GE(p.y, 0);
      EXPECT_LT(p.y, 1080);
    }
  }
}

TEST_F(PlacementTest, PositionOnAMonitorThatIsGoneIsIgnored) {
  // Saved on the right half of the screen's one monitor.
  GtkWindow* first = NewWindow();
  OsRestoreWindowPlacement(first, 1200, 300, 400, 300, false);
  ASSERT_TRUE(Show(first));
  ASSERT_TRUE(Settles(first, [](const Placement& p) { return p.x == 1200 && p.y == 300; }));
  Placement saved = Get(first);

  // The monitor now covers only the left half (Xvfb has a single output, so
  // a shrunken monitor stands in for an unplugged one): the saved point lies
  // on no monitor any more.
  ASSERT_TRUE(g_X->SetMonitors({{0, 0, 960, 1080}}));
  ASSERT_TRUE(pmrtest::SpinUntil([] {
    GdkRectangle r;
    GdkDisplay* d = gdk_display_get_default();
    if (gdk_display_get_n_monitors(d) != 1) return false;
    gdk_monitor_get_geometry(gdk_display_get_monitor(d, 0), &r);
    return r.width == 960;
  }, 60000));
  GtkWindow* second = NewWindow();
  OsRestoreWindowPlacement(second, saved.x, saved.y, saved.w, saved.h, false);
  ASSERT_TRUE(Show(second));
  EXPECT_TRUE(Settles(second, [&](const Placement& p) { return p.w == saved.w && p.h == saved.h; }));
  EXPECT_NE(Get(second).x, 1200);
}

TEST_F(PlacementTest, ClampedResizeStaysInsideTheWorkArea) {
  GtkWindow* w = NewWindow();
  OsRestoreWindowPlacement(w, 100, 700, 300, 200, false);
  ASSERT_TRUE(Show(w));
  ASSERT_TRUE(Settles(w, [](const Placement& p) { return p.y == 700; }));
  const pmrgtk::WorkArea wa = pmrgtk::WorkAreaFor(w);
  EXPECT_EQ(wa.width, 1920);
  EXPECT_EQ(wa.height, 1080);

  // Taller than the work area: the work-area height at most, and moved up so
  // that it fits.
  OsResizeWindowClamped(w, 5000, 5000, false);
  EXPECT_TRUE(Settles(w, [&](const Placement& p) { return p.w == wa.width && p.h <= wa.height && p.h > 800; }));
  EXPECT_TRUE(Settles(w, [&](const Placement& p) { return p.y + p.h <= wa.y + wa.height; }));

  // keepOnScreen: the window keeps its row and is shortened to the bottom.
  w = NewWindow();
  OsRestoreWindowPlacement(w, 100, 700, 300, 200, false);
  ASSERT_TRUE(Show(w));
  ASSERT_TRUE(Settles(w, [](const Placement& p) { return p.y == 700 && p.h == 200; }));
  OsResizeWindowClamped(w, 300, 600, true);
  // (The window manager may lift it further by its own title bar.)
  EXPECT_TRUE(Settles(w, [&](const Placement& p) { return p.h == wa.y + wa.height - 700 && p.y > 600; }))
      << Get(w).y << " " << Get(w).h;
}

TEST_F(PlacementTest, FrameExcludesTheShadowAndMovesWhereAsked) {
  GtkWindow* w = NewWindow(true);  // drawn by GTK, with a shadow around the frame
  OsRestoreWindowPlacement(w, 400, 300, 360, 260, false);
  ASSERT_TRUE(Show(w));
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(w));
  // The shadow as the window manager sees it.
  Display* dpy = GDK_WINDOW_XDISPLAY(gdkWindow);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(dpy, GDK_WINDOW_XID(gdkWindow), XInternAtom(dpy, "_GTK_FRAME_EXTENTS", False), 0, 4,
                               False, XA_CARDINAL, &type, &format, &n, &after, &data),
            Success);
  ASSERT_EQ(n, 4u);
  const long* e = reinterpret_cast<const long*>(data);
  const long left = e[0], right = e[1], top = e[2], bottom = e[3];
  XFree(data);
  EXPECT_GT(left, 0);
  EXPECT_GT(top, 0);

  int fx, fy, fw, fh;
  ASSERT_TRUE(OsGetWindowFrame(w, fx, fy, fw, fh));
  int ox, oy;
  gdk_window_get_origin(gdkWindow, &ox, &oy);
  EXPECT_EQ(fx, ox + left);
  EXPECT_EQ(fy, oy + top);
  EXPECT_EQ(fw, gdk_window_get_width(gdkWindow) - left - right);
  EXPECT_EQ(fh, gdk_window_get_height(gdkWindow) - top - bottom);

  OsMoveWindowFrame(w, 700, 500);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return OsGetWindowFrame(w, fx, fy, fw, fh) && fx == 700 && fy == 500; }, 60000))
      << fx << "," << fy;

  // A window framed by the window manager has no shadow extents.
  GtkWindow* framed = NewWindow();
  OsRestoreWindowPlacement(framed, 300, 300, 300, 200, false);
  ASSERT_TRUE(Show(framed));
  ASSERT_TRUE(OsGetWindowFrame(framed, fx, fy, fw, fh));
  gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(framed)), &ox, &oy);
  EXPECT_EQ(fx, ox);
  EXPECT_EQ(fy, oy);
  EXPECT_EQ(fw, 300);
  EXPECT_EQ(fh, 200);
  OsMoveWindowFrame(framed, 800, 600);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return OsGetWindowFrame(framed, fx, fy, fw, fh) && fx == 800 && fy == 600; }, 60000))
      << fx << "," << fy;

  // Not realized yet: no frame.
  GtkWindow* hidden = NewWindow();
  EXPECT_FALSE(OsGetWindowFrame(hidden, fx, fy, fw, fh));
}

TEST_F(PlacementTest, PageFrameIsTheWebViewOnScreen) {
  GtkWidget* view = webkit_web_view_new();
  GtkWindow* w = NewWindow(false, view);
  OsRestoreWindowPlacement(w, 350, 250, 400, 300, false);
  ASSERT_TRUE(Show(w));
  int px, py, pw, ph;
  ASSERT_TRUE(OsGetPageFrame(w, px, py, pw, ph));
  int ox, oy;
  gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(w)), &ox, &oy);
  GtkAllocation a;
  gtk_widget_get_allocation(view, &a);
  EXPECT_EQ(px, ox + a.x);
  EXPECT_EQ(py, oy + a.y);
  EXPECT_EQ(pw, 400);
  EXPECT_EQ(ph, 300);
  int fx, fy, fw, fh;
  ASSERT_TRUE(OsGetWindowFrame(w, fx, fy, fw, fh));
  EXPECT_EQ(px, fx);  // the page fills the client area here
  EXPECT_EQ(py, fy);

  GtkWindow* plain = NewWindow();  // no web view
  ASSERT_TRUE(Show(plain));
  EXPECT_FALSE(OsGetPageFrame(plain, px, py, pw, ph));
}

std::vector<std::string> NetWmState(GtkWindow* w) {
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(w));
  Display* dpy = GDK_WINDOW_XDISPLAY(gdkWindow);
  Atom type;
  int format;
  unsigned long n = 0, after;
  unsigned char* data = nullptr;
  std::vector<std::string> names;
  if (XGetWindowProperty(dpy, GDK_WINDOW_XID(gdkWindow), XInternAtom(dpy, "_NET_WM_STATE", False), 0, 64, False,
                         XA_ATOM, &type, &format, &n, &after, &data) == Success &&
      data) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < n; ++i) {
      char* name = XGetAtomName(dpy, atoms[i]);
      names.push_back(name);
      XFree(name);
    }
    XFree(data);
  }
  return names;
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST_F(PlacementTest, KeepAboveMiniaturizeAndBringToFront) {
  GtkWindow* w = NewWindow();
  ASSERT_TRUE(Show(w));
  OsSetAlwaysOnTop(w, true);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return Has(NetWmState(w), "_NET_WM_STATE_ABOVE"); }, 60000));
  EXPECT_FALSE(pmrgtk::g_ShellAbove);  // on X11 the shell backend is not asked
  OsSetAlwaysOnTop(w, false);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return !Has(NetWmState(w), "_NET_WM_STATE_ABOVE"); }, 60000));

  EXPECT_TRUE(OsWindowVisible(w));
  OsMiniaturize(w);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return !OsWindowVisible(w); }, 60000));
  OsBringToFront(w);
  EXPECT_TRUE(pmrtest::SpinUntil([&] { return OsWindowVisible(w) && gtk_widget_get_mapped(GTK_WIDGET(w)); }, 60000));
  EXPECT_EQ(g_object_get_data(G_OBJECT(w), "pmr-prepared"), nullptr);  // nothing for the shell on X11

  GtkWindow* never = NewWindow();
  EXPECT_FALSE(OsWindowVisible(never));
  EXPECT_FALSE(OsWindowVisible(nullptr));
}

TEST_F(PlacementTest, ApplicationNamesGiveTheWindowClass) {
  OsInstallMainMenu("Pellomar Free");
  EXPECT_STREQ(g_get_application_name(), "Pellomar Free");
  EXPECT_STREQ(g_get_prgname(), "pellomar-free");
  GtkWindow* w = NewWindow();
  ASSERT_TRUE(Show(w));
  XClassHint hint;
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(w));
  ASSERT_TRUE(XGetClassHint(GDK_WINDOW_XDISPLAY(gdkWindow), GDK_WINDOW_XID(gdkWindow), &hint));
  EXPECT_STREQ(hint.res_name, "pellomar-free");
  XFree(hint.res_name);
  XFree(hint.res_class);
}

TEST_F(PlacementTest, ClipboardAndPrimarySelection) {
  EXPECT_EQ(OsReadClipboardText(false), "");  // nobody owns it
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "copied text", -1);
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), "selected \xC3\xA9", -1);
  EXPECT_EQ(OsReadClipboardText(false), "copied text");
  EXPECT_EQ(OsReadClipboardText(true), "selected \xC3\xA9");
}

}  // namespace
