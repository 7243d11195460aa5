// Real-time scheduling for the threads whose timing users feel. A tool that
// clicks every millisecond while a game or a build keeps every core busy only
// keeps its rhythm when the kernel runs it ahead of that work; a real-time
// policy does that, and RealtimeKit hands it out to ordinary desktop users.
#include "platform/os_thread.h"

#include <gio/gio.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/linux/sched/realtime_internal.h"
#include "platform/linux/sched/rtkit.h"

namespace {

// CPU time a real-time thread may use without blocking once (the limit
// RealtimeKit asks for by default).
constexpr rlim_t kRtTimeUs = 200000;
constexpr int kRaisedNice = -11;

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::mutex g_LimitMutex;

// RLIMIT_RTTIME must be set before the kernel (and RealtimeKit) lets a thread
// run under a real-time policy for long; never raised above what is set. Soft
// and hard limit are the same: reaching it ends the process (SIGKILL), which is
// meant only for a loop that went wrong. Threads that may run long on purpose
// step down to normal scheduling well before it (rt_budget.h); a soft limit
// would not serve them, since its SIGXCPU goes to the whole process, not to
// the thread that overran, and the kernel raises the soft limit after each one.
bool EnsureRtTimeLimit(rlim_t maxUs) {
  std::lock_guard<std::mutex> lock(g_LimitMutex);
  rlimit lim{};
  if (getrlimit(RLIMIT_RTTIME, &lim) != 0) return false;
  const rlim_t want = maxUs < kRtTimeUs ? maxUs : kRtTimeUs;
  if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max <= want && lim.rlim_cur <= lim.rlim_max) return true;
  lim.rlim_cur = want;
  if (lim.rlim_max == RLIM_INFINITY || lim.rlim_max > want) lim.rlim_max = want;
  return setrlimit(RLIMIT_RTTIME, &lim) == 0;
}

bool SetFifo(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

bool Disabled() {
  const char* v = std::getenv("PMR_NO_REALTIME");
  return v && std::strcmp(v, "1") == 0;
}

ThreadTiming RaiseNice(pid_t tid, const RtkitLimits* limits) {
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kRaisedNice) == 0) return ThreadTiming::kRaisedNice;
  RtkitLimits queried;
  if (!limits && RtkitQueryLimits(queried)) limits = &queried;
  if (limits) {
    const int nice = kRaisedNice > limits->minNiceLevel ? kRaisedNice : limits->minNiceLevel;
    if (RtkitMakeThreadHighPriority(tid, nice)) return ThreadTiming::kRaisedNice;
  }
  return ThreadTiming::kPlain;
}

}  // namespace

ThreadTiming OsRaiseThreadPriority() {
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  if (Disabled()) return ThreadTiming::kPlain;
  return RaiseNice(ThreadId(), nullptr);
}

ThreadTiming OsMakeThreadTimeCritical(int priority) {
  // Sleeps of a normal thread may end up to the slack (50 us by default) late;
  // real-time threads have none.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  if (Disabled()) return ThreadTiming::kPlain;
  if (priority < 1) priority = 1;

  if (EnsureRtTimeLimit(kRtTimeUs) && SetFifo(priority)) {
    RtBudgetManageThisThread(RealtimeGrant{false, priority});
    return ThreadTiming::kRealtime;
  }

  const pid_t tid = ThreadId();
  RtkitLimits limits;
  const bool haveRtkit = RtkitQueryLimits(limits);
  if (haveRtkit && limits.maxRealtimePriority > 0) {
    const int granted = priority < limits.maxRealtimePriority ? priority : limits.maxRealtimePriority;
    const rlim_t maxUs = limits.rtTimeUsecMax > 0 ? static_cast<rlim_t>(limits.rtTimeUsecMax) : kRtTimeUs;
    if (EnsureRtTimeLimit(maxUs) && RtkitMakeThreadRealtime(tid, granted) && OsThreadIsRealtime()) {
      RtBudgetManageThisThread(RealtimeGrant{true, granted});
      return ThreadTiming::kRealtimeKit;
    }
  }

  return RaiseNice(tid, haveRtkit ? &limits : nullptr);
}

bool RegrantRealtime(const RealtimeGrant& grant) {
  if (!grant.viaRtkit) return SetFifo(grant.priority);
  return RtkitMakeThreadRealtime(ThreadId(), grant.priority) && OsThreadIsRealtime();
}

void RaiseNiceDirectly() { setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), kRaisedNice); }

const char* ThreadTimingName(ThreadTiming timing) {
  switch (timing) {
    case ThreadTiming::kRealtime: return "realtime";
    case ThreadTiming::kRealtimeKit: return "rtkit";
    case ThreadTiming::kRaisedNice: return "nice";
    case ThreadTiming::kPlain: break;
  }
  return "plain";
}

bool OsThreadIsRealtime() {
  const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
  return policy == SCHED_FIFO || policy == SCHED_RR;
}
