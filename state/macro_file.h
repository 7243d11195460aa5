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

#include "model/profiles.h"

inline constexpr std::string_view kMacroFileExtension = ".pmrmacro";
inline constexpr int kMacroFileVersion = 1;
// Larger files are refused unread.
inline constexpr size_t kMaxMacroFileBytes = 64u * 1024u * 1024u;
// Files with more events are refused before any event is kept. An event
// takes 56 bytes in memory, so a file costs at most 56 MB however it is
// written. A million events is more than two hours of steady pointer
// movement from an ordinary 125 Hz mouse, or 17 minutes from a 1000 Hz one:
// far beyond what a macro is recorded for, and still a size a desktop holds.
inline constexpr size_t kMaxMacroFileEvents = 1'000'000;
// A longer line is skipped without being kept (ours are under 200 bytes).
inline constexpr size_t kMaxMacroLineBytes = 64u * 1024u;

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
  kTooManyEvents,  // more than kMaxMacroFileEvents events
};

// The whole file text for a settings line and a recording.
std::string BuildMacroFileText(const std::string& settingsLine, const std::vector<UnifiedEvent>& events);
// Reads a file text. Lines that are not events are skipped as the session
// loader skips them; line ends may be "\n" or "\r\n". Two passes: the
// events are counted first, so a file over kMaxMacroFileEvents is refused
// before any is kept, and an accepted one is kept in exactly its size.
MacroFileError ParseMacroFileText(std::string_view text, MacroFile& out);
// Reads the file at `path` (any path the user chose; at most kMaxMacroFileBytes)
// in the same two passes, 64 KiB at a time: reading holds one piece and one
// line besides the events it keeps. `out` is left alone unless the file is
// accepted.
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
// The two halves of it: what gets recorded and whether movement is relative
// (fields 11 to 15: how the events were recorded and are read), and speed,
// loop and pause between loops (fields 16 to 18: how they are played).
void ApplyRecordingFieldsOfSettingsLine(const std::string& line);
void ApplyPlaybackFieldsOfSettingsLine(const std::string& line);
