#pragma once
// Magnetic snapping geometry: where a moving window lands beside others, which
// windows touch, which form one group, how long a snap slide lasts, and where
// a contact lies. Pure functions over integer desktop pixels.
#include <cstddef>
#include <vector>

namespace snap {

// Right and bottom are exclusive.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const Rect&) const = default;
};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// Up to two contact lines of a snapped position; a vertical line comes first.
struct Guides {
  int count = 0;
  Rect line[2]{};
  bool vertical[2]{};
  Rect target[2]{};
  // Vertical line: +1 when the moving window is right of its target.
  // Horizontal line: +1 when it is below.
  int side[2]{};
};

struct Contact {
  bool valid = false;
  int x = 0, y = 0;
  int nx = 1, ny = 0;
  int length = 0;
  int gap = 0;
  bool operator==(const Contact&) const = default;
};

bool Overlaps(const Rect& a, const Rect& b);

// Where a w x h window whose top-left would be (x, y) lands next to `others`.
// threshold is the snap distance at 96 dpi.
Point Position(int x, int y, int w, int h, const std::vector<Rect>& others, int dpi, Guides* guides,
               int threshold);
// a and b share an edge within one pixel (corners alone do not count).
bool Touching(const Rect& a, const Rect& b);
// Indices into `others` of all windows connected to self, in discovery order.
std::vector<size_t> Joined(const Rect& self, const std::vector<Rect>& others);
double SlideSeconds(int distance, int dpi);
Contact ContactFor(const Guides& g, int i);
// The contact of guide line 0 seen from the window's current place.
Contact Approach(int x, int y, int w, int h, const Guides& g);

}  // namespace snap
