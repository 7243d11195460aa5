#pragma once
// Tells the page that the tool state it shows has changed, so that it polls
// the status now instead of at its next idle poll: starts and stops by
// hotkey, the hotkey lock, a reassignment finished on the desktop side, a
// profile switched or loaded from outside the page.
//
// The page is told by a guarded call of its global `onTrackerStatusChanged`
// (no arguments; a page without it is not disturbed). Calls are coalesced:
// while one is on its way to the main loop, further changes add nothing.
#include <cstdint>
#include <functional>
#include <string>

// A mark of every tool flag and hotkey the status shows; equal marks mean
// the page has nothing new to show. Any thread.
uint64_t ToolStateMark();

// Called by the signal processor after each round: when the mark differs
// from the one it saw last, posts one call to the page. Nothing is posted
// before the main page is ready.
void PushToolStateIfChanged();

// The coalescing step on its own (tests): `post` is called at most once
// until the task it was given has run; that task calls `eval` with the script.
void PostCoalescedStatusPush(const std::function<void(std::function<void()>)>& post,
                             const std::function<void(const std::string&)>& eval);

// Tells the page that the desktop's light or dark preference changed, by a
// guarded call of its global `onDesktopColorScheme(dark)`; nothing before the
// main page is ready. Main thread.
void PushDesktopColorScheme(bool dark);
