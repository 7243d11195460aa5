#pragma once
// Shared state of the three tools: running states, triggers, hotkeys, the hotkey
// lock, key reassignment and the tools' settings. Producers only set a trigger
// and wake the signal processor; ProcessSignals (tools/signals.h) applies them
// in a fixed order.
#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>

// Tool states.
extern std::atomic<bool> isRecording;
extern std::atomic<bool> isPlaying;
extern std::atomic<bool> isAutoClicking;
extern std::atomic<bool> isKeySpamming;
extern std::atomic<bool> isPickingLocation;

// Triggers.
extern std::atomic<bool> triggerRecord;
extern std::atomic<bool> triggerPlay;
extern std::atomic<bool> triggerPlayStop;
extern std::atomic<bool> triggerAutoClicker;
extern std::atomic<bool> triggerAutoClickStart;
extern std::atomic<bool> triggerAutoClickStop;
extern std::atomic<bool> triggerKeySpam;
extern std::atomic<bool> triggerKeySpamStart;
extern std::atomic<bool> triggerKeySpamStop;
// Requests from outside the window (command line, session bus, tray) that
// name the state they want rather than toggling.
extern std::atomic<bool> triggerRecordStart;
extern std::atomic<bool> triggerRecordStop;
extern std::atomic<bool> triggerPlayStart;
// Stops every tool, the recording and playback, then releases every key and
// button still held on the injection device.
extern std::atomic<bool> triggerStopAll;

// Hotkeys (VK codes).
constexpr int kDefaultVkRecord = 119;      // F8
constexpr int kDefaultVkPlay = 118;        // F7
constexpr int kDefaultVkAutoClicker = 117; // F6
constexpr int kDefaultVkKeySpam = 120;     // F9
constexpr int kDefaultVkUnlock = 121;      // F10
constexpr int kVkEscape = 27;
extern std::atomic<int> vkRecord;
extern std::atomic<int> vkPlay;
extern std::atomic<int> vkAutoClicker;
extern std::atomic<int> vkKeySpamHotkey;
extern std::atomic<int> vkUnlock;

// Hotkey lock and switches.
extern std::atomic<bool> g_HotkeyLockEnabled;
extern std::atomic<bool> g_HotkeysUnlocked;
extern std::atomic<bool> g_HotkeysEnabled;
extern std::atomic<bool> g_StopToolsWithMacro;  // written by the main thread, read by the signal processor
extern std::atomic<bool> g_HoldModeAuto;
extern std::atomic<bool> g_HoldModeKeySpam;

// Reassignment: 0 none, 1 record, 2 play, 3 auto clicker, 4 key-spam hotkey,
// 5 add a key-spam target, 6 unlock.
enum ReassignKind : int {
  kReassignNone = 0,
  kReassignRecord = 1,
  kReassignPlay = 2,
  kReassignAuto = 3,
  kReassignKeySpamHotkey = 4,
  kReassignKeySpamTarget = 5,
  kReassignUnlock = 6,
};
extern std::atomic<int> currentReassign;
extern std::atomic<int> capturedReassignKey;

// Auto clicker settings.
extern int autoClickIntervalHours;
extern int autoClickIntervalMins;
extern int autoClickIntervalSecs;
extern int autoClickIntervalMs;
extern int autoClickerButtonIdx;
extern int autoClickClickType;
extern int autoClickRepeatMode;
extern int autoClickRepeatTimes;
extern std::atomic<int> autoClickLocationMode;  // also set by the position pick on the capture thread
extern std::atomic<int> autoClickFixedX;
extern std::atomic<int> autoClickFixedY;
extern std::atomic<int> currentClickCount;

// Key spammer settings.
constexpr int kMaxKeySpamTargets = 3;
constexpr int kKeySpamTargetSlots = 256;
extern int keySpamIntervalHours;
extern int keySpamIntervalMins;
extern int keySpamIntervalSecs;
extern int keySpamIntervalMs;
extern int keySpamRepeatMode;
extern int keySpamRepeatTimes;
extern std::atomic<int> keySpamTargets[kKeySpamTargetSlots];
extern std::atomic<int> keySpamTargetCount;
extern std::atomic<int> vkKeySpamTarget;
extern std::atomic<bool> keySpamChordMode;
extern std::atomic<int> currentKeySpamCount;

// A tool's finished runs: the final count of the last one and how many have
// finished. The live count goes back to 0 when a tool stops; this keeps what
// the run did, so the page shows the true total rather than its last poll.
struct FinishedRuns {
  std::atomic<int> count{0};
  std::atomic<uint32_t> runs{0};
};
extern FinishedRuns lastClickRun;
extern FinishedRuns lastKeySpamRun;
// A worker's step while its tool is not running: a run that counted anything
// ends here, its count moving from `live` into `last`.
void SettleRunCount(std::atomic<int>& live, FinishedRuns& last);

// Recorder settings.
extern bool bRecordMouseMovement;
extern bool bRecordMouseClicks;
extern bool bRecordMouseScroll;
extern bool bRecordKeyboard;
extern bool bUseRelativeMouse;
extern float fPlaybackSpeed;
extern bool bLoopSequence;
extern int iLoopIntervalMs;

// The plain settings above are written by the main thread (the page, the
// session loader, profile switches) and read by the workers, the capture
// thread and the autosave. Every write goes through StoreSetting and every
// read off the main thread through ReadSetting, so both sides are atomic.
template <class T>
inline T ReadSetting(T& value) {
  return std::atomic_ref<T>(value).load(std::memory_order_relaxed);
}
template <class T>
inline void StoreSetting(T& target, std::type_identity_t<T> value) {
  std::atomic_ref<T>(target).store(value, std::memory_order_relaxed);
}

// Hotkey dispatch: true means the press was a hotkey and is swallowed.
bool HandleHotkeyDown(int code);
void OnHotkeyReleased(int code);
bool HoldModeAuto();
bool HoldModeKeySpam();

// Bridge handlers (argument already unwrapped for reassignKey).
void ReassignKey(const std::string& kind);
void ResetHotkeys();

// Puts every value of this header back to its initial value (tests).
void ResetToolStateForTest();
