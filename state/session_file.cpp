// The session file: its text, the writer with change detection and the
// tolerant loader.
#include "state/session_file.h"

#include <algorithm>
#include <cstdio>
#include <charconv>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

#include "base/atomic_file.h"
#include "base/number_text.h"
#include "base/read_file.h"
#include "state/app_settings.h"

std::string g_SessionStateFilePath;
std::string GetSessionStateFilePath() { return g_SessionStateFilePath; }

// ---- event lines -------------------------------------------------------------

namespace {

template <typename T>
void AppendInteger(std::string& out, T v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

constexpr std::string_view kSettingsPrefix = "SETTINGS:";
constexpr std::string_view kCurrentPrefix = "CURRENT:";
constexpr std::string_view kProfilePrefix = "PROFILE:";
constexpr std::string_view kProfileSettingsPrefix = "PROFILESETTINGS:";

// A name is one line of the file: line breaks become spaces.
void AppendNameLine(std::string& out, const std::string& name) {
  size_t from = out.size();
  out += name;
  for (size_t i = from; i < out.size(); ++i)
    if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
}

}  // namespace

void AppendEventLine(std::string& out, const UnifiedEvent& ev) {
  AppendInteger(out, ev.type);
  out += ',';
  AppendDefaultFloat(out, ev.time);
  out += ',';
  AppendInteger(out, ev.x);
  out += ',';
  AppendInteger(out, ev.y);
  out += ',';
  AppendInteger(out, ev.flags);
  out += ',';
  AppendInteger(out, ev.vk);
  out += ',';
  out += ev.keyDown ? '1' : '0';
  out += ',';
  AppendInteger(out, ev.wheelDelta);
}

bool ParseEventLine(std::string_view line, UnifiedEvent& out) {
  std::string_view field[8];
  size_t start = 0;
  for (int i = 0; i < 8; ++i) {
    if (start > line.size()) return false;  // fewer than 8 fields
    size_t pos = line.find(',', start);
    if (pos == std::string_view::npos) pos = line.size();
    field[i] = line.substr(start, pos - start);
    start = pos + 1;
  }
  auto type = ParseLeadingInt32(field[0]);
  if (!type) return false;
  auto time = ParseLeadingDouble(field[1]);
  if (!time) return false;
  auto x = ParseLeadingInt64(field[2]);
  if (!x) return false;
  auto y = ParseLeadingInt64(field[3]);
  if (!y) return false;
  auto flags = ParseLeadingUInt64(field[4]);
  if (!flags) return false;
  auto vk = ParseLeadingInt32(field[5]);
  if (!vk) return false;
  auto down = ParseLeadingInt32(field[6]);
  if (!down) return false;
  auto wheel = ParseLeadingInt32(field[7]);
  if (!wheel) return false;
  out.type = *type;
  out.time = *time;
  out.x = *x;
  out.y = *y;
  out.flags = *flags;
  out.vk = *vk;
  out.keyDown = *down != 0;
  out.wheelDelta = *wheel;
  return true;
}

std::string BuildSessionText(const std::string& settingsLine, int current,
                             const std::vector<MacroProfile>& list) {
  size_t estimate = settingsLine.size() + 32;
  for (const MacroProfile& p : list) estimate += p.name.size() + p.settingsLine.size() + 40 + p.events.size() * 28;
  std::string text;
  text.reserve(estimate);
  text += kSettingsPrefix;
  text += settingsLine;
  text += '\n';
  text += kCurrentPrefix;
  AppendInteger(text, current);
  text += '\n';
  for (const MacroProfile& p : list) {
    text += kProfilePrefix;
    AppendNameLine(text, p.name);
    text += '\n';
    if (!p.settingsLine.empty()) {
      text += kProfileSettingsPrefix;
      text += p.settingsLine;
      text += '\n';
    }
    for (const UnifiedEvent& ev : p.events) {
      AppendEventLine(text, ev);
      text += '\n';
    }
  }
  return text;
}

// ---- writer --------------------------------------------------------------------

namespace {

// What a profile looked like when its text was last known to be on disk.
// Checked under the profile lock on every autosave tick, so an unchanged
// session costs a few comparisons instead of formatting every event. Any
// append, clear, reload or time normalisation changes the count, the buffer,
// the first or last event or one of the samples.
constexpr size_t kSamples = 8;
struct ProfileKey {
  std::string name;
  std::string settingsLine;
  size_t count = 0;
  size_t capacity = 0;
  const UnifiedEvent* data = nullptr;
  UnifiedEvent sample[kSamples + 2];
};

struct ContentKey {
  bool valid = false;
  std::string path;
  std::string settingsLine;
  int current = 0;
  uint64_t dataRev = 0;
  std::vector<ProfileKey> profiles;
};

size_t SampleIndex(size_t k, size_t count) {
  // first, last, and kSamples points spread between them
  if (k == 0) return 0;
  if (k == 1) return count - 1;
  return (count - 1) * (k - 1) / (kSamples + 1);
}

bool ProfileMatches(const ProfileKey& key, const MacroProfile& p) {
  const size_t count = p.events.size();
  if (key.count != count || key.capacity != p.events.capacity() || key.data != p.events.data() ||
      key.name != p.name || key.settingsLine != p.settingsLine)
    return false;
  if (count == 0) return true;
  for (size_t k = 0; k < kSamples + 2; ++k)
    if (!(key.sample[k] == p.events[SampleIndex(k, count)])) return false;
  return true;
}

ProfileKey MakeProfileKey(const MacroProfile& p) {
  ProfileKey key;
  key.name = p.name;
  key.settingsLine = p.settingsLine;
  key.count = p.events.size();
  key.capacity = p.events.capacity();
  key.data = p.events.data();
  if (key.count > 0)
    for (size_t k = 0; k < kSamples + 2; ++k) key.sample[k] = p.events[SampleIndex(k, key.count)];
  return key;
}

// Guards the whole save (lastHash, lastSize, the written key, the stats), so
// the autosave and the shutdown save never interleave.
std::mutex lastLock;
uint64_t lastHash = 0;
int64_t lastSize = -1;
std::string lastPath;  // where the last text was written
ContentKey writtenKey;
SessionSaveStats lastStats;

void SaveSession(bool waitForLock) {
  using Clock = std::chrono::steady_clock;
  SessionSaveStats stats;
  std::string settingsLine = SerializeSettings();
  const std::string path = GetSessionStateFilePath();

  std::lock_guard<std::mutex> saveGuard(lastLock);
  std::unique_lock<std::mutex> lock(profileMutex, std::defer_lock);
  int64_t heldNs = 0;
  Clock::time_point locked;
  // Takes the profile lock (or finds it busy, for the autosave).
  auto acquire = [&]() -> bool {
    if (waitForLock) {
      lock.lock();
    } else if (!lock.try_lock()) {
      stats.skippedBusy = true;
      lastStats = stats;
      return false;
    }
    locked = Clock::now();
    return true;
  };
  auto release = [&] {
    lock.unlock();
    heldNs += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - locked).count();
  };

  if (!acquire()) return;
  // The quick test: same settings, same profiles as the text on disk.
  // The shutdown save always formats and compares the full text.
  if (!waitForLock && writtenKey.valid && writtenKey.path == path && writtenKey.settingsLine == settingsLine &&
      writtenKey.current == currentProfileIdx && writtenKey.dataRev == g_ProfileDataRev.load() &&
      writtenKey.profiles.size() == profiles.size()) {
    bool same = true;
    for (size_t i = 0; same && i < profiles.size(); ++i) same = ProfileMatches(writtenKey.profiles[i], profiles[i]);
    if (same) {
      release();
      stats.lockHoldNs = heldNs;
      lastStats = stats;
      return;
    }
  }
  std::vector<size_t> sizes;
  for (const MacroProfile& p : profiles) sizes.push_back(p.events.size());
  release();

  // The event buffers of the copy are allocated and touched outside the lock,
  // so that under the lock the copy is a plain memory copy without page
  // faults. Room for some events recorded in between keeps it that way; the
  // room grows with the recording, so empty profiles cost nothing.
  std::vector<MacroProfile> copy(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    copy[i].events.resize(sizes[i] + sizes[i] / 8 + 256);
    copy[i].events.clear();
  }

  if (!acquire()) return;
  copy.resize(profiles.size());
  for (size_t i = 0; i < profiles.size(); ++i) {
    copy[i].name = profiles[i].name;
    copy[i].settingsLine = profiles[i].settingsLine;
    copy[i].events.assign(profiles[i].events.begin(), profiles[i].events.end());
  }
  const int current = currentProfileIdx;
  ContentKey key;
  key.valid = true;
  key.path = path;
  key.settingsLine = settingsLine;
  key.current = current;
  key.dataRev = g_ProfileDataRev.load();
  key.profiles.reserve(profiles.size());
  for (const MacroProfile& p : profiles) key.profiles.push_back(MakeProfileKey(p));
  release();
  stats.lockHoldNs = heldNs;

  std::string text = BuildSessionText(settingsLine, current, copy);
  copy.clear();
  copy.shrink_to_fit();
  stats.rebuilt = true;
  stats.bytes = text.size();
  const uint64_t hash = std::hash<std::string>{}(text);
  const int64_t size = static_cast<int64_t>(text.size());
  if (hash == lastHash && size == lastSize && path == lastPath) {
    writtenKey = std::move(key);
    lastStats = stats;
    return;
  }
  if (WriteFileAtomically(path, text)) {
    lastHash = hash;
    lastSize = size;
    lastPath = path;
    writtenKey = std::move(key);
    stats.wrote = true;
  } else {
    // The previous file is untouched; the next save tries again.
    writtenKey.valid = false;
    stats.writeFailed = true;
  }
  lastStats = stats;
}

}  // namespace

void SaveSessionState() { SaveSession(false); }
void SaveSessionStateBlocking() { SaveSession(true); }

SessionSaveStats LastSessionSaveStats() {
  std::lock_guard<std::mutex> guard(lastLock);
  return lastStats;
}

void ResetSessionWriterForTest() {
  std::lock_guard<std::mutex> guard(lastLock);
  lastHash = 0;
  lastSize = -1;
  lastPath.clear();
  writtenKey = ContentKey{};
  lastStats = SessionSaveStats{};
}

// ---- loader --------------------------------------------------------------------

namespace {

// Which profiles of a file that lists more than the program keeps survive:
// the current one, the first default profile, and then the earliest others
// in file order, up to kMaxProfiles in all. When the file has no default
// profile one place is left for the default that start-up puts in front.
// `n` is the number of profiles in the file, `firstDefault` the index of the
// first default profile (n when there is none); the result holds the kept
// indices in file order.
std::vector<size_t> ProfilesToKeep(size_t n, size_t firstDefault, int current) {
  const size_t room = static_cast<size_t>(kMaxProfiles) - (firstDefault == n ? 1 : 0);
  std::vector<size_t> keep;
  if (n <= room) {
    for (size_t i = 0; i < n; ++i) keep.push_back(i);
    return keep;
  }
  const size_t cur = (current >= 0 && static_cast<size_t>(current) < n) ? static_cast<size_t>(current) : 0;
  std::vector<bool> chosen(n, false);
  chosen[cur] = true;
  size_t count = 1;
  if (firstDefault != n && !chosen[firstDefault]) {
    chosen[firstDefault] = true;
    ++count;
  }
  for (size_t i = 0; i < n && count < room; ++i)
    if (!chosen[i]) {
      chosen[i] = true;
      ++count;
    }
  for (size_t i = 0; i < n; ++i)
    if (chosen[i]) keep.push_back(i);
  return keep;
}

// A session file too large to load is kept beside the new one instead of
// being overwritten by the first autosave.
void SetAsideOversizedSession(const std::string& path) {
  const std::string aside = path + ".too-large";
  if (::rename(path.c_str(), aside.c_str()) == 0)
    std::fprintf(stderr, "Pellomar: %s is larger than %zu MiB; it was kept as %s and the session starts afresh\n",
                 path.c_str(), kSessionFileMaxBytes >> 20, aside.c_str());
}

}  // namespace

bool LoadSessionState() {
  const std::string path = GetSessionStateFilePath();
  RemoveStaleTempFiles(path);
  std::string data;
  // A FIFO, a device or a link in place of the file reads as no file.
  const ReadStatus status =
      ReadFileCapped(path, data, ReadLimits{.maxBytes = kSessionFileMaxBytes, .followLinks = false});
  if (status == ReadStatus::kTooLarge) SetAsideOversizedSession(path);
  if (status != ReadStatus::kOk) return false;
  std::string_view rest(data);


  std::string_view line;
  if (!NextLine(rest, line) || !line.starts_with(kSettingsPrefix)) return false;
  DeserializeSettings(line.substr(kSettingsPrefix.size()));

  int current = 0;
  if (NextLine(rest, line) && line.starts_with(kCurrentPrefix))
    current = ParseLeadingInt32(line.substr(kCurrentPrefix.size())).value_or(0);

  // First pass: how many profiles there are and where the first default
  // profile is, to choose which profiles are kept.
  size_t profileCount = 0;
  size_t firstDefault = static_cast<size_t>(-1);
  {
    std::string_view scan = rest;
    while (!scan.empty()) {
      size_t nl = scan.find('\n');
      std::string_view l = scan.substr(0, nl);
      if (l.starts_with(kProfilePrefix)) {
        if (firstDefault == static_cast<size_t>(-1) && l.substr(kProfilePrefix.size()) == kDefaultProfileName)
          firstDefault = profileCount;
        ++profileCount;
      }
      scan.remove_prefix(nl == std::string_view::npos ? scan.size() : nl + 1);
    }
  }
  if (firstDefault == static_cast<size_t>(-1)) firstDefault = profileCount;
  const std::vector<size_t> keep = ProfilesToKeep(profileCount, firstDefault, current);
  if (keep.size() < profileCount) {
    std::fprintf(stderr, "Pellomar: the session file lists %zu profiles; only %zu are kept\n", profileCount,
                 keep.size());
  }
  // The current index among the kept profiles.
  if (current >= 0 && static_cast<size_t>(current) < profileCount) {
    auto it = std::find(keep.begin(), keep.end(), static_cast<size_t>(current));
    current = it == keep.end() ? 0 : static_cast<int>(it - keep.begin());
  } else {
    current = 0;
  }

  std::vector<MacroProfile> loaded;
  loaded.reserve(keep.size());
  size_t profileIndex = 0;  // of the profile being read, in file order
  size_t nextKept = 0;      // position in keep of the next profile to keep
  bool reading = false;     // the lines belong to a kept profile
  while (NextLine(rest, line)) {
    if (line.starts_with(kProfilePrefix)) {
      const size_t index = profileIndex++;
      reading = nextKept < keep.size() && keep[nextKept] == index;
      if (!reading) continue;
      ++nextKept;
      loaded.emplace_back();
      loaded.back().name = std::string(line.substr(kProfilePrefix.size()));
      // Room for every line up to the next profile, so a long recording is
      // not copied again and again while it grows. A profile whose line is
      // followed at once by the next profile's reserves nothing.
      std::string_view segment;
      if (!rest.starts_with(kProfilePrefix)) {
        size_t end = rest.find("\nPROFILE:");
        segment = rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
      }
      loaded.back().events.reserve(static_cast<size_t>(std::count(segment.begin(), segment.end(), '\n')) + 1);
    } else if (!reading) {
      continue;  // before the first profile, or in a profile that is not kept
    } else if (line.starts_with(kProfileSettingsPrefix)) {
      loaded.back().settingsLine = std::string(line.substr(kProfileSettingsPrefix.size()));
    } else if (line.empty()) {
      continue;
    } else {
      UnifiedEvent ev;
      if (ParseEventLine(line, ev)) loaded.back().events.push_back(ev);
    }
  }
  if (loaded.empty()) return false;

  // The settings just applied stand in for a current profile without its own.
  const std::string appliedProfileSettings = SerializeProfileSettings();
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles = std::move(loaded);
    currentProfileIdx = (current >= 0 && current < static_cast<int>(profiles.size())) ? current : 0;
    MacroProfile& cur = profiles[static_cast<size_t>(currentProfileIdx)];
    if (cur.settingsLine.empty()) cur.settingsLine = appliedProfileSettings;
    g_ProfileDataRev.fetch_add(1);
  }
  return true;
}
