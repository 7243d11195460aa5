#pragma once
// The effect scene's drawing interface on a cairo context.
#include <cairo.h>

#include <vector>

#include "platform/overlay_scene.h"

class CairoCanvas : public snapfx::Canvas {
 public:
  // The context is borrowed; it must outlive every drawing call.
  explicit CairoCanvas(cairo_t* cr = nullptr) : cr_(cr) {}
  ~CairoCanvas() override;
  void SetContext(cairo_t* cr) { cr_ = cr; }

  int AddSprite(int width, int height, const uint8_t* alpha) override;
  void Sprite(int id, const snapfx::Mat& m, float x0, float y0, float x1, float y1, snapfx::Col c,
              float alpha) override;
  void Line(const snapfx::Mat& m, snapfx::Pt a, snapfx::Pt b, float width, snapfx::Col c, float alpha) override;
  void Stroke(const snapfx::Mat& m, const snapfx::Pt* points, size_t count, float width, snapfx::Col c,
              float alpha) override;
  void Fill(const snapfx::Mat& m, const snapfx::Pt* points, size_t count, snapfx::Col c, float alpha) override;
  void FillEllipse(const snapfx::Mat& m, snapfx::Pt centre, float rx, float ry, snapfx::Col c, float alpha) override;
  void DashedCurve(const snapfx::Mat& m, snapfx::Pt p0, snapfx::Pt p1, snapfx::Pt p2, snapfx::Pt p3, float on,
                   float off, float offset, float width, snapfx::Col c, float alpha) override;
  void Curve(const snapfx::Mat& m, snapfx::Pt p0, snapfx::Pt control, snapfx::Pt p2, float width, snapfx::Col c,
             float alpha) override;
  void SetAdditive(bool on) override;

  size_t SpriteCount() const { return sprites_.size(); }

 private:
  bool Begin(const snapfx::Mat& m);
  void Source(snapfx::Col c, float alpha);
  // Strokes the path with round caps and joins and restores the state.
  void RoundStroke(float width, snapfx::Col c, float alpha);
  cairo_t* cr_;
  std::vector<cairo_surface_t*> sprites_;
  bool additive_ = false;
};
