// Colour texts and the style sheets built from them.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/linux/gtk/gtk_internal.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One component of "rgb(...)": 1 to 3 decimal digits, at most 255, white
// space allowed around it.
bool ParseComponent(std::string_view field, int& value) {
  field = Trim(field);
  if (field.empty() || field.size() > 3) return false;
  int v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > 255) return false;
  value = v;
  return true;
}

std::string Rgb(const RgbColor& c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "rgb(%d,%d,%d)", c.r, c.g, c.b);
  return buf;
}

}  // namespace

bool ParseThemeColor(const std::string& text, int& red, int& green, int& blue) {
  std::string_view s = Trim(text);
  int c[3] = {0, 0, 0};
  if (!s.empty() && s.front() == '#') {
    std::string_view hex = s.substr(1);
    if (hex.size() == 3) {
      for (int i = 0; i < 3; ++i) {
        int d = HexDigit(hex[static_cast<size_t>(i)]);
        if (d < 0) return false;
        c[i] = d * 17;
      }
    } else if (hex.size() == 6) {
      for (int i = 0; i < 3; ++i) {
        int hi = HexDigit(hex[static_cast<size_t>(2 * i)]);
        int lo = HexDigit(hex[static_cast<size_t>(2 * i + 1)]);
        if (hi < 0 || lo < 0) return false;
        c[i] = hi * 16 + lo;
      }
    } else {
      return false;
    }
  } else if (s.size() >= 5 && s.substr(0, 4) == "rgb(" && s.back() == ')') {
    std::string_view inner = s.substr(4, s.size() - 5);
    for (int i = 0; i < 3; ++i) {
      size_t comma = inner.find(',');
      std::string_view field = inner.substr(0, comma);
      if ((i < 2) != (comma != std::string_view::npos)) return false;
      if (!ParseComponent(field, c[i])) return false;
      if (comma != std::string_view::npos) inner.remove_prefix(comma + 1);
    }
  } else {
    return false;
  }
  red = c[0];
  green = c[1];
  blue = c[2];
  return true;
}

namespace pmrgtk {

std::string CornerStyleCss() {
  const std::string r = std::to_string(kCornerRadius) + "px";
  const std::string s = "window.pmr-corners.csd:not(.pmr-square):not(.maximized):not(.fullscreen):not(.tiled)";
  return "window.pmr-corners { background-color: transparent; }" + s + " decoration { border-radius: " + r +
         "; }" + s + " > .titlebar, " + s + " > .titlebar:backdrop { border-radius: " + r + " " + r +
         " 0 0; }window.pmr-square decoration, window.pmr-square.csd > .titlebar, window.pmr-square.csd > "
         ".titlebar headerbar, window.pmr-square headerbar.titlebar, window.pmr-square "
         "headerbar.titlebar:backdrop { border-radius: 0; }";
}

std::string TitleBarCss(const TitleBarColors& colors) {
  const std::string b = Rgb(colors.background);
  const std::string f = Rgb(colors.foreground);
  const char* windows[] = {"window", "window.maximized"};
  const char* buttons[] = {".close", ".minimize", ".maximize"};
  const char* states[] = {"", ":hover", ":active", ":backdrop"};
  std::string list1, list2;
  for (const char* w : windows)
    for (const char* button : buttons)
      for (const char* state : states) {
        std::string sel = std::string(w) + " .titlebar button.titlebutton" + button + state;
        if (!list1.empty()) {
          list1 += ", ";
          list2 += ", ";
        }
        list1 += sel;
        list2 += sel + " image";
      }
  return list1 + " { background-image: none; }" + list2 + " { color: " + f + "; -gtk-icon-shadow: none; }" +
         ".titlebar, .titlebar:backdrop { background: " + b + "; background-image: none; color: " + f +
         "; border: none; box-shadow: none; }.titlebar .title, .titlebar:backdrop .title { color: " + f +
         "; }.titlebar button, .titlebar button:backdrop { color: " + f +
         "; background-color: transparent; border: none; box-shadow: none; }.titlebar button:hover { "
         "background-color: alpha(" +
         f + ", 0.15); }";
}

bool PrefersDarkTheme(const TitleBarColors& colors) {
  const RgbColor& c = colors.background;
  return 299 * c.r + 587 * c.g + 114 * c.b < 128000;
}

}  // namespace pmrgtk
