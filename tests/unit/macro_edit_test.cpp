// The macro editor's native side: rows, every edit operation, batches that
// fail as a whole, typing text on a layout, the keys a macro leaves held,
// and the bridge handlers with their undo history and their save.
#include "tools/macro_edit.h"
#include "app/macro_edit_bridge.h"

#include <gtest/gtest.h>

#include "base/json_escape.h"
#include "base/strings.h"
#include "state/session_file.h"
#include "tests/unit/bridge_json.h"
#include "tests/unit/state_test_util.h"
#include "tools/recorder.h"

using statetest::Ev;

namespace {

// A US-style layout: letters and digits as themselves, the usual punctuation.
std::string UsLabel(int vk) {
  if ((vk >= 48 && vk <= 57) || (vk >= 65 && vk <= 90)) return std::string(1, static_cast<char>(vk));
  switch (vk) {
    case 186: return ";";
    case 187: return "=";
    case 188: return ",";
    case 189: return "-";
    case 190: return ".";
    case 191: return "/";
    case 222: return "'";
    default: return {};
  }
}

// A French-style layout where the letter row starts A Z E and the digit row types & é ".
std::string FrLabel(int vk) {
  if (vk == 81) return "A";
  if (vk == 65) return "Q";
  if (vk == 87) return "Z";
  if (vk == 90) return "W";
  if (vk == 49) return "&";
  if (vk == 50) return "\u00C9";
  return UsLabel(vk);
}

std::vector<double> Times(const std::vector<UnifiedEvent>& ev) {
  std::vector<double> t;
  for (const UnifiedEvent& e : ev) t.push_back(e.time);
  return t;
}

std::vector<int> Vks(const std::vector<UnifiedEvent>& ev) {
  std::vector<int> v;
  for (const UnifiedEvent& e : ev) v.push_back(e.type == kEventKey ? (e.keyDown ? e.vk : -e.vk) : 0);
  return v;
}

// Four keys: A down at 0, A up at 0.1, B down at 1, B up at 1.5.
std::vector<UnifiedEvent> Fixture() {
  return {Ev(3, 0, 0, 0, 0, 65, true), Ev(3, 0.1, 0, 0, 0, 65, false), Ev(3, 1, 0, 0, 0, 66, true),
          Ev(3, 1.5, 0, 0, 0, 66, false)};
}

}  // namespace

TEST(MacroEditOps, EachOperationGivesTheEventsAndTimesExpected) {
  struct Case {
    const char* batch;
    std::vector<int> vks;
    std::vector<double> times;
  };
  const Case cases[] = {
      // The pause after A up becomes 2 s: B moves later by 1.1 s.
      {"delay,1,2", {65, -65, 66, -66}, {0, 0.1, 2.1, 2.6}},
      {"delay,0,0", {65, -65, 66, -66}, {0, 0, 0.9, 1.4}},
      // Deleting keeps the other events' times.
      {"delete,1,3", {65, -66}, {0, 1.5}},
      // A key press and release before B down; B moves by twice the gap.
      {"key,2,67,0.05", {65, -65, 67, -67, 66, -66}, {0, 0.1, 1, 1.05, 1.1, 1.6}},
      // At the end: after the last event by the gap.
      {"key,4,67,0.25", {65, -65, 66, -66, 67, -67}, {0, 0.1, 1, 1.5, 1.75, 2}},
      {"click,0,1,10,20,0.5", {0, 0, 65, -65, 66, -66}, {0, 0.5, 1, 1.1, 2, 2.5}},
      {"wait,2,3", {65, -65, 66, -66}, {0, 0.1, 4, 4.5}},
      // "hi" is H and I, pressed and released 0.1 s apart.
      {"text,2,0.1,hi", {65, -65, 72, -72, 73, -73, 66, -66}, {0, 0.1, 1, 1.1, 1.2, 1.3, 1.4, 1.9}},
      // Moving B's two events to the front: each keeps the pause after it.
      {"move,2,4,0", {66, -66, 65, -65}, {0, 0.5, 0.5, 0.6}},
      {"move,0,1,4", {-65, 66, -66, 65}, {0, 0.9, 1.4, 1.4}},
      {"scale,0,3,2", {65, -65, 66, -66}, {0, 0.2, 2, 2.5}},
      {"scale,1,4,0.5", {65, -65, 66, -66}, {0, 0.1, 0.55, 0.8}},
      {"length,0,4,3", {65, -65, 66, -66}, {0, 0.2, 2, 3}},
      // Every pause over 0.3 s becomes 0.3 s.
      {"trim,0.3", {65, -65, 66, -66}, {0, 0.1, 0.4, 0.7}},
      // Two operations in one batch.
      {"delete,0,2\ntrim,0.2", {66, -66}, {1, 1.2}},
  };
  for (const Case& c : cases) {
    std::vector<UnifiedEvent> ev = Fixture();
    std::string error;
    ASSERT_TRUE(ApplyMacroEdit(ev, c.batch, UsLabel, error)) << c.batch << ": " << error;
    EXPECT_EQ(Vks(ev), c.vks) << c.batch;
    const std::vector<double> t = Times(ev);
    ASSERT_EQ(t.size(), c.times.size()) << c.batch;
    for (size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], c.times[i], 1e-9) << c.batch << " event " << i;
  }
}

TEST(MacroEditOps, ABatchThatFailsAnywhereChangesNothingAndSaysWhy) {
  struct Case {
    const char* batch;
    const char* error;
  };
  const Case cases[] = {
      {"", "Bad edit."},
      {"nonsense", "Bad edit."},
      {"delete,2,2", "Select at least one row."},
      {"delete,0,9", "That row is no longer in the macro."},
      {"delete,-1,2", "That row is no longer in the macro."},
      {"delay,3,1", "The last event has no pause after it."},
      {"delay,0,-1", "A time must be a number of seconds from 0 to 86400."},
      {"delay,0,nan", "A time must be a number of seconds from 0 to 86400."},
      {"delay,0,1e300", "A time must be a number of seconds from 0 to 86400."},
      {"key,0,1,0.1", "Choose a key."},
      {"click,0,5,1,1,0.1", "Choose the left, right or middle button."},
      {"click,0,1,1,x,0.1", "That position is off every screen."},
      {"wait,0,1", "A wait goes between two events."},
      {"text,0,0.1,%", "Type some text to insert."},
      {"text,0,0.1,%FF", "Type some text to insert."},  // not UTF-8
      {"text,0,0.1,hi!", "\u201C!\u201D cannot be typed with the current keyboard layout."},
      {"length,0,2,0", "A time must be a number of seconds from 0 to 86400."},
      {"scale,0,1,2", "Select at least two rows to change their timing."},
      {"scale,0,4,0", "The factor must be above 0 and at most 1000."},
      {"release,1", "Bad edit."},
      // The first operation works, the second does not: neither is applied.
      {"delete,0,1\ndelete,0,9", "That row is no longer in the macro."},
  };
  for (const Case& c : cases) {
    std::vector<UnifiedEvent> ev = Fixture();
    std::string error;
    EXPECT_FALSE(ApplyMacroEdit(ev, c.batch, UsLabel, error)) << c.batch;
    EXPECT_EQ(error, c.error) << c.batch;
    EXPECT_EQ(ev, Fixture()) << c.batch;
  }
}

TEST(MacroEditOps, EditedTimesAreKeptAsTheSessionFileStoresThem) {
  // 1/3 s is stored with 6 significant digits; the edited events hold
  // exactly what a reload gives, so the list shows what is saved.
  std::vector<UnifiedEvent> ev = Fixture();
  std::string error;
  ASSERT_TRUE(ApplyMacroEdit(ev, "scale,0,4,0.3333333", UsLabel, error)) << error;
  for (const UnifiedEvent& e : ev) {
    std::string line;
    AppendEventLine(line, e);
    UnifiedEvent back;
    ASSERT_TRUE(ParseEventLine(line, back));
    EXPECT_EQ(back, e) << line;
  }
}

TEST(MacroEditOps, TextIsTypedWithTheKeysOfTheCurrentLayout) {
  struct Case {
    const char* text;
    std::string (*label)(int);
    std::vector<int> presses;  // VK codes pressed in order (Shift is 160)
    const char* missing;
  };
  const Case cases[] = {
      {"az", UsLabel, {65, 90}, ""},
      {"az", FrLabel, {81, 87}, ""},                // the same letters are other keys on the French layout
      {"&\u00E9", FrLabel, {49, 0}, "\u00E9"},      // é: its key is labelled É (upper case) and not typed
      {"A b", UsLabel, {160, 65, 32, 66}, ""},      // a capital with Shift
      {"1;\n\t", UsLabel, {49, 186, 13, 9}, ""},
      {"x?", UsLabel, {}, "?"},
  };
  for (const Case& c : cases) {
    std::vector<TypedKey> keys;
    std::string missing;
    const bool ok = TextToKeyPresses(c.text, c.label, keys, missing);
    EXPECT_EQ(ok, std::string(c.missing).empty()) << c.text;
    if (!ok) {
      EXPECT_EQ(missing, c.missing) << c.text;
      continue;
    }
    std::vector<int> pressed;
    int held = 0;
    for (const TypedKey& k : keys) {
      if (k.down) pressed.push_back(k.vk);
      held += k.down ? 1 : -1;
    }
    EXPECT_EQ(pressed, c.presses) << c.text;
    EXPECT_EQ(held, 0) << c.text << ": every press is released";
  }
}

TEST(MacroEditOps, HeldKeysAndButtonsAreFoundAndReleasedAtTheEnd) {
  std::vector<UnifiedEvent> ev = {Ev(3, 0, 0, 0, 0, 162, true), Ev(3, 0.1, 0, 0, 0, 65, true),
                                  Ev(2, 0.2, 5, 6, kFlagLeftDown), Ev(2, 0.3, 7, 8, kFlagOtherDown),
                                  Ev(3, 0.4, 0, 0, 0, 65, false), Ev(3, 0.5, 0, 0, 0, 66, true)};
  MacroHeld held = HeldAtEnd(ev);
  EXPECT_EQ(held.keys, (std::vector<int>{162, 66}));
  ASSERT_EQ(held.buttons.size(), 1u);  // the other button's press plays nothing
  EXPECT_EQ(held.buttons[0].vk, 1);
  std::string error;
  ASSERT_TRUE(ApplyMacroEdit(ev, "release", UsLabel, error)) << error;
  EXPECT_TRUE(HeldAtEnd(ev).empty());
  ASSERT_EQ(ev.size(), 9u);
  // Keys released in reverse order of pressing, at the time of the last event.
  EXPECT_EQ(ev[6], Ev(3, 0.5, 0, 0, 0, 66, false));
  EXPECT_EQ(ev[7], Ev(3, 0.5, 0, 0, 0, 162, false));
  EXPECT_EQ(ev[8], Ev(2, 0.5, 5, 6, kFlagLeftUp));  // where it was pressed
}

TEST(MacroEditOps, RunsOfMovementAreOneRow) {
  std::vector<UnifiedEvent> ev = {Ev(1, 0, 1, 1), Ev(1, 0.1, 2, 2), Ev(2, 0.2, 2, 2, kFlagLeftDown),
                                  Ev(1, 0.3, 3, 3), Ev(3, 0.4, 0, 0, 0, 65, true), Ev(1, 0.5, 4, 4),
                                  Ev(1, 0.6, 5, 5), Ev(1, 0.7, 6, 6)};
  const std::vector<MacroRow> rows = BuildMacroRows(ev);
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (const MacroRow& r : rows) got.emplace_back(r.first, r.count);
  EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 2}, {2, 1}, {3, 1}, {4, 1}, {5, 3}}));
  EXPECT_TRUE(BuildMacroRows({}).empty());
}

// ---- through the bridge ---------------------------------------------------------

class MacroEditBridge : public statetest::StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    ResetMacroEditForTest();
    MacroProfile p;
    p.name = kDefaultProfileName;
    p.events = Fixture();
    statetest::SetProfiles({p});
  }
  void TearDown() override {
    ResetMacroEditForTest();
    StateTest::TearDown();
  }
  static bridgetest::Json Parse(const std::string& text) {
    bridgetest::Json j;
    EXPECT_TRUE(bridgetest::ParseJson(text, j)) << text;
    return j;
  }
  static std::string Rev() { return Parse(BindGetMacroRows("[0,0]"))["rev"].s; }
  static bridgetest::Json Edit(const std::string& batch, std::string rev = "") {
    if (rev.empty()) rev = Rev();
    return Parse(BindEditMacro("[" + JsonEscapeForBind(rev + "\n" + batch) + "]"));
  }
  static std::vector<UnifiedEvent> Events() { return statetest::GetProfiles()[0].events; }
  // The events as the session file on disk holds them.
  static std::vector<UnifiedEvent> OnDisk() {
    std::vector<UnifiedEvent> out;
    std::string_view rest;
    const std::string text = statetest::Slurp(GetSessionStateFilePath());
    rest = text;
    std::string_view line;
    bool inProfile = false;
    while (NextLine(rest, line)) {
      if (line.rfind("PROFILE:", 0) == 0) inProfile = true;
      UnifiedEvent e;
      if (inProfile && line.rfind("PROFILE", 0) != 0 && ParseEventLine(line, e)) out.push_back(e);
    }
    return out;
  }
};

TEST_F(MacroEditBridge, EveryEditUndoAndRedoIsOnDiskBeforeThePageHearsOfIt) {
  const std::vector<UnifiedEvent> start = Events();
  bridgetest::Json a = Edit("delete,0,2");
  ASSERT_TRUE(a["ok"].b) << a["error"].s;
  EXPECT_EQ(a["undo"].n, 1);
  const std::vector<UnifiedEvent> afterDelete = Events();
  EXPECT_EQ(afterDelete.size(), 2u);
  EXPECT_EQ(OnDisk(), afterDelete);

  ASSERT_TRUE(Edit("text,2,0.1,ok")["ok"].b);
  const std::vector<UnifiedEvent> afterText = Events();
  EXPECT_EQ(afterText.size(), 6u);
  EXPECT_EQ(OnDisk(), afterText);

  // Undo restores each state exactly, redo brings the edits back.
  bridgetest::Json u = Parse(BindUndoMacroEdit());
  ASSERT_TRUE(u["ok"].b);
  EXPECT_EQ(u["redo"].n, 1);
  EXPECT_EQ(Events(), afterDelete);
  EXPECT_EQ(OnDisk(), afterDelete);
  ASSERT_TRUE(Parse(BindUndoMacroEdit())["ok"].b);
  EXPECT_EQ(Events(), start);
  EXPECT_EQ(OnDisk(), start);
  bridgetest::Json none = Parse(BindUndoMacroEdit());
  EXPECT_FALSE(none["ok"].b);
  EXPECT_EQ(none["error"].s, "Nothing to undo.");
  ASSERT_TRUE(Parse(BindRedoMacroEdit())["ok"].b);
  ASSERT_TRUE(Parse(BindRedoMacroEdit())["ok"].b);
  EXPECT_EQ(Events(), afterText);
  EXPECT_EQ(OnDisk(), afterText);
  EXPECT_EQ(Parse(BindRedoMacroEdit())["error"].s, "Nothing to redo.");

  // A new edit after an undo drops what could be redone.
  ASSERT_TRUE(Parse(BindUndoMacroEdit())["ok"].b);
  ASSERT_TRUE(Edit("trim,0")["ok"].b);
  EXPECT_EQ(Parse(BindRedoMacroEdit())["error"].s, "Nothing to redo.");
}

TEST_F(MacroEditBridge, EditsOfAnOutdatedListOrDuringARecordingAreRefused) {
  const std::string old = Rev();
  ASSERT_TRUE(Edit("delete,0,1", old)["ok"].b);
  // The page's indices were counted in the events before that edit.
  bridgetest::Json stale = Edit("delete,0,1", old);
  EXPECT_FALSE(stale["ok"].b);
  EXPECT_EQ(stale["error"].s, "The macro changed meanwhile; the list was read again.");
  EXPECT_EQ(Events().size(), 3u);

  {
    std::lock_guard<std::mutex> lock(profileMutex);
    BeginRecordingLocked();
  }
  EXPECT_EQ(Edit("trim,0")["error"].s, "Stop the recording before editing it.");
  EXPECT_EQ(Parse(BindUndoMacroEdit())["error"].s, "Stop the recording before editing it.");
  isRecording.store(false);
  // The new recording replaced the events: the history of the old ones is gone.
  EXPECT_EQ(Parse(BindUndoMacroEdit())["error"].s, "Nothing to undo.");
  EXPECT_EQ(Parse(BindGetMacroRows("[0,0]"))["undo"].n, 0);
}

TEST_F(MacroEditBridge, RowsAndEventsAreReadAWindowAtATime) {
  std::vector<UnifiedEvent> ev;
  for (int i = 0; i < 100000; ++i) {
    if (i % 10 == 9) ev.push_back(Ev(3, i * 0.01, 0, 0, 0, 65, i % 20 == 19));
    else ev.push_back(Ev(1, i * 0.01, i, i));
  }
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles[0].events = ev;
    g_ProfileDataRev.fetch_add(1);
  }
  bridgetest::Json r = Parse(BindGetMacroRows("[15000,3]"));
  EXPECT_EQ(r["events"].n, 100000);
  EXPECT_EQ(r["rows"].n, 20000);  // nine movements and one key per ten events
  ASSERT_EQ(r["list"].items.size(), 3u);
  const bridgetest::Json& move = r["list"].items[0];
  EXPECT_EQ(move["k"].s, "move");
  EXPECT_EQ(move["i"].n, 75000);
  EXPECT_EQ(move["n"].n, 9);
  EXPECT_EQ(move["x2"].n, 75008);
  EXPECT_NEAR(move["dur"].n, 0.08, 1e-9);
  EXPECT_NEAR(move["d"].n, 0.01, 1e-9);
  const bridgetest::Json& key = r["list"].items[1];
  EXPECT_EQ(key["k"].s, "key");
  EXPECT_EQ(key["name"].s, "A");
  EXPECT_FALSE(key["down"].b);
  // The last key event is a press: the key is held at the end.
  ASSERT_EQ(r["held"].items.size(), 1u);
  EXPECT_EQ(r["held"].items[0].s, "A");
  // Past the end: an empty window; a request larger than allowed is cut.
  EXPECT_TRUE(Parse(BindGetMacroRows("[20000,5]"))["list"].items.empty());
  EXPECT_EQ(Parse(BindGetMacroRows("[0,100000]"))["list"].items.size(), 2000u);
  EXPECT_EQ(Parse(BindGetMacroEvents("[99998,10]"))["list"].items.size(), 2u);
  EXPECT_EQ(Parse(BindGetMacroEvents("[0,100000]"))["list"].items.size(), 5000u);
  for (const char* bad : {"", "[]", "[-1,5]", "[\"x\",1]", "[1]"}) {
    EXPECT_EQ(BindGetMacroRows(bad), "null") << bad;
    EXPECT_EQ(BindGetMacroEvents(bad), "null") << bad;
  }
}
