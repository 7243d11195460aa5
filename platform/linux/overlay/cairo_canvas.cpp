// The effect scene drawn with cairo.
#include "platform/linux/overlay/cairo_canvas.h"

#include <cmath>
#include <cstring>

namespace {

bool Finite(float v) { return std::isfinite(v); }
bool Finite(snapfx::Pt p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool Finite(const snapfx::Mat& m) {
  return Finite(m.xx) && Finite(m.yx) && Finite(m.xy) && Finite(m.yy) && Finite(m.x0) && Finite(m.y0);
}

}  // namespace

CairoCanvas::~CairoCanvas() {
  for (cairo_surface_t* s : sprites_) cairo_surface_destroy(s);
}

int CairoCanvas::AddSprite(int width, int height, const uint8_t* alpha) {
  if (width <= 0 || height <= 0 || !alpha) return -1;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return -1;
  }
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < height; ++y) std::memcpy(data + static_cast<size_t>(y) * stride, alpha + static_cast<size_t>(y) * width, width);
  cairo_surface_mark_dirty(s);
  sprites_.push_back(s);
  return static_cast<int>(sprites_.size() - 1);
}

// Saves the state and sets the transform; false (nothing saved) when the
// transform cannot be used.
bool CairoCanvas::Begin(const snapfx::Mat& m) {
  if (!cr_ || !Finite(m)) return false;
  cairo_matrix_t cm;
  cairo_matrix_init(&cm, m.xx, m.yx, m.xy, m.yy, m.x0, m.y0);
  if (cairo_matrix_invert(&cm) != CAIRO_STATUS_SUCCESS) return false;  // singular
  cairo_matrix_init(&cm, m.xx, m.yx, m.xy, m.yy, m.x0, m.y0);
  cairo_save(cr_);
  cairo_set_matrix(cr_, &cm);
  return true;
}

void CairoCanvas::RoundStroke(float width, snapfx::Col c, float alpha) {
  cairo_set_line_width(cr_, width);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
  Source(c, alpha);
  cairo_stroke(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::Source(snapfx::Col c, float alpha) {
  float a = Finite(alpha) ? (alpha < 0 ? 0 : (alpha > 1 ? 1 : alpha)) : 0;
  cairo_set_source_rgba(cr_, c.r, c.g, c.b, a);
}

void CairoCanvas::Sprite(int id, const snapfx::Mat& m, float x0, float y0, float x1, float y1, snapfx::Col c,
                         float alpha) {
  if (id < 0 || static_cast<size_t>(id) >= sprites_.size()) return;
  if (!(Finite(x0) && Finite(y0) && Finite(x1) && Finite(y1)) || !(x1 > x0) || !(y1 > y0)) return;
  if (!Begin(m)) return;
  cairo_surface_t* s = sprites_[id];
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  cairo_translate(cr_, x0, y0);
  cairo_scale(cr_, (x1 - x0) / w, (y1 - y0) / h);
  Source(c, alpha);
  cairo_pattern_t* mask = cairo_pattern_create_for_surface(s);
  cairo_pattern_set_filter(mask, CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(mask, CAIRO_EXTEND_NONE);  // nothing outside the rectangle
  cairo_mask(cr_, mask);
  cairo_pattern_destroy(mask);
  cairo_restore(cr_);
}

void CairoCanvas::Line(const snapfx::Mat& m, snapfx::Pt a, snapfx::Pt b, float width, snapfx::Col c, float alpha) {
  if (!Finite(a) || !Finite(b) || !Finite(width)) return;
  if (!Begin(m)) return;
  cairo_move_to(cr_, a.x, a.y);
  cairo_line_to(cr_, b.x, b.y);
  RoundStroke(width, c, alpha);
}

void CairoCanvas::Stroke(const snapfx::Mat& m, const snapfx::Pt* points, size_t count, float width, snapfx::Col c,
                         float alpha) {
  if (!points || count < 2 || !Finite(width)) return;
  if (!Begin(m)) return;
  bool pen = false;
  for (size_t i = 0; i < count; ++i) {
    if (!Finite(points[i])) {
      pen = false;  // a bad point breaks the line
      continue;
    }
    if (pen) cairo_line_to(cr_, points[i].x, points[i].y);
    else cairo_move_to(cr_, points[i].x, points[i].y);
    pen = true;
  }
  RoundStroke(width, c, alpha);
}

void CairoCanvas::Fill(const snapfx::Mat& m, const snapfx::Pt* points, size_t count, snapfx::Col c, float alpha) {
  if (!points || count < 3) return;
  for (size_t i = 0; i < count; ++i)
    if (!Finite(points[i])) return;
  if (!Begin(m)) return;
  cairo_move_to(cr_, points[0].x, points[0].y);
  for (size_t i = 1; i < count; ++i) cairo_line_to(cr_, points[i].x, points[i].y);
  cairo_close_path(cr_);
  Source(c, alpha);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::FillEllipse(const snapfx::Mat& m, snapfx::Pt centre, float rx, float ry, snapfx::Col c,
                              float alpha) {
  if (!(rx > 0) || !(ry > 0) || !Finite(rx) || !Finite(ry) || !Finite(centre)) return;
  if (!Begin(m)) return;
  cairo_translate(cr_, centre.x, centre.y);
  cairo_scale(cr_, rx, ry);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * M_PI);
  Source(c, alpha);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::DashedCurve(const snapfx::Mat& m, snapfx::Pt p0, snapfx::Pt p1, snapfx::Pt p2, snapfx::Pt p3,
                              float on, float off, float offset, float width, snapfx::Col c, float alpha) {
  if (!Finite(p0) || !Finite(p1) || !Finite(p2) || !Finite(p3) || !Finite(width)) return;
  if (!Finite(on) || !Finite(off) || !Finite(offset) || on < 0 || off < 0 || on + off <= 0) return;
  if (!Begin(m)) return;
  cairo_move_to(cr_, p0.x, p0.y);
  cairo_curve_to(cr_, p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
  const double dashes[2] = {on, off};
  cairo_set_dash(cr_, dashes, 2, offset);
  cairo_set_line_width(cr_, width);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
  Source(c, alpha);
  cairo_stroke(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::Curve(const snapfx::Mat& m, snapfx::Pt p0, snapfx::Pt k, snapfx::Pt p2, float width, snapfx::Col c,
                        float alpha) {
  if (!Finite(p0) || !Finite(k) || !Finite(p2) || !Finite(width)) return;
  if (!Begin(m)) return;
  const float c1x = p0.x + 2.0f / 3 * (k.x - p0.x), c1y = p0.y + 2.0f / 3 * (k.y - p0.y);
  const float c2x = p2.x + 2.0f / 3 * (k.x - p2.x), c2y = p2.y + 2.0f / 3 * (k.y - p2.y);
  cairo_move_to(cr_, p0.x, p0.y);
  cairo_curve_to(cr_, c1x, c1y, c2x, c2y, p2.x, p2.y);
  RoundStroke(width, c, alpha);
}

void CairoCanvas::SetAdditive(bool on) {
  additive_ = on;
  if (cr_) cairo_set_operator(cr_, on ? CAIRO_OPERATOR_ADD : CAIRO_OPERATOR_OVER);
}
