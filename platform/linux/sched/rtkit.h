#pragma once
// The RealtimeKit service (org.freedesktop.RealtimeKit1) on the system bus:
// how desktop users obtain real-time scheduling without privileges. The bus
// is DBUS_SYSTEM_BUS_ADDRESS when set, else the standard system bus socket.
#include <sys/types.h>

#include <cstdint>

struct RtkitLimits {
  int maxRealtimePriority = 0;
  int minNiceLevel = 0;
  int64_t rtTimeUsecMax = 0;
};

// False when the service cannot be reached within its time limit.
bool RtkitQueryLimits(RtkitLimits& out);
bool RtkitMakeThreadRealtime(pid_t tid, int priority);
bool RtkitMakeThreadHighPriority(pid_t tid, int nice);
