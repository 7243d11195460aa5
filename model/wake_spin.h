#pragma once
// How long a real-time thread spins at the end of a timed wait: long enough to
// cover how late its sleeps end on this machine, no longer, since every spun
// microsecond is processor time taken from the rest of the desktop (at a 1 ms
// interval, each 10 us of spin is 1 % of a core).
//
// The learner keeps the lateness of the thread's last sleeps and spins for a
// high percentile of them plus a small margin. A virtual machine or a busy
// host stalls a sleep by a millisecond now and then; a spin sized to the worst
// stall would burn a third of a core for the rare wait it saves, while the
// percentile lets such stalls pass and still follows a machine that turns
// slower as a whole (a new load) within a few dozen waits.
#include <array>
#include <cstddef>
#include <cstdint>

class WakeSpinLearner {
 public:
  // Spin before anything is learned, and the most ever spun.
  static constexpr int64_t kMaxSpinNs = 500'000;
  static constexpr int64_t kMinSpinNs = 20'000;
  static constexpr int64_t kMarginNs = 10'000;
  // Sleeps remembered, and how many must be seen before the first estimate.
  static constexpr size_t kWindow = 256;
  static constexpr size_t kFirstEstimate = 32;
  // The estimate is renewed every this many sleeps.
  static constexpr size_t kRenewEvery = 16;
  // Sleeps of the window allowed to end later than the spin covers (1 %).
  static constexpr size_t kUncovered = kWindow / 100;

  // One sleep that ended `lateNs` after the point it was set for.
  void Learn(int64_t lateNs);
  int64_t SpinNs() const { return spinNs_; }

 private:
  void Estimate();

  std::array<int32_t, kWindow> lateUs_{};
  size_t next_ = 0;
  size_t seen_ = 0;
  int64_t spinNs_ = kMaxSpinNs;
};

// How long a real-time thread may spin at the end of a wait. A repeating tool
// (the clicker, the key spammer) spins at most a twentieth of its interval, so
// at any rate it costs a bounded share of a core, even where the machine wakes
// its sleepers late; there its pauses come out a little long instead. Playback
// keeps a recorded schedule and spins as long as its wake-ups need.
enum class WaitSpin { kBounded, kAsNeeded };
inline constexpr double kBoundedSpinShare = 0.05;

// The spin of one wait of `durationNs`, given what the learner asks for.
int64_t WaitSpinNs(int64_t learnedNs, int64_t durationNs, WaitSpin kind);
