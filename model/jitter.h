#pragma once
// Random jitter of the auto clicker and the key spammer.
//
// Interval jitter: each pause is the set interval I plus an offset drawn
// uniformly from [-J, +J] milliseconds (continuous, not whole milliseconds),
// independently for every pause. A pause never drops below 1 ms: when I - J is
// below 1, J is reduced to I - 1 so the range stays symmetric around I and the
// mean pause stays I. Each offset is applied to one pause only, so offsets
// never add up to a drift of the rate.
//
// Position jitter (auto clicker): each click at a known position (the fixed
// spot, a point of the click sequence) lands at an offset drawn uniformly over
// the disc of radius R pixels around it (uniform by area: distance R * sqrt(u),
// angle 2 pi v), rounded to whole pixels. Clicks where the pointer is are not
// moved.
#include <cstdint>
#include <string>

// The settings (written by the main thread through StoreSetting, read by the
// workers through ReadSetting). 0 means no jitter.
extern int autoClickJitterMs;      // ± milliseconds on each pause of the clicker
extern int autoClickJitterRadius;  // pixels around each fixed click position
extern int keySpamJitterMs;        // ± milliseconds on each pause of the key spammer

// Largest values accepted from the page or a file.
inline constexpr int kMaxJitterMs = 3600000;
inline constexpr int kMaxJitterRadius = 10000;

// The range of pauses that interval `intervalMs` with jitter `jitterMs` gives.
struct JitterRange {
  double lowMs;
  double highMs;
};
JitterRange IntervalJitterRange(double intervalMs, int jitterMs);

// The pause for one draw `u` in [0, 1): low + u * (high - low).
double JitteredIntervalMsAt(double intervalMs, int jitterMs, double u);
// The offset for draws `u`, `v` in [0, 1) over the disc of `radius` pixels.
void DiscOffsetAt(int radius, double u, double v, int& dx, int& dy);

// The same with draws from the calling thread's own generator (seeded from
// the system's random source when the thread first draws).
double JitteredIntervalMs(double intervalMs, int jitterMs);
void JitterPosition(int radius, int& x, int& y);

// Reseeds the calling thread's generator (tests).
void SeedToolRandomForTest(uint64_t seed);
