#pragma once
// The auto clicker: clicks a mouse button at a set interval, where the pointer
// is or at a fixed position, until stopped or a set number of clicks is made.
#include <cstdint>

// The worker loop (thread name "PMR autoclicker").
void AutoClickerThread();

// Recorded flags of the clicked button, by button index 0 left, 1 right,
// 2 middle: press 2/8/32, release 4/16/64.
inline constexpr uint64_t kClickPressFlags[3] = {2, 8, 32};
inline constexpr uint64_t kClickReleaseFlags[3] = {4, 16, 64};

// The gap between the two clicks of a double click: sleep to 13 ms after the
// first release, then yield until 15 ms.
inline constexpr int64_t kDoubleClickSleepNs = 13000000;
inline constexpr int64_t kDoubleClickGapNs = 15000000;

// One pass of the loop after the running checks: moves to the fixed position
// when set, makes the click (or double click), counts it. Exposed for tests.
void AutoClickOnce();

// The pause after a click in milliseconds, from the current settings.
double AutoClickIntervalMs();
