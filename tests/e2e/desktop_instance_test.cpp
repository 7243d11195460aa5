// The real program on an X server with a real window manager: one instance
// per user (a second start hands its files over, wakes the first and exits
// 0), a stale lock from a killed instance, termination by signal with the
// geometry saved, and the window placement carried across restarts.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/strings.h"
#include "tests/support/http_client.h"
#include "tests/support/process.h"
#include "tests/support/x11_session.h"

namespace {

using pmrtest::FreeLoopbackPort;
using pmrtest::Http;

constexpr const char* kTitle = "Pellomar (Free Version 1.0.2)";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool WaitUntil(const std::function<bool()>& cond, int ms) { return pmrtest::X11Session::WaitFor(cond, ms); }

// Visible top-level windows with the program's title.
int ProgramWindows() {
  std::string out;
  pmrtest::Run({"xdotool", "search", "--onlyvisible", "--name", "^Pellomar \\(Free"}, &out, {}, 10);
  int n = 0;
  for (char c : out) n += c == '\n';
  return n;
}

// "x,y" of a window as the X server reports it; empty when it cannot be read.
std::string WindowPosition(const std::string& id) {
  std::string out;
  if (id.empty() || pmrtest::Run({"xdotool", "getwindowgeometry", "--shell", id}, &out, {}, 10) != 0) return {};
  std::string x, y;
  for (const std::string& line : SplitString(out, '\n')) {
    if (line.rfind("X=", 0) == 0) x = line.substr(2);
    if (line.rfind("Y=", 0) == 0) y = line.substr(2);
  }
  return x.empty() || y.empty() ? std::string() : x + "," + y;
}

std::map<std::string, std::string> Settings(const std::string& path) {
  std::map<std::string, std::string> kv;
  std::istringstream in(Slurp(path));
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return kv;
}

std::atomic<int> g_Wakes{0};

class InstanceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session = new pmrtest::X11Session;
    ASSERT_TRUE(session->Ok());
    ASSERT_TRUE(session->StartWindowManager());
  }
  static void TearDownTestSuite() {
    delete session;
    session = nullptr;
  }
  void SetUp() override {
    home = pmrtest::MakeTempDir("instance");
    data = home + "/data/Pellomar";
    env = {"HOME=" + home, "XDG_DATA_HOME=" + home + "/data", "XDG_CONFIG_HOME=" + home + "/config",
           "XDG_RUNTIME_DIR=" + home, "WAYLAND_DISPLAY=", "NO_AT_BRIDGE=1",
           // No logind and no session bus to reach: the session counts as usable.
           "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + home + "/no-system-bus",
           "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home + "/no-session-bus"};
  }
  void TearDown() override {
    for (pmrtest::ChildProcess& c : started)
      if (c.pid > 0) {
        kill(c.pid, SIGKILL);
        pmrtest::WaitFor(c, 5);
      }
  }

  pmrtest::ChildProcess Start(const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv{pmrtest::ProgramPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    started.push_back(pmrtest::Spawn(argv, env, false));
    return started.back();
  }
  // Runs a start to its end; the wait status, -1 when it did not end in time.
  int RunToEnd(const std::vector<std::string>& args, double seconds = 20) {
    pmrtest::ChildProcess c = Start(args);
    int status = pmrtest::WaitFor(c, seconds);
    started.back().pid = -1;
    return status;
  }
  // Started, holding the lock and showing its window.
  // Started, holding the lock, showing its window and handling the
  // termination and wake signals (the last step of its start-up).
  bool Running(const pmrtest::ChildProcess& c) {
    return WaitUntil([&] { return Slurp(data + "/instance.lock") == std::to_string(c.pid) + "\n"; }, 20000) &&
           WaitUntil([] { return ProgramWindows() == 1; }, 20000) &&
           WaitUntil([&] { return CatchesSignals(c.pid); }, 20000);
  }
  static bool CatchesSignals(pid_t pid) {
    std::istringstream in(Slurp("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);)
      if (line.rfind("SigCgt:", 0) == 0) {
        unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR2})
          if (!(mask & (1ull << (sig - 1)))) return false;
        return true;
      }
    return false;
  }
  int Terminate(pmrtest::ChildProcess& c, int sig = SIGTERM) {
    kill(c.pid, sig);
    int status = pmrtest::WaitFor(c, 20);
    for (pmrtest::ChildProcess& s : started)
      if (s.pid == c.pid) s.pid = -1;
    c.pid = -1;
    return status;
  }

  static pmrtest::X11Session* session;
  std::string home, data;
  std::vector<std::string> env;
  std::vector<pmrtest::ChildProcess> started;
};
pmrtest::X11Session* InstanceTest::session = nullptr;

bool ExitedZero(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

TEST_F(InstanceTest, SecondStartWritesCanonicalFilesForTheHolderAndWakesIt) {
  // This test holds the lock itself and counts the wakes it receives.
  mkdir((home + "/data").c_str(), 0700);
  mkdir(data.c_str(), 0700);
  int lock = open((data + "/instance.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  const std::string pid = std::to_string(getpid()) + "\n";
  ASSERT_EQ(pwrite(lock, pid.data(), pid.size(), 0), static_cast<ssize_t>(pid.size()));
  struct sigaction sa {};
  sa.sa_handler = [](int) { ++g_Wakes; };
  sa.sa_flags = SA_RESTART;
  sigaction(SIGUSR2, &sa, nullptr);
  g_Wakes = 0;

  const std::string files = home + "/files";
  mkdir(files.c_str(), 0700);
  mkdir((files + "/sub").c_str(), 0700);
  for (const char* name : {"a.pmrmacro", "b.pmrtheme", "-x.pmrmacro", "notes.txt", "old.mcr"})
    Put(files + "/" + name, "x");
  const std::string pending = data + "/pending-open.txt";
  EXPECT_TRUE(ExitedZero(RunToEnd({files + "/a.pmrmacro", files + "/sub/../b.pmrtheme", "-x.pmrmacro", ".pmrmacro",
                                   files + "/missing.pmrmacro", files + "/notes.txt", files + "/old.mcr"})));
  EXPECT_TRUE(WaitUntil([] { return g_Wakes == 1; }, 60000));
  EXPECT_EQ(Slurp(pending), files + "/a.pmrmacro\n" + files + "/b.pmrtheme\n");

  // Without files: a wake only, the hand-over file untouched.
  EXPECT_TRUE(ExitedZero(RunToEnd({})));
  EXPECT_TRUE(WaitUntil([] { return g_Wakes == 2; }, 60000));
  EXPECT_EQ(Slurp(pending), files + "/a.pmrmacro\n" + files + "/b.pmrtheme\n");

  // A lock file whose first line is not a number: nothing is sent or written.
  unlink(pending.c_str());
  ASSERT_EQ(ftruncate(lock, 0), 0);
  ASSERT_EQ(pwrite(lock, "owner unknown\n", 14, 0), 14);
  EXPECT_TRUE(ExitedZero(RunToEnd({files + "/a.pmrmacro"})));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(g_Wakes, 2);
  EXPECT_FALSE(Exists(pending));
  EXPECT_EQ(ProgramWindows(), 0);
  close(lock);
  signal(SIGUSR2, SIG_DFL);
}

// A lock that cannot be taken at all is no sign of another instance: the
// user is told why (standard error and an alert) and the start ends with a
// non-zero status, without a main window.
TEST_F(InstanceTest, LockFileThatCannotBeOpenedIsReportedNotTakenForAnotherInstance) {
  mkdir((home + "/data").c_str(), 0700);
  mkdir(data.c_str(), 0700);
  ASSERT_EQ(mkdir((data + "/instance.lock").c_str(), 0700), 0);  // a directory in its place
  pmrtest::ChildProcess c = pmrtest::Spawn({pmrtest::ProgramPath()}, env, true);
  ASSERT_GT(c.pid, 0);
  started.push_back(c);
  // The alert, titled with the program's name alone.
  std::string alert;
  ASSERT_TRUE(WaitUntil(
      [&] {
        pmrtest::Run({"xdotool", "search", "--onlyvisible", "--name", "^Pellomar$"}, &alert, {}, 10);
        return !alert.empty();
      },
      20000));
  alert = alert.substr(0, alert.find('\n'));
  EXPECT_EQ(ProgramWindows(), 0);
  pmrtest::Run({"xdotool", "windowactivate", "--sync", alert, "key", "--clearmodifiers", "Return"}, nullptr, {}, 10);
  int status = pmrtest::WaitFor(c, 20);
  started.back().pid = -1;
  ASSERT_NE(status, -1) << "the alert did not end the start";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  const std::string err = pmrtest::ReadAll(c.stderrFd, 5);
  EXPECT_NE(err.find("Pellomar cannot start: its lock file " + data + "/instance.lock is not a regular file."),
            std::string::npos)
      << err;
  close(c.stdoutFd);
  close(c.stderrFd);
}

TEST_F(InstanceTest, SecondStartWakesTheRunningInstanceWhichConsumesTheFiles) {
  pmrtest::ChildProcess first = Start();
  ASSERT_TRUE(Running(first));
  const std::string file = home + "/macro one.pmrmacro";
  Put(file, "x");
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(ExitedZero(RunToEnd({file})));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  // The running instance read and removed the hand-over file.
  EXPECT_TRUE(WaitUntil([&] { return !Exists(data + "/pending-open.txt"); }, 60000));
  EXPECT_EQ(ProgramWindows(), 1);
  EXPECT_EQ(kill(first.pid, 0), 0);
  EXPECT_TRUE(ExitedZero(Terminate(first)));
}

TEST_F(InstanceTest, StaleLockOfAKilledInstanceDoesNotBlock) {
  pmrtest::ChildProcess crashed = Start();
  ASSERT_TRUE(Running(crashed));
  const int oldPid = crashed.pid;
  Terminate(crashed, SIGKILL);
  ASSERT_TRUE(WaitUntil([] { return ProgramWindows() == 0; }, 60000));
  EXPECT_EQ(Slurp(data + "/instance.lock"), std::to_string(oldPid) + "\n");  // left behind

  pmrtest::ChildProcess next = Start();
  EXPECT_TRUE(Running(next));  // rewrote the pid and shows its window
  EXPECT_TRUE(ExitedZero(Terminate(next, SIGINT)));
}

TEST_F(InstanceTest, TerminationSignalsEndWithStatusZeroAndSaveThePlacement) {
  mkdir((home + "/data").c_str(), 0700);
  mkdir(data.c_str(), 0700);
  const std::string settings = data + "/appsettings.txt";
  struct Case {
    const char* what;
    int sig;
    std::string saved;  // the placement in the settings file before the start
    int x, y, w, h;     // what is saved at the end (-1: anywhere on the screen)
  };
  const Case cases[] = {
      {"restored and kept", SIGTERM, "windowX=600\nwindowY=350\nwindowWidth=500\nwindowHeight=400\n", 600, 350, 500,
       400},
      {"off every monitor", SIGHUP, "windowX=5000\nwindowY=350\nwindowWidth=500\nwindowHeight=400\n", -1, -1, 500,
       400},
      {"zero width", SIGTERM, "windowX=300\nwindowY=200\nwindowWidth=0\nwindowHeight=400\n", 300, 200, 420, 560},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put(settings, c.saved);
    pmrtest::ChildProcess p = Start();
    ASSERT_TRUE(Running(p));
    // The placement is saved again once the window has been placed: wait for
    // that save rather than for a fixed time (the checks below decide).
    WaitUntil([&] {
      std::map<std::string, std::string> kv = Settings(settings);
      if (c.x < 0)
        return kv["windowX"] != "5000" && !kv["windowX"].empty() && kv["windowWidth"] == std::to_string(c.w) &&
               kv["windowHeight"] == std::to_string(c.h);
      return kv["windowX"] == std::to_string(c.x) && kv["windowY"] == std::to_string(c.y) &&
             kv["windowWidth"] == std::to_string(c.w) && kv["windowHeight"] == std::to_string(c.h);
    }, 20000);
    ASSERT_TRUE(ExitedZero(Terminate(p, c.sig)));
    std::map<std::string, std::string> kv = Settings(settings);
    if (c.x >= 0) {
      EXPECT_EQ(kv["windowX"], std::to_string(c.x));
      EXPECT_EQ(kv["windowY"], std::to_string(c.y));
    } else {
      EXPECT_NE(kv["windowX"], "5000");
      EXPECT_LT(std::stoi(kv["windowX"]), 1920);
    }
    EXPECT_EQ(kv["windowWidth"], std::to_string(c.w));
    EXPECT_EQ(kv["windowHeight"], std::to_string(c.h));
  }
}

TEST_F(InstanceTest, MovedWindowIsSavedAfterTheMoveAndRestoredOnTheNextStart) {
  pmrtest::ChildProcess p = Start();
  ASSERT_TRUE(Running(p));
  std::string id;
  pmrtest::Run({"xdotool", "search", "--onlyvisible", "--name", "^Pellomar \\(Free"}, &id);
  id = id.substr(0, id.find('\n'));
  ASSERT_FALSE(id.empty());
  // The user drags the window: saved once the moves have settled.
  ASSERT_EQ(pmrtest::Run({"xdotool", "windowmove", id, "900", "250"}), 0);
  const std::string settings = data + "/appsettings.txt";
  ASSERT_TRUE(WaitUntil([&] {
    std::map<std::string, std::string> kv = Settings(settings);
    return kv["windowX"] == "900" && kv["windowY"] == "250";
  }, 60000)) << Slurp(settings);
  std::map<std::string, std::string> moved = Settings(settings);
  const std::string placed = WindowPosition(id);
  ASSERT_FALSE(placed.empty());
  ASSERT_TRUE(ExitedZero(Terminate(p)));

  pmrtest::ChildProcess again = Start();
  ASSERT_TRUE(Running(again));
  std::string againId;
  pmrtest::Run({"xdotool", "search", "--onlyvisible", "--name", "^Pellomar \\(Free"}, &againId);
  againId = againId.substr(0, againId.find('\n'));
  // The restore has moved the window where the first run left it.
  EXPECT_TRUE(WaitUntil([&] { return WindowPosition(againId) == placed; }, 60000)) << WindowPosition(againId);
  ASSERT_TRUE(ExitedZero(Terminate(again)));
  std::map<std::string, std::string> after = Settings(settings);
  EXPECT_EQ(after["windowX"], moved["windowX"]);
  EXPECT_EQ(after["windowY"], moved["windowY"]);
}

// ---- An alert open while the program is told to stop ---------------------------
// The alert is opened by the page itself (its pmrMacAlert call), driven
// through a WebDriver session of WebKitWebDriver.

TEST_F(InstanceTest, TerminationWhileAnAlertIsOpenEndsTheAlertAndExitsCleanly) {
  const char* driverPath = "/usr/bin/WebKitWebDriver";
  ASSERT_EQ(access(driverPath, X_OK), 0) << "WebKitWebDriver is missing (package webkit2gtk-driver)";
  // The program is the driver's child; once the driver is gone it becomes
  // this process's, so that its exit status can be read.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const int port = FreeLoopbackPort();
  ASSERT_GT(port, 0);
  pmrtest::ChildProcess driver = pmrtest::Spawn({driverPath, "--port=" + std::to_string(port)}, env, false);
  started.push_back(driver);
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  ASSERT_TRUE(WaitUntil([&] { return Http("GET", base + "/status", "").find("\"ready\":true") != std::string::npos; },
                        60000));
  const std::string created =
      Http("POST", base + "/session",
           "{\"capabilities\":{\"alwaysMatch\":{\"webkitgtk:browserOptions\":{\"binary\":\"" +
               pmrtest::ProgramPath() + "\",\"args\":[\"--automation\"]}}}}");
  const size_t at = created.find("\"sessionId\":\"");
  ASSERT_NE(at, std::string::npos) << created;
  const std::string sid = created.substr(at + 13, created.find('"', at + 13) - at - 13);
  const int pid = std::stoi("0" + Slurp(data + "/instance.lock"));
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUntil([&] { return CatchesSignals(pid); }, 20000));

  const std::string ran = Http("POST", base + "/session/" + sid + "/execute/sync",
                               "{\"script\":\"setTimeout(function () { pmrMacAlert('Profile saved.'); }, 0); "
                               "return typeof pmrMacAlert;\",\"args\":[]}");
  EXPECT_EQ(ran, "{\"value\":\"function\"}");
  auto alerts = [] {
    std::string out;
    pmrtest::Run({"xdotool", "search", "--onlyvisible", "--name", "^Pellomar$"}, &out, {}, 10);
    return out;
  };
  ASSERT_TRUE(WaitUntil([&] { return !alerts().empty(); }, 60000));

  // The driver goes away first (the program stays), then the program is told to stop.
  Terminate(driver, SIGKILL);
  ASSERT_EQ(kill(pid, 0), 0);
  pmrtest::ChildProcess program;
  program.pid = pid;
  std::remove((data + "/appsettings.txt").c_str());
  kill(pid, SIGTERM);
  const int status = pmrtest::WaitFor(program, 20);
  EXPECT_TRUE(ExitedZero(status)) << status;
  // The server removes the windows of a client that has gone a moment later.
  EXPECT_TRUE(WaitUntil([&] { return alerts().empty(); }, 10000)) << [&] {
    std::string out;
    for (const std::string& w : {alerts()}) pmrtest::Run({"sh", "-c", "for w in " + w + "; do xprop -id $w _NET_WM_PID WM_CLASS; done"}, &out, {}, 10);
    return out;
  }();
  std::map<std::string, std::string> kv = Settings(data + "/appsettings.txt");
  EXPECT_EQ(kv["windowWidth"], "420");
  EXPECT_EQ(kv["windowHeight"], "560");
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
