#pragma once
// Timing helpers shared by the auto clicker and the key spammer: the interval
// between actions, the idle wait of a worker, and the short sleep-then-yield
// wait used inside a double click.
#include <atomic>
#include <cstdint>

#include "model/wake.h"

// The longest interval a tool waits, in milliseconds (about 31.7 years). The
// interval fields are 32-bit and are not clamped where they are read (a session
// file can hold 2^31-1 hours); capping the sum here keeps every deadline derived
// from it far inside the 64-bit nanosecond range, so a huge interval means
// "effectively never" instead of overflowing into an immediate wake.
inline constexpr double kMaxToolIntervalMs = 1e12;

// The pause after one action in whole milliseconds: the four parts summed in
// double precision, rounded up to a whole millisecond, at least 1, at most
// kMaxToolIntervalMs.
double ToolIntervalMs(int hours, int minutes, int seconds, int milliseconds);

// Sleeps until `sleepUntilNs` (absolute, monotonic; a sleep interrupted by a
// signal is resumed), then yields the processor until `deadlineNs` has passed.
void SleepThenYieldUntil(int64_t sleepUntilNs, int64_t deadlineNs);

