#pragma once
// Scheduling of the threads whose timing users feel: the auto clicker, the key
// spammer and the input watchdog. Only threads that block on every cycle may
// ask: the kernel ends a real-time thread that runs 200 ms without blocking.
// Implemented in platform/linux/sched/.

// How far a thread got when it asked to be scheduled in time.
enum class ThreadTiming {
  kPlain,        // nothing could be raised; timer slack is still minimal
  kRaisedNice,   // a raised nice level (directly or through RealtimeKit)
  kRealtime,     // SCHED_FIFO set by the process itself
  kRealtimeKit,  // SCHED_FIFO (or RR) granted by RealtimeKit over the system bus
};

// Priorities among the time-critical threads (1 is the lowest real-time
// priority). The watchdog outranks the tools.
inline constexpr int kTimingPriorityTool = 5;
inline constexpr int kTimingPriorityWatchdog = 7;

// Makes the calling thread's sleeps end on time: the timer slack is set to its
// minimum, then, in this order, real-time scheduling is asked for directly
// (allowed by RLIMIT_RTPRIO or CAP_SYS_NICE), through RealtimeKit, a raised
// nice level directly, a raised nice level through RealtimeKit; the first that
// works is kept. Real-time threads get a CPU-time limit between blocking
// (RLIMIT_RTTIME), so a runaway loop ends the process instead of the desktop.
// Setting PMR_NO_REALTIME=1 in the environment skips everything but the slack.
ThreadTiming OsMakeThreadTimeCritical(int priority);

// For threads that must answer promptly but may run long without blocking (the
// input capture under a flood of device events): the minimal timer slack and a
// raised nice level (directly, else through RealtimeKit), never a real-time
// policy. Returns kRaisedNice or kPlain.
ThreadTiming OsRaiseThreadPriority();

// "plain", "nice", "realtime", "rtkit".
const char* ThreadTimingName(ThreadTiming timing);

// True while the calling thread runs under a real-time policy.
bool OsThreadIsRealtime();
