// The session file as the loader meets it: any bytes, then the save of what
// was loaded. What one save writes, a load followed by a save writes again
// byte for byte; the settings line is stable the same way.
#include <mutex>
#include <string>

#include "app/app.h"
#include "fuzz/fuzz_support.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "model/tool_state.h"

namespace {

std::string SaveText() {
  std::lock_guard<std::mutex> lock(profileMutex);
  return BuildSessionText(SerializeSettings(), currentProfileIdx, profiles);
}

void Reset() {
  ResetToolStateForTest();
  std::lock_guard<std::mutex> lock(profileMutex);
  profiles.assign(1, MacroProfile{kDefaultProfileName, "", {}});
  currentProfileIdx = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = pmrfuzz::PrivateHome() + "/session.dat";
  g_SessionStateFilePath = path;
  Reset();
  FUZZ_CHECK(pmrfuzz::PutFile(path, pmrfuzz::AsText(data, size)));
  bool loaded = LoadSessionState();
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    FUZZ_CHECK(!profiles.empty());
    FUZZ_CHECK(currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size()));
  }
  const std::string settings = SerializeSettings();
  DeserializeSettings(settings);
  FUZZ_CHECK(SerializeSettings() == settings);

  std::string first = SaveText();
  if (!loaded) {
    // Nothing usable was read: the defaults saved once are what a later
    // start loads (the current profile then takes the applied settings).
    Reset();
    FUZZ_CHECK(pmrfuzz::PutFile(path, first));
    FUZZ_CHECK(LoadSessionState());
    first = SaveText();
  }
  Reset();
  FUZZ_CHECK(pmrfuzz::PutFile(path, first));
  FUZZ_CHECK(LoadSessionState());
  FUZZ_CHECK(SaveText() == first);
  return 0;
}
