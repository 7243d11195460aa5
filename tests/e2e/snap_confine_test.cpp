// Pointer confinement on a real X server: while confined and the left button
// is held, a pointer moved outside the rectangle is brought back; unlocking
// frees it; releasing the button ends the confinement on its own. Also the
// glow popups: shown click-through at the strip's place, hidden again.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include "platform/os_overlay.h"
#include "platform/os_shell.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/x11_session.h"

namespace {

pmrtest::X11Session* g_X = nullptr;

class ConfineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(pmrtest::InitGtkOnce());
    g_X = new pmrtest::X11Session;
    ASSERT_TRUE(g_X->Ok());
    LinuxPointerInit();
    ASSERT_EQ(LinuxPointerBackend(), PointerBackend::kX11);
  }
  static void TearDownTestSuite() {
    delete g_X;
    g_X = nullptr;
  }
  void TearDown() override {
    OsUnconfinePointer();
    g_X->Button(1, false);
    g_X->Sync();
    pmrtest::SpinFor(50);
  }
  static void Pointer(int& x, int& y) {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &x, &y);
  }
  static bool PointerAt(int wx, int wy) {
    int x, y;
    Pointer(x, y);
    return x == wx && y == wy;
  }
};

TEST_F(ConfineTest, RefusedRectangles) {
  EXPECT_FALSE(OsConfinePointer(10, 10, 5, 50));
  EXPECT_FALSE(OsConfinePointer(10, 60, 50, 50));
}

TEST_F(ConfineTest, HeldButtonKeepsThePointerInsideUntilUnlocked) {
  g_X->MovePointer(200, 200);
  g_X->Button(1, true);
  g_X->Sync();
  ASSERT_TRUE(pmrtest::SpinUntil([] { return PointerAt(200, 200); }, 5000));
  ASSERT_TRUE(OsConfinePointer(100, 100, 300, 300));
  g_X->MovePointer(600, 50);
  g_X->Sync();
  // Brought back to the nearest point inside.
  EXPECT_TRUE(pmrtest::SpinUntil([] { return PointerAt(300, 100); }, 5000));
  g_X->MovePointer(150, 250);
  g_X->Sync();
  EXPECT_TRUE(pmrtest::SpinUntil([] { return PointerAt(150, 250); }, 5000)) << "moves inside stay";
  OsUnconfinePointer();
  pmrtest::SpinFor(50);
  g_X->MovePointer(700, 700);
  g_X->Sync();
  ASSERT_TRUE(pmrtest::SpinUntil([] { return PointerAt(700, 700); }, 5000));
  pmrtest::SpinFor(100);  // several confinement turns would have passed
  EXPECT_TRUE(PointerAt(700, 700));
}

TEST_F(ConfineTest, ReleasingTheButtonEndsTheConfinement) {
  g_X->MovePointer(200, 200);
  g_X->Button(1, true);
  g_X->Sync();
  ASSERT_TRUE(OsConfinePointer(100, 100, 300, 300));
  g_X->Button(1, false);
  g_X->Sync();
  // Once the timer has seen the release it stops; the page never unlocked.
  pmrtest::SpinFor(100);
  g_X->MovePointer(800, 800);
  g_X->Sync();
  ASSERT_TRUE(pmrtest::SpinUntil([] { return PointerAt(800, 800); }, 5000));
  pmrtest::SpinFor(100);
  EXPECT_TRUE(PointerAt(800, 800));
  // A new press does not bring the old confinement back.
  g_X->Button(1, true);
  g_X->Sync();
  pmrtest::SpinFor(100);
  EXPECT_TRUE(PointerAt(800, 800));
}

// Popups of this process that are mapped, with their root rectangles.
std::vector<GdkRectangle> MappedPopups() {
  std::vector<GdkRectangle> out;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (gtk_window_get_window_type(GTK_WINDOW(w)) != GTK_WINDOW_POPUP || !gtk_widget_get_mapped(w)) continue;
    GdkRectangle r;
    gdk_window_get_origin(gtk_widget_get_window(w), &r.x, &r.y);
    r.width = gdk_window_get_width(gtk_widget_get_window(w));
    r.height = gdk_window_get_height(gtk_widget_get_window(w));
    out.push_back(r);
  }
  g_list_free(all);
  return out;
}

TEST_F(ConfineTest, GlowPopupsAppearAtTheStripAndHide) {
  const int lines[8] = {400, 0, 401, 200, 0, 300, 200, 301};
  const bool vertical[2] = {true, false};
  OsShowSnapGlow(nullptr, 2, lines, vertical, 0x00FF88);
  ASSERT_TRUE(pmrtest::SpinUntil([] { return MappedPopups().size() == 2; }, 5000));
  auto popups = MappedPopups();
  bool sawVertical = false, sawHorizontal = false;
  for (const auto& r : popups) {
    if (r.x == 392 && r.y == 0 && r.width == 16 && r.height == 200) sawVertical = true;
    if (r.x == 0 && r.y == 292 && r.width == 200 && r.height == 16) sawHorizontal = true;
  }
  EXPECT_TRUE(sawVertical);
  EXPECT_TRUE(sawHorizontal);
  OsShowSnapGlow(nullptr, 1, lines, vertical, 0x00FF88);
  EXPECT_TRUE(pmrtest::SpinUntil([] { return MappedPopups().size() == 1; }, 5000)) << "count 1 hides slot 1";
  OsShowSnapGlow(nullptr, 0, nullptr, nullptr, 0x00FF88);
  EXPECT_TRUE(pmrtest::SpinUntil([] { return MappedPopups().empty(); }, 5000));
  // Without a compositor the effect is not offered.
  EXPECT_EQ(OsSnapFxAvailable(), gdk_screen_is_composited(gdk_screen_get_default()) == TRUE);
  EXPECT_FALSE(OsGlowRelativeToWindow());
}

TEST_F(ConfineTest, EffectPopupIsClickThroughAndGoesAwayWhenTheEffectEnds) {
  snapfx::Guide g;
  g.active = true;
  g.x = 700;
  g.y = 500;
  g.nx = 1;
  g.length = 300;
  OsSnapFxClick(nullptr, g, 0.1);
  ASSERT_TRUE(OsSnapFxRunning());
  ASSERT_TRUE(pmrtest::SpinUntil([] { return MappedPopups().size() == 1; }, 5000));
  auto popups = MappedPopups();
  EXPECT_EQ(popups[0].x, 100);
  EXPECT_EQ(popups[0].y, -100);
  EXPECT_EQ(popups[0].width, 1200);
  // Nothing of this process is under the pointer at the effect's centre.
  g_X->MovePointer(700, 500);
  g_X->Sync();
  pmrtest::SpinFor(50);
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (!gtk_widget_get_mapped(w)) continue;
    Window root, child;
    int rx, ry, wx, wy;
    unsigned mask;
    XQueryPointer(GDK_WINDOW_XDISPLAY(gtk_widget_get_window(w)), GDK_ROOT_WINDOW(), &root, &child, &rx, &ry, &wx, &wy,
                  &mask);
    EXPECT_NE(child, GDK_WINDOW_XID(gtk_widget_get_window(w))) << "the effect popup takes the pointer";
  }
  g_list_free(all);
  EXPECT_TRUE(pmrtest::SpinUntil([] { return !OsSnapFxRunning(); }, 10000));
  EXPECT_TRUE(MappedPopups().empty());
}

}  // namespace
