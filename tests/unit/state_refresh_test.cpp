// The pace at which the tray and the bus actions read the program's state:
// often only while something changes by itself and for a short linger after
// (a stopped tool's final count), otherwise only when kicked and on the slow
// safety net, so an idle program is not woken four times a second.
#include <glib.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/linux/gtk/state_refresh.h"

namespace {

using pmrgtk::StateRefresh;

// Runs the default main context until `done` holds (or a generous bound of
// iterations passes: the fast pace ticks every 250 ms).
bool RunUntil(const std::function<bool()>& done) {
  const gint64 end = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > end) return false;
    g_main_context_iteration(nullptr, TRUE);
  }
  return true;
}

TEST(StateRefresh, ReadsOftenOnlyWhileLivelyAndForTheLingerAfter) {
  int reads = 0;
  bool lively = false;
  StateRefresh r;
  r.Start([&] { ++reads; }, [&] { return lively; });
  EXPECT_EQ(reads, 1) << "the state is read at the start";
  EXPECT_FALSE(r.Lively()) << "nothing runs: only the slow safety net";

  // A kick without settling reads once and keeps the slow pace.
  r.Kick(false);
  EXPECT_EQ(reads, 2);
  EXPECT_FALSE(r.Lively());

  // A tool starts: the next kick goes fast and stays fast while it runs.
  lively = true;
  r.Kick(false);
  EXPECT_TRUE(r.Lively());
  const int atStart = reads;
  ASSERT_TRUE(RunUntil([&] { return reads >= atStart + 3; }));
  EXPECT_TRUE(r.Lively());

  // It stops: fast for the linger (the final count settles), then slow.
  lively = false;
  const int atStop = reads;
  ASSERT_TRUE(RunUntil([&] { return !r.Lively(); }));
  EXPECT_GE(reads - atStop, StateRefresh::kLingerTicks);

  // A settling kick while idle lingers as well, then falls back.
  r.Kick(true);
  EXPECT_TRUE(r.Lively());
  ASSERT_TRUE(RunUntil([&] { return !r.Lively(); }));

  // Stopped: no more reads, and kicks do nothing.
  r.Stop();
  const int atEnd = reads;
  r.Kick(true);
  EXPECT_EQ(reads, atEnd);
  EXPECT_FALSE(r.Lively());
}

}  // namespace
