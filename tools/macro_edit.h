#pragma once
// The macro editor's native side: the current profile's events as the rows
// the editor lists (runs of pointer movement folded into one row), and edits
// applied to the events under the profile lock, one batch at a time, each
// batch one step of undo and redo, each saved like a recording before the
// page is told it was made.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "state/profiles.h"

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

// Bridge handlers (main thread). The argument is the call's argument array.
// getMacroRows [from, count]: {"rev","events","rows","relative","from","list":[row…],"held":[name…]}
std::string BindGetMacroRows(const std::string& args);
// getMacroEvents [from, count]: {"rev","from","list":[[type,time,x,y,flags,vk,down,wheel]…]} (at most 5000)
std::string BindGetMacroEvents(const std::string& args);
// editMacro [rev, batch]: applies the batch when `rev` is still the events'
// revision, saves the session, and answers {"ok":true,"rev",...} or
// {"ok":false,"error"}. Refused while recording.
std::string BindEditMacro(const std::string& args);
// undoMacroEdit / redoMacroEdit: the same answer; nothing to undo or redo is
// an error the page shows. The history lives as long as the program and is
// forgotten when the events change by anything but the editor.
std::string BindUndoMacroEdit();
std::string BindRedoMacroEdit();

// Forgets the history (tests).
void ResetMacroEditForTest();
