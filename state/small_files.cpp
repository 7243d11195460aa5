// The theme file, the status file and the access marker file.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "base/read_file.h"
#include "platform/os_window.h"
#include "state/app_settings.h"
#include "base/atomic_file.h"
#include "state/session_file.h"

namespace {
constexpr const char* kDefaultThemeKey = "pellomar";

std::string MarkerLine(const std::string& identifier) { return "accessibilityGranted=" + identifier; }

bool MarkerPresent(const std::string& content, const std::string& marker) {
  for (const std::string& line : SplitString(content, '\n'))
    if (line == marker) return true;
  return false;
}
}  // namespace

std::string LoadThemeFromFile() {
  const std::string data = ReadFile(GetThemeFilePath());
  std::string first = data.substr(0, data.find('\n'));
  return first.empty() ? kDefaultThemeKey : first;
}

void SaveTrackerStatusToFile(const std::string& json) {
  // Rewritten on every poll and never read back: no flush to disk, but a
  // reader still never sees half a text.
  WriteFileAtomically(GetTrackerStatusFilePath(), json, AtomicWriteOptions{.sync = false});
}

bool AccessibilityWasGrantedBefore() {
  const std::string id = OsBundleIdentifier();
  if (id.empty()) return false;
  return MarkerPresent(ReadFile(GetAccessMarkerFilePath()), MarkerLine(id));
}

void RememberAccessibilityGranted() {
  const std::string id = OsBundleIdentifier();
  if (id.empty()) return;
  const std::string path = GetAccessMarkerFilePath();
  const std::string content = ReadFile(path);
  const std::string marker = MarkerLine(id);
  if (MarkerPresent(content, marker)) return;
  // A last line without its line feed would swallow the marker.
  std::string text = (!content.empty() && content.back() != '\n') ? "\n" : "";
  text += marker + "\n";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t n = ::write(fd, text.data(), text.size());
  (void)n;
  ::close(fd);
}

std::string GetAppSettingsFilePath() { return OsDataDir() + "/appsettings.txt"; }
std::string GetThemeFilePath() { return OsDataDir() + "/theme.txt"; }
std::string GetTrackerStatusFilePath() { return OsDataDir() + "/status.txt"; }
std::string GetAccessMarkerFilePath() { return OsDataDir() + "/macpermissions.txt"; }
