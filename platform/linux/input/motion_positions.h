#pragma once
// Pointer movement that needs the pointer position (a recording of absolute
// movement), and buttons whose place is recorded or picked, are handed to a
// thread of its own, "PMR input pos": asking the
// shell for the position is a round trip to another process, and the capture
// thread, through which every key and button of the desktop flows, must never
// wait for one. The movement and button place hooks are called in the order
// the frames came, one call at a time, with the time of its frame
// (OsInputEventTimeNs).
#include <cstdint>

// Starts and stops the thread (with the capture).
void MotionPositionsStart();
void MotionPositionsStop();  // joins; pending movements are handed on first

// A movement of the frame read at `frameNs`. With `needPosition` the thread
// asks the pointer backend and calls the hook with its answer; otherwise the
// hook gets `havePosition`, `x`, `y` as given, at once when nothing is queued
// before it.
void MotionPositionsDeliver(int64_t frameNs, bool needPosition, bool havePosition, double x, double y, long dx,
                            long dy);

// A button whose hook asked where it went (`tap`: the hook's kButtonTap*
// bits). With the position known after the last movement and nothing queued,
// the place hook is called at once; otherwise the thread asks the pointer
// backend and calls it in order after the movements before it.
void MotionPositionsDeliverButton(int64_t frameNs, int button, bool down, int tap);

// The program moved the pointer itself: the known position is no longer it.
void MotionPositionsForget();

// Sets the event time OsInputEventTimeNs answers on this thread (0: none).
void SetInputEventTimeNs(int64_t ns);
