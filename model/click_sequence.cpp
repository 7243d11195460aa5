// The click sequence list, its stored text and its JSON.
#include "model/click_sequence.h"

#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>

#include "base/number_text.h"
#include "base/strings.h"
#include "model/profiles.h"
#include "model/tool_state.h"

namespace {

std::mutex g_SequenceLock;
std::vector<ClickPoint> g_Sequence;

std::optional<ClickPoint> ParsePoint(std::string_view text) {
  std::vector<std::string_view> f;
  SplitStringView(text, ':', f, 6);
  if (f.size() < 5) return std::nullopt;
  int32_t v[5];
  for (size_t i = 0; i < 5; ++i) {
    const std::optional<int32_t> n = ParseLeadingInt32(f[i]);
    if (!n) return std::nullopt;
    v[i] = *n;
  }
  if (v[2] < 0 || v[2] > 2) return std::nullopt;
  ClickPoint p;
  p.x = v[0];
  p.y = v[1];
  p.button = v[2];
  p.clicks = v[3] == 2 ? 2 : 1;
  p.pauseMs = v[4] < 0 ? 0 : (v[4] > kMaxSequencePauseMs ? kMaxSequencePauseMs : v[4]);
  return p;
}

}  // namespace

std::vector<ClickPoint> ClickSequence() {
  std::lock_guard<std::mutex> lock(g_SequenceLock);
  return g_Sequence;
}

void SetClickSequence(std::vector<ClickPoint> points) {
  if (points.size() > kMaxSequencePoints) points.resize(kMaxSequencePoints);
  std::lock_guard<std::mutex> lock(g_SequenceLock);
  g_Sequence = std::move(points);
}

std::vector<ClickPoint> ParseClickSequence(std::string_view text) {
  std::vector<ClickPoint> out;
  // Point by point, so a text of millions of separators costs no more than
  // the points kept.
  size_t start = 0;
  while (start < text.size() && out.size() < kMaxSequencePoints) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    if (std::optional<ClickPoint> p = ParsePoint(text.substr(start, end - start))) out.push_back(*p);
    start = end + 1;
  }
  return out;
}

void DeserializeClickSequence(std::string_view text) { SetClickSequence(ParseClickSequence(text)); }

std::string SerializeClickSequence() {
  std::string s;
  for (const ClickPoint& p : ClickSequence()) {
    if (!s.empty()) s += ';';
    s += std::to_string(p.x) + ':' + std::to_string(p.y) + ':' + std::to_string(p.button) + ':' +
         std::to_string(p.clicks) + ':' + std::to_string(p.pauseMs);
  }
  return s;
}

std::string ClickSequenceJson() {
  std::string j = "[";
  for (const ClickPoint& p : ClickSequence()) {
    if (j.size() > 1) j += ',';
    j += "{\"x\":" + std::to_string(p.x) + ",\"y\":" + std::to_string(p.y) + ",\"button\":" +
         std::to_string(p.button) + ",\"clicks\":" + std::to_string(p.clicks) + ",\"pause\":" +
         std::to_string(p.pauseMs) + '}';
  }
  j += ']';
  return j;
}

void ApplyClickSequenceUpdate(const std::string& text) {
  DeserializeClickSequence(text);
  SnapshotActiveProfileSettings();
}
