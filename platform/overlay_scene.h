#pragma once
// The animated effect at a window contact: particles drawn toward the contact
// while a window approaches, then a contraction, rings, a flare and a burst of
// sparks when it snaps. Knows nothing of windows; draws through Canvas.
// The contract between the two sides of the overlay: the real side
// (platform/linux/overlay) supplies a Canvas and runs a Scene, which is
// portable code (snap/fx_scene.cpp).
#include <cstddef>
#include <cstdint>
#include <memory>

namespace snapfx {

struct Pt {
  float x = 0, y = 0;
};
struct Col {
  float r = 0, g = 0, b = 0;
};
// Point (x, y) maps to (xx*x + xy*y + x0, yx*x + yy*y + y0).
struct Mat {
  float xx = 1, yx = 0, xy = 0, yy = 1, x0 = 0, y0 = 0;
};

struct Guide {
  bool active = false;
  int x = 0, y = 0;    // contact point, desktop pixels
  int nx = 1, ny = 0;  // contact normal
  int length = 0, gap = 0;
  int scale = 96;  // dots per inch
  bool click = false;
  int duration = 0;  // ms
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  // Registers an 8-bit alpha image of width bytes per row; returns its id.
  virtual int AddSprite(int width, int height, const uint8_t* alpha) = 0;
  virtual void Sprite(int id, const Mat& m, float x0, float y0, float x1, float y1, Col c, float alpha) = 0;
  virtual void Line(const Mat& m, Pt a, Pt b, float width, Col c, float alpha) = 0;
  virtual void Stroke(const Mat& m, const Pt* points, size_t count, float width, Col c, float alpha) = 0;
  virtual void Fill(const Mat& m, const Pt* points, size_t count, Col c, float alpha) = 0;
  virtual void FillEllipse(const Mat& m, Pt centre, float rx, float ry, Col c, float alpha) = 0;
  virtual void DashedCurve(const Mat& m, Pt p0, Pt p1, Pt p2, Pt p3, float on, float off, float offset, float width,
                           Col c, float alpha) = 0;
  virtual void Curve(const Mat& m, Pt p0, Pt control, Pt p2, float width, Col c, float alpha) = 0;
  virtual void SetAdditive(bool on) = 0;
};

// The process-wide effect random generator (xorshift32): a value in [0, 1).
float UnitRandom();

class Scene {
 public:
  Scene();
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Any thread: these only post their inputs.
  void SetStyle(unsigned accent, bool light);
  bool Approach(const Guide& g);
  void Click(const Guide& g, double seconds);

  // The drawing thread only.
  void Update();
  bool Busy() const;
  bool Snapping() const;
  bool TakeClickStarted();
  void Center(float& x, float& y) const;
  void Drop();
  void Attach(Canvas& canvas);
  void Tick(float dt, Canvas& canvas, float originX, float originY);

  // Read-outs of the animation state.
  float ApproachIntensity() const;
  bool ImpactRunning() const;
  void Palette(Col& primary, Col& secondary) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace snapfx
