// Macro files: building, reading and writing.
#include "state/macro_file.h"

#include <atomic>
#include <cmath>
#include <optional>

#include "base/atomic_file.h"
#include "base/number_text.h"
#include "base/read_file.h"
#include "base/strings.h"
#include "state/session_file.h"
#include "tools/tool_state.h"

namespace {

constexpr std::string_view kMagic = "PMRMACRO ";
constexpr std::string_view kSettingsPrefix = "SETTINGS:";

// The next line of `rest` without its line end ("\n" or "\r\n").
bool NextMacroLine(std::string_view& rest, std::string_view& line) {
  if (!NextLine(rest, line)) return false;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

// A flag field of the settings line: "1" on, "0" off, anything else unreadable.
void ReadFlag(const std::vector<std::string>& f, size_t i, bool& target) {
  if (i >= f.size()) return;
  if (f[i] == "1") std::atomic_ref<bool>(target).store(true);
  if (f[i] == "0") std::atomic_ref<bool>(target).store(false);
}

}  // namespace

std::string BuildMacroFileText(const std::string& settingsLine, const std::vector<UnifiedEvent>& events) {
  std::string text;
  text.reserve(64 + settingsLine.size() + events.size() * 28);
  text += kMagic;
  text += std::to_string(kMacroFileVersion);
  text += '\n';
  text += kSettingsPrefix;
  text += settingsLine;
  text += '\n';
  for (const UnifiedEvent& ev : events) {
    AppendEventLine(text, ev);
    text += '\n';
  }
  return text;
}

MacroFileError ParseMacroFileText(std::string_view text, MacroFile& out) {
  std::string_view rest = text;
  std::string_view line;
  // A byte order mark some editors put in front is not part of the name.
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  if (!NextMacroLine(rest, line) || !line.starts_with(kMagic)) return MacroFileError::kNotOurs;
  const std::string_view versionText = line.substr(kMagic.size());
  size_t digits = 0;
  while (digits < versionText.size() && versionText[digits] >= '0' && versionText[digits] <= '9') ++digits;
  if (digits == 0 || digits != versionText.size()) return MacroFileError::kNotOurs;
  const std::optional<int32_t> version = ParseLeadingInt32(versionText);
  if (!version || *version < 1) return MacroFileError::kNotOurs;
  if (*version > kMacroFileVersion) return MacroFileError::kNewerVersion;

  MacroFile file;
  bool first = true;
  while (NextMacroLine(rest, line)) {
    if (first && line.starts_with(kSettingsPrefix)) {
      file.settingsLine = std::string(line.substr(kSettingsPrefix.size()));
      first = false;
      continue;
    }
    first = false;
    if (line.empty()) continue;
    UnifiedEvent ev;
    if (ParseEventLine(line, ev)) file.events.push_back(ev);
  }
  if (file.events.empty()) return MacroFileError::kNoEvents;
  out = std::move(file);
  return MacroFileError::kNone;
}

MacroFileError ReadMacroFile(const std::string& path, MacroFile& out) {
  std::string text;
  ReadLimits limits;
  limits.maxBytes = kMaxMacroFileBytes;
  switch (ReadFileCapped(path, text, limits)) {
    case ReadStatus::kOk: break;
    case ReadStatus::kTooLarge: return MacroFileError::kTooLarge;
    default: return MacroFileError::kCannotRead;
  }
  return ParseMacroFileText(text, out);
}

bool WriteMacroFile(const std::string& path, const std::string& text) { return WriteFileAtomically(path, text); }

std::string MacroFileErrorText(MacroFileError error, const std::string& fileName) {
  switch (error) {
    case MacroFileError::kNone: return {};
    case MacroFileError::kCannotRead: return fileName + " could not be read.";
    case MacroFileError::kTooLarge: return fileName + " is too large to be a macro (over 64 MiB).";
    case MacroFileError::kNotOurs: return fileName + " is not a Pellomar macro file.";
    case MacroFileError::kNewerVersion:
      return fileName + " was saved by a newer version of Pellomar; update to open it.";
    case MacroFileError::kNoEvents: return fileName + " holds no events that could be read.";
  }
  return {};
}

void ApplyRecorderFieldsOfSettingsLine(const std::string& line) {
  const std::vector<std::string> f = SplitString(line, ',');
  ReadFlag(f, 11, bRecordMouseMovement);
  ReadFlag(f, 12, bRecordMouseClicks);
  ReadFlag(f, 13, bRecordMouseScroll);
  ReadFlag(f, 14, bRecordKeyboard);
  ReadFlag(f, 15, bUseRelativeMouse);
  if (f.size() > 16)
    if (std::optional<float> speed = ParseLeadingFloat(f[16]); speed && std::isfinite(*speed))
      std::atomic_ref<float>(fPlaybackSpeed).store(*speed);
  ReadFlag(f, 17, bLoopSequence);
  if (f.size() > 18)
    if (std::optional<int32_t> ms = ParseLeadingInt32(f[18]))
      std::atomic_ref<int>(iLoopIntervalMs).store(*ms);
}
