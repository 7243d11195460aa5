#pragma once
// The running budget of a real-time thread that may go long without blocking
// (the input capture under a flood of device events, playback of dense
// movement). The kernel ends the whole process when a real-time thread runs
// RLIMIT_RTTIME (200 ms) without blocking once; long before that, the thread
// drops to normal scheduling by itself, which also hands the processor back to
// the rest of the desktop for as long as the flood lasts. Once the thread has
// blocked again after a rest, it is real-time again.
//
// This is the decision alone, fed with the time and the thread's count of
// voluntary context switches (each one a block), so it can be checked without
// the right to real-time scheduling.
#include <cstdint>

// Running time without a block after which the thread steps down: a quarter
// of the kernel's limit, which leaves room for a whole pass of work between
// two checks.
inline constexpr int64_t kRtBudgetNs = 50'000'000;
// The least time spent at normal scheduling before the thread asks for
// real-time again, so a flood that pauses now and then does not turn into a
// stream of scheduling requests (each one a D-Bus call under RealtimeKit).
inline constexpr int64_t kRtRestNs = 500'000'000;

class RtBudget {
 public:
  enum class Action { kNone, kDemote, kRestore };

  RtBudget(int64_t budgetNs = kRtBudgetNs, int64_t restNs = kRtRestNs) : budgetNs_(budgetNs), restNs_(restNs) {}

  // One look at the thread: `nowNs` on the monotonic clock, `blocks` its
  // voluntary context switches so far. kDemote: step down to normal
  // scheduling now. kRestore: ask for real-time again; when that fails, call
  // RestoreFailed.
  Action Check(int64_t nowNs, uint64_t blocks);
  void RestoreFailed(int64_t nowNs);
  bool demoted() const { return demoted_; }

 private:
  int64_t budgetNs_;
  int64_t restNs_;
  bool started_ = false;
  uint64_t blocks_ = 0;
  int64_t runStartNs_ = 0;
  bool demoted_ = false;
  int64_t demotedAtNs_ = 0;
};
