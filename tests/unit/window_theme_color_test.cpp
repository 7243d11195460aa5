// Colour texts, the dark-theme rule and the style sheets built from them.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "platform/linux/gtk/gtk_internal.h"
#include "platform/os_window.h"

namespace {

struct ColorCase {
  const char* text;
  bool ok;
  int r, g, b;
};

TEST(ParseThemeColor, AcceptedShapes) {
  const ColorCase cases[] = {
      {"#fff", true, 255, 255, 255},
      {"#FFF", true, 255, 255, 255},
      {"#0a1", true, 0, 170, 17},
      {"#0D0E15", true, 13, 14, 21},
      {"#0d0e15", true, 13, 14, 21},
      {"#aBcDeF", true, 171, 205, 239},
      {"  #123456\t\n", true, 18, 52, 86},
      {"\v\f\r#000", true, 0, 0, 0},
      {"rgb(1,2,3)", true, 1, 2, 3},
      {"rgb( 1 , 2 , 3 )", true, 1, 2, 3},
      {"rgb(\t255,\n0 ,  7\t)", true, 255, 0, 7},
      {" rgb(0,0,0) ", true, 0, 0, 0},
      {"rgb(007,010,255)", true, 7, 10, 255},
  };
  for (const ColorCase& c : cases) {
    int r = -1, g = -1, b = -1;
    EXPECT_TRUE(ParseThemeColor(c.text, r, g, b)) << c.text;
    EXPECT_EQ(r, c.r) << c.text;
    EXPECT_EQ(g, c.g) << c.text;
    EXPECT_EQ(b, c.b) << c.text;
  }
}

TEST(ParseThemeColor, RefusedShapesLeaveOutputsUnchanged) {
  const char* refused[] = {
      "", "   ", "\t\n", "#", "#f", "#ff", "#ffff", "#fffff", "#fffffff", "#ggg", "#12345g", "# fff", "fff",
      "ffffff", "#f f", "rgb(1,2,3,4)", "rgb(1,2,300)", "rgb(256,0,0)", "rgb(1,2)", "rgb(1,,3)", "rgb(,2,3)",
      "rgb(1,2,)", "rgb()", "rgb(1 2 3)", "rgb(1,2,3", "rgb 1,2,3)", "rgb(1,2,3)x", "RGB(1,2,3)", "rgba(1,2,3)",
      "rgb(-1,2,3)", "rgb(+1,2,3)", "rgb(1.5,2,3)", "rgb(0001,2,3)", "rgb(1,2,3))", "rgb((1,2,3)", "rgb(0x1,2,3)",
      "rgb(1, 2 3, 4)", "#fff;", "red"};
  for (const char* text : refused) {
    int r = 11, g = 22, b = 33;
    EXPECT_FALSE(ParseThemeColor(text, r, g, b)) << '"' << text << '"';
    EXPECT_EQ(r, 11) << text;
    EXPECT_EQ(g, 22) << text;
    EXPECT_EQ(b, 33) << text;
  }
  // Texts with embedded NUL bytes are not colours either.
  int r = 11, g = 22, b = 33;
  EXPECT_FALSE(ParseThemeColor(std::string("#ff\0", 4), r, g, b));
  EXPECT_FALSE(ParseThemeColor(std::string("rgb(1,\0,3)", 10), r, g, b));
  EXPECT_EQ(r, 11);
}

TEST(ParseThemeColor, ColourStructOverloadFillsOnlyOnSuccess) {
  RgbColor c{1, 2, 3};
  EXPECT_FALSE(ParseThemeColor("#12", c));
  EXPECT_EQ(c.r, 1);
  EXPECT_TRUE(ParseThemeColor("rgb(200,100,50)", c));
  EXPECT_EQ(c.r, 200);
  EXPECT_EQ(c.g, 100);
  EXPECT_EQ(c.b, 50);
}

TEST(TitleBarColours, DarkThemePreferenceFollowsBackgroundBrightness) {
  struct Case {
    RgbColor background;
    bool dark;
  };
  const Case cases[] = {
      {{0x0D, 0x0E, 0x15}, true},
      {{0xFF, 0xFF, 0xFF}, false},
      {{0, 0, 0}, true},
      // 299*128 + 587*128 + 114*128 = 128,000: exactly the limit is light.
      {{128, 128, 128}, false},
      {{127, 128, 128}, true},
      {{255, 0, 0}, true},    // 76,245
      {{0, 255, 0}, false},   // 149,685
      {{0, 0, 255}, true},    // 29,070
  };
  for (const Case& c : cases) {
    TitleBarColors colors{c.background, {255, 255, 255}};
    EXPECT_EQ(pmrgtk::PrefersDarkTheme(colors), c.dark)
        << int(c.background.r) << "," << int(c.background.g) << "," << int(c.background.b);
  }
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// GTK's own parser must accept every rule: a rejected sheet would silently
// leave the title bars or corners undecorated.
void ExpectGtkAcceptsCss(const std::string& css) {
  GtkCssProvider* provider = gtk_css_provider_new();
  std::vector<std::string> errors;
  g_signal_connect(provider, "parsing-error",
                   G_CALLBACK(+[](GtkCssProvider*, GtkCssSection*, GError* error, gpointer data) {
                     static_cast<std::vector<std::string>*>(data)->push_back(error->message);
                   }),
                   &errors);
  GError* error = nullptr;
  EXPECT_TRUE(gtk_css_provider_load_from_data(provider, css.c_str(), -1, &error));
  if (error) g_error_free(error);
  EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
  g_object_unref(provider);
}

TEST(TitleBarColours, StyleSheetCoversEveryButtonStateAndParses) {
  TitleBarColors colors{{13, 14, 21}, {255, 254, 253}};
  const std::string css = pmrgtk::TitleBarCss(colors);
  // 2 window selectors x 3 buttons x 4 states, once plain and once for the icon.
  EXPECT_EQ(Count(css, " .titlebar button.titlebutton."), 48u);
  EXPECT_EQ(Count(css, "window.maximized .titlebar button.titlebutton.minimize:backdrop image"), 1u);
  EXPECT_EQ(Count(css, "rgb(13,14,21)"), 1u);
  EXPECT_EQ(Count(css, "rgb(255,254,253)"), 5u);
  EXPECT_NE(css.find("alpha(rgb(255,254,253), 0.15)"), std::string::npos);
  ExpectGtkAcceptsCss(css);
}

TEST(CornerStyle, StyleSheetParsesAndUsesTheCornerRadius) {
  const std::string css = pmrgtk::CornerStyleCss();
  EXPECT_EQ(Count(css, "border-radius: 8px;"), 1u);
  EXPECT_EQ(Count(css, "border-radius: 8px 8px 0 0;"), 1u);
  EXPECT_EQ(Count(css, ":not(.pmr-square):not(.maximized):not(.fullscreen):not(.tiled)"), 3u);
  ExpectGtkAcceptsCss(css);
}

}  // namespace
