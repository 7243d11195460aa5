// The KWin window report reader and the queries over what it read: no input
// crashes them, and no report yields more windows than it has records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/linux/shell/kwin_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto windows = pmrkwin::ParseWindowList(text);
  size_t records = 1;
  for (char c : text) records += c == ';';
  FUZZ_CHECK(windows.size() <= records);
  for (const auto& w : windows) {
    pmrkwin::PidAtIn(windows, w.x, w.y);
    pmrkwin::PidAtIn(windows, static_cast<double>(w.x) + w.width - 0.5, static_cast<double>(w.y) + w.height);
  }
  int x, y, w, h;
  if (!windows.empty()) pmrkwin::OwnFrameIn(windows, windows.back().pid, x, y, w, h);
  return 0;
}
