// The summary a macro file is shown with before it is loaded: the text its
// key presses type (in the layout the desktop has), the shortcuts it presses
// and which of them are flagged, counts, click area, and the settings it
// brings; and the JSON the page gets of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_json.h"
#include "platform/os_keys.h"
#include "state/macro_file.h"
#include "state/macro_summary.h"
#include "tools/recorder.h"

namespace {

// Key labels as the layout gives them: the program's own names with no
// layout loaded (a US keyboard's labels), and a French layout, which has
// other letters and punctuation at the same keys.
std::string UsLabel(int vk) { return GetKeyName(vk); }

std::string FrenchLabel(int vk) {
  switch (vk) {
    case 65: return "Q";
    case 81: return "A";
    case 87: return "Z";
    case 90: return "W";
    case 49: return "&";
    case 50: return "\xC3\x89";  // É
    case 186: return "M";
    case 188: return ";";
    default: return UsLabel(vk);
  }
}

UnifiedEvent Key(int vk, bool down, double t = 0) { return {kEventKey, t, 0, 0, 0, vk, down, 0}; }

// A compact way to write key sequences: "+vk" press, "-vk" release, "vk" both.
std::vector<UnifiedEvent> Keys(std::initializer_list<int> taps, std::initializer_list<int> held = {}) {
  std::vector<UnifiedEvent> out;
  for (int h : held) out.push_back(Key(h, true));
  for (int k : taps) {
    if (k > 1000) {
      out.push_back(Key(k - 1000, true));
    } else if (k < -1000) {
      out.push_back(Key(-k - 1000, false));
    } else {
      out.push_back(Key(k, true));
      out.push_back(Key(k, false));
    }
  }
  for (int h : held) out.push_back(Key(h, false));
  return out;
}
constexpr int Down(int vk) { return vk + 1000; }
constexpr int Up(int vk) { return -(vk + 1000); }
constexpr int kShift = 160, kCtrl = 162, kAlt = 164, kSuper = 91, kCaps = 20;

std::vector<MacroShortcut> Shortcuts(std::initializer_list<std::pair<const char*, bool>> list) {
  std::vector<MacroShortcut> out;
  for (const auto& [keys, flagged] : list) out.push_back({keys, flagged});
  return out;
}

TEST(MacroSummary, TextAndShortcutsOfKeyPresses) {
  struct Case {
    const char* what;
    std::vector<UnifiedEvent> events;
    KeyLabelFn label;
    std::string text;
    std::vector<MacroShortcut> shortcuts;
  } cases[] = {
      {"letters follow Shift and Caps Lock",
       Keys({Down(kShift), 'H', Up(kShift), 'I', kCaps, 'A', Down(kShift), 'B', Up(kShift), kCaps, 'C'}), UsLabel,
       "HiAbc", {}},
      {"Enter, Tab and Backspace get marks; Space is a space; other keys are named",
       Keys({'A', 9, 'B', 8, 32, 27, 116, 13}), UsLabel, "a\u21E5b\u232B \u27E8Esc\u27E9\u27E8F5\u27E9\u23CE", {}},
      {"shifted digits and punctuation on a US layout",
       Keys({'1', '2', 191, 222, 220}, {kShift}), UsLabel, "!@?\"|", {}},
      {"unshifted punctuation and the keypad", Keys({186, 220, 192, 96, 105, 106, 110}), UsLabel, ";\\`09*.", {}},
      {"a French layout: letters and punctuation where its keys are",
       Keys({'A', 'Q', 'Z', '1', 186, '2'}), FrenchLabel, "qaw&m\xC3\xA9", {}},
      {"a French layout: a shifted key whose character is not known is shown as such",
       Keys({'1', 'A'}, {kShift}), FrenchLabel, "\u27E8\u21E7&\u27E9Q", {}},
      {"Ctrl+Alt opens terminals: flagged, and shown where it happens in the text",
       Keys({'L', Down(kCtrl), Down(kAlt), 'T', Up(kAlt), Up(kCtrl), 'S'}), UsLabel,
       "l\u27E8Ctrl+Alt+T\u27E9s", Shortcuts({{"Ctrl+Alt+T", true}})},
      {"Alt+F2 and Alt+Tab flagged, Alt+F4 and Ctrl+C not",
       Keys({Down(kAlt), 113, 9, 115, Up(kAlt), Down(kCtrl), 'C', Up(kCtrl)}), UsLabel,
       "\u27E8Alt+F2\u27E9\u27E8Alt+Tab\u27E9\u27E8Alt+F4\u27E9\u27E8Ctrl+C\u27E9",
       Shortcuts({{"Alt+F2", true}, {"Alt+Tab", true}, {"Alt+F4", false}, {"Ctrl+C", false}})},
      {"any Ctrl+Shift combination is flagged", Keys({'T'}, {kCtrl, kShift}), UsLabel,
       "\u27E8Ctrl+Shift+T\u27E9", Shortcuts({{"Ctrl+Shift+T", true}})},
      {"Super alone and Super with a key: both flagged, each once",
       Keys({kSuper, Down(kSuper), 'E', 'E', Up(kSuper), kSuper}), UsLabel,
       "\u27E8Super\u27E9\u27E8Super+E\u27E9\u27E8Super+E\u27E9\u27E8Super\u27E9",
       Shortcuts({{"Super", true}, {"Super+E", true}})},
      {"the right-hand modifiers count the same", Keys({'T'}, {163, 165}), UsLabel, "\u27E8Ctrl+Alt+T\u27E9",
       Shortcuts({{"Ctrl+Alt+T", true}})},
  };
  for (const Case& c : cases) {
    MacroFile file;
    file.events = c.events;
    const MacroSummary s = SummarizeMacro(file, c.label);
    EXPECT_EQ(s.text, c.text) << c.what;
    EXPECT_EQ(s.shortcuts, c.shortcuts) << c.what;
    bool anyFlagged = false;
    for (const MacroShortcut& sc : c.shortcuts) anyFlagged |= sc.flagged;
    EXPECT_EQ(s.flagged, anyFlagged) << c.what;
    EXPECT_EQ(s.textLeftOut, 0u) << c.what;
  }
}

TEST(MacroSummary, TheReceivedFileShowsItsCommandAndItsShortcut) {
  MacroFile file;
  ASSERT_EQ(ReadMacroFile(std::string(PMR_FIXTURES_DIR) + "/macro/holiday-photos.pmrmacro", file),
            MacroFileError::kNone);
  const MacroSummary s = SummarizeMacro(file, UsLabel);
  EXPECT_EQ(s.text, "\u27E8Ctrl+Alt+T\u27E9touch ~/pwned\u23CE");
  EXPECT_EQ(s.shortcuts, Shortcuts({{"Ctrl+Alt+T", true}}));
  EXPECT_TRUE(s.flagged);
  EXPECT_EQ(s.keys, file.events.size());
  EXPECT_EQ(s.keyPresses * 2, file.events.size());
  EXPECT_EQ(s.speed, 10.0f);
  EXPECT_EQ(s.loop, true);
  EXPECT_EQ(s.pauseMs, 0);
  EXPECT_EQ(s.relative, false);
  EXPECT_FALSE(s.hasClickArea);
}

TEST(MacroSummary, CountsDurationClickAreaAndSettings) {
  MacroFile file;
  file.settingsLine = "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,1,2.5,0,700";
  file.events = {
      {kEventMove, 0, 5, 5, 0, 0, false, 0},
      {kEventButton, 0.5, 10, 400, kFlagLeftDown, 0, false, 0},
      {kEventButton, 0.6, 300, 20, kFlagLeftUp, 0, false, 0},
      {kEventButton, 2.25, -5, 50, kFlagRightDown, 0, false, 0},
      {kEventWheel, 1.5, 0, 0, 0, 0, false, -120},
      Key('A', true, 3.0),
      Key('A', false, 3.125),
  };
  MacroSummary s = SummarizeMacro(file, UsLabel);
  EXPECT_EQ(s.events, 7u);
  EXPECT_DOUBLE_EQ(s.seconds, 3.125);
  EXPECT_EQ(s.moves, 1u);
  EXPECT_EQ(s.buttons, 3u);
  EXPECT_EQ(s.clicks, 2u);
  EXPECT_EQ(s.wheels, 1u);
  EXPECT_EQ(s.keys, 2u);
  EXPECT_EQ(s.keyPresses, 1u);
  ASSERT_TRUE(s.hasClickArea);
  EXPECT_EQ(std::vector<int64_t>({s.left, s.top, s.right, s.bottom}), std::vector<int64_t>({-5, 20, 300, 400}));
  EXPECT_EQ(s.relative, true);
  EXPECT_EQ(s.speed, 2.5f);
  EXPECT_EQ(s.loop, false);
  EXPECT_EQ(s.pauseMs, 700);

  // Settings the file does not carry, or carries unreadably, are unknown.
  for (const char* line : {"", "1,2,3", "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,x,fast,yes,-"}) {
    file.settingsLine = line;
    s = SummarizeMacro(file, UsLabel);
    EXPECT_FALSE(s.relative || s.speed || s.loop || s.pauseMs) << line;
  }
}

TEST(MacroSummary, LongFilesAreCutWithACount) {
  MacroFile file;
  for (int i = 0; i < 3000; ++i) {
    file.events.push_back(Key('A', true));
    file.events.push_back(Key('A', false));
  }
  // Many different shortcuts: the list keeps the first ones and counts the rest.
  for (int vk = 'A'; vk <= 'Z'; ++vk)
    for (int mod : {kCtrl, kAlt})
      for (const UnifiedEvent& ev : Keys({vk}, {mod})) file.events.push_back(ev);
  const MacroSummary s = SummarizeMacro(file, UsLabel);
  EXPECT_EQ(s.text, std::string(kMacroSummaryTextBytes, 'a'));
  EXPECT_EQ(s.textLeftOut, 1000u + 52u);
  EXPECT_EQ(s.shortcuts.size(), kMacroSummaryShortcuts);
  EXPECT_EQ(s.shortcutsLeftOut, 52u - kMacroSummaryShortcuts);
}

TEST(MacroSummary, JsonForThePage) {
  MacroFile file;
  file.settingsLine = "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,10,1,0";
  file.events = Keys({222, 220}, {kShift});  // types a double quote and a bar
  file.events.push_back({kEventButton, 1e6, 1, 2, kFlagLeftDown, 0, false, 0});
  bridgetest::Json j;
  ASSERT_TRUE(bridgetest::ParseJson(MacroSummaryJson(SummarizeMacro(file, UsLabel)), j));
  EXPECT_EQ(j["text"].s, "\"|");
  EXPECT_EQ(j["events"].n, 7);
  EXPECT_EQ(j["seconds"].n, 1e6);
  EXPECT_EQ(j["area"]["right"].n, 1);
  EXPECT_EQ(j["speed"].n, 10);
  EXPECT_TRUE(j["loop"].b);
  EXPECT_EQ(j["pauseMs"].n, 0);
  EXPECT_EQ(j["shortcuts"].kind, bridgetest::Json::Array);

  file.settingsLine.clear();
  file.events = {Key(91, true), Key(91, false)};
  ASSERT_TRUE(bridgetest::ParseJson(MacroSummaryJson(SummarizeMacro(file, UsLabel)), j));
  EXPECT_EQ(j["area"].kind, bridgetest::Json::Null);
  EXPECT_EQ(j["speed"].kind, bridgetest::Json::Null);
  ASSERT_EQ(j["shortcuts"].items.size(), 1u);
  EXPECT_EQ(j["shortcuts"].items[0]["keys"].s, "Super");
  EXPECT_TRUE(j["shortcuts"].items[0]["flagged"].b);
  EXPECT_TRUE(j["flagged"].b);
}

}  // namespace
