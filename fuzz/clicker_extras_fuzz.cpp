// The page's jitter, fixed-spot and click-sequence lists, and the stored
// group they fill: every line of the input is one call (first byte: which;
// the rest: the argument as the page sends it). Afterwards the settings JSON
// is valid, the sequence holds at most its limit of points with buttons 0 to
// 2, and the settings line and a profile line read back to the same text.
#include <string>

#include "app/app.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/json_check.h"
#include "state/session_file.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "app/status_json.h"
#include "model/tool_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetToolStateForTest();
  std::string_view rest = pmrfuzz::AsText(data, size);
  int calls = 0;
  while (!rest.empty() && calls++ < 64) {
    size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (line.empty()) continue;
    const std::string arg(line.substr(1));
    switch (static_cast<unsigned char>(line[0]) % 5) {
      case 0: ApplyJitterUpdate(arg); break;
      case 1: ApplyFixedSpotUpdate(arg); break;
      case 2: ApplyClickSequenceUpdate(arg); break;
      case 3: DeserializeSettings(arg); break;
      default: DeserializeProfileSettings(arg); break;
    }
  }
  FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(BuildSettingsJson()));
  const std::vector<ClickPoint> seq = ClickSequence();
  FUZZ_CHECK(seq.size() <= kMaxSequencePoints);
  for (const ClickPoint& p : seq) {
    FUZZ_CHECK(p.button >= 0 && p.button <= 2);
    FUZZ_CHECK(p.clicks == 1 || p.clicks == 2);
    FUZZ_CHECK(p.pauseMs >= 0 && p.pauseMs <= kMaxSequencePauseMs);
  }
  FUZZ_CHECK(ReadSetting(autoClickJitterMs) >= 0 && ReadSetting(autoClickJitterMs) <= kMaxJitterMs);
  FUZZ_CHECK(ReadSetting(autoClickJitterRadius) >= 0 && ReadSetting(autoClickJitterRadius) <= kMaxJitterRadius);

  const std::string line = SerializeSettings();
  const std::string profileLine = SerializeProfileSettings();
  DeserializeSettings(line);
  FUZZ_CHECK(SerializeSettings() == line);
  DeserializeProfileSettings(profileLine);
  FUZZ_CHECK(SerializeProfileSettings() == profileLine);
  return 0;
}
