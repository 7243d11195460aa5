#pragma once
// Profiles: a recording plus a snapshot of the auto clicker and key spammer
// settings. The list, the current index and the events are guarded by
// profileMutex.
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

// UnifiedEvent types.
inline constexpr int32_t kEventMove = 1;
inline constexpr int32_t kEventButton = 2;
inline constexpr int32_t kEventKey = 3;
inline constexpr int32_t kEventWheel = 4;
// The horizontal wheel: wheelDelta in 1/120 notches, positive to the right.
// Older versions keep these events and play nothing for them.
inline constexpr int32_t kEventHWheel = 5;

// Button flags of a type-2 event.
inline constexpr uint64_t kFlagLeftDown = 2, kFlagLeftUp = 4;
inline constexpr uint64_t kFlagRightDown = 8, kFlagRightUp = 16;
inline constexpr uint64_t kFlagMiddleDown = 32, kFlagMiddleUp = 64;
inline constexpr uint64_t kFlagOtherDown = 128;

struct MacroProfile {
  std::string name;
  std::string settingsLine;  // profile settings line; empty when none stored yet
  std::vector<UnifiedEvent> events;
};

inline constexpr const char* kDefaultProfileName = "Default Tracking Profile";
inline constexpr int kMaxProfiles = 3;

extern std::vector<MacroProfile> profiles;
extern int currentProfileIdx;
extern std::mutex profileMutex;
// Incremented by every profile operation the page asks for; the page watches it.
extern std::atomic<int> g_ProfilesRev;
// Incremented (under profileMutex) whenever the list is replaced or a
// profile's events are changed other than by appending, so the autosave
// notices changes that keep the event count. Appends need not touch it.
extern std::atomic<uint64_t> g_ProfileDataRev;

// Start-up, after the session was loaded: puts the default profile at the
// front when no profile carries its name; the current profile stays current.
void EnsureDefaultProfileExists();
// Stores the current tool settings into the current profile's settings line.
void SnapshotActiveProfileSettings();
// Auto clicker and key spammer settings back to their defaults (recorder
// settings and hotkeys untouched).
void ResetAutoClickerKeySpamDefaults();
// The profile list JSON; the caller holds profileMutex.
std::string BuildProfilesJsonLocked();

// Bridge handlers (argument already unwrapped by ParseJSString). Every one
// but BindGetProfiles answers the empty text. All are refused while a
// recording runs.
std::string BindGetProfiles();
// Line breaks in the name become spaces, so a name is always one line of the
// session file.
void BindAddProfile(const std::string& name);
void BindDeleteProfile();
void BindSwitchProfile(const std::string& indexText);
void BindClearProfile();
