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
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

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
