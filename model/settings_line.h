#pragma once
// The tool settings as text: the settings line of the session file (tool
// settings and hotkeys), the profile settings line each profile keeps, and the
// key-spam target list. Readers accept every older field count.
#include <string>
#include <string_view>

// Settings line: 43 comma-separated fields (tool settings and hotkeys; 36 to
// 42 are turbo, the hotkeys' modifier masks and the panic combination), then
// the jitter and click sequence group (model/settings_extras.h).
std::string SerializeSettings();
// Applies a settings line of any known generation (23, 31, 33, 35, 36, 43 or more fields).
void DeserializeSettings(std::string_view line);
// Profile settings line: 20 comma-separated fields (auto clicker and key spammer).
std::string SerializeProfileSettings();
// Applies a profile settings line of 18 to 20 fields.
void DeserializeProfileSettings(std::string_view line);
// The key-spam targets in use, joined with "|"; empty when there are none.
std::string SerializeKeySpamTargetList();
// Up to 3 readable entries, stored at the front; true when the list was read.
bool DeserializeKeySpamTargetList(std::string_view text);
