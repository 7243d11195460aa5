// The page is told when the tool state changed; see status_push.h.
#include "app/status_push.h"

#include <atomic>
#include <functional>
#include <string>

#include "app/app.h"
#include "app/remote_control.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"
#include "model/profiles.h"
#include "tools/playback.h"
#include "model/tool_state.h"

namespace {

constexpr const char* kStatusChangedScript =
    "if(typeof window.onTrackerStatusChanged==='function')window.onTrackerStatusChanged();";

std::atomic<bool> g_PushPending{false};
std::atomic<bool> g_DesktopPushPending{false};

void Mix(uint64_t& h, uint64_t v) {
  h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
}

}  // namespace

uint64_t ToolStateMark() {
  uint64_t h = 0;
  const bool flags[] = {isRecording.load(),       isPlaying.load(),        isAutoClicking.load(),
                        isKeySpamming.load(),     isPickingLocation.load(), keySpamChordMode.load(),
                        g_HotkeyLockEnabled.load(), g_HotkeysUnlocked.load(), g_HotkeysEnabled.load()};
  uint64_t bits = 0;
  for (bool f : flags) bits = (bits << 1) | (f ? 1 : 0);
  Mix(h, bits);
  for (int v : {currentReassign.load(), vkRecord.load(), vkPlay.load(), vkAutoClicker.load(),
                vkKeySpamHotkey.load(), vkUnlock.load(), autoClickLocationMode.load()})
    Mix(h, static_cast<uint32_t>(v));
  const int count = keySpamTargetCount.load();
  Mix(h, static_cast<uint32_t>(count));
  // The hotkeys' modifiers (their names change) and panic stops (the page
  // says what happened).
  for (int v : {modsRecord.load(), modsPlay.load(), modsAutoClicker.load(), modsKeySpamHotkey.load(),
                modsUnlock.load(), g_PanicStops.load()})
    Mix(h, static_cast<uint32_t>(v));
  // A finished run's final count.
  Mix(h, lastClickRun.runs.load());
  Mix(h, lastKeySpamRun.runs.load());
  for (int i = 0; i < count && i < kKeySpamTargetSlots; ++i) Mix(h, static_cast<uint32_t>(keySpamTargets[i].load()));
  // Playback progress, the macro note and the question about a file.
  Mix(h, std::hash<std::string>{}(PlaybackStatusJsonMembers()));
  // The profiles: switched, renamed or loaded (from outside the page too).
  Mix(h, static_cast<uint32_t>(g_ProfilesRev.load()));
  return h;
}

void PostCoalescedStatusPush(const std::function<void(std::function<void()>)>& post,
                             const std::function<void(const std::string&)>& eval) {
  if (g_PushPending.exchange(true)) return;
  // The flag is cleared on the main loop just before the page is called, so
  // a change after that point posts again and is never lost. `eval` runs on
  // the main loop.
  post([eval] {
    g_PushPending.store(false);
    eval(kStatusChangedScript);
  });
}

void PushToolStateIfChanged() {
  static uint64_t lastMark = ToolStateMark();  // the signal processor's thread only
  const uint64_t mark = ToolStateMark();
  if (mark == lastMark) return;
  lastMark = mark;
  // The tray and the bus actions, which read the state often only while a
  // tool runs, from the first moment (the boot page too).
  UpdateUi([] {
    if (!g_MasterDispatchFn || g_DesktopPushPending.exchange(true)) return;
    g_MasterDispatchFn([] {
      g_DesktopPushPending.store(false);
      RemoteControlStateChanged(true);
    });
  });
  // The main page sets this once it is up, after the main thread has set the
  // functions below; the lock keeps them from being cleared meanwhile.
  if (!g_MainPageReady.load()) return;
  UpdateUi([] {
    if (!g_MasterDispatchFn) return;
    // The page function is looked up when the task runs, on the main thread,
    // which owns it.
    PostCoalescedStatusPush(g_MasterDispatchFn, [](const std::string& js) {
      if (g_MasterEvalFn) g_MasterEvalFn(js);
    });
  });
}

void PushDesktopColorScheme(bool dark) {
  if (!g_MainPageReady.load() || !g_MasterEvalFn) return;
  g_MasterEvalFn(std::string("if(typeof window.onDesktopColorScheme==='function')window.onDesktopColorScheme(") +
                 (dark ? "true" : "false") + ");");
}
