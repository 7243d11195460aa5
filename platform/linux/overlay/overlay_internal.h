#pragma once
// Pieces of the overlay layer that tests look at without a display.
#include <cstdint>
#include <vector>

namespace pmroverlay {

// The glow strip image: 16 x length (vertical) or length x 16 premultiplied
// ARGB32 pixels, row by row.
std::vector<uint32_t> PaintGlowPixels(int length, bool vertical, unsigned colour);
// The strip's end fade length for a line of that length.
int GlowFadeLength(int length);

struct Strip {
  int x = 0, y = 0, width = 0, height = 0;
};
// A guide line (left, top, right, bottom) as the 16-pixel strip drawn for it;
// false when its length is below 1.
bool GlowStrip(const int* line, bool vertical, Strip& out);

}  // namespace pmroverlay
