#pragma once
// Shared pieces of the persistence tests: a private data directory for the
// whole test program, a fresh temporary directory per test, and a fixture
// that puts the tool state, the profiles, the app settings and the session
// writer back to their start-up values.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "app/app.h"
#include "state/app_settings.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "model/tool_state.h"

namespace statetest {

inline std::string NewTempDir(const std::string& tag) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/pmr-" + tag + "-XXXXXX";
  if (!::mkdtemp(templ.data())) return {};
  return templ;
}

// Every test program gets its own data directory, fixed before anything asks
// for it (the data directory is worked out once per process).
inline const std::string& TestDataHome() {
  static const std::string home = [] {
    // A probe child started by a test keeps the environment it was given.
    if (const char* given = std::getenv("PMR_DATADIR_PROBE")) return std::string(given);
    std::string h = NewTempDir("xdg");
    ::setenv("XDG_DATA_HOME", h.c_str(), 1);
    // The launch-at-login setting writes an autostart entry: keep it out of
    // the configuration of whoever runs the tests.
    ::setenv("XDG_CONFIG_HOME", (h + "/config").c_str(), 1);
    return h;
  }();
  // Removed when the test program ends (not by forked children).
  static const struct Cleanup {
    pid_t owner = ::getpid();
    ~Cleanup() {
      if (::getpid() == owner && !std::getenv("PMR_DATADIR_PROBE")) {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
      }
    }
  } cleanup;
  return home;
}
inline const bool kDataHomeReady = !TestDataHome().empty();

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

inline ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

inline void SetProfiles(std::vector<MacroProfile> list, int current = 0) {
  std::lock_guard<std::mutex> lock(profileMutex);
  profiles = std::move(list);
  currentProfileIdx = current;
  g_ProfileDataRev.fetch_add(1);
}

inline std::vector<MacroProfile> GetProfiles(int* current = nullptr) {
  std::lock_guard<std::mutex> lock(profileMutex);
  if (current) *current = currentProfileIdx;
  return profiles;
}

}  // namespace statetest

inline void PrintTo(const UnifiedEvent& e, std::ostream* os) {
  *os << "{type " << e.type << ", time " << e.time << ", x " << e.x << ", y " << e.y << ", flags " << e.flags
      << ", vk " << e.vk << ", down " << e.keyDown << ", wheel " << e.wheelDelta << "}";
}

namespace statetest {

inline UnifiedEvent Ev(int type, double time, int64_t x = 0, int64_t y = 0, uint64_t flags = 0,
                       int vk = 0, bool down = false, int wheel = 0) {
  UnifiedEvent e;
  e.type = type;
  e.time = time;
  e.x = x;
  e.y = y;
  e.flags = flags;
  e.vk = vk;
  e.keyDown = down;
  e.wheelDelta = wheel;
  return e;
}

// The lines as this version writes them: the 36 and 20 fields of the lines
// before jitter existed, then the jitter group (no jitter, no sequence).
constexpr const char* kFreshSettings =
    "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121"
    // turbo, the five hotkeys' modifier masks, the panic combination
    ",0,0,0,0,0,0,1"
    // the jitters (the empty click sequence is left out)
    ",0,0,0";
constexpr const char* kFreshProfileSettings = "0,0,0,100,0,0,1,10,0,0,0,0,0,0,100,1,10,32,32,0,0,0,0";

// Start-up state, with the session file in a fresh directory of its own.
class StateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kDataHomeReady);
    ResetToolStateForTest();
    ResetAppSettingsForTest();
    ResetSessionWriterForTest();
    SetProfiles({});
    g_ProfilesRev.store(0);
    dir_ = NewTempDir("state");
    ASSERT_FALSE(dir_.empty());
    g_SessionStateFilePath = dir_ + "/session.dat";
    // The app settings live in the shared data directory: start without them.
    ::unlink(GetAppSettingsFilePath().c_str());
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  std::string SessionPath() const { return g_SessionStateFilePath; }
  std::string dir_;
};

}  // namespace statetest
