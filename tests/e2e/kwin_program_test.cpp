// The real program as a Wayland client of a real, headless KWin (on the
// simulated input devices): it chooses the KWin backend, restores its saved
// placement and keep-above through KWin, draws its own header bar where KWin
// would otherwise decorate it, and leaves nothing behind when it stops.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "tests/sim/sim_control.h"
#include "tests/support/kwin_session.h"

namespace {

constexpr const char* kTitle = "Pellomar (Free Version 1.0.2)";

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  return pmrtest::WaitForCondition(condition, timeoutMs);
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

class KWinProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = pmrtest::KWinSession::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(kwin.Start()) << kwin.error();
  }

  // A property of the program's main window as KWin sees it (JSON).
  std::string KWinSays(int pid, const std::string& expression) {
    return kwin.Eval("const list = workspace.clientList(); for (let i = 0; i < list.length; i++) { const w = "
                     "list[i]; if (w.pid === " +
                     std::to_string(pid) + " && w.normalWindow) return " + expression + "; } return null;");
  }

  pmrtest::KWinSession kwin;
};

TEST_F(KWinProgramTest, PlacementKeepAboveAndHeaderBarInKWinAndCleanStop) {
  pmrsim::SimProgram prog;
  pmrsim::SimProgram::Options options;
  options.env = kwin.ClientEnv();
  ASSERT_TRUE(prog.Start(options));
  const std::string data = prog.dataDir();
  mkdir((prog.home() + "/.local/share").c_str(), 0700);
  mkdir(data.c_str(), 0700);
  {
    std::ofstream settings(data + "/appsettings.txt");
    settings << "alwaysOnTop=1\nwindowX=240\nwindowY=130\nwindowWidth=420\nwindowHeight=560\n";
  }
  pmrsim::SimControl& sim = prog.control();
  ASSERT_FALSE(sim.AddKeyboard().empty());
  ASSERT_TRUE(sim.Go());
  const int pid = prog.pid();
  const std::string report = "pmr-report-" + std::to_string(pid);

  // The KWin backend was chosen: its report script runs in KWin.
  ASSERT_TRUE(WaitFor([&] { return kwin.IsScriptLoaded(report); }, 20000)) << prog.Stderr() << kwin.Log();
  ASSERT_TRUE(WaitFor([&] { return KWinSays(pid, "w.caption") == std::string("\"") + kTitle + "\""; }, 20000))
      << KWinSays(pid, "w.caption");

  // The saved place, read back from KWin.
  EXPECT_TRUE(WaitFor([&] { return KWinSays(pid, "[w.frameGeometry.x, w.frameGeometry.y]") == "[240,130]"; },
                      10000))
      << KWinSays(pid, "[w.frameGeometry.x, w.frameGeometry.y, w.frameGeometry.width, w.frameGeometry.height]");
  // "Always on top" reached KWin.
  EXPECT_TRUE(WaitFor([&] { return KWinSays(pid, "w.keepAbove") == "true"; }, 10000))
      << prog.Stderr() << kwin.Log();
  // KWin prefers to decorate windows itself (a plain GTK window gets KWin's
  // title bar: its frame is taller than what the client draws); the program
  // puts its own header bar on the window instead, KWin draws no second one
  // and the client's drawing (with its shadow) holds the whole frame.
  pmrtest::KWinTestWindow plain;
  ASSERT_TRUE(plain.Start(kwin, "plain", 300, 200, true));
  const char* kDecorated = "w.frameGeometry.height > w.bufferGeometry.height";
  EXPECT_TRUE(WaitFor([&] { return KWinSays(plain.pid(), kDecorated) == "true"; }, 10000))
      << KWinSays(plain.pid(), "[w.frameGeometry.height, w.bufferGeometry.height]");
  EXPECT_EQ(KWinSays(pid, kDecorated), "false");
  EXPECT_EQ(KWinSays(pid, "w.bufferGeometry.width >= w.frameGeometry.width"), "true");

  // Moved in KWin by someone else: the placement saved at exit is where
  // KWin reports the window then.
  EXPECT_EQ(kwin.Eval("const l = workspace.clientList(); for (let i = 0; i < l.length; i++) { const w = l[i]; if "
                      "(w.pid === " + std::to_string(pid) + " && w.normalWindow) { w.frameGeometry = { x: 310, y: "
                      "90, width: w.frameGeometry.width, height: w.frameGeometry.height }; return true; } } "
                      "return false;"),
            "true");
  ASSERT_TRUE(WaitFor([&] { return KWinSays(pid, "[w.frameGeometry.x, w.frameGeometry.y]") == "[310,90]"; }, 5000));

  // A clean stop unloads the report script and the one-shot scripts, and
  // leaves no script file behind.
  const std::string scripts = prog.home() + "/run/pellomar";
  // The report script's file held the run's key: gone once the script ran.
  struct stat st{};
  EXPECT_NE(lstat((scripts + "/" + report + ".js").c_str(), &st), 0);
  EXPECT_EQ(prog.Stop(), 0) << prog.Stderr();
  std::ifstream saved(data + "/appsettings.txt");
  std::string line, place;
  while (std::getline(saved, line))
    if (line.rfind("windowX=", 0) == 0 || line.rfind("windowY=", 0) == 0) place += line + ";";
  EXPECT_EQ(place, "windowX=310;windowY=90;");
  EXPECT_FALSE(kwin.IsScriptLoaded(report));
  EXPECT_FALSE(kwin.IsScriptLoaded("pmr-action-" + std::to_string(pid) + "-0"));
  EXPECT_TRUE(FilesIn(scripts).empty()) << FilesIn(scripts).front();
}

}  // namespace
