// The X11 backend on a real X server with a real window manager (xfwm4 with
// its compositor, see tests/support/x11_session.h): pointer position and
// button state as XTest set them, the process owning the window under a
// point, the layout box as RandR changes the monitors, and the choice of
// backend when the display cannot be used.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/shell/layout_box.h"
#include "platform/linux/shell/x11.h"
#include "platform/os_shell.h"
#include "tests/support/fake_hyprland.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/x11_session.h"

using pmrtest::X11Session;

namespace {

X11Session* g_Session = nullptr;

struct Box {
  int x, y, w, h;
  bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "(" << b.x << "," << b.y << " " << b.w << "x" << b.h << ")";
}

bool LayoutIs(const Box& expected) {
  Box b{};
  return LinuxLayoutBox(b.x, b.y, b.w, b.h) && b == expected;
}

class X11Backend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_Session = new X11Session;
    ASSERT_TRUE(g_Session->Ok()) << "no X display";
    ASSERT_TRUE(g_Session->StartWindowManager()) << "window manager did not start";
    EXPECT_TRUE(g_Session->CompositorRunning());
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus for this process
    ASSERT_TRUE(pmrtest::InitGtkOnce());
    LinuxPointerInit();
  }
  static void TearDownTestSuite() {
    delete g_Session;
    g_Session = nullptr;
  }
  void SetUp() override {
    if (!g_Session || !g_Session->WindowManagerRunning()) GTEST_SKIP() << "no window manager";
  }
  X11Session& session() { return *g_Session; }
};

}  // namespace

TEST_F(X11Backend, ChosenForTheDisplay) {
  EXPECT_EQ(LinuxPointerBackend(), PointerBackend::kX11);
  EXPECT_TRUE(X11IsOpen());
}

TEST_F(X11Backend, PointerPositionIsWhereXTestPutIt) {
  const int points[][2] = {{0, 0}, {1919, 1079}, {777, 333}, {1, 1078}, {960, 540}};
  for (const auto& p : points) {
    session().MovePointer(p[0], p[1]);
    double x = -1, y = -1;
    ASSERT_TRUE(LinuxPointerPosition(x, y));
    EXPECT_EQ(x, p[0]);
    EXPECT_EQ(y, p[1]);
    bool left = true;
    double sx = -1, sy = -1;
    ASSERT_TRUE(LinuxPointerState(sx, sy, left));
    EXPECT_EQ(sx, p[0]);
    EXPECT_EQ(sy, p[1]);
    EXPECT_FALSE(left);
  }
}

TEST_F(X11Backend, LeftButtonStateFollowsXTest) {
  // Over the bare desktop, where a press starts nothing.
  session().MovePointer(1800, 1000);
  struct Step {
    int button;
    bool down;
    bool leftHeld;
  };
  const Step steps[] = {
      {1, true, true}, {1, false, false}, {3, true, false}, {1, true, true},
      {3, false, true}, {2, true, true}, {1, false, false}, {2, false, false},
  };
  for (const Step& s : steps) {
    session().Button(s.button, s.down);
    double x = 0, y = 0;
    bool left = !s.leftHeld;
    ASSERT_TRUE(LinuxPointerState(x, y, left));
    EXPECT_EQ(left, s.leftHeld) << "button " << s.button << (s.down ? " down" : " up");
    EXPECT_EQ(x, 1800);
  }
}

TEST_F(X11Backend, WindowPidAtManagedWindows) {
  // Two overlapping undecorated clients (b mapped later, so on top) and a
  // decorated one whose client area holds nested child windows.
  Window a = session().MapClient(1001, 100, 100, 400, 300);
  Window b = session().MapClient(1002, 300, 200, 400, 300);
  Window c = session().MapClient(1003, 1000, 150, 300, 200, true, "decorated");
  ASSERT_NE(a, None);
  ASSERT_NE(b, None);
  ASSERT_NE(c, None);
  Window inner = session().MapChild(c, 20, 20, 200, 150);
  session().MapChild(session().MapChild(inner, 10, 10, 100, 100), 5, 5, 50, 50);
  Window popup = session().MapUnmanaged(1500, 600, 100, 100);
  ASSERT_NE(popup, None);

  struct Case {
    const char* name;
    double x, y;
    int pid;
  };
  const Case before[] = {
      {"only a", 150, 150, 1001},
      {"overlap, b on top", 350, 250, 1002},
      {"only b", 650, 450, 1002},
      {"fractions truncate into a", 299.9, 199.9, 1001},
      {"nested children of c", 1040, 190, 1003},
      {"c's client area", 1290, 340, 1003},
      {"c's title bar", 1100, 140, 1003},
      {"override-redirect popup", 1550, 650, 0},
      {"bare desktop", 1800, 1000, 0},
      {"left of the screen", -5, 150, 0},
      {"far off the screen", 5000, 5000, 0},
      {"beyond 16-bit coordinates", 65536 + 150, 150, 0},
      {"negative beyond 16 bits", 150, -65536 + 150, 0},
      {"not a number", NAN, 150, 0},
      {"infinite", 150, INFINITY, 0},
  };
  for (const Case& k : before) EXPECT_EQ(LinuxWindowPidAt(k.x, k.y), k.pid) << k.name;

  ASSERT_TRUE(session().Raise(a));
  EXPECT_EQ(LinuxWindowPidAt(350, 250), 1001) << "overlap after raising a";
  EXPECT_EQ(LinuxWindowPidAt(650, 450), 1002) << "b outside the overlap";

  // A client whose pid is missing or malformed names no process.
  Display* d = session().display();
  Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
  XDeleteProperty(d, b, pidAtom);
  session().Sync();
  EXPECT_EQ(LinuxWindowPidAt(650, 450), 0) << "no _NET_WM_PID";
  // Only the first item is read.
  long two[2] = {1007, 1003};
  XChangeProperty(d, b, pidAtom, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(two), 2);
  session().Sync();
  EXPECT_EQ(LinuxWindowPidAt(650, 450), 1007) << "two items";
  short half = 1002;
  XChangeProperty(d, b, pidAtom, XA_CARDINAL, 16, PropModeReplace, reinterpret_cast<unsigned char*>(&half), 1);
  session().Sync();
  EXPECT_EQ(LinuxWindowPidAt(650, 450), 0) << "16-bit item";
  XChangeProperty(d, b, pidAtom, XA_STRING, 8, PropModeReplace, reinterpret_cast<const unsigned char*>("1002"), 4);
  session().Sync();
  EXPECT_EQ(LinuxWindowPidAt(650, 450), 0) << "text";
  session().SetPid(b, 1002);
  EXPECT_EQ(LinuxWindowPidAt(650, 450), 1002) << "restored";

  for (Window w : {a, b, c, popup}) session().Destroy(w);
  ASSERT_TRUE(X11Session::WaitFor([] { return LinuxWindowPidAt(150, 150) == 0; }, 60000));
}

TEST_F(X11Backend, WindowPidAtSearchesFiveLevelsTopmostFirst) {
  // Unmanaged trees with WM_STATE placed by hand at a chosen depth below the
  // top-level window.
  struct Case {
    int depth;  // levels below the top-level window
    int pid;    // expected
  };
  const Case cases[] = {{0, 3000}, {1, 3001}, {4, 3004}, {5, 3005}, {6, 0}, {8, 0}};
  int left = 0;
  for (const Case& c : cases) {
    Window top = session().MapUnmanaged(left, 700, 100, 100);
    Window w = top;
    for (int i = 0; i < c.depth; ++i) w = session().MapChild(w, 1, 1, 90, 90);
    session().SetWmState(w);
    session().SetPid(w, 3000 + c.depth);
    EXPECT_EQ(LinuxWindowPidAt(left + 50, 750), c.pid) << "depth " << c.depth;
    session().Destroy(top);
    left += 110;
  }

  // Two clients in one container: the one stacked on top is found first,
  // and a deeper client under the upper sibling still wins over a shallow
  // one under the lower sibling.
  Window box = session().MapUnmanaged(100, 900, 200, 100);
  Window lower = session().MapChild(box, 0, 0, 150, 100);
  Window upper = session().MapChild(box, 50, 0, 150, 100);
  session().SetWmState(lower);
  session().SetPid(lower, 4001);
  Window deep = session().MapChild(session().MapChild(upper, 0, 0, 100, 100), 0, 0, 50, 50);
  session().SetWmState(deep);
  session().SetPid(deep, 4002);
  EXPECT_EQ(LinuxWindowPidAt(120, 950), 4002);
  session().Destroy(box);
}

TEST_F(X11Backend, VanishedWindowsAreNoError) {
  // Querying a window that no longer exists makes the server answer with an
  // error; the query fails quietly and the process carries on.
  Window top = session().MapUnmanaged(10, 10, 50, 50);
  session().SetWmState(top);
  session().SetPid(top, 5001);
  ASSERT_EQ(X11ClientPidFrom(top), 5001);
  session().Destroy(top);
  EXPECT_EQ(X11ClientPidFrom(top), 0);
  EXPECT_EQ(X11ClientPidFrom(0x7ffffff), 0);
  // The connection still works afterwards.
  session().MovePointer(42, 43);
  double x = 0, y = 0;
  ASSERT_TRUE(LinuxPointerPosition(x, y));
  EXPECT_EQ(x, 42);
}

TEST_F(X11Backend, QueriesFromSeveralThreadsWhileWindowsComeAndGo) {
  // The capture thread, the tool threads and the main thread all ask; the
  // windows under the point appear and vanish meanwhile.
  session().MovePointer(200, 800);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, pointerFailures{0};
  std::vector<std::thread> askers;
  for (int t = 0; t < 3; ++t) {
    askers.emplace_back([&] {
      while (!stop.load()) {
        int pid = LinuxWindowPidAt(210, 810);
        if (pid != 0 && pid != 6001) ++wrong;
        double x = 0, y = 0;
        bool left = false;
        if (!LinuxPointerState(x, y, left) || x != 200 || y != 800) ++pointerFailures;
      }
    });
  }
  for (int i = 0; i < 150; ++i) {
    Window top = session().MapUnmanaged(150, 750, 200, 200);
    Window child = session().MapChild(session().MapChild(top, 0, 0, 200, 200), 0, 0, 200, 200);
    session().SetWmState(child);
    session().SetPid(child, 6001);
    session().Destroy(top);
  }
  stop = true;
  for (auto& t : askers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(pointerFailures.load(), 0);
  EXPECT_EQ(LinuxWindowPidAt(210, 810), 0);
}

TEST_F(X11Backend, LayoutBoxFollowsTheMonitors) {
  EXPECT_TRUE(LayoutIs({0, 0, 1920, 1080}));
  // Xvfb has one output, so GTK sees one monitor; moving and resizing it is
  // what the box has to follow here (several monitors: LayoutUnion below).
  using M = X11Session::MonitorRect;
  struct Case {
    const char* name;
    std::vector<M> monitors;
    Box box;
  };
  const Case cases[] = {
      {"smaller, offset", {M{100, 50, 800, 600}}, {100, 50, 800, 600}},
      {"larger than the screen", {M{0, 0, 2560, 1440}}, {0, 0, 2560, 1440}},
      {"left of the origin", {M{-1280, -200, 1280, 1024}}, {-1280, -200, 1280, 1024}},
      {"back to the output alone", {}, {0, 0, 1920, 1080}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(session().SetMonitors(c.monitors)) << c.name;
    EXPECT_TRUE(pmrtest::SpinUntil([&] { return LayoutIs(c.box); }, 60000)) << c.name;
    Box got{};
    LinuxLayoutBox(got.x, got.y, got.w, got.h);
    EXPECT_EQ(got, c.box) << c.name;
  }
}

TEST(LayoutUnion, BoundingBoxOfAllMonitors) {
  using R = LayoutRect;
  struct Case {
    const char* name;
    std::vector<R> monitors;
    bool ok;
    Box box;
  };
  const Case cases[] = {
      {"one", {R{0, 0, 1920, 1080}}, true, {0, 0, 1920, 1080}},
      {"side by side, different heights", {R{0, 0, 1920, 1080}, R{1920, 0, 1280, 1440}}, true, {0, 0, 3200, 1440}},
      {"left of the primary", {R{0, 0, 1920, 1080}, R{-1280, 200, 1280, 1024}}, true, {-1280, 0, 3200, 1224}},
      {"above", {R{0, 0, 1920, 1080}, R{320, -1080, 1280, 1080}}, true, {0, -1080, 1920, 2160}},
      {"apart with a gap", {R{100, 50, 800, 600}, R{1200, 300, 600, 700}}, true, {100, 50, 1700, 950}},
      {"mirrored", {R{0, 0, 1920, 1080}, R{0, 0, 1920, 1080}}, true, {0, 0, 1920, 1080}},
      {"one inside another", {R{0, 0, 1920, 1080}, R{100, 100, 640, 480}}, true, {0, 0, 1920, 1080}},
      {"three in an L", {R{0, 0, 640, 480}, R{640, 0, 640, 480}, R{0, 480, 1280, 600}}, true, {0, 0, 1280, 1080}},
      {"none", {}, false, {}},
      {"empty monitor", {R{0, 0, 0, 0}}, false, {}},
      {"no height", {R{0, 0, 1920, 0}}, false, {}},
      {"extent beyond int", {R{-2147483647, 0, 100, 10}, R{2147483000, 0, 100, 10}}, false, {}},
  };
  for (const Case& c : cases) {
    LayoutRect box{7, 7, 7, 7};
    EXPECT_EQ(LayoutUnion(c.monitors, box), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ((Box{box.x, box.y, box.width, box.height}), c.box) << c.name;
    }
  }
}

// ---- the choice when the X display cannot be used ---------------------------
// Each case runs in a fresh process (the choice is made once per process):
// GTK opens the X display first, then the environment changes as if the
// program's own connection could not be made.

namespace {

[[noreturn]] void ChooseAfterGtk(const char* display, bool wayland, bool hyprland) {
  setenv("NO_AT_BRIDGE", "1", 1);
  if (!pmrtest::InitGtkOnce()) _exit(100);
  if (display)
    setenv("DISPLAY", display, 1);
  else
    unsetenv("DISPLAY");
  if (wayland)
    setenv("WAYLAND_DISPLAY", "wayland-pmr-test-none", 1);
  else
    unsetenv("WAYLAND_DISPLAY");
  unsetenv("PMR_POINTER_BACKEND");
  unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
  pmrtest::FakeHyprland* fake = nullptr;
  if (hyprland) {
    fake = new pmrtest::FakeHyprland;
    fake->SetReply("j/version", "{\"tag\": \"v0.55.2\"}");
    fake->ExportEnvironment();
  }
  LinuxPointerInit();
  int backend = static_cast<int>(LinuxPointerBackend());
  // The layout box comes from GDK whatever the backend.
  int x, y, w, h;
  if (!LinuxLayoutBox(x, y, w, h) || w != 1920 || h != 1080) backend = 101;
  if (hyprland && (fake->Requests().empty() || fake->Requests()[0] != "j/version")) backend = 102;
  delete fake;
  _exit(backend);
}

}  // namespace

TEST(X11Selection, UnusableDisplayRunsTheWaylandProbes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  using ::testing::ExitedWithCode;
  const int hypr = static_cast<int>(PointerBackend::kHyprland);
  const int none = static_cast<int>(PointerBackend::kNone);
  EXPECT_EXIT(ChooseAfterGtk(":65531", false, true), ExitedWithCode(hypr), "") << "unopenable, Hyprland";
  EXPECT_EXIT(ChooseAfterGtk(nullptr, true, true), ExitedWithCode(hypr), "") << "unset, Hyprland";
  EXPECT_EXIT(ChooseAfterGtk("", false, true), ExitedWithCode(hypr), "") << "empty, Hyprland";
  EXPECT_EXIT(ChooseAfterGtk(":65531", false, false), ExitedWithCode(none), "") << "unopenable, no Wayland";
  EXPECT_EXIT(ChooseAfterGtk(nullptr, true, false), ExitedWithCode(none), "") << "unset, portal fails";
}
