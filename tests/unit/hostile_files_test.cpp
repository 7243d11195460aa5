// What the program does with a data directory and state files that someone
// else prepared: links in place of state files, FIFOs and devices, files far
// larger than anything the program writes, session files listing thousands of
// profiles, directories owned by others. Nothing may hang, follow a link out
// of the data directory, grow without bound or pass for another instance.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/data_dir.h"
#include "base/read_file.h"
#include "platform/linux/gtk/gtk_internal.h"
#include "platform/linux/shell/hyprland.h"
#include "platform/os_window.h"
#include "state_test_util.h"
#include "tests/support/process.h"
#include "app/status_json.h"

using namespace statetest;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // sanitizers reserve terabytes of address space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Virtual memory this process maps now (VmSize), in bytes.
size_t MappedBytes() {
  std::string status = Slurp("/proc/self/status");
  size_t at = status.find("VmSize:");
  return at == std::string::npos ? 0 : std::stoull(status.substr(at + 7)) * 1024;
}

struct Limits {
  size_t extraMemory = 0;  // address space the body may add; 0: no limit
  int cpuSeconds = 0;      // CPU time the body may use; 0: no limit
  int wallSeconds = 60;    // a body that blocks is stopped (SIGALRM) after this
};

// Runs body in a forked child under the limits; its exit code, or -1 when it
// was killed (out of time, or aborted by a failed allocation).
int RunLimited(const Limits& limits, const std::function<int()>& body) {
  const size_t base = MappedBytes();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (limits.extraMemory) {
      rlimit as{base + limits.extraMemory, base + limits.extraMemory};
      ::setrlimit(RLIMIT_AS, &as);
    }
    if (limits.cpuSeconds) {
      rlimit cpu{static_cast<rlim_t>(limits.cpuSeconds), static_cast<rlim_t>(limits.cpuSeconds)};
      ::setrlimit(RLIMIT_CPU, &cpu);
    }
    ::alarm(static_cast<unsigned>(limits.wallSeconds));
    int rc = 1;
    try {
      rc = body();
    } catch (...) {
      rc = 99;  // std::bad_alloc: the body needed more than it may
    }
    ::_exit(rc);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string SessionWithProfiles(const std::vector<std::string>& names, int current) {
  std::string text = std::string("SETTINGS:") + kFreshSettings + "\nCURRENT:" + std::to_string(current) + "\n";
  for (size_t i = 0; i < names.size(); ++i) {
    text += "PROFILE:" + names[i] + "\n";
    // Every profile carries one event whose x is its index in the file.
    text += "2,1.5," + std::to_string(i) + ",0,2,0,0,0\n";
  }
  return text;
}

class HostileFiles : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    victimDir_ = NewTempDir("victim");
    ASSERT_FALSE(victimDir_.empty());
    victim_ = victimDir_ + "/.bashrc";
    WriteText(victim_, "alias ls='ls --color'\n");
    ::chmod(victim_.c_str(), 0644);
  }
  void TearDown() override {
    std::system(("rm -rf '" + victimDir_ + "'").c_str());
    StateTest::TearDown();
  }
  // Puts a link to the victim's file where the program keeps `path`.
  void LinkToVictim(const std::string& path) {
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink(victim_.c_str(), path.c_str()), 0) << path;
  }
  void ExpectVictimUntouched() {
    EXPECT_EQ(Slurp(victim_), "alias ls='ls --color'\n");
    EXPECT_EQ(ModeOf(victim_), 0644u);
  }
  std::string victimDir_, victim_;
};

}  // namespace

// ---- reading -----------------------------------------------------------------------

TEST_F(HostileFiles, CappedReadTakesOnlyRegularFilesWithinTheCap) {
  const std::string file = dir_ + "/plain", link = dir_ + "/link", fifo = dir_ + "/fifo", zero = dir_ + "/zero";
  WriteText(file, "0123456789");
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
  struct Case {
    std::string path;
    size_t cap;
    bool follow;
    ReadStatus status;
    std::string content;
  } cases[] = {
      {file, 10, false, ReadStatus::kOk, "0123456789"},
      {file, 9, false, ReadStatus::kTooLarge, ""},
      {link, 10, true, ReadStatus::kOk, "0123456789"},
      {link, 10, false, ReadStatus::kNotRegular, ""},     // state files never through a link
      {fifo, 10, true, ReadStatus::kNotRegular, ""},      // and never wait for a writer
      {zero, 1 << 20, true, ReadStatus::kNotRegular, ""}, // nor read a device without end
      {dir_, 10, true, ReadStatus::kNotRegular, ""},
      {dir_ + "/missing", 10, true, ReadStatus::kMissing, ""},
      {"/proc/self/cmdline", 1 << 20, true, ReadStatus::kOk, Slurp("/proc/self/cmdline")},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(ReadFileCapped(c.path, out, ReadLimits{.maxBytes = c.cap, .followLinks = c.follow}), c.status)
        << c.path << " cap " << c.cap;
    EXPECT_EQ(out, c.content) << c.path;
  }
  // The plain variants: whole regular files, empty otherwise.
  EXPECT_EQ(ReadFile(link), "0123456789");
  EXPECT_EQ(ReadFile(fifo), "");
  EXPECT_EQ(ReadStateFile(link, 100), "");
  EXPECT_EQ(ReadStateFile(file, 100), "0123456789");
}

// A FIFO as the session file used to hang the start for good while holding
// the instance lock; a link to /dev/zero grew without bound.
TEST_F(HostileFiles, SessionFileThatIsAFifoOrADeviceLoadsNothing) {
  ASSERT_EQ(::mkfifo(SessionPath().c_str(), 0600), 0);
  EXPECT_EQ(RunLimited({.wallSeconds = 30}, [] { return LoadSessionState() ? 1 : 0; }), 0);
  ::unlink(SessionPath().c_str());
  ASSERT_EQ(::symlink("/dev/zero", SessionPath().c_str()), 0);
  EXPECT_EQ(RunLimited({.extraMemory = kSanitized ? 0 : size_t{512} << 20, .wallSeconds = 60},
                       [] { return LoadSessionState() ? 1 : 0; }),
            0);
  // The first save replaces the link with a file of its own.
  SetProfiles({MacroProfile{kDefaultProfileName, "", {}}});
  SaveSessionState();
  EXPECT_FALSE(IsLink(SessionPath()));
  EXPECT_EQ(ModeOf(SessionPath()), 0600u);
}

// A session file beyond the cap is kept aside, not overwritten by the first
// autosave. The file is sparse: it costs no disk.
TEST_F(HostileFiles, OversizedSessionFileIsSetAsideNotLost) {
  int fd = ::open(SessionPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "SETTINGS:", 9), 9);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSessionFileMaxBytes + 1)), 0);
  ::close(fd);
  EXPECT_FALSE(LoadSessionState());
  struct stat st {};
  ASSERT_EQ(::stat((SessionPath() + ".too-large").c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), kSessionFileMaxBytes + 1);
  EXPECT_FALSE(Exists(SessionPath()));
}

// One line of 8 million commas used to become 8 million strings.
TEST_F(HostileFiles, HugeSettingsLinesCostTheirOwnSizeOnly) {
  if (kSanitized) GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
  std::string text = std::string("SETTINGS:") + kFreshSettings;
  text.replace(text.find(",121"), 4, ",122");
  text += std::string(8u << 20, ',');
  text += "\nCURRENT:0\nPROFILE:a\nPROFILESETTINGS:" + std::string(8u << 20, '|') + "\n";
  WriteText(SessionPath(), text);
  text.clear();
  text.shrink_to_fit();
  // The file is read once (8 MB each line) and split no further than the
  // fields that are read.
  EXPECT_EQ(RunLimited({.extraMemory = size_t{200} << 20},
                       [] {
                         if (!LoadSessionState()) return 2;
                         return vkUnlock.load() == 122 ? 0 : 3;
                       }),
            0);
  // The target list of such a line is read up to its third entry.
  std::string list = "65|66|" + std::string(8u << 20, '|') + "67";
  EXPECT_EQ(RunLimited({.extraMemory = size_t{100} << 20},
                       [&] {
                         DeserializeKeySpamTargetList(list);
                         return keySpamTargetCount.load() == 3 && keySpamTargets[2].load() == 67 ? 0 : 3;
                       }),
            0);
}

// ---- profiles beyond the limit ----------------------------------------------------

TEST_F(HostileFiles, SessionWithManyProfilesKeepsTheCurrentTheDefaultAndTheEarliest) {
  const std::string D = kDefaultProfileName;
  struct Case {
    const char* what;
    std::vector<std::string> names;
    int current;
    std::vector<int> kept;  // file indices, in order
    int keptCurrent;        // index among the kept ones
  } cases[] = {
      {"within the limit: unchanged", {D, "a", "b"}, 2, {0, 1, 2}, 2},
      {"default first, current far behind", {D, "a", "b", "c", "d"}, 4, {0, 1, 4}, 2},
      {"default behind, current before it", {"a", "b", "c", D, "d"}, 1, {0, 1, 3}, 1},
      {"no default: room for the one start-up adds", {"a", "b", "c", "d"}, 3, {0, 3}, 1},
      {"no default, current out of range: the first", {"a", "b", "c", "d"}, 9, {0, 1}, 0},
      {"three without a default", {"a", "b", "c"}, 1, {0, 1}, 1},
      {"two defaults: the first counts", {"a", D, "b", D}, 3, {0, 1, 3}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(SessionPath(), SessionWithProfiles(c.names, c.current));
    ASSERT_TRUE(LoadSessionState());
    EnsureDefaultProfileExists();
    int current = -1;
    std::vector<MacroProfile> got = GetProfiles(&current);
    EXPECT_LE(got.size(), static_cast<size_t>(kMaxProfiles));
    std::vector<int> kept;
    for (const MacroProfile& p : got)
      if (!p.events.empty()) kept.push_back(static_cast<int>(p.events[0].x));
    EXPECT_EQ(kept, c.kept);
    // Start-up put the default in front when the file had none.
    const int shift = got.size() > c.kept.size() ? 1 : 0;
    EXPECT_EQ(current, c.keptCurrent + shift);
    SetProfiles({});
  }
}

// 100,000 profiles in a 900 KB file used to make the first autosave reserve
// room for 4,096 events per profile: 19 GB.
TEST_F(HostileFiles, HundredThousandProfilesLoadAndSaveInLittleMemory) {
  if (kSanitized) GTEST_SKIP() << "address-space limits do not apply under a sanitizer";
  std::string text = std::string("SETTINGS:") + kFreshSettings + "\nCURRENT:0\n";
  for (int i = 0; i < 100000; ++i) text += "PROFILE:\n";
  WriteText(SessionPath(), text);
  EXPECT_EQ(RunLimited({.extraMemory = size_t{256} << 20},
                       [] {
                         if (!LoadSessionState()) return 2;
                         EnsureDefaultProfileExists();
                         SaveSessionStateBlocking();
                         if (!LastSessionSaveStats().wrote) return 3;
                         return GetProfiles().size() <= static_cast<size_t>(kMaxProfiles) ? 0 : 4;
                       }),
            0);
}

// ---- writing -----------------------------------------------------------------------

// Every state file the program writes, with a link to another user's file in
// its place: the file behind the link stays as it was.
TEST_F(HostileFiles, LinksInTheDataDirectoryAreNeverWrittenThrough) {
  // The access marker (appended).
  LinkToVictim(GetAccessMarkerFilePath());
  RememberAccessibilityGranted();
  ExpectVictimUntouched();
  WriteText(victim_, "accessibilityGranted=" + OsBundleIdentifier() + "\n");
  EXPECT_FALSE(AccessibilityWasGrantedBefore()) << "read through the link";
  WriteText(victim_, "alias ls='ls --color'\n");
  ::unlink(GetAccessMarkerFilePath().c_str());

  // The panel settings file (rewritten on every change).
  LinkToVictim(GetPanelSettingsFilePath());
  RunStatusPoll();
  ExpectVictimUntouched();
  ::unlink(GetPanelSettingsFilePath().c_str());

  // The atomic writer replaces the link itself and takes no mode from its target.
  LinkToVictim(GetAppSettingsFilePath());
  ASSERT_TRUE(SaveAppSettings());
  ExpectVictimUntouched();
  EXPECT_FALSE(IsLink(GetAppSettingsFilePath()));
  EXPECT_EQ(ModeOf(GetAppSettingsFilePath()), 0600u);

  // The hand-over file of a second start (appended), read by the first.
  const std::string pending = pmrgtk::PendingOpenFilePath();
  LinkToVictim(pending);
  WriteText(pmrgtk::LockFilePath(), std::to_string(::getpid()) + "\n");
  ::signal(SIGUSR2, SIG_IGN);  // the wake goes to this process
  pmrgtk::g_LaunchFiles = {"/home/u/a.pmrmacro"};
  OsActivateOtherInstance();
  pmrgtk::g_LaunchFiles.clear();
  ExpectVictimUntouched();
  std::vector<std::vector<std::string>> delivered;
  pmrgtk::g_Hooks.openFiles = [&](const std::vector<std::string>& files) { delivered.push_back(files); };
  WriteText(victim_, "/home/u/b.pmrmacro\n");
  pmrgtk::DeliverPendingFiles();
  pmrgtk::g_Hooks.openFiles = nullptr;
  EXPECT_TRUE(delivered.empty()) << "read through the link";
  EXPECT_EQ(Slurp(victim_), "/home/u/b.pmrmacro\n");
  ::unlink(pmrgtk::LockFilePath().c_str());
}

// The lock file used to be truncated and overwritten with the pid through a
// link. A lock that cannot be taken at all is now a stated problem, not
// "another instance".
TEST_F(HostileFiles, LockFileThatIsALinkOrADirectoryIsAProblemNotAnotherInstance) {
  const std::string lock = pmrgtk::LockFilePath();
  LinkToVictim(lock);
  std::string problem;
  EXPECT_FALSE(OsAcquireSingleInstanceLock(&problem));
  EXPECT_NE(problem.find("lock file " + lock + " is not a regular file"), std::string::npos) << problem;
  ExpectVictimUntouched();
  ::unlink(lock.c_str());
  ASSERT_EQ(::mkdir(lock.c_str(), 0700), 0);
  problem.clear();
  EXPECT_FALSE(OsAcquireSingleInstanceLock(&problem));
  EXPECT_FALSE(problem.empty());
  ::rmdir(lock.c_str());
}

TEST_F(HostileFiles, PanelSettingsFileIsPrivate) {
  const std::string path = GetPanelSettingsFilePath();
  ::unlink(path.c_str());
  const mode_t old = ::umask(0);
  autoClickIntervalMs = 250;  // a change, so the poll writes
  RunStatusPoll();
  ::umask(old);
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_NE(Slurp(path).find("\"sms\":250"), std::string::npos);
  // A file an older version left readable by everyone becomes private.
  ::chmod(path.c_str(), 0666);
  autoClickIntervalMs = 300;
  RunStatusPoll();
  EXPECT_EQ(ModeOf(path), 0600u);
}

// ---- the data directory ------------------------------------------------------------

TEST_F(HostileFiles, DataDirectoryProblemsAreNamed) {
  const std::string root = dir_ + "/dd";
  ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
  const bool root_user = ::geteuid() == 0;
  struct Case {
    const char* what;
    std::function<std::string()> make;  // returns the data directory to check
    const char* expected;               // part of the message; "" for none
    bool needsRoot;
  } cases[] = {
      {"a private directory", [&] { EnsurePrivateDirectory(root + "/ok/Pellomar"); return root + "/ok/Pellomar"; },
       "", false},
      {"a regular file", [&] {
         WriteText(root + "/file", "x");
         ::chmod((root + "/file").c_str(), 0644);
         EnsurePrivateDirectory(root + "/file");
         return root + "/file";
       }, "is not a directory", false},
      {"missing and impossible", [&] { return root + "/file/Pellomar"; }, "cannot be created", false},
      {"writable by others", [&] {
         ::mkdir((root + "/open").c_str(), 0700);
         ::chmod((root + "/open").c_str(), 0777);
         return root + "/open";
       }, "can be changed by other users", false},
      {"owned by another user", [&] {
         ::mkdir((root + "/theirs").c_str(), 0700);
         (void)!::chown((root + "/theirs").c_str(), 4321, 4321);
         EnsurePrivateDirectory(root + "/theirs");
         return root + "/theirs";
       }, "belongs to another user", true},
      {"inside another user's directory", [&] {
         ::mkdir((root + "/share").c_str(), 0755);
         ::mkdir((root + "/share/Pellomar").c_str(), 0700);
         (void)!::chown((root + "/share").c_str(), 4321, 4321);
         return root + "/share/Pellomar";
       }, "which another user can change", true},
      {"inside a directory anyone may change", [&] {
         ::mkdir((root + "/pub").c_str(), 0700);
         ::chmod((root + "/pub").c_str(), 0777);
         ::mkdir((root + "/pub/Pellomar").c_str(), 0700);
         return root + "/pub/Pellomar";
       }, "which another user can change", false},
      {"inside a sticky directory anyone may use", [&] {
         ::mkdir((root + "/tmp").c_str(), 0700);
         ::chmod((root + "/tmp").c_str(), 01777);
         ::mkdir((root + "/tmp/Pellomar").c_str(), 0700);
         return root + "/tmp/Pellomar";
       }, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root_user) continue;  // only root can give a directory away
    const std::string dir = c.make();
    const std::string problem = DataDirProblem(dir);
    if (std::string(c.expected).empty()) {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
      EXPECT_EQ(problem.rfind("Pellomar cannot start: its data directory " + dir, 0), 0u) << problem;
    }
  }
  // A file in the directory's place is left as it was (it used to become 0700).
  EXPECT_EQ(ModeOf(root + "/file"), 0644u);
}

// The real program with a regular file as its data directory: one message,
// a non-zero status, and no "another instance" wake.
TEST_F(HostileFiles, ProgramRefusesAnUnusableDataDirectory) {
  const std::string home = NewTempDir("refuse");
  ASSERT_EQ(::mkdir((home + "/data").c_str(), 0700), 0);
  WriteText(home + "/data/Pellomar", "not a directory");
  ::chmod((home + "/data/Pellomar").c_str(), 0644);
  std::string out;
  int rc = pmrtest::Run({pmrtest::ProgramPath()}, &out,
                        {"HOME=" + home, "XDG_DATA_HOME=" + home + "/data", "XDG_CONFIG_HOME=" + home + "/config",
                         "DISPLAY=", "WAYLAND_DISPLAY=", "NO_AT_BRIDGE=1"},
                        60);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find("Pellomar cannot start: its data directory " + home + "/data/Pellomar is not a directory"),
            std::string::npos)
      << out;
  EXPECT_EQ(ModeOf(home + "/data/Pellomar"), 0644u);  // it used to become 0700, then exit 0
  EXPECT_EQ(Slurp(home + "/data/Pellomar"), "not a directory");
  std::system(("rm -rf '" + home + "'").c_str());
}

// ---- the compositor ------------------------------------------------------------------

// A compositor that accepts the connection and never answers used to block
// the caller (the input thread among them) for good.
TEST(HostileCompositor, SilentCompositorCostsAtMostTheTimeLimit) {
  const std::string dir = NewTempDir("hypr");
  const std::string path = dir + "/.socket.sock";
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 4), 0);  // never accepted, never answered
  EXPECT_EQ(RunLimited({.wallSeconds = 30}, [&] { return HyprRequestTo(path, "j/clients", 50).empty() ? 0 : 1; }),
            0);
  ::close(listener);
  std::system(("rm -rf '" + dir + "'").c_str());
}

// Finding a client's fields used to rescan the rest of the reply for every
// client that lacked one: a 1 MiB reply took half a minute on the input path.
TEST(HostileCompositor, ClientListsAreParsedInLinearTime) {
  // 20,000 clients, none with a focus value or a pid, then one real match.
  std::string reply = "[";
  for (int i = 0; i < 20000; ++i) reply += "{\"address\": \"0x1\", \"at\": [0, 0], \"size\": [10, 10]},";
  reply += "{\"address\": \"0xabc\", \"mapped\": true, \"hidden\": false, \"at\": [5, 5], \"size\": [10, 10], "
           "\"pid\": 4242, \"focusHistoryID\": 0}]";
  ASSERT_GT(reply.size(), 1000000u);
  // CPU seconds, which a busy machine does not stretch; the linear parse
  // needs a few milliseconds of it.
  EXPECT_EQ(RunLimited({.cpuSeconds = 5},
                       [&] {
                         if (HyprPidAtIn(reply, 6, 6) != 4242) return 2;
                         HyprWindow w;
                         if (!HyprOwnWindowIn(reply, 4242, w) || w.selector != "address:0xabc") return 3;
                         return HyprOwnWindowIn(reply, 777, w) ? 4 : 0;
                       }),
            0);
}
