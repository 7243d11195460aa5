// Fuzz target for the macro file reader and the recorder's comma list: no
// input crashes them, and whatever the reader accepts is written back in a
// form that reads to the same events and writes to the same bytes again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "state/macro_file.h"
#include "tools/status_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MacroFile file;
  if (ParseMacroFileText(text, file) == MacroFileError::kNone) {
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
