// Saving must survive the worst moments: a process killed with SIGKILL in the
// middle of writing a large recording, a disk that fills up during a save,
// and files that are garbage when they are read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "base/atomic_file.h"
#include "state_test_util.h"

using namespace statetest;
namespace fs = std::filesystem;

namespace {

constexpr int kLargeEvents = 200000;

// A session whose every part names the same version v: the repeat count of
// the auto clicker, the profile names, the number of events and the last
// event. A file that mixes two versions or lacks its end cannot pass Check.
void MakeVersion(int v) {
  ResetToolStateForTest();
  autoClickRepeatTimes = v;
  std::vector<UnifiedEvent> events;
  events.reserve(kLargeEvents + 64);
  const int count = kLargeEvents + v % 64;
  for (int i = 0; i < count; ++i) events.push_back(Ev(1 + i % 4, i * 0.001, i, v, 0, i % 4 == 2 ? 65 : 0));
  events.back().x = v;
  SetProfiles({{kDefaultProfileName, "", std::move(events)}, {"v" + std::to_string(v), "", {Ev(3, 0, 0, 0, 0, v)}}});
}

// Loads the file into a fresh state; true when it holds one complete version.
::testing::AssertionResult LoadsCompleteVersion(int* version) {
  ResetToolStateForTest();
  SetProfiles({});
  if (!LoadSessionState()) return ::testing::AssertionFailure() << "no usable session";
  const int v = autoClickRepeatTimes;
  std::vector<MacroProfile> got = GetProfiles();
  if (got.size() != 2) return ::testing::AssertionFailure() << got.size() << " profiles";
  if (got[1].name != "v" + std::to_string(v)) return ::testing::AssertionFailure() << "name " << got[1].name << " in version " << v;
  if (got[0].events.size() != static_cast<size_t>(kLargeEvents + v % 64))
    return ::testing::AssertionFailure() << got[0].events.size() << " events in version " << v;
  if (got[0].events.back().x != v || got[1].events.size() != 1 || got[1].events[0].vk != v)
    return ::testing::AssertionFailure() << "last events do not match version " << v;
  *version = v;
  return ::testing::AssertionSuccess();
}

size_t TempFilesBeside(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".tmp-") != std::string::npos) ++n;
  return n;
}

class PersistReliabilityTest : public StateTest {};

// A small tmpfs mounted for one test, so the disk can really run full.
class SmallDisk {
 public:
  SmallDisk(const std::string& where, const char* size) : where_(where) {
    std::string opts = std::string("size=") + size + ",mode=0700";
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    if (!mounted_) error_ = std::strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

  // Fills the remaining space with a file; returns its path.
  std::string Fill() {
    std::string path = where_ + "/filler";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::string block(4096, 'x');
    while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    if (f) std::fclose(f);
    return path;
  }

 private:
  std::string where_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace

TEST_F(PersistReliabilityTest, KillDuringSaveLeavesACompleteOldOrNewSession) {
  MakeVersion(1);
  SaveSessionState();
  ASSERT_TRUE(LastSessionSaveStats().wrote);

  std::mt19937 rng(12345);
  int killedMidWrite = 0;
  int lastSeen = 1;
  int base = 100;
  for (int round = 0; round < 30 && (round < 10 || killedMidWrite < 3); ++round, base += 100) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The saving process: new versions, saved one after another, until killed.
      ::close(ready[0]);
      ResetSessionWriterForTest();
      bool told = false;
      for (int v = base;; ++v) {
        MakeVersion(v);
        if (!told) {
          (void)!::write(ready[1], "r", 1);
          told = true;
        }
        SaveSessionState();
      }
    }
    ::close(ready[1]);
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    // Every round kills at a random moment; every other round then also
    // waits until a write is under way, so that some kills land inside a
    // write however slowly the saving process is scheduled.
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 400000)(rng)));
    int status = 0;
    bool exited = false;
    if (round % 2 == 1) {
      while (TempFilesBeside(dir_) == 0 && !(exited = ::waitpid(pid, &status, WNOHANG) == pid))
        std::this_thread::yield();
    }
    ASSERT_FALSE(exited) << "the saving process ended by itself";
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    if (TempFilesBeside(dir_) > 0) ++killedMidWrite;
    int v = 0;
    ASSERT_TRUE(LoadsCompleteVersion(&v)) << "round " << round;
    EXPECT_TRUE(v == lastSeen || (v >= base && v < base + 100)) << "version " << v << " in round " << round;
    lastSeen = v;
    EXPECT_EQ(TempFilesBeside(dir_), 0u) << "the load clears what the killed process left";
  }
  // The rounds must really have hit writes in progress.
  EXPECT_GE(killedMidWrite, 1);
  std::printf("kills during a write: %d\n", killedMidWrite);
}

TEST_F(PersistReliabilityTest, FullDiskDuringASessionSaveKeepsTheOldFile) {
  const std::string mnt = dir_ + "/disk";
  ASSERT_EQ(::mkdir(mnt.c_str(), 0700), 0);
  SmallDisk disk(mnt, "16m");  // room for the old file and one new one
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.error() << "); needs root with mount rights";
  g_SessionStateFilePath = mnt + "/session.dat";

  MakeVersion(7);
  SaveSessionState();
  ASSERT_TRUE(LastSessionSaveStats().wrote);
  const std::string before = Slurp(g_SessionStateFilePath);

  const std::string filler = disk.Fill();
  MakeVersion(8);
  SaveSessionState();
  EXPECT_TRUE(LastSessionSaveStats().writeFailed);
  EXPECT_EQ(Slurp(g_SessionStateFilePath), before);
  EXPECT_EQ(TempFilesBeside(mnt), 0u);

  // Space again: the very next save writes, although nothing changed since.
  ::unlink(filler.c_str());
  SaveSessionState();
  EXPECT_TRUE(LastSessionSaveStats().wrote);
  int v = 0;
  ASSERT_TRUE(LoadsCompleteVersion(&v));
  EXPECT_EQ(v, 8);
}

TEST_F(PersistReliabilityTest, FullDiskDuringAnAppSettingsSaveKeepsTheOldFile) {
  // The app settings live in the data directory: put that on a tiny disk.
  const std::string dataDir = OsDataDir();
  SmallDisk disk(dataDir, "64k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.error() << "); needs root with mount rights";
  g_SeenWarningIds = {"first"};
  ASSERT_TRUE(SaveAppSettings());
  const std::string before = Slurp(GetAppSettingsFilePath());

  const std::string filler = disk.Fill();
  BindMarkWarningSeen("second");
  EXPECT_EQ(Slurp(GetAppSettingsFilePath()), before);
  EXPECT_FALSE(SaveAppSettings());
  EXPECT_EQ(TempFilesBeside(dataDir), 0u);

  ::unlink(filler.c_str());
  EXPECT_TRUE(SaveAppSettings());
  ResetAppSettingsForTest();
  LoadAppSettings();
  EXPECT_EQ(g_SeenWarningIds, (std::set<std::string>{"first", "second"}));
}

TEST_F(PersistReliabilityTest, GarbageSessionFilesLoadByTheRulesWithoutCrashing) {
  std::mt19937_64 rng(99);
  auto randomBytes = [&](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
  };
  const std::string settingsLine = "SETTINGS:" + std::string(kFreshSettings) + "\n";
  const std::string longLine(8 << 20, '7');
  struct Case {
    std::string name;
    std::string text;
    bool result;
    size_t profileCount;
  } cases[] = {
      {"random bytes", randomBytes(1 << 20), false, 0},
      {"random bytes after a valid head", settingsLine + "CURRENT:0\nPROFILE:A\n" + randomBytes(1 << 20), true, 1},
      {"NUL bytes", std::string(4096, '\0'), false, 0},
      {"very long first line", "SETTINGS:" + longLine + "\n", false, 0},
      {"very long settings fields", "SETTINGS:" + longLine + "," + longLine + "\nCURRENT:0\nPROFILE:A\n", true, 1},
      {"very long current", settingsLine + "CURRENT:" + longLine + "\nPROFILE:A\nPROFILE:B\n", true, 2},
      {"very long name", settingsLine + "CURRENT:0\nPROFILE:" + longLine + "\n", true, 1},
      {"very long event line", settingsLine + "CURRENT:0\nPROFILE:A\n" + longLine + ",1,2,3,4,5,6,7\n", true, 1},
      {"a million commas", settingsLine + "CURRENT:0\nPROFILE:A\n" + std::string(1 << 20, ',') + "\n", true, 1},
      {"only line feeds", std::string(1 << 20, '\n'), false, 0},
      {"binary after SETTINGS", "SETTINGS:" + randomBytes(4096) + "\n", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetToolStateForTest();
    SetProfiles({});
    WriteText(SessionPath(), c.text);
    EXPECT_EQ(LoadSessionState(), c.result);
    if (c.result) {
      EXPECT_EQ(GetProfiles().size(), c.profileCount);
    }
    // Whatever was loaded can be written and read back.
    EnsureDefaultProfileExists();
    ResetSessionWriterForTest();
    SaveSessionState();
    EXPECT_TRUE(LastSessionSaveStats().wrote);
    const auto before = GetProfiles();
    SetProfiles({});
    ASSERT_TRUE(LoadSessionState());
    const auto after = GetProfiles();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].events.size(), before[i].events.size());
  }
  // A directory, and a file that cannot be read, where the file should be.
  ::unlink(SessionPath().c_str());
  ASSERT_EQ(::mkdir(SessionPath().c_str(), 0700), 0);
  EXPECT_FALSE(LoadSessionState());
}

TEST_F(PersistReliabilityTest, GarbageAppSettingsAndThemeFilesLoadWithoutCrashing) {
  std::mt19937_64 rng(5);
  std::string bytes(1 << 20, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  const std::string longValue(4 << 20, '1');
  for (const std::string& text : std::vector<std::string>{bytes, "windowX=" + longValue + "\n", "seenWarnings=" + std::string(1 << 20, ',') + "\n",
        "panelOrder=" + longValue + "\n", std::string(1 << 20, '='), "windowWidth=-99999999999999999999\n"}) {
    ResetAppSettingsForTest();
    WriteText(GetAppSettingsFilePath(), text);
    LoadAppSettings();
    EXPECT_EQ(g_SavedWindowWidth, 420);
    EXPECT_TRUE(g_PanelOrder.empty());
    EXPECT_TRUE(SaveAppSettings());
    WriteText(GetThemeFilePath(), text);
    EXPECT_FALSE(LoadThemeFromFile().empty());
  }
}

TEST_F(PersistReliabilityTest, StaleTemporaryFilesOfLiveProcessesAreKept) {
  const std::string target = dir_ + "/f.txt";
  const std::string dead = target + ".tmp-999999999-0";  // beyond any pid
  const std::string live = target + ".tmp-1-0";          // init always runs
  const std::string other = dir_ + "/f.txt.bak";
  for (const std::string& p : {dead, live, other}) WriteText(p, "x");
  RemoveStaleTempFiles(target);
  EXPECT_FALSE(Exists(dead));
  EXPECT_TRUE(Exists(live));
  EXPECT_TRUE(Exists(other));
}

TEST_F(PersistReliabilityTest, AtomicWriterKeepsThePermissionBitsOfTheFileItReplaces) {
  const std::string path = dir_ + "/mode.txt";
  ASSERT_TRUE(WriteFileAtomically(path, "a"));
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(path, "b"));
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Slurp(path), "b");
  EXPECT_FALSE(WriteFileAtomically(dir_ + "/no/such/dir/file", "c"));
  EXPECT_FALSE(WriteFileAtomically("", "c"));
}
