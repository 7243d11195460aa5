// The simulated kernel against the kernel's documented evdev/uinput rules,
// the evemu fixtures and the control socket.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include <gtest/gtest.h>

#include "tests/sim/sim_control.h"
#include "tests/sim/sim_io.h"
#include "tests/sim/sim_server.h"

using namespace pmrsim;

namespace {

std::vector<input_event> ReadAll(Kernel& k, int fd) {
  std::vector<input_event> out;
  input_event buf[64];
  for (;;) {
    ssize_t n = k.Read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n / sizeof(input_event));
  }
  return out;
}

short Revents(int fd, int timeoutMs = 0) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 ? p.revents : 0;
}

std::vector<std::tuple<int, int, int>> Triples(const std::vector<input_event>& evs) {
  std::vector<std::tuple<int, int, int>> t;
  for (const auto& e : evs) t.emplace_back(e.type, e.code, e.value);
  return t;
}

std::vector<std::tuple<int, int, int>> Triples(const std::vector<SeenEvent>& evs) {
  std::vector<std::tuple<int, int, int>> t;
  for (const auto& e : evs) t.emplace_back(e.ev.type, e.ev.code, e.ev.value);
  return t;
}

int UinputDevice(Kernel& k, const char* phys, std::initializer_list<int> keys, bool leds = false) {
  int fd = k.Open("/dev/uinput", O_RDWR | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  k.Ioctl(fd, UI_SET_EVBIT, EV_KEY);
  for (int c : keys) k.Ioctl(fd, UI_SET_KEYBIT, c);
  if (leds) {
    k.Ioctl(fd, UI_SET_EVBIT, EV_LED);
    k.Ioctl(fd, UI_SET_LEDBIT, LED_CAPSL);
  }
  k.Ioctl(fd, UI_SET_PHYS, reinterpret_cast<unsigned long>(phys));
  uinput_setup s{};
  std::strcpy(s.name, "test uinput");
  s.id.bustype = BUS_VIRTUAL;
  EXPECT_EQ(k.Ioctl(fd, UI_DEV_SETUP, reinterpret_cast<unsigned long>(&s)), 0);
  EXPECT_EQ(k.Ioctl(fd, UI_DEV_CREATE, 0), 0);
  return fd;
}

}  // namespace

// Every fixture parses, with the quirks its README lists.
TEST(Evemu, FixturesParseWithTheirQuirks) {
  struct Case {
    const char* file;
    int events;
    int bus;
    bool hasKeyA;
    int firstAbs;  // an axis that must be present, -1 none
  };
  const Case cases[] = {
      {"input/keyboard-usb-lenovo-compact.evemu", 9, 0x03, true, -1},
      {"input/keyboard-with-pointer-logitech-k400plus.evemu", 15, 0x03, true, ABS_VOLUME},
      {"input/mouse-bt-logitech-ultrathin.evemu", 502, 0x05, true, ABS_MISC},
      {"input/touchpad-cypress-mt-buttonpad.evemu", 278, 0x11, false, ABS_MT_POSITION_X},
      {"input/touchscreen-ep0430m09-direct.evemu", 58, 0x18, false, ABS_MT_POSITION_X},
      {"input/tablet-pen-wacom-cintiq13hd.evemu", 425, 0x03, false, ABS_TILT_X},
      {"input/gamepad-ff-madcatz-xbox360.evemu", 399, 0x03, false, ABS_HAT0X},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    DeviceDesc d;
    std::string err;
    ASSERT_TRUE(LoadEvemu(FixturePath(c.file), d, &err)) << err;
    EXPECT_FALSE(d.name.empty());
    EXPECT_TRUE(d.phys.empty());  // recordings carry no phys
    EXPECT_EQ(static_cast<int>(d.events.size()), c.events);
    EXPECT_EQ(d.id.bustype, c.bus);
    EXPECT_EQ(d.key.test(KEY_A), c.hasKeyA);
    if (c.firstAbs >= 0) {
      EXPECT_TRUE(d.abs.test(c.firstAbs));
    }
    // Times are relative to the first event, whatever the recording used.
    EXPECT_EQ(d.events.front().input_event_sec, 0);
    for (size_t i = 1; i < d.events.size(); ++i) {
      long long a = d.events[i - 1].input_event_sec * 1000000LL + d.events[i - 1].input_event_usec;
      long long b = d.events[i].input_event_sec * 1000000LL + d.events[i].input_event_usec;
      EXPECT_LE(a, b);
    }
  }
}

TEST(Evemu, DetailsOfTheFormat) {
  DeviceDesc d;
  ASSERT_TRUE(LoadEvemu(FixturePath("input/gamepad-ff-madcatz-xbox360.evemu"), d));
  EXPECT_EQ(d.absinfo[ABS_HAT0X].minimum, -1);  // "-1" and the like
  EXPECT_EQ(d.absinfo[ABS_X].minimum, -32768);
  EXPECT_EQ(d.absinfo[ABS_X].fuzz, 16);
  EXPECT_EQ(d.absinfo[ABS_X].flat, 128);
  EXPECT_TRUE(d.ev.test(EV_FF));
  EXPECT_TRUE(d.key.test(BTN_GAMEPAD));
  bool negative = false;
  for (const auto& e : d.events) negative |= e.type == EV_ABS && e.value < 0;
  EXPECT_TRUE(negative);  // "-001"-style values
  DeviceDesc t;
  ASSERT_TRUE(LoadEvemu(FixturePath("input/touchpad-cypress-mt-buttonpad.evemu"), t));
  EXPECT_TRUE(t.props.test(INPUT_PROP_BUTTONPAD));
  EXPECT_TRUE(t.props.test(INPUT_PROP_SEMI_MT));
  EXPECT_EQ(t.absinfo[ABS_X].resolution, 16);
  DeviceDesc k;
  ASSERT_TRUE(LoadEvemu(FixturePath("input/keyboard-usb-lenovo-compact.evemu"), k));
  EXPECT_TRUE(k.ev.test(EV_REP));
  EXPECT_TRUE(k.ev.test(EV_LED));
  EXPECT_TRUE(k.msc.test(MSC_SCAN));
  EXPECT_FALSE(k.ev.test(EV_ABS));

  // EVEMU 1.1 axis lines have no resolution; broken lines are refused.
  DeviceDesc old;
  ASSERT_TRUE(ParseEvemu("# EVEMU 1.1\nN: Old\nI: 0003 0001 0002 0003\nB: 03 01 00 00 00 00 00 00 00\n"
                         "A: 00 -001 100 2 3\nE: 1000.000100 0003 0000 -005\nE: 1000.000300 0000 0000 0000\n",
                         old));
  EXPECT_EQ(old.absinfo[ABS_X].minimum, -1);
  EXPECT_EQ(old.absinfo[ABS_X].resolution, 0);
  EXPECT_EQ(old.events[0].value, -5);
  EXPECT_EQ(old.events[1].input_event_usec, 200);
  std::string err;
  EXPECT_FALSE(ParseEvemu("I: 0003 0001 0002 0003\n", old, &err));
  EXPECT_FALSE(ParseEvemu("N: x\nE: zz 0001 0002 1\n", old, &err));
  EXPECT_FALSE(ParseEvemu("N: x\nA: 99 0 1 0 0\n", old, &err));
}

// The kernel's rules for hi-res wheels: 120 units per notch, REL_WHEEL
// whenever a whole notch has accumulated.
TEST(Evemu, HiResWheelFrames) {
  HiResWheel w{4};  // 4 reports per notch
  int hires = 0, notches = 0;
  for (int i = 0; i < 8; ++i) {
    for (const auto& e : w.Frame(1)) {
      if (e.code == REL_WHEEL_HI_RES && e.type == EV_REL) hires += e.value;
      if (e.code == REL_WHEEL && e.type == EV_REL) notches += e.value;
    }
  }
  EXPECT_EQ(hires, 240);
  EXPECT_EQ(notches, 2);
  HiResWheel plain{1};
  auto f = plain.Frame(-1);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(Triples(f)[0], std::make_tuple(EV_REL, REL_WHEEL, -1));
  EXPECT_EQ(Triples(f)[1], std::make_tuple(EV_REL, REL_WHEEL_HI_RES, -120));
}

TEST(SimKernel, QueriesAnswerLikeEvdev) {
  Kernel k;
  DeviceDesc d = Fixture("input/keyboard-with-pointer-logitech-k400plus.evemu", "usb-1/input0");
  std::string node = k.AddDevice(d);
  EXPECT_EQ(node, "event0");
  EXPECT_EQ(k.AddDevice(BasicMouse()), "event1");
  int fd = k.Open(("/dev/input/" + node).c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  char name[8];
  EXPECT_EQ(k.Ioctl(fd, EVIOCGNAME(sizeof name), reinterpret_cast<unsigned long>(name)), 8);
  EXPECT_EQ(std::string(name, 8), "Logitech");  // truncated, not terminated, as the kernel does
  char phys[64] = {};
  EXPECT_EQ(k.Ioctl(fd, EVIOCGPHYS(sizeof phys), reinterpret_cast<unsigned long>(phys)), 13);
  EXPECT_STREQ(phys, "usb-1/input0");
  unsigned char keys[KEY_CNT / 8] = {};
  EXPECT_EQ(k.Ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), reinterpret_cast<unsigned long>(keys)), 96);
  EXPECT_TRUE(keys[KEY_A / 8] & (1 << (KEY_A % 8)));
  input_absinfo a{};
  EXPECT_EQ(k.Ioctl(fd, EVIOCGABS(ABS_VOLUME), reinterpret_cast<unsigned long>(&a)), 0);
  EXPECT_EQ(a.maximum, 652);
  EXPECT_EQ(k.Ioctl(fd, EVIOCGABS(ABS_X), reinterpret_cast<unsigned long>(&a)), -1);
  input_id id{};
  EXPECT_EQ(k.Ioctl(fd, EVIOCGID, reinterpret_cast<unsigned long>(&id)), 0);
  EXPECT_EQ(id.vendor, 0x046d);
  k.Close(fd);
  // No phys: ENOENT.
  int mfd = k.Open("/dev/input/event1", O_RDONLY);
  EXPECT_EQ(k.Ioctl(mfd, EVIOCGPHYS(sizeof phys), reinterpret_cast<unsigned long>(phys)), -1);
  EXPECT_EQ(errno, ENOENT);
  k.Close(mfd);
  EXPECT_EQ(k.Open("/dev/input/event9", O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
}

// A grab belongs to a descriptor: only it receives events; a second grab is
// refused; the desktop sees nothing while the node is grabbed.
TEST(SimKernel, GrabRules) {
  Kernel k;
  std::string node = k.AddDevice(BasicKeyboard());
  std::string path = "/dev/input/" + node;
  int a = k.Open(path.c_str(), O_RDWR | O_NONBLOCK);
  int b = k.Open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_EQ(k.Ioctl(a, EVIOCGRAB, 1), 0);
  EXPECT_EQ(k.Ioctl(b, EVIOCGRAB, 1), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(k.Ioctl(a, EVIOCGRAB, 1), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(k.Ioctl(b, EVIOCGRAB, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  k.Emit(node, KeyFrame(KEY_A, 1));
  EXPECT_EQ(ReadAll(k, a).size(), 2u);
  EXPECT_TRUE(ReadAll(k, b).empty());
  EXPECT_TRUE(k.Desktop().empty());
  // Key state follows the device regardless of grabs.
  unsigned char keys[KEY_CNT / 8] = {};
  k.Ioctl(b, EVIOCGKEY(sizeof keys), reinterpret_cast<unsigned long>(keys));
  EXPECT_TRUE(keys[KEY_A / 8] & (1 << (KEY_A % 8)));
  // Closing the grabbing descriptor ends the grab.
  k.Close(a);
  k.Emit(node, KeyFrame(KEY_A, 0));
  EXPECT_EQ(ReadAll(k, b).size(), 2u);
  EXPECT_EQ(k.Desktop().size(), 2u);
  EXPECT_TRUE(k.GrabByOther(node, true));
  EXPECT_EQ(k.Ioctl(b, EVIOCGRAB, 1), -1);
  EXPECT_EQ(errno, EBUSY);
  k.Emit(node, KeyFrame(KEY_B, 1));
  EXPECT_TRUE(ReadAll(k, b).empty());
  EXPECT_EQ(k.Desktop().size(), 2u);
  k.Close(b);
}

// A grab counts as checked once its holder has read the key state after
// grabbing: a read by another descriptor or before the grab does not count,
// and a new grab starts unchecked again.
TEST(SimKernel, GrabIsCheckedOnlyByTheHoldersKeyStateRead) {
  Kernel k;
  std::string node = k.AddDevice(BasicKeyboard());
  std::string path = "/dev/input/" + node;
  int a = k.Open(path.c_str(), O_RDWR | O_NONBLOCK);
  int b = k.Open(path.c_str(), O_RDONLY | O_NONBLOCK);
  unsigned char keys[KEY_CNT / 8] = {};
  auto readKeys = [&](int fd) { k.Ioctl(fd, EVIOCGKEY(sizeof keys), reinterpret_cast<unsigned long>(keys)); };
  auto checked = [&] { return k.Node(node)->grabChecked; };
  readKeys(a);
  ASSERT_EQ(k.Ioctl(a, EVIOCGRAB, 1), 0);
  EXPECT_TRUE(k.Node(node)->grabbed);
  EXPECT_FALSE(checked()) << "read before the grab";
  readKeys(b);
  EXPECT_FALSE(checked()) << "read by another descriptor";
  readKeys(a);
  EXPECT_TRUE(checked());
  ASSERT_EQ(k.Ioctl(a, EVIOCGRAB, 0), 0);
  EXPECT_FALSE(checked());
  ASSERT_EQ(k.Ioctl(a, EVIOCGRAB, 1), 0);
  EXPECT_FALSE(checked()) << "a new grab is checked anew";
  readKeys(a);
  EXPECT_TRUE(checked());
  k.Close(a);
  EXPECT_FALSE(checked());
  k.Close(b);
}

// Readiness follows the queue; frames become readable whole; a reader that
// falls behind gets SYN_DROPPED; EmitLost does the same on purpose.
TEST(SimKernel, ReadinessAndOverflow) {
  Kernel k;
  std::string node = k.AddDevice(BasicKeyboard());
  int fd = k.Open(("/dev/input/" + node).c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(Revents(fd), 0);
  k.Emit(node, {Ev(EV_KEY, KEY_A, 1)});  // no SYN_REPORT yet: nothing readable
  EXPECT_EQ(Revents(fd), 0);
  k.Emit(node, {Ev(EV_SYN, SYN_REPORT, 0)});
  EXPECT_TRUE(Revents(fd) & POLLIN);
  input_event one;
  EXPECT_EQ(k.Read(fd, &one, 10), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ReadAll(k, fd).size(), 2u);
  EXPECT_EQ(Revents(fd), 0);
  EXPECT_EQ(k.Read(fd, &one, sizeof one), -1);
  EXPECT_EQ(errno, EAGAIN);
  // 64 events fit in a keyboard reader's buffer; more overflow it.
  for (int i = 0; i < 40; ++i) k.Emit(node, KeyFrame(KEY_B, i % 2));
  auto evs = ReadAll(k, fd);
  ASSERT_FALSE(evs.empty());
  EXPECT_EQ(evs[0].type, EV_SYN);
  EXPECT_EQ(evs[0].code, SYN_DROPPED);
  EXPECT_LT(evs.size(), 80u);
  k.EmitLost(node, KeyFrame(KEY_C, 1));
  evs = ReadAll(k, fd);
  ASSERT_EQ(evs.size(), 2u);
  EXPECT_EQ(evs[0].code, SYN_DROPPED);
  EXPECT_EQ(evs[1].code, SYN_REPORT);
  unsigned char keys[KEY_CNT / 8] = {};
  k.Ioctl(fd, EVIOCGKEY(sizeof keys), reinterpret_cast<unsigned long>(keys));
  EXPECT_TRUE(keys[KEY_C / 8] & (1 << (KEY_C % 8)));
  k.Close(fd);
}

TEST(SimKernel, UnplugHangsUpReaders) {
  Kernel k;
  std::string node = k.AddDevice(BasicKeyboard());
  int fd = k.Open(("/dev/input/" + node).c_str(), O_RDONLY | O_NONBLOCK);
  k.Emit(node, KeyFrame(KEY_A, 1));
  EXPECT_TRUE(k.Unplug(node));
  EXPECT_TRUE(Revents(fd) & POLLHUP);
  input_event buf[4];
  EXPECT_EQ(k.Read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(k.Ioctl(fd, EVIOCGRAB, 1), -1);
  EXPECT_EQ(errno, ENODEV);
  // The desktop saw the press and the kernel's release.
  auto seen = k.Desktop();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[2].ev.code, KEY_A);
  EXPECT_EQ(seen[2].ev.value, 0);
  EXPECT_EQ(seen[2].origin, Origin::Removal);
  EXPECT_EQ(k.Close(fd), 0);
  EXPECT_EQ(k.OpenDescriptors(), 0);
  EXPECT_EQ(k.AddDevice(BasicKeyboard()), node);  // the number is free again
}

TEST(SimKernel, UinputCreatesWritesAndDestroys) {
  Kernel k;
  int ino = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(ino, k.MapPath("/dev/input").c_str(), IN_CREATE | IN_DELETE | IN_ATTRIB), 0);
  int u = UinputDevice(k, "test-phys", {KEY_A, KEY_B}, true);
  auto info = k.NodeByPhys("test-phys");
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->fromUinput);
  EXPECT_TRUE(info->desc.ev.test(EV_SYN));
  alignas(inotify_event) char buf[4096];
  ssize_t n = read(ino, buf, sizeof buf);
  ASSERT_GT(n, 0);
  auto* e = reinterpret_cast<inotify_event*>(buf);
  EXPECT_TRUE(e->mask & IN_CREATE);
  EXPECT_EQ(std::string(e->name), info->node);
  // Setting bits after creation is refused.
  EXPECT_EQ(k.Ioctl(u, UI_SET_KEYBIT, KEY_C), -1);
  // The input core drops unsupported codes, repeated states and lone SYNs.
  std::vector<input_event> w = {Ev(EV_KEY, KEY_A, 1), Ev(EV_KEY, KEY_C, 1), Ev(EV_SYN, SYN_REPORT, 0),
                                Ev(EV_KEY, KEY_A, 1), Ev(EV_SYN, SYN_REPORT, 0), Ev(EV_KEY, KEY_B, 0),
                                Ev(EV_SYN, SYN_REPORT, 0)};
  EXPECT_EQ(k.Write(u, w.data(), w.size() * sizeof(input_event)), static_cast<ssize_t>(w.size() * sizeof(input_event)));
  auto seen = k.Desktop();
  EXPECT_EQ(Triples(seen), (std::vector<std::tuple<int, int, int>>{{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}));
  // The desktop's LED change comes back on the uinput descriptor.
  EXPECT_TRUE(k.DesktopWriteLed(info->node, LED_CAPSL, 1));
  EXPECT_TRUE(Revents(u) & POLLIN);
  input_event led[4];
  EXPECT_EQ(k.Read(u, led, sizeof led), static_cast<ssize_t>(sizeof(input_event)));
  EXPECT_EQ(led[0].type, EV_LED);
  EXPECT_EQ(led[0].code, LED_CAPSL);
  EXPECT_EQ(led[0].value, 1);
  EXPECT_FALSE(k.DesktopWriteLed(info->node, LED_NUML, 1) && (Revents(u) & POLLIN));  // unsupported LED
  // Destroying releases what is still down, then the node goes away.
  EXPECT_EQ(k.Ioctl(u, UI_DEV_DESTROY, 0), 0);
  seen = k.Desktop();
  ASSERT_GE(seen.size(), 5u);
  EXPECT_EQ(seen[seen.size() - 2].ev.code, KEY_A);
  EXPECT_EQ(seen[seen.size() - 2].ev.value, 0);
  EXPECT_EQ(seen[seen.size() - 2].origin, Origin::Removal);
  EXPECT_FALSE(k.NodeByPhys("test-phys"));
  n = read(ino, buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_TRUE(reinterpret_cast<inotify_event*>(buf)->mask & IN_DELETE);
  EXPECT_EQ(k.Write(u, w.data(), sizeof(input_event)), -1);
  k.Close(u);
  close(ino);
}

TEST(SimKernel, UinputSetupChecks) {
  Kernel k;
  struct Case {
    const char* what;
    input_absinfo abs;
    int code;
    int setupErr;
  };
  const Case cases[] = {
      {"inverted range", {0, 10, 5, 0, 0, 0}, ABS_X, EINVAL},
      {"flat wider than range", {0, 0, 10, 0, 20, 0}, ABS_X, EINVAL},
      {"too many slots", {0, 0, 255, 0, 0, 0}, ABS_MT_SLOT, EINVAL},
      {"huge range", {0, INT32_MIN, INT32_MAX, 0, 0, 0}, ABS_X, 0},
      {"code too high", {0, 0, 1, 0, 0, 0}, ABS_CNT, ERANGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int u = k.Open("/dev/uinput", O_RDWR);
    uinput_abs_setup s{};
    s.code = static_cast<__u16>(c.code);
    s.absinfo = c.abs;
    int r = k.Ioctl(u, UI_ABS_SETUP, reinterpret_cast<unsigned long>(&s));
    if (c.setupErr) {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(errno, c.setupErr);
    } else {
      EXPECT_EQ(r, 0);
    }
    k.Close(u);
  }
  // Creating needs a setup with a name first.
  int u = k.Open("/dev/uinput", O_RDWR);
  EXPECT_EQ(k.Ioctl(u, UI_DEV_CREATE, 0), -1);
  uinput_setup s{};
  EXPECT_EQ(k.Ioctl(u, UI_DEV_SETUP, reinterpret_cast<unsigned long>(&s)), -1);
  k.Close(u);
  k.FailUinputCreate([](const UinputSetupInfo& i) { return i.name == "test uinput"; });
  u = k.Open("/dev/uinput", O_RDWR);
  std::strcpy(s.name, "test uinput");
  EXPECT_EQ(k.Ioctl(u, UI_DEV_SETUP, reinterpret_cast<unsigned long>(&s)), 0);
  EXPECT_EQ(k.Ioctl(u, UI_DEV_CREATE, 0), -1);
  EXPECT_EQ(errno, ENOMEM);
  k.Close(u);
  k.SetUinputAccess(false);
  EXPECT_EQ(k.Open("/dev/uinput", O_WRONLY), -1);
  EXPECT_EQ(errno, EACCES);
}

TEST(SimKernel, AbsoluteAxesDropUnchangedValues) {
  Kernel k;
  int u = k.Open("/dev/uinput", O_RDWR);
  k.Ioctl(u, UI_SET_EVBIT, EV_ABS);
  for (int axis : {ABS_X, ABS_Y}) {
    uinput_abs_setup s{};
    s.code = static_cast<__u16>(axis);
    s.absinfo.maximum = 65535;
    k.Ioctl(u, UI_ABS_SETUP, reinterpret_cast<unsigned long>(&s));
  }
  uinput_setup s{};
  std::strcpy(s.name, "abs");
  k.Ioctl(u, UI_SET_PHYS, reinterpret_cast<unsigned long>("abs"));
  k.Ioctl(u, UI_DEV_SETUP, reinterpret_cast<unsigned long>(&s));
  ASSERT_EQ(k.Ioctl(u, UI_DEV_CREATE, 0), 0);
  std::vector<input_event> f = {Ev(EV_ABS, ABS_X, 100), Ev(EV_ABS, ABS_Y, 200), Ev(EV_SYN, SYN_REPORT, 0)};
  k.Write(u, f.data(), f.size() * sizeof(input_event));
  k.Write(u, f.data(), f.size() * sizeof(input_event));  // same spot: the kernel drops it
  EXPECT_EQ(k.Desktop().size(), 3u);
  k.Close(u);
}

TEST(SimKernel, PermissionsAndDirectoryEvents) {
  Kernel k;
  std::string node = k.AddDevice(BasicKeyboard());
  std::string path = "/dev/input/" + node;
  int ino = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(ino, k.MapPath("/dev/input").c_str(), IN_CREATE | IN_DELETE | IN_ATTRIB);
  ASSERT_TRUE(k.SetAccess(node, false, false));
  EXPECT_EQ(k.Open(path.c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, EACCES);
  ASSERT_TRUE(k.SetAccess(node, true, false));
  EXPECT_EQ(k.Open(path.c_str(), O_RDWR), -1);
  int fd = k.Open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  input_event e = Ev(EV_LED, LED_CAPSL, 1);
  EXPECT_EQ(k.Write(fd, &e, sizeof e), -1);
  EXPECT_EQ(errno, EBADF);
  k.Close(fd);
  alignas(inotify_event) char buf[4096];
  ssize_t n = read(ino, buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_TRUE(reinterpret_cast<inotify_event*>(buf)->mask & IN_ATTRIB);
  close(ino);
  // The mirror holds what a real /dev/input holds besides event nodes.
  SimDeviceIo io(k);
  std::vector<std::string> names;
  ASSERT_TRUE(io.ListDir("/dev/input", names));
  EXPECT_NE(std::find(names.begin(), names.end(), "mice"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), node), names.end());
}

TEST(SimKernel, ReadFaults) {
  Kernel k;
  std::string node = k.AddDevice(BasicKeyboard());
  int fd = k.Open(("/dev/input/" + node).c_str(), O_RDONLY | O_NONBLOCK);
  k.Emit(node, KeyFrame(KEY_A, 1));
  k.SetReadFault(node, ReadFault::OneEventPerRead);
  input_event buf[8];
  EXPECT_EQ(k.Read(fd, buf, sizeof buf), static_cast<ssize_t>(sizeof(input_event)));
  k.SetReadFault(node, ReadFault::Truncated);
  EXPECT_EQ(k.Read(fd, buf, sizeof buf), 13);
  k.SetReadFault(node, ReadFault::EagainForever);
  EXPECT_TRUE(Revents(fd) & POLLIN);
  EXPECT_EQ(k.Read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_TRUE(Revents(fd) & POLLIN);
  k.Close(fd);
}

// The control socket carries every test-side operation.
TEST(SimControlSocket, RoundTrip) {
  Kernel k;
  char dir[] = "/tmp/pmrsim-ctl-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string sock = std::string(dir) + "/s";
  SimServer server(k, sock);
  ASSERT_TRUE(server.Start());
  SimControl c;
  ASSERT_TRUE(c.Connect(sock, 2000));
  std::string kbd = c.AddEvemu(FixturePath("input/keyboard-usb-lenovo-compact.evemu"), "usb-x/input0");
  ASSERT_EQ(kbd, "event0");
  std::string mouse = c.AddMouse("usb-m/input0", "My Mouse");
  ASSERT_EQ(mouse, "event1");
  EXPECT_TRUE(c.Replay(kbd, FixturePath("input/keyboard-usb-lenovo-compact.evemu")));
  auto seen = c.Desktop();
  ASSERT_EQ(seen.size(), 9u);
  EXPECT_EQ(seen[1].ev.code, KEY_ENTER);
  EXPECT_EQ(seen[1].name, "Lenovo ThinkPad Compact USB Keyboard with TrackPoint");
  EXPECT_EQ(seen[1].phys, "usb-x/input0");
  EXPECT_EQ(c.DesktopSeq(), 9u);
  EXPECT_TRUE(c.Key(kbd, KEY_F6, 1));
  EXPECT_EQ(c.Desktop(9).size(), 2u);
  auto nodes = c.Nodes();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].keysDown, (std::vector<int>{KEY_LEFTCTRL, KEY_C, KEY_F6}));
  EXPECT_EQ(nodes[1].name, "My Mouse");
  EXPECT_EQ(nodes[0].id.vendor, 0x17ef);
  EXPECT_TRUE(c.GrabByOther(kbd, true));
  EXPECT_TRUE(c.NodeByPhys("usb-x/input0")->grabbedByOther);
  EXPECT_FALSE(c.Unplug("event7"));
  EXPECT_TRUE(c.Unplug(mouse));
  EXPECT_FALSE(c.NodeByName("My Mouse"));
  EXPECT_EQ(c.Command("bogus")[0].rfind("err", 0), 0u);
  c.Disconnect();
  server.Stop();
  rmdir(dir);
}
