// Layer-shell overlay surfaces.
#include "platform/linux/overlay/layer_overlay.h"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>

#include "layer-shell-client.h"

namespace {

struct LayerConnection {
  bool lookedUp = false;
  wl_display* display = nullptr;
  wl_event_queue* queue = nullptr;
  wl_registry* registry = nullptr;
  zwlr_layer_shell_v1* shell = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
};
LayerConnection g_Layer;

void OnGlobal(void*, wl_registry* registry, uint32_t name, const char* iface, uint32_t version) {
  if (std::strcmp(iface, zwlr_layer_shell_v1_interface.name) == 0 && !g_Layer.shell)
    g_Layer.shell = static_cast<zwlr_layer_shell_v1*>(
        wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, std::min<uint32_t>(version, 4)));
  else if (std::strcmp(iface, wl_compositor_interface.name) == 0 && !g_Layer.compositor)
    g_Layer.compositor = static_cast<wl_compositor*>(
        wl_registry_bind(registry, name, &wl_compositor_interface, std::min<uint32_t>(version, 4)));
  else if (std::strcmp(iface, wl_shm_interface.name) == 0 && !g_Layer.shm)
    g_Layer.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

void LookUp() {
  if (g_Layer.lookedUp) return;
  g_Layer.lookedUp = true;
#ifdef GDK_WINDOWING_WAYLAND
  GdkDisplay* gd = gdk_display_get_default();
  if (!gd || !GDK_IS_WAYLAND_DISPLAY(gd)) return;
  g_Layer.display = gdk_wayland_display_get_wl_display(gd);
  g_Layer.queue = wl_display_create_queue(g_Layer.display);
  // The registry and everything bound from it live on a private queue, so
  // our events never run inside GTK's dispatching and vice versa.
  wl_display* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(g_Layer.display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), g_Layer.queue);
  g_Layer.registry = wl_display_get_registry(wrapped);
  wl_proxy_wrapper_destroy(wrapped);
  wl_registry_add_listener(g_Layer.registry, &kRegistry, nullptr);
  wl_display_roundtrip_queue(g_Layer.display, g_Layer.queue);
#endif
}

void OnConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t, uint32_t) {
  zwlr_layer_surface_v1_ack_configure(layer, serial);
  static_cast<LayerOverlay*>(data)->configured_ = true;
}
void OnClosed(void* data, zwlr_layer_surface_v1*) { static_cast<LayerOverlay*>(data)->closed_ = true; }
const zwlr_layer_surface_v1_listener kLayerListener = {OnConfigure, OnClosed};

void OnRelease(void* data, wl_buffer*) { static_cast<LayerOverlay::Buffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {OnRelease};

}  // namespace

bool LayerOverlayAvailable() {
  LookUp();
  return g_Layer.shell && g_Layer.compositor && g_Layer.shm;
}

LayerOverlay::~LayerOverlay() { Hide(); }

void LayerOverlay::DestroyBuffers() {
  for (Buffer& b : buffers_) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    b = Buffer{};
  }
  if (map_) munmap(map_, mapSize_);
  map_ = nullptr;
  mapSize_ = 0;
  bufW_ = bufH_ = 0;
}

void LayerOverlay::Hide() {
  DestroyBuffers();
  if (layer_) zwlr_layer_surface_v1_destroy(layer_);
  if (surface_) wl_surface_destroy(surface_);
  layer_ = nullptr;
  surface_ = nullptr;
  output_ = nullptr;
  configured_ = closed_ = false;
  width_ = height_ = left_ = top_ = 0;
  if (g_Layer.display) wl_display_flush(g_Layer.display);
}

bool LayerOverlay::Show(int x, int y, int w, int h, const uint8_t* argb, int stride) {
#ifdef GDK_WINDOWING_WAYLAND
  if (!LayerOverlayAvailable() || w <= 0 || h <= 0 || !argb) return false;
  wl_display_dispatch_queue_pending(g_Layer.display, g_Layer.queue);
  if (closed_) Hide();
  GdkDisplay* gd = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_monitor_at_point(gd, x + w / 2, y + h / 2);
  if (!monitor) {
    Hide();
    return false;
  }
  GdkRectangle m;
  gdk_monitor_get_geometry(monitor, &m);
  wl_output* output = gdk_wayland_monitor_get_wl_output(monitor);
  const int cl = std::max(x, m.x), ct = std::max(y, m.y);
  const int cr = std::min(x + w, m.x + m.width), cb = std::min(y + h, m.y + m.height);
  if (cr <= cl || cb <= ct) {
    Hide();
    return true;
  }
  const int cw = cr - cl, ch = cb - ct;
  if (surface_ && output_ != output) Hide();
  if (!surface_) {
    surface_ = wl_compositor_create_surface(g_Layer.compositor);
    wl_region* empty = wl_compositor_create_region(g_Layer.compositor);
    wl_surface_set_input_region(surface_, empty);  // clicks pass through
    wl_region_destroy(empty);
    layer_ = zwlr_layer_shell_v1_get_layer_surface(g_Layer.shell, surface_, output,
                                                   ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "pmr-overlay");
    zwlr_layer_surface_v1_add_listener(layer_, &kLayerListener, this);
    zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    output_ = output;
    width_ = height_ = 0;
  }
  if (cw != width_ || ch != height_ || cl - m.x != left_ || ct - m.y != top_) {
    width_ = cw;
    height_ = ch;
    left_ = cl - m.x;
    top_ = ct - m.y;
    zwlr_layer_surface_v1_set_size(layer_, cw, ch);
    zwlr_layer_surface_v1_set_margin(layer_, top_, 0, 0, left_);
  }
  if (!configured_) {
    wl_surface_commit(surface_);
    wl_display_roundtrip_queue(g_Layer.display, g_Layer.queue);
    if (!configured_) {
      Hide();
      return false;
    }
  }
  if (cw != bufW_ || ch != bufH_) {
    DestroyBuffers();
    const size_t size = static_cast<size_t>(cw) * ch * 8;
    int fd = memfd_create("pmr-overlay", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      close(fd);
      return false;
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      close(fd);
      return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(g_Layer.shm, fd, static_cast<int32_t>(size));
    for (int i = 0; i < 2; ++i) {
      buffers_[i].buffer = wl_shm_pool_create_buffer(pool, i * cw * ch * 4, cw, ch, cw * 4, WL_SHM_FORMAT_ARGB8888);
      buffers_[i].busy = false;
      wl_buffer_add_listener(buffers_[i].buffer, &kBufferListener, &buffers_[i]);
    }
    wl_shm_pool_destroy(pool);
    close(fd);
    map_ = map;
    mapSize_ = size;
    bufW_ = cw;
    bufH_ = ch;
  }
  Buffer* free = !buffers_[0].busy ? &buffers_[0] : (!buffers_[1].busy ? &buffers_[1] : nullptr);
  if (!free) return true;  // both still with the compositor: skip this frame
  uint8_t* dst = static_cast<uint8_t*>(map_) + (free == &buffers_[0] ? 0 : static_cast<size_t>(cw) * ch * 4);
  for (int row = 0; row < ch; ++row)
    std::memcpy(dst + static_cast<size_t>(row) * cw * 4,
                argb + static_cast<size_t>(ct - y + row) * stride + static_cast<size_t>(cl - x) * 4,
                static_cast<size_t>(cw) * 4);
  wl_surface_attach(surface_, free->buffer, 0, 0);
  wl_surface_damage(surface_, 0, 0, cw, ch);
  free->busy = true;
  wl_surface_commit(surface_);
  wl_display_flush(g_Layer.display);
  return true;
#else
  return false;
#endif
}
