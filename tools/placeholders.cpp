// Placeholders for the tool threads and the recorder until they land.
#include "app/app.h"
#include "tools/autoclicker.h"
#include "tools/keyspammer.h"
#include "tools/recorder.h"
#include "tools/tool_state.h"

void AutoClickerThread() {
  while (g_AppRunning.load()) WaitIntervalOrWake(g_AutoClickWake, 1e9);
}
void KeySpammerThread() {
  while (g_AppRunning.load()) WaitIntervalOrWake(g_KeySpamWake, 1e9);
}
void ReleaseAllKeySpamTargets() {}
void RemoveKeySpamTarget(const std::string&) {}
void BeginRecordingLocked() { isRecording.store(true); }
void FinishRecording() {}
void RecordEvent(const UnifiedEvent&) {}
bool TapKey(int, bool) { return false; }
bool TapMouseButton(int, bool, double, double) { return false; }
void TapMouseMove(bool, double, double, long, long) {}
void TapScroll(int) {}
void TapRequestReset() {}
void SetKeySpamChordMode(const std::string&) {}
