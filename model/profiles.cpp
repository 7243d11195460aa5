// The profile list, its JSON and the profile operations of the page.
#include "model/profiles.h"

#include <optional>

#include "base/json_escape.h"
#include "base/number_text.h"
#include "model/settings_line.h"
#include "model/tool_state.h"

std::vector<MacroProfile> profiles;
int currentProfileIdx = 0;
std::mutex profileMutex;
std::atomic<int> g_ProfilesRev{0};
std::atomic<uint64_t> g_ProfileDataRev{0};

namespace {

bool CurrentIndexValidLocked() {
  return currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size());
}

// Loads a profile's settings line into the live tools; an empty line means
// the defaults.
void ApplyProfileSettingsLine(const std::string& line) {
  if (line.empty())
    ResetAutoClickerKeySpamDefaults();
  else
    DeserializeProfileSettings(line);
}

}  // namespace

void EnsureDefaultProfileExists() {
  std::lock_guard<std::mutex> lock(profileMutex);
  for (const MacroProfile& p : profiles)
    if (p.name == kDefaultProfileName) return;
  const bool hadProfiles = !profiles.empty();
  MacroProfile def;
  def.name = kDefaultProfileName;
  profiles.insert(profiles.begin(), std::move(def));
  if (hadProfiles) ++currentProfileIdx;
  g_ProfileDataRev.fetch_add(1);
}

void SnapshotActiveProfileSettings() {
  std::string line = SerializeProfileSettings();
  std::lock_guard<std::mutex> lock(profileMutex);
  if (CurrentIndexValidLocked()) profiles[static_cast<size_t>(currentProfileIdx)].settingsLine = std::move(line);
}

void ResetAutoClickerKeySpamDefaults() {
  StoreSetting(autoClickIntervalHours, 0);
  StoreSetting(autoClickIntervalMins, 0);
  StoreSetting(autoClickIntervalSecs, 0);
  StoreSetting(autoClickIntervalMs, 100);
  StoreSetting(keySpamIntervalHours, 0);
  StoreSetting(keySpamIntervalMins, 0);
  StoreSetting(keySpamIntervalSecs, 0);
  StoreSetting(keySpamIntervalMs, 100);
  StoreSetting(autoClickerButtonIdx, 0);
  StoreSetting(autoClickClickType, 0);
  StoreSetting(autoClickRepeatMode, 1);
  StoreSetting(autoClickRepeatTimes, 10);
  StoreSetting(keySpamRepeatMode, 1);
  StoreSetting(keySpamRepeatTimes, 10);
  autoClickLocationMode.store(0);
  autoClickFixedX.store(0);
  autoClickFixedY.store(0);
  keySpamTargets[0].store(32);
  keySpamTargetCount.store(1);
  vkKeySpamTarget.store(32);
  keySpamChordMode.store(false);
}

std::string BuildProfilesJsonLocked() {
  std::string j = "{\"current\":";
  j += std::to_string(currentProfileIdx);
  j += ",\"rev\":";
  j += std::to_string(g_ProfilesRev.load());
  j += ",\"currentName\":";
  j += CurrentIndexValidLocked() ? JsonEscapeForBind(profiles[static_cast<size_t>(currentProfileIdx)].name)
                                 : std::string("\"\"");
  j += ",\"names\":[";
  for (size_t i = 0; i < profiles.size(); ++i) {
    if (i > 0) j += ',';
    j += JsonEscapeForBind(profiles[i].name);
  }
  j += "],\"cap\":3,\"defaultName\":\"";
  j += kDefaultProfileName;
  j += "\"}";
  return j;
}

std::string BindGetProfiles() {
  std::lock_guard<std::mutex> lock(profileMutex);
  return BuildProfilesJsonLocked();
}

void BindAddProfile(const std::string& rawName) {
  if (rawName.empty() || isRecording.load()) return;
  std::string name = rawName;
  for (char& c : name)
    if (c == '\n' || c == '\r') c = ' ';
  g_ProfilesRev.fetch_add(1);
  std::string settings = SerializeProfileSettings();
  std::lock_guard<std::mutex> lock(profileMutex);
  if (profiles.size() >= static_cast<size_t>(kMaxProfiles)) return;
  MacroProfile p;
  p.name = std::move(name);
  p.settingsLine = std::move(settings);
  profiles.push_back(std::move(p));
  currentProfileIdx = static_cast<int>(profiles.size()) - 1;
  g_ProfileDataRev.fetch_add(1);
}

void BindDeleteProfile() {
  if (isRecording.load()) return;
  g_ProfilesRev.fetch_add(1);
  std::string nextSettings;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (!CurrentIndexValidLocked()) return;
    MacroProfile& cur = profiles[static_cast<size_t>(currentProfileIdx)];
    if (cur.name == kDefaultProfileName) {
      // The default profile is reset instead of deleted.
      ResetAutoClickerKeySpamDefaults();
      cur.events.clear();
      cur.settingsLine = SerializeProfileSettings();
      g_ProfileDataRev.fetch_add(1);
      return;
    }
    if (profiles.size() < 2) return;
    profiles.erase(profiles.begin() + currentProfileIdx);
    if (currentProfileIdx >= static_cast<int>(profiles.size())) currentProfileIdx = static_cast<int>(profiles.size()) - 1;
    nextSettings = profiles[static_cast<size_t>(currentProfileIdx)].settingsLine;
    g_ProfileDataRev.fetch_add(1);
  }
  ApplyProfileSettingsLine(nextSettings);
}

void BindSwitchProfile(const std::string& indexText) {
  if (isRecording.load()) return;
  g_ProfilesRev.fetch_add(1);
  std::optional<int32_t> index = ParseLeadingInt32(indexText);
  if (!index) return;
  std::string settings;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (*index < 0 || *index >= static_cast<int>(profiles.size())) return;
    currentProfileIdx = *index;
    settings = profiles[static_cast<size_t>(currentProfileIdx)].settingsLine;
  }
  ApplyProfileSettingsLine(settings);
}

void BindClearProfile() {
  if (isRecording.load()) return;
  g_ProfilesRev.fetch_add(1);
  ResetAutoClickerKeySpamDefaults();
  std::string settings = SerializeProfileSettings();
  std::lock_guard<std::mutex> lock(profileMutex);
  if (!CurrentIndexValidLocked()) return;
  MacroProfile& cur = profiles[static_cast<size_t>(currentProfileIdx)];
  cur.events.clear();
  cur.settingsLine = std::move(settings);
  g_ProfileDataRev.fetch_add(1);
}
