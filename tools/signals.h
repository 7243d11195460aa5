#pragma once
// The signal processor: applies the triggers of model/tool_state.h in a fixed
// order on the signal thread (also called directly by shutdown and tests).
#include "model/tool_state.h"

void ProcessSignals();

// Releases mouse button `button` (0 left, 1 right, 2 middle) on the injection
// device: a tool that stops never leaves a button held.
void PlatformMouseButtonUp(int button);
