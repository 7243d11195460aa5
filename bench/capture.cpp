// Capture throughput and latency through the simulated input subsystem, with
// real pipes and the real poll loop: per-frame time from the device becoming
// readable to the twin write (a keyboard and a 1000 Hz mouse, recording off
// and on), events forwarded per second, and wake-ups of the capture thread
// while nothing happens. The recording records absolute movement, so every
// movement asks a stand-in shell for the pointer position: a round trip over
// a socket to a thread of another priority, as to a compositor. The latency
// figures are measured once quiet and once under one busy loop per core
// ("_loaded"), each also split into the wake-up and the capture's own work.
#include <linux/input.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/load.h"
#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "model/profiles.h"
#include "platform/os_thread.h"
#include "tests/sim/sim_io.h"
#include "tools/recorder.h"
#include "model/tool_state.h"

using namespace pmrsim;

namespace {

std::atomic<int64_t> g_LastTwinSyn{0};
std::atomic<uint64_t> g_TwinEvents{0};

// The stand-in shell: answers each one-byte question on its socket with a
// position.
class EchoShell {
 public:
  EchoShell() {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_);
    thread_ = std::thread([this] {
      char c;
      while (read(fds_[1], &c, 1) == 1) {
        const int32_t pos[2] = {640, 400};
        if (write(fds_[1], pos, sizeof pos) != static_cast<ssize_t>(sizeof pos)) break;
      }
    });
  }
  ~EchoShell() {
    shutdown(fds_[0], SHUT_RDWR);
    thread_.join();
    close(fds_[0]);
    close(fds_[1]);
  }
  bool Ask(double& x, double& y) {
    std::lock_guard<std::mutex> lock(mu_);
    const char c = 'p';
    int32_t pos[2];
    if (write(fds_[0], &c, 1) != 1) return false;
    if (read(fds_[0], pos, sizeof pos) != static_cast<ssize_t>(sizeof pos)) return false;
    x = pos[0];
    y = pos[1];
    return true;
  }

 private:
  int fds_[2] = {-1, -1};
  std::mutex mu_;
  std::thread thread_;
};
EchoShell* g_Shell = nullptr;

bool ShellPosition(double& x, double& y) { return g_Shell && g_Shell->Ask(x, y); }
bool NoLayout(int&, int&, int&, int&) { return false; }
int NoPid(double, double) { return 0; }

// The real recording hooks and the stand-in shell.
const InputCallouts kCallouts = {&TapKey, &TapMouseButton, &PlaceMouseButton, &TapMouseMove, &TapScroll, &ShellPosition, &NoLayout, &NoPid};

void SpinUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    OsRealtimeBudgetCheck();
    std::this_thread::yield();
  }
}

void PaceUntil(int64_t ns) {
  while (NowNs() < ns) {
    OsRealtimeBudgetCheck();
    if (ns - NowNs() > 200000) std::this_thread::sleep_for(std::chrono::microseconds(100));
    else std::this_thread::yield();
  }
}

// Each frame's time, and its two parts: waking the capture thread (from just
// before the frame became readable to its poll returning) and the capture's
// own work (from there to the twin write).
struct FrameTimes {
  std::vector<double> total, wake, work;
};
SimDeviceIo* g_Io = nullptr;

// Emits frames one at a time, `periodUs` apart, and measures each from just
// before it became readable to the moment its SYN_REPORT was written to the twin.
void Measure(Kernel& k, const std::string& node, const std::vector<std::vector<input_event>>& frames, int periodUs,
             FrameTimes& us) {
  int64_t next = NowNs();
  for (const auto& f : frames) {
    PaceUntil(next);
    next += periodUs * 1000LL;
    const int64_t before = g_LastTwinSyn.load();
    const int64_t t0 = NowNs();
    k.Emit(node, f);
    SpinUntil([&] { return g_LastTwinSyn.load() != before; });
    const int64_t syn = g_LastTwinSyn.load();
    const int64_t ready = g_Io->lastReadyNs.load();
    us.total.push_back((syn - t0) / 1000.0);
    // A frame read in the same pass as the one before it has no wake of its own.
    if (ready >= t0 && ready <= syn) {
      us.wake.push_back((ready - t0) / 1000.0);
      us.work.push_back((syn - ready) / 1000.0);
    }
  }
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

std::vector<std::vector<input_event>> KeyboardFrames(int n) {
  std::vector<std::vector<input_event>> frames;
  for (int i = 0; i < n; ++i) {
    const int code = KEY_A + (i / 2) % 20;
    frames.push_back(KeyFrame(code, (i % 2) ? 0 : 1, true));
  }
  return frames;
}

std::vector<std::vector<input_event>> MouseFrames(int n) {
  std::vector<std::vector<input_event>> frames;
  for (int i = 0; i < n; ++i) {
    if (i % 100 == 50) frames.push_back({Ev(EV_MSC, MSC_SCAN, 0x90001), Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
    else if (i % 100 == 51) frames.push_back({Ev(EV_MSC, MSC_SCAN, 0x90001), Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
    else if (i % 25 == 0) frames.push_back({Ev(EV_REL, REL_WHEEL, (i % 50) ? 1 : -1), Ev(EV_SYN, SYN_REPORT, 0)});
    else frames.push_back({Ev(EV_REL, REL_X, 1 + i % 3), Ev(EV_REL, REL_Y, -(1 + i % 2)), Ev(EV_SYN, SYN_REPORT, 0)});
  }
  return frames;
}

}  // namespace

int main() {
  SimScope sim;
  Kernel& k = sim.kernel;
  EchoShell shell;
  g_Shell = &shell;
  // This thread stands in for the kernel delivering device events, which no
  // process's load holds up and no process preempts: it runs real-time where
  // it may, a step above the capture. (A step below, the capture took the
  // processor from it while it still held the simulated kernel's lock, and
  // every frame paid two extra switches that the real input core, delivering
  // from an interrupt, never costs.) Its spins are under the same budget as
  // the capture.
  const int emitterTiming = static_cast<int>(OsMakeThreadTimeCritical(kTimingPriorityCapture + 1));
  SetInputCalloutsForTest(&kCallouts);
  OsSetInputHooks(&ToolInputHooks());
  k.SetDesktopLog(false);
  k.SetUinputWriteLog(false);
  k.SetClientBufferSize(4096);
  k.SetDesktopObserver([](const SeenEvent& s) {
    if (s.phys != "pmr-twin") return;
    g_TwinEvents.fetch_add(1, std::memory_order_relaxed);
    if (s.ev.type == EV_SYN && s.ev.code == SYN_REPORT) g_LastTwinSyn.store(s.ns);
  });
  DeviceDesc kd = BasicKeyboard("Bench Keyboard");
  kd.phys = "usb-bench-kbd/input0";
  DeviceDesc md = BasicMouse("Bench Mouse");
  md.phys = "usb-bench-mouse/input0";
  const std::string kbd = k.AddDevice(kd);
  const std::string mouse = k.AddDevice(md);
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    if (profiles.empty()) profiles.push_back(MacroProfile{kDefaultProfileName, "", {}});
    currentProfileIdx = 0;
  }
  if (!OsStartInputTap()) {
    std::fprintf(stderr, "capture did not start\n");
    return 1;
  }
  if (!k.WaitNodes(
          [&](const std::vector<NodeInfo>&) { return k.Node(kbd)->grabbed && k.Node(mouse)->grabbed; }, 5000)) {
    std::fprintf(stderr, "devices not grabbed\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  // Idle: nothing happens, the capture thread sleeps in poll without timeout.
  sim.io().pollReady = 0;
  sim.io().pollTimeouts = 0;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double idle = (sim.io().pollReady.load() + sim.io().pollTimeouts.load()) / 2.0;

  // Latency, recording off and on; p99 rests on 6,000 frames each.
  const auto kFrames = KeyboardFrames(2000);
  const auto mFrames = MouseFrames(4000);
  g_Io = &sim.io();
  auto latency = [&](FrameTimes& plain, FrameTimes& recording) {
    Measure(k, kbd, kFrames, 2000, plain);
    Measure(k, mouse, mFrames, 1000, plain);
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      StoreSetting(bUseRelativeMouse, false);  // every movement asks for the position
      BeginRecordingLocked();
    }
    Measure(k, kbd, kFrames, 2000, recording);
    Measure(k, mouse, mFrames, 1000, recording);
    OsInputFlushMotion(5000);
    isRecording.store(false);
  };
  FrameTimes plain, recording, plainLoaded, recordingLoaded;
  latency(plain, recording);
  // What this machine takes to wake a real-time thread blocked in poll, the
  // floor under every frame figure (the capture wakes that way).
  pmrbench::PrintWakeupFloor(kTimingPriorityCapture, "");
  double loadNow[1] = {0};
  {
    pmrbench::BusyLoad hogs;
    latency(plainLoaded, recordingLoaded);
    pmrbench::PrintWakeupFloor(kTimingPriorityCapture, "_loaded");
    getloadavg(loadNow, 1);
    std::printf("bench_hogs_loaded: %zu\n", hogs.Hogs());
  }
  std::printf("bench_load_average_1min_loaded: %.2f\n", loadNow[0]);

  // Throughput: a 1000 Hz mouse's frames as fast as the capture takes them.
  const auto burst = MouseFrames(1024);
  std::vector<input_event> chunk;
  for (const auto& f : burst) chunk.insert(chunk.end(), f.begin(), f.end());
  const uint64_t startTwin = g_TwinEvents.load();
  const auto t0 = std::chrono::steady_clock::now();
  for (int round = 0; round < 100; ++round) {
    // One chunk in flight at a time: it fits the reader's buffer.
    SpinUntil([&] { return k.Unread(mouse) == 0; });
    k.Emit(mouse, chunk);
  }
  SpinUntil([&] { return k.Unread(mouse) == 0; });
  const uint64_t expected = 100 * chunk.size();
  SpinUntil([&] { return g_TwinEvents.load() - startTwin >= expected; });
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double eventsPerS = (g_TwinEvents.load() - startTwin) / secs;

  OsStopInputTap();
  SetInputCalloutsForTest(nullptr);
  g_Shell = nullptr;

  // 0 plain, 1 a raised nice level, 2 real-time set directly, 3 through
  // RealtimeKit; the capture thread asks the same way.
  std::printf("capture_emitter_timing: %d\n", emitterTiming);
  std::printf("capture_frame_p50_us: %.1f\n", Percentile(plain.total, 0.50));
  std::printf("capture_frame_p99_us: %.1f\n", Percentile(plain.total, 0.99));
  std::printf("capture_events_per_s: %.0f\n", eventsPerS);
  std::printf("capture_frame_p99_us_recording: %.1f\n", Percentile(recording.total, 0.99));
  std::printf("capture_frame_samples_loaded: %zu\n", plainLoaded.total.size());
  std::printf("capture_frame_p99_us_loaded: %.1f\n", Percentile(plainLoaded.total, 0.99));
  std::printf("capture_frame_p99_us_recording_loaded: %.1f\n", Percentile(recordingLoaded.total, 0.99));
  // The two parts of a frame: the wake-up is the machine's (compare the pipe
  // wake-up floor above), the work is the capture's own.
  const std::pair<const char*, const FrameTimes*> parts[] = {
      {"", &plain}, {"_recording", &recording}, {"_loaded", &plainLoaded}, {"_recording_loaded", &recordingLoaded}};
  for (const auto& [suffix, t] : parts) {
    std::printf("capture_wake_p50_us%s: %.1f\n", suffix, Percentile(t->wake, 0.50));
    std::printf("capture_wake_p99_us%s: %.1f\n", suffix, Percentile(t->wake, 0.99));
    std::printf("capture_work_p50_us%s: %.1f\n", suffix, Percentile(t->work, 0.50));
    std::printf("capture_work_p99_us%s: %.1f\n", suffix, Percentile(t->work, 0.99));
  }
  std::printf("capture_idle_wakeups_per_s: %.1f\n", idle);
  return 0;
}
