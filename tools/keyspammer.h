#pragma once
#include <string>
void KeySpammerThread();
void ReleaseAllKeySpamTargets();
void RemoveKeySpamTarget(const std::string& indexText);
void SetKeySpamChordMode(const std::string& text);
