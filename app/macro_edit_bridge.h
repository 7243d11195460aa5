#pragma once
// The macro editor's bridge handlers: edits applied to the current profile's
// events under the profile lock, one batch at a time, each batch one step of
// undo and redo, each saved like a recording before the page is told it was made.
#include <string>

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
