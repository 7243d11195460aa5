#pragma once
// What a macro file will do, in words a person can check before the file is
// loaded: how long it runs, how many events of each kind it holds, the text
// it types, the shortcuts it presses (the ones that open terminals, run
// dialogs or switch windows flagged), the screen area its clicks touch and
// the playback settings it brings. Built from the parsed file alone; nothing
// is applied.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "state/macro_file.h"

// Marks in the typed text for keys that type no character.
inline constexpr const char* kMacroEnterMark = "\u23CE";      // ⏎
inline constexpr const char* kMacroTabMark = "\u21E5";        // ⇥
inline constexpr const char* kMacroBackspaceMark = "\u232B";  // ⌫
// Any other key in the text, and every shortcut, is shown between these.
inline constexpr const char* kMacroKeyOpen = "\u27E8";   // ⟨
inline constexpr const char* kMacroKeyClose = "\u27E9";  // ⟩

// The typed text stops growing at this many bytes; the key presses after it
// are counted instead. The shortcut list keeps this many distinct entries.
inline constexpr size_t kMacroSummaryTextBytes = 2000;
inline constexpr size_t kMacroSummaryShortcuts = 40;

struct MacroShortcut {
  std::string keys;  // "Ctrl+Alt+T"
  bool flagged = false;
  bool operator==(const MacroShortcut&) const = default;
};

struct MacroSummary {
  size_t events = 0;
  double seconds = 0;  // time of the latest event: how long one pass takes at speed 1
  size_t moves = 0, buttons = 0, keys = 0, wheels = 0;  // events of each kind
  size_t clicks = 0;       // button presses among the button events
  size_t keyPresses = 0;   // presses among the key events
  std::string text;        // what the key presses type, with the marks above
  size_t textLeftOut = 0;  // key presses after the text reached its limit
  std::vector<MacroShortcut> shortcuts;  // distinct, in the order first pressed
  size_t shortcutsLeftOut = 0;           // further distinct shortcuts not listed
  bool flagged = false;                  // a shortcut anywhere in the file is flagged
  // Desktop area the clicks touch (button events), when there is one.
  bool hasClickArea = false;
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  // From the file's settings line; unset when the field is missing or unreadable.
  std::optional<bool> relative;
  std::optional<float> speed;
  std::optional<bool> loop;
  std::optional<int32_t> pauseMs;
};

// The label the current keyboard layout prints on a key (GetKeyName).
using KeyLabelFn = std::function<std::string(int vk)>;

// Key presses become text through `keyLabel`: letters follow Shift and Caps
// Lock; other keys type their label, and with Shift the character a US-style
// layout gives, only when the layout's punctuation labels are those of a US
// layout (otherwise the key is shown as ⟨⇧ label⟩). A press while Ctrl, Alt
// or Super is held is a shortcut. Flagged: any Ctrl+Alt, any Super (alone
// too), Alt+F2, Alt+Tab and any Ctrl+Shift combination.
MacroSummary SummarizeMacro(const MacroFile& file, const KeyLabelFn& keyLabel);

// The summary as a JSON object for the page (keys in a fixed order).
std::string MacroSummaryJson(const MacroSummary& summary);
