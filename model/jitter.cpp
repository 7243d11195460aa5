// Interval and position jitter of the tools, and the updateJitter list.
#include "model/jitter.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "base/strings.h"
#include "model/profiles.h"
#include "model/tool_state.h"

int autoClickJitterMs = 0;
int autoClickJitterRadius = 0;
int keySpamJitterMs = 0;

namespace {

constexpr double kPi = 3.14159265358979323846;

// One generator per thread: the clicker and the spammer draw without sharing
// (or locking) anything.
std::mt19937_64& ThreadRandom() {
  thread_local std::mt19937_64 engine{[] {
    std::random_device rd;
    return (static_cast<uint64_t>(rd()) << 32) ^ rd();
  }()};
  return engine;
}

// A draw in [0, 1).
double Uniform01() { return std::generate_canonical<double, 53>(ThreadRandom()) * (1.0 - 1e-16); }

int ClampedAdd(int a, int b) {
  const int64_t s = static_cast<int64_t>(a) + b;
  if (s > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (s < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(s);
}

}  // namespace

JitterRange IntervalJitterRange(double intervalMs, int jitterMs) {
  double j = jitterMs > 0 ? static_cast<double>(jitterMs) : 0.0;
  if (intervalMs - j < 1.0) j = intervalMs > 1.0 ? intervalMs - 1.0 : 0.0;
  return {intervalMs - j, intervalMs + j};
}

double JitteredIntervalMsAt(double intervalMs, int jitterMs, double u) {
  const JitterRange r = IntervalJitterRange(intervalMs, jitterMs);
  if (!(u > 0)) u = 0;
  if (u > 1) u = 1;
  return r.lowMs + u * (r.highMs - r.lowMs);
}

void DiscOffsetAt(int radius, double u, double v, int& dx, int& dy) {
  dx = dy = 0;
  if (radius <= 0) return;
  const double dist = static_cast<double>(radius) * std::sqrt(u < 0 ? 0 : (u > 1 ? 1 : u));
  const double angle = 2.0 * kPi * v;
  // Rounding to whole pixels can push a point on the rim a fraction past it;
  // pull it back so no click ever lands further than the radius.
  long x = std::lround(dist * std::cos(angle));
  long y = std::lround(dist * std::sin(angle));
  const double r2 = static_cast<double>(radius) * radius;
  while (static_cast<double>(x) * x + static_cast<double>(y) * y > r2) {
    if (std::labs(x) >= std::labs(y)) x += x > 0 ? -1 : 1;
    else y += y > 0 ? -1 : 1;
  }
  dx = static_cast<int>(x);
  dy = static_cast<int>(y);
}

double JitteredIntervalMs(double intervalMs, int jitterMs) {
  if (jitterMs <= 0) return intervalMs;
  return JitteredIntervalMsAt(intervalMs, jitterMs, Uniform01());
}

void JitterPosition(int radius, int& x, int& y) {
  if (radius <= 0) return;
  const double u = Uniform01();
  const double v = Uniform01();
  int dx = 0, dy = 0;
  DiscOffsetAt(radius, u, v, dx, dy);
  x = ClampedAdd(x, dx);
  y = ClampedAdd(y, dy);
}

void SeedToolRandomForTest(uint64_t seed) { ThreadRandom().seed(seed); }
