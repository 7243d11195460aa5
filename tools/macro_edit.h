#pragma once
// The macro editor's rules: the events as the rows the editor lists (runs of
// pointer movement folded into one row), edit batches applied to a copy of
// the events, and the key presses that type a text. The bridge that applies
// them to the current profile, with undo and redo, is app/macro_edit_bridge.h.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/profiles.h"

// One row of the list: a run of `count` events from `first`. Every run of
// consecutive pointer movement events is one row; every other event a row of
// its own.
struct MacroRow {
  uint32_t first = 0;
  uint32_t count = 0;
};
std::vector<MacroRow> BuildMacroRows(const std::vector<UnifiedEvent>& events);

// Keys and buttons a macro leaves pressed at its end: VK codes of keys in the
// order pressed, and the buttons (1 left, 2 right, 4 middle) with where they
// were pressed. Presses of other buttons (flags 128) play nothing and are left out.
struct MacroHeld {
  std::vector<int> keys;
  struct Button {
    int vk = 0;
    int64_t x = 0, y = 0;
  };
  std::vector<Button> buttons;
  bool empty() const { return keys.empty() && buttons.empty(); }
};
MacroHeld HeldAtEnd(const std::vector<UnifiedEvent>& events);

// The label the keyboard layout prints on a key (GetKeyName in the program).
using MacroKeyLabelFn = std::function<std::string(int vk)>;

// One edit batch, as the page sends it: operations separated by line feeds,
// fields by commas, event indices counted in the events as the page saw them.
//   delay,i,seconds       the pause after event i becomes `seconds`; later events move
//   delete,a,b            removes events a..b-1; the others keep their times
//   key,i,vk,gap          a press and release of the key before event i
//   click,i,vk,x,y,gap    a press and release of button vk (1, 2, 4) at x,y before event i
//   wait,i,seconds        a pause before event i
//   text,i,gap,TEXT       the key presses that type TEXT (percent-encoded UTF-8) before event i
//   move,a,b,to           moves events a..b-1 before event `to`, each with the pause after it
//   scale,a,b,factor      the pauses between events a..b-1 times `factor`
//   length,a,b,seconds    the same, to make event a to event b-1 last `seconds`
//   trim,seconds          every pause longer than `seconds` becomes `seconds`
//   release               releases of every key and button left pressed, at the end
// Inserted events are `gap` seconds apart and the events from i move later by
// the inserted length. Every time an edit changes is kept in the form the
// session file stores, so what the list shows is what is saved. The batch is
// applied to a copy: on the first operation that fails nothing changes and
// `error` says why in one sentence.
bool ApplyMacroEdit(std::vector<UnifiedEvent>& events, std::string_view batch, const MacroKeyLabelFn& keyLabel,
                    std::string& error);

// The key presses (VK codes, with their releases) that type `text` on the
// layout `keyLabel` describes: letters by their label (Shift for capitals),
// other characters by the key whose label they are, line feed Enter, tab
// Tab. False, with the character in `missing`, when a character has no key.
struct TypedKey {
  int vk = 0;
  bool down = false;
};
bool TextToKeyPresses(std::string_view text, const MacroKeyLabelFn& keyLabel, std::vector<TypedKey>& out,
                      std::string& missing);
