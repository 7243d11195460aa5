#pragma once
// The session state file: the tool settings and hotkeys, the current profile,
// and every profile with its settings and its recording. Read once at
// start-up, written by the autosave every 5 s when its content changed and
// once more at shutdown.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/strings.h"
#include "state/profiles.h"


// The largest session file that is loaded (about 17 million recorded events).
// A larger one is renamed to session.dat.too-large and the session starts
// from the defaults, so the first autosave never overwrites it.
inline constexpr size_t kSessionFileMaxBytes = size_t{512} << 20;

// Settings line: 43 comma-separated fields (tool settings and hotkeys; 36 to
// 42 are turbo, the hotkeys' modifier masks and the panic combination).
std::string SerializeSettings();
// Applies a settings line of any known generation (23, 31, 33, 35, 36 or 43 fields).
void DeserializeSettings(std::string_view line);
// Profile settings line: 20 comma-separated fields (auto clicker and key spammer).
std::string SerializeProfileSettings();
// Applies a profile settings line of 18 to 20 fields.
void DeserializeProfileSettings(std::string_view line);
// The key-spam targets in use, joined with "|"; empty when there are none.
std::string SerializeKeySpamTargetList();
// Up to 3 readable entries, stored at the front; true when the list was read.
bool DeserializeKeySpamTargetList(std::string_view text);

// One event line, newline not included: type,time,x,y,flags,vk,keyDown,wheelDelta.
void AppendEventLine(std::string& out, const UnifiedEvent& ev);
// Reads an event line; false when it must be skipped (a field missing, not a
// number or out of range). Fields after the eighth are ignored.
bool ParseEventLine(std::string_view line, UnifiedEvent& out);
// The whole file text for the given settings line, current index and profiles.
std::string BuildSessionText(const std::string& settingsLine, int current,
                             const std::vector<MacroProfile>& list);

// Reads the session file (GetSessionStateFilePath()). False when it gave no
// usable profile; the settings of a valid first line are applied even then.
// Of a file that lists more profiles than the program keeps (kMaxProfiles),
// the current profile, the first default profile and the earliest others
// are kept, leaving room for the default profile when the file has none.
bool LoadSessionState();
// The autosave: skips this save when the profile lock is busy; writes only
// when the content differs from what was last written.
void SaveSessionState();
// The shutdown save: waits for the profile lock instead of skipping.
void SaveSessionStateBlocking();

// Figures of the most recent save that got past the lock (tests, benchmarks).
struct SessionSaveStats {
  bool skippedBusy = false;     // the profile lock was busy; nothing done
  bool rebuilt = false;         // the text was formatted (something may have changed)
  bool wrote = false;           // the file was replaced
  bool writeFailed = false;     // replacing the file failed; retried next time
  int64_t lockHoldNs = 0;       // time the profile lock was held
  uint64_t bytes = 0;           // size of the text (when rebuilt)
};
SessionSaveStats LastSessionSaveStats();
// Forgets what was written, as at process start (tests).
void ResetSessionWriterForTest();
