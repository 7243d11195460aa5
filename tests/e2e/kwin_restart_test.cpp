// The KWin backend when KWin goes away and comes back, and when its report
// script is already loaded: this process talks to a real, headless KWin
// over the bus only (no window of its own, so it outlives KWin).
#include <gtest/gtest.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/linux/shell/kwin.h"
#include "platform/linux/shell/kwin_internal.h"
#include "tests/support/kwin_session.h"
#include "tests/support/process.h"

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
  return pmrtest::WaitForCondition(condition, timeoutMs, true);
}

bool PointerAt(int x, int y) {
  double px = -1, py = -1;
  return KWinPointer(px, py) && px == x && py == y;
}

TEST(KWinRestart, ReportsStopWhileKWinIsGoneAndResumeWhenItIsBack) {
  const std::string why = pmrtest::KWinSession::Unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  // Static: the backend unloads its script at process exit, while KWin runs.
  static pmrtest::KWinSession kwin;
  ASSERT_TRUE(kwin.Start()) << kwin.error();
  kwin.ExportClientEnv();
  const std::string runtime = pmrtest::MakeTempDir("kwin-restart-run");
  chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  const std::string name = "pmr-report-" + std::to_string(getpid());

  // An earlier run that was killed left its report script loaded and its
  // file behind; a running one's stays.
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string dir = runtime + "/pellomar";
  mkdir(dir.c_str(), 0700);
  const std::string stale = "pmr-report-" + std::to_string(dead);
  const std::string running = "pmr-report-" + std::to_string(getppid());
  for (const std::string& n : {stale, running}) {
    std::ofstream(dir + "/" + n + ".js") << "// left behind\n";
    ASSERT_TRUE(kwin.LoadScript(dir + "/" + n + ".js", n));
  }

  double x = 0, y = 0;
  EXPECT_FALSE(KWinPointer(x, y));  // nothing reported yet
  ASSERT_TRUE(KWinStart());
  EXPECT_FALSE(kwin.IsScriptLoaded(stale));
  EXPECT_NE(access((dir + "/" + stale + ".js").c_str(), F_OK), 0);
  EXPECT_TRUE(kwin.IsScriptLoaded(running));
  EXPECT_EQ(access((dir + "/" + running + ".js").c_str(), F_OK), 0);
  ASSERT_TRUE(kwin.IsScriptLoaded(name));
  ASSERT_TRUE(kwin.MovePointer(100, 200));
  ASSERT_TRUE(WaitFor([] { return PointerAt(100, 200); }));

  // Started again while the script is loaded: the old one makes room.
  ASSERT_TRUE(KWinStart());
  EXPECT_TRUE(kwin.IsScriptLoaded(name));
  ASSERT_TRUE(kwin.MovePointer(101, 201));
  ASSERT_TRUE(WaitFor([] { return PointerAt(101, 201); }));

  // KWin goes away: what it told us is no longer known, and our own calls
  // fail without hanging.
  kwin.KillKWin();
  EXPECT_TRUE(WaitFor([&] { return !KWinPointer(x, y); }));
  EXPECT_EQ(KWinWindowPidAt(101, 201), 0);
  int fx, fy, fw, fh;
  EXPECT_FALSE(KWinGetFrame(fx, fy, fw, fh));
  EXPECT_FALSE(KWinSetAbove(true));
  EXPECT_FALSE(KWinMoveFrame(5, 5));

  // KWin is back: the script is loaded again without being asked and the
  // pointer is reported again.
  ASSERT_TRUE(kwin.RestartKWin()) << kwin.error();
  EXPECT_TRUE(WaitFor([&] { return kwin.IsScriptLoaded(name); }, 10000)) << kwin.Log();
  ASSERT_TRUE(kwin.MovePointer(300, 400));
  EXPECT_TRUE(WaitFor([] { return PointerAt(300, 400); })) << kwin.Log();

  // Only the new KWin may feed us; the old name means nothing now.
  const std::string self = [] {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    std::string n = g_dbus_connection_get_unique_name(bus);
    g_object_unref(bus);
    return n;
  }();
  EXPECT_EQ(kwin.ForeignCall(self, pmrkwin::kObjectPath, pmrkwin::kIface, "Pointer", "('', 1, 1)"),
            "org.freedesktop.DBus.Error.AccessDenied");
  EXPECT_TRUE(PointerAt(300, 400));

  // Action scripts of the last second are unloaded with the report script
  // at exit; their files are removed then too (checked by the program test).
  EXPECT_TRUE(WaitFor([] { return pmrkwin::PendingActionCountForTest() == 0; }));
  pmrtest::Run({"rm", "-rf", runtime});
}

}  // namespace
