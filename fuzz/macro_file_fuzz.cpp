// Fuzz target for the macro file reader, the summary shown before a file is
// loaded, and the recorder's comma list: no input crashes them, whatever the
// reader accepts is written back in a form that reads to the same events and
// writes to the same bytes again, and its summary is valid JSON for the page
// whose typed text stays within its limit.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/json_check.h"
#include "state/macro_file.h"
#include "state/macro_summary.h"
#include "app/status_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MacroFile file;
  if (ParseMacroFileText(text, file) == MacroFileError::kNone) {
    FUZZ_CHECK(file.events.size() <= kMaxMacroFileEvents);
    // Labels as a layout may give them: names, one character, several bytes, none.
    const MacroSummary summary = SummarizeMacro(file, [](int vk) -> std::string {
      switch (vk % 5) {
        case 0: return "Key[" + std::to_string(vk) + "]";
        case 1: return std::string(1, static_cast<char>('A' + (vk & 15)));
        case 2: return "\xC3\x89";
        case 3: return {};
        default: return "\"";
      }
    });
    FUZZ_CHECK(summary.text.size() <= kMacroSummaryTextBytes);
    FUZZ_CHECK(summary.shortcuts.size() <= kMacroSummaryShortcuts);
    FUZZ_CHECK(pmrfuzz::JsonCheck::Valid(MacroSummaryJson(summary)));
    // Six significant digits cannot pin down a subnormal time (its own
    // precision is coarser), so such a time may move by a digit once more.
    bool subnormal = false;
    for (const UnifiedEvent& ev : file.events) subnormal |= std::fpclassify(ev.time) == FP_SUBNORMAL;
    if (subnormal) return 0;
    const std::string once = BuildMacroFileText(file.settingsLine, file.events);
    MacroFile again;
    FUZZ_CHECK(ParseMacroFileText(once, again) == MacroFileError::kNone);
    FUZZ_CHECK(again.events.size() == file.events.size());
    FUZZ_CHECK(BuildMacroFileText(again.settingsLine, again.events) == once);
    ApplyRecorderFieldsOfSettingsLine(file.settingsLine);
  }
  ApplyRecorderUpdate(std::string(text.substr(0, 256)));
  return 0;
}
