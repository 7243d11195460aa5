#pragma once
// Profiles: a recording plus a snapshot of the tool settings. The list, the
// current index and the events are guarded by profileMutex.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One recorded input event.
struct UnifiedEvent {
  int32_t type = 0;        // 1 pointer movement, 2 mouse button, 3 key, 4 wheel
  double time = 0;         // seconds since the start of the recording
  int64_t x = 0;
  int64_t y = 0;
  uint64_t flags = 0;      // type 2: 2/4 left, 8/16 right, 32/64 middle, 128 other press
  int32_t vk = 0;          // type 3
  bool keyDown = false;    // type 3
  int32_t wheelDelta = 0;  // type 4, 1/120 notch

  bool operator==(const UnifiedEvent&) const = default;
};

struct MacroProfile {
  std::string name;
  std::string settingsLine;
  std::vector<UnifiedEvent> events;
};

inline constexpr const char* kDefaultProfileName = "Default Tracking Profile";
inline constexpr int kMaxProfiles = 3;

extern std::vector<MacroProfile> profiles;
extern int currentProfileIdx;
extern std::mutex profileMutex;
extern std::atomic<int> g_ProfilesRev;

void EnsureDefaultProfileExists();
void SnapshotActiveProfileSettings();
void ResetSpammerKeySpamDefaults();
std::string BuildProfilesJsonLocked();

// Bridge handlers (argument already unwrapped); results as the bridge returns them.
std::string BindGetProfiles();
void BindAddProfile(const std::string& name);
void BindDeleteProfile();
void BindSwitchProfile(const std::string& indexText);
void BindClearProfile();
