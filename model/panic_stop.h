#pragma once
// The panic stop: one combination that stops every tool, the recording and
// playback and releases every key and button the program holds, whatever the
// hotkey lock and the hotkey switch say. It is watched on the capture thread
// before anything else sees the key, and acts through the signal processor, so
// a busy page cannot hold it up.
//
// The default is both Shift keys together: it is pressed at once (no count
// against a clock that a loaded machine could stretch), it is rare in typing
// and in games (either Shift alone is everyday), and it never competes with
// Escape, which cancels a reassignment and closes dialogs and is pressed
// several times in a row in ordinary use.
#include <atomic>
#include <cstdint>
#include <string>

enum PanicCombo : int {
  kPanicOff = 0,
  kPanicBothShifts = 1,  // one Shift key pressed while the other is held
  kPanicEscThrice = 2,   // Escape pressed three times within one second
};
inline constexpr int kDefaultPanicCombo = kPanicBothShifts;
inline constexpr int64_t kPanicEscWindowNs = 1'000'000'000;
extern std::atomic<int> g_PanicCombo;

// Every key press and release (repeats included, `repeat` set) as the input
// hooks see it, first. True when this press completed the combination: the
// stop is under way and the press is swallowed.
bool PanicKey(int vk, bool down, bool repeat, int64_t nowNs);
// Stops everything (also called by PanicKey) and counts the stop for the page
// (status JSON `panicStops`), which says what happened.
void PanicStop();
extern std::atomic<int> g_PanicStops;

// The setting as the page and the session file name it: a number 0..2; anything
// else is ignored.
void SetPanicCombo(const std::string& text);
// Forgets keys seen (session lock, tests).
void ResetPanicWatch();
