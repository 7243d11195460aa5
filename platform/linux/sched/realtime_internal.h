#pragma once
// Shared between the real-time request (realtime.cpp) and the running budget
// of real-time threads (rt_budget.cpp).

// How a thread got its real-time policy, so it can ask the same way again.
struct RealtimeGrant {
  bool viaRtkit = false;
  int priority = 1;
};

// The calling thread got a real-time policy: from now on its budget applies
// (OsRealtimeBudgetCheck).
void RtBudgetManageThisThread(const RealtimeGrant& grant);
// Asks for the real-time policy again, the way it was granted first.
bool RegrantRealtime(const RealtimeGrant& grant);
// A raised nice level for the calling thread, only where the process may set
// it itself (no service is asked).
void RaiseNiceDirectly();
