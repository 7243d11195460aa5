// Reading and writing the peer message texts.
#include "snap/peer_message.h"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "base/number_text.h"
#include "base/strings.h"

namespace {

constexpr int kCoordLimit = 1000000;

bool Within(std::optional<int32_t> v, long long limit) { return v && std::llabs(*v) <= limit; }

bool ReadGuide(const std::vector<std::string_view>& f, snapfx::Guide& g) {
  auto x = ParseLeadingInt32(f[2]), y = ParseLeadingInt32(f[3]), nx = ParseLeadingInt32(f[4]),
       ny = ParseLeadingInt32(f[5]), length = ParseLeadingInt32(f[6]), gap = ParseLeadingInt32(f[7]);
  if (!Within(x, kCoordLimit) || !Within(y, kCoordLimit) || !Within(nx, 1) || !Within(ny, 1)) return false;
  if (!length || *length > 100000 || !gap || *gap > 100000) return false;
  g = snapfx::Guide{};
  g.active = true;
  g.x = *x;
  g.y = *y;
  g.nx = *nx;
  g.ny = *ny;
  g.length = *length;
  g.gap = *gap;
  g.scale = 96;
  return true;
}

bool ReadEdge(std::string_view text, int* line, bool& vertical) {
  std::vector<std::string_view> items;
  SplitStringView(text, ',', items);
  if (items.size() != 5) return false;
  for (int i = 0; i < 4; ++i) {
    auto v = ParseLeadingInt32(items[i]);
    if (!Within(v, kCoordLimit)) return false;
    line[i] = *v;
  }
  vertical = items[4] == "1";
  return true;
}

// Entirely a decimal integer (optional minus), within the coordinate limit.
bool StrictInt(std::string_view s, int& out) {
  if (s.empty()) return false;
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size() || s.size() - i > 8) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  if (s[0] == '-') v = -v;
  if (std::llabs(v) > kCoordLimit) return false;
  out = static_cast<int>(v);
  return true;
}

bool ReadRect(std::string_view text, int* r) {
  std::vector<std::string_view> items;
  SplitStringView(text, ',', items);
  if (items.size() != 4) return false;
  for (int i = 0; i < 4; ++i)
    if (!StrictInt(items[i], r[i])) return false;
  return r[2] > 0 && r[3] > 0;
}

}  // namespace

PeerMessage ParsePeerMessage(const std::string& text) {
  PeerMessage m;
  std::vector<std::string_view> f;
  SplitStringView(text, '|', f);
  if (f.empty()) return m;
  const std::string_view name = f[0];
  if (name == "frame") {
    m.kind = PeerMessageKind::kFrame;
  } else if (name == "snapCheck") {
    m.kind = PeerMessageKind::kSnapCheck;
  } else if (name == "glow") {
    if (f.size() < 2 || f.size() > 4) return m;
    auto colour = ParseLeadingInt64(f[1]);
    if (!colour || *colour < 0 || *colour > 0xFFFFFFFFll) return m;
    m.colour = static_cast<unsigned>(*colour) & 0xFFFFFFu;
    for (size_t i = 2; i < f.size(); ++i)
      if (!ReadEdge(f[i], m.lines + 4 * m.lineCount, m.vertical[m.lineCount])) return PeerMessage{};
      else ++m.lineCount;
    m.kind = PeerMessageKind::kGlow;
  } else if (name == "fx") {
    if (f.size() < 2) return m;
    if (f[1] == "a") {
      if (f.size() != 8 || !ReadGuide(f, m.guide)) return m;
      m.kind = PeerMessageKind::kFxApproach;
    } else if (f[1] == "c") {
      if (f.size() != 9 || !ReadGuide(f, m.guide)) return m;
      auto ms = ParseLeadingInt32(f[8]);
      if (!ms || *ms < 0 || *ms > 5000) return m;
      m.guide.click = true;
      m.guide.duration = *ms;
      m.kind = PeerMessageKind::kFxClick;
    } else {
      m.kind = PeerMessageKind::kFxEnd;
    }
  } else if (name == "moveTo") {
    if (f.size() != 3) return m;
    auto x = ParseLeadingInt32(f[1]), y = ParseLeadingInt32(f[2]);
    if (!Within(x, kCoordLimit) || !Within(y, kCoordLimit)) return m;
    m.x = *x;
    m.y = *y;
    m.kind = PeerMessageKind::kMoveTo;
  }
  return m;
}

std::string FormatFrameText(const FrameText& f) {
  auto rect = [](const int* r) {
    return std::to_string(r[0]) + "," + std::to_string(r[1]) + "," + std::to_string(r[2]) + "," + std::to_string(r[3]);
  };
  return rect(f.window) + ";" + rect(f.page) + ";" + (f.visible ? "1" : "0") + ";" + (f.main ? "1" : "0");
}

bool ParseFrameText(const std::string& text, FrameText& out) {
  std::vector<std::string_view> f;
  SplitStringView(text, ';', f);
  if (f.size() != 4) return false;
  FrameText r;
  if (!ReadRect(f[0], r.window) || !ReadRect(f[1], r.page)) return false;
  r.visible = f[2] == "1";
  r.main = f[3] == "1";
  out = r;
  return true;
}
