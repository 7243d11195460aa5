#pragma once
// The group of fields that the jitter settings and the click sequence add at
// the end of the settings line and of the profile settings line. Lines of
// earlier versions end before the group; each field the line lacks, or that
// cannot be read, takes its default (no jitter, no sequence), so a profile
// saved before the group existed never inherits the jitter of another one.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Where the group starts in each line, and how many fields it has:
// jitter ms of the clicker, jitter radius px, jitter ms of the key spammer,
// the click sequence.
inline constexpr size_t kSettingsExtrasFirst = 43;  // after turbo, modifiers and panic (36-42)
inline constexpr size_t kProfileExtrasFirst = 20;
inline constexpr size_t kExtrasFieldCount = 4;

// Appends the group, each field preceded by a comma; the sequence, the last
// field, only when it is not empty. (A group appended after this one must
// then write the sequence field always, empty or not.)
void AppendSettingsExtras(std::string& line);
// Applies the group from `fields`, starting at index `first`.
void ReadSettingsExtras(const std::vector<std::string_view>& fields, size_t first);
