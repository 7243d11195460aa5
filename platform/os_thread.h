#pragma once
// Scheduling of the threads whose timing users feel: the auto clicker, the key
// spammer, playback, the input capture, its position thread and its watchdog.
// The kernel ends a real-time thread that runs 200 ms without blocking: a
// thread that may run long without blocking (under a flood of device events,
// or playing dense movement) calls OsRealtimeBudgetCheck on every pass of its
// loop. Implemented in platform/linux/sched/.

#include <cstdint>

// How far a thread got when it asked to be scheduled in time.
enum class ThreadTiming {
  kPlain,        // nothing could be raised; timer slack is still minimal
  kRaisedNice,   // a raised nice level (directly or through RealtimeKit)
  kRealtime,     // SCHED_FIFO set by the process itself
  kRealtimeKit,  // SCHED_FIFO (or RR) granted by RealtimeKit over the system bus
};

// Priorities among the time-critical threads (1 is the lowest real-time
// priority). The watchdog outranks the capture it watches, the capture (every
// key of the desktop waits for it) outranks the tools. All of them stay above
// 5, where WebKit's own threads (ours and every other WebKit program's) run
// round-robin with slices of 100 ms, and within RealtimeKit's usual limit (20).
inline constexpr int kTimingPriorityTool = 8;
inline constexpr int kTimingPriorityCapture = 9;
inline constexpr int kTimingPriorityWatchdog = 10;

// Makes the calling thread's sleeps end on time: the timer slack is set to its
// minimum, then, in this order, real-time scheduling is asked for directly
// (allowed by RLIMIT_RTPRIO or CAP_SYS_NICE), through RealtimeKit, a raised
// nice level directly, a raised nice level through RealtimeKit; the first that
// works is kept. Real-time threads get a CPU-time limit between blocking
// (RLIMIT_RTTIME), so a runaway loop ends the process instead of the desktop.
// Setting PMR_NO_REALTIME=1 in the environment skips everything but the slack.
ThreadTiming OsMakeThreadTimeCritical(int priority);

// For threads that must answer promptly but never run real-time: the minimal
// timer slack and a raised nice level (directly, else through RealtimeKit).
// Returns kRaisedNice or kPlain.
ThreadTiming OsRaiseThreadPriority();

// "plain", "nice", "realtime", "rtkit".
const char* ThreadTimingName(ThreadTiming timing);

// True while the calling thread runs under a real-time policy.
bool OsThreadIsRealtime();

// The running budget of a thread that OsMakeThreadTimeCritical made
// real-time (nothing for any other thread; a cheap system call otherwise):
// after 50 ms of running without blocking once, the thread steps down to
// normal scheduling with a raised nice level, long before the kernel's limit
// would end the process, and leaves the processor to the rest of the desktop
// while it floods; after half a second at normal scheduling, the first check
// that finds it has blocked again makes it real-time again.
void OsRealtimeBudgetCheck();
// True while the calling thread is stepped down by its budget.
bool OsRealtimeBudgetDemoted();
// How many times, in the whole process, a thread stepped down.
uint64_t OsRealtimeBudgetDemotions();
