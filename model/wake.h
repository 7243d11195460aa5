#pragma once
// What every thread of the process waits on: the running flag, the wake-up
// objects of the worker threads and the waits that end on either. Below the
// tools, so a tool wakes another without knowing who started it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "model/wake_spin.h"

// Wake-up object of a worker thread: a wake sent while nobody waits is kept and
// ends the next wait at once.
struct WakeEvent {
  std::atomic<bool> flag{false};
  std::mutex mutex;
  std::condition_variable cv;  // timed waits use the monotonic clock (steady_clock)

  void Wake();
};

// Sleeps `ms` milliseconds; returns early when `ev` is woken or shutdown has begun.
// Sleeps on the condition variable until shortly before the deadline and yields
// for the rest, so short intervals stay accurate: 0.5 ms before it on a thread
// of normal priority, on a real-time thread just what covers the lateness of
// nearly all its recent wake-ups (model/wake_spin.h), within `spin`'s bound.
void WaitIntervalOrWake(WakeEvent& ev, double ms, WaitSpin spin = WaitSpin::kBounded);

// Waits until the flag of `ev` is consumed or shutdown has begun (no timeout).
void WaitUntilWoken(WakeEvent& ev);

// Monotonic clock in nanoseconds.
int64_t MonotonicNs();

// Cleared once at shutdown; every wait above ends when it is.
extern std::atomic<bool> g_AppRunning;
// The main page has loaded and taken its settings (set by the app settings
// handler, cleared when a page load begins); status pushes wait for it.
extern std::atomic<bool> g_MainPageReady;

// The worker threads' wake-up objects (see docs/architecture.md, Threads).
extern WakeEvent g_SignalWake;
extern WakeEvent g_AutoClickWake;
extern WakeEvent g_KeySpamWake;
extern WakeEvent g_PlaybackWake;
extern WakeEvent g_AutosaveWake;

void WakeSignalProcessor();
void WakeAutoClickThread();
void WakeKeySpamThread();
void WakePlaybackThread();
