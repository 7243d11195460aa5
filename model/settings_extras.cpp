// The jitter and click-sequence group of the settings lines.
#include "model/settings_extras.h"

#include <cstdint>
#include <optional>

#include "base/number_text.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "model/tool_state.h"

namespace {

int ReadClamped(const std::vector<std::string_view>& f, size_t i, int max) {
  if (i >= f.size()) return 0;
  const std::optional<int32_t> v = ParseLeadingInt32(f[i]);
  if (!v || *v < 0) return 0;
  return *v > max ? max : *v;
}

}  // namespace

void AppendSettingsExtras(std::string& line) {
  line += ',';
  line += std::to_string(ReadSetting(autoClickJitterMs));
  line += ',';
  line += std::to_string(ReadSetting(autoClickJitterRadius));
  line += ',';
  line += std::to_string(ReadSetting(keySpamJitterMs));
  // An empty sequence is left out rather than written as an empty last field
  // (a line never ends in a comma); a reader takes the missing field as empty.
  const std::string sequence = SerializeClickSequence();
  if (!sequence.empty()) {
    line += ',';
    line += sequence;
  }
}

void ReadSettingsExtras(const std::vector<std::string_view>& f, size_t first) {
  StoreSetting(autoClickJitterMs, ReadClamped(f, first, kMaxJitterMs));
  StoreSetting(autoClickJitterRadius, ReadClamped(f, first + 1, kMaxJitterRadius));
  StoreSetting(keySpamJitterMs, ReadClamped(f, first + 2, kMaxJitterMs));
  DeserializeClickSequence(first + 3 < f.size() ? f[first + 3] : std::string_view());
}
