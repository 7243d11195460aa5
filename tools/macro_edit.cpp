// The macro editor's rules: rows, edit batches and the key presses that type
// a text. The history and the bridge handlers are app/macro_edit_bridge.cpp.
#include "tools/macro_edit.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "base/json_escape.h"
#include "base/number_text.h"
#include "base/strings.h"
#include "platform/os_keys.h"

namespace {

// ---- small helpers -----------------------------------------------------------

// A time as the session file keeps it (6 significant digits), so an edited
// time shown in the list is the time saved and read back.
double StoredTime(double t) {
  if (!std::isfinite(t)) return 0;
  std::string text;
  AppendDefaultFloat(text, t);
  return ParseLeadingDouble(text).value_or(0);
}

// A whole field as a number (nothing before or after it).
std::optional<int64_t> WholeInt(std::string_view f) {
  if (f.empty() || f.front() == ' ') return std::nullopt;
  for (char c : f.substr(f[0] == '-' ? 1 : 0))
    if (c < '0' || c > '9') return std::nullopt;
  return ParseLeadingInt64(f);
}

std::optional<double> WholeSeconds(std::string_view f) {
  if (f.empty() || f.size() > 32) return std::nullopt;
  for (char c : f)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+')) return std::nullopt;
  auto v = ParseLeadingDouble(f);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

// The longest pause or inserted length an edit accepts: a day.
constexpr double kMaxEditSeconds = 86400;
// The most events one batch may insert (a text of about 25,000 characters).
constexpr size_t kMaxInsertedEvents = 100000;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(std::string_view in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return IsValidUtf8(out);
}

// The next UTF-8 character of `s` from `i` (valid text assumed).
std::string_view NextChar(std::string_view s, size_t& i) {
  size_t len = 1;
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c >= 0xF0) len = 4;
  else if (c >= 0xE0) len = 3;
  else if (c >= 0xC0) len = 2;
  len = std::min(len, s.size() - i);
  std::string_view ch = s.substr(i, len);
  i += len;
  return ch;
}

UnifiedEvent KeyEvent(double t, int vk, bool down) {
  UnifiedEvent e;
  e.type = kEventKey;
  e.time = t;
  e.vk = vk;
  e.keyDown = down;
  return e;
}

UnifiedEvent ButtonEvent(double t, uint64_t flags, int64_t x, int64_t y) {
  UnifiedEvent e;
  e.type = kEventButton;
  e.time = t;
  e.flags = flags;
  e.x = x;
  e.y = y;
  return e;
}

// Press and release flags of buttons 1, 2 and 4.
bool ButtonFlags(int vk, uint64_t& down, uint64_t& up) {
  switch (vk) {
    case 1: down = kFlagLeftDown; up = kFlagLeftUp; return true;
    case 2: down = kFlagRightDown; up = kFlagRightUp; return true;
    case 4: down = kFlagMiddleDown; up = kFlagMiddleUp; return true;
    default: return false;
  }
}

// ---- the operations ------------------------------------------------------------

struct Editor {
  std::vector<UnifiedEvent>& ev;
  const MacroKeyLabelFn& label;
  std::string& error;

  bool Fail(std::string text) {
    error = std::move(text);
    return false;
  }

  size_t n() const { return ev.size(); }

  bool Index(std::string_view f, size_t max, size_t& out) {
    auto v = WholeInt(f);
    if (!v || *v < 0 || static_cast<uint64_t>(*v) > max) return Fail("That row is no longer in the macro.");
    out = static_cast<size_t>(*v);
    return true;
  }
  bool Range(std::string_view fa, std::string_view fb, size_t& a, size_t& b) {
    if (!Index(fa, n(), a) || !Index(fb, n(), b)) return false;
    if (a >= b) return Fail("Select at least one row.");
    return true;
  }
  bool Seconds(std::string_view f, double& out, bool allowZero = true) {
    auto v = WholeSeconds(f);
    if (!v || *v < 0 || (!allowZero && *v == 0) || *v > kMaxEditSeconds)
      return Fail("A time must be a number of seconds from 0 to 86400.");
    out = *v;
    return true;
  }

  void Shift(size_t from, double by) {
    if (by == 0) return;
    for (size_t k = from; k < n(); ++k) ev[k].time = StoredTime(ev[k].time + by);
  }
  // Where events inserted before index i begin.
  double InsertTime(size_t i, double gap) const {
    if (i < n()) return ev[i].time;
    return n() == 0 ? 0 : ev.back().time + gap;
  }
  bool Insert(size_t i, std::vector<UnifiedEvent> block, double length) {
    if (block.size() > kMaxInsertedEvents) return Fail("That inserts too many events at once.");
    if (i < n()) Shift(i, length);
    for (UnifiedEvent& e : block) e.time = StoredTime(e.time);
    ev.insert(ev.begin() + static_cast<std::ptrdiff_t>(i), block.begin(), block.end());
    return true;
  }

  bool Delay(const std::vector<std::string_view>& f) {
    size_t i;
    double s;
    if (f.size() != 3) return Fail("Bad edit.");
    if (!Index(f[1], n(), i) || !Seconds(f[2], s)) return false;
    if (i + 1 >= n()) return Fail("The last event has no pause after it.");
    Shift(i + 1, s - (ev[i + 1].time - ev[i].time));
    ev[i + 1].time = StoredTime(ev[i].time + s);
    return true;
  }
  bool Delete(const std::vector<std::string_view>& f) {
    size_t a, b;
    if (f.size() != 3) return Fail("Bad edit.");
    if (!Range(f[1], f[2], a, b)) return false;
    ev.erase(ev.begin() + static_cast<std::ptrdiff_t>(a), ev.begin() + static_cast<std::ptrdiff_t>(b));
    return true;
  }
  bool Key(const std::vector<std::string_view>& f) {
    size_t i;
    double gap;
    if (f.size() != 4) return Fail("Bad edit.");
    const int64_t vk = WholeInt(f[2]).value_or(0);
    if (!Index(f[1], n(), i) || !Seconds(f[3], gap)) return false;
    if (vk < 8 || vk > 255) return Fail("Choose a key.");
    const double t = InsertTime(i, gap);
    return Insert(i, {KeyEvent(t, static_cast<int>(vk), true), KeyEvent(t + gap, static_cast<int>(vk), false)}, 2 * gap);
  }
  bool Click(const std::vector<std::string_view>& f) {
    size_t i;
    double gap;
    uint64_t down = 0, up = 0;
    if (f.size() != 6) return Fail("Bad edit.");
    const int64_t vk = WholeInt(f[2]).value_or(0);
    const std::optional<int64_t> x = WholeInt(f[3]), y = WholeInt(f[4]);
    if (!Index(f[1], n(), i) || !Seconds(f[5], gap)) return false;
    if (!ButtonFlags(static_cast<int>(vk), down, up)) return Fail("Choose the left, right or middle button.");
    if (!x || !y || std::llabs(*x) > 1000000 || std::llabs(*y) > 1000000) return Fail("That position is off every screen.");
    const double t = InsertTime(i, gap);
    return Insert(i, {ButtonEvent(t, down, *x, *y), ButtonEvent(t + gap, up, *x, *y)}, 2 * gap);
  }
  bool Wait(const std::vector<std::string_view>& f) {
    size_t i;
    double s;
    if (f.size() != 3) return Fail("Bad edit.");
    if (!Index(f[1], n(), i) || !Seconds(f[2], s, false)) return false;
    if (i == 0 || i >= n()) return Fail("A wait goes between two events.");
    Shift(i, s);
    return true;
  }
  bool Text(const std::vector<std::string_view>& f, std::string_view rest) {
    size_t i;
    double gap;
    std::string text, missing;
    if (f.size() < 4) return Fail("Bad edit.");
    if (!Index(f[1], n(), i) || !Seconds(f[2], gap)) return false;
    if (!PercentDecode(rest, text) || text.empty()) return Fail("Type some text to insert.");
    std::vector<TypedKey> keys;
    if (!TextToKeyPresses(text, label, keys, missing))
      return Fail("\u201C" + missing + "\u201D cannot be typed with the current keyboard layout.");
    const double t0 = InsertTime(i, gap);
    std::vector<UnifiedEvent> block;
    block.reserve(keys.size());
    for (size_t k = 0; k < keys.size(); ++k) block.push_back(KeyEvent(t0 + gap * static_cast<double>(k), keys[k].vk, keys[k].down));
    return Insert(i, std::move(block), gap * static_cast<double>(keys.size()));
  }
  // Pause after event k (0 after the last).
  double After(size_t k) const { return k + 1 < n() ? ev[k + 1].time - ev[k].time : 0; }
  bool Move(const std::vector<std::string_view>& f) {
    size_t a, b, to;
    if (f.size() != 4) return Fail("Bad edit.");
    if (!Range(f[1], f[2], a, b) || !Index(f[3], n(), to)) return false;
    if (to >= a && to <= b) return true;  // already there
    const size_t lo = std::min(a, to), hi = std::max(b, to);
    std::vector<std::pair<UnifiedEvent, double>> region;
    // Each event travels with the pause after it (none after the last), so
    // the region keeps its length and the events after it keep their times.
    for (size_t k = lo; k < hi; ++k) region.emplace_back(ev[k], After(k));
    std::vector<std::pair<UnifiedEvent, double>> block(region.begin() + static_cast<std::ptrdiff_t>(a - lo),
                                                       region.begin() + static_cast<std::ptrdiff_t>(b - lo));
    region.erase(region.begin() + static_cast<std::ptrdiff_t>(a - lo), region.begin() + static_cast<std::ptrdiff_t>(b - lo));
    const size_t at = to < a ? to - lo : to - lo - (b - a);
    region.insert(region.begin() + static_cast<std::ptrdiff_t>(at), block.begin(), block.end());
    double t = ev[lo].time;
    for (size_t k = 0; k < region.size(); ++k) {
      ev[lo + k] = region[k].first;
      ev[lo + k].time = StoredTime(t);
      t += region[k].second;
    }
    return true;
  }
  bool ScaleRange(size_t a, size_t b, double factor) {
    const double base = ev[a].time;
    const double span = ev[b - 1].time - base;
    for (size_t k = a + 1; k < b; ++k) ev[k].time = StoredTime(base + (ev[k].time - base) * factor);
    Shift(b, span * (factor - 1));
    return true;
  }
  bool Scale(const std::vector<std::string_view>& f, bool toLength) {
    size_t a, b;
    double v;
    if (f.size() != 4) return Fail("Bad edit.");
    if (!Range(f[1], f[2], a, b)) return false;
    if (!Seconds(f[3], v, !toLength)) return false;
    if (b - a < 2) return Fail("Select at least two rows to change their timing.");
    const double span = ev[b - 1].time - ev[a].time;
    double factor = v;
    if (toLength) {
      if (!(span > 0)) return Fail("The selection takes no time; it cannot be stretched.");
      factor = v / span;
    } else if (!(v > 0) || v > 1000) {
      return Fail("The factor must be above 0 and at most 1000.");
    }
    if (span * factor > kMaxEditSeconds) return Fail("That would make the selection longer than a day.");
    return ScaleRange(a, b, factor);
  }
  bool Trim(const std::vector<std::string_view>& f) {
    double max;
    if (f.size() != 2) return Fail("Bad edit.");
    if (!Seconds(f[1], max)) return false;
    double cut = 0;
    std::vector<double> t(n());
    for (size_t k = 0; k < n(); ++k) t[k] = ev[k].time;
    for (size_t k = 1; k < n(); ++k) {
      const double d = t[k] - t[k - 1];
      if (d > max) cut += d - max;
      if (cut > 0) ev[k].time = StoredTime(t[k] - cut);
    }
    return true;
  }
  bool Release() {
    const MacroHeld held = HeldAtEnd(ev);
    const double t = n() == 0 ? 0 : ev.back().time;
    for (auto it = held.keys.rbegin(); it != held.keys.rend(); ++it) ev.push_back(KeyEvent(t, *it, false));
    for (const MacroHeld::Button& b : held.buttons) {
      uint64_t down = 0, up = 0;
      ButtonFlags(b.vk, down, up);
      ev.push_back(ButtonEvent(t, up, b.x, b.y));
    }
    return true;
  }

  bool One(std::string_view line) {
    std::vector<std::string_view> f;
    SplitStringView(line, ',', f, 6);
    if (f.empty()) return Fail("Bad edit.");
    const std::string_view op = f[0];
    if (op == "delay") return Delay(f);
    if (op == "delete") return Delete(f);
    if (op == "key") return Key(f);
    if (op == "click") return Click(f);
    if (op == "wait") return Wait(f);
    if (op == "text") {
      // The text is everything after the third comma.
      size_t at = 0;
      for (int c = 0; c < 3 && at != std::string_view::npos; ++c) {
        at = line.find(',', at);
        if (at != std::string_view::npos) ++at;
      }
      if (at == std::string_view::npos) return Fail("Bad edit.");
      std::vector<std::string_view> head(f.begin(), f.begin() + std::min<size_t>(f.size(), 3));
      head.push_back(line.substr(at));
      return Text(head, line.substr(at));
    }
    if (op == "move") return Move(f);
    if (op == "scale") return Scale(f, false);
    if (op == "length") return Scale(f, true);
    if (op == "trim") return Trim(f);
    if (op == "release") return f.size() == 1 ? Release() : Fail("Bad edit.");
    return Fail("Bad edit.");
  }
};

}  // namespace

// ---- rows and held keys ------------------------------------------------------------

std::vector<MacroRow> BuildMacroRows(const std::vector<UnifiedEvent>& events) {
  std::vector<MacroRow> rows;
  const size_t n = std::min<size_t>(events.size(), UINT32_MAX);
  for (size_t i = 0; i < n;) {
    size_t j = i + 1;
    if (events[i].type == kEventMove)
      while (j < n && events[j].type == kEventMove) ++j;
    rows.push_back(MacroRow{static_cast<uint32_t>(i), static_cast<uint32_t>(j - i)});
    i = j;
  }
  return rows;
}

MacroHeld HeldAtEnd(const std::vector<UnifiedEvent>& events) {
  MacroHeld held;
  for (const UnifiedEvent& e : events) {
    if (e.type == kEventKey && e.vk > 0) {
      auto it = std::find(held.keys.begin(), held.keys.end(), e.vk);
      if (e.keyDown && it == held.keys.end()) held.keys.push_back(e.vk);
      if (!e.keyDown && it != held.keys.end()) held.keys.erase(it);
    } else if (e.type == kEventButton) {
      for (int vk : {1, 2, 4}) {
        uint64_t down = 0, up = 0;
        ButtonFlags(vk, down, up);
        if (e.flags != down && e.flags != up) continue;
        auto it = std::find_if(held.buttons.begin(), held.buttons.end(),
                               [vk](const MacroHeld::Button& b) { return b.vk == vk; });
        if (e.flags == down && it == held.buttons.end()) held.buttons.push_back({vk, e.x, e.y});
        if (e.flags == up && it != held.buttons.end()) held.buttons.erase(it);
      }
    }
  }
  return held;
}

bool TextToKeyPresses(std::string_view text, const MacroKeyLabelFn& keyLabel, std::vector<TypedKey>& out,
                      std::string& missing) {
  // The label of every key that can type a character, asked once.
  static constexpr int kTypingKeys[] = {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 65, 66, 67, 68, 69, 70, 71, 72,
                                        73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90,
                                        186, 187, 188, 189, 190, 191, 219, 220, 221, 222, 226};
  std::vector<std::pair<int, std::string>> labels;
  for (int vk : kTypingKeys) labels.emplace_back(vk, keyLabel(vk));
  constexpr int kShift = 160;
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const std::string_view ch = NextChar(text, i);
    int vk = 0;
    bool shift = false;
    if (ch == "\n") vk = 13;
    else if (ch == "\t") vk = 9;
    else if (ch == " ") vk = 32;
    else if (ch == "\r") continue;
    else {
      std::string upper(ch);
      const bool lower = ch.size() == 1 && ch[0] >= 'a' && ch[0] <= 'z';
      const bool capital = ch.size() == 1 && ch[0] >= 'A' && ch[0] <= 'Z';
      if (lower) upper[0] = static_cast<char>(ch[0] - 'a' + 'A');
      for (const auto& [code, label] : labels)
        if (label == upper) {
          vk = code;
          shift = capital;
          break;
        }
    }
    if (vk == 0) {
      missing = std::string(ch);
      out.clear();
      return false;
    }
    if (shift) out.push_back({kShift, true});
    out.push_back({vk, true});
    out.push_back({vk, false});
    if (shift) out.push_back({kShift, false});
  }
  return true;
}

bool ApplyMacroEdit(std::vector<UnifiedEvent>& events, std::string_view batch, const MacroKeyLabelFn& keyLabel,
                    std::string& error) {
  std::vector<UnifiedEvent> work = events;
  error.clear();
  Editor ed{work, keyLabel, error};
  std::string_view rest = batch, line;
  bool any = false;
  while (NextLine(rest, line)) {
    if (line.empty()) continue;
    any = true;
    if (!ed.One(line)) {
      if (error.empty()) error = "Bad edit.";
      return false;
    }
  }
  if (!any) {
    error = "Bad edit.";
    return false;
  }
  events.swap(work);
  return true;
}
