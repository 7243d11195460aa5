// The theme file, the status file and the access marker file.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/read_file.h"
#include "platform/os_window.h"
#include "state/app_settings.h"
#include "base/atomic_file.h"
#include "state/session_file.h"

namespace {
constexpr const char* kDefaultThemeKey = "pellomar";

std::string MarkerLine(const std::string& identifier) { return "accessibilityGranted=" + identifier; }

bool MarkerPresent(const std::string& content, const std::string& marker) {
  std::vector<std::string_view> lines;
  SplitStringView(content, '\n', lines);
  for (std::string_view line : lines)
    if (line == marker) return true;
  return false;
}
}  // namespace

std::string LoadThemeFromFile() {
  const std::string data = ReadStateFile(GetThemeFilePath(), kSmallStateFileMaxBytes);
  std::string first = data.substr(0, data.find('\n'));
  return first.empty() ? kDefaultThemeKey : first;
}

void SaveStatusToFile(const std::string& json) {
  // Rewritten on every poll and never read back: no flush to disk, but a
  // reader still never sees half a text.
  WriteFileAtomically(GetStatusFilePath(), json, AtomicWriteOptions{.sync = false});
}

bool AccessibilityWasGrantedBefore() {
  const std::string id = OsBundleIdentifier();
  if (id.empty()) return false;
  return MarkerPresent(ReadStateFile(GetAccessMarkerFilePath(), kSmallStateFileMaxBytes), MarkerLine(id));
}

void RememberAccessibilityGranted() {
  const std::string id = OsBundleIdentifier();
  if (id.empty()) return;
  const std::string path = GetAccessMarkerFilePath();
  const std::string content = ReadStateFile(path, kSmallStateFileMaxBytes);
  const std::string marker = MarkerLine(id);
  if (MarkerPresent(content, marker)) return;
  // A last line without its line feed would swallow the marker.
  std::string text = (!content.empty() && content.back() != '\n') ? "\n" : "";
  text += marker + "\n";
  // Never through a link: the data directory is the only place written.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return;
  ssize_t n = ::write(fd, text.data(), text.size());
  (void)n;
  ::close(fd);
}

std::string GetAppSettingsFilePath() { return OsDataDir() + "/appsettings.txt"; }
std::string GetThemeFilePath() { return OsDataDir() + "/theme.txt"; }
std::string GetStatusFilePath() { return OsDataDir() + "/status.txt"; }
std::string GetAccessMarkerFilePath() { return OsDataDir() + "/macpermissions.txt"; }
