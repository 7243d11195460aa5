#pragma once
// What the page polls: the status JSON (tool states, hotkey names, key-spam
// targets, look flags, the profile list) and the settings JSON (every numeric
// and boolean tool setting); and the comma lists the page sends back for the
// auto clicker and the key spammer. Both JSON texts are built by hand with
// keys in a fixed order and no white space.
#include <atomic>
#include <string>

// Set while the pointer hovers a panel of a joined window; reported only.
extern std::atomic<bool> g_PanelHoverActive;

// The status JSON; `restore` (a JSON array text) is inserted unchanged.
// The caller holds profileMutex for the whole call.
std::string BuildStatusJson(const std::string& restore);
// The settings JSON. Takes no lock.
std::string BuildSettingsJson();

// The getTrackerStatus poll: status JSON under the profile lock, the panel
// settings file when the settings changed, the status file; returns the status.
std::string RunStatusPoll();
// Writes the settings JSON to the panel settings file when it differs from
// the text last written successfully.
void RefreshPanelSettingsFile();
std::string GetPanelSettingsFilePath();

// Comma lists of updateSpammer (the auto clicker, 9 fields) and updateKeySpam
// (6 fields).
// Fewer fields change nothing; extra fields are ignored.
void ApplyAutoClickerUpdate(const std::string& list);
// Bridge handler of setFixedSpot: "x,y" in desktop pixels (numbers,
// truncated, kept within the 32-bit range). With both readable: the fixed
// spot becomes (x, y), location mode 1, and the settings are copied into the
// current profile; otherwise nothing changes.
void ApplyFixedSpotUpdate(const std::string& list);
void ApplyKeySpamUpdate(const std::string& list);
// Bridge handler of updateJitter: "click jitter ms,click radius px,key jitter
// ms". Each field is a number clamped to its range and truncated; a missing,
// empty or unreadable field keeps its value. Copies the settings into the
// current profile.
void ApplyJitterUpdate(const std::string& list);
// Comma list of updateRecorder: record keyboard, mouse clicks, pointer
// movement, wheel, relative movement (numbers, non-zero on), playback speed
// (kept within 0.1 to 10), loop (non-zero on), pause between loops in ms
// (0 to 86,400,000). A missing, empty or unreadable field keeps its value.
void ApplyRecorderUpdate(const std::string& list);
inline constexpr int kMaxLoopIntervalMs = 86400000;

// Field rules of the comma lists (exposed for tests).
// A finite number using the whole field (leading white space and trailing spaces allowed),
// otherwise `current`.
double FieldNumber(const std::string& field, double current);
// A number field for an int target: truncated toward zero, clamped to int.
int FieldInt(const std::string& field, int current);
// A repeat count: at most 1,000,000,000; zero, negatives and unparsable
// fields over a non-positive current value become 0.
int FieldCount(const std::string& field, int current);
// Hours, minutes, seconds, milliseconds: each clamped to 0..1,000,000, then
// fractions carried downward only (1.5 h becomes 1 h 30 min).
void ApplyIntervalFields(const std::string& hours, const std::string& mins,
                         const std::string& secs, const std::string& ms,
                         int& outHours, int& outMins, int& outSecs, int& outMs);
