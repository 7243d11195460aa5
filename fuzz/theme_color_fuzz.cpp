// Colour texts of the page: an accepted colour has components 0-255 and is
// read the same from its "#rrggbb" and its "rgb(r, g, b)" forms; a refused
// text leaves the outputs untouched.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/os_window.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(pmrfuzz::AsText(data, size));
  int r = -7, g = -7, b = -7;
  if (!ParseThemeColor(text, r, g, b)) {
    FUZZ_CHECK(r == -7 && g == -7 && b == -7);
    return 0;
  }
  for (int c : {r, g, b}) FUZZ_CHECK(c >= 0 && c <= 255);
  char hex[8], dec[32];
  snprintf(hex, sizeof hex, "#%02x%02x%02x", r, g, b);
  snprintf(dec, sizeof dec, " rgb( %d ,%d, %d ) ", r, g, b);
  for (const char* form : {hex, dec}) {
    int r2 = -1, g2 = -1, b2 = -1;
    FUZZ_CHECK(ParseThemeColor(form, r2, g2, b2));
    FUZZ_CHECK(r2 == r && g2 == g && b2 == b);
  }
  RgbColor packed;
  FUZZ_CHECK(ParseThemeColor(text, packed));
  FUZZ_CHECK(packed.r == r && packed.g == g && packed.b == b);
  return 0;
}
