// Glow lines and the contact effect over the desktop: click-through popups at
// absolute positions on X11, popups placed inside the main window elsewhere
// (only what falls inside the window shows). Pointer confinement on X11.
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/linux/overlay/cairo_canvas.h"
#include "platform/linux/overlay/layer_overlay.h"
#include "platform/linux/overlay/overlay_internal.h"
#include "platform/os_overlay.h"
#include "platform/os_shell.h"
#include "platform/os_window.h"

namespace pmroverlay {

int GlowFadeLength(int length) {
  if (length >= 116) return 28;
  if (length > 7) return length / 4;
  return 1;
}

std::vector<uint32_t> PaintGlowPixels(int length, bool vertical, unsigned colour) {
  std::vector<uint32_t> px;
  if (length < 1) return px;
  const unsigned r = (colour >> 16) & 255, g = (colour >> 8) & 255, b = colour & 255;
  const bool dark = 299 * r + 587 * g + 114 * b < 110000;
  const unsigned hr = dark ? 255 : r, hg = dark ? 255 : g, hb = dark ? 255 : b;
  const double halo = dark ? 0.8 : 0.6, core = dark ? 1.5 : 1.0;
  const int fade = GlowFadeLength(length);
  const int w = vertical ? 16 : length, h = vertical ? length : 16;
  px.resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int along = vertical ? y : x, across = vertical ? x : y;
      const int a = std::min(along, length - 1 - along);
      double endFade = 1;
      if (a < fade) {
        double t = static_cast<double>(a) / fade;
        endFade = (3 - 2 * t) * t * t;
      }
      const double d = std::fabs(across + 0.5 - 8);
      unsigned alpha, cr, cg, cb;
      if (d <= core) {
        alpha = static_cast<unsigned>(std::floor(endFade * 0.95 * 255 + 0.5));
        cr = r, cg = g, cb = b;
      } else {
        alpha = static_cast<unsigned>(std::floor(std::exp(-(d - 1) * (d - 1) / 20.48) * halo * endFade * 255 + 0.5));
        cr = hr, cg = hg, cb = hb;
      }
      px[static_cast<size_t>(y) * w + x] = alpha << 24 | (cr * alpha / 255) << 16 | (cg * alpha / 255) << 8 | (cb * alpha / 255);
    }
  return px;
}

bool GlowStrip(const int* line, bool vertical, Strip& out) {
  if (vertical) {
    out = {line[0] - 8, line[1], 16, line[3] - line[1]};
    return out.height >= 1;
  }
  out = {line[0], line[1] - 8, line[2] - line[0], 16};
  return out.width >= 1;
}

}  // namespace pmroverlay

namespace {

using pmroverlay::Strip;

bool OnX11Display() {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* d = gdk_display_get_default();
  return d && GDK_IS_X11_DISPLAY(d);
#else
  return false;
#endif
}

// Not X11, but the compositor gives overlay-layer surfaces of our own.
bool LayerMode() { return !OnX11Display() && LayerOverlayAvailable(); }

// A borderless, click-through, never-focused popup that shows one image.
struct Popup {
  GtkWidget* window = nullptr;
  cairo_surface_t* image = nullptr;  // borrowed
};

gboolean DrawPopup(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* p = static_cast<Popup*>(data);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  if (p->image) cairo_set_source_surface(cr, p->image, 0, 0);
  else cairo_set_source_rgba(cr, 0, 0, 0, 0);
  cairo_paint(cr);
  return TRUE;
}

// Kept on the widget, so GTK applies it again whenever it maps the window.
void MakeClickThrough(GtkWidget* w) {
  cairo_region_t* empty = cairo_region_create();
  gtk_widget_input_shape_combine_region(w, empty);
  cairo_region_destroy(empty);
}

void EnsurePopup(Popup& p, int w, int h) {
  if (p.window) return;
  p.window = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_set_type_hint(GTK_WINDOW(p.window), GDK_WINDOW_TYPE_HINT_TOOLTIP);
  gtk_widget_set_app_paintable(p.window, TRUE);
  if (GdkVisual* v = gdk_screen_get_rgba_visual(gtk_widget_get_screen(p.window))) gtk_widget_set_visual(p.window, v);
  gtk_window_set_accept_focus(GTK_WINDOW(p.window), FALSE);
  gtk_window_set_focus_on_map(GTK_WINDOW(p.window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(p.window), w, h);
  gtk_widget_set_size_request(p.window, w, h);
  g_signal_connect(p.window, "draw", G_CALLBACK(DrawPopup), &p);
  MakeClickThrough(p.window);
}

void HidePopup(Popup& p) {
  if (p.window) gtk_widget_hide(p.window);
}

// Where the window's frame lies inside its own surface: the popups of the
// relative mode are placed in surface coordinates.
bool PageInFrame(GtkWindow* window, int frameW, int frameH, int& ox, int& oy) {
  ox = oy = 0;
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
  if (!child || !WEBKIT_IS_WEB_VIEW(child)) return true;
  GtkAllocation a;
  gtk_widget_get_allocation(child, &a);
  const int spare = frameW - a.width;
  const int left = spare < 2 ? 0 : spare / 2;
  const int top = std::max(0, frameH - a.height);
  ox = std::max(0, a.x - left);
  oy = std::max(0, a.y - top);
  return true;
}

// Turns a desktop position into one relative to the owner's surface; false
// when the owner's frame is unknown.
bool RelativeTo(GtkWindow* owner, int& x, int& y) {
  int fx, fy, fw, fh, ox, oy;
  if (!owner || !OsGetWindowFrame(owner, fx, fy, fw, fh)) return false;
  PageInFrame(owner, fw, fh, ox, oy);
  x = x - fx + ox;
  y = y - fy + oy;
  return true;
}

struct GlowSlot {
  Popup popup;
  std::unique_ptr<LayerOverlay> overlay;
  cairo_surface_t* image = nullptr;
  std::vector<uint32_t> pixels;
  int keyLength = -1;
  bool keyVertical = false;
  unsigned keyColour = 0;
};
GlowSlot g_Glow[2];

bool PaintSlot(GlowSlot& s, int length, bool vertical, unsigned colour) {
  if (s.image && s.keyLength == length && s.keyVertical == vertical && s.keyColour == colour) return false;
  if (s.image) cairo_surface_destroy(s.image);
  s.pixels = pmroverlay::PaintGlowPixels(length, vertical, colour);
  const int w = vertical ? 16 : length, h = vertical ? length : 16;
  s.image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_surface_flush(s.image);
  unsigned char* data = cairo_image_surface_get_data(s.image);
  const int stride = cairo_image_surface_get_stride(s.image);
  for (int y = 0; y < h; ++y) std::memcpy(data + y * stride, &s.pixels[static_cast<size_t>(y) * w], w * 4);
  cairo_surface_mark_dirty(s.image);
  s.popup.image = s.image;
  s.keyLength = length;
  s.keyVertical = vertical;
  s.keyColour = colour;
  return true;
}

// ---- the effect ----
snapfx::Scene g_Fx;
cairo_surface_t* g_FxImage = nullptr;
cairo_t* g_FxCr = nullptr;
std::unique_ptr<CairoCanvas> g_FxCanvas;
bool g_FxAttached = false;
Popup g_FxWin;
std::unique_ptr<LayerOverlay> g_FxLayer;
guint g_FxTimer = 0;
GtkWindow* g_FxOwner = nullptr;
gint64 g_FxLast = 0;
gint64 g_FxRaisedAt = 0;
int g_FxAtX = INT_MIN, g_FxAtY = INT_MIN;
constexpr int kFxSize = 1200;

void StopFx() {
  HidePopup(g_FxWin);
  if (g_FxLayer) g_FxLayer->Hide();
  g_FxTimer = 0;
  g_FxAtX = g_FxAtY = INT_MIN;
}

gboolean FxTick(gpointer) {
  g_Fx.Update();
  if (!g_Fx.Busy()) {
    StopFx();
    return G_SOURCE_REMOVE;
  }
  const gint64 now = g_get_monotonic_time();
  const float dt = static_cast<float>(std::min(0.033, (now - g_FxLast) / 1e6));
  g_FxLast = now;
  float cx, cy;
  g_Fx.Center(cx, cy);
  int left = static_cast<int>(std::lround(cx)) - kFxSize / 2, top = static_cast<int>(std::lround(cy)) - kFxSize / 2;
  const bool layer = LayerMode();
  const bool relative = !OnX11Display() && !layer;
  if (relative) {
    int fx, fy, fw, fh;
    if (!g_FxOwner || !OsGetWindowFrame(g_FxOwner, fx, fy, fw, fh)) {
      g_Fx.Drop();
      StopFx();
      return G_SOURCE_REMOVE;
    }
    left = std::max(left, fx);
    top = std::max(top, fy);
  }
  if (!layer) EnsurePopup(g_FxWin, kFxSize, kFxSize);
  if (!g_FxImage) {
    g_FxImage = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kFxSize, kFxSize);
    g_FxCr = cairo_create(g_FxImage);
    g_FxCanvas = std::make_unique<CairoCanvas>(g_FxCr);
  }
  if (!layer) g_FxWin.image = g_FxImage;
  if (!g_FxAttached) {
    g_Fx.Attach(*g_FxCanvas);
    g_FxAttached = true;
  }
  if (!layer && (left != g_FxAtX || top != g_FxAtY || !gtk_widget_get_visible(g_FxWin.window))) {
    int px = left, py = top;
    if (relative) {
      gtk_window_set_transient_for(GTK_WINDOW(g_FxWin.window), g_FxOwner);
      RelativeTo(g_FxOwner, px, py);
    }
    gtk_window_move(GTK_WINDOW(g_FxWin.window), px, py);
    gtk_widget_show(g_FxWin.window);
    g_FxAtX = left;
    g_FxAtY = top;
  }
  if (OnX11Display() && (g_Fx.TakeClickStarted() || (g_Fx.Snapping() && now - g_FxRaisedAt > 200000))) {
    if (GdkWindow* w = gtk_widget_get_window(g_FxWin.window)) gdk_window_raise(w);
    g_FxRaisedAt = now;
  }
  cairo_save(g_FxCr);
  cairo_set_operator(g_FxCr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(g_FxCr);
  cairo_restore(g_FxCr);
  g_Fx.Tick(dt, *g_FxCanvas, static_cast<float>(left), static_cast<float>(top));
  cairo_surface_flush(g_FxImage);
  if (layer) {
    if (!g_FxLayer) g_FxLayer = std::make_unique<LayerOverlay>();
    if (!g_FxLayer->Show(left, top, kFxSize, kFxSize, cairo_image_surface_get_data(g_FxImage),
                         cairo_image_surface_get_stride(g_FxImage))) {
      g_Fx.Drop();
      StopFx();
      return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
  }
  gtk_widget_queue_draw(g_FxWin.window);
  return G_SOURCE_CONTINUE;
}

void StartFxTimer() {
  if (g_FxTimer) return;
  g_FxLast = g_get_monotonic_time();
  g_FxTimer = g_timeout_add_full(130, 16, FxTick, nullptr, nullptr);
}

// ---- confinement ----
int g_Confine[4] = {0, 0, 0, 0};
std::atomic<bool> g_Confined{false};
guint g_ConfineTimer = 0;

gboolean ConfineTick(gpointer) {
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  double bx, by;
  bool held = false;
  if (g_Confined.load() && pointer && LinuxPointerState(bx, by, held) && held) {
    GdkScreen* screen;
    int x, y;
    gdk_device_get_position(pointer, &screen, &x, &y);
    const int cx = std::clamp(x, g_Confine[0], g_Confine[2]), cy = std::clamp(y, g_Confine[1], g_Confine[3]);
    if (cx != x || cy != y) gdk_device_warp(pointer, screen, cx, cy);
    return G_SOURCE_CONTINUE;
  }
  g_Confined.store(false);
  g_ConfineTimer = 0;
  return G_SOURCE_REMOVE;
}

}  // namespace

void OsShowSnapGlow(void* window, int count, const int* lines, const bool* vertical, unsigned colour) {
  colour &= 0xFFFFFF;
  const bool layer = LayerMode();
  const bool relative = !OnX11Display() && !layer;
  for (int i = 0; i < 2; ++i) {
    GlowSlot& s = g_Glow[i];
    Strip strip;
    if (i >= count || !lines || !vertical || !pmroverlay::GlowStrip(lines + 4 * i, vertical[i], strip)) {
      HidePopup(s.popup);
      if (s.overlay) s.overlay->Hide();
      continue;
    }
    const int length = vertical[i] ? strip.height : strip.width;
    const bool repainted = PaintSlot(s, length, vertical[i], colour);
    if (layer) {
      if (!s.overlay) s.overlay = std::make_unique<LayerOverlay>();
      s.overlay->Show(strip.x, strip.y, strip.width, strip.height, reinterpret_cast<const uint8_t*>(s.pixels.data()),
                      strip.width * 4);
      continue;
    }
    const bool created = !s.popup.window;
    EnsurePopup(s.popup, strip.width, strip.height);
    int x = strip.x, y = strip.y;
    if (relative) {
      GtkWindow* owner = window ? GTK_WINDOW(window) : nullptr;
      if (owner) gtk_window_set_transient_for(GTK_WINDOW(s.popup.window), owner);
      if (!RelativeTo(owner, x, y)) {
        HidePopup(s.popup);
        continue;
      }
      // Only what lies inside the window's surface can show.
      int cut = vertical[i] ? -y : -x;
      if (cut > 0) {
        if (cut >= length) {
          HidePopup(s.popup);
          continue;
        }
        if (vertical[i]) y = 0, strip.height -= cut;
        else x = 0, strip.width -= cut;
      }
    }
    if (repainted || created) {
      gtk_widget_set_size_request(s.popup.window, strip.width, strip.height);
      gtk_window_resize(GTK_WINDOW(s.popup.window), strip.width, strip.height);
      gtk_widget_queue_draw(s.popup.window);
    }
    gtk_window_move(GTK_WINDOW(s.popup.window), x, y);
    gtk_widget_show(s.popup.window);
  }
}

bool OsGlowRelativeToWindow() { return !OnX11Display() && !LayerOverlayAvailable(); }

bool OsSnapFxAvailable() {
  if (!OnX11Display()) return true;
  GdkScreen* screen = gdk_screen_get_default();
  return screen && gdk_screen_is_composited(screen);
}

void OsSnapFxStyle(unsigned accent, bool light) { g_Fx.SetStyle(accent, light); }

bool OsSnapFxApproach(void* owner, const snapfx::Guide& g) {
  const bool taken = g_Fx.Approach(g);
  if (taken && g.active) {
    if (owner) g_FxOwner = GTK_WINDOW(owner);
    StartFxTimer();
  }
  return taken;
}

void OsSnapFxClick(void* owner, const snapfx::Guide& g, double seconds) {
  g_Fx.Click(g, seconds);
  if (owner) g_FxOwner = GTK_WINDOW(owner);
  StartFxTimer();
}

bool OsSnapFxRunning() { return g_FxTimer != 0; }

bool OsConfinePointer(int left, int top, int right, int bottom) {
  if (!OnX11Display() || right < left || bottom < top) return false;
  g_Confine[0] = left;
  g_Confine[1] = top;
  g_Confine[2] = right;
  g_Confine[3] = bottom;
  g_Confined.store(true);
  if (!g_ConfineTimer) g_ConfineTimer = g_timeout_add(8, ConfineTick, nullptr);
  return true;
}

void OsUnconfinePointer() { g_Confined.store(false); }
