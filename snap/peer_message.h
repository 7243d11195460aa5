#pragma once
// The messages windows send each other, read from their wire text.
#include <string>

#include "platform/overlay_scene.h"

enum class PeerMessageKind { kIgnored, kFrame, kSnapCheck, kGlow, kFxApproach, kFxClick, kFxEnd, kMoveTo };

struct PeerMessage {
  PeerMessageKind kind = PeerMessageKind::kIgnored;
  // Glow: colour and up to two lines (left, top, right, bottom) with their direction.
  unsigned colour = 0;
  int lineCount = 0;
  int lines[8] = {};
  bool vertical[2] = {};
  // Effects: the guide (scale 96); for a click also its duration in ms.
  snapfx::Guide guide;
  // moveTo
  int x = 0, y = 0;
};

// Fields separated by "|", the first one the message name. Anything that does
// not follow the vocabulary comes back as kIgnored.
PeerMessage ParsePeerMessage(const std::string& text);

// Frame text: "left,top,width,height;page left,top,width,height;visible;main".
struct FrameText {
  int window[4] = {};
  int page[4] = {};
  bool visible = false;
  bool main = false;
};
std::string FormatFrameText(const FrameText& f);
// Strict reading of another window's answer; false for anything malformed.
bool ParseFrameText(const std::string& text, FrameText& out);
