// Scheduling of the time-critical threads: real-time directly when the
// process may, else through RealtimeKit on the system bus, else a raised nice
// level, else plain; the timer slack is minimal in every case.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/sched/rt_budget.h"
#include "platform/os_thread.h"
#include "tests/support/fake_login1.h"
#include "tests/support/process.h"
#include "tests/support/realtime_kit.h"

namespace {

struct Outcome {
  int timing = -1;
  bool realtime = false;
  unsigned long slack = 0;
};

// Asks from a fresh thread, as a worker does at its start.
Outcome AskOnThread(int priority) {
  Outcome o;
  std::thread t([&] {
    o.timing = static_cast<int>(OsMakeThreadTimeCritical(priority));
    o.realtime = OsThreadIsRealtime();
    o.slack = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
  });
  t.join();
  return o;
}

// Takes away what lets this process raise its own priorities: CAP_SYS_NICE
// and the real-time and nice allowances, so only RealtimeKit is left.
// With `niceAllowed` the process may still lower its nice level to -11
// (RLIMIT_NICE 31), as a distribution may allow its desktop users.
bool DropPriorityRights(bool niceAllowed) {
  rlimit none{0, 0};
  rlimit nice{31, 31};
  if (setrlimit(RLIMIT_RTPRIO, &none) != 0) return false;
  if (setrlimit(RLIMIT_NICE, niceAllowed ? &nice : &none) != 0) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << (CAP_SYS_NICE % 32);
  data[CAP_SYS_NICE / 32].effective &= ~bit;
  data[CAP_SYS_NICE / 32].permitted &= ~bit;
  data[CAP_SYS_NICE / 32].inheritable &= ~bit;
  return syscall(SYS_capset, &header, data) == 0;
}

bool IsRoot() { return geteuid() == 0; }

// Runs the child case `mode` of this same program with the given system bus.
std::string RunChild(const std::string& mode, const std::string& bus) {
  pmrtest::ChildProcess c = pmrtest::Spawn(
      {"/proc/self/exe", "--gtest_filter=RealtimeChild.Ask"},
      {"PMR_RT_CHILD=" + mode, "DBUS_SYSTEM_BUS_ADDRESS=" + bus, "PMR_NO_REALTIME="});
  const std::string out = pmrtest::ReadAll(c.stdoutFd, 30);
  pmrtest::WaitFor(c, 30);
  const size_t at = out.find("outcome ");
  return at == std::string::npos ? out : out.substr(at, out.find('\n', at) - at);
}

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// A thread made time-critical that then runs without ever blocking for twice
// the kernel's limit (as the capture does under a flood), checking its budget
// as it goes; then sleeps now and then, as when the flood is over.
std::string SpinOnThread() {
  std::string out;
  std::thread t([&] {
    const ThreadTiming timing = OsMakeThreadTimeCritical(kTimingPriorityTool);
    const uint64_t before = OsRealtimeBudgetDemotions();
    const int64_t end = NowNs() + 400'000'000;
    while (NowNs() < end) OsRealtimeBudgetCheck();
    const bool steppedDown = !OsThreadIsRealtime() && OsRealtimeBudgetDemoted();
    const int64_t giveUp = NowNs() + 20'000'000'000LL;
    while (!OsThreadIsRealtime() && NowNs() < giveUp) {
      usleep(10000);
      OsRealtimeBudgetCheck();
    }
    out = std::string("spin ") + ThreadTimingName(timing) + " stepped=" + (steppedDown ? "1" : "0") +
          " back=" + (OsThreadIsRealtime() ? "1" : "0") +
          " demotions=" + std::to_string(OsRealtimeBudgetDemotions() - before);
  });
  t.join();
  return out;
}

// Runs the spinning child; its line, or how it ended when it printed none.
std::string RunSpinChild(const std::string& mode, const std::string& bus) {
  pmrtest::ChildProcess c = pmrtest::Spawn(
      {"/proc/self/exe", "--gtest_filter=RealtimeChild.Spin"},
      {"PMR_RT_CHILD=" + mode, "DBUS_SYSTEM_BUS_ADDRESS=" + bus, "PMR_NO_REALTIME="});
  const std::string out = pmrtest::ReadAll(c.stdoutFd, 60);
  const int status = pmrtest::WaitFor(c, 60);
  const size_t at = out.find("spin ");
  if (at != std::string::npos) return out.substr(at, out.find('\n', at) - at);
  if (status >= 0 && WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "no outcome: " + out;
}

}  // namespace

// The body of the child processes of the tests below; does nothing unless
// started by them.
TEST(RealtimeChild, Ask) {
  const char* mode = std::getenv("PMR_RT_CHILD");
  if (!mode) GTEST_SKIP() << "runs only as a child of the tests below";
  const bool niceAllowed = std::strcmp(mode, "nice-allowed") == 0;
  if (!DropPriorityRights(niceAllowed)) {
    // Raising RLIMIT_NICE needs CAP_SYS_RESOURCE, which some sandboxes lack.
    std::printf("outcome unavailable\n");
    return;
  }
  const Outcome o = AskOnThread(kTimingPriorityTool);
  std::printf("outcome %s realtime=%d\n", ThreadTimingName(static_cast<ThreadTiming>(o.timing)), o.realtime ? 1 : 0);
  std::fflush(stdout);
}

TEST(RealtimeChild, Spin) {
  const char* mode = std::getenv("PMR_RT_CHILD");
  if (!mode) GTEST_SKIP() << "runs only as a child of the tests below";
  if (std::strcmp(mode, "spin-no-rights") == 0 && !DropPriorityRights(false)) {
    std::printf("spin unavailable\n");
    return;
  }
  std::printf("%s\n", SpinOnThread().c_str());
  std::fflush(stdout);
}

// The decision of the budget, step by step: each step is a look at the thread
// (time in ms, its count of blocks so far) and what it must do then.
TEST(RealtimeBudget, StepsDownAfterTheBudgetAndComesBackAfterABlockAndARest) {
  using A = RtBudget::Action;
  struct Step {
    int64_t ms;
    uint64_t blocks;
    A expect;
    bool restoreFails = false;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
  } cases[] = {
      {"a thread that blocks between looks never steps down",
       {{0, 0, A::kNone}, {40, 1, A::kNone}, {80, 2, A::kNone}, {1000, 3, A::kNone}, {1049, 3, A::kNone}}},
      {"busy for the whole budget: steps down once and stays down while busy",
       {{0, 0, A::kNone}, {49, 0, A::kNone}, {50, 0, A::kDemote}, {300, 0, A::kNone}, {5000, 0, A::kNone}}},
      {"the run counts from the last block, not from the first look",
       {{0, 0, A::kNone}, {40, 1, A::kNone}, {80, 1, A::kNone}, {90, 1, A::kDemote}}},
      {"back only after a block once the rest is over",
       {{0, 0, A::kNone},
        {50, 0, A::kDemote},
        {100, 1, A::kNone},   // blocked, but rested too little
        {600, 1, A::kNone},   // rested, but busy again since that block
        {610, 2, A::kRestore},
        {640, 3, A::kNone},
        {689, 3, A::kNone},
        {690, 3, A::kDemote}}},  // and steps down again on the next flood
      {"a refused request waits another rest",
       {{0, 0, A::kNone},
        {50, 0, A::kDemote},
        {600, 1, A::kRestore, true},
        {700, 2, A::kNone},
        {1099, 3, A::kNone},
        {1100, 4, A::kRestore}}},
      {"a first look after long idleness starts the count there",
       {{10000, 7, A::kNone}, {10049, 7, A::kNone}, {10050, 7, A::kDemote}}},
  };
  for (const Case& c : cases) {
    RtBudget b(50'000'000, 500'000'000);
    for (const Step& st : c.steps) {
      const A got = b.Check(st.ms * 1'000'000, st.blocks);
      EXPECT_EQ(static_cast<int>(got), static_cast<int>(st.expect)) << c.what << " at " << st.ms << " ms";
      if (got == A::kRestore && st.restoreFails) b.RestoreFailed(st.ms * 1'000'000);
    }
  }
}

// Without its budget a real-time thread that never blocks is killed with the
// whole process once it has run 200 ms; with it, it steps down in time and is
// real-time again once it sleeps.
TEST(RealtimeBudget, SpinningRealtimeThreadSurvivesStepsDownAndComesBack) {
  if (!IsRoot()) GTEST_SKIP() << "needs root (or CAP_SYS_NICE) for real-time scheduling; the budget's decision is "
                                 "checked by StepsDownAfterTheBudgetAndComesBackAfterABlockAndARest";
  EXPECT_EQ(RunSpinChild("spin", ""), "spin realtime stepped=1 back=1 demotions=1");
}

TEST(RealtimeBudget, ThroughRealtimeKitTheThreadAsksAgainToComeBack) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to take the rights away from a child and grant them from a fake service";
  pmrtest::PrivateBus bus;
  ASSERT_TRUE(bus.Start("rtkit"));
  pmrtest::FakeRealtimeKit rtkit;
  ASSERT_TRUE(rtkit.Start(bus.Address(), 20));
  EXPECT_EQ(RunSpinChild("spin-no-rights", bus.Address()), "spin rtkit stepped=1 back=1 demotions=1");
  EXPECT_EQ(rtkit.RealtimeCalls(), 2) << "granted once at the start, once more after the rest";
}

TEST(Realtime, DirectWhenAllowedWithSlackAndRuntimeLimit) {
  if (!IsRoot()) GTEST_SKIP() << "needs root (or CAP_SYS_NICE) to grant real-time scheduling directly";
  unsetenv("PMR_NO_REALTIME");
  const Outcome o = AskOnThread(kTimingPriorityWatchdog);
  EXPECT_EQ(o.timing, static_cast<int>(ThreadTiming::kRealtime));
  EXPECT_TRUE(o.realtime);
  EXPECT_LE(o.slack, 1u);  // real-time threads have none at all
  // A runaway real-time loop ends the process instead of the desktop.
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &lim), 0);
  EXPECT_NE(lim.rlim_max, RLIM_INFINITY);
  EXPECT_LE(lim.rlim_cur, 200000u);
  // Only the asking thread changed.
  EXPECT_FALSE(OsThreadIsRealtime());
}

TEST(Realtime, ChildrenOfARealtimeThreadStartPlain) {
  if (!IsRoot()) GTEST_SKIP() << "needs root (or CAP_SYS_NICE) to grant real-time scheduling directly";
  unsetenv("PMR_NO_REALTIME");
  int childPolicy = -1;
  std::thread t([&] {
    ASSERT_EQ(OsMakeThreadTimeCritical(kTimingPriorityTool), ThreadTiming::kRealtime);
    const pid_t pid = fork();
    if (pid == 0) _exit(sched_getscheduler(0) & ~SCHED_RESET_ON_FORK);
    int status = 0;
    waitpid(pid, &status, 0);
    childPolicy = WEXITSTATUS(status);
  });
  t.join();
  EXPECT_EQ(childPolicy, SCHED_OTHER);
}

TEST(Realtime, SwitchedOffKeepsOnlyTheSlack) {
  setenv("PMR_NO_REALTIME", "1", 1);
  const Outcome o = AskOnThread(kTimingPriorityTool);
  unsetenv("PMR_NO_REALTIME");
  EXPECT_EQ(o.timing, static_cast<int>(ThreadTiming::kPlain));
  EXPECT_FALSE(o.realtime);
  EXPECT_EQ(o.slack, 1u);
}

// Without the right to raise its own priority, the process asks RealtimeKit;
// when that refuses real-time or is missing, the nice level is next, then
// nothing.
TEST(Realtime, FallbacksThroughRealtimeKit) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to take the rights away from a child and grant them from a fake service";
  pmrtest::PrivateBus bus;
  ASSERT_TRUE(bus.Start("rtkit"));
  {
    pmrtest::FakeRealtimeKit rtkit;
    ASSERT_TRUE(rtkit.Start(bus.Address(), 20));
    EXPECT_EQ(RunChild("no-rights", bus.Address()), "outcome rtkit realtime=1");
    EXPECT_EQ(rtkit.RealtimeCalls(), 1);
    EXPECT_EQ(rtkit.LastPriority(), kTimingPriorityTool);
  }
  {
    pmrtest::FakeRealtimeKit rtkit;
    ASSERT_TRUE(rtkit.Start(bus.Address(), 0));  // real-time not offered
    EXPECT_EQ(RunChild("no-rights", bus.Address()), "outcome nice realtime=0");
    EXPECT_EQ(rtkit.RealtimeCalls(), 0);
    EXPECT_EQ(rtkit.HighPriorityCalls(), 1);
  }
  // No RealtimeKit: a nice level the process may set itself, else nothing.
  const std::string niceOnly = RunChild("nice-allowed", bus.Address());
  if (niceOnly == "outcome unavailable")
    std::printf("note: RLIMIT_NICE cannot be raised here; the directly raised nice level is not checked\n");
  else
    EXPECT_EQ(niceOnly, "outcome nice realtime=0");
  EXPECT_EQ(RunChild("no-rights", bus.Address()), "outcome plain realtime=0");
  EXPECT_EQ(RunChild("no-rights", "unix:path=/nonexistent/bus"), "outcome plain realtime=0");
}

// The real RealtimeKit daemon grants the real-time policy to a process that
// may not take it itself.
TEST(Realtime, RealRealtimeKitGrantsIt) {
  pmrtest::RealRealtimeKit rtkit;
  const std::string why = rtkit.Start();
  if (!why.empty()) GTEST_SKIP() << "RealtimeKit: " << why;
  EXPECT_EQ(RunChild("no-rights", rtkit.BusAddress()), "outcome rtkit realtime=1") << rtkit.Log();
  EXPECT_NE(rtkit.Log().find("RT at priority"), std::string::npos) << rtkit.Log();
}
