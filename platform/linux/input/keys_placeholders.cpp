// Placeholders for key codes and names until the key table lands.
#include "platform/os_keys.h"

int VkToEvdev(int) { return 0; }
int EvdevToVk(int) { return 0; }
std::string OsKeyName(int vk) { return "Key[" + std::to_string(vk) + "]"; }
void OsKeysWatchLayout() {}
std::string GetKeyName(int vk) { return OsKeyName(vk); }
