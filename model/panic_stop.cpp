// The panic stop combination and what it does.
#include "model/panic_stop.h"

#include <array>

#include "model/wake.h"
#include "base/number_text.h"
#include "model/hold_mode.h"
#include "model/tool_state.h"

std::atomic<int> g_PanicCombo{kDefaultPanicCombo};
std::atomic<int> g_PanicStops{0};

namespace {

constexpr int kVkLeftShift = 160;
constexpr int kVkRightShift = 161;

// Capture thread only (ResetPanicWatch runs there too, from the hooks' reset).
bool g_LeftShift = false;
bool g_RightShift = false;
std::array<int64_t, 3> g_EscPresses{};  // the last three, oldest first
int g_EscCount = 0;

}  // namespace

void PanicStop() {
  ClearHoldState();
  isPickingLocation.store(false);
  triggerStopAll.store(true);
  WakeSignalProcessor();
  g_PanicStops.fetch_add(1);
}

bool PanicKey(int vk, bool down, bool repeat, int64_t nowNs) {
  if (vk == kVkLeftShift || vk == kVkRightShift) {
    bool& self = vk == kVkLeftShift ? g_LeftShift : g_RightShift;
    const bool other = vk == kVkLeftShift ? g_RightShift : g_LeftShift;
    const bool first = down && !self && !repeat;
    self = down;
    if (first && other && g_PanicCombo.load() == kPanicBothShifts) {
      PanicStop();
      return true;
    }
    return false;
  }
  if (vk != 27 || !down || repeat || g_PanicCombo.load() != kPanicEscThrice) return false;
  if (g_EscCount == 3) {
    g_EscPresses[0] = g_EscPresses[1];
    g_EscPresses[1] = g_EscPresses[2];
    g_EscCount = 2;
  }
  g_EscPresses[static_cast<size_t>(g_EscCount++)] = nowNs;
  if (g_EscCount == 3 && nowNs - g_EscPresses[0] <= kPanicEscWindowNs) {
    g_EscCount = 0;
    PanicStop();
    return true;
  }
  return false;
}

void SetPanicCombo(const std::string& text) {
  const auto v = ParseLeadingInt32(text);
  if (v && *v >= kPanicOff && *v <= kPanicEscThrice) g_PanicCombo.store(*v);
}

void ResetPanicWatch() {
  g_LeftShift = g_RightShift = false;
  g_EscCount = 0;
}
