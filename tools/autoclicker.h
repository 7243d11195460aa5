#pragma once
void AutoClickerThread();
