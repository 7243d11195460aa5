#pragma once
// Self-update: the background check, cleanup of old update folders, and the
// self-test of the update rules.
#include <string>

void CleanupUpdateTempFiles();
void StartUpdateCheckThread();
bool SelfTestUpdate(const std::string& vectorsPath, std::string& report);
