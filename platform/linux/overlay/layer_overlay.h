#pragma once
// Overlay-layer surfaces of their own on compositors that offer the wlr
// layer shell: an image shown at a desktop position above every window,
// click-through, from two shared-memory buffers.
#include <cstddef>
#include <cstdint>

struct wl_surface;
struct wl_output;
struct wl_buffer;
struct zwlr_layer_surface_v1;

// The compositor offers the layer shell, a compositor and shared memory.
bool LayerOverlayAvailable();

class LayerOverlay {
 public:
  LayerOverlay() = default;
  ~LayerOverlay();
  LayerOverlay(const LayerOverlay&) = delete;
  LayerOverlay& operator=(const LayerOverlay&) = delete;

  // argb: premultiplied ARGB32 rows of `stride` bytes, w x h.
  bool Show(int x, int y, int w, int h, const uint8_t* argb, int stride);
  void Hide();
  bool Shown() const { return layer_ != nullptr; }

  struct Buffer {
    wl_buffer* buffer = nullptr;
    bool busy = false;
  };
  bool configured_ = false;
  bool closed_ = false;

 private:
  void DestroyBuffers();
  wl_surface* surface_ = nullptr;
  zwlr_layer_surface_v1* layer_ = nullptr;
  wl_output* output_ = nullptr;
  int width_ = 0, height_ = 0, left_ = 0, top_ = 0;  // clipped size and margins
  int bufW_ = 0, bufH_ = 0;
  void* map_ = nullptr;
  size_t mapSize_ = 0;
  Buffer buffers_[2];
};
