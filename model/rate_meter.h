#pragma once
// The rate a running tool really reaches, from the times of its own recent
// clicks or cycles (the page shows it while the tool runs).
#include <atomic>
#include <cstdint>

// The times of a tool's most recent actions (a ring of kRateWindow), written
// by the tool's thread only and read by the status poll.
class RateMeter {
 public:
  static constexpr int kRateWindow = 32;
  // A new run: forgets the earlier actions.
  void Reset();
  void Mark(int64_t ns);
  // Actions per second over the recent actions (at most kRateWindow, none
  // older than 5 s before `nowNs`); 0 with fewer than two.
  double PerSecond(int64_t nowNs) const;

 private:
  std::atomic<int64_t> times_[kRateWindow] = {};
  std::atomic<uint32_t> count_{0};
};

extern RateMeter g_ClickRate;
extern RateMeter g_KeySpamRate;
