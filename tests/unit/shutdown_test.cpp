// The orderly stop: workers joined, tools stopped, a second call returns at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "app/app.h"
#include "tests/support/scoped_thread.h"
#include "model/tool_state.h"
#include "tools_test_util.h"

namespace {

TEST(ShutDown, StopsToolsJoinsWorkersAndIsIdempotent) {
  std::string data = testing::TempDir() + "/pmr-shutdown-data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  ResetToolStateForTest();
  g_AppRunning.store(true);
  StartWorkerThreads();
  // Whatever fails below, the workers are joined before the test ends.
  pmrtest::OnExit joinWorkers([] {
    if (!g_Threads.empty()) ShutDown();
  });
  ASSERT_EQ(g_Threads.size(), 5u);

  triggerAutoClickStart.store(true);
  WakeSignalProcessor();
  ASSERT_TRUE(toolstest::WaitFor([] { return isAutoClicking.load(); }))
      << "the signal processor thread applies triggers";

  auto t0 = std::chrono::steady_clock::now();
  ShutDown();
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_FALSE(g_AppRunning.load());
  EXPECT_TRUE(g_UpdateInstallCancel.load());
  EXPECT_FALSE(isAutoClicking.load()) << "shutdown stops the tools before joining";
  EXPECT_TRUE(g_Threads.empty());
  EXPECT_LT(took, std::chrono::seconds(3)) << "workers notice shutdown promptly";

  t0 = std::chrono::steady_clock::now();
  ShutDown();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1)) << "nothing left to wait for";
}

}  // namespace
