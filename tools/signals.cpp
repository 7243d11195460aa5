// The signal processor: applies pending triggers in one fixed order.
#include <mutex>

#include "model/hotkey_guard.h"
#include "model/profiles.h"
#include "model/wake.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "tools/keyspammer.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "tools/signals.h"

void PlatformMouseButtonUp(int button) { OsMouseButton(button, false, 1); }

namespace {

bool Consume(std::atomic<bool>& trigger) { return trigger.exchange(false); }

void ApplyStopToolsRule() {
  if (!g_StopToolsWithMacro) return;
  triggerAutoClickStop.store(true);
  triggerKeySpamStop.store(true);
}

void ReleaseLeftRight() {
  PlatformMouseButtonUp(0);
  PlatformMouseButtonUp(1);
}

void ReleaseAllButtons() {
  PlatformMouseButtonUp(0);
  PlatformMouseButtonUp(1);
  PlatformMouseButtonUp(2);
}

void CompleteReassignment() {
  int kind = currentReassign.load();
  int key = capturedReassignKey.load();
  if (kind == 0 || key == 0) return;
  // Stored before the key by the hooks.
  const int mods = capturedReassignMods.load();
  if (key != kVkEscape) {
    switch (kind) {
      case kReassignRecord:
      case kReassignPlay:
      case kReassignAuto:
      case kReassignKeySpamHotkey:
      case kReassignUnlock:
        // Never two tools on one key; a typing key waits for the user's yes.
        if (GuardHotkeyReassignment(kind, key, mods)) StoreHotkey(kind, key, mods);
        break;
      case kReassignKeySpamTarget: {
        int count = keySpamTargetCount.load();
        if (count >= 0 && count < kMaxKeySpamTargets) {
          keySpamTargets[count].store(key);
          keySpamTargetCount.store(count + 1);
          vkKeySpamTarget.store(keySpamTargets[0].load());
          SnapshotActiveProfileSettings();
        }
        break;
      }
      default: break;
    }
  }
  currentReassign.store(0);
  capturedReassignKey.store(0);
  capturedReassignMods.store(0);
}

// How long the end of a recording waits for movement still asking the shell
// for its position.
constexpr int kMotionFlushMs = 250;

void StartRecording() {
  std::lock_guard<std::mutex> lock(profileMutex);
  BeginRecordingLocked();
}

void StopRecording() {
  // Movement read before the stop may still wait for its position.
  OsInputFlushMotion(kMotionFlushMs);
  isRecording.store(false);
  FinishRecording();
  ApplyStopToolsRule();
}

void SetPlaying(bool nowPlaying) {
  if (nowPlaying && !CurrentProfileHasEvents()) {
    // Play state with nothing to play would look like a playback that
    // does nothing; say why instead.
    PostPageNote("Nothing to play yet: record a macro with " + GetKeyName(vkRecord.load()) + " first.");
    return;
  }
  if (nowPlaying) g_PlayRun.fetch_add(1);
  isPlaying.store(nowPlaying);
  if (!nowPlaying) {
    ReleaseLeftRight();
    ApplyStopToolsRule();
  }
}

}  // namespace

void ProcessSignals() {
  CompleteReassignment();

  // Stop everything: the stop triggers below act in this same pass; what is
  // still held is released at the end of it.
  const bool stopAll = Consume(triggerStopAll);
  if (stopAll) {
    triggerRecordStop.store(true);
    triggerPlayStop.store(true);
    triggerAutoClickStop.store(true);
    triggerKeySpamStop.store(true);
  }

  if (Consume(triggerRecord) && !isPlaying.load()) {
    if (isRecording.load())
      StopRecording();
    else
      StartRecording();
  }
  if (Consume(triggerRecordStart) && !isPlaying.load() && !isRecording.load()) StartRecording();
  if (Consume(triggerRecordStop) && isRecording.load()) StopRecording();

  if (Consume(triggerPlay) && !isRecording.load()) {
    SetPlaying(!isPlaying.load());
    WakePlaybackThread();
  }
  if (Consume(triggerPlayStart) && !isRecording.load() && !isPlaying.load()) {
    SetPlaying(true);
    WakePlaybackThread();
  }

  if (Consume(triggerPlayStop) && !isRecording.load() && isPlaying.load()) {
    isPlaying.store(false);
    ReleaseLeftRight();
    ApplyStopToolsRule();
    WakePlaybackThread();
  }

  // Hold mode: whether a hold hotkey is down becomes a start or a stop for
  // the steps below (a stop of the lock or a panic in this pass still wins).
  ApplyHoldTriggers();

  if (Consume(triggerAutoClicker)) {
    bool nowClicking = !isAutoClicking.load();
    isAutoClicking.store(nowClicking);
    if (!nowClicking) ReleaseAllButtons();
    WakeAutoClickThread();
  }

  if (Consume(triggerAutoClickStart) && !isAutoClicking.load()) {
    isAutoClicking.store(true);
    WakeAutoClickThread();
  }

  if (Consume(triggerAutoClickStop) && isAutoClicking.load()) {
    isAutoClicking.store(false);
    ReleaseAllButtons();
    WakeAutoClickThread();
  }

  if (Consume(triggerKeySpam)) {
    if (isKeySpamming.load()) {
      isKeySpamming.store(false);
      ReleaseAllKeySpamTargets();
    } else if (keySpamTargetCount.load() > 0) {
      isKeySpamming.store(true);
    }
    WakeKeySpamThread();
  }

  if (Consume(triggerKeySpamStart) && !isKeySpamming.load() && keySpamTargetCount.load() > 0) {
    isKeySpamming.store(true);
    WakeKeySpamThread();
  }

  if (Consume(triggerKeySpamStop) && isKeySpamming.load()) {
    isKeySpamming.store(false);
    ReleaseAllKeySpamTargets();
    WakeKeySpamThread();
  }

  if (stopAll) OsInputReleaseAllHeld();
}
