// The KWin backend's bus-free parts: reading the window report, the queries
// over it, the names allowed into scripts and where script files are written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/shell/kwin_internal.h"
#include "tests/support/process.h"

using pmrkwin::KWinWindow;

namespace {

std::string Describe(const std::vector<KWinWindow>& list) {
  std::string out;
  for (const KWinWindow& w : list) {
    if (!out.empty()) out += ";";
    out += std::to_string(w.pid) + "," + std::to_string(w.x) + "," + std::to_string(w.y) + "," +
           std::to_string(w.width) + "," + std::to_string(w.height) + "," + (w.normal ? "1" : "0");
  }
  return out;
}

TEST(KWinWindowList, RecordsAreReadAndBadOnesSkipped) {
  struct Case {
    const char* report;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"100,0,0,640,480,1", "100,0,0,640,480,1"},
      {"100,0,0,640,480,1;", "100,0,0,640,480,1"},
      // a malformed record between good ones: the others are used, in order
      {"1,10,20,30,40,1;garbage;2,-5,-6,7,8,0", "1,10,20,30,40,1;2,-5,-6,7,8,0"},
      {"1,2,3;4,5,6,7,8,1", "4,5,6,7,8,1"},           // too few numbers
      {"1,2x,3,4,5,1;9,1,1,1,1,1", "9,1,1,1,1,1"},     // a number with junk before its comma
      {"1,2,3,4,5,99999999999;3,0,0,1,1,1", "3,0,0,1,1,1"},  // out of range
      {";;;", ""},
      {"7,1,2,3,4,0,extra", "7,1,2,3,4,0"},           // more than six: the first six count
      {"5,0,0,10,10,2", "5,0,0,10,10,1"},             // any non-zero flag is a normal window
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(pmrkwin::ParseWindowList(c.report)), c.expected) << c.report;
}

TEST(KWinWindowList, TopmostWindowUnderThePointWins) {
  // topmost first: a dialog of 300 over the main window of 200, both over 100
  auto list = pmrkwin::ParseWindowList("300,150,150,100,100,0;200,100,100,300,300,1;100,0,0,1000,800,1");
  struct Case {
    double x, y;
    int pid;
  } cases[] = {
      {160, 160, 300},     {149.5, 160, 200}, {249.9, 249.9, 300}, {250, 249.9, 200},
      {399.9, 399.9, 200}, {400, 400, 100},   {999.9, 0, 100},     {1000, 0, 0},
      {-0.1, 10, 0},       {10, 800, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(pmrkwin::PidAtIn(list, c.x, c.y), c.pid) << c.x << "," << c.y;
  EXPECT_EQ(pmrkwin::PidAtIn({}, 1, 1), 0);
}

TEST(KWinWindowList, OwnFrameSkipsDialogsAndOtherProcesses) {
  auto list = pmrkwin::ParseWindowList("42,5,5,50,50,0;7,0,0,10,10,1;42,100,120,420,560,1;42,1,1,2,2,1");
  int x = -1, y = -1, w = -1, h = -1;
  ASSERT_TRUE(pmrkwin::OwnFrameIn(list, 42, x, y, w, h));
  EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({100, 120, 420, 560}));
  int untouched = -3;
  EXPECT_FALSE(pmrkwin::OwnFrameIn(pmrkwin::ParseWindowList("42,5,5,50,50,0"), 42, untouched, y, w, h));
  EXPECT_EQ(untouched, -3);
}

TEST(KWinScripts, OnlyPlainBusNamesGoIntoAScript) {
  for (const char* ok : {":1.42", "org.kde-KWin_2", ":1.0"}) EXPECT_TRUE(pmrkwin::ScriptSafeBusName(ok)) << ok;
  for (const char* bad : {"", ":1.4'2", ":1.4\n", "a b", ":1.4);x(", "\\u0027"})
    EXPECT_FALSE(pmrkwin::ScriptSafeBusName(bad)) << bad;
  const std::string script = pmrkwin::ReportScriptText(":1.99", "0123abcd");
  EXPECT_NE(script.find("\nconst target = ':1.99', key = '0123abcd';\n"), std::string::npos);
  // Both calls carry the key first.
  EXPECT_NE(script.find("callDBus(target, path, iface, 'Pointer', key, "), std::string::npos);
  EXPECT_NE(script.find("callDBus(target, path, iface, 'Windows', key, "), std::string::npos);
  const std::string action = pmrkwin::ActionScriptText(4321, pmrkwin::MoveBody(-20, 30));
  EXPECT_EQ(action.rfind("const pid = 4321;\n", 0), 0u);
  EXPECT_NE(action.find("w.frameGeometry = { x: -20, y: 30, width: g.width, height: g.height };\n  break;\n}\n"),
            std::string::npos);
}

TEST(KWinScripts, EachRunHasItsOwnKey) {
  const std::string a = pmrkwin::NewReportKey(), b = pmrkwin::NewReportKey();
  ASSERT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
  EXPECT_NE(a, b);
  EXPECT_TRUE(pmrkwin::ReportKeyMatches(a, a));
  std::string changed = a;
  changed.back() = changed.back() == '0' ? '1' : '0';
  for (const std::string& wrong : {std::string(), changed, a.substr(0, 31), a + "0"})
    EXPECT_FALSE(pmrkwin::ReportKeyMatches(wrong, a)) << wrong;
  EXPECT_FALSE(pmrkwin::ReportKeyMatches("", "")) << "no key, no caller";
}

// Script directories: a fresh runtime directory per case.
class KWinScriptDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    savedRuntime = old ? old : "";
    hadRuntime = old != nullptr;
    runtime = pmrtest::MakeTempDir("kwin-run");
    ASSERT_FALSE(runtime.empty());
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    pmrkwin::ResetScriptDirectoryForTest();
  }
  void TearDown() override {
    pmrkwin::ResetScriptDirectoryForTest();
    if (hadRuntime)
      setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    pmrtest::Run({"rm", "-rf", runtime});
  }
  static unsigned Mode(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }
  std::string runtime, savedRuntime;
  bool hadRuntime = false;
};

TEST_F(KWinScriptDirTest, ScriptsGoIntoAPrivateDirectoryOfTheRuntimeDirectory) {
  const std::string dir = pmrkwin::ScriptDirectory();
  EXPECT_EQ(dir, runtime + "/pellomar");
  EXPECT_EQ(Mode(dir), 0700u);
  // A directory left open to others by someone is closed again.
  pmrkwin::ResetScriptDirectoryForTest();
  chmod(dir.c_str(), 0777);
  EXPECT_EQ(pmrkwin::ScriptDirectory(), dir);
  EXPECT_EQ(Mode(dir), 0700u);
  ASSERT_TRUE(pmrkwin::WriteScriptFile(dir + "/a.js", "print(1);\n"));
  EXPECT_EQ(Mode(dir + "/a.js"), 0600u);
  std::ifstream in(dir + "/a.js");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "print(1);\n");
}

TEST_F(KWinScriptDirTest, LinksAreNeverFollowed) {
  // The directory name is a link to somewhere else: not used.
  const std::string elsewhere = pmrtest::MakeTempDir("kwin-elsewhere");
  ASSERT_EQ(symlink(elsewhere.c_str(), (runtime + "/pellomar").c_str()), 0);
  const std::string dir = pmrkwin::ScriptDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.find("/tmp/pellomar-kwin-"), std::string::npos) << dir;
  EXPECT_EQ(Mode(dir), 0700u);
  // A script path that is a link: the write fails and the target is untouched.
  const std::string victim = elsewhere + "/victim";
  { std::ofstream(victim) << "keep"; }
  ASSERT_EQ(symlink(victim.c_str(), (dir + "/pmr-report-1.js").c_str()), 0);
  EXPECT_FALSE(pmrkwin::WriteScriptFile(dir + "/pmr-report-1.js", "evil"));
  std::ifstream in(victim);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
  unlink((dir + "/pmr-report-1.js").c_str());
  pmrtest::Run({"rm", "-rf", elsewhere});
}

TEST_F(KWinScriptDirTest, WithoutARuntimeDirectoryAFreshPrivateOneIsMade) {
  unsetenv("XDG_RUNTIME_DIR");
  pmrkwin::ResetScriptDirectoryForTest();
  const std::string dir = pmrkwin::ScriptDirectory();
  ASSERT_EQ(dir.rfind("/tmp/pellomar-kwin-", 0), 0u) << dir;
  EXPECT_EQ(Mode(dir), 0700u);
  EXPECT_EQ(pmrkwin::ScriptDirectory(), dir);  // kept for the process
  pmrkwin::ResetScriptDirectoryForTest();      // removes it again
  EXPECT_EQ(Mode(dir), 0u);
}

TEST_F(KWinScriptDirTest, ScriptsOfProcessesThatAreGoneAreRemoved) {
  const std::string dir = pmrkwin::ScriptDirectory();
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  const std::string d = std::to_string(dead), live = std::to_string(getppid()), own = std::to_string(getpid());
  const std::vector<std::string> files = {
      "pmr-report-" + d + ".js",   "pmr-action-" + d + "-3.js", "pmr-report-" + live + ".js",
      "pmr-action-" + live + "-0.js", "pmr-report-" + own + ".js", "pmr-report-" + d + "x.js",
      "pmr-action-" + d + ".js",   "pmr-report-.js",            "notes.txt", "pmr-report-" + d + ".jsx"};
  for (const std::string& f : files) std::ofstream(dir + "/" + f) << "x";
  const auto removed = pmrkwin::RemoveStaleScripts(dir, getpid());
  EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()),
            std::set<std::string>({"pmr-report-" + d, "pmr-action-" + d + "-3"}));
  for (size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(access((dir + "/" + files[i]).c_str(), F_OK) == 0, i >= 2) << files[i];
}

}  // namespace
