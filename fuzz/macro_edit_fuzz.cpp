// Fuzz target for the macro editor's edit batches (the page's editMacro
// argument): the events are the event lines before the first empty line, the
// batch is the rest. No batch crashes the editor; a refused batch changes
// nothing and says why; an applied one leaves finite times, rows that cover
// every event once, and after "release" no key or button held.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/strings.h"
#include "fuzz/fuzz_support.h"
#include "state/session_file.h"
#include "tools/macro_edit.h"

namespace {

// Equal events, with a NaN time equal to itself.
bool Same(const std::vector<UnifiedEvent>& a, const std::vector<UnifiedEvent>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    UnifiedEvent x = a[i], y = b[i];
    if (std::isnan(x.time) && std::isnan(y.time)) x.time = y.time = 0;
    if (!(x == y)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t split = text.find("\n\n");
  std::string_view rest = text.substr(0, split), line;
  std::vector<UnifiedEvent> events;
  while (NextLine(rest, line) && events.size() < 500) {
    UnifiedEvent ev;
    if (ParseEventLine(line, ev)) events.push_back(ev);
  }
  const std::string_view batch = split == std::string_view::npos ? std::string_view() : text.substr(split + 2);
  const auto label = [](int vk) -> std::string {
    if ((vk >= 48 && vk <= 57) || (vk >= 65 && vk <= 90)) return std::string(1, static_cast<char>(vk));
    return vk % 3 ? std::string() : "\xC3\x89";
  };
  std::vector<UnifiedEvent> edited = events;
  std::string error;
  if (!ApplyMacroEdit(edited, batch, label, error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(Same(edited, events));
    return 0;
  }
  size_t covered = 0;
  for (const MacroRow& r : BuildMacroRows(edited)) {
    FUZZ_CHECK(r.first == covered && r.count > 0);
    covered += r.count;
  }
  FUZZ_CHECK(covered == edited.size());
  bool inputFinite = true;
  for (const UnifiedEvent& ev : events) inputFinite &= std::isfinite(ev.time) && std::fabs(ev.time) < 1e12;
  if (inputFinite)
    for (const UnifiedEvent& ev : edited) FUZZ_CHECK(std::isfinite(ev.time));
  if (ApplyMacroEdit(edited, "release", label, error)) FUZZ_CHECK(HeldAtEnd(edited).empty());
  return 0;
}
