// The KWin backend against a real, headless KWin: this test process is a
// Wayland client of it with a window of its own, chooses its pointer backend
// as the program does and asks KWin through the report and action scripts.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "platform/linux/shell/kwin.h"
#include "platform/linux/shell/kwin_internal.h"
#include "platform/os_shell.h"
#include "tests/support/kwin_session.h"
#include "tests/support/process.h"

namespace {

pmrtest::KWinSession* g_KWin = nullptr;
GtkWidget* g_Window = nullptr;
std::string g_Skip;     // no KWin on this machine
std::string g_Failure;  // KWin or the client did not come up
std::string g_Runtime;  // this process's runtime directory

// Waits for a condition while the default main context runs (the action
// scripts are unloaded from it).
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
  return pmrtest::WaitForCondition(condition, timeoutMs, true);
}

std::string WindowOf(int pid) {
  return "const list = workspace.clientList(); for (let i = 0; i < list.length; i++) { const w = list[i]; "
         "if (w.pid === " +
         std::to_string(pid) + " && w.normalWindow) return w; } return null;";
}

// A window property read from KWin, as JSON.
std::string KWinSays(int pid, const std::string& expression) {
  return g_KWin->Eval("const w = (function () { " + WindowOf(pid) + " })(); return w ? " + expression + " : null;");
}

std::string FrameText(int x, int y, int w, int h) {
  return "[" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h) + "]";
}
constexpr const char* kFrameExpr = "[w.frameGeometry.x, w.frameGeometry.y, w.frameGeometry.width, w.frameGeometry.height]";

// This process's unique name on the session bus (where the backend's object is).
std::string OwnBusName() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return {};
  std::string name = g_dbus_connection_get_unique_name(bus);
  g_object_unref(bus);
  return name;
}

std::string OwnFrame() {
  int x, y, w, h;
  return KWinGetFrame(x, y, w, h) ? FrameText(x, y, w, h) : "none";
}

class KWinEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_Skip = pmrtest::KWinSession::Unavailable();
    if (!g_Skip.empty()) return;
    g_KWin = new pmrtest::KWinSession();
    std::atexit([] {
      delete g_KWin;
      g_KWin = nullptr;
      if (!g_Runtime.empty()) pmrtest::Run({"rm", "-rf", g_Runtime});
    });
    if (!g_KWin->Start()) {
      g_Failure = "KWin did not start: " + g_KWin->error();
      return;
    }
    g_KWin->ExportClientEnv();
    // Our script files go to a runtime directory of this test.
    g_Runtime = pmrtest::MakeTempDir("kwin-client-run");
    chmod(g_Runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", g_Runtime.c_str(), 1);
    if (!gtk_init_check(nullptr, nullptr)) {
      g_Failure = "GTK cannot open the KWin display";
      return;
    }
    g_Window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(g_Window), "kwin backend test");
    gtk_window_set_default_size(GTK_WINDOW(g_Window), 420, 300);
    gtk_widget_show_all(g_Window);
    const int pid = getpid();
    if (!WaitFor([&] { return KWinSays(pid, "w.pid") == std::to_string(pid); }, 10000)) {
      g_Failure = "KWin does not list the test window";
      return;
    }
    LinuxPointerInit();
  }
  void TearDown() override {
    // The backend unloads its report script when the process exits; KWin
    // and its bus are stopped after that (handlers run in reverse order).
  }
};

const auto* const g_Env = ::testing::AddGlobalTestEnvironment(new KWinEnvironment);

class KWinBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_Skip.empty()) GTEST_SKIP() << g_Skip;
    ASSERT_TRUE(g_Failure.empty()) << g_Failure;
  }
};

TEST_F(KWinBackendTest, KWinIsChosenAndReportsOurWindow) {
  EXPECT_TRUE(KWinSession());
  ASSERT_EQ(LinuxPointerBackend(), PointerBackend::kKWin);
  const int pid = getpid();
  EXPECT_TRUE(g_KWin->IsScriptLoaded("pmr-report-" + std::to_string(pid)));
  // Our frame as reported equals what KWin itself says about the window.
  ASSERT_TRUE(WaitFor([&] { return OwnFrame() != "none" && OwnFrame() == KWinSays(pid, kFrameExpr); }))
      << OwnFrame() << " vs " << KWinSays(pid, kFrameExpr);
  int x, y, w, h;
  ASSERT_TRUE(LinuxShellGetFrame(x, y, w, h));
  EXPECT_EQ(LinuxWindowPidAt(x + w / 2, y + h / 2), pid);
  // The script file held this run's key: once the script reported, it is gone.
  struct stat st;
  const std::string file = pmrkwin::ScriptDirectory() + "/pmr-report-" + std::to_string(pid) + ".js";
  EXPECT_NE(lstat(file.c_str(), &st), 0) << file;
  ASSERT_EQ(lstat(pmrkwin::ScriptDirectory().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(KWinBackendTest, PointerMovedInKWinIsReported) {
  struct Case {
    int x, y;
  } cases[] = {{10, 20}, {640, 400}, {1279, 799}, {0, 0}, {333, 555}};
  for (const Case& c : cases) {
    ASSERT_TRUE(g_KWin->MovePointer(c.x, c.y)) << "KWin offers no fake input";
    double x = -1, y = -1;
    EXPECT_TRUE(WaitFor([&] { return LinuxPointerPosition(x, y) && x == c.x && y == c.y; }))
        << c.x << "," << c.y << " reported " << x << "," << y;
  }
  int kx, ky;
  ASSERT_TRUE(g_KWin->PointerPosition(kx, ky));
  EXPECT_EQ(kx, 333);
  EXPECT_EQ(ky, 555);
}

TEST_F(KWinBackendTest, WindowUnderThePointerIsTheTopmostOfTwoOverlapping) {
  pmrtest::KWinTestWindow a, b;
  ASSERT_TRUE(a.Start(*g_KWin, "pmr window a", 300, 200));
  ASSERT_TRUE(b.Start(*g_KWin, "pmr window b", 300, 200));
  auto place = [&](int pid, int x, int y) {
    return g_KWin->Eval("const w = (function () { " + WindowOf(pid) + " })(); if (!w) return false; "
                        "w.frameGeometry = { x: " + std::to_string(x) + ", y: " + std::to_string(y) +
                        ", width: w.frameGeometry.width, height: w.frameGeometry.height }; return true;");
  };
  auto raise = [&](int pid) {
    return g_KWin->Eval("const w = (function () { " + WindowOf(pid) + " })(); if (!w) return false; "
                        "workspace.activeClient = w; return true;");
  };
  ASSERT_TRUE(WaitFor([&] { return place(a.pid(), 700, 100) == "true"; }, 10000));
  ASSERT_TRUE(WaitFor([&] { return place(b.pid(), 850, 200) == "true"; }, 10000));
  // The overlap is [850, 1000) x [200, 300).
  ASSERT_EQ(raise(b.pid()), "true");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(900, 250) == b.pid(); })) << LinuxWindowPidAt(900, 250);
  EXPECT_EQ(LinuxWindowPidAt(710, 110), a.pid());
  EXPECT_EQ(LinuxWindowPidAt(1100, 350), b.pid());
  ASSERT_EQ(raise(a.pid()), "true");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(900, 250) == a.pid(); })) << LinuxWindowPidAt(900, 250);
  EXPECT_EQ(LinuxWindowPidAt(1100, 350), b.pid());
  // And where the pointer is.
  ASSERT_TRUE(g_KWin->MovePointer(1120, 380));
  double x = 0, y = 0;
  ASSERT_TRUE(WaitFor([&] { return LinuxPointerPosition(x, y) && x == 1120 && y == 380; }));
  EXPECT_EQ(LinuxWindowPidAt(x, y), b.pid());
  // A minimized window is not under the pointer; one that closes leaves the list.
  ASSERT_EQ(g_KWin->Eval("const w = (function () { " + WindowOf(b.pid()) + " })(); w.minimized = true; return true;"),
            "true");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(900, 250) == a.pid() && LinuxWindowPidAt(1100, 350) == 0; }));
  ASSERT_EQ(g_KWin->Eval("const w = (function () { " + WindowOf(b.pid()) + " })(); w.minimized = false; return true;"),
            "true");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(1100, 350) == b.pid(); }));
  b.Stop();
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(1100, 350) == 0; }));
  // Reading the report never makes KWin complain about a window property.
  EXPECT_EQ(g_KWin->Log().find("Unable to handle unregistered datatype"), std::string::npos);
}

TEST_F(KWinBackendTest, KeepAboveIsSetAndClearedInKWin) {
  const int pid = getpid();
  ASSERT_TRUE(LinuxShellSetAbove(true));
  EXPECT_TRUE(WaitFor([&] { return KWinSays(pid, "w.keepAbove") == "true"; }));
  ASSERT_TRUE(LinuxShellSetAbove(false));
  EXPECT_TRUE(WaitFor([&] { return KWinSays(pid, "w.keepAbove") == "false"; }));
  // Both one-shot scripts are unloaded and their files deleted about a
  // second later, each under its own name.
  EXPECT_TRUE(WaitFor([] { return pmrkwin::PendingActionCountForTest() == 0; }));
  const std::string prefix = "pmr-action-" + std::to_string(pid) + "-";
  for (int n = 0; n < 2; ++n) {
    EXPECT_FALSE(g_KWin->IsScriptLoaded(prefix + std::to_string(n)));
    EXPECT_NE(access((pmrkwin::ScriptDirectory() + "/" + prefix + std::to_string(n) + ".js").c_str(), F_OK), 0);
  }
}

TEST_F(KWinBackendTest, MovedFrameArrivesAndIsReportedBack) {
  const int pid = getpid();
  struct Case {
    int x, y;
  } cases[] = {{200, 150}, {10, 400}};
  for (const Case& c : cases) {
    ASSERT_TRUE(LinuxShellMoveFrame(c.x, c.y));
    EXPECT_TRUE(WaitFor([&] { return KWinSays(pid, "[w.frameGeometry.x, w.frameGeometry.y]") ==
                                     "[" + std::to_string(c.x) + "," + std::to_string(c.y) + "]"; }))
        << KWinSays(pid, kFrameExpr);
    int x = 0, y = 0, w = 0, h = 0;
    EXPECT_TRUE(WaitFor([&] { return LinuxShellGetFrame(x, y, w, h) && x == c.x && y == c.y; }))
        << x << "," << y;
  }
}

TEST_F(KWinBackendTest, OnlyKWinMayFeedUs) {
  const std::string self = OwnBusName();
  ASSERT_FALSE(self.empty());
  ASSERT_TRUE(g_KWin->MovePointer(50, 60));
  double x = 0, y = 0;
  ASSERT_TRUE(WaitFor([&] { return LinuxPointerPosition(x, y) && x == 50 && y == 60; }));
  const int before = LinuxWindowPidAt(1, 1);
  struct Case {
    const char* method;
    const char* args;
  } cases[] = {{"Pointer", "('0123456789abcdef0123456789abcdef', 7, 8)"},
               {"Windows", "('0123456789abcdef0123456789abcdef', '99,0,0,5000,5000,1')"},
               {"Windows", "('', '')"}};
  for (const Case& c : cases) {
    std::string message;
    EXPECT_EQ(g_KWin->ForeignCall(self, pmrkwin::kObjectPath, pmrkwin::kIface, c.method, c.args, &message),
              "org.freedesktop.DBus.Error.AccessDenied")
        << c.method;
    EXPECT_EQ(message, "Only KWin may call this.");
  }
  ASSERT_TRUE(LinuxPointerPosition(x, y));
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 60);
  EXPECT_EQ(LinuxWindowPidAt(1, 1), before);
  EXPECT_NE(LinuxWindowPidAt(4000, 4000), 99);
}

// Any client of the session bus may have KWin load a script; such a script
// calls us as KWin itself does, so only the key of our own script counts.
TEST_F(KWinBackendTest, AScriptLoadedByAnotherClientIsRefused) {
  const std::string self = OwnBusName();
  ASSERT_FALSE(self.empty());
  ASSERT_TRUE(g_KWin->MovePointer(50, 60));
  double x = 0, y = 0;
  ASSERT_TRUE(WaitFor([&] { return LinuxPointerPosition(x, y) && x == 50 && y == 60; }));

  const std::string call = "callDBus('" + self + "', '" + pmrkwin::kObjectPath + "', '" + pmrkwin::kIface + "', ";
  // Without a key, with a guessed one, with an empty one: a false pointer and
  // a false window list.
  const std::string feed = call + "'Pointer', 4321, 765); " + call +
                           "'Pointer', '0123456789abcdef0123456789abcdef', 4321, 765); " + call +
                           "'Pointer', '', 4321, 765); " + call + "'Windows', '99,0,0,5000,5000,1'); " + call +
                           "'Windows', '0123456789abcdef0123456789abcdef', '99,0,0,5000,5000,1'); return true;";
  ASSERT_EQ(g_KWin->Eval(feed), "true");
  // Calls from KWin arrive in order: once our own script has reported a move
  // of our window, whatever the foreign script sent before has been handled.
  int fx = 0, fy = 0, fw = 0, fh = 0;
  ASSERT_TRUE(LinuxShellGetFrame(fx, fy, fw, fh));
  const int nx = fx == 120 ? 130 : 120;
  ASSERT_TRUE(LinuxShellMoveFrame(nx, 140));
  ASSERT_TRUE(WaitFor([&] { return LinuxShellGetFrame(fx, fy, fw, fh) && fx == nx && fy == 140; }));
  ASSERT_TRUE(LinuxPointerPosition(x, y));
  EXPECT_EQ(x, 50) << "a false pointer was taken";
  EXPECT_EQ(y, 60);
  EXPECT_NE(LinuxWindowPidAt(4000, 4000), 99) << "a false window list was taken";
  // And the other way round: the window list first, then our pointer report.
  ASSERT_EQ(g_KWin->Eval(feed), "true");
  ASSERT_TRUE(g_KWin->MovePointer(70, 80));
  ASSERT_TRUE(WaitFor([&] { return LinuxPointerPosition(x, y) && x == 70 && y == 80; }));
  EXPECT_NE(LinuxWindowPidAt(4000, 4000), 99) << "a false window list was taken";
  EXPECT_EQ(LinuxWindowPidAt(nx + 10, 150), getpid()) << "our own script still reports";
}

TEST_F(KWinBackendTest, WindowOnAnotherDesktopIsNeverUnderThePointer) {
  pmrtest::KWinTestWindow c;
  ASSERT_TRUE(c.Start(*g_KWin, "pmr window c", 200, 150));
  const std::string find = "const w = (function () { " + WindowOf(c.pid()) + " })(); if (!w) return false; ";
  ASSERT_TRUE(WaitFor([&] {
    return g_KWin->Eval(find + "w.frameGeometry = { x: 1000, y: 600, width: 200, height: 150 }; return true;") ==
           "true";
  }, 10000));
  ASSERT_TRUE(WaitFor([&] { return LinuxWindowPidAt(1100, 650) == c.pid(); }));
  ASSERT_EQ(g_KWin->Eval(find + "workspace.desktops = 2; w.desktop = 2; return w.desktop;"), "2");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(1100, 650) == 0; }));
  ASSERT_EQ(g_KWin->Eval("workspace.currentDesktop = 2; return workspace.currentDesktop;"), "2");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(1100, 650) == c.pid(); }));
  ASSERT_EQ(g_KWin->Eval("workspace.currentDesktop = 1; return workspace.currentDesktop;"), "1");
  EXPECT_TRUE(WaitFor([&] { return LinuxWindowPidAt(1100, 650) == 0; }));
}

}  // namespace
