#pragma once
// The layout box: the bounding box of all monitors in desktop coordinates.
#include <vector>

struct LayoutRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Left = minimum x, top = minimum y, width = maximum right - left, height =
// maximum bottom - top. False when there is no monitor or either extent is
// not positive (or does not fit an int).
bool LayoutUnion(const std::vector<LayoutRect>& monitors, LayoutRect& box);
