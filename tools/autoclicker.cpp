// The auto clicker thread.
#include "tools/autoclicker.h"

#include "app/app.h"
#include "platform/os_input.h"
#include "tools/recorder.h"
#include "tools/tool_state.h"
#include "tools/tool_timing.h"

double AutoClickIntervalMs() {
  return ToolIntervalMs(ReadSetting(autoClickIntervalHours), ReadSetting(autoClickIntervalMins),
                        ReadSetting(autoClickIntervalSecs), ReadSetting(autoClickIntervalMs));
}

void AutoClickOnce() {
  if (ReadSetting(autoClickLocationMode) == 1) OsMoveMouseTo(autoClickFixedX.load(), autoClickFixedY.load());

  const int button = ReadSetting(autoClickerButtonIdx);
  if (button >= 0 && button <= 2) {
    int x = 0, y = 0;
    OsCursorPosition(x, y);
    const int clicks = ReadSetting(autoClickClickType) == 1 ? 2 : 1;
    for (int n = 1; n <= clicks; ++n) {
      if (n == 2) {
        const int64_t t = MonotonicNs();
        SleepThenYieldUntil(t + kDoubleClickSleepNs, t + kDoubleClickGapNs);
      }
      OsMouseButton(button, true, n);
      RecordToolClick(kClickPressFlags[button], x, y);
      OsMouseButton(button, false, n);
      RecordToolClick(kClickReleaseFlags[button], x, y);
    }
  }
  currentClickCount.fetch_add(1);
}

void AutoClickerThread() {
  while (g_AppRunning.load()) {
    if (!isAutoClicking.load()) {
      currentClickCount.store(0);
      WaitUntilWoken(g_AutoClickWake);
      continue;
    }
    if (ReadSetting(autoClickRepeatMode) == 0 && currentClickCount.load() >= ReadSetting(autoClickRepeatTimes)) {
      isAutoClicking.store(false);
      continue;
    }
    AutoClickOnce();
    WaitIntervalOrWake(g_AutoClickWake, AutoClickIntervalMs());
  }
}
