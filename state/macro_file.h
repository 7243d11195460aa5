#pragma once
// Macro files (".pmrmacro"): one profile's recording with the settings it was
// made with, for keeping outside the program and opening elsewhere. A text
// file: the line "PMRMACRO 1", the settings line as the session file writes it
// (with its "SETTINGS:" prefix), then one event per line in the session
// file's event form. docs/pmrmacro.md describes it for people.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "state/profiles.h"

inline constexpr std::string_view kMacroFileExtension = ".pmrmacro";
inline constexpr int kMacroFileVersion = 1;
// Larger files are refused unread.
inline constexpr size_t kMaxMacroFileBytes = 64u * 1024u * 1024u;

struct MacroFile {
  std::string settingsLine;  // empty when the file carried none
  std::vector<UnifiedEvent> events;
};

enum class MacroFileError {
  kNone,
  kCannotRead,     // missing, unreadable, or not a regular file
  kTooLarge,       // over kMaxMacroFileBytes
  kNotOurs,        // the first line does not name the format
  kNewerVersion,   // the format of a later version of the program
  kNoEvents,       // not one event line could be read
};

// The whole file text for a settings line and a recording.
std::string BuildMacroFileText(const std::string& settingsLine, const std::vector<UnifiedEvent>& events);
// Reads a file text. Lines that are not events are skipped as the session
// loader skips them; line ends may be "\n" or "\r\n".
MacroFileError ParseMacroFileText(std::string_view text, MacroFile& out);
// Reads the file at `path` (any path the user chose; at most kMaxMacroFileBytes).
MacroFileError ReadMacroFile(const std::string& path, MacroFile& out);
// Writes the file at `path`, replacing it whole or leaving the old one.
bool WriteMacroFile(const std::string& path, const std::string& text);

// One sentence for the page about a file that could not be opened.
std::string MacroFileErrorText(MacroFileError error, const std::string& fileName);

// Applies the recorder and playback fields of a settings line (what gets
// recorded, relative movement, speed, loop, pause between loops); every
// other field is left alone, and a missing or unreadable field keeps the
// current value.
void ApplyRecorderFieldsOfSettingsLine(const std::string& line);
