// Summaries of macro files for the question asked before one is loaded.
#include "state/macro_summary.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/json_escape.h"
#include "base/number_text.h"
#include "base/strings.h"
#include "model/profiles.h"

namespace {

// VK codes of the keys the summary treats specially.
constexpr int kVkBackspace = 8, kVkTab = 9, kVkEnter = 13, kVkSpace = 32, kVkCapsLock = 20, kVkF2 = 113;

bool IsShift(int vk) { return vk == 16 || vk == 160 || vk == 161; }
bool IsCtrl(int vk) { return vk == 17 || vk == 162 || vk == 163; }
bool IsAlt(int vk) { return vk == 18 || vk == 164 || vk == 165; }
bool IsSuper(int vk) { return vk == 91 || vk == 92; }

// The keys whose unshifted label tells a US-style layout, with that label
// and what they type with Shift there.
struct UsKey {
  int vk;
  const char* label;
  char shifted;
};
constexpr UsKey kUsPunctuation[] = {{186, ";", ':'},  {187, "=", '+'}, {188, ",", '<'}, {189, "-", '_'},
                                    {190, ".", '>'},  {191, "/", '?'}, {219, "[", '{'}, {220, "Backslash", '|'},
                                    {221, "]", '}'},  {222, "'", '"'}, {192, "`", '~'}};
constexpr char kUsShiftedDigits[] = ")!@#$%^&*(";

// Number of code points in a UTF-8 text.
size_t CodePoints(std::string_view s) {
  return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Lower case of a one-character label: ASCII, Latin-1 and basic Cyrillic
// capitals (the layouts' letters); anything else as it is.
std::string Lower(std::string s) {
  if (s.size() == 1 && s[0] >= 'A' && s[0] <= 'Z') s[0] = static_cast<char>(s[0] - 'A' + 'a');
  if (s.size() == 2) {
    const unsigned char a = static_cast<unsigned char>(s[0]), b = static_cast<unsigned char>(s[1]);
    if (a == 0xC3 && b >= 0x80 && b <= 0x9E && b != 0x97) s[1] = static_cast<char>(b + 0x20);   // À..Þ
    if (a == 0xD0 && b >= 0x90 && b <= 0x9F) s[1] = static_cast<char>(b + 0x20);                // А..П
    if (a == 0xD0 && b >= 0xA0 && b <= 0xAF) s = std::string("\xD1") + static_cast<char>(b - 0x20);  // Р..Я
  }
  return s;
}

bool IsLetterLabel(const std::string& s) { return Lower(s) != s; }


struct Keyboard {
  bool shift = false, ctrl = false, alt = false, super = false, caps = false;
  bool superUsed = false;  // a key was pressed while Super was held
};

struct Summarizer {
  const KeyLabelFn& label;
  MacroSummary& out;
  bool usLike = true;
  Keyboard kb;

  void Add(const std::string& piece) {
    if (out.text.size() + piece.size() > kMacroSummaryTextBytes || out.textLeftOut > 0) {
      ++out.textLeftOut;
      return;
    }
    out.text += piece;
  }

  std::string Bracketed(const std::string& what) { return std::string(kMacroKeyOpen) + what + kMacroKeyClose; }

  std::string Name(int vk) {
    std::string name = label(vk);
    if (vk == 220 && name == "Backslash") return "\\";
    return name;
  }

  // What a key types, or empty when it types no character of its own.
  std::string Char(int vk) {
    if (vk >= 96 && vk <= 105) return std::string(1, static_cast<char>('0' + vk - 96));
    switch (vk) {
      case 106: return "*";
      case 107: return "+";
      case 109: return "-";
      case 110: return ".";
      case 111: return "/";
      default: break;
    }
    std::string name = Name(vk);
    if (name.empty() || CodePoints(name) != 1 || static_cast<unsigned char>(name[0]) < 0x21) return {};
    if (IsLetterLabel(name)) return kb.shift != kb.caps ? name : Lower(name);
    if (!kb.shift) return vk == 192 && !usLike ? std::string() : name;
    if (usLike) {
      if (vk >= 48 && vk <= 57 && name == std::string(1, static_cast<char>(vk))) return std::string(1, kUsShiftedDigits[vk - 48]);
      for (const UsKey& k : kUsPunctuation)
        if (k.vk == vk) return std::string(1, k.shifted);
    }
    return {};
  }

  void Shortcut(const std::string& keyName, bool flagged) {
    Add(Bracketed(keyName));
    out.flagged |= flagged;
    for (const MacroShortcut& s : out.shortcuts)
      if (s.keys == keyName) return;
    if (out.shortcuts.size() < kMacroSummaryShortcuts)
      out.shortcuts.push_back({keyName, flagged});
    else
      ++out.shortcutsLeftOut;
  }

  void Key(int vk, bool down) {
    if (IsShift(vk)) kb.shift = down;
    if (IsCtrl(vk)) kb.ctrl = down;
    if (IsAlt(vk)) kb.alt = down;
    if (IsSuper(vk)) {
      // Super pressed and let go alone opens the desktop's launcher.
      if (down && !kb.super) kb.superUsed = false;
      if (!down && kb.super && !kb.superUsed) Shortcut("Super", true);
      kb.super = down;
    }
    if (!down || IsShift(vk) || IsCtrl(vk) || IsAlt(vk) || IsSuper(vk)) return;
    if (vk == kVkCapsLock) kb.caps = !kb.caps;
    if (kb.ctrl || kb.alt || kb.super) {
      kb.superUsed = true;
      std::string keys;
      if (kb.ctrl) keys += "Ctrl+";
      if (kb.alt) keys += "Alt+";
      if (kb.shift) keys += "Shift+";
      if (kb.super) keys += "Super+";
      keys += label(vk);
      const bool flagged = (kb.ctrl && kb.alt) || kb.super || (kb.ctrl && kb.shift) ||
                           (kb.alt && (vk == kVkF2 || vk == kVkTab));
      Shortcut(keys, flagged);
      return;
    }
    switch (vk) {
      case kVkEnter: return Add(kMacroEnterMark);
      case kVkTab: return Add(kMacroTabMark);
      case kVkBackspace: return Add(kMacroBackspaceMark);
      case kVkSpace: return Add(" ");
      case kVkCapsLock: return;
      default: break;
    }
    std::string c = Char(vk);
    if (c.empty()) c = Bracketed(kb.shift ? "\u21E7" + Name(vk) : label(vk));
    Add(c);
  }
};

// One field of the settings line: a 0/1 flag.
std::optional<bool> Flag(const std::vector<std::string>& f, size_t i) {
  if (i < f.size() && f[i] == "1") return true;
  if (i < f.size() && f[i] == "0") return false;
  return std::nullopt;
}

void AppendOptional(std::string& j, const char* key, const std::string& value, bool has) {
  j += ",\"";
  j += key;
  j += "\":";
  j += has ? value : "null";
}

}  // namespace

MacroSummary SummarizeMacro(const MacroFile& file, const KeyLabelFn& keyLabel) {
  MacroSummary out;
  Summarizer s{keyLabel, out, true, {}};
  for (const UsKey& k : kUsPunctuation) s.usLike &= keyLabel(k.vk) == k.label;
  out.events = file.events.size();
  for (const UnifiedEvent& ev : file.events) {
    if (std::isfinite(ev.time)) out.seconds = std::max(out.seconds, ev.time);
    switch (ev.type) {
      case kEventMove: ++out.moves; break;
      case kEventWheel:
      case kEventHWheel: ++out.wheels; break;
      case kEventButton: {
        ++out.buttons;
        if (ev.flags & (kFlagLeftDown | kFlagRightDown | kFlagMiddleDown | kFlagOtherDown)) ++out.clicks;
        if (!out.hasClickArea) {
          out.hasClickArea = true;
          out.left = out.right = ev.x;
          out.top = out.bottom = ev.y;
        }
        out.left = std::min(out.left, ev.x);
        out.right = std::max(out.right, ev.x);
        out.top = std::min(out.top, ev.y);
        out.bottom = std::max(out.bottom, ev.y);
        break;
      }
      case kEventKey:
        ++out.keys;
        if (ev.keyDown) ++out.keyPresses;
        s.Key(ev.vk, ev.keyDown);
        break;
      default: break;
    }
  }
  const std::vector<std::string> f = SplitString(file.settingsLine, ',');
  out.relative = Flag(f, 15);
  if (f.size() > 16)
    if (std::optional<float> v = ParseLeadingFloat(f[16]); v && std::isfinite(*v)) out.speed = *v;
  out.loop = Flag(f, 17);
  if (f.size() > 18) out.pauseMs = ParseLeadingInt32(f[18]);
  return out;
}

std::string MacroSummaryJson(const MacroSummary& m) {
  std::string j = "{\"events\":" + std::to_string(m.events);
  j += ",\"seconds\":";
  AppendDefaultFloat(j, m.seconds);
  j += ",\"moves\":" + std::to_string(m.moves);
  j += ",\"buttons\":" + std::to_string(m.buttons);
  j += ",\"keys\":" + std::to_string(m.keys);
  j += ",\"wheels\":" + std::to_string(m.wheels);
  j += ",\"clicks\":" + std::to_string(m.clicks);
  j += ",\"keyPresses\":" + std::to_string(m.keyPresses);
  j += ",\"text\":" + JsonEscapeForBind(m.text);
  j += ",\"textLeftOut\":" + std::to_string(m.textLeftOut);
  j += ",\"shortcuts\":[";
  for (size_t i = 0; i < m.shortcuts.size(); ++i) {
    if (i) j += ',';
    j += "{\"keys\":" + JsonEscapeForBind(m.shortcuts[i].keys) + ",\"flagged\":" +
         (m.shortcuts[i].flagged ? "true" : "false") + "}";
  }
  j += "],\"shortcutsLeftOut\":" + std::to_string(m.shortcutsLeftOut);
  j += ",\"flagged\":";
  j += m.flagged ? "true" : "false";
  j += ",\"area\":";
  if (m.hasClickArea)
    j += "{\"left\":" + std::to_string(m.left) + ",\"top\":" + std::to_string(m.top) +
         ",\"right\":" + std::to_string(m.right) + ",\"bottom\":" + std::to_string(m.bottom) + "}";
  else
    j += "null";
  AppendOptional(j, "relative", m.relative.value_or(false) ? "true" : "false", m.relative.has_value());
  AppendOptional(j, "speed", m.speed ? FormatDefaultFloat(*m.speed) : "", m.speed.has_value());
  AppendOptional(j, "loop", m.loop.value_or(false) ? "true" : "false", m.loop.has_value());
  AppendOptional(j, "pauseMs", m.pauseMs ? std::to_string(*m.pauseMs) : "", m.pauseMs.has_value());
  j += '}';
  return j;
}
