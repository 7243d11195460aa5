// WakeEvent and WaitIntervalOrWake: kept wakes, early return, shutdown.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "app/app.h"

namespace {

using Clock = std::chrono::steady_clock;

double ElapsedMs(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

TEST(WaitIntervalOrWake, WakeSentBeforeWaitEndsNextWaitAtOnce) {
  WakeEvent ev;
  ev.Wake();
  auto t0 = Clock::now();
  WaitIntervalOrWake(ev, 60000);
  EXPECT_LT(ElapsedMs(t0), 1000);
  EXPECT_FALSE(ev.flag.load()) << "the wait consumes the wake";
}

TEST(WaitIntervalOrWake, WakeFromAnotherThreadEndsBothPhases) {
  for (double ms : {60000.0, 0.4 /* only the yield phase */}) {
    WakeEvent ev;
    std::thread waker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ev.Wake();
    });
    auto t0 = Clock::now();
    WaitIntervalOrWake(ev, ms);
    double took = ElapsedMs(t0);
    waker.join();
    EXPECT_LT(took, 5000) << ms;
  }
}

TEST(WaitIntervalOrWake, WaitsAtLeastTheInterval) {
  WakeEvent ev;
  for (double ms : {1.0, 5.0, 20.0}) {
    auto t0 = Clock::now();
    WaitIntervalOrWake(ev, ms);
    EXPECT_GE(ElapsedMs(t0), ms) << ms;
  }
}

TEST(WaitIntervalOrWake, DegenerateIntervalsReturnWithoutHanging) {
  WakeEvent ev;
  for (double ms : {0.0, -5.0, std::nan("")}) {
    auto t0 = Clock::now();
    WaitIntervalOrWake(ev, ms);
    EXPECT_LT(ElapsedMs(t0), 1000) << ms;
  }
}

TEST(WaitIntervalOrWake, HugeIntervalMeansUntilWokenNotAnOverflow) {
  WakeEvent ev;
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    WaitIntervalOrWake(ev, 2147483647.0 * 3600.0 * 1000.0);  // 2^31-1 hours
    returned.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned.load()) << "a saturated deadline must not wake at once";
  ev.Wake();
  waiter.join();
  EXPECT_TRUE(returned.load());
}

TEST(WaitIntervalOrWake, ShutdownEndsAWait) {
  WakeEvent ev;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    g_AppRunning.store(false);
    ev.Wake();  // shutdown wakes every worker after clearing the flag
  });
  auto t0 = Clock::now();
  WaitIntervalOrWake(ev, 60000);
  stopper.join();
  EXPECT_LT(ElapsedMs(t0), 5000);
  // While not running, a wait returns at once.
  ev.flag.store(false);
  t0 = Clock::now();
  WaitIntervalOrWake(ev, 60000);
  EXPECT_LT(ElapsedMs(t0), 1000);
  g_AppRunning.store(true);
}

TEST(UpdateUi, RefusedWithoutPageOrAfterCancel) {
  int calls = 0;
  auto fn = [&] { ++calls; };
  g_MasterEvalFn = nullptr;
  EXPECT_FALSE(UpdateUi(fn));
  g_MasterEvalFn = [](const std::string&) {};
  EXPECT_TRUE(UpdateUi(fn));
  g_UpdateInstallCancel.store(true);
  EXPECT_FALSE(UpdateUi(fn));
  EXPECT_EQ(calls, 1);
  g_UpdateInstallCancel.store(false);
  g_MasterEvalFn = nullptr;
}

TEST(ReadFile, WholeFileOrEmpty) {
  std::string path = testing::TempDir() + "/readfile.bin";
  std::string data("a\0b\nc", 5);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
  EXPECT_EQ(ReadFile(path), data);
  EXPECT_EQ(ReadFile(path + ".missing"), "");
}

}  // namespace
