// Replies of the Hyprland socket as the parsers meet them: any bytes, cut at
// the reply limit as the reader cuts them. A window found is the one asked for.
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/linux/shell/hyprland.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kHyprReplyLimit) size = kHyprReplyLimit;
  const std::string_view reply = pmrfuzz::AsText(data, size);

  double x = 0, y = 0;
  HyprParseCursorPos(reply, x, y);
  HyprLuaForVersion(reply);

  // The point asked about comes from the reply's first bytes, so the fuzzer
  // can steer it onto a window it wrote.
  const int px = size > 0 ? data[0] : 0, py = size > 1 ? data[1] : 0;
  const int pid = HyprPidAtIn(reply, px, py);
  FUZZ_CHECK(pid >= 0);

  HyprWindow w;
  const int own = size > 2 ? data[2] : 1;
  if (HyprOwnWindowIn(reply, own, w)) {
    FUZZ_CHECK(w.selector.rfind("address:", 0) == 0);
  }
  return 0;
}
