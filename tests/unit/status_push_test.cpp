// The page is told about tool state changes: the mark that says whether
// anything the page shows changed, and the coalescing of the calls.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/status_push.h"
#include "model/profiles.h"
#include "model/tool_state.h"

namespace {

TEST(StatusPush, MarkFollowsWhatThePageShowsOnly) {
  struct Case {
    const char* what;
    std::function<void()> change, undo;
    bool shown;
  };
  const Case cases[] = {
      {"clicker running", [] { isAutoClicking.store(true); }, [] { isAutoClicking.store(false); }, true},
      {"spammer running", [] { isKeySpamming.store(true); }, [] { isKeySpamming.store(false); }, true},
      {"recording", [] { isRecording.store(true); }, [] { isRecording.store(false); }, true},
      {"hotkeys locked", [] { g_HotkeysUnlocked.store(!g_HotkeysUnlocked.load()); },
       [] { g_HotkeysUnlocked.store(!g_HotkeysUnlocked.load()); }, true},
      {"reassigning", [] { currentReassign.store(3); }, [] { currentReassign.store(0); }, true},
      {"hotkey moved", [] { vkAutoClicker.fetch_add(1); }, [] { vkAutoClicker.fetch_sub(1); }, true},
      {"target added", [] { keySpamTargets[keySpamTargetCount.load()].store(65); keySpamTargetCount.fetch_add(1); },
       [] { keySpamTargetCount.fetch_sub(1); }, true},
      // A profile switched, renamed or loaded from outside the page (the bus,
      // the tray, a file opened): the page would otherwise see it only at its
      // slow idle poll.
      {"profiles changed", [] { g_ProfilesRev.fetch_add(1); }, [] { g_ProfilesRev.fetch_sub(1); }, true},
      // Counted clicks and an interval are not tool states: no call for them.
      {"click counted", [] { currentClickCount.fetch_add(1); }, [] { currentClickCount.fetch_sub(1); }, false},
      {"interval edited", [] { autoClickIntervalMs += 5; }, [] { autoClickIntervalMs -= 5; }, false},
  };
  for (const Case& c : cases) {
    const uint64_t before = ToolStateMark();
    c.change();
    const uint64_t changed = ToolStateMark();
    c.undo();
    EXPECT_EQ(changed != before, c.shown) << c.what;
    EXPECT_EQ(ToolStateMark(), before) << c.what << ": back where it was";
  }
}

TEST(StatusPush, CallsAreCoalescedUntilTheMainLoopRunsOne) {
  std::vector<std::function<void()>> mainLoop;
  std::vector<std::string> page;
  auto post = [&](std::function<void()> fn) { mainLoop.push_back(std::move(fn)); };
  auto eval = [&](const std::string& js) { page.push_back(js); };

  for (int i = 0; i < 5; ++i) PostCoalescedStatusPush(post, eval);
  ASSERT_EQ(mainLoop.size(), 1u) << "a burst of changes is one call";
  mainLoop.front()();
  ASSERT_EQ(page.size(), 1u);
  // Guarded: a page without the function is not disturbed.
  EXPECT_NE(page[0].find("typeof window.onTrackerStatusChanged==='function'"), std::string::npos) << page[0];

  // Once the call has gone out, the next change is a new call.
  PostCoalescedStatusPush(post, eval);
  ASSERT_EQ(mainLoop.size(), 2u);
  mainLoop.back()();
  EXPECT_EQ(page.size(), 2u);
}

}  // namespace
