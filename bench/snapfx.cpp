// Snap effect and peer figures: one effect frame (scene tick plus painting
// the 1200x1200 image with cairo), alone and beside a busy loop per core;
// main-loop wakeups while no effect runs; a frame request round trip between
// two processes.
#include <cairo.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/overlay/cairo_canvas.h"
#include "platform/os_overlay.h"
#include "platform/overlay_scene.h"
#include "snap/peer.h"

namespace {

double NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double CpuUs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

// CPU time of each frame, beside the wall-clock time (the machine may be shared).
std::vector<double> g_FrameCpu;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// Frame times of whole effects (approach, click, impact, burst) in ms.
std::vector<double> EffectFrames(int effects) {
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 1200);
  cairo_t* cr = cairo_create(image);
  CairoCanvas canvas(cr);
  snapfx::Scene scene;
  scene.Attach(canvas);
  std::vector<double> frames;
  // One frame as the effect timer draws it: clear, tick, flush.
  auto frame = [&](const snapfx::Guide& g) {
    double t0 = NowUs(), c0 = CpuUs();
    scene.Update();
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);
    scene.Tick(0.016f, canvas, g.x - 600, g.y - 600);
    cairo_surface_flush(image);
    frames.push_back((NowUs() - t0) / 1000);
    g_FrameCpu.push_back((CpuUs() - c0) / 1000);
  };
  for (int e = 0; e < effects; ++e) {
    snapfx::Guide g;
    g.active = true;
    g.x = 1000 + e;
    g.y = 700;
    g.nx = 1;
    g.length = 400;
    for (int gap = 60; gap >= 0; gap -= 2) {
      g.gap = gap;
      scene.Approach(g);
      frame(g);
    }
    scene.Click(g, 0.15);
    for (int i = 0; i < 400 && (i == 0 || scene.Busy()); ++i) {
      frame(g);
    }
  }
  cairo_destroy(cr);
  cairo_surface_destroy(image);
  return frames;
}

int Serve() {
  OsStartPeerServer([](const std::string&) { return std::string("100,200,420,560;100,237,420,523;1;1"); });
  std::printf("ready\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  OsStopPeerServer();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--serve") == 0) return Serve();
  // Sockets in a private data directory of the bench's own.
  char home[] = "/tmp/pmr-bench-snapfx-XXXXXX";
  if (!mkdtemp(home)) return 1;
  setenv("XDG_DATA_HOME", home, 1);

  std::vector<double> frames = EffectFrames(6);
  std::printf("fx_frame_ms_p50: %.2f\n", Percentile(frames, 0.5));
  std::printf("fx_frame_ms_p99: %.2f\n", Percentile(frames, 0.99));
  std::printf("fx_frame_cpu_ms_p99: %.2f\n", Percentile(g_FrameCpu, 0.99));
  {
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i)
      load.emplace_back([&] {
        volatile unsigned long x = 0;
        while (!stop.load(std::memory_order_relaxed)) x = x + 1;
      });
    std::vector<double> loaded = EffectFrames(3);
    stop = true;
    for (auto& t : load) t.join();
    std::printf("fx_frame_ms_p99_loaded: %.2f\n", Percentile(loaded, 0.99));
  }

  // Wakeups of the main loop while no effect runs: an effect is played to
  // its end through the overlay layer, then the loop is watched for a second.
  if (gtk_init_check(nullptr, nullptr)) {
    GMainContext* ctx = g_main_context_default();
    snapfx::Guide g;
    g.active = true;
    g.x = 300;
    g.y = 300;
    g.nx = 1;
    g.length = 200;
    OsSnapFxClick(nullptr, g, 0.1);
    while (OsSnapFxRunning()) g_main_context_iteration(ctx, TRUE);
    // Let the display answer the popup's hiding before the idle second starts.
    gdk_display_sync(gdk_display_get_default());
    while (g_main_context_pending(ctx)) g_main_context_iteration(ctx, FALSE);
    int dispatches = 0;
    double end = NowUs() + 1e6;
    while (NowUs() < end) {
      if (g_main_context_pending(ctx)) {
        g_main_context_iteration(ctx, FALSE);
        ++dispatches;
      } else {
        // Sleep until a source is due or the second is over.
        gint timeout = -1;
        GPollFD fds[16];
        gint prio;
        g_main_context_prepare(ctx, &prio);
        int n = g_main_context_query(ctx, prio, &timeout, fds, 16);
        double left = (end - NowUs()) / 1000;
        int wait = timeout < 0 || timeout > left ? static_cast<int>(left) : timeout;
        g_poll(fds, n, std::max(wait, 0));
        if (g_main_context_check(ctx, prio, fds, n)) {
          g_main_context_dispatch(ctx);
          ++dispatches;
        }
      }
    }
    std::printf("fx_idle_wakeups_per_s: %d\n", dispatches);
  } else {
    std::fprintf(stderr, "no display: fx_idle_wakeups_per_s not measured\n");
  }

  // Round trips to a second process.
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return 1;
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    execl("/proc/self/exe", argv[0], "--serve", nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  char buf[16] = {};
  if (read(out[0], buf, 6) != 6) return 1;
  std::vector<double> trips;
  std::string reply;
  int failed = 0;
  for (int i = 0; i < 2000; ++i) {
    double t0 = NowUs();
    if (!PeerRequest(child, "frame", &reply, 400)) ++failed;
    trips.push_back(NowUs() - t0);
  }
  close(in[1]);
  waitpid(child, nullptr, 0);
  std::printf("peer_request_us_p50: %.0f\n", Percentile(trips, 0.5));
  std::printf("peer_request_us_p99: %.0f\n", Percentile(trips, 0.99));
  std::printf("peer_request_failures: %d\n", failed);
  return 0;
}
