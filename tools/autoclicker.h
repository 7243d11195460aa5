#pragma once
// The auto clicker: clicks a mouse button at a set interval, where the pointer
// is or at a fixed position, until stopped or a set number of clicks is made.

// The worker loop (thread "PMR autoclicker"); runs until shutdown.
void AutoClickerThread();
