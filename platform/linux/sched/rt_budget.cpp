// The running budget of real-time threads: the decision (RtBudget) and the
// per-thread check that acts on it.
#include "platform/linux/sched/rt_budget.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/linux/sched/realtime_internal.h"
#include "platform/os_thread.h"

RtBudget::Action RtBudget::Check(int64_t nowNs, uint64_t blocks) {
  if (!started_ || blocks != blocks_) {
    // The thread slept since the last look: the kernel's count starts over.
    const bool first = !started_;
    started_ = true;
    blocks_ = blocks;
    runStartNs_ = nowNs;
    if (!first && demoted_ && nowNs - demotedAtNs_ >= restNs_) {
      demoted_ = false;
      return Action::kRestore;
    }
    return Action::kNone;
  }
  if (!demoted_ && nowNs - runStartNs_ >= budgetNs_) {
    demoted_ = true;
    demotedAtNs_ = nowNs;
    return Action::kDemote;
  }
  return Action::kNone;
}

void RtBudget::RestoreFailed(int64_t nowNs) {
  demoted_ = true;
  demotedAtNs_ = nowNs;
}

namespace {

std::atomic<uint64_t> g_Demotions{0};

// Set by OsMakeThreadTimeCritical when the thread got a real-time policy.
thread_local bool t_Managed = false;
thread_local RealtimeGrant t_Grant;
thread_local RtBudget t_Budget;

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

uint64_t VoluntarySwitches() {
  rusage ru{};
  if (getrusage(RUSAGE_THREAD, &ru) != 0) return 0;
  return static_cast<uint64_t>(ru.ru_nvcsw);
}

}  // namespace

void RtBudgetManageThisThread(const RealtimeGrant& grant) {
  t_Managed = true;
  t_Grant = grant;
  t_Budget = RtBudget();
}

void OsRealtimeBudgetCheck() {
  if (!t_Managed) return;
  const int64_t now = NowNs();
  switch (t_Budget.Check(now, VoluntarySwitches())) {
    case RtBudget::Action::kDemote: {
      // Lowering the policy is always allowed; a raised nice level keeps the
      // thread ahead of ordinary work while it floods.
      sched_param param{};
      sched_setscheduler(0, SCHED_OTHER | SCHED_RESET_ON_FORK, &param);
      RaiseNiceDirectly();
      g_Demotions.fetch_add(1);
      break;
    }
    case RtBudget::Action::kRestore: {
      if (!RegrantRealtime(t_Grant)) {
        t_Budget.RestoreFailed(now);
        break;
      }
      // The kernel's count of real-time running starts over only when the
      // thread wakes from a sleep as a real-time thread; the blocks it made at
      // normal scheduling left the count of its earlier runs standing, and a
      // flood that steps it down and up again would add up to the limit.
      timespec brief{0, 20000};
      nanosleep(&brief, nullptr);
      break;
    }
    case RtBudget::Action::kNone:
      break;
  }
}

bool OsRealtimeBudgetDemoted() { return t_Managed && t_Budget.demoted(); }

uint64_t OsRealtimeBudgetDemotions() { return g_Demotions.load(); }
