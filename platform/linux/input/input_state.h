#pragma once
// Shared state of the input module (capture and injection), the calls it
// makes outside the input layer, and small helpers used by both halves.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/os_input.h"

// ---- capture ---------------------------------------------------------------
extern std::atomic<bool> g_TapRunning;      // started and not stopped
extern std::atomic<bool> g_StopTap;         // asks both threads to end
extern int g_WakeFd;                        // eventfd; 8-byte 1 wakes the capture thread
extern std::atomic<bool> g_SessionUsable;   // session unlocked and active (gates injection too)
extern std::mutex g_GrabMutex;              // guards g_GrabbedFds and every grab request
extern std::vector<int> g_GrabbedFds;       // descriptors currently grabbed
extern std::atomic<int64_t> g_BusySinceNs;  // start of the frame being handled, 0 when idle
extern std::atomic<bool> g_GrabBroken;      // the watchdog released all grabs

// ---- injection -------------------------------------------------------------
extern std::mutex g_InjectMutex;  // device creation, every write, the last position
extern int g_InjectFd;            // "pmr-inject", -1 when absent
extern int g_PointerFd;           // "pmr-pointer", -1 when absent
extern int g_LastAbsX;
extern int g_LastAbsY;

// ---- calls out of the input layer ------------------------------------------
// The capture hands every event to the recording hooks and asks the pointer
// backend; injection asks for the monitor layout. Tests substitute these.
struct InputCallouts {
  bool (*tapKey)(int vk, bool down);
  int (*tapMouseButton)(int button, bool down);
  void (*placeMouseButton)(int button, bool down, int tap, bool havePosition, double x, double y);
  void (*tapMouseMove)(bool havePosition, double x, double y, long dx, long dy);
  void (*tapScroll)(int wheel);
  bool (*pointerPosition)(double& x, double& y);
  bool (*layoutBox)(int& x, int& y, int& w, int& h);
  int (*windowPidAt)(double x, double y);
};
const InputCallouts& Callouts();
// The hooks OsSetInputHooks installed, or hooks that let everything through.
const InputHooks& InstalledHooks();
// Installs `c` (null restores the real ones); only while the capture is stopped.
void SetInputCalloutsForTest(const InputCallouts* c);

// ---- helpers ---------------------------------------------------------------
int64_t SteadyNowNs();
// Scales a desktop coordinate into the pointer device's 0..65535, sampling the
// centre of the pixel; 0 when the extent is not positive.
int ScaleToAbs(int v, int origin, int extent);
// The mouse-button VK code of an evdev button code 272..278, else 0.
int ButtonVkOfCode(int code);

// Closes the injection devices and puts the module's state back to its
// initial values, so that a test can start over with a fresh simulated
// kernel. Only while the capture is stopped.
void ResetInputForTest();
