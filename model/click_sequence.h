#pragma once
// The auto clicker's click sequence: a list of screen points, each with its
// button, single or double click and the pause after it. With location mode
// kLocationSequence the clicker clicks the points in order, one pass after
// another, until stopped or (repeat mode 0) until it made autoClickRepeatTimes
// passes.
//
// Stored text (a field of the settings lines, and the argument of the bridge
// function setClickSequence): points separated by ';', each "x:y:b:c:p" in
// decimal: position in desktop pixels, button (0 left, 1 right, 2 middle),
// clicks (2 a double click, anything else single) and the pause after the
// click in milliseconds. The empty text is the empty list. A point that does
// not have five readable fields, or whose button is not 0 to 2, is skipped;
// pauses are kept within 0 to kMaxSequencePauseMs; points after the
// kMaxSequencePoints-th are ignored.
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kLocationSequence = 2;
inline constexpr size_t kMaxSequencePoints = 100;
inline constexpr int kMaxSequencePauseMs = 86400000;

struct ClickPoint {
  int x = 0;
  int y = 0;
  int button = 0;  // 0 left, 1 right, 2 middle
  int clicks = 1;  // 1 single, 2 double
  int pauseMs = 100;
  bool operator==(const ClickPoint&) const = default;
};

// The current list (a copy; the list has its own lock).
std::vector<ClickPoint> ClickSequence();
void SetClickSequence(std::vector<ClickPoint> points);

std::string SerializeClickSequence();
// Replaces the list with the points read from `text` (rules above).
void DeserializeClickSequence(std::string_view text);
std::vector<ClickPoint> ParseClickSequence(std::string_view text);

// The list as a JSON array: [{"x":1,"y":2,"button":0,"clicks":1,"pause":100},…].
std::string ClickSequenceJson();

// Bridge handler of setClickSequence: replaces the list and copies the
// settings into the current profile.
void ApplyClickSequenceUpdate(const std::string& text);
