// Precision of the auto clicker and the key spammer, measured through the
// simulated injection device (every write carries the time the desktop side
// received it), and side by side the click rate and pause error of
// `xdotool click --repeat N --delay 1` against a private Xvfb, observed through
// XInput2 raw button events.
//
// The interval is a pause after each click, so the pause is measured from one
// click's release write to the next click's press write, and the click's own
// cost from its press write to its release write.
// What keeping that rhythm costs is the clicker thread's CPU time per wall
// second at 1 ms (its short spin before each click included).
//
// Durations: by default a short run (1 ms: 5 s; 10 ms and 100 ms: 10 s each;
// key spammer: 5 s; xdotool: 3000 clicks). With the argument "--full" (or
// PMR_BENCH_FULL=1): 1 ms over 10 s, 10 ms and 100 ms over 60 s each, key
// spammer over 10 s, xdotool 10000 clicks. The durations used are printed too.
//
// The jitter figures (100 ms ± 10 ms over 2,000 clicks, about 200 s) follow
// the quiet suite; "--jitter" runs them alone.
// Hold to run: the time from the release of the held hotkey to the clicker's
// last event (hold_release_to_last_click_us_p99; at most one interval plus
// 1 ms), 200 rounds at 10 ms (1,000 with "--full").
//
// gtest-free program; figure lines are "name: value".
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "bench/load.h"
#include "platform/os_input.h"
#include "platform/os_thread.h"
#include "tests/sim/input_harness.h"
#include "tests/sim/sim_io.h"
#include "tools/autoclicker.h"
#include "model/jitter.h"
#include "model/hold_mode.h"
#include "tools/keyspammer.h"
#include "tools/signals.h"
// Xlib last: its macros (None, Bool, Status) clash with names in the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include "bench/xvfb.h"
// clang-format on

extern char** environ;

namespace {

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
  if (i > 0) --i;
  return v[std::min(i, v.size() - 1)];
}

// One press or release as it reached the desktop side.
struct Stamp {
  int64_t ns;
  int code;
  int value;
};

// Collects the key and button events written to the injection device.
class InjectLog {
 public:
  explicit InjectLog(pmrsim::Kernel& k) : k_(k) {
    stamps_.reserve(1 << 20);
    k_.SetDesktopLog(false);
    k_.SetUinputWriteLog(false);
    k_.SetDesktopObserver([this](const pmrsim::SeenEvent& s) {
      if (s.ev.type != EV_KEY || s.phys != "pmr-inject") return;
      std::lock_guard<std::mutex> lock(mu_);
      stamps_.push_back(Stamp{s.ns, s.ev.code, s.ev.value});
    });
  }
  ~InjectLog() { k_.SetDesktopObserver(nullptr); }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    stamps_.clear();
  }
  std::vector<Stamp> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    return stamps_;
  }

 private:
  pmrsim::Kernel& k_;
  std::mutex mu_;
  std::vector<Stamp> stamps_;
};

// Press and release times of successive clicks of one button.
struct Clicks {
  std::vector<int64_t> press, release;
};

Clicks PairUp(const std::vector<Stamp>& stamps, int code) {
  Clicks c;
  bool down = false;
  for (const Stamp& s : stamps) {
    if (s.code != code) continue;
    if (s.value == 1 && !down) {
      c.press.push_back(s.ns);
      down = true;
    } else if (s.value == 0 && down) {
      c.release.push_back(s.ns);
      down = false;
    }
  }
  c.press.resize(c.release.size());
  return c;
}

double RatePerSecond(const std::vector<int64_t>& press) {
  if (press.size() < 2) return 0;
  return static_cast<double>(press.size() - 1) / (static_cast<double>(press.back() - press.front()) / 1e9);
}

// |pause - interval| in microseconds for every pause between two clicks.
std::vector<double> PauseErrorsUs(const Clicks& c, double intervalMs) {
  std::vector<double> out;
  for (size_t i = 0; i + 1 < c.press.size(); ++i) {
    const double pauseUs = static_cast<double>(c.press[i + 1] - c.release[i]) / 1e3;
    out.push_back(std::fabs(pauseUs - intervalMs * 1e3));
  }
  return out;
}

std::vector<double> CostsUs(const Clicks& c) {
  std::vector<double> out;
  for (size_t i = 0; i < c.press.size(); ++i) out.push_back(static_cast<double>(c.release[i] - c.press[i]) / 1e3);
  return out;
}

// CPU time a thread has used so far, in seconds (NaN when it cannot be read).
double ThreadCpuSeconds(std::thread& t) {
  clockid_t clock;
  timespec ts;
  if (pthread_getcpuclockid(t.native_handle(), &clock) != 0 || clock_gettime(clock, &ts) != 0) return std::nan("");
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs one tool's worker loop for `seconds` between a start and a stop request;
// returns the time between the two requests in seconds. `cpuSeconds`, when
// given, receives the CPU time the worker used between them.
double RunTool(void (*loop)(), WakeEvent& wake, std::atomic<int>& runCounter, std::atomic<bool>& startTrigger,
               std::atomic<bool>& stopTrigger, double seconds, double* cpuSeconds = nullptr) {
  g_AppRunning.store(true);
  runCounter.store(-1);
  std::thread worker(loop);
  while (runCounter.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const double cpu0 = ThreadCpuSeconds(worker);
  const int64_t t0 = NowNs();
  startTrigger.store(true);
  ProcessSignals();
  std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds));
  stopTrigger.store(true);
  ProcessSignals();
  const int64_t t1 = NowNs();
  if (cpuSeconds) *cpuSeconds = ThreadCpuSeconds(worker) - cpu0;
  g_AppRunning.store(false);
  wake.Wake();
  worker.join();
  g_AppRunning.store(true);
  return static_cast<double>(t1 - t0) / 1e9;
}

struct ClickRun {
  Clicks clicks;
  double seconds = 0;
  double cpuSeconds = 0;  // of the clicker thread
};

ClickRun RunClicker(InjectLog& log, int intervalMs, double seconds) {
  ResetToolStateForTest();
  StoreSetting(autoClickIntervalMs, intervalMs);
  StoreSetting(autoClickRepeatMode, 1);
  log.Clear();
  ClickRun r;
  r.seconds = RunTool(AutoClickerThread, g_AutoClickWake, currentClickCount, triggerAutoClickStart,
                      triggerAutoClickStop, seconds, &r.cpuSeconds);
  r.clicks = PairUp(log.Take(), BTN_LEFT);
  return r;
}

// ---- xdotool under a private Xvfb, observed through XInput2 raw events -----


// Listens for raw button events of button 1 on every master device; each is
// stamped with the monotonic clock when it arrives.
class RawButtonListener {
 public:
  bool Open(const std::string& display) {
    dpy_ = XOpenDisplay(display.c_str());
    if (!dpy_) return false;
    int event, error;
    if (!XQueryExtension(dpy_, "XInputExtension", &opcode_, &event, &error)) return false;
    int major = 2, minor = 2;
    if (XIQueryVersion(dpy_, &major, &minor) != Success) return false;
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawButtonPress);
    XISetMask(mask, XI_RawButtonRelease);
    XIEventMask em{XIAllMasterDevices, static_cast<int>(sizeof mask), mask};
    XISelectEvents(dpy_, DefaultRootWindow(dpy_), &em, 1);
    XSync(dpy_, False);
    thread_ = std::thread([this] { Loop(); });
    return true;
  }
  ~RawButtonListener() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (dpy_) XCloseDisplay(dpy_);
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mu_);
    return stamps_.size();
  }
  std::vector<Stamp> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    return stamps_;
  }

 private:
  void Loop() {
    pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
    while (!stop_.load()) {
      if (!XPending(dpy_)) {
        poll(&p, 1, 50);
        continue;
      }
      XEvent ev;
      XNextEvent(dpy_, &ev);
      const int64_t ns = NowNs();
      XGenericEventCookie* cookie = &ev.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != opcode_ || !XGetEventData(dpy_, cookie)) continue;
      if (cookie->evtype == XI_RawButtonPress || cookie->evtype == XI_RawButtonRelease) {
        auto* raw = static_cast<XIRawEvent*>(cookie->data);
        if (raw->detail == 1) {
          std::lock_guard<std::mutex> lock(mu_);
          stamps_.push_back(Stamp{ns, 1, cookie->evtype == XI_RawButtonPress ? 1 : 0});
        }
      }
      XFreeEventData(dpy_, cookie);
    }
  }

  Display* dpy_ = nullptr;
  int opcode_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<Stamp> stamps_;
};

// Runs xdotool; returns false, with the reason in `why`, when it could not be
// measured.
bool RunXdotool(const std::string& display, int repeat, int delayMs, Clicks& out, std::string& why) {
  RawButtonListener listener;
  if (!listener.Open(display)) {
    why = "no XInput2 listener on " + display;
    return false;
  }
  std::vector<std::string> args = {"xdotool", "click", "--repeat", std::to_string(repeat),
                                   "--delay", std::to_string(delayMs), "1"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) envs.emplace_back(*e);
  envs.push_back("DISPLAY=" + display);
  std::vector<char*> envp;
  for (auto& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv.data(), envp.data()) != 0) {
    why = "xdotool could not be started";
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    why = "xdotool ended with status " + std::to_string(status);
    return false;
  }
  // Let the last events arrive.
  size_t seen = 0;
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    size_t now = listener.Count();
    if (now == seen && now >= static_cast<size_t>(2 * repeat)) break;
    seen = now;
  }
  const std::vector<Stamp> stamps = listener.Take();
  out = PairUp(stamps, 1);
  if (out.press.size() < 2) {
    why = std::to_string(stamps.size()) + " raw button events seen for " + std::to_string(repeat) + " clicks";
    return false;
  }
  return true;
}

void Print(const char* name, double value, int decimals = 1) {
  if (std::isnan(value))
    std::printf("%s: nan\n", name);
  else
    std::printf("%s: %.*f\n", name, decimals, value);
}


// Figures that may be measured quiet or under the bench's own load; `suffix`
// ("" or "_loaded") ends every name.
struct Suite {
  double s1, sLong, sSpam;
  int xdoRepeat;
  bool withLong100;
};

void RunSuite(InjectLog& log, const Suite& suite, const std::string& suffix, double* pmrErr1) {
  auto name = [&](const char* base) { return std::string(base) + suffix; };
  Print(name("bench_duration_s_1ms").c_str(), suite.s1, 0);

  // 1 ms: rate, pause error, click cost.
  ClickRun r1 = RunClicker(log, 1, suite.s1);
  const double rate1 = RatePerSecond(r1.clicks.press);
  const std::vector<double> err1 = PauseErrorsUs(r1.clicks, 1);
  const std::vector<double> cost1 = CostsUs(r1.clicks);
  Print(name("click_samples_1ms").c_str(), static_cast<double>(err1.size()), 0);
  Print(name("clicks_per_s_1ms").c_str(), rate1);
  Print(name("click_pause_error_p50_us_1ms").c_str(), Percentile(err1, 0.50));
  Print(name("click_pause_error_p99_us_1ms").c_str(), Percentile(err1, 0.99));
  Print(name("click_pause_error_max_us_1ms").c_str(),
        err1.empty() ? std::nan("") : *std::max_element(err1.begin(), err1.end()));
  // What the short spin before each click costs: the clicker thread's CPU
  // time per wall second.
  Print(name("click_cpu_percent_1ms").c_str(), 100.0 * r1.cpuSeconds / r1.seconds, 2);
  Print(name("click_cost_p50_us").c_str(), Percentile(cost1, 0.50));
  Print(name("click_cost_p99_us").c_str(), Percentile(cost1, 0.99));

  // 10 ms (and 100 ms): clicks made against duration / interval.
  Print(name("bench_duration_s_10ms_100ms").c_str(), suite.sLong, 0);
  for (int ms : {10, 100}) {
    if (ms == 100 && !suite.withLong100) continue;
    ClickRun r = RunClicker(log, ms, suite.sLong);
    const double expected = r.seconds * 1000.0 / ms;
    const std::string n = "click_count_ratio_" + std::to_string(ms) + "ms" + suffix;
    Print(n.c_str(), static_cast<double>(r.clicks.press.size()) / expected, 4);
  }

  // Key spammer at 1 ms with three targets, in turn.
  {
    ResetToolStateForTest();
    ResetKeySpammerForTest();
    keySpamTargets[0].store('A');
    keySpamTargets[1].store('B');
    keySpamTargets[2].store('C');
    keySpamTargetCount.store(3);
    StoreSetting(keySpamIntervalMs, 1);
    log.Clear();
    RunTool(KeySpammerThread, g_KeySpamWake, currentKeySpamCount, triggerKeySpamStart, triggerKeySpamStop,
            suite.sSpam);
    std::vector<int64_t> presses;
    for (const Stamp& st : log.Take())
      if (st.value == 1 && (st.code == KEY_A || st.code == KEY_B || st.code == KEY_C)) presses.push_back(st.ns);
    Print(name("bench_duration_s_keyspam").c_str(), suite.sSpam, 0);
    Print(name("keyspam_cycles_per_s_1ms").c_str(), RatePerSecond(presses));
  }

  // xdotool, the same job done the usual way, in the same conditions.
  double xRate = std::nan(""), xErr = std::nan("");
  // A second try on a fresh server when the first could not be measured; the
  // reason goes to standard error either way.
  for (int attempt = 1; attempt <= 2 && std::isnan(xRate); ++attempt) {
    pmrbench::Xvfb x;
    Clicks xc;
    std::string why = "Xvfb did not start";
    if (x.Start() && RunXdotool(x.display(), suite.xdoRepeat, 1, xc, why)) {
      xRate = RatePerSecond(xc.press);
      xErr = Percentile(PauseErrorsUs(xc, 1), 0.99);
    } else {
      std::fprintf(stderr, "clicker: xdotool under Xvfb could not be measured (try %d): %s\n", attempt, why.c_str());
    }
  }
  Print(name("xdotool_clicks").c_str(), static_cast<double>(suite.xdoRepeat), 0);
  Print(name("xdotool_clicks_per_s_1ms").c_str(), xRate);
  Print(name("xdotool_error_p99_us_1ms").c_str(), xErr);
  Print(name("clicks_per_s_ratio_vs_xdotool_1ms").c_str(), rate1 / xRate, 3);
  Print(name("pause_error_p99_ratio_xdotool_vs_pmr_1ms").c_str(), xErr / Percentile(err1, 0.99), 1);
  if (pmrErr1) *pmrErr1 = Percentile(err1, 0.99);
}

// The clicker at 100 ms with a jitter of ±10 ms over at least 2,000 clicks:
// the shortest and longest pause seen, how far their mean is from the 100 ms
// set, and how many pauses fell outside 90 to 110 ms by more than the
// measurement's own slack (0.5 ms late, the spin of a plain-priority wait).
void RunJitter(InjectLog& log) {
  constexpr int kClicks = 2000;
  ResetToolStateForTest();
  StoreSetting(autoClickIntervalMs, 100);
  StoreSetting(autoClickJitterMs, 10);
  StoreSetting(autoClickRepeatMode, 0);
  StoreSetting(autoClickRepeatTimes, kClicks + 1);
  log.Clear();
  g_AppRunning.store(true);
  currentClickCount.store(-1);
  lastClickRun.runs.store(0);
  std::thread worker(AutoClickerThread);
  while (currentClickCount.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  triggerAutoClickStart.store(true);
  ProcessSignals();
  while (lastClickRun.runs.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  g_AppRunning.store(false);
  g_AutoClickWake.Wake();
  worker.join();
  g_AppRunning.store(true);
  StoreSetting(autoClickJitterMs, 0);

  const Clicks c = PairUp(log.Take(), BTN_LEFT);
  std::vector<double> pauses;
  for (size_t i = 0; i + 1 < c.press.size(); ++i)
    pauses.push_back(static_cast<double>(c.press[i + 1] - c.release[i]) / 1e6);
  double sum = 0;
  int outside = 0;
  for (double p : pauses) {
    sum += p;
    if (p < 90.0 || p > 110.5) ++outside;
  }
  const double mean = pauses.empty() ? std::nan("") : sum / static_cast<double>(pauses.size());
  Print("jitter_interval_samples", static_cast<double>(pauses.size()), 0);
  Print("jitter_interval_min_ms", pauses.empty() ? std::nan("") : *std::min_element(pauses.begin(), pauses.end()), 3);
  Print("jitter_interval_max_ms", pauses.empty() ? std::nan("") : *std::max_element(pauses.begin(), pauses.end()), 3);
  Print("jitter_interval_mean_ms", mean, 3);
  Print("jitter_interval_mean_error_pct", std::fabs(mean - 100.0) / 100.0 * 100.0, 3);
  Print("jitter_interval_outside_range_count", outside, 0);
}

// Hold to run: the auto clicker runs while F6 is held on a simulated keyboard,
// read by the real capture. Each round holds F6 for a couple of clicks plus a
// random part of an interval, so the release meets the clicker at every phase
// of its cycle; the figure is how long after the release (written to the
// keyboard) the clicker's last event reached the desktop, 0 when it came
// before. Runs on a simulated kernel of its own, before the other figures.
void RunHoldRelease(int intervalMs, int rounds, const std::string& suffix) {
  std::vector<double> delaysUs;
  {
    pmrsim::InputHarness h;
    h.UseRealHooks();
    const std::string kbd = h.Add(pmrsim::BasicKeyboard("Kbd"));
    if (!OsStartInputTap() || !h.WaitGrabbed(kbd)) {
      std::fprintf(stderr, "clicker: the capture did not grab the simulated keyboard\n");
    } else {
      InjectLog log(h.k());
      g_HoldModeAuto.store(true);
      StoreSetting(autoClickIntervalMs, intervalMs);
      g_AppRunning.store(true);
      currentClickCount.store(-1);
      std::atomic<bool> stop{false};
      std::thread signals([&] {
        while (!stop.load()) {
          ProcessSignals();
          WaitUntilWoken(g_SignalWake);
        }
      });
      std::thread clicker(AutoClickerThread);
      while (currentClickCount.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      uint32_t seed = 12345;
      auto releases = [&](int64_t since) {
        size_t n = 0;
        for (const Stamp& st : log.Take()) n += st.ns >= since && st.code == BTN_LEFT && st.value == 0;
        return n;
      };
      // A round that does not see its clicks or its stop within 30 s ends the
      // figure (printed from the rounds done) instead of hanging the bench.
      auto waitFor = [](const std::function<bool()>& cond) {
        const int64_t deadline = NowNs() + 30'000'000'000LL;
        while (!cond()) {
          if (NowNs() > deadline) return false;
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
      };
      for (int i = 0; i < rounds; ++i) {
        const int64_t pressed = NowNs();
        h.k().Emit(kbd, pmrsim::KeyFrame(KEY_F6, 1));
        if (!waitFor([&] { return releases(pressed) >= 2; })) {
          std::fprintf(stderr, "clicker: hold round %d saw no clicks\n", i);
          h.k().Emit(kbd, pmrsim::KeyFrame(KEY_F6, 0));
          break;
        }
        seed = seed * 1664525u + 1013904223u;
        const int64_t extraNs = static_cast<int64_t>(seed % 1000u) * intervalMs * 1000;
        const int64_t until = NowNs() + extraNs;
        while (NowNs() < until) std::this_thread::sleep_for(std::chrono::microseconds(100));
        const int64_t released = NowNs();
        h.k().Emit(kbd, pmrsim::KeyFrame(KEY_F6, 0));
        if (!waitFor([] { return !isAutoClicking.load(); })) {
          std::fprintf(stderr, "clicker: hold round %d did not stop\n", i);
          break;
        }
        // Anything still on its way arrives within a few intervals.
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * intervalMs + 5));
        int64_t last = released;
        for (const Stamp& st : log.Take()) last = std::max(last, st.ns);
        delaysUs.push_back(static_cast<double>(last - released) / 1e3);
        log.Clear();
      }
      stop.store(true);
      g_SignalWake.Wake();
      signals.join();
      g_AppRunning.store(false);
      g_AutoClickWake.Wake();
      clicker.join();
      g_AppRunning.store(true);
    }
  }
  ResetToolStateForTest();
  Print(("hold_release_rounds" + suffix).c_str(), static_cast<double>(delaysUs.size()), 0);
  Print(("hold_interval_ms" + suffix).c_str(), intervalMs, 0);
  Print(("hold_release_to_last_click_us_p50" + suffix).c_str(), Percentile(delaysUs, 0.50));
  Print(("hold_release_to_last_click_us_p99" + suffix).c_str(), Percentile(delaysUs, 0.99));
  Print(("hold_release_to_last_click_limit_us" + suffix).c_str(), intervalMs * 1000.0 + 1000.0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  bool full = false, jitterOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--full") == 0) full = true;
    if (std::strcmp(argv[i], "--jitter") == 0) jitterOnly = true;
  }
  if (const char* e = std::getenv("PMR_BENCH_FULL"); e && std::strcmp(e, "1") == 0) full = true;

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  RunHoldRelease(10, full ? 1000 : 200, "");
  {
    // Releasing a held hotkey is felt on a busy desktop too.
    pmrbench::BusyLoad hogs;
    pmrbench::PrintLoad("_hold_loaded", hogs.Hogs());
    RunHoldRelease(10, full ? 1000 : 200, "_loaded");
  }
  pmrsim::SimScope sim;
  if (!EnsureInjectDevice()) {
    std::fprintf(stderr, "clicker: the injection device could not be created\n");
    return 1;
  }
  InjectLog log(sim.kernel);

  // How the tool threads are scheduled here (0 plain, 1 a raised nice level,
  // 2 real-time set directly, 3 real-time through RealtimeKit).
  {
    int timing = 0;
    std::thread probe([&] { timing = static_cast<int>(OsMakeThreadTimeCritical(kTimingPriorityTool)); });
    probe.join();
    Print("tool_thread_timing", timing, 0);
  }

  pmrbench::PrintLoad("", 0);
  if (jitterOnly) {
    RunJitter(log);
    return 0;
  }
  pmrbench::PrintTimerFloor(kTimingPriorityTool, "");
  const Suite quiet{full ? 10.0 : 5.0, full ? 60.0 : 10.0, full ? 10.0 : 5.0, full ? 10000 : 3000, true};
  RunSuite(log, quiet, "", nullptr);
  RunJitter(log);

  // The same under one busy loop per core; p99 rests on at least 5,000 pauses.
  const Suite loaded{full ? 20.0 : 6.0, full ? 60.0 : 10.0, full ? 10.0 : 5.0, full ? 10000 : 5000, false};
  pmrbench::BusyLoad hogs;
  pmrbench::PrintLoad("_loaded", hogs.Hogs());
  pmrbench::PrintTimerFloor(kTimingPriorityTool, "_loaded");
  RunSuite(log, loaded, "_loaded", nullptr);
  hogs.Stop();
  return 0;
}
