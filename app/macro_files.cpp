// Opening and exporting macro files for the user.
#include "app/macro_files.h"

#include <mutex>
#include <optional>
#include <string_view>

#include "app/app.h"
#include "base/json_escape.h"
#include "base/number_text.h"
#include "base/strings.h"
#include "platform/os_keys.h"
#include "platform/os_window.h"
#include "state/macro_file.h"
#include "state/macro_summary.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "tools/playback.h"
#include "model/tool_state.h"

namespace {

// A file read and waiting for the user's answer. Main thread only.
struct PendingOpen {
  std::string name;
  MacroFile file;
  MacroSummary summary;
  uint64_t id = 0;  // tells a late answer to an earlier question from this one
};
std::optional<PendingOpen> g_Pending;
uint64_t g_LastAskId = 0;

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string EventsText(size_t n) { return GroupedNumber(n) + (n == 1 ? " event" : " events"); }

bool Busy() { return isRecording.load() || isPlaying.load(); }

std::string BusyText(const std::string& name) {
  return "Stop the " + std::string(isRecording.load() ? "recording" : "playback") + " before opening " + name + ".";
}

// Replaces the current profile's recording with the file's and takes over
// how its events were recorded; its speed, loop and pause only when the user
// asked for them.
void Load(const std::string& name, MacroFile&& file, bool useFileSettings) {
  const size_t count = file.events.size();
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    // A recording or playback that started since the question was asked
    // keeps its events.
    if (Busy()) {
      PostPageNote(BusyText(name));
      return;
    }
    if (currentProfileIdx < 0 || currentProfileIdx >= static_cast<int>(profiles.size())) return;
    profiles[static_cast<size_t>(currentProfileIdx)].events = std::move(file.events);
    g_ProfileDataRev.fetch_add(1);
  }
  ApplyRecordingFieldsOfSettingsLine(file.settingsLine);
  if (useFileSettings) ApplyPlaybackFieldsOfSettingsLine(file.settingsLine);
  SnapshotActiveProfileSettings();
  g_ProfilesRev.fetch_add(1);  // the page fetches the settings again
  WakeSignalProcessor();        // and hears of it after the next round
  PostPageNote("Opened " + name + ": " + EventsText(count) + (useFileSettings ? ", with its playback settings." : "."));
}

// Reads one macro file and asks the page whether to load it, showing what it
// will do; the message of what happened instead, empty when the page asks.
// Every file from outside is asked about, into an empty profile too: a file
// received from someone else may type and press whatever it likes.
std::string OpenOne(const std::string& path) {
  const std::string name = BaseName(path);
  if (Busy()) return BusyText(name);
  if (g_Pending) return name + " was not opened: answer the question about " + g_Pending->name + " first.";
  MacroFile file;
  const MacroFileError error = ReadMacroFile(path, file);
  if (error != MacroFileError::kNone) return MacroFileErrorText(error, name);
  MacroSummary summary = SummarizeMacro(file, GetKeyName);
  SetMacroAsk(name, static_cast<int64_t>(file.events.size()));
  g_Pending = PendingOpen{name, std::move(file), std::move(summary), ++g_LastAskId};
  return {};
}

void Say(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& m : messages) {
    if (m.empty()) continue;
    if (!text.empty()) text += ' ';
    text += m;
  }
  if (!text.empty()) PostPageNote(text);
}

}  // namespace

void OpenMacroFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> messages;
  bool opened = false;
  for (const std::string& path : paths) {
    const std::string name = BaseName(path);
    if (EndsWith(name, ".pmrtheme")) {
      messages.push_back(name + ": theme files are not supported yet.");
    } else if (EndsWith(name, ".mcr")) {
      messages.push_back(name + ": .mcr macro files are not supported yet.");
    } else if (EndsWith(name, kMacroFileExtension)) {
      if (opened) {
        messages.push_back(name + " was not opened: one macro at a time.");
        continue;
      }
      opened = true;
      messages.push_back(OpenOne(path));
    } else {
      messages.push_back(name + " is not a Pellomar macro file.");
    }
  }
  Say(messages);
  // Files handed over from outside arrive while the page may be idle: the
  // signal processor's round tells it that there is something to show.
  WakeSignalProcessor();
}

void OpenMacroFile(const std::string& path) { Say({OpenOne(path)}); }

void AnswerMacroOpen(const std::string& answer) {
  if (!g_Pending) return;
  const std::vector<std::string> f = SplitString(answer, ',');
  // An answer naming another question (one already answered) changes nothing.
  if (f.size() > 2 && f[2] != std::to_string(g_Pending->id)) return;
  PendingOpen pending = std::move(*g_Pending);
  g_Pending.reset();
  SetMacroAsk("", 0);
  if (!f.empty() && f[0] == "1")
    Load(pending.name, std::move(pending.file), f.size() > 1 && f[1] == "1");
  else
    PostPageNote(pending.name + " was not opened; the recording is unchanged.");
}

std::string MacroAskJson() {
  if (!g_Pending) return "null";
  size_t recorded = 0;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size()))
      recorded = profiles[static_cast<size_t>(currentProfileIdx)].events.size();
  }
  std::string j = "{\"id\":" + std::to_string(g_Pending->id);
  j += ",\"name\":" + JsonEscapeForBind(g_Pending->name);
  j += ",\"recorded\":" + std::to_string(recorded);
  j += ",\"summary\":" + MacroSummaryJson(g_Pending->summary);
  // What the playback settings are now, beside what the file brings.
  j += ",\"current\":{\"speed\":";
  AppendDefaultFloat(j, ReadSetting(fPlaybackSpeed));
  j += ",\"loop\":";
  j += ReadSetting(bLoopSequence) ? "true" : "false";
  j += ",\"pauseMs\":" + std::to_string(ReadSetting(iLoopIntervalMs));
  j += "}}";
  return j;
}

bool ExportCurrentMacroTo(const std::string& chosen) {
  if (chosen.empty()) return false;
  std::string path = chosen;
  if (!EndsWith(BaseName(path), kMacroFileExtension)) path += kMacroFileExtension;
  const std::string name = BaseName(path);
  std::vector<UnifiedEvent> events;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size()))
      events = profiles[static_cast<size_t>(currentProfileIdx)].events;
  }
  if (events.empty()) {
    PostPageNote("Nothing to export yet: record a macro first.");
    return false;
  }
  if (!WriteMacroFile(path, BuildMacroFileText(SerializeSettings(), events))) {
    PostPageNote(name + " could not be saved.");
    return false;
  }
  if (events.size() > kMaxMacroFileEvents)
    PostPageNote("Exported " + EventsText(events.size()) + " to " + name + "; a file of more than " +
                 GroupedNumber(kMaxMacroFileEvents) + " events cannot be opened again.");
  else
    PostPageNote("Exported " + EventsText(events.size()) + " to " + name + ".");
  return true;
}

std::string SuggestedMacroFileName(const std::string& profileName) {
  std::string out;
  for (char c : profileName) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F || c == ':' || c == '*' || c == '?' || c == '"' ||
        c == '<' || c == '>' || c == '|')
      out += '_';
    else
      out += c;
  }
  while (!out.empty() && (out.front() == '.' || out.front() == ' ')) out.erase(out.begin());
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.size() > 120) out.resize(120);
  if (out.empty()) out = "macro";
  return out + std::string(kMacroFileExtension);
}

void BindExportMacro(const std::function<void(std::function<void()>)>& post) {
  if (!CurrentProfileHasEvents()) {
    PostPageNote("Nothing to export yet: record a macro first.");
    return;
  }
  std::string profileName;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size()))
      profileName = profiles[static_cast<size_t>(currentProfileIdx)].name;
  }
  if (!post) return;
  const std::string suggested = SuggestedMacroFileName(profileName);
  post([suggested] {
    OsChooseFile(true, suggested, std::string(kMacroFileExtension), [](const std::string& path) {
      if (!path.empty()) ExportCurrentMacroTo(path);
    });
  });
}

void BindOpenMacro(const std::function<void(std::function<void()>)>& post) {
  if (!post) return;
  post([] {
    OsChooseFile(false, "", std::string(kMacroFileExtension), [](const std::string& path) {
      if (!path.empty()) OpenMacroFile(path);
    });
  });
}

void ResetMacroFilesForTest() {
  g_Pending.reset();
  SetMacroAsk("", 0);
}
