// The macro editor's bridge: the current profile's events as rows and edits,
// the undo history, and a save like a recording's before the page hears of it.
#include "app/macro_edit_bridge.h"

#include <algorithm>
#include <mutex>

#include "app/bridge_table.h"
#include "base/json_escape.h"
#include "base/number_text.h"
#include "base/strings.h"
#include "model/tool_state.h"
#include "platform/os_keys.h"
#include "state/session_file.h"
#include "tools/macro_edit.h"
#include "tools/recorder.h"

// ---- the current profile, the history and the bridge --------------------------------

namespace {

// One step of the history: at `start`, the events `now` replaced `old`.
struct Step {
  size_t start = 0;
  std::vector<UnifiedEvent> old;
  std::vector<UnifiedEvent> now;
};

// Guarded by profileMutex (every use holds it).
struct History {
  std::vector<Step> undo, redo;
  size_t bytes = 0;
  // What the events were after the editor last changed them; any other
  // change makes the history meaningless.
  int profile = -1;
  uint64_t dataRev = 0;
  size_t count = 0;
};
History g_History;

// The history may hold this many bytes of events; the oldest steps go first.
constexpr size_t kHistoryBytes = size_t{256} << 20;

size_t StepBytes(const Step& s) { return (s.old.size() + s.now.size()) * sizeof(UnifiedEvent); }

std::vector<UnifiedEvent>* CurrentEventsLocked() {
  if (currentProfileIdx < 0 || currentProfileIdx >= static_cast<int>(profiles.size())) return nullptr;
  return &profiles[static_cast<size_t>(currentProfileIdx)].events;
}

std::string RevLocked() {
  const std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  return std::to_string(currentProfileIdx) + ":" + std::to_string(g_ProfileDataRev.load()) + ":" +
         std::to_string(ev ? ev->size() : 0);
}

void ForgetStaleHistoryLocked() {
  const std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  if (!ev || g_History.profile != currentProfileIdx || g_History.dataRev != g_ProfileDataRev.load() ||
      g_History.count != ev->size()) {
    g_History.undo.clear();
    g_History.redo.clear();
    g_History.bytes = 0;
  }
}

void MarkEditedLocked() {
  g_ProfileDataRev.fetch_add(1);
  const std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  g_History.profile = currentProfileIdx;
  g_History.dataRev = g_ProfileDataRev.load();
  g_History.count = ev ? ev->size() : 0;
}

// The smallest step that turns `before` into `after`: the common head and
// tail are left out.
Step Diff(const std::vector<UnifiedEvent>& before, const std::vector<UnifiedEvent>& after) {
  size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
  size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
    ++tail;
  Step s;
  s.start = head;
  s.old.assign(before.begin() + static_cast<std::ptrdiff_t>(head), before.end() - static_cast<std::ptrdiff_t>(tail));
  s.now.assign(after.begin() + static_cast<std::ptrdiff_t>(head), after.end() - static_cast<std::ptrdiff_t>(tail));
  return s;
}

void Replace(std::vector<UnifiedEvent>& ev, size_t start, size_t count, const std::vector<UnifiedEvent>& with) {
  auto at = ev.begin() + static_cast<std::ptrdiff_t>(start);
  ev.erase(at, at + static_cast<std::ptrdiff_t>(count));
  ev.insert(ev.begin() + static_cast<std::ptrdiff_t>(start), with.begin(), with.end());
}

std::string HeldJsonLocked(const std::vector<UnifiedEvent>& ev) {
  const MacroHeld held = HeldAtEnd(ev);
  std::string j = "[";
  bool first = true;
  auto add = [&](int vk) {
    if (!first) j += ',';
    first = false;
    j += JsonEscapeForBind(GetKeyName(vk));
  };
  for (int vk : held.keys) add(vk);
  for (const MacroHeld::Button& b : held.buttons) add(b.vk);
  return j + "]";
}

std::string Answer(bool ok, const std::string& error) {
  std::lock_guard<std::mutex> lock(profileMutex);
  const std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  std::string j = "{\"ok\":";
  j += ok ? "true" : "false";
  if (!ok) j += ",\"error\":" + JsonEscapeForBind(error);
  j += ",\"rev\":" + JsonEscapeForBind(RevLocked());
  j += ",\"undo\":" + std::to_string(g_History.undo.size());
  j += ",\"redo\":" + std::to_string(g_History.redo.size());
  j += ",\"held\":" + (ev ? HeldJsonLocked(*ev) : std::string("[]"));
  return j + "}";
}

// Saves the session as the autosave does (waiting for the lock instead of
// skipping), so an edit the page shows survives a crash.
std::string SavedAnswer(bool ok, const std::string& error) {
  if (ok) SaveSessionStateBlocking();
  return Answer(ok, error);
}

bool TwoInts(const std::string& args, int64_t& a, int64_t& b) {
  int v[2];
  if (!BridgeIntArgs(args, 2, v)) return false;
  a = v[0];
  b = v[1];
  return a >= 0 && b >= 0;
}

void AppendNumber(std::string& j, double v) { AppendDefaultFloat(j, v); }

const char* ButtonName(uint64_t flags, bool& down, int& vk) {
  down = flags == kFlagLeftDown || flags == kFlagRightDown || flags == kFlagMiddleDown || flags == kFlagOtherDown;
  vk = (flags == kFlagLeftDown || flags == kFlagLeftUp) ? 1
       : (flags == kFlagRightDown || flags == kFlagRightUp) ? 2
       : (flags == kFlagMiddleDown || flags == kFlagMiddleUp) ? 4
                                                              : 0;
  return vk == 0 ? "Other button" : nullptr;
}

void AppendRowJson(std::string& j, const std::vector<UnifiedEvent>& ev, const MacroRow& r, bool relative) {
  const UnifiedEvent& e = ev[r.first];
  const size_t last = r.first + r.count - 1;
  j += "{\"i\":" + std::to_string(r.first) + ",\"n\":" + std::to_string(r.count) + ",\"t\":";
  AppendNumber(j, e.time);
  j += ",\"d\":";
  if (last + 1 < ev.size()) AppendNumber(j, ev[last + 1].time - ev[last].time);
  else j += "null";
  switch (e.type) {
    case kEventMove: {
      j += ",\"k\":\"move\",\"x\":" + std::to_string(e.x) + ",\"y\":" + std::to_string(e.y);
      int64_t x2 = ev[last].x, y2 = ev[last].y;
      if (relative) {
        x2 = y2 = 0;
        for (size_t k = r.first; k <= last; ++k) {
          x2 += ev[k].x;
          y2 += ev[k].y;
        }
      }
      j += ",\"x2\":" + std::to_string(x2) + ",\"y2\":" + std::to_string(y2) + ",\"dur\":";
      AppendNumber(j, ev[last].time - e.time);
      break;
    }
    case kEventButton: {
      bool down = false;
      int vk = 0;
      const char* other = ButtonName(e.flags, down, vk);
      j += ",\"k\":\"button\",\"name\":" + JsonEscapeForBind(other ? other : GetKeyName(vk));
      j += std::string(",\"down\":") + (down ? "true" : "false");
      j += ",\"x\":" + std::to_string(e.x) + ",\"y\":" + std::to_string(e.y);
      break;
    }
    case kEventKey:
      j += ",\"k\":\"key\",\"vk\":" + std::to_string(e.vk) + ",\"name\":" + JsonEscapeForBind(GetKeyName(e.vk));
      j += std::string(",\"down\":") + (e.keyDown ? "true" : "false");
      break;
    case kEventWheel:
    case kEventHWheel:
      j += std::string(",\"k\":\"") + (e.type == kEventWheel ? "wheel" : "hwheel") +
           "\",\"w\":" + std::to_string(e.wheelDelta);
      break;
    default:
      j += ",\"k\":\"other\",\"type\":" + std::to_string(e.type);
      break;
  }
  j += "}";
}

// The rows of the current events, kept while they stay the same events.
struct RowCache {
  std::string rev;
  std::vector<MacroRow> rows;
};
RowCache g_Rows;

constexpr int64_t kMaxRowsPerCall = 2000;
constexpr int64_t kMaxEventsPerCall = 5000;

}  // namespace

std::string BindGetMacroRows(const std::string& args) {
  int64_t from = 0, count = 0;
  if (!TwoInts(args, from, count)) return "null";
  count = std::min(count, kMaxRowsPerCall);
  const bool relative = ReadSetting(bUseRelativeMouse);
  std::lock_guard<std::mutex> lock(profileMutex);
  static const std::vector<UnifiedEvent> kNone;
  const std::vector<UnifiedEvent>* evp = CurrentEventsLocked();
  const std::vector<UnifiedEvent>& ev = evp ? *evp : kNone;
  const std::string rev = RevLocked();
  // Appends during a recording keep the revision's first two parts: the
  // count in it changes, so the rows are built again.
  if (g_Rows.rev != rev) {
    g_Rows.rows = BuildMacroRows(ev);
    g_Rows.rev = rev;
  }
  const std::vector<MacroRow>& rows = g_Rows.rows;
  std::string j = "{\"rev\":" + JsonEscapeForBind(rev) + ",\"events\":" + std::to_string(ev.size()) +
                  ",\"rows\":" + std::to_string(rows.size()) + ",\"relative\":" + (relative ? "true" : "false") +
                  ",\"recording\":" + (isRecording.load() ? "true" : "false") + ",\"from\":" + std::to_string(from) +
                  ",\"list\":[";
  for (int64_t r = from; r < from + count && r < static_cast<int64_t>(rows.size()); ++r) {
    if (r != from) j += ',';
    AppendRowJson(j, ev, rows[static_cast<size_t>(r)], relative);
  }
  j += "],\"held\":" + HeldJsonLocked(ev) + ",\"undo\":" + std::to_string(g_History.undo.size()) +
       ",\"redo\":" + std::to_string(g_History.redo.size()) + "}";
  return j;
}

std::string BindGetMacroEvents(const std::string& args) {
  int64_t from = 0, count = 0;
  if (!TwoInts(args, from, count)) return "null";
  count = std::min(count, kMaxEventsPerCall);
  std::lock_guard<std::mutex> lock(profileMutex);
  const std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  std::string j = "{\"rev\":" + JsonEscapeForBind(RevLocked()) + ",\"from\":" + std::to_string(from) + ",\"list\":[";
  for (int64_t k = from; ev && k < from + count && k < static_cast<int64_t>(ev->size()); ++k) {
    const UnifiedEvent& e = (*ev)[static_cast<size_t>(k)];
    if (k != from) j += ',';
    j += '[';
    AppendEventLine(j, e);
    j += ']';
  }
  return j + "]}";
}

std::string BindEditMacro(const std::string& args) {
  std::string text;
  if (!FirstStringArgument(args, text)) return Answer(false, "Bad edit.");
  const size_t nl = text.find('\n');
  if (nl == std::string::npos) return Answer(false, "Bad edit.");
  const std::string rev = text.substr(0, nl);
  const std::string_view batch = std::string_view(text).substr(nl + 1);
  std::string error;
  std::unique_lock<std::mutex> lock(profileMutex);
  std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  if (isRecording.load()) error = "Stop the recording before editing it.";
  else if (!ev) error = "There is no profile to edit.";
  else if (rev != RevLocked()) error = "The macro changed meanwhile; the list was read again.";
  if (!error.empty()) {
    lock.unlock();  // Answer takes the lock itself
    return Answer(false, error);
  }
  ForgetStaleHistoryLocked();
  std::vector<UnifiedEvent> after = *ev;
  if (!ApplyMacroEdit(after, batch, [](int vk) { return GetKeyName(vk); }, error)) {
    lock.unlock();
    return Answer(false, error);
  }
  Step step = Diff(*ev, after);
  ev->swap(after);
  g_History.redo.clear();
  g_History.bytes += StepBytes(step);
  g_History.undo.push_back(std::move(step));
  while (g_History.bytes > kHistoryBytes && g_History.undo.size() > 1) {
    g_History.bytes -= StepBytes(g_History.undo.front());
    g_History.undo.erase(g_History.undo.begin());
  }
  MarkEditedLocked();
  lock.unlock();
  return SavedAnswer(true, {});
}

namespace {

std::string UndoRedo(bool undo) {
  std::unique_lock<std::mutex> lock(profileMutex);
  if (isRecording.load()) {
    lock.unlock();
    return Answer(false, "Stop the recording before editing it.");
  }
  ForgetStaleHistoryLocked();
  std::vector<Step>& from = undo ? g_History.undo : g_History.redo;
  std::vector<Step>& to = undo ? g_History.redo : g_History.undo;
  std::vector<UnifiedEvent>* ev = CurrentEventsLocked();
  if (from.empty() || !ev) {
    lock.unlock();
    return Answer(false, undo ? "Nothing to undo." : "Nothing to redo.");
  }
  Step s = std::move(from.back());
  from.pop_back();
  if (undo) Replace(*ev, s.start, s.now.size(), s.old);
  else Replace(*ev, s.start, s.old.size(), s.now);
  to.push_back(std::move(s));
  MarkEditedLocked();
  lock.unlock();
  return SavedAnswer(true, {});
}

}  // namespace

std::string BindUndoMacroEdit() { return UndoRedo(true); }
std::string BindRedoMacroEdit() { return UndoRedo(false); }

void ResetMacroEditForTest() {
  std::lock_guard<std::mutex> lock(profileMutex);
  g_History = History{};
  g_Rows = RowCache{};
}
