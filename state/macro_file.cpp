// Macro files: building, reading and writing.
#include "state/macro_file.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

#include "base/atomic_file.h"
#include "base/number_text.h"
#include "base/read_file.h"
#include "base/strings.h"
#include "state/session_file.h"
#include "model/tool_state.h"

namespace {

constexpr std::string_view kMagic = "PMRMACRO ";
constexpr std::string_view kSettingsPrefix = "SETTINGS:";

// One pass over a macro file text that arrives in pieces: the lines are
// cut out as they come (at most one line is held, and a line longer than
// kMaxMacroLineBytes is dropped as it arrives), checked against the header,
// and the events counted or, when `fill` is set, kept.
struct MacroTextPass {
  MacroFile* fill = nullptr;
  size_t reserve = 0;  // events to make room for before the first is kept
  MacroFileError error = MacroFileError::kNone;
  size_t events = 0;
  bool done = false;  // the header was refused or the file holds too many events

  // Takes the next piece; false once the pass knows its answer.
  bool Feed(std::string_view piece) {
    while (!done && !piece.empty()) {
      const size_t nl = piece.find('\n');
      const std::string_view part = piece.substr(0, nl);
      if (!overlong_ && partial_.size() + part.size() <= kMaxMacroLineBytes)
        partial_.append(part);
      else
        overlong_ = true;
      if (nl == std::string_view::npos) break;
      piece.remove_prefix(nl + 1);
      EndLine();
    }
    return !done;
  }
  // The text has ended: its last line needs no line feed.
  void Finish() {
    if (!done && (overlong_ || !partial_.empty())) EndLine();
    if (!done && stage_ == Stage::kHeader) Refuse(MacroFileError::kNotOurs);
  }

 private:
  enum class Stage { kHeader, kFirst, kEvents };
  Stage stage_ = Stage::kHeader;
  std::string partial_;
  bool overlong_ = false;

  void Refuse(MacroFileError e) {
    error = e;
    done = true;
  }

  void EndLine() {
    std::string_view line = partial_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool overlong = overlong_;
    Line(overlong ? std::string_view() : line, overlong);
    partial_.clear();
    overlong_ = false;
  }

  void Line(std::string_view line, bool overlong) {
    if (stage_ == Stage::kHeader) {
      // A byte order mark some editors put in front is not part of the name.
      if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
      if (overlong || !line.starts_with(kMagic)) return Refuse(MacroFileError::kNotOurs);
      const std::string_view versionText = line.substr(kMagic.size());
      size_t digits = 0;
      while (digits < versionText.size() && versionText[digits] >= '0' && versionText[digits] <= '9') ++digits;
      if (digits == 0 || digits != versionText.size()) return Refuse(MacroFileError::kNotOurs);
      const std::optional<int32_t> version = ParseLeadingInt32(versionText);
      if (!version || *version < 1) return Refuse(MacroFileError::kNotOurs);
      if (*version > kMacroFileVersion) return Refuse(MacroFileError::kNewerVersion);
      stage_ = Stage::kFirst;
      return;
    }
    if (stage_ == Stage::kFirst) {
      stage_ = Stage::kEvents;
      if (line.starts_with(kSettingsPrefix)) {
        if (fill) fill->settingsLine = std::string(line.substr(kSettingsPrefix.size()));
        return;
      }
    }
    if (line.empty()) return;
    UnifiedEvent ev;
    if (!ParseEventLine(line, ev)) return;
    if (++events > kMaxMacroFileEvents) return Refuse(MacroFileError::kTooManyEvents);
    if (fill) {
      if (fill->events.empty()) fill->events.reserve(std::min(reserve, kMaxMacroFileEvents));
      fill->events.push_back(ev);
    }
  }
};

// Both passes over a text that `feed` hands to a pass piece by piece;
// `feed` answers kNone or why the text could not be read.
template <typename Feed>
MacroFileError ReadMacroText(const Feed& feed, MacroFile& out) {
  MacroTextPass count;
  if (MacroFileError e = feed(count); e != MacroFileError::kNone) return e;
  count.Finish();
  if (count.error != MacroFileError::kNone) return count.error;
  if (count.events == 0) return MacroFileError::kNoEvents;

  MacroFile file;
  MacroTextPass keep;
  keep.fill = &file;
  keep.reserve = count.events;
  if (MacroFileError e = feed(keep); e != MacroFileError::kNone) return e;
  keep.Finish();
  // The file may have changed between the passes: the second one decides.
  if (keep.error != MacroFileError::kNone) return keep.error;
  if (keep.events == 0) return MacroFileError::kNoEvents;
  out = std::move(file);
  return MacroFileError::kNone;
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
  return ReadMacroText(
      [text](MacroTextPass& pass) {
        pass.Feed(text);
        return MacroFileError::kNone;
      },
      out);
}

MacroFileError ReadMacroFile(const std::string& path, MacroFile& out) {
  ReadLimits limits;
  limits.maxBytes = kMaxMacroFileBytes;
  return ReadMacroText(
      [&](MacroTextPass& pass) {
        switch (ReadFileInChunks(path, limits, [&pass](std::string_view piece) { return pass.Feed(piece); })) {
          case ReadStatus::kOk: return MacroFileError::kNone;
          case ReadStatus::kTooLarge: return MacroFileError::kTooLarge;
          default: return MacroFileError::kCannotRead;
        }
      },
      out);
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
    case MacroFileError::kTooManyEvents:
      return fileName + " was not opened: it holds more than " + GroupedNumber(kMaxMacroFileEvents) +
             " events, more than a macro can have.";
  }
  return {};
}

void ApplyRecordingFieldsOfSettingsLine(const std::string& line) {
  const std::vector<std::string> f = SplitString(line, ',');
  ReadFlag(f, 11, bRecordMouseMovement);
  ReadFlag(f, 12, bRecordMouseClicks);
  ReadFlag(f, 13, bRecordMouseScroll);
  ReadFlag(f, 14, bRecordKeyboard);
  ReadFlag(f, 15, bUseRelativeMouse);
}

void ApplyPlaybackFieldsOfSettingsLine(const std::string& line) {
  const std::vector<std::string> f = SplitString(line, ',');
  if (f.size() > 16)
    if (std::optional<float> speed = ParseLeadingFloat(f[16]); speed && std::isfinite(*speed))
      std::atomic_ref<float>(fPlaybackSpeed).store(*speed);
  ReadFlag(f, 17, bLoopSequence);
  if (f.size() > 18)
    if (std::optional<int32_t> ms = ParseLeadingInt32(f[18]))
      std::atomic_ref<int>(iLoopIntervalMs).store(*ms);
}

void ApplyRecorderFieldsOfSettingsLine(const std::string& line) {
  ApplyRecordingFieldsOfSettingsLine(line);
  ApplyPlaybackFieldsOfSettingsLine(line);
}
