#include "platform/linux/input/motion_positions.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "platform/os_thread.h"

namespace {

struct Motion {
  int64_t ns;
  bool needPosition;
  bool havePosition;
  double x, y;
  long dx, dy;
  int button = 0;  // a button's place rather than a movement
  bool down = false;
  int tap = 0;
};

// A 1000 Hz mouse against a shell that takes a whole second to answer fills
// this; see Enqueue.
constexpr size_t kMaxQueued = 4096;

std::mutex g_Mutex;  // guards the queue and the flags below
std::condition_variable g_Changed;
std::deque<Motion> g_Queue;
bool g_Running = false;
bool g_Stopping = false;
bool g_Busy = false;  // the thread holds a movement it has not handed on yet
// The position the shell reported after the last movement, while no movement
// came since: where a button press or release went.
bool g_KnownValid = false;
double g_KnownX = 0, g_KnownY = 0;
std::thread g_Thread;
// One hook call at a time, in order, whichever thread makes it.
std::mutex g_CallMutex;

thread_local int64_t t_EventNs = 0;

void CallHook(const Motion& m, bool valid, double x, double y) {
  std::lock_guard<std::mutex> lock(g_CallMutex);
  const int64_t before = OsInputEventTimeNs();
  SetInputEventTimeNs(m.ns);
  if (m.button) Callouts().placeMouseButton(m.button, m.down, m.tap, valid, x, y);
  else Callouts().tapMouseMove(valid, x, y, m.dx, m.dy);
  SetInputEventTimeNs(before);
}

// Under g_Mutex. Beyond the limit the oldest movement that waits is merged
// into the movement right after it (their relative counts add up); buttons
// are never dropped or moved.
void Enqueue(const Motion& m) {
  if (g_Queue.size() >= kMaxQueued) {
    for (size_t i = 0; i + 1 < g_Queue.size(); ++i) {
      if (g_Queue[i].button || g_Queue[i + 1].button) continue;
      g_Queue[i + 1].dx += g_Queue[i].dx;
      g_Queue[i + 1].dy += g_Queue[i].dy;
      g_Queue.erase(g_Queue.begin() + static_cast<long>(i));
      break;
    }
  }
  g_Queue.push_back(m);
}

// The answer for the last button handled: the other buttons of its frame
// went to the same place. Only the position thread uses it.
struct FramePosition {
  int64_t ns = 0;
  bool valid = false;
  double x = 0, y = 0;
};
FramePosition g_LastButtonFrame;

void Handle(const Motion& m) {
  double x = m.x, y = m.y;
  bool valid = m.havePosition;
  if (m.button && m.ns == g_LastButtonFrame.ns) {
    valid = g_LastButtonFrame.valid;
    x = g_LastButtonFrame.x;
    y = g_LastButtonFrame.y;
  } else if (m.needPosition) {
    valid = Callouts().pointerPosition(x, y);
    if (!valid) x = y = 0;
    if (m.button) g_LastButtonFrame = {m.ns, valid, x, y};
    std::lock_guard<std::mutex> lock(g_Mutex);
    // Only the answer after the newest movement describes where it is now.
    if (valid && g_Queue.empty()) {
      g_KnownValid = true;
      g_KnownX = x;
      g_KnownY = y;
    }
  }
  CallHook(m, valid, x, y);
}

void Run() {
  pthread_setname_np(pthread_self(), "PMR input pos");
  // Recorded movement and buttons wait for this thread; a shell that answers
  // at once under a flood of movement keeps it from blocking, which its
  // budget check below covers.
  OsMakeThreadTimeCritical(kTimingPriorityCapture);
  std::unique_lock<std::mutex> lock(g_Mutex);
  for (;;) {
    g_Changed.wait(lock, [] { return !g_Queue.empty() || g_Stopping; });
    if (g_Queue.empty()) break;  // stopping, and everything handed on
    Motion m = g_Queue.front();
    g_Queue.pop_front();
    g_Busy = true;
    lock.unlock();
    OsRealtimeBudgetCheck();
    Handle(m);
    lock.lock();
    g_Busy = false;
    g_Changed.notify_all();
  }
}

}  // namespace

void SetInputEventTimeNs(int64_t ns) { t_EventNs = ns; }
int64_t OsInputEventTimeNs() { return t_EventNs; }

void MotionPositionsStart() {
  std::lock_guard<std::mutex> lock(g_Mutex);
  if (g_Running) return;
  g_Stopping = false;
  g_Running = true;
  g_Thread = std::thread(Run);
}

void MotionPositionsStop() {
  {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_KnownValid = false;
    if (!g_Running) return;
    g_Stopping = true;
  }
  g_Changed.notify_all();
  g_Thread.join();
  std::lock_guard<std::mutex> lock(g_Mutex);
  g_Running = false;
  g_Stopping = false;
}

void MotionPositionsDeliver(int64_t frameNs, bool needPosition, bool havePosition, double x, double y, long dx,
                            long dy) {
  const Motion m{frameNs, needPosition, havePosition, x, y, dx, dy};
  {
    std::unique_lock<std::mutex> lock(g_Mutex);
    g_KnownValid = false;
    const bool ordered = g_Queue.empty() && !g_Busy;
    if (!g_Running || (!needPosition && ordered)) {
      lock.unlock();
      CallHook(m, havePosition, x, y);
      return;
    }
    Enqueue(m);
  }
  g_Changed.notify_one();
}

void MotionPositionsDeliverButton(int64_t frameNs, int button, bool down, int tap) {
  Motion m{frameNs, true, false, 0, 0, 0, 0};
  m.button = button;
  m.down = down;
  m.tap = tap;
  {
    std::unique_lock<std::mutex> lock(g_Mutex);
    const bool ordered = g_Queue.empty() && !g_Busy;
    if (ordered && (g_KnownValid || !g_Running)) {
      // Nothing moved since the shell last answered (or no thread to ask):
      // decided here, in order.
      double x = g_KnownX, y = g_KnownY;
      const bool known = g_KnownValid;
      lock.unlock();
      bool valid = known;
      if (!known) {
        valid = Callouts().pointerPosition(x, y);
        if (!valid) x = y = 0;
      }
      CallHook(m, valid, x, y);
      return;
    }
    Enqueue(m);
  }
  g_Changed.notify_one();
}

void MotionPositionsForget() {
  std::lock_guard<std::mutex> lock(g_Mutex);
  g_KnownValid = false;
}

bool OsInputFlushMotion(int timeoutMs) {
  std::unique_lock<std::mutex> lock(g_Mutex);
  return g_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return g_Queue.empty() && !g_Busy; });
}
