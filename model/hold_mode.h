#pragma once
// Hold to run and turbo.
//
// Hold mode (g_HoldModeAuto, g_HoldModeKeySpam): the tool runs exactly while
// its hotkey is held. The press and the release only record whether the key is
// down and set a trigger; the signal processor turns that level into a start
// or a stop, so a quick release and press again can never leave the tool
// stopped while its key is held (or running while it is up).
//
// Turbo (g_TurboAuto): while the auto clicker runs it is armed rather than
// clicking; it clicks while the real mouse button it uses is held. The real
// press and release are swallowed from the desktop, the tool's own clicks go
// through the injection device. The capture reads only the real devices (the
// injection device and the twins are the program's own and never read), so the
// tool's clicks can never be taken for the user's button.
#include <atomic>
#include <string>

extern std::atomic<bool> g_TurboAuto;
// The real button the turbo clicker follows is held (capture thread writes).
extern std::atomic<bool> g_TurboButtonHeld;
extern std::atomic<bool> triggerHoldAuto;
extern std::atomic<bool> triggerHoldKeySpam;

// Hotkey dispatch, capture thread: the hotkey of `kind` (kReassignAuto or
// kReassignKeySpamHotkey) was pressed as `code`. True when hold mode handles it.
bool HoldHotkeyDown(int kind, int code);
// A swallowed press of `code` was released.
void HoldHotkeyUp(int code);

// The VK code of the button the auto clicker clicks (1, 2 or 4); 0 for none.
int TurboButtonVk();
// Button hook, capture thread, for a press or release nothing before it took:
// true when turbo takes it (press) or took its press (release).
bool TurboButton(int button, bool down);
// The auto clicker thread: armed for turbo with the button up, so it waits.
bool TurboWaitsForButton();

// The tool threads, before each action: a run that hold mode started and
// whose key is already up makes no further click or key press, even before
// the signal processor has stopped it. `kind` is kReassignAuto or
// kReassignKeySpamHotkey.
bool HoldReleasedBeforeStop(int kind);

// Signal processor: turns the hold levels into the start and stop triggers
// of the steps that follow.
void ApplyHoldTriggers();
// Forgets every held hotkey and the turbo button (panic stop, session lock,
// tests).
void ClearHoldState();

// Bridge `setHoldOption`: "auto,1", "keyspam,0", "turbo,1" (unwrapped).
void SetHoldOption(const std::string& text);
