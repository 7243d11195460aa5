#pragma once
// Program-wide key numbering (VK codes) and key names. Implemented in
// platform/linux/input/keys.cpp.
#include <string>

int VkToEvdev(int vk);     // 0 when the VK code has no evdev code
int EvdevToVk(int code);   // 0 when the evdev code has no VK code
std::string OsKeyName(int vk);
void OsKeysWatchLayout();
// Platform-neutral forwarder used by the status JSON.
std::string GetKeyName(int vk);
