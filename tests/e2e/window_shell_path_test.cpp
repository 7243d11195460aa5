// The branch taken when the display is not X11 (Wayland): real GTK windows on
// the test's X server, with the window layer told to place them through the
// shell backend, which a recording stand-in answers here.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window.h"
#include "tests/support/gtk_test_env.h"

namespace {

struct FakeShell {
  bool frameKnown = true;
  int fx = 50, fy = 60, fw = 400, fh = 300;
  bool maximizedKnown = false, maximized = false;
  int movesToLand = 1;  // the frame reaches the target on this move
  int moves = 0;
  bool aboveOk = true;
  std::vector<std::string> calls;
};
FakeShell g_Shell;

void Log(std::string s) { g_Shell.calls.push_back(std::move(s)); }
std::string Pair(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }

const pmrgtk::ShellOps kFakeOps = {
    [] { Log("init"); },
    [](int& x, int& y, int& w, int& h) {
      if (!g_Shell.frameKnown) return false;
      x = g_Shell.fx, y = g_Shell.fy, w = g_Shell.fw, h = g_Shell.fh;
      return true;
    },
    [](int x, int y) {
      Log("move " + Pair(x, y));
      if (++g_Shell.moves >= g_Shell.movesToLand) g_Shell.fx = x, g_Shell.fy = y;
      return true;
    },
    [](int w, int h) {
      Log("resize " + Pair(w, h));
      g_Shell.fw = w, g_Shell.fh = h;
      return true;
    },
    [](bool above) {
      Log(std::string("above ") + (above ? "1" : "0"));
      return g_Shell.aboveOk;
    },
    [](bool rounded) {
      Log(std::string("rounded ") + (rounded ? "1" : "0"));
      return true;
    },
    [](bool& m) {
      if (!g_Shell.maximizedKnown) return false;
      m = g_Shell.maximized;
      return true;
    },
    [](int w, int h, int x, int y) {
      Log("prepare " + Pair(w, h) + " " + (x == INT_MIN ? "none" : std::to_string(x)) + "," +
          (y == INT_MIN ? "none" : std::to_string(y)));
    },
};

int Count(const std::string& call) {
  int n = 0;
  for (const std::string& c : g_Shell.calls) n += c == call;
  return n;
}

class ShellPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pmrtest::InitGtkOnce());
    saved = pmrgtk::g_ShellOps;
    pmrgtk::g_ShellOps = kFakeOps;
    pmrgtk::g_DisplayKindOverride = 0;
    g_Shell = FakeShell{};
  }
  void TearDown() override {
    for (GtkWidget* w : windows) gtk_widget_destroy(w);
    pmrgtk::g_ShellOps = saved;
    pmrgtk::g_DisplayKindOverride = -1;
    pmrgtk::g_ShellAbove = false;
  }
  GtkWindow* NewWindow(GtkWidget* child = nullptr) {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(w), child ? child : gtk_label_new("page"));
    gtk_window_set_default_size(GTK_WINDOW(w), 320, 240);
    windows.push_back(w);
    return GTK_WINDOW(w);
  }
  static bool Show(GtkWindow* w) {
    gtk_widget_show_all(GTK_WIDGET(w));
    return pmrtest::SpinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(w)); }, 60000);
  }

  pmrgtk::ShellOps saved{};
  std::vector<GtkWidget*> windows;
};

TEST_F(ShellPathTest, PlacementPositionAndMaximizedComeFromTheShell) {
  GtkWindow* w = NewWindow();
  ASSERT_TRUE(Show(w));
  int x, y, width, height;
  bool max;
  OsGetWindowPlacement(w, x, y, width, height, max);
  EXPECT_EQ(Pair(x, y), "50,60");
  EXPECT_EQ(Pair(width, height), "320,240");  // the window's own size
  EXPECT_FALSE(max);

  g_Shell.maximizedKnown = g_Shell.maximized = true;
  OsGetWindowPlacement(w, x, y, width, height, max);
  EXPECT_TRUE(max);

  // A window the shell cannot see: position 0, 0 with its real size.
  g_Shell.frameKnown = false;
  g_Shell.maximizedKnown = false;
  OsGetWindowPlacement(w, x, y, width, height, max);
  EXPECT_EQ(Pair(x, y), "0,0");
  EXPECT_EQ(Pair(width, height), "320,240");
  EXPECT_FALSE(max);
}

TEST_F(ShellPathTest, RestoreMovesTheFrameOnceMappedUntilItArrives) {
  GtkWindow* w = NewWindow();
  g_Shell.movesToLand = 3;
  OsRestoreWindowPlacement(w, 700, 500, 300, 200, false);
  pmrtest::SpinFor(300);
  EXPECT_EQ(Count("move 700,500"), 0);  // nothing before the window is mapped
  ASSERT_TRUE(Show(w));
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("move 700,500") == 3; }, 60000));
  pmrtest::SpinFor(500);
  EXPECT_EQ(Count("move 700,500"), 3);  // stops once the frame is there

  // A frame that never arrives: twenty attempts, then no more.
  g_Shell = FakeShell{};
  g_Shell.movesToLand = 1000;
  OsRestoreWindowPlacement(w, 900, 400, 300, 200, false);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("move 900,400") == 20; }, 60000));
  pmrtest::SpinFor(400);
  EXPECT_EQ(Count("move 900,400"), 20);

  // Off every monitor: the shell is not asked to move.
  g_Shell = FakeShell{};
  OsRestoreWindowPlacement(w, 4000, 400, 300, 200, false);
  pmrtest::SpinFor(400);
  EXPECT_TRUE(g_Shell.calls.empty());
}

TEST_F(ShellPathTest, BringToFrontPreparesTheWindowCentredOnce) {
  GtkWindow* w = NewWindow();
  OsBringToFront(w);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("prepare 320,240 800,420") == 1; }, 60000));
  EXPECT_EQ(g_Shell.calls.front(), "init");
  OsBringToFront(w);
  pmrtest::SpinFor(300);
  EXPECT_EQ(Count("prepare 320,240 800,420"), 1);

  GtkWindow* other = NewWindow();
  ASSERT_TRUE(Show(other));
  pmrgtk::PrepareWindowWhenMapped(other, false);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("prepare 320,240 none,none") == 1; }, 60000));
}

TEST_F(ShellPathTest, KeepAboveGoesToTheShellAndIsDroppedWhileAnAlertShows) {
  GtkWindow* w = NewWindow();
  pmrgtk::g_Hooks.window = w;
  OsSetAlwaysOnTop(w, true);
  EXPECT_TRUE(pmrgtk::g_ShellAbove);
  EXPECT_TRUE(g_Shell.calls.empty());  // asked only once mapped
  ASSERT_TRUE(Show(w));
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("above 1") == 1; }, 60000));

  struct Case {
    bool dropSucceeds;
    std::vector<std::string> calls;
  };
  for (const Case& c : {Case{true, {"above 0", "above 1"}}, Case{false, {"above 0"}}}) {
    g_Shell.calls.clear();
    g_Shell.aboveOk = c.dropSucceeds;
    g_timeout_add(300, [](gpointer) -> gboolean {
      // While the alert shows, the window is no longer kept above.
      EXPECT_EQ(g_Shell.calls, std::vector<std::string>{"above 0"});
      if (!pmrgtk::g_RunningDialogs.empty()) gtk_dialog_response(pmrgtk::g_RunningDialogs.back(), GTK_RESPONSE_OK);
      return G_SOURCE_REMOVE;
    }, nullptr);
    OsShowAlert("Saved.");
    EXPECT_EQ(g_Shell.calls, c.calls);
  }

  OsSetAlwaysOnTop(w, false);
  EXPECT_FALSE(pmrgtk::g_ShellAbove);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("above 0") == 2; }, 60000));
  g_Shell.calls.clear();
  g_timeout_add(200, [](gpointer) -> gboolean {
    if (!pmrgtk::g_RunningDialogs.empty()) gtk_dialog_response(pmrgtk::g_RunningDialogs.back(), GTK_RESPONSE_OK);
    return G_SOURCE_REMOVE;
  }, nullptr);
  OsShowAlert("Not above: nothing to drop.");
  EXPECT_TRUE(g_Shell.calls.empty());
  pmrgtk::g_Hooks.window = nullptr;
}

TEST_F(ShellPathTest, ClampedResizeFitsTheFrameIntoTheWorkArea) {
  struct Case {
    const char* what;
    int fx, fy;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      // Near the bottom: the row is kept and the height shortened to fit.
      {"row kept, shortened", 1800, 900, {"resize 300,180", "move 1520,900"}},
      // Too close to the bottom to shorten: the frame is moved up instead.
      {"moved up", 100, 1000, {"resize 300,500", "move 100,780"}},
      {"already inside", 100, 100, {"resize 300,500"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GtkWindow* w = NewWindow();
    ASSERT_TRUE(Show(w));
    g_Shell = FakeShell{};
    g_Shell.fx = c.fx, g_Shell.fy = c.fy;
    OsResizeWindowClamped(w, 300, 500, true);
    ASSERT_TRUE(pmrtest::SpinUntil([] { return !g_Shell.calls.empty(); }, 60000));
    pmrtest::SpinFor(300);
    EXPECT_EQ(g_Shell.calls, c.calls);
  }
}

TEST_F(ShellPathTest, FramesAndThePageAreaComeFromTheShellFrame) {
  GtkWidget* view = webkit_web_view_new();
  GtkWindow* w = NewWindow(view);
  gtk_window_set_default_size(w, 300, 200);
  ASSERT_TRUE(Show(w));
  pmrtest::SpinFor(200);
  const int aw = gtk_widget_get_allocated_width(view), ah = gtk_widget_get_allocated_height(view);
  struct Case {
    int fw, fh;
    int px, py;
  };
  // Frame at 100, 200; the page sits centred horizontally and at the bottom.
  const Case cases[] = {{aw + 10, ah + 37, 105, 237}, {aw + 1, ah, 100, 200}, {aw, ah - 5, 100, 200}};
  for (const Case& c : cases) {
    g_Shell.fx = 100, g_Shell.fy = 200, g_Shell.fw = c.fw, g_Shell.fh = c.fh;
    int x, y, width, height;
    ASSERT_TRUE(OsGetPageFrame(w, x, y, width, height));
    EXPECT_EQ(Pair(x, y), Pair(c.px, c.py));
    EXPECT_EQ(Pair(width, height), Pair(aw, ah));
  }
  int x, y, width, height;
  ASSERT_TRUE(OsGetWindowFrame(w, x, y, width, height));
  EXPECT_EQ(Pair(x, y), "100,200");
  g_Shell.fw = 0;
  EXPECT_FALSE(OsGetWindowFrame(w, x, y, width, height));
  g_Shell.frameKnown = false;
  EXPECT_FALSE(OsGetPageFrame(w, x, y, width, height));
  EXPECT_FALSE(OsGetWindowFrame(w, x, y, width, height));

  OsMoveWindowFrame(w, 12, 34);
  EXPECT_EQ(g_Shell.calls.back(), "move 12,34");
}

TEST_F(ShellPathTest, SquareCornersUnderHyprlandAreAskedOfTheCompositor) {
  setenv("HYPRLAND_INSTANCE_SIGNATURE", "test", 1);
  GtkWindow* w = NewWindow();
  OsSetWindowCornersRounded(w, false);
  OsSetWindowCornersRounded(w, false);  // no change: nothing more is asked
  ASSERT_TRUE(Show(w));
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("rounded 0") == 1; }, 60000));
  OsSetWindowCornersRounded(w, true);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return Count("rounded 1") == 1; }, 60000));
  pmrtest::SpinFor(200);
  EXPECT_EQ(Count("rounded 0"), 1);
  EXPECT_FALSE(gtk_style_context_has_class(gtk_widget_get_style_context(GTK_WIDGET(w)), "pmr-square"));
  unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
}

}  // namespace
