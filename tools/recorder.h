#pragma once
// Macro recording and the input hooks the capture thread calls.
#include "state/profiles.h"

void BeginRecordingLocked();  // caller holds profileMutex
void FinishRecording();
void RecordEvent(const UnifiedEvent& ev);

// Hooks called by the capture thread; true swallows the event.
bool TapKey(int vk, bool down);
bool TapMouseButton(int button, bool down, double x, double y);
void TapMouseMove(bool havePosition, double x, double y, long dx, long dy);
void TapScroll(int wheel);
void TapRequestReset();
