// Fuzz target: peer message and frame texts from another window.
#include <cstddef>
#include <cstdint>
#include <string>

#include "snap/peer_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  PeerMessage m = ParsePeerMessage(text);
  if (m.lineCount < 0 || m.lineCount > 2) __builtin_trap();
  FrameText f;
  if (ParseFrameText(text, f) && (f.window[2] <= 0 || f.window[3] <= 0)) __builtin_trap();
  return 0;
}
