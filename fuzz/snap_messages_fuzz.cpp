// Peer message and frame texts from another window: nothing crashes the
// readers, and a frame text that reads is written back to a text that reads
// to the same frame.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "snap/peer_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  PeerMessage m = ParsePeerMessage(text);
  FUZZ_CHECK(m.lineCount >= 0 && m.lineCount <= 2);
  FrameText f;
  if (ParseFrameText(text, f)) {
    FUZZ_CHECK(f.window[2] > 0 && f.window[3] > 0);
    FrameText again;
    FUZZ_CHECK(ParseFrameText(FormatFrameText(f), again));
    FUZZ_CHECK(std::memcmp(again.window, f.window, sizeof f.window) == 0);
    FUZZ_CHECK(std::memcmp(again.page, f.page, sizeof f.page) == 0);
    FUZZ_CHECK(again.visible == f.visible && again.main == f.main);
  }
  return 0;
}
