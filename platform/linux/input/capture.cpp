// Input capture: reads every keyboard and mouse under /dev/input on the
// "PMR input tap" thread, offers each event to the recording hooks, grabs the
// devices that can carry hotkeys and re-emits what the hooks did not swallow
// through a twin uinput device. The "PMR input dog" thread releases every grab
// when a frame takes a second or longer, so a hang never costs the user their
// keyboard and mouse for longer than that.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "platform/linux/input/device_io.h"
#include "platform/linux/input/input_state.h"
#include "platform/linux/input/motion_positions.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "platform/os_thread.h"

std::atomic<bool> g_TapRunning{false};
std::atomic<bool> g_StopTap{false};
int g_WakeFd = -1;
std::atomic<bool> g_SessionUsable{true};
std::mutex g_GrabMutex;
std::vector<int> g_GrabbedFds;
std::atomic<int64_t> g_BusySinceNs{0};
std::atomic<bool> g_GrabBroken{false};

namespace {

constexpr int kCodes = 768;  // key and button codes 0..767
constexpr int64_t kGrabDelayNs = 300'000'000;
constexpr int kReadBatch = 64;
constexpr int kBatchesPerPass = 8;
// While the capture thread is stepped down from real-time by its budget, the
// poll wakes it this often, so it is real-time again soon after a flood ends
// even when nothing else comes.
constexpr int kDemotedPollMs = 250;
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_ATTRIB;  // 0x384

std::thread g_TapThread;
std::thread g_WatchdogThread;
// The watchdog sleeps on this eventfd while no frame is being handled, so an
// idle desktop costs it no wake-ups; the first frame after a quiet spell (and
// the stop) writes to it.
int g_DogFd = -1;
std::atomic<bool> g_DogIdle{false};
std::mutex g_TapLifecycleMutex;  // serialises start and stop

template <size_t N>
struct Bits {
  unsigned char bytes[(N + 7) / 8] = {};
  bool Test(size_t bit) const { return bit < N && (bytes[bit / 8] >> (bit % 8)) & 1; }
  bool Any() const {
    for (unsigned char b : bytes)
      if (b) return true;
    return false;
  }
};

struct Caps {
  Bits<EV_CNT> ev;
  Bits<kCodes> key;
  Bits<REL_CNT> rel;
  Bits<ABS_CNT> abs;
  Bits<MSC_CNT> msc;
  Bits<LED_CNT> led;
  Bits<INPUT_PROP_CNT> props;
  std::string phys;
};

std::string QueryPhys(int fd) {
  char phys[256] = {};
  if (IoIoctl(fd, EVIOCGPHYS(255), phys) < 0) return {};
  phys[255] = 0;
  return phys;
}

void QueryCaps(int fd, Caps& c) {
  IoIoctl(fd, EVIOCGBIT(0, sizeof c.ev.bytes), c.ev.bytes);
  IoIoctl(fd, EVIOCGBIT(EV_KEY, sizeof c.key.bytes), c.key.bytes);
  IoIoctl(fd, EVIOCGBIT(EV_REL, sizeof c.rel.bytes), c.rel.bytes);
  IoIoctl(fd, EVIOCGBIT(EV_ABS, sizeof c.abs.bytes), c.abs.bytes);
  IoIoctl(fd, EVIOCGBIT(EV_MSC, sizeof c.msc.bytes), c.msc.bytes);
  IoIoctl(fd, EVIOCGBIT(EV_LED, sizeof c.led.bytes), c.led.bytes);
  IoIoctl(fd, EVIOCGPROP(sizeof c.props.bytes), c.props.bytes);
  c.phys = QueryPhys(fd);
}

bool ReadKeyState(int fd, Bits<kCodes>& keys) {
  keys = Bits<kCodes>{};
  return IoIoctl(fd, EVIOCGKEY(sizeof keys.bytes), keys.bytes) >= 0;
}

bool IsOwnPhys(const std::string& phys) { return phys.rfind("pmr-", 0) == 0; }

void WriteEvents(int fd, const input_event* events, size_t n) {
  (void)InputIo().Write(fd, events, n * sizeof(input_event));
}

input_event Event(int type, int code, int value) {
  input_event e{};
  e.type = static_cast<uint16_t>(type);
  e.code = static_cast<uint16_t>(code);
  e.value = value;
  return e;
}

struct Device {
  std::string path;
  std::string closedPath;  // the path it had, once closed
  int fd = -1;
  bool wantsGrab = false;
  bool grabbed = false;
  int twinFd = -1;
  int64_t grabNotBefore = 0;
  bool hiResWheel = false;
  bool hiResHWheel = false;
  bool dropped = false;
  std::vector<input_event> pending;
  std::bitset<kCodes> down;
  // Codes whose press the hooks swallowed and whose release has not come yet:
  // after lost events their release must still reach the hooks.
  std::bitset<kCodes> swallowedDown;
};

void DestroyTwin(Device& d) {
  if (d.twinFd < 0) return;
  IoIoctlInt(d.twinFd, UI_DEV_DESTROY, 0);
  InputIo().Close(d.twinFd);
  d.twinFd = -1;
}

// A twin copies the source's capabilities, name and id; the kernel then
// generates auto-repeat on it by itself (EV_REP).
int CreateTwin(int src, const Caps& c) {
  int t = InputIo().Open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (t < 0) return -1;
  auto ok = [&]() -> bool {
    for (int type : {EV_SYN, EV_KEY, EV_REL, EV_ABS, EV_MSC, EV_LED, EV_REP})
      if (c.ev.Test(type) && IoIoctlInt(t, UI_SET_EVBIT, type) < 0) return false;
    for (int code = 0; code < kCodes; ++code)
      if (c.key.Test(code) && IoIoctlInt(t, UI_SET_KEYBIT, code) < 0) return false;
    for (int code = 0; code < 16; ++code)
      if (c.rel.Test(code) && IoIoctlInt(t, UI_SET_RELBIT, code) < 0) return false;
    for (int code = 0; code < 64; ++code) {
      if (!c.abs.Test(code)) continue;
      // The spare axes of a receiver (see OpenDevice) carry nothing; the one
      // among them the kernel checks, the slot count, is left out, since a
      // spare range of hundreds of slots would make it refuse the twin.
      if (code == ABS_MT_SLOT && c.abs.Test(ABS_MT_SLOT - 1)) continue;
      uinput_abs_setup abs{};
      abs.code = static_cast<uint16_t>(code);
      if (IoIoctl(src, EVIOCGABS(code), &abs.absinfo) < 0 || IoIoctl(t, UI_ABS_SETUP, &abs) < 0) return false;
    }
    for (int code = 0; code < 8; ++code)
      if (c.msc.Test(code) && IoIoctlInt(t, UI_SET_MSCBIT, code) < 0) return false;
    for (int code = 0; code < 16; ++code)
      if (c.led.Test(code) && IoIoctlInt(t, UI_SET_LEDBIT, code) < 0) return false;
    for (int code = 0; code < 32; ++code)
      if (c.props.Test(code) && IoIoctlInt(t, UI_SET_PROPBIT, code) < 0) return false;
    uinput_setup setup{};
    char name[80] = {};
    if (IoIoctl(src, EVIOCGNAME(79), name) < 0) return false;
    std::memcpy(setup.name, name, 79);
    if (IoIoctl(src, EVIOCGID, &setup.id) < 0) return false;
    return IoIoctl(t, UI_SET_PHYS, "pmr-twin") >= 0 && IoIoctl(t, UI_DEV_SETUP, &setup) >= 0 &&
           IoIoctlInt(t, UI_DEV_CREATE, 0) >= 0;
  }();
  if (!ok) {
    InputIo().Close(t);
    return -1;
  }
  return t;
}

// Opens one event device. Null with notInteresting clear when it cannot be
// opened (it is tried again on its next change); null with notInteresting set
// for devices the capture leaves alone for good.
std::unique_ptr<Device> OpenDevice(const std::string& path, bool& notInteresting) {
  notInteresting = false;
  int fd = InputIo().Open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fd = InputIo().Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  Caps c;
  QueryCaps(fd, c);
  bool hasUsefulKey = false;
  for (int code = 1; code <= 766 && !hasUsefulKey; ++code)
    hasUsefulKey = c.key.Test(code) && EvdevToVk(code) != 0;
  for (int code = BTN_LEFT; code <= BTN_TASK && !hasUsefulKey; ++code) hasUsefulKey = c.key.Test(code);
  if (IsOwnPhys(c.phys) || !c.ev.Test(EV_KEY) || !hasUsefulKey) {
    InputIo().Close(fd);
    notInteresting = true;
    return nullptr;
  }
  auto d = std::make_unique<Device>();
  d->path = path;
  d->fd = fd;
  d->hiResWheel = c.rel.Test(REL_WHEEL_HI_RES);
  d->hiResHWheel = c.rel.Test(REL_HWHEEL_HI_RES);
  // Touchpads, touch screens, tablets, joysticks, game pads and force-feedback
  // devices are only listened to, never grabbed. Keyboards and receivers whose
  // HID descriptors list more absolute usages than there are named axes get
  // the spare codes from ABS_MISC upward, through the multitouch range; that
  // run includes ABS_MT_SLOT - 1, which no real multitouch device has, so
  // such a device is judged by its keys and buttons like any other.
  const bool spareAxes = c.abs.Test(ABS_MT_SLOT - 1);
  const bool multitouch = c.abs.Test(ABS_MT_POSITION_X) && !spareAxes;
  const bool listenOnly = multitouch || c.key.Test(BTN_TOUCH) ||
                          c.key.Test(BTN_TOOL_FINGER) || c.key.Test(BTN_TOOL_PEN) || c.key.Test(BTN_STYLUS) ||
                          c.key.Test(BTN_JOYSTICK) || c.key.Test(BTN_GAMEPAD) ||
                          c.props.Test(INPUT_PROP_DIRECT) || c.props.Test(INPUT_PROP_BUTTONPAD) ||
                          c.ev.Test(EV_FF);
  if (listenOnly) return d;
  d->twinFd = CreateTwin(fd, c);
  d->wantsGrab = d->twinFd >= 0;
  d->grabNotBefore = SteadyNowNs() + kGrabDelayNs;
  return d;
}

void Ungrab(Device& d) {
  {
    std::lock_guard<std::mutex> lock(g_GrabMutex);
    g_GrabbedFds.erase(std::remove(g_GrabbedFds.begin(), g_GrabbedFds.end(), d.fd), g_GrabbedFds.end());
    IoIoctlInt(d.fd, EVIOCGRAB, 0);
  }
  d.grabbed = false;
}

void CloseDevice(Device& d) {
  if (d.fd < 0) return;
  // Keys and buttons the hooks swallowed and that are still down will never
  // send their release from here: hand the hooks one, so nothing that runs
  // while such a key is held (hold to run, turbo) goes on without it.
  if (d.swallowedDown.any()) {
    const InputCallouts& hooks = Callouts();
    for (int code = 0; code < kCodes; ++code) {
      if (!d.swallowedDown.test(code)) continue;
      if (code >= BTN_LEFT && code <= BTN_BACK)
        hooks.tapMouseButton(ButtonVkOfCode(code), false);
      else if (const int vk = EvdevToVk(code))
        hooks.tapKey(vk, false);
    }
    d.swallowedDown.reset();
  }
  if (d.grabbed) Ungrab(d);
  if (d.twinFd >= 0) {
    // Nothing may stay held on the desktop once the twin is gone.
    std::vector<input_event> rel;
    for (int code = 0; code < kCodes; ++code)
      if (d.down.test(code)) rel.push_back(Event(EV_KEY, code, 0));
    if (!rel.empty()) {
      rel.push_back(Event(EV_SYN, SYN_REPORT, 0));
      WriteEvents(d.twinFd, rel.data(), rel.size());
    }
    d.down.reset();
    DestroyTwin(d);
  }
  InputIo().Close(d.fd);
  d.fd = -1;
  d.closedPath = std::move(d.path);
  d.path.clear();
}

// Returns true while the device still waits for its grab.
bool TryGrab(Device& d, int64_t now) {
  if (now < d.grabNotBefore) return true;
  Bits<kCodes> keys;
  if (!ReadKeyState(d.fd, keys) || keys.Any()) return true;
  {
    std::lock_guard<std::mutex> lock(g_GrabMutex);
    if (IoIoctlInt(d.fd, EVIOCGRAB, 1) < 0) {
      std::fprintf(stderr, "PMR input: %s is taken by another program; its hotkeys will not be swallowed\n",
                   d.path.c_str());
      DestroyTwin(d);
      d.wantsGrab = false;
      return false;
    }
    g_GrabbedFds.push_back(d.fd);
  }
  d.grabbed = true;
  // A key pressed between the check and the grab would have its release
  // reach only us: give the grab back until everything is up.
  if (!ReadKeyState(d.fd, keys) || keys.Any()) {
    Ungrab(d);
    return true;
  }
  return false;
}

class Capture {
 public:
  void Run();

 private:
  void CloseAll();
  void Scan();
  void OpenPath(const std::string& path);
  bool IsOpen(const std::string& path) const;
  void DrainInotify();
  void ReadTwin(Device& d);
  void ReadDevice(Device& d);
  void HandleEvent(Device& d, const input_event& ev);
  void Resync(Device& d);
  void HandleFrame(Device& d, const input_event& syn);

  std::vector<std::unique_ptr<Device>> devices_;
  std::set<std::string> ignored_;
  bool scanned_ = false;
  int inotify_ = -1;
  std::vector<input_event> out_;    // reused for every frame
  std::vector<pollfd> pollFds_;     // reused for every poll
};

void Capture::CloseAll() {
  for (auto& d : devices_) CloseDevice(*d);
  devices_.clear();
  ignored_.clear();
}

bool Capture::IsOpen(const std::string& path) const {
  for (const auto& d : devices_)
    if (d->path == path) return true;
  return false;
}

void Capture::OpenPath(const std::string& path) {
  if (ignored_.count(path) || IsOpen(path)) return;
  bool notInteresting = false;
  std::unique_ptr<Device> d = OpenDevice(path, notInteresting);
  if (d) {
    devices_.push_back(std::move(d));
  } else if (notInteresting) {
    ignored_.insert(path);
  }
}

void Capture::Scan() {
  std::vector<std::string> names;
  if (InputIo().ListDir("/dev/input", names)) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const std::string& name : names)
      if (name.rfind("event", 0) == 0) OpenPath("/dev/input/" + name);
  }
  scanned_ = true;
}

void Capture::DrainInotify() {
  alignas(inotify_event) char buf[4096];
  for (;;) {
    ssize_t n = InputIo().Read(inotify_, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
      off += sizeof(inotify_event) + e->len;
      if (e->mask & IN_Q_OVERFLOW) {
        Scan();  // names were lost: look at the whole directory again
        continue;
      }
      if (e->len == 0 || off > n) continue;
      std::string name(e->name, strnlen(e->name, e->len));
      if (name.rfind("event", 0) != 0) continue;
      std::string path = "/dev/input/" + name;
      if (e->mask & IN_DELETE) {
        ignored_.erase(path);
      } else {
        OpenPath(path);
      }
    }
  }
}

void Capture::ReadTwin(Device& d) {
  input_event evs[16];
  ssize_t n = InputIo().Read(d.twinFd, evs, sizeof evs);
  if (n <= 0) return;
  for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof(input_event)); ++i) {
    if (evs[i].type != EV_LED) continue;
    // Lights the desktop sets on the twin belong on the real keyboard.
    input_event led[2] = {Event(EV_LED, evs[i].code, evs[i].value), Event(EV_SYN, SYN_REPORT, 0)};
    WriteEvents(d.fd, led, 2);
  }
}

void Capture::ReadDevice(Device& d) {
  input_event evs[kReadBatch];
  // A device that floods gets a few batches per pass, then the others have
  // their turn: a hotkey on the keyboard still works while the mouse floods.
  for (int batch = 0; batch < kBatchesPerPass; ++batch) {
    OsRealtimeBudgetCheck();
    ssize_t n = InputIo().Read(d.fd, evs, sizeof evs);
    if (n < 0) {
      if (errno != EAGAIN && errno != EINTR) CloseDevice(d);
      return;
    }
    if (n == 0) {
      CloseDevice(d);
      return;
    }
    const size_t count = static_cast<size_t>(n) / sizeof(input_event);
    for (size_t i = 0; i < count && d.fd >= 0; ++i) HandleEvent(d, evs[i]);
    if (count < kReadBatch || d.fd < 0) return;
  }
}

void Capture::HandleEvent(Device& d, const input_event& ev) {
  if (ev.type == EV_SYN && ev.code == SYN_DROPPED) {
    d.dropped = true;
    d.pending.clear();
    return;
  }
  if (d.dropped) {
    if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
      d.dropped = false;
      Resync(d);
    }
    return;
  }
  if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
    HandleFrame(d, ev);
    d.pending.clear();
    return;
  }
  d.pending.push_back(ev);
}

// After lost events: bring what the desktop holds in line with the device.
void Capture::Resync(Device& d) {
  Bits<kCodes> keys;
  if (!ReadKeyState(d.fd, keys)) return;
  d.pending.clear();
  for (int code = 0; code < kCodes; ++code)
    if (keys.Test(code) != (d.down.test(code) || d.swallowedDown.test(code)))
      d.pending.push_back(Event(EV_KEY, code, keys.Test(code) ? 1 : 0));
  if (!d.pending.empty()) {
    HandleFrame(d, input_event{});
    d.pending.clear();
  }
}

void Capture::HandleFrame(Device& d, const input_event& syn) {
  const InputCallouts& hooks = Callouts();
  const bool forward = d.grabbed && d.twinFd >= 0 && !g_GrabBroken.load();
  out_.clear();
  const int64_t frameNs = SteadyNowNs();
  g_BusySinceNs.store(frameNs);
  // Both sides use sequentially consistent order: either the watchdog sees
  // this frame's start before it sleeps, or this frame sees it asleep.
  if (g_DogIdle.load() && g_DogIdle.exchange(false)) {
    const uint64_t one = 1;
    (void)!::write(g_DogFd, &one, sizeof one);
  }
  SetInputEventTimeNs(frameNs);
  bool swallowed = false, moved = false;
  long dx = 0, dy = 0;
  int hiRes = 0, notches = 0, hHiRes = 0, hNotches = 0;
  for (const input_event& ev : d.pending) {
    if (ev.type == EV_KEY) {
      const int code = ev.code;
      bool swallow = false;
      if (code >= BTN_LEFT && code <= BTN_BACK) {
        if (ev.value == 2) continue;
        // Decided without the pointer position; where the button went reaches
        // the hooks through the position thread when a recording or a pick
        // uses it, so the frame never waits for the shell.
        const int vkButton = ButtonVkOfCode(code);
        const int tap = hooks.tapMouseButton(vkButton, ev.value != 0);
        if (tap & kButtonTapPlaceMask) MotionPositionsDeliverButton(frameNs, vkButton, ev.value != 0, tap);
        swallow = (tap & kButtonTapSwallow) != 0;
      } else if (const int vk = EvdevToVk(code)) {
        swallow = hooks.tapKey(vk, ev.value != 0);
      }
      // A release whose press reached the desktop is always let through:
      // several codes share one VK code (Enter and keypad Enter, SysRq and
      // Print, the two pairs of side buttons), so a swallow mark set by one of
      // them must not keep the other held on the desktop.
      if (swallow && ev.value == 0 && code < kCodes && d.down.test(code)) swallow = false;
      if (code < kCodes && ev.value != 2) d.swallowedDown.set(code, swallow && ev.value != 0);
      if (swallow) {
        swallowed = true;
        continue;
      }
      if (ev.value == 2) continue;  // the twin repeats by itself
      if (code >= kCodes) continue;
      d.down.set(code, ev.value != 0);
      out_.push_back(ev);
    } else if (ev.type == EV_REL) {
      switch (ev.code) {
        case REL_X: dx += ev.value; moved = true; break;
        case REL_Y: dy += ev.value; moved = true; break;
        case REL_WHEEL_HI_RES: hiRes += ev.value; break;
        case REL_WHEEL: notches += ev.value; break;
        case REL_HWHEEL_HI_RES: hHiRes += ev.value; break;
        case REL_HWHEEL: hNotches += ev.value; break;
        default: break;
      }
      out_.push_back(ev);
    } else if (ev.type == EV_ABS) {
      if (ev.code == ABS_X || ev.code == ABS_Y) moved = true;
      out_.push_back(ev);
    } else {
      out_.push_back(ev);
    }
  }
  if (forward) {
    if (swallowed)
      out_.erase(std::remove_if(out_.begin(), out_.end(),
                                [](const input_event& e) { return e.type == EV_MSC && e.code == MSC_SCAN; }),
                 out_.end());
    if (!out_.empty()) {
      out_.push_back(syn);
      WriteEvents(d.twinFd, out_.data(), out_.size());
    }
  }
  if (moved) {
    // Recorded absolute movement needs the position after it: the position
    // thread asks for it, so no frame behind this one waits for the shell.
    MotionPositionsDeliver(frameNs, InstalledHooks().wantsMovePosition(), false, 0, 0, dx, dy);
  }
  hooks.tapScroll(d.hiResWheel ? hiRes : notches * 120);
  const int hWheel = d.hiResHWheel ? hHiRes : hNotches * 120;
  if (hWheel != 0)
    if (void (*tapH)(int) = InstalledHooks().tapHScroll) tapH(hWheel);
  // Only now: the movement and wheel hooks may wait for the profile lock, so
  // the watchdog must see those waits as well.
  SetInputEventTimeNs(0);
  g_BusySinceNs.store(0);
}

void Capture::Run() {
  inotify_ = InputIo().InotifyInit(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ >= 0 && InputIo().InotifyAddWatch(inotify_, "/dev/input", kWatchMask) < 0) {
    InputIo().Close(inotify_);
    inotify_ = -1;
  }
  while (!g_StopTap.load()) {
    OsRealtimeBudgetCheck();
    const bool usable = g_SessionUsable.load();
    if (g_GrabBroken.exchange(false)) {
      // The watchdog let go of everything: start afresh.
      CloseAll();
      scanned_ = false;
      if (usable) Scan();
    } else if (usable && !scanned_) {
      Scan();
    }
    if (!usable && scanned_) {
      // While the session is locked nothing is read or grabbed, and the twins
      // are gone, so the lock screen sees the real devices.
      CloseAll();
      scanned_ = false;
    }
    bool waiting = false;
    const int64_t now = SteadyNowNs();
    for (auto& d : devices_)
      if (d->wantsGrab && !d->grabbed && TryGrab(*d, now)) waiting = true;

    pollFds_.clear();
    pollFds_.push_back({g_WakeFd, POLLIN, 0});
    pollFds_.push_back({scanned_ ? inotify_ : -1, POLLIN, 0});
    for (auto& d : devices_) {
      pollFds_.push_back({d->fd, POLLIN, 0});
      pollFds_.push_back({d->twinFd, POLLIN, 0});
    }
    const int timeout = waiting ? 50 : OsRealtimeBudgetDemoted() ? kDemotedPollMs : -1;
    int r = InputIo().Poll(pollFds_.data(), pollFds_.size(), timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (pollFds_[0].revents & POLLIN) {
      uint64_t v;
      (void)InputIo().Read(g_WakeFd, &v, sizeof v);
    }
    if (scanned_ && inotify_ >= 0 && (pollFds_[1].revents & POLLIN)) DrainInotify();
    // DrainInotify may have added devices; only the polled ones are looked at.
    const size_t polled = (pollFds_.size() - 2) / 2;
    std::vector<std::string> lost;
    for (size_t i = 0; i < polled && i < devices_.size(); ++i) {
      Device& d = *devices_[i];
      const short tr = pollFds_[3 + 2 * i].revents;
      const short dr = pollFds_[2 + 2 * i].revents;
      if (d.twinFd >= 0 && (tr & POLLIN)) ReadTwin(d);
      if (d.fd >= 0 && (dr & POLLIN)) ReadDevice(d);
      if (d.fd >= 0 && (dr & (POLLERR | POLLHUP | POLLNVAL))) CloseDevice(d);
      if (d.fd < 0) lost.push_back(d.closedPath);
    }
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(), [](const auto& d) { return d->path.empty(); }),
                   devices_.end());
    // A node can vanish and a new one take its name between two passes; the
    // new one's IN_CREATE was then taken for the old, still open device.
    for (const std::string& path : lost)
      if (scanned_) OpenPath(path);
  }
  CloseAll();
  if (inotify_ >= 0) InputIo().Close(inotify_);
  inotify_ = -1;
}

void CaptureThread() {
  pthread_setname_np(pthread_self(), "PMR input tap");
  // Every key of the desktop waits for this thread, so it runs real-time where
  // it may. A device flooding events keeps it from ever blocking: its budget
  // (the checks in the loop) steps it down before the kernel would end the
  // process, and the watchdog above it still runs on time.
  OsMakeThreadTimeCritical(kTimingPriorityCapture);
  Capture capture;
  capture.Run();
}

// Sleeps until a frame is being handled, then checks it every 250 ms until
// none is, so a quiet desktop never wakes it.
void WatchdogIdleWait() {
  g_DogIdle.store(true);
  if (g_BusySinceNs.load() == 0 && !g_StopTap.load()) {
    pollfd p{g_DogFd, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
  }
  g_DogIdle.store(false);
  uint64_t v;
  (void)!::read(g_DogFd, &v, sizeof v);
}

void WatchdogThread() {
  pthread_setname_np(pthread_self(), "PMR input dog");
  OsMakeThreadTimeCritical(kTimingPriorityWatchdog);
  while (!g_StopTap.load()) {
    if (g_BusySinceNs.load() == 0) {
      WatchdogIdleWait();
      continue;
    }
    timespec ts{0, 250'000'000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    const int64_t busy = g_BusySinceNs.load();
    if (busy != 0 && SteadyNowNs() - busy > 999'999'999 && !g_GrabBroken.load()) {
      std::lock_guard<std::mutex> lock(g_GrabMutex);
      for (int fd : g_GrabbedFds) IoIoctlInt(fd, EVIOCGRAB, 0);
      g_GrabbedFds.clear();
      g_GrabBroken.store(true);
      std::fprintf(stderr, "PMR input: the input thread stalled; keyboard and mouse released\n");
    }
  }
}

void Wake() {
  if (g_WakeFd < 0) return;
  const uint64_t one = 1;
  (void)!::write(g_WakeFd, &one, sizeof one);
}

}  // namespace

bool OsStartInputTap() {
  std::lock_guard<std::mutex> lifecycle(g_TapLifecycleMutex);
  if (g_TapRunning.load()) return true;
  if (!EnsureInjectDevice()) return false;
  if (!OsListenEventAllowed()) return false;
  if (g_WakeFd < 0) {
    g_WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (g_WakeFd < 0) return false;
  }
  if (g_DogFd < 0) {
    g_DogFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (g_DogFd < 0) return false;
  }
  g_StopTap.store(false);
  g_TapRunning.store(true);
  MotionPositionsStart();
  g_TapThread = std::thread(CaptureThread);
  g_WatchdogThread = std::thread(WatchdogThread);
  return true;
}

void OsStopInputTap() {
  std::lock_guard<std::mutex> lifecycle(g_TapLifecycleMutex);
  if (!g_TapRunning.exchange(false)) return;
  g_StopTap.store(true);
  Wake();
  const uint64_t one = 1;
  (void)!::write(g_DogFd, &one, sizeof one);
  if (g_TapThread.joinable()) g_TapThread.join();
  if (g_WatchdogThread.joinable()) g_WatchdogThread.join();
  MotionPositionsStop();
}

bool OsListenEventAllowed() {
  std::vector<std::string> names;
  if (!InputIo().ListDir("/dev/input", names)) return false;
  for (const std::string& name : names) {
    if (name.rfind("event", 0) != 0) continue;
    const std::string path = "/dev/input/" + name;
    int fd = InputIo().Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    Bits<EV_CNT> ev;
    Bits<kCodes> keys;
    IoIoctl(fd, EVIOCGBIT(0, sizeof ev.bytes), ev.bytes);
    IoIoctl(fd, EVIOCGBIT(EV_KEY, sizeof keys.bytes), keys.bytes);
    const std::string phys = QueryPhys(fd);
    InputIo().Close(fd);
    if (!IsOwnPhys(phys) && ev.Test(EV_KEY) && keys.Test(KEY_A)) return true;
  }
  return false;
}

int OsInputDeviceCount() {
  std::vector<std::string> names;
  if (!InputIo().ListDir("/dev/input", names)) return 0;
  int count = 0;
  for (const std::string& name : names) {
    if (name.rfind("event", 0) != 0) continue;
    const std::string path = "/dev/input/" + name;
    int fd = InputIo().Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      ++count;  // there, but not readable: access is what is missing
      continue;
    }
    const std::string phys = QueryPhys(fd);
    InputIo().Close(fd);
    if (!IsOwnPhys(phys)) ++count;
  }
  return count;
}

void LinuxInputSetSessionUsable(bool usable) {
  if (g_SessionUsable.exchange(usable) != usable) Wake();
}

void OsInputTapOnSessionLocked() { InstalledHooks().sessionLocked(); }
