// The GNOME Shell helper against a real GNOME Shell 43 (headless, Wayland),
// one private session for the whole program (tests/support/with-gnome.sh).
// The tests build on each other and run in the order written: the helper is
// installed, becomes active at the next shell start (the stand-in for a new
// login), survives the shell going away, and only then does this process
// open a window on the shell (a Wayland client does not outlive its
// compositor, so no restart may follow).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gdk/gdkwayland.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/shell/gnome.h"
#include "platform/linux/shell/gnome_helper.h"
#include "platform/os_shell.h"
#include "tests/support/gnome_session.h"
#include "tests/support/process.h"
#include "tests/support/scoped_thread.h"

namespace {

using pmrtest::GnomeControl;
using pmrtest::GnomeEval;
using pmrtest::GnomeWindowOfPidMapped;

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Spins the GTK main loop while waiting (for the window tests).
bool SpinFor(const std::function<bool()>& cond, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A helper call the program makes once may outlast its 500 ms time-out while
// a loaded machine keeps the software-rendered shell busy; the calls tested
// this way change nothing when repeated, so the test asks until one is answered.
bool Answered(const std::function<bool()>& call) { return SpinFor(call, 15000); }

std::vector<std::string> ShellList(const char* key) {
  GSettings* s = g_settings_new("org.gnome.shell");
  gchar** v = g_settings_get_strv(s, key);
  std::vector<std::string> out;
  for (gchar** p = v; p && *p; ++p) out.emplace_back(*p);
  g_strfreev(v);
  g_object_unref(s);
  return out;
}

void SetShellList(const char* key, const std::vector<std::string>& list) {
  GSettings* s = g_settings_new("org.gnome.shell");
  std::vector<const char*> v;
  for (const auto& e : list) v.push_back(e.c_str());
  v.push_back(nullptr);
  g_settings_set_strv(s, key, v.data());
  g_settings_sync();
  g_object_unref(s);
}

int CountOf(const std::vector<std::string>& list, const std::string& value) {
  int n = 0;
  for (const auto& e : list) n += e == value;
  return n;
}

bool RestartShell() { return GnomeControl("shell-stop") && GnomeControl("shell-start"); }

class GnomeShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pmrtest::InGnomeSession()) GTEST_SKIP() << "needs tests/support/with-gnome.sh";
  }
};

TEST_F(GnomeShellTest, InstallEnablesTheHelperAndTheNextShellStartRunsIt) {
  ASSERT_TRUE(GnomeSession());
  EXPECT_EQ(LinuxGnomeHelperState(), "missing");
  std::string version;
  ASSERT_TRUE(GnomeEval("imports.misc.config.PACKAGE_VERSION", &version));
  ASSERT_EQ(version.rfind("\"43", 0), 0u) << version;

  // Listed as disabled by an earlier attempt: installing lifts that.
  SetShellList("disabled-extensions", {kGnomeHelperUuid, "other@example.org"});
  ASSERT_TRUE(LinuxGnomeInstallHelper(PMR_BINARY_DIR));
  ASSERT_TRUE(LinuxGnomeInstallHelper(PMR_BINARY_DIR));
  EXPECT_EQ(CountOf(ShellList("enabled-extensions"), kGnomeHelperUuid), 1);
  EXPECT_EQ(ShellList("enabled-extensions").back(), kGnomeHelperUuid);
  EXPECT_EQ(ShellList("disabled-extensions"), std::vector<std::string>{"other@example.org"});

  // Shell 43 gets the legacy loader's files.
  const std::string dir = GnomeHelperDir();
  const std::string src = std::string(PMR_BINARY_DIR) + "/linux-ui/gnome-extension";
  EXPECT_EQ(ReadFile(dir + "/extension.js"), ReadFile(src + "/legacy/extension.js"));
  EXPECT_EQ(ReadFile(dir + "/metadata.json"), ReadFile(src + "/metadata.json"));
  std::string shellJs = ReadFile(dir + "/shell.js");
  EXPECT_NE(shellJs.find("var PmrShell = class PmrShell"), std::string::npos);
  EXPECT_EQ(shellJs.find("export "), std::string::npos);
  EXPECT_EQ(ReadFile(dir + "/pmr-version"), "2");

  // The running shell does not load it before the next login.
  EXPECT_EQ(LinuxGnomeHelperState(), "installed");
  double x, y;
  EXPECT_FALSE(GnomePointer(x, y, nullptr));

  ASSERT_TRUE(RestartShell());
  ASSERT_TRUE(WaitFor([] { return LinuxGnomeHelperState() == "active"; }, 20000)) << LinuxGnomeHelperState();
  EXPECT_TRUE(pmrtest::GnomeExtensionActive(kGnomeHelperUuid));
  EXPECT_TRUE(Answered([&] { return GnomePointer(x, y, nullptr); }));
}

TEST_F(GnomeShellTest, StateFollowsTheSettingsAndAnOlderRunningHelper) {
  ASSERT_EQ(LinuxGnomeHelperState(), "active");
  const std::string stateObj = "Main.extensionManager.lookup('" + std::string(kGnomeHelperUuid) + "').stateObj";
  std::string out;
  // An older helper: the same object answering Version 0.
  ASSERT_TRUE(GnomeEval(stateObj + ".disable(); const Gio = imports.gi.Gio;"
                        "globalThis.pmrOld = Gio.DBusExportedObject.wrapJSObject('<node><interface "
                        "name=\"app.pellomar.Shell1\"><property name=\"Version\" type=\"u\" access=\"read\"/>"
                        "</interface></node>', {Version: 0});"
                        "pmrOld.export(Gio.DBus.session, '/app/pellomar/Shell'); true",
                        &out))
      << out;
  EXPECT_EQ(LinuxGnomeHelperState(), "outdated");
  double x, y;
  EXPECT_FALSE(GnomePointer(x, y, nullptr));

  ASSERT_TRUE(GnomeEval("pmrOld.unexport(); " + stateObj + ".enable(); true", &out)) << out;
  EXPECT_EQ(LinuxGnomeHelperState(), "active");

  // Turning all user extensions off blocks the helper (the shell stops it).
  GSettings* s = g_settings_new("org.gnome.shell");
  g_settings_set_boolean(s, "disable-user-extensions", TRUE);
  g_settings_sync();
  EXPECT_TRUE(WaitFor([] { return LinuxGnomeHelperState() == "blocked"; }, 10000)) << LinuxGnomeHelperState();
  g_settings_set_boolean(s, "disable-user-extensions", FALSE);
  g_settings_sync();
  g_object_unref(s);
  ASSERT_TRUE(WaitFor([] { return LinuxGnomeHelperState() == "active"; }, 20000)) << LinuxGnomeHelperState();

  // Enabled and disabled at once counts as not enabled; without a running
  // helper the files alone then read "missing".
  ASSERT_TRUE(GnomeControl("shell-stop"));
  SetShellList("disabled-extensions", {kGnomeHelperUuid});
  EXPECT_EQ(LinuxGnomeHelperState(), "missing");
  SetShellList("disabled-extensions", {});
  EXPECT_EQ(LinuxGnomeHelperState(), "installed");
  // A marker of another version is not ours.
  ASSERT_TRUE(g_file_set_contents((GnomeHelperDir() + "/pmr-version").c_str(), "1", -1, nullptr));
  EXPECT_EQ(LinuxGnomeHelperState(), "missing");
  ASSERT_TRUE(g_file_set_contents((GnomeHelperDir() + "/pmr-version").c_str(), "2", -1, nullptr));
  ASSERT_TRUE(GnomeControl("shell-start"));
  ASSERT_TRUE(WaitFor([] { return LinuxGnomeHelperState() == "active"; }, 20000)) << LinuxGnomeHelperState();
}

TEST_F(GnomeShellTest, ShellKilledMidSessionCallsFailThenRecover) {
  double x, y;
  ASSERT_TRUE(WaitFor([&] { return GnomePointer(x, y, nullptr); }, 10000));
  ASSERT_TRUE(GnomeControl("shell-kill"));
  EXPECT_FALSE(GnomePointer(x, y, nullptr));
  EXPECT_EQ(GnomeWindowPidAt(10, 10), 0);
  int fx = -7, fy = -7, fw = -7, fh = -7;
  EXPECT_FALSE(GnomeGetFrame(fx, fy, fw, fh));
  EXPECT_EQ(fx, -7);  // outputs untouched on failure
  EXPECT_FALSE(GnomeMoveFrame(1, 1));
  EXPECT_FALSE(GnomeSetAbove(true));
  EXPECT_EQ(LinuxGnomeHelperState(), "installed");

  ASSERT_TRUE(GnomeControl("shell-start"));
  EXPECT_TRUE(WaitFor([&] { return GnomePointer(x, y, nullptr); }, 20000));
  EXPECT_EQ(LinuxGnomeHelperState(), "active");
}

// From here on this process has a window on the shell.
class GnomeWindowTest : public GnomeShellTest {
 protected:
  static GtkWidget* window_;

  void SetUp() override {
    GnomeShellTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(WaitFor([] { return LinuxGnomeHelperState() == "active"; }, 20000));
    if (window_) return;
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    ASSERT_TRUE(GDK_IS_WAYLAND_DISPLAY(gdk_display_get_default()));
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "pmr gnome test");
    gtk_window_set_default_size(GTK_WINDOW(window_), 320, 240);
    gtk_widget_show_all(window_);
    int x, y, w, h;
    ASSERT_TRUE(SpinFor([&] { return GnomeGetFrame(x, y, w, h) && w > 0 && h > 0; }, 15000))
        << "the shell never showed the test window";
    // The shell knows the window before it has placed it; a move made before
    // its actor is mapped is overtaken by the shell's own placement.
    ASSERT_TRUE(SpinFor([] { return GnomeWindowOfPidMapped(getpid()); }, 15000))
        << "the test window was never mapped";
  }
};
GtkWidget* GnomeWindowTest::window_ = nullptr;

TEST_F(GnomeWindowTest, OwnFrameIsReadAndMovedAndKeptAbove) {
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(SpinFor([&] { return GnomeGetFrame(x, y, w, h); }, 5000));
  EXPECT_GE(w, 320);
  EXPECT_GE(h, 240);
  for (auto [tx, ty] : {std::pair{100, 80}, std::pair{517, 311}}) {
    ASSERT_TRUE(Answered([&] { return GnomeMoveFrame(tx, ty); }));
    EXPECT_TRUE(SpinFor([&] { return GnomeGetFrame(x, y, w, h) && x == tx && y == ty; }, 5000))
        << "at " << x << "," << y << " want " << tx << "," << ty;
  }

  const std::string isAbove = "global.display.list_all_windows().filter(w => w.get_pid() === " +
                              std::to_string(getpid()) + ").some(w => w.is_above())";
  std::string out;
  ASSERT_TRUE(Answered([&] { return GnomeSetAbove(true); }));
  EXPECT_TRUE(SpinFor([&] { return GnomeEval(isAbove, &out) && out == "true"; }, 5000)) << out;
  ASSERT_TRUE(Answered([&] { return GnomeSetAbove(false); }));
  EXPECT_TRUE(SpinFor([&] { return GnomeEval(isAbove, &out) && out == "false"; }, 5000)) << out;
}

TEST_F(GnomeWindowTest, PointerAndWindowUnderItFollowRealPointerMoves) {
  LinuxPointerInit();
  ASSERT_EQ(LinuxPointerBackend(), PointerBackend::kGnome);
  ASSERT_TRUE(Answered([&] { return GnomeMoveFrame(200, 150); }));
  int fx = 0, fy = 0, fw = 0, fh = 0;
  ASSERT_TRUE(SpinFor([&] { return GnomeGetFrame(fx, fy, fw, fh) && fx == 200 && fy == 150; }, 5000));

  pmrtest::GnomeRemotePointer pointer;
  ASSERT_TRUE(pointer.Ok()) << pointer.error();
  struct Case {
    int x, y;
    bool onWindow;
  } cases[] = {{fx + fw / 2, fy + fh / 2, true}, {1200, 760, false}, {fx + 3, fy + fh - 3, true}, {5, 5, false}};
  for (const Case& c : cases) {
    ASSERT_TRUE(pointer.MoveTo(c.x, c.y)) << pointer.error();
    double px = -1, py = -1;
    EXPECT_TRUE(SpinFor([&] { return LinuxPointerPosition(px, py) && px == c.x && py == c.y; }, 5000))
        << "pointer at " << px << "," << py << " want " << c.x << "," << c.y;
    const int want = c.onWindow ? getpid() : 0;
    int pid = -1;
    EXPECT_TRUE(SpinFor([&] { return (pid = LinuxWindowPidAt(c.x, c.y)) == want; }, 5000))
        << c.x << "," << c.y << ": pid " << pid << " want " << want;
  }

  // The left button shows in the pointer state while held.
  double px, py;
  bool left = true;
  ASSERT_TRUE(LinuxPointerState(px, py, left));
  EXPECT_FALSE(left);
  ASSERT_TRUE(pointer.LeftButton(true));
  EXPECT_TRUE(SpinFor([&] { return LinuxPointerState(px, py, left) && left; }, 5000));
  ASSERT_TRUE(pointer.LeftButton(false));
  EXPECT_TRUE(SpinFor([&] { return LinuxPointerState(px, py, left) && !left; }, 5000));
}

// Another program of this user, with a window of its own, calls the helper
// as Pellomar would: it is refused everything, and its window is neither kept
// above nor moved. This process (registered first) is still answered.
TEST_F(GnomeWindowTest, AnotherProgramIsRefusedAndItsWindowLeftAlone) {
  pmrtest::ChildProcess other = pmrtest::Spawn({PMR_FOREIGN_CALLER});
  pmrtest::OnExit stop([&] {
    kill(other.pid, SIGTERM);
    pmrtest::WaitFor(other, 10);
  });
  std::map<std::string, std::string> answers;
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (line != "done" && std::chrono::steady_clock::now() < end) {
    pollfd p{other.stdoutFd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(other.stdoutFd, &c, 1) != 1) break;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (line == "done") break;
    const size_t eq = line.find('=');
    if (eq != std::string::npos) answers[line.substr(0, eq)] = line.substr(eq + 1);
    line.clear();
  }
  ASSERT_EQ(line, "done") << "the other program never finished its calls";
  for (const char* method : {"Register", "GetPointer", "WindowPidAt", "SetAbove", "MoveFrame", "GetFrame"})
    EXPECT_EQ(answers[method], "org.freedesktop.DBus.Error.AccessDenied") << method;

  const std::string known = "global.display.list_all_windows().some(w => w.get_pid() === " +
                            std::to_string(other.pid) + ")";
  std::string out;
  ASSERT_TRUE(SpinFor([&] { return GnomeEval(known, &out) && out == "true"; }, 15000)) << out;
  const std::string find = "(() => { const w = global.display.list_all_windows().find(w => w.get_pid() === " +
                           std::to_string(other.pid) + "); if (!w) return null; const r = w.get_frame_rect(); " +
                           "return [w.is_above(), r.x, r.y]; })()";
  ASSERT_TRUE(GnomeEval(find, &out)) << out;
  EXPECT_NE(out.find("[false,"), std::string::npos) << "kept above: " << out;
  EXPECT_EQ(out.find(",900,500]"), std::string::npos) << "moved: " << out;

  // Ours is still answered.
  double x, y;
  EXPECT_TRUE(Answered([&] { return GnomePointer(x, y, nullptr); }));
  ASSERT_TRUE(Answered([&] { return GnomeMoveFrame(140, 90); }));
  int fx = 0, fy = 0, fw = 0, fh = 0;
  EXPECT_TRUE(SpinFor([&] { return GnomeGetFrame(fx, fy, fw, fh) && fx == 140 && fy == 90; }, 5000))
      << fx << "," << fy;
}

}  // namespace
