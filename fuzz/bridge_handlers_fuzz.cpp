// The bridge handlers that need no window, driven as the page drives them:
// every line of the input is one call, its first byte choosing the function
// and the rest being the argument array text. After every call the JSON the
// page polls stays valid JSON, the profile list stays within its limits, and
// the session text saved then reads back to the same text.
#include <mutex>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/bridge_table.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/json_check.h"
#include "state/app_settings.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "app/status_json.h"
#include "model/tool_state.h"

namespace {

const char* const kCalls[] = {
    "updateSpammer", "updateKeySpam",  "removeKeySpamTarget", "setKeySpamChordMode", "getAppSettings",
    "markWarningSeen", "setAppSetting", "setPanelOrder",      "resetHotkeys",        "getTrackerStatus",
    "clearProfile",  "addProfile",     "deleteProfile",       "switchProfile",       "getProfiles",
    "getSettings",   "reassignKey",
    // hold to run, turbo, the panic combination
    "setHoldOption", "setPanicCombo",
};
constexpr size_t kCallCount = sizeof kCalls / sizeof kCalls[0];

std::vector<BridgeBinding>& Table() {
  static std::vector<BridgeBinding> table = [] {
    BridgeContext ctx;
    ctx.dispatch = [](std::function<void()>) {};
    ctx.loadMainUi = [] {};
    ctx.startUpdate = [](const std::string&, const std::string&) {};
    std::vector<BridgeBinding> all = BuildBridgeTable(ctx), picked;
    for (const char* name : kCalls)
      for (BridgeBinding& b : all)
        if (b.name == name && b.sync) picked.push_back(b);
    FUZZ_CHECK(picked.size() == kCallCount);
    return picked;
  }();
  return table;
}

std::string SaveText() {
  std::lock_guard<std::mutex> lock(profileMutex);
  return BuildSessionText(SerializeSettings(), currentProfileIdx, profiles);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string session = pmrfuzz::PrivateHome() + "/session.dat";
  g_SessionStateFilePath = session;
  std::vector<BridgeBinding>& table = Table();
  ResetToolStateForTest();
  ResetAppSettingsForTest();
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    // As after start-up: the current profile carries the applied settings.
    profiles.assign(1, MacroProfile{kDefaultProfileName, SerializeProfileSettings(), {}});
    currentProfileIdx = 0;
  }

  std::string_view rest = pmrfuzz::AsText(data, size);
  int calls = 0;
  while (!rest.empty() && calls++ < 64) {
    size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (line.empty()) continue;
    const BridgeBinding& b = table[static_cast<unsigned char>(line[0]) % kCallCount];
    const std::string reply = b.sync(std::string(line.substr(1)));
    if (!reply.empty()) FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(reply));
  }

  FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(BuildSettingsJson()));
  FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(BindGetAppSettings()));
  FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(BindGetProfiles()));
  FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(RunStatusPoll()));
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    FUZZ_CHECK(!profiles.empty() && profiles.size() <= static_cast<size_t>(kMaxProfiles));
    FUZZ_CHECK(currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size()));
  }
  const std::string saved = SaveText();
  FUZZ_CHECK(pmrfuzz::PutFile(session, saved));
  FUZZ_CHECK(LoadSessionState());
  FUZZ_CHECK(SaveText() == saved);
  return 0;
}
