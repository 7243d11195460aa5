// The auto clicker thread.
#include "tools/autoclicker.h"

#include <cstdint>
#include <vector>

#include "model/tool_state.h"
#include "model/wake.h"
#include "platform/os_input.h"
#include "platform/os_thread.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "model/hold_mode.h"
#include "tools/recorder.h"
#include "tools/tool_rate.h"
#include "tools/tool_timing.h"

namespace {

// Recorded flags of the clicked button, by button index 0 left, 1 right,
// 2 middle.
constexpr uint64_t kClickPressFlags[3] = {2, 8, 32};
constexpr uint64_t kClickReleaseFlags[3] = {4, 16, 64};

// The gap between the two clicks of a double click: sleep to 13 ms after the
// first release, then yield until 15 ms.
constexpr int64_t kDoubleClickSleepNs = 13000000;
constexpr int64_t kDoubleClickGapNs = 15000000;

// The pause after a click in milliseconds, from the current settings.
double AutoClickIntervalMs() {
  return ToolIntervalMs(ReadSetting(autoClickIntervalHours), ReadSetting(autoClickIntervalMins),
                        ReadSetting(autoClickIntervalSecs), ReadSetting(autoClickIntervalMs));
}

// The position recorded with the clicks of one step: read once, after the move
// to the fixed position and before the first press, and only while clicks are
// recorded. Asking the shell for the pointer is a round trip (an X request, a
// D-Bus call); doing it before every click would lengthen each pause by that
// much while nothing records the answer, and doing it between a press and its
// release would hold the button down for as long as the answer takes.
struct ClickPosition {
  bool known = false;
  int x = 0, y = 0;
};

void RecordClick(uint64_t flags, ClickPosition& pos) {
  if (!isRecording.load() || !ReadSetting(bRecordMouseClicks)) return;
  if (!pos.known) {
    OsCursorPosition(pos.x, pos.y);
    pos.known = true;
  }
  RecordToolClick(flags, pos.x, pos.y);
}

// Makes one click (or double click, `clicks` 2) of `button` where the pointer
// is now, for a button index 0 to 2; other indexes click nothing.
void ClickHere(int button, int clicks) {
  if (button < 0 || button > 2) return;
  ClickPosition pos;
  if (isRecording.load() && ReadSetting(bRecordMouseClicks)) {
    OsCursorPosition(pos.x, pos.y);
    pos.known = true;
  }
  for (int n = 1; n <= clicks; ++n) {
    if (n == 2) {
      const int64_t t = MonotonicNs();
      SleepThenYieldUntil(t + kDoubleClickSleepNs, t + kDoubleClickGapNs);
    }
    OsMouseButton(button, true, n);
    RecordClick(kClickPressFlags[button], pos);
    OsMouseButton(button, false, n);
    RecordClick(kClickReleaseFlags[button], pos);
  }
}

// Moves the pointer to (x, y), shifted by the position jitter.
void MoveToJittered(int x, int y) {
  JitterPosition(ReadSetting(autoClickJitterRadius), x, y);
  OsMoveMouseTo(x, y);
}

// One step after the running checks: moves to the fixed position when set,
// makes the click (or double click) and counts it.
void AutoClickOnce() {
  if (autoClickLocationMode.load() == 1) MoveToJittered(autoClickFixedX.load(), autoClickFixedY.load());
  ClickHere(ReadSetting(autoClickerButtonIdx), ReadSetting(autoClickClickType) == 1 ? 2 : 1);
  currentClickCount.fetch_add(1);
  g_ClickRate.Mark(MonotonicNs());
}

// Where a run of the click sequence is: the next point and the passes made.
// Private to the clicker thread; a new run starts at the first point.
struct SequenceRun {
  size_t next = 0;
  int passes = 0;
};

// One point of the sequence: move, click, count; returns its pause.
double SequenceStep(const std::vector<ClickPoint>& seq, SequenceRun& run) {
  if (run.next >= seq.size()) run.next = 0;
  const ClickPoint& p = seq[run.next];
  MoveToJittered(p.x, p.y);
  ClickHere(p.button, p.clicks);
  currentClickCount.fetch_add(1);
  g_ClickRate.Mark(MonotonicNs());
  if (++run.next >= seq.size()) {
    run.next = 0;
    ++run.passes;
  }
  return p.pauseMs < 1 ? 1.0 : static_cast<double>(p.pauseMs);
}

}  // namespace

void AutoClickerThread() {
  OsMakeThreadTimeCritical(kTimingPriorityTool);
  SequenceRun sequenceRun;
  while (g_AppRunning.load()) {
    if (!isAutoClicking.load()) {
      sequenceRun = SequenceRun{};
      g_ClickRate.Reset();
      SettleRunCount(currentClickCount, lastClickRun);
      if (RunTimingTestIfRequested()) continue;
      WaitUntilWoken(g_AutoClickWake);
      continue;
    }
    if (autoClickLocationMode.load() == kLocationSequence) {
      // The list is read afresh at each point, so an edit is seen at once;
      // a list made empty ends the run.
      const std::vector<ClickPoint> seq = ClickSequence();
      if (seq.empty() ||
          (ReadSetting(autoClickRepeatMode) == 0 && sequenceRun.passes >= ReadSetting(autoClickRepeatTimes))) {
        isAutoClicking.store(false);
        continue;
      }
      const double pause = SequenceStep(seq, sequenceRun);
      WaitIntervalOrWake(g_AutoClickWake, JitteredIntervalMs(pause, ReadSetting(autoClickJitterMs)));
      continue;
    }
    if (ReadSetting(autoClickRepeatMode) == 0 && currentClickCount.load() >= ReadSetting(autoClickRepeatTimes)) {
      isAutoClicking.store(false);
      continue;
    }
    if (TurboWaitsForButton() || HoldReleasedBeforeStop(kReassignAuto)) {
      // Armed for turbo: the press of the real button (or a stop) wakes us.
      // A hold run whose key is up: the stop is on its way.
      WaitUntilWoken(g_AutoClickWake);
      continue;
    }
    AutoClickOnce();
    WaitIntervalOrWake(g_AutoClickWake, JitteredIntervalMs(AutoClickIntervalMs(), ReadSetting(autoClickJitterMs)));
  }
}
