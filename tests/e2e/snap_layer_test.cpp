// Glow and effect on the overlay layer of a real wlroots compositor (sway,
// headless): surfaces appear in a screenshot of the output and are gone
// after they were hidden.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/overlay/layer_overlay.h"
#include "platform/os_overlay.h"
#include "tests/support/gtk_test_env.h"
#include "tests/support/process.h"
#include "tests/support/sway_session.h"

namespace {

pmrtest::SwaySession* g_Sway = nullptr;

// "r,g,b" of one pixel of a screenshot.
void Pixel(const std::string& png, int x, int y, int& r, int& g, int& b) {
  std::string out;
  pmrtest::Run({"convert", png, "-crop", "1x1+" + std::to_string(x) + "+" + std::to_string(y), "-depth", "8",
                "-format", "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]", "info:"},
               &out);
  r = g = b = -1;
  std::sscanf(out.c_str(), "%d,%d,%d", &r, &g, &b);
}

// The brightest channel sum in a region.
int Brightest(const std::string& png, int x, int y, int w, int h) {
  std::string out;
  pmrtest::Run({"convert", png, "-crop",
                std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y),
                "-colorspace", "Gray", "-format", "%[fx:int(255*maxima)]", "info:"},
               &out);
  return std::atoi(out.c_str());
}

class LayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_Sway = new pmrtest::SwaySession;
    ASSERT_TRUE(g_Sway->Start());
    setenv("GDK_BACKEND", "wayland", 1);
    setenv("XDG_RUNTIME_DIR", g_Sway->runtimeDir().c_str(), 1);
    setenv("WAYLAND_DISPLAY", g_Sway->display().c_str(), 1);
    ASSERT_TRUE(pmrtest::InitGtkOnce());
  }
  static void TearDownTestSuite() {
    delete g_Sway;
    g_Sway = nullptr;
  }
};

TEST_F(LayerTest, GlowAndEffectShowOnTheOverlayLayerAndGo) {
  ASSERT_TRUE(LayerOverlayAvailable());
  EXPECT_FALSE(OsGlowRelativeToWindow());
  EXPECT_TRUE(OsSnapFxAvailable());

  const int lines[4] = {400, 100, 401, 500};
  const bool vertical[1] = {true};
  OsShowSnapGlow(nullptr, 1, lines, vertical, 0x00FF88);
  pmrtest::SpinFor(300);
  std::string shot = g_Sway->Screenshot("glow");
  ASSERT_FALSE(shot.empty());
  int r, g, b;
  Pixel(shot, 400, 300, r, g, b);
  std::fprintf(stderr, "screenshot: glow core pixel %d,%d,%d\n", r, g, b);
  EXPECT_LT(r, 40);
  EXPECT_GT(g, 200);
  EXPECT_GT(b, 90);
  Pixel(shot, 300, 300, r, g, b);
  EXPECT_EQ(r + g + b, 0) << "nothing beside the strip";

  OsShowSnapGlow(nullptr, 0, nullptr, nullptr, 0x00FF88);
  pmrtest::SpinFor(300);
  shot = g_Sway->Screenshot("glow-gone");
  EXPECT_EQ(Brightest(shot, 380, 90, 40, 420), 0) << "the glow surface is destroyed";

  snapfx::Guide guide;
  guide.active = true;
  guide.x = 640;
  guide.y = 360;
  guide.nx = 1;
  guide.length = 300;
  OsSnapFxClick(nullptr, guide, 0.3);
  pmrtest::SpinFor(250);
  shot = g_Sway->Screenshot("effect");
  const int lit = Brightest(shot, 540, 260, 200, 200);
  std::fprintf(stderr, "screenshot: effect brightest grey %d around its centre\n", lit);
  EXPECT_GT(lit, 60) << "the effect shows around its centre";
  ASSERT_TRUE(pmrtest::SpinUntil([] { return !OsSnapFxRunning(); }, 15000));
  pmrtest::SpinFor(200);
  shot = g_Sway->Screenshot("effect-gone");
  EXPECT_EQ(Brightest(shot, 0, 0, 1280, 720), 0) << "the effect surface is destroyed";
}

}  // namespace
