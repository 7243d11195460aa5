// The glow strip drawn along a window contact.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/linux/overlay/overlay_internal.h"

namespace {

using pmroverlay::Strip;

unsigned A(uint32_t px) { return px >> 24; }
unsigned R(uint32_t px) { return (px >> 16) & 255; }
unsigned G(uint32_t px) { return (px >> 8) & 255; }
unsigned B(uint32_t px) { return px & 255; }

TEST(GlowStripTest, LinesBecomeSixteenPixelStrips) {
  struct {
    int line[4];
    bool vertical;
    bool shown;
    Strip want;
  } cases[] = {
      {{400, 0, 401, 200}, true, true, {392, 0, 16, 200}},
      {{0, 300, 200, 301}, false, true, {0, 292, 200, 16}},
      {{5, 5, 6, 5}, true, false, {}},
      {{5, 5, 5, 6}, false, false, {}},
  };
  for (const auto& c : cases) {
    Strip s;
    ASSERT_EQ(pmroverlay::GlowStrip(c.line, c.vertical, s), c.shown);
    if (!c.shown) continue;
    EXPECT_EQ(s.x, c.want.x);
    EXPECT_EQ(s.y, c.want.y);
    EXPECT_EQ(s.width, c.want.width);
    EXPECT_EQ(s.height, c.want.height);
  }
}

TEST(GlowImageTest, FadeLengths) {
  struct {
    int length, fade;
  } cases[] = {{40, 10}, {200, 28}, {116, 28}, {115, 28}, {8, 2}, {7, 1}, {5, 1}, {1, 1}};
  for (const auto& c : cases) EXPECT_EQ(pmroverlay::GlowFadeLength(c.length), c.fade) << c.length;
}

TEST(GlowImageTest, BrightAndDarkAccents) {
  // Bright accent: core and halo in the accent, halo strength 0.6, core 1 px.
  auto px = pmroverlay::PaintGlowPixels(200, true, 0x00FF88);
  ASSERT_EQ(px.size(), 16u * 200);
  const uint32_t mid = px[100 * 16 + 7];  // row 100, column 7 (d = 0.5): core
  EXPECT_EQ(A(mid), static_cast<unsigned>(std::floor(0.95 * 255 + 0.5)));
  EXPECT_EQ(G(mid), 255 * A(mid) / 255);
  EXPECT_EQ(B(mid), 136 * A(mid) / 255);
  const uint32_t halo = px[100 * 16 + 5];  // d = 2.5: halo in the accent
  EXPECT_EQ(A(halo), static_cast<unsigned>(std::floor(std::exp(-1.5 * 1.5 / 20.48) * 0.6 * 255 + 0.5)));
  EXPECT_EQ(R(halo), 0u);
  // Premultiplied: no channel above alpha; the ends fade to nothing.
  for (uint32_t p : px) ASSERT_LE(std::max({R(p), G(p), B(p)}), A(p));
  EXPECT_EQ(A(px[0 * 16 + 7]), 0u);
  EXPECT_EQ(A(px[199 * 16 + 7]), 0u);
  EXPECT_LT(A(px[10 * 16 + 7]), A(mid));

  // Dark accent: white halo at 0.8 and a 1.5-pixel core.
  auto dark = pmroverlay::PaintGlowPixels(200, false, 0x101040);
  ASSERT_EQ(dark.size(), 200u * 16);
  const uint32_t edgeOfCore = dark[6 * 200 + 100];  // d = 1.5: still core
  EXPECT_EQ(A(edgeOfCore), static_cast<unsigned>(std::floor(0.95 * 255 + 0.5)));
  EXPECT_EQ(B(edgeOfCore), 64 * A(edgeOfCore) / 255);
  const uint32_t white = dark[4 * 200 + 100];  // d = 3.5: white halo
  EXPECT_EQ(A(white), static_cast<unsigned>(std::floor(std::exp(-2.5 * 2.5 / 20.48) * 0.8 * 255 + 0.5)));
  EXPECT_EQ(R(white), A(white));
  EXPECT_EQ(G(white), A(white));

  EXPECT_TRUE(pmroverlay::PaintGlowPixels(0, true, 0xFFFFFF).empty());
  EXPECT_EQ(pmroverlay::PaintGlowPixels(1, true, 0xFFFFFF).size(), 16u);
}

}  // namespace
