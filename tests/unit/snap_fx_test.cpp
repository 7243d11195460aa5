// The contact effect scene and its cairo canvas.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "platform/linux/overlay/cairo_canvas.h"
#include "platform/overlay_scene.h"

namespace {

using snapfx::Col;
using snapfx::Guide;
using snapfx::Mat;
using snapfx::Pt;

// Counts what the scene draws and checks that every call is sane.
struct CountingCanvas : snapfx::Canvas {
  int sprites = 0, draws = 0, bad = 0, frameSprites = 0;
  std::vector<std::pair<int, int>> sizes;
  int AddSprite(int w, int h, const uint8_t*) override {
    sizes.emplace_back(w, h);
    return static_cast<int>(sizes.size() - 1);
  }
  void Check(float a) {
    ++draws;
    if (!std::isfinite(a) || a < 0) ++bad;
  }
  void Sprite(int id, const Mat& m, float x0, float y0, float x1, float y1, Col, float a) override {
    ++frameSprites;
    if (id < 0 || id >= static_cast<int>(sizes.size()) || !std::isfinite(m.x0 + m.y0 + x0 + y0 + x1 + y1)) ++bad;
    Check(a);
  }
  void Line(const Mat&, Pt, Pt, float, Col, float a) override { Check(a); }
  void Stroke(const Mat&, const Pt*, size_t, float, Col, float a) override { Check(a); }
  void Fill(const Mat&, const Pt*, size_t, Col, float a) override { Check(a); }
  void FillEllipse(const Mat&, Pt, float, float, Col, float a) override { Check(a); }
  void DashedCurve(const Mat&, Pt, Pt, Pt, Pt, float, float, float, float, Col, float a) override { Check(a); }
  void Curve(const Mat&, Pt, Pt, Pt, float, Col, float a) override { Check(a); }
  void SetAdditive(bool) override {}
};

Guide ContactGuide(int gap) {
  Guide g;
  g.active = true;
  g.x = 400;
  g.y = 110;
  g.nx = 1;
  g.ny = 0;
  g.length = 200;
  g.gap = gap;
  return g;
}

TEST(FxRandom, SequenceStartsFromTheFixedSeed) {
  // The first value of xorshift32 from 0x2545F491, worked out by hand:
  uint32_t x = 0x2545F491u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  EXPECT_FLOAT_EQ(snapfx::UnitRandom(), (x >> 8) / 16777216.0f);
  for (int i = 0; i < 10000; ++i) {
    float u = snapfx::UnitRandom();
    ASSERT_GE(u, 0.0f);
    ASSERT_LT(u, 1.0f);
  }
}

TEST(FxScene, ApproachIntensityFollowsTheGap) {
  struct {
    int gap;
    float want;
  } cases[] = {{64, 0}, {200, 0}, {0, 1}, {32, std::pow(0.5f, 1.2f)}};
  CountingCanvas canvas;
  for (const auto& c : cases) {
    snapfx::Scene scene;
    scene.Attach(canvas);
    ASSERT_TRUE(scene.Approach(ContactGuide(c.gap)));
    scene.Update();
    scene.Tick(0.016f, canvas, 0, 0);
    EXPECT_NEAR(scene.ApproachIntensity(), c.want, 1e-5) << "gap " << c.gap;
    EXPECT_TRUE(scene.Busy());
  }
}

TEST(FxScene, InactiveApproachesAndTheIdleScene) {
  snapfx::Scene scene;
  Guide off;
  off.active = false;
  EXPECT_FALSE(scene.Approach(off));  // already inactive
  ASSERT_TRUE(scene.Approach(ContactGuide(10)));
  EXPECT_TRUE(scene.Approach(off));
  EXPECT_FALSE(scene.Approach(off));
  scene.Update();
  EXPECT_FALSE(scene.Busy());
  EXPECT_FALSE(scene.TakeClickStarted());
}

TEST(FxScene, ClickSnapsThenBurstsAndEnds) {
  CountingCanvas canvas;
  snapfx::Scene scene;
  scene.Attach(canvas);
  // Sprites: two sampled shapes and three strips of the stated sizes.
  EXPECT_EQ(canvas.sizes, (std::vector<std::pair<int, int>>{{64, 64}, {128, 32}, {256, 64}, {32, 256}, {256, 4}}));
  scene.Attach(canvas);
  EXPECT_EQ(canvas.sizes.size(), 5u) << "sprites are built once";

  ASSERT_TRUE(scene.Approach(ContactGuide(5)));
  scene.Update();
  for (int i = 0; i < 20; ++i) scene.Tick(0.016f, canvas, 0, 0);
  float cx, cy;
  scene.Center(cx, cy);
  EXPECT_EQ(cx, 400);

  Guide hit = ContactGuide(0);
  hit.x = 500;
  hit.y = 50;
  scene.Click(hit, 0.01);  // shorter than the floor of 0.06 s
  scene.Update();
  EXPECT_TRUE(scene.TakeClickStarted());
  EXPECT_FALSE(scene.TakeClickStarted());
  EXPECT_TRUE(scene.Snapping());
  scene.Center(cx, cy);
  EXPECT_EQ(cx, 500);
  EXPECT_EQ(cy, 50);
  // The snap lasts 0.06 s: still snapping after 0.05, impact after 0.07.
  scene.Tick(0.05f, canvas, 0, 0);
  EXPECT_FALSE(scene.ImpactRunning());
  scene.Tick(0.02f, canvas, 0, 0);
  EXPECT_TRUE(scene.ImpactRunning());

  // Run the impact out; the burst draws at least its 90 sparks in one frame.
  int most = 0;
  float t = 0;
  while (scene.Busy() && t < 10) {
    canvas.frameSprites = 0;
    scene.Update();
    scene.Tick(0.016f, canvas, 0, 0);
    most = std::max(most, canvas.frameSprites);
    t += 0.016f;
  }
  EXPECT_FALSE(scene.Busy());
  EXPECT_GE(most, 90);
  // The clock runs 1.9 times real time to 1.69 before the burst; the sparks
  // live up to 0.7 s after it.
  EXPECT_GT(t, 1.69f / 1.9f);
  EXPECT_LT(t, 1.69f / 1.9f + 1.0f);
  EXPECT_EQ(canvas.bad, 0);
}

TEST(FxScene, DropEndsEverythingAtOnce) {
  CountingCanvas canvas;
  snapfx::Scene scene;
  scene.Attach(canvas);
  scene.Approach(ContactGuide(3));
  scene.Update();
  for (int i = 0; i < 30; ++i) scene.Tick(0.016f, canvas, 0, 0);
  scene.Click(ContactGuide(0), 0.1);
  scene.Update();
  scene.Drop();
  EXPECT_FALSE(scene.Busy());
  scene.Update();
  EXPECT_FALSE(scene.Busy()) << "a dropped effect does not come back";
}

TEST(FxScene, PaletteSecondaryColour) {
  auto hsv = [](Col c, float& h, float& s, float& v) {
    float mx = std::max({c.r, c.g, c.b}), mn = std::min({c.r, c.g, c.b}), d = mx - mn;
    v = mx;
    s = mx > 0 ? d / mx : 0;
    if (d == 0) h = 0;
    else if (mx == c.r) h = 60 * std::fmod((c.g - c.b) / d + 6, 6.0f);
    else if (mx == c.g) h = 60 * ((c.b - c.r) / d + 2);
    else h = 60 * ((c.r - c.g) / d + 4);
  };
  snapfx::Scene scene;
  scene.Update();  // the default style
  Col p, s;
  scene.Palette(p, s);
  EXPECT_FLOAT_EQ(p.g, 1.0f);
  float h, sat, v;
  hsv(s, h, sat, v);
  EXPECT_NEAR(h, 197, 0.5);
  EXPECT_NEAR(sat, 0.85, 1e-3);
  EXPECT_NEAR(v, 1, 1e-5);
  struct {
    unsigned accent;
    bool light;
    Col want;
  } greys[] = {{0x808080, true, {0.3725f, 0.3333f, 0.5882f}},
               {0x808080, false, {0.6667f, 0.7059f, 1.0f}},
               {0x000000, false, {0.6667f, 0.7059f, 1.0f}},
               {0xFFF0F0, true, {0.3725f, 0.3333f, 0.5882f}}};  // saturation below 0.2
  for (const auto& c : greys) {
    scene.SetStyle(c.accent, c.light);
    scene.Update();
    scene.Palette(p, s);
    EXPECT_NEAR(s.r, c.want.r, 1e-4) << std::hex << c.accent;
    EXPECT_NEAR(s.g, c.want.g, 1e-4);
    EXPECT_NEAR(s.b, c.want.b, 1e-4);
  }
}

// ---- the cairo canvas -----------------------------------------------------

struct Image {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
  cairo_t* cr = cairo_create(surface);
  ~Image() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  uint32_t At(int x, int y) {
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    return *reinterpret_cast<uint32_t*>(data + y * cairo_image_surface_get_stride(surface) + x * 4);
  }
  int Painted() {
    int n = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) n += At(x, y) != 0;
    return n;
  }
};

TEST(CairoCanvasTest, DrawsWhatItIsGivenAndNothingForBadInput) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Col red{1, 0, 0};
  const Mat id;
  struct Case {
    const char* what;
    std::function<void(CairoCanvas&)> draw;
    bool paints;
  };
  std::vector<uint8_t> solid(16 * 16, 255);
  Pt tri[3] = {{2, 2}, {40, 2}, {2, 40}};
  Pt triBad[3] = {{2, 2}, {nan, 2}, {2, 40}};
  Pt poly[4] = {{2, 2}, {nan, 0}, {30, 30}, {50, 30}};
  const Case cases[] = {
      {"sprite", [&](CairoCanvas& c) { c.Sprite(0, id, 4, 4, 20, 20, red, 1); }, true},
      {"sprite unknown id", [&](CairoCanvas& c) { c.Sprite(7, id, 4, 4, 20, 20, red, 1); }, false},
      {"sprite empty rect", [&](CairoCanvas& c) { c.Sprite(0, id, 20, 4, 20, 20, red, 1); }, false},
      {"line", [&](CairoCanvas& c) { c.Line(id, {2, 2}, {60, 60}, 3, red, 1); }, true},
      {"line nan", [&](CairoCanvas& c) { c.Line(id, {2, 2}, {nan, 60}, 3, red, 1); }, false},
      {"line bad transform", [&](CairoCanvas& c) { c.Line(Mat{1, 0, 0, 1, nan, 0}, {2, 2}, {60, 60}, 3, red, 1); }, false},
      {"fill", [&](CairoCanvas& c) { c.Fill(id, tri, 3, red, 1); }, true},
      {"fill nan", [&](CairoCanvas& c) { c.Fill(id, triBad, 3, red, 1); }, false},
      {"stroke broken by nan", [&](CairoCanvas& c) { c.Stroke(id, poly, 4, 2, red, 1); }, true},
      {"ellipse", [&](CairoCanvas& c) { c.FillEllipse(id, {32, 32}, 10, 5, red, 1); }, true},
      {"ellipse zero", [&](CairoCanvas& c) { c.FillEllipse(id, {32, 32}, 0, 5, red, 1); }, false},
      {"curve", [&](CairoCanvas& c) { c.Curve(id, {2, 2}, {60, 2}, {60, 60}, 2, red, 1); }, true},
      {"dashed", [&](CairoCanvas& c) { c.DashedCurve(id, {2, 30}, {20, 30}, {40, 30}, {60, 30}, 4, 4, 0, 3, red, 1); }, true},
      {"zero alpha", [&](CairoCanvas& c) { c.Fill(id, tri, 3, red, 0); }, false},
      {"negative alpha clamps", [&](CairoCanvas& c) { c.Fill(id, tri, 3, red, -3); }, false},
  };
  for (const auto& c : cases) {
    Image img;
    CairoCanvas canvas(img.cr);
    ASSERT_EQ(canvas.AddSprite(16, 16, solid.data()), 0);
    c.draw(canvas);
    EXPECT_EQ(img.Painted() > 0, c.paints) << c.what;
  }
}

TEST(CairoCanvasTest, AlphaClampsAndAdditiveAdds) {
  Image img;
  CairoCanvas canvas(img.cr);
  Pt box[4] = {{0, 0}, {64, 0}, {64, 64}, {0, 64}};
  canvas.Fill(Mat{}, box, 4, Col{0, 0, 1}, 7);  // alpha above 1 counts as 1
  EXPECT_EQ(img.At(10, 10), 0xFF0000FFu);
  Image add;
  CairoCanvas a(add.cr);
  a.SetAdditive(true);
  a.Fill(Mat{}, box, 4, Col{1, 0, 0}, 0.5f);
  a.Fill(Mat{}, box, 4, Col{1, 0, 0}, 0.5f);
  uint32_t px = add.At(5, 5);
  EXPECT_GE(px >> 24, 0xFDu) << std::hex << px;  // two halves add up to (almost) opaque
  // A transform moves the drawing: the sprite lands at 40..50.
  Image moved;
  CairoCanvas m(moved.cr);
  std::vector<uint8_t> solid(8 * 8, 255);
  m.AddSprite(8, 8, solid.data());
  m.Sprite(0, Mat{1, 0, 0, 1, 40, 40}, 0, 0, 10, 10, Col{1, 1, 1}, 1);
  EXPECT_NE(moved.At(45, 45), 0u);
  EXPECT_EQ(moved.At(30, 30), 0u);
}

TEST(CairoCanvasTest, SceneOnCairoPaintsAroundTheContact) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 400);
  cairo_t* cr = cairo_create(surface);
  CairoCanvas canvas(cr);
  snapfx::Scene scene;
  scene.Attach(canvas);
  Guide g = ContactGuide(2);
  scene.Approach(g);
  scene.Update();
  for (int i = 0; i < 10; ++i) scene.Tick(0.016f, canvas, 200, -90);  // contact at image (200, 200)
  cairo_surface_flush(surface);
  auto* data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  auto alpha = [&](int x, int y) { return data[y * stride + x * 4 + 3]; };
  EXPECT_GT(alpha(200, 200), 40);
  EXPECT_EQ(alpha(5, 5), 0);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

}  // namespace
