// Marks a hand-over of data from one thread to another through the GLib main
// loop (a task posted with g_idle_add and run by the main thread). The main
// context orders the two with locks of its own, which ThreadSanitizer does not
// see, so a TSan build states that order itself: the posting thread releases
// the task's address, the running thread acquires it. Other builds: nothing.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PMR_TSAN_HANDOFF 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define PMR_TSAN_HANDOFF 1
#endif

#ifdef PMR_TSAN_HANDOFF
#include <sanitizer/tsan_interface.h>
inline void HandoffPosted(void* task) { __tsan_release(task); }
inline void HandoffRunning(void* task) { __tsan_acquire(task); }
#else
inline void HandoffPosted(void*) {}
inline void HandoffRunning(void*) {}
#endif
