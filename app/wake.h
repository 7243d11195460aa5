#pragma once
// Wake-up object of a worker thread: a wake sent while nobody waits is kept and
// ends the next wait at once.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct WakeEvent {
  std::atomic<bool> flag{false};
  std::mutex mutex;
  std::condition_variable cv;  // timed waits use the monotonic clock (steady_clock)

  void Wake();
};

// Sleeps `ms` milliseconds; returns early when `ev` is woken or shutdown has begun.
// Sleeps on the condition variable until shortly before the deadline and yields
// for the rest, so short intervals stay accurate: 0.5 ms before it on a thread
// of normal priority, on a real-time thread just the worst recent lateness of
// its wake-ups plus a margin (at least 20 us, at most 0.5 ms).
void WaitIntervalOrWake(WakeEvent& ev, double ms);

// Waits until the flag of `ev` is consumed or shutdown has begun (no timeout).
void WaitUntilWoken(WakeEvent& ev);

// Monotonic clock in nanoseconds.
int64_t MonotonicNs();
