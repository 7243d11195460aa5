// What the program leaves on disk for the desktop and reads back: command-line
// files, the lock file, the pending-open hand-over and the autostart entry.
// Runs with private XDG directories set before anything asks for them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window.h"
#include "state/app_settings.h"
#include "tests/support/process.h"

namespace {

using pmrgtk::g_Hooks;
using pmrgtk::g_LaunchFiles;

std::string g_Root;

class PrivateDirs : public ::testing::Environment {
 public:
  void SetUp() override {
    g_Root = pmrtest::MakeTempDir("window-desktop-files");
    setenv("HOME", g_Root.c_str(), 1);
    setenv("XDG_DATA_HOME", (g_Root + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_Root + "/config").c_str(), 1);
    unsetenv("APPIMAGE");
  }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new PrivateDirs);

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

// ---- Command-line files ------------------------------------------------------

TEST(LaunchFiles, CollectsReadableFilesOfKnownKindsAsCanonicalPaths) {
  const std::string dir = pmrtest::MakeTempDir("launch");
  for (const char* name : {"a.pmrmacro", "b.pmrtheme", "c.mcr", "x.pmrmacro.txt", "-x.pmrmacro", ".pmrmacro"})
    Put(dir + "/" + name, "x");
  const std::string relative = "../" + dir.substr(dir.rfind('/') + 1) + "/b.pmrtheme";
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.c_str()), 0);
  std::vector<std::string> got = pmrgtk::CollectLaunchFiles({
      "/usr/bin/pellomar",
      dir + "/a.pmrmacro",       // absolute, kept
      relative,                  // relative with "..": made absolute and canonical
      "-x.pmrmacro",             // an option, whatever follows
      ".pmrmacro",               // nothing before the extension
      dir + "/c.mcr",            // .mcr only for dropped files
      dir + "/x.pmrmacro.txt",   // wrong kind
      dir + "/missing.pmrmacro", // unreadable: dropped
      "",
  });
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(got, (std::vector<std::string>{dir + "/a.pmrmacro", dir + "/b.pmrtheme"}));
  // The first argument is the program, never a file.
  EXPECT_TRUE(pmrgtk::CollectLaunchFiles({dir + "/a.pmrmacro"}).empty());
}

TEST(LaunchFiles, PathThatCannotBeCanonicalisedIsPassedAsWritten) {
  // A working directory deeper than the path limit: the file is readable
  // through its relative name, but no absolute name can be formed.
  const std::string base = pmrtest::MakeTempDir("deep");
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(base.c_str()), 0);
  const std::string part(200, 'd');
  for (int i = 0; i < 25; ++i) {
    mkdir(part.c_str(), 0700);
    ASSERT_EQ(chdir(part.c_str()), 0);
  }
  Put("deep.pmrmacro", "x");
  std::vector<std::string> got = pmrgtk::CollectLaunchFiles({"prog", "deep.pmrmacro", "./deep.pmrtheme"});
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(got, std::vector<std::string>{"deep.pmrmacro"});
}

TEST(LaunchFiles, AcceptedKindsNeedANameBeforeTheExtension) {
  struct Case {
    const char* name;
    bool named, dropped;
  };
  const Case cases[] = {
      {"a.pmrmacro", true, true},  {"a.pmrtheme", true, true}, {".pmrmacro", false, false},
      {".pmrtheme", false, false}, {"a.mcr", false, true},     {".mcr", false, false},
      {"a.MCR", false, false},     {"a.PMRMACRO", false, false}, {"a.pmrmacro ", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pmrgtk::IsAcceptedFileName(c.name, false), c.named) << c.name;
    EXPECT_EQ(pmrgtk::IsAcceptedFileName(c.name, true), c.dropped) << c.name;
  }
}

// ---- Lock file and hand-over -------------------------------------------------------

TEST(SingleInstance, LockFileOwnerIsTheFirstLineAsAPositiveProcessId) {
  struct Case {
    const char* content;
    int pid;
  };
  const Case cases[] = {
      {"1234\n", 1234}, {"1234", 1234},   {"  77\n", 77},       {"42junk\n", 42},        {"abc\n", 0},
      {"", 0},          {"\n1234\n", 0},  {"-5\n", 0},          {"0\n", 0},             {"99999999999\n", 0},
      {"2147483647", 2147483647},         {"2147483648", 0},    {"+9\n", 9},             {"x1234", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(pmrgtk::LockFileOwnerPid(c.content), c.pid) << '"' << c.content << '"';
}

TEST(SingleInstance, LockIsExclusiveWritesThePidAndDiesWithItsHolder) {
  const std::string lock = pmrgtk::LockFilePath();
  EXPECT_EQ(lock, OsDataDir() + "/instance.lock");
  // A stale file from a crashed instance holds garbage and no lock.
  mkdir((g_Root + "/data").c_str(), 0700);
  mkdir(OsDataDir().c_str(), 0700);
  int stale = open(lock.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(stale, 0);
  ASSERT_EQ(write(stale, "not a pid\nsecond line\n", 23), 23);
  close(stale);

  // A holder in another process: the lock is refused while it lives.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    close(ready[0]);
    bool ok = OsAcquireSingleInstanceLock();
    (void)!write(ready[1], ok ? "1" : "0", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  EXPECT_EQ(answer, '1');
  EXPECT_EQ(Slurp(lock), std::to_string(holder) + "\n");
  struct stat st;
  ASSERT_EQ(stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(OsAcquireSingleInstanceLock());

  // Killed without a chance to clean up: the next start takes the lock.
  kill(holder, SIGKILL);
  int status = 0;
  waitpid(holder, &status, 0);
  EXPECT_TRUE(OsAcquireSingleInstanceLock());
  EXPECT_EQ(Slurp(lock), std::to_string(getpid()) + "\n");
  EXPECT_GE(pmrgtk::g_LockFds, 0);
  // A wake that arrives before the lifecycle hooks are installed does not
  // end the process.
  raise(SIGUSR2);
}

struct Sleeper {
  pid_t pid;
  // Returns once the child runs the new program (a signal sent earlier would
  // meet the handlers inherited from this process).
  Sleeper() {
    int exec[2];
    if (pipe2(exec, O_CLOEXEC) != 0) std::abort();
    pid = fork();
    if (pid == 0) {
      execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(exec[1]);
    char c;
    while (read(exec[0], &c, 1) > 0) {
    }
    close(exec[0]);
  }
  // The wait status once the child ended within the time, -1 otherwise.
  int EndedWithin(int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  ~Sleeper() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

TEST(SingleInstance, ActivationAppendsFilesAndWakesTheOwner) {
  const std::string lock = pmrgtk::LockFilePath();
  const std::string pending = pmrgtk::PendingOpenFilePath();
  EXPECT_EQ(pending, OsDataDir() + "/pending-open.txt");
  unlink(pending.c_str());
  Put(pending, "/earlier/one.pmrtheme\n");
  Sleeper owner;  // stands in for the running instance: SIGUSR2 ends it
  Put(lock, std::to_string(owner.pid) + "\n");
  g_LaunchFiles = {"/home/u/a.pmrmacro", "/home/u/b c.pmrtheme", "/bad/line\nfeed.pmrmacro"};
  OsActivateOtherInstance();
  int status = owner.EndedWithin(3000);
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGUSR2);
  // Appended after what was there; a path with a line feed cannot be one line.
  EXPECT_EQ(Slurp(pending), "/earlier/one.pmrtheme\n/home/u/a.pmrmacro\n/home/u/b c.pmrtheme\n");
  g_LaunchFiles.clear();
  unlink(pending.c_str());
}

TEST(SingleInstance, NoWakeWithoutAPositivePidInTheLockFile) {
  const std::string lock = pmrgtk::LockFilePath();
  const std::string pending = pmrgtk::PendingOpenFilePath();
  unlink(pending.c_str());
  Sleeper bystander;
  g_LaunchFiles = {"/home/u/a.pmrmacro"};
  for (std::string content : {std::string("abc\n"), std::string("0\n"), std::string("-1\n"), std::string(""),
                              "4294967296" + std::to_string(bystander.pid) + "\n"}) {
    Put(lock, content);
    OsActivateOtherInstance();
    EXPECT_FALSE(Exists(pending)) << content;
  }
  EXPECT_EQ(bystander.EndedWithin(300), -1);  // still running: nothing was sent
  g_LaunchFiles.clear();
}

TEST(PendingFiles, DeliveredOnceAsOneListAndTheFileRemoved) {
  const std::string pending = pmrgtk::PendingOpenFilePath();
  std::vector<std::vector<std::string>> calls;
  g_Hooks.openFiles = [&](const std::vector<std::string>& files) { calls.push_back(files); };

  Put(pending, "/a/x.pmrmacro\n\n/b/y.pmrtheme\n/c/no-final-feed.pmrmacro");
  pmrgtk::DeliverPendingFiles();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], (std::vector<std::string>{"/a/x.pmrmacro", "/b/y.pmrtheme", "/c/no-final-feed.pmrmacro"}));
  EXPECT_FALSE(Exists(pending));

  pmrgtk::DeliverPendingFiles();  // missing file: nothing
  Put(pending, "\n\n");           // only blank lines: nothing, file removed
  pmrgtk::DeliverPendingFiles();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_FALSE(Exists(pending));

  // A file that cannot be read: a directory, and a FIFO that must not block.
  ASSERT_EQ(mkdir(pending.c_str(), 0700), 0);
  pmrgtk::DeliverPendingFiles();
  rmdir(pending.c_str());
  ASSERT_EQ(mkfifo(pending.c_str(), 0600), 0);
  pmrgtk::DeliverPendingFiles();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_FALSE(Exists(pending));

  // Without a handler the file is consumed all the same.
  g_Hooks.openFiles = nullptr;
  Put(pending, "/a/x.pmrmacro\n");
  pmrgtk::DeliverPendingFiles();
  EXPECT_FALSE(Exists(pending));
}

TEST(PendingFiles, InstallingTheHandlerDeliversCommandLineFilesThenHandedOverOnes) {
  const std::string pending = pmrgtk::PendingOpenFilePath();
  std::vector<std::vector<std::string>> calls;
  g_LaunchFiles = {"/cmd/one.pmrmacro"};
  Put(pending, "/second/start.pmrtheme\n");
  OsInstallFileOpenHandlers(nullptr, [&](const std::vector<std::string>& files) { calls.push_back(files); });
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], std::vector<std::string>{"/cmd/one.pmrmacro"});
  EXPECT_EQ(calls[1], std::vector<std::string>{"/second/start.pmrtheme"});
  EXPECT_TRUE(g_LaunchFiles.empty());
  OsInstallFileOpenHandlers(nullptr, [&](const std::vector<std::string>& files) { calls.push_back(files); });
  EXPECT_EQ(calls.size(), 2u);  // nothing is delivered twice
  g_Hooks.openFiles = nullptr;
}

// ---- Autostart entry -----------------------------------------------------------------

struct EnvGuard {
  std::string name;
  std::string old;
  bool had;
  EnvGuard(const char* n, const char* value) : name(n) {
    const char* v = getenv(n);
    had = v != nullptr;
    if (had) old = v;
    if (value)
      setenv(n, value, 1);
    else
      unsetenv(n);
  }
  ~EnvGuard() {
    if (had)
      setenv(name.c_str(), old.c_str(), 1);
    else
      unsetenv(name.c_str());
  }
};

TEST(Autostart, ConfigurationHomeFollowsTheEnvironment) {
  struct Case {
    const char* config;
    const char* home;
    const char* path;
  };
  const Case cases[] = {
      {"/x/conf", "/h", "/x/conf/autostart/pellomar-free.desktop"},
      {"relative/conf", "/h", "/h/.config/autostart/pellomar-free.desktop"},
      {"", "/h", "/h/.config/autostart/pellomar-free.desktop"},
      {nullptr, "/h", "/h/.config/autostart/pellomar-free.desktop"},
      {nullptr, "", "/tmp/.config/autostart/pellomar-free.desktop"},
      {nullptr, nullptr, "/tmp/.config/autostart/pellomar-free.desktop"},
  };
  for (const Case& c : cases) {
    EnvGuard config("XDG_CONFIG_HOME", c.config);
    EnvGuard home("HOME", c.home);
    EXPECT_EQ(pmrgtk::AutostartEntryPath(), c.path) << (c.config ? c.config : "(unset)");
  }
}

TEST(Autostart, EntryNamesTheAppImageOrTheExecutable) {
  const std::string entry = g_Root + "/config/autostart/pellomar-free.desktop";
  ASSERT_EQ(pmrgtk::AutostartEntryPath(), entry);
  {
    EnvGuard appimage("APPIMAGE", "/home/u/Apps/Pellomar Free.AppImage");
    OsApplyLaunchAtLogin(true);
  }
  EXPECT_EQ(Slurp(entry),
            "[Desktop Entry]\nType=Application\nName=Pellomar free\n"
            "Exec=\"/home/u/Apps/Pellomar Free.AppImage\"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"
            "Icon=pellomar-free\n");
  struct stat st;
  ASSERT_EQ(stat((g_Root + "/config/autostart").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);

  {
    EnvGuard appimage("APPIMAGE", "");  // empty: the running executable
    OsApplyLaunchAtLogin(true);
  }
  EXPECT_NE(Slurp(entry).find("Exec=\"" + pmrgtk::ExecutablePath() + "\"\n"), std::string::npos);
  // The icon shipped beside the executable.
  EXPECT_NE(Slurp(entry).find("\nIcon=" + OsResourceDir() + "/linux-ui/icons/pellomar.svg\n"), std::string::npos);
  EXPECT_EQ(pmrgtk::ExecutablePath().find('/'), 0u);

  OsApplyLaunchAtLogin(false);
  EXPECT_FALSE(Exists(entry));
  OsApplyLaunchAtLogin(false);  // already gone: no error
  EXPECT_FALSE(Exists(entry));
}

TEST(Autostart, PathsThatCannotBeWrittenSafelyLeaveTheEntryAsItWas) {
  const std::string entry = pmrgtk::AutostartEntryPath();
  {
    EnvGuard appimage("APPIMAGE", "/good/Pellomar.AppImage");
    OsApplyLaunchAtLogin(true);
  }
  const std::string before = Slurp(entry);
  ASSERT_FALSE(before.empty());
  for (const char* bad : {"/x/Pello\"mar.AppImage", "/x/Pello\nmar.AppImage", "\"", "\n"}) {
    EnvGuard appimage("APPIMAGE", bad);
    OsApplyLaunchAtLogin(true);
    EXPECT_EQ(Slurp(entry), before) << bad;
  }
  OsApplyLaunchAtLogin(false);
  {
    EnvGuard appimage("APPIMAGE", "/x/a\"b");
    OsApplyLaunchAtLogin(true);
  }
  EXPECT_FALSE(Exists(entry));
}

TEST(Autostart, ReservedCharactersOfTheExecLineAreEscaped) {
  // Inside the quoted argument $, ` and \ need a backslash, which the string
  // value escapes once more; a percent sign is doubled.
  EXPECT_NE(pmrgtk::AutostartEntryText("/a/$x`y%z\\w").find("Exec=\"/a/\\\\$x\\\\`y%%z\\\\\\\\w\"\n"),
            std::string::npos);
}

TEST(Autostart, IconLineOnlyForPlainValues) {
  EXPECT_NE(pmrgtk::AutostartEntryText("/p", "/r/icons/pellomar.svg").find("\nIcon=/r/icons/pellomar.svg\n"),
            std::string::npos);
  for (const char* bad : {"", "/r/ic\nons.svg", "/r/a\\b.svg", "/r/\tx.svg"})
    EXPECT_EQ(pmrgtk::AutostartEntryText("/p", bad).find("Icon="), std::string::npos) << bad;
}

TEST(Identity, BundleIdentifierSettingsNameAndResourceDirectory) {
  EXPECT_EQ(OsBundleIdentifier(), "app.pellomar.free");
  EXPECT_STREQ(OsSettingsAppName(), "Settings");
  const std::string exe = pmrgtk::ExecutablePath();
  EXPECT_EQ(OsResourceDir(), exe.substr(0, exe.rfind('/')));
  EXPECT_EQ(OsResourceDir() + "/window_desktop_files_test", exe);
}

}  // namespace
