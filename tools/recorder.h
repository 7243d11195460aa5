#pragma once
// Macro recording: the time base, appending events to the current profile, the
// tools' own clicks and keys, starting and finishing a recording, and the input
// hooks the capture thread calls for every key, button, movement and wheel event.
#include <atomic>
#include <cstdint>

#include "model/profiles.h"

// Monotonic clock reading (ns) at the start of the recording.
extern std::atomic<int64_t> g_RecordStart;

void MarkRecordStartTime();
double RecordElapsedSeconds();

// Appends one event to the events of the current profile under profileMutex.
// Dropped when there is no current profile.
void RecordEvent(const UnifiedEvent& ev);

// The tools' own output, appended while a recording runs:
// a click of the auto clicker (type 2; nothing when flags is 0 or mouse-click
// recording is off) and a key of the key spammer (type 3; nothing for vk <= 0
// or when keyboard recording is off).
void RecordToolClick(uint64_t flags, int64_t x, int64_t y);
void RecordToolKey(int vk, bool down);

// Starts a new recording: empties the current profile's events, marks the start
// time, sets isRecording. The caller holds profileMutex.
void BeginRecordingLocked();
// Normalises the times of the recording just stopped (the earliest becomes 0);
// takes profileMutex itself. Called after isRecording was cleared.
void FinishRecording();

// Hooks called by the capture thread; true swallows the event (it is not passed
// on to the desktop). Codes are VK codes; keys and buttons outside 1..255 are
// not keys of this system and pass through untouched.
bool TapKey(int vk, bool down);
// Buttons in two steps: TapMouseButton decides at once (kButtonTap* bits of
// platform/os_input.h); PlaceMouseButton gets where the button went when the
// decision asked for it, in event order, possibly from another thread.
int TapMouseButton(int button, bool down);
void PlaceMouseButton(int button, bool down, int tap, bool havePosition, double x, double y);
// Both steps at once, with a known position (tests and tools that know it).
bool TapMouseButtonAt(int button, bool down, double x, double y);
void TapMouseMove(bool havePosition, double x, double y, long dx, long dy);
void TapScroll(int wheel);
void TapHScroll(int wheel);
// Asks the hooks to forget every held and swallowed key and button before they
// handle their next event (the session locked; the devices are reopened later).
void TapRequestReset();

// The hooks above as the capture takes them (OsSetInputHooks).
struct InputHooks;
const InputHooks& ToolInputHooks();

// Forgets the hooks' tracking state at once (tests).
void ResetInputHooksForTest();
