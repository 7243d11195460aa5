// Two real windows of the program on one X display with a real window
// manager: dragging one by its title bar near the other slides it into
// contact, the touching windows get square corners, moving the first carries
// the joined one, and separating them rounds the corners again; the contact
// effect shows over the desktop and is gone once it ended.
//
// The single-instance lock lives in the data directory, so each process gets
// a data directory of its own and both may run; users keep one. Peer sockets
// are named after the data directory in the runtime directory, so the test
// gives each window's socket a second name (a hard link: a symbolic link is
// never taken for a window) among the other's, which is how the two find each
// other here.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/x11_session.h"

namespace {

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  int right() const { return x + w; }
  int bottom() const { return y + h; }
};

class SnapWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x = new pmrtest::X11Session;
    ASSERT_TRUE(x->Ok());
    ASSERT_TRUE(x->StartWindowManager());
  }
  static void TearDownTestSuite() {
    delete x;
    x = nullptr;
  }
  void TearDown() override {
    for (auto& c : procs)
      if (c.pid > 0) {
        kill(c.pid, SIGTERM);
        if (pmrtest::WaitFor(c, 10) < 0) ADD_FAILURE() << "a window did not end on SIGTERM";
      }
  }

  struct Window_ {
    pmrtest::ChildProcess proc;
    std::string data;     // the data directory
    std::string runtime;  // the runtime directory, where its peer socket is
    Window client = 0;
  };

  Window_ Start(const std::string& tag) {
    Window_ w;
    const std::string home = pmrtest::MakeTempDir("snapwin-" + tag);
    w.data = home + "/data/Pellomar";
    w.runtime = home;
    std::vector<std::string> env = {"HOME=" + home, "XDG_DATA_HOME=" + home + "/data",
                                    "XDG_CONFIG_HOME=" + home + "/config", "XDG_RUNTIME_DIR=" + home,
                                    "WAYLAND_DISPLAY=", "NO_AT_BRIDGE=1",
                                    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + home + "/no-system-bus",
                                    "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home + "/no-session-bus"};
    w.proc = pmrtest::Spawn({pmrtest::ProgramPath()}, env, false);
    procs.push_back(w.proc);
    return w;
  }

  // The name of w's peer socket in its runtime directory ("pmr-<data
  // directory hash>-win-<pid>.sock"), empty until it is there.
  static std::string SocketName(const Window_& w) {
    const std::string tail = "-win-" + std::to_string(w.proc.pid) + ".sock";
    std::string found;
    if (DIR* d = opendir(w.runtime.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("pmr-", 0) == 0 && name.size() > tail.size() &&
            name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
          found = name;
      }
      closedir(d);
    }
    return found;
  }
  static std::string Socket(const Window_& w) { return w.runtime + "/" + SocketName(w); }
  // Makes `from`'s socket known to `to` under the name `to` looks for.
  static bool Introduce(const Window_& from, const Window_& to) {
    const std::string mine = SocketName(from), theirs = SocketName(to);
    const std::string prefix = theirs.substr(0, theirs.rfind("-win-"));
    return link(Socket(from).c_str(), (to.runtime + "/" + prefix + "-win-" + std::to_string(from.proc.pid) + ".sock")
                                          .c_str()) == 0;
  }

  // The managed client window whose _NET_WM_PID is pid.
  static Window ClientOf(int pid) {
    Display* d = x->display();
    Atom list = XInternAtom(d, "_NET_CLIENT_LIST", False), pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    Window found = 0;
    pmrtest::XErrorsIgnored ignored(d);  // a listed window may be gone by now
    if (XGetWindowProperty(d, x->root(), list, 0, 1024, False, XA_WINDOW, &type, &format, &n, &after, &data) ==
            Success &&
        data) {
      auto* wins = reinterpret_cast<Window*>(data);
      for (unsigned long i = 0; i < n && !found; ++i) {
        unsigned char* p = nullptr;
        unsigned long pn;
        if (XGetWindowProperty(d, wins[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &pn, &after, &p) ==
                Success &&
            p) {
          if (pn == 1 && static_cast<int>(*reinterpret_cast<unsigned long*>(p)) == pid) found = wins[i];
          XFree(p);
        }
      }
      XFree(data);
    }
    return found;
  }

  static Rect Client(Window w) {
    Rect r;
    x->RootGeometry(w, r.x, r.y, r.w, r.h);
    return r;
  }

  // Height of the window manager's title bar above the client.
  static int TitleHeight(Window w) {
    Display* d = x->display();
    Atom extents = XInternAtom(d, "_NET_FRAME_EXTENTS", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    int top = 0;
    pmrtest::XErrorsIgnored ignored(d);
    if (XGetWindowProperty(d, w, extents, 0, 4, False, XA_CARDINAL, &type, &format, &n, &after, &data) == Success &&
        data) {
      if (n == 4) top = static_cast<int>(reinterpret_cast<unsigned long*>(data)[2]);
      XFree(data);
    }
    return top;
  }

  static void MoveFrameTo(Window w, int fx, int fy) {
    pmrtest::Run({"xdotool", "windowmove", std::to_string(w), std::to_string(fx), std::to_string(fy)});
    x->Sync();
  }

  // Drags the window by its title bar by (dx, dy) in small steps.
  static void DragTitle(Window w, int dx, int dy) {
    Rect r = Client(w);
    const int title = TitleHeight(w);
    int px = r.x + r.w / 2, py = r.y - (title > 0 ? title / 2 : 10);
    x->MovePointer(px, py);
    x->Sync();
    usleep(50000);
    x->Button(1, true);
    x->Sync();
    const int steps = 20;
    for (int i = 1; i <= steps; ++i) {
      x->MovePointer(px + dx * i / steps, py + dy * i / steps);
      x->Sync();
      usleep(30000);
    }
    // Release only once the window manager has caught up with the pointer,
    // as a user's hand would.
    pmrtest::X11Session::WaitFor(
        [&] {
          Rect n = Client(w);
          return n.x == r.x + dx && n.y == r.y + dy;
        },
        15000);
    usleep(100000);
    x->Button(1, false);
    x->Sync();
  }

  static std::string Screenshot(const std::string& tag) {
    const std::string png = pmrtest::MakeTempDir("snapshot") + "/" + tag + ".png";
    EXPECT_EQ(pmrtest::Run({"import", "-window", "root", png}), 0);
    return png;
  }
  // Pixels of a screenshot region as "r,g,b" lines.
  static std::vector<std::string> Region(const std::string& png, int rx, int ry, int w, int h) {
    std::string out;
    pmrtest::Run({"convert", png, "-crop",
                  std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(rx) + "+" + std::to_string(ry),
                  "-depth", "8", "txt:-"},
                 &out);
    std::vector<std::string> px;
    size_t start = 0;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(start, end - start);
      start = end + 1;
      if (line.empty() || line[0] == '#') continue;  // the header
      size_t hash = line.find('#');
      if (hash != std::string::npos) px.push_back(line.substr(hash + 1, 6));
    }
    return px;
  }

  // The bottom-left corner pixel of a window's client area on screen.
  static std::string CornerPixel(Window w) {
    Rect r = Client(w);
    std::vector<std::string> px = Region(Screenshot("corner"), r.x, r.bottom() - 1, 1, 1);
    return px.empty() ? "" : px[0];
  }

  static pmrtest::X11Session* x;
  std::vector<pmrtest::ChildProcess> procs;
};

pmrtest::X11Session* SnapWindowsTest::x = nullptr;

TEST_F(SnapWindowsTest, DragSnapsCarriesAndSeparates) {
  Window_ a = Start("a");
  Window_ b = Start("b");
  struct stat st{};
  ASSERT_TRUE(pmrtest::X11Session::WaitFor([&] { return !SocketName(a).empty(); }, 30000));
  ASSERT_TRUE(pmrtest::X11Session::WaitFor([&] { return !SocketName(b).empty(); }, 30000));
  ASSERT_EQ(lstat(Socket(a).c_str(), &st), 0);
  ASSERT_TRUE(S_ISSOCK(st.st_mode));
  ASSERT_TRUE(Introduce(a, b));
  ASSERT_TRUE(Introduce(b, a));
  ASSERT_TRUE(pmrtest::X11Session::WaitFor([&] { return (a.client = ClientOf(a.proc.pid)) != 0; }, 30000));
  ASSERT_TRUE(pmrtest::X11Session::WaitFor([&] { return (b.client = ClientOf(b.proc.pid)) != 0; }, 30000));

  MoveFrameTo(b.client, 1000, 150);
  MoveFrameTo(a.client, 100, 150);
  ASSERT_TRUE(pmrtest::X11Session::WaitFor(
      [&] { return Client(b.client).x >= 1000 && Client(a.client).x >= 100 && Client(a.client).x < 200; }, 10000));
  usleep(500000);
  Rect ra = Client(a.client), rb = Client(b.client);
  ASSERT_LT(ra.right(), rb.x) << "the windows start apart";
  const std::string roundCorner = CornerPixel(a.client);

  // Drag A until its right edge is 30 pixels short of B's left edge.
  const int gap = 30;
  DragTitle(a.client, rb.x - gap - ra.right(), 10);
  // It slides into contact (client areas touch within a pixel).
  EXPECT_TRUE(pmrtest::X11Session::WaitFor(
      [&] { return std::abs(Client(a.client).right() - Client(b.client).x) <= 1; }, 10000))
      << "A ends at " << Client(a.client).right() << ", B starts at " << Client(b.client).x;
  ra = Client(a.client);
  rb = Client(b.client);
  // The contact effect plays over both windows around the contact point.
  const int cx = rb.x, cy = (std::max(ra.y, rb.y) + std::min(ra.bottom(), rb.bottom())) / 2;
  std::vector<std::string> during = Region(Screenshot("during"), cx - 150, cy - 60, 300, 120);

  // Touching windows have square corners.
  EXPECT_TRUE(pmrtest::X11Session::WaitFor([&] { return CornerPixel(a.client) != roundCorner; }, 10000))
      << "corner pixel stays " << roundCorner;

  usleep(2500000);  // the effect plays out
  std::vector<std::string> later = Region(Screenshot("later"), cx - 150, cy - 60, 300, 120);
  ASSERT_EQ(during.size(), later.size());
  int changed = 0;
  for (size_t i = 0; i < during.size(); ++i) changed += during[i] != later[i];
  EXPECT_GT(changed, 50) << "no effect seen around the contact";
  std::fprintf(stderr, "screenshots: %d of %zu pixels around the contact lit by the effect; corner %s when round\n",
               changed, during.size(), roundCorner.c_str());

  // Moving A carries B by the same offset.
  const Rect beforeA = Client(a.client), beforeB = Client(b.client);
  DragTitle(a.client, 0, 120);
  EXPECT_TRUE(pmrtest::X11Session::WaitFor(
      [&] {
        Rect na = Client(a.client), nb = Client(b.client);
        return na.y != beforeA.y && nb.y - beforeB.y == na.y - beforeA.y && nb.x - beforeB.x == na.x - beforeA.x;
      },
      10000))
      << "A moved by " << Client(a.client).y - beforeA.y << ", B by " << Client(b.client).y - beforeB.y;
  // The effect (or, without a compositor, the glow) showed near the contact
  // and is gone a moment later: a strip of the desktop under the contact,
  // below both windows, is back to its plain colour.
  usleep(2500000);
  ra = Client(a.client);
  rb = Client(b.client);
  const int below = std::max(ra.bottom(), rb.bottom()) + 40;
  std::vector<std::string> after = Region(Screenshot("after"), ra.right() - 40, below, 80, 20);
  ASSERT_FALSE(after.empty());
  for (const std::string& p : after) EXPECT_EQ(p, after[0]) << "effect pixels left on the desktop";

  // Moving B away ends the contact: A's corners are round again.
  const Rect nb = Client(b.client);
  MoveFrameTo(b.client, nb.x + 300, nb.y - 29);
  EXPECT_TRUE(pmrtest::X11Session::WaitFor([&] { return Client(b.client).x >= nb.x + 250; }, 10000));
  EXPECT_TRUE(pmrtest::X11Session::WaitFor([&] { return CornerPixel(a.client) == roundCorner; }, 10000))
      << "corner pixel is " << CornerPixel(a.client) << ", was " << roundCorner << " before the contact";

}

}  // namespace
