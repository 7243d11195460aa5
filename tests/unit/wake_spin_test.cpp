// WakeSpinLearner: the spin at the end of a real-time wait follows what most
// sleeps need, not the rare stall, and never leaves its bounds.
#include <gtest/gtest.h>

#include <vector>

#include "model/wake_spin.h"

namespace {

using L = WakeSpinLearner;

// Feeds `n` sleeps; every `spikeEvery`-th one (0: none) ends `spikeUs` late,
// the rest `baseUs` late.
void Feed(L& l, int n, int baseUs, int spikeEvery = 0, int spikeUs = 0) {
  for (int i = 1; i <= n; ++i) l.Learn(1000LL * ((spikeEvery && i % spikeEvery == 0) ? spikeUs : baseUs));
}

TEST(WakeSpinLearner, SpinsTheMostUntilItHasSeenEnough) {
  L l;
  EXPECT_EQ(l.SpinNs(), L::kMaxSpinNs);
  Feed(l, static_cast<int>(L::kFirstEstimate) - 1, 30);
  EXPECT_EQ(l.SpinNs(), L::kMaxSpinNs);
  Feed(l, 1, 30);
  EXPECT_EQ(l.SpinNs(), 30'000 + L::kMarginNs);
}

TEST(WakeSpinLearner, RareStallsDoNotSetTheSpin) {
  // One sleep in 200 stalled by 1.5 ms (about what a virtual machine's host
  // does): covered sleeps cost a spin of their own lateness, not the stall's.
  L l;
  Feed(l, 5000, 40, 200, 1500);
  EXPECT_EQ(l.SpinNs(), 40'000 + L::kMarginNs);
}

TEST(WakeSpinLearner, FrequentLatenessIsCovered) {
  // One sleep in 20 ends 150 us late: more than the uncovered share, so the
  // spin reaches it.
  L l;
  Feed(l, 1000, 40, 20, 150);
  EXPECT_EQ(l.SpinNs(), 150'000 + L::kMarginNs);
}

TEST(WakeSpinLearner, FollowsAMachineThatTurnsSlowerAndBackWithinAWindow) {
  L l;
  Feed(l, 1000, 20);
  const int64_t quiet = l.SpinNs();
  Feed(l, static_cast<int>(L::kUncovered + L::kRenewEvery) + 1, 90);
  EXPECT_EQ(l.SpinNs(), 90'000 + L::kMarginNs) << "a load that makes every sleep late is covered within a few dozen";
  Feed(l, static_cast<int>(L::kWindow + L::kRenewEvery), 20);
  EXPECT_EQ(l.SpinNs(), quiet) << "and forgotten once a whole window is quiet again";
}

TEST(WakeSpinLearner, StaysWithinItsBounds) {
  struct Case {
    int64_t lateNs;
    int64_t spin;
  } cases[] = {
      {0, L::kMinSpinNs},
      {-5'000, L::kMinSpinNs},  // a clock read before the point: nothing to cover
      {3'000, L::kMinSpinNs},
      {2'000'000, L::kMaxSpinNs},
      {INT64_MAX / 2, L::kMaxSpinNs},
  };
  for (const Case& c : cases) {
    L l;
    for (size_t i = 0; i < L::kWindow; ++i) l.Learn(c.lateNs);
    EXPECT_EQ(l.SpinNs(), c.spin) << c.lateNs;
  }
}

TEST(WaitSpinNs, ARepeatingToolSpinsAtMostATwentiethOfItsIntervalPlaybackAsNeeded) {
  struct Case {
    int64_t learned, duration;
    WaitSpin kind;
    int64_t spin;
  } cases[] = {
      {300'000, 1'000'000, WaitSpin::kBounded, 50'000},     // 1 ms clicker on a machine that wakes late
      {30'000, 1'000'000, WaitSpin::kBounded, 30'000},      // a punctual machine needs less than the bound
      {300'000, 100'000'000, WaitSpin::kBounded, 300'000},  // 100 ms: the bound is far away
      {300'000, 100'000, WaitSpin::kBounded, L::kMinSpinNs},
      {300'000, 1'000'000, WaitSpin::kAsNeeded, 300'000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WaitSpinNs(c.learned, c.duration, c.kind), c.spin) << c.learned << " " << c.duration;
}

}  // namespace
