#pragma once
// The "Test timing" run, which runs the auto clicker's wait on its own thread
// for a few seconds without clicking and measures how far each pause is off.
// (The measured rate of a running tool is model/rate_meter.h.)
#include <cstdint>
#include <string>

#include "model/rate_meter.h"

// ---- Test timing ------------------------------------------------------------
// How long a test runs, and the longest pause it tests (a longer interval is
// tested at 1 s, so the run still holds a few pauses).
inline constexpr int64_t kTimingTestNs = 3000000000LL;
inline constexpr double kTimingTestMaxIntervalMs = 1000.0;
// Upper edges of the histogram's buckets of pause errors, in microseconds;
// a last bucket holds everything beyond the last edge.
inline constexpr int kTimingBucketEdgesUs[] = {10, 20, 50, 100, 200, 500, 1000, 2000};
inline constexpr int kTimingBuckets = sizeof(kTimingBucketEdgesUs) / sizeof(int) + 1;

// Bridge handler of testClickTiming: asks the auto clicker thread to run the
// test as soon as it is idle. A request while a test runs or waits is ignored.
void RequestTimingTest();
// Called by the auto clicker thread while the clicker is stopped: runs a
// requested test (true) or returns false at once. A start of the clicker
// ends the test early ("interrupted").
bool RunTimingTestIfRequested();
// Bridge handler of getTimingTest: {"state":"idle"|"waiting"|"running"|
// "done"|"interrupted","seq":N,"intervalMs":…,"samples":…,"perSecond":…,
// "p50Us":…,"p99Us":…,"maxUs":…,"edgesUs":[…],"histogram":[…]}. Errors are
// how much later than asked each pause ended (never earlier: a wait does not
// end early unless interrupted).
std::string TimingTestJson();
// Puts the test back to "idle" (tests).
void ResetTimingTestForTest();
