#pragma once
// The session state file: profiles, recordings and tool settings.
#include <string>
#include <vector>

// Fields between separators; empty fields kept, no field after a final separator.
std::vector<std::string> SplitString(const std::string& text, char separator);

bool LoadSessionState();
void SaveSessionState();
// Shutdown variant: waits for the profile lock instead of skipping when busy.
void SaveSessionStateBlocking();
std::string SerializeProfileSettings();
void ApplyProfileSettings(const std::string& line);
