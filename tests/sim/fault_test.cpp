// The reliability scenarios of the capture (no key may stay stuck on the
// desktop, the desktop never loses its keyboard for more than a second) and
// bad input from devices.
#include <gtest/gtest.h>

#include <sys/syscall.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "tests/sim/input_harness.h"
#include "app/app.h"
#include "tools/recorder.h"
#include "model/tool_state.h"

using namespace pmrsim;

namespace {

constexpr int kVkF6 = 117;
constexpr int kVkF7 = 118;

DeviceDesc Keyboard(const std::string& name, const std::string& phys) {
  DeviceDesc d = BasicKeyboard(name);
  d.phys = phys;
  return d;
}

// Keys the desktop holds down on a node, replaying what it received.
std::set<int> HeldOnDesktop(const std::vector<SeenEvent>& seen, const std::string& node) {
  std::set<int> held;
  for (const SeenEvent& s : seen) {
    if (s.node != node || s.ev.type != EV_KEY || s.ev.value == 2) continue;
    if (s.ev.value) held.insert(s.ev.code);
    else held.erase(s.ev.code);
  }
  return held;
}

// Every node the desktop saw, present or gone, holds nothing.
void ExpectNothingHeld(Kernel& k) {
  auto seen = k.Desktop();
  std::set<std::string> nodes;
  for (const auto& s : seen) nodes.insert(s.node);
  for (const auto& n : nodes) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(HeldOnDesktop(seen, n).empty());
  }
}

bool HasEvent(const std::vector<SeenEvent>& seen, const std::string& phys, int code, int value,
              Origin origin = Origin::Device) {
  for (const auto& s : seen)
    if (s.phys == phys && s.ev.type == EV_KEY && s.ev.code == code && s.ev.value == value && s.origin == origin)
      return true;
  return false;
}

// The system call the thread named `name` is blocked in, as the kernel shows
// it ("nr arg1 arg2 ..."), or empty.
std::string BlockedCallOf(const std::string& name) {
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string n;
    std::getline(comm, n);
    if (n != name) continue;
    std::ifstream call(task.path() / "syscall");
    std::string line;
    std::getline(call, line);
    return line;
  }
  return "";
}

// True while the thread waits for a descriptor with no time-out at all.
bool WaitsWithoutTimeout(const std::string& name) {
  std::istringstream in(BlockedCallOf(name));
  long nr = -1;
  std::string fds, count, timeout;
  if (!(in >> nr >> fds >> count >> timeout)) return false;
  const long long t = std::stoll(timeout, nullptr, 16);
#ifdef SYS_poll
  if (nr == SYS_poll) return static_cast<int>(t) == -1;
#endif
  return nr == SYS_ppoll && t == 0;
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

// A key held while the capture starts: no grab until it is released, and the
// release reaches the desktop from the device itself.
TEST(Fault, KeyHeldWhileCaptureStarts) {
  InputHarness h;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  h.k().Emit(kbd, KeyFrame(KEY_LEFTSHIFT, 1));
  ASSERT_TRUE(OsStartInputTap());
  h.Settle(600);
  EXPECT_FALSE(h.k().Node(kbd)->grabbed);
  ASSERT_TRUE(h.Twin("Kbd"));  // made at once, used after the grab
  h.k().Emit(kbd, KeyFrame(KEY_LEFTSHIFT, 0));
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "usb-kbd/input0", KEY_LEFTSHIFT, 0));
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  OsStopInputTap();
  ExpectNothingHeld(h.k());
}

// Unplugging a keyboard while a key is held through its twin: the twin
// releases it before it goes away (written by the capture, not left to the
// kernel's clean-up).
TEST(Fault, UnplugWhileKeyHeldThroughTwin) {
  InputHarness h;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  std::string twin = h.Twin("Kbd")->node;
  h.k().Emit(kbd, KeyFrame(KEY_W, 1));
  ASSERT_TRUE(h.WaitSeen([](const auto& seen) { return HasEvent(seen, "pmr-twin", KEY_W, 1, Origin::Write); }));
  ASSERT_TRUE(h.k().Unplug(kbd));
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return !h.Twin("Kbd"); }, 60000));
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "pmr-twin", KEY_W, 0, Origin::Write));
  ExpectNothingHeld(h.k());
  // The capture keeps nothing of the gone device: only the two injection
  // devices stay open.
  EXPECT_TRUE(h.k().WaitNodes([&](const auto&) { return h.k().OpenDescriptors() == 2; }, 60000));
}

// Events lost in a buffer overflow: the key state is read back and the
// difference written to the twin.
TEST(Fault, SynDroppedResyncsFromKeyState) {
  InputHarness h;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  h.k().Emit(kbd, KeyFrame(KEY_A, 1));
  ASSERT_TRUE(h.WaitSeen([](const auto& seen) { return HasEvent(seen, "pmr-twin", KEY_A, 1, Origin::Write); }));
  // A released and B pressed while the reader overflowed.
  h.k().EmitLost(kbd, {Ev(EV_KEY, KEY_A, 0), Ev(EV_SYN, SYN_REPORT, 0), Ev(EV_KEY, KEY_B, 1),
                       Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.WaitSeen([](const auto& seen) {
    return HasEvent(seen, "pmr-twin", KEY_A, 0, Origin::Write) && HasEvent(seen, "pmr-twin", KEY_B, 1, Origin::Write);
  }));
  h.k().Emit(kbd, KeyFrame(KEY_B, 0));
  ASSERT_TRUE(h.WaitSeen([](const auto& seen) { return HasEvent(seen, "pmr-twin", KEY_B, 0, Origin::Write); }));
  ExpectNothingHeld(h.k());
  // The hooks learnt about the lost release and press as well.
  EXPECT_EQ(h.hooks.CountKey(EvdevToVk(KEY_A), false), 1);
  EXPECT_EQ(h.hooks.CountKey(EvdevToVk(KEY_B), true), 1);
}

// A capture thread stuck in a hook for more than a second: the watchdog
// releases every grab within 1.25 s, input reaches the desktop directly, and
// the capture grabs again once it runs.
TEST(Fault, StalledCaptureThreadReleasesGrabs) {
  InputHarness h;
  h.hooks.stallVk = kVkF7;
  h.hooks.stallMs = 1700;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  DeviceDesc mouse = BasicMouse("Mouse");
  mouse.phys = "usb-mouse/input0";
  std::string ms = h.Add(mouse);
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  ASSERT_TRUE(h.WaitGrabbed(ms));
  testing::internal::CaptureStderr();
  h.k().Emit(kbd, KeyFrame(KEY_F7, 1));
  // The frame's handling begins (and stalls) when the capture thread gets to it.
  int64_t busySince = 0;
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return (busySince = g_BusySinceNs.load()) != 0; }, 60000));
  ASSERT_TRUE(h.k().WaitNodes(
      [&](const auto&) { return !h.k().Node(kbd)->grabbed && !h.k().Node(ms)->grabbed; }, 60000));
  const int64_t releasedNs = SteadyNowNs() - busySince;
  EXPECT_GE(releasedNs, 1'000'000'000);
  // 1.25 s, plus what a loaded machine may add to a sleeping thread's wake-up.
  EXPECT_LE(releasedNs, 1'250'000'000 + 200'000'000);
  // While the thread is stuck, typing reaches the desktop from the devices.
  h.k().Emit(kbd, KeyFrame(KEY_Q, 1));
  h.k().Emit(kbd, KeyFrame(KEY_Q, 0));
  h.k().Emit(ms, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0), Ev(EV_KEY, BTN_LEFT, 0),
                  Ev(EV_SYN, SYN_REPORT, 0)});
  auto seen = h.k().Desktop();
  EXPECT_TRUE(HasEvent(seen, "usb-kbd/input0", KEY_Q, 0));
  EXPECT_TRUE(HasEvent(seen, "usb-mouse/input0", BTN_LEFT, 0));
  h.k().Emit(kbd, KeyFrame(KEY_F7, 0));
  // Afterwards the devices are reopened and grabbed anew, with new twins.
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.Twin("Kbd") && h.k().Node(kbd)->grabbed; }, 60000));
  ASSERT_TRUE(h.WaitGrabbed(ms));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("PMR input: the input thread stalled; keyboard and mouse released\n"), std::string::npos) << err;
  OsStopInputTap();
  ExpectNothingHeld(h.k());
}

// A quiet desktop costs the watchdog no wake-ups: it sleeps on its descriptor
// without a time-out, wakes for the frames that arrive and sleeps again.
TEST(Fault, WatchdogSleepsWhileNothingIsHandled) {
  InputHarness h;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  const auto asleep = [] { return WaitsWithoutTimeout("PMR input dog"); };
  EXPECT_TRUE(WaitUntil(asleep, 60000)) << BlockedCallOf("PMR input dog");
  // Typing, one key at a time as a person types: each arrives on the desktop.
  for (int i = 1; i <= 5; ++i) {
    h.k().Emit(kbd, KeyFrame(KEY_Q, 1));
    h.k().Emit(kbd, KeyFrame(KEY_Q, 0));
    ASSERT_TRUE(h.k().WaitDesktop([i](const std::vector<SeenEvent>& seen) {
      int ups = 0;
      for (const auto& s : seen)
        if (s.ev.type == EV_KEY && s.ev.code == KEY_Q && s.ev.value == 0) ++ups;
      return ups == i;
    }, 60000));
  }
  EXPECT_TRUE(WaitUntil(asleep, 60000)) << BlockedCallOf("PMR input dog");
  OsStopInputTap();
  ExpectNothingHeld(h.k());
}

// Locking the session closes every device (the lock screen sees the real
// ones, injection is dropped); unlocking reopens and regrabs them.
TEST(Fault, SessionLockAndUnlock) {
  InputHarness h;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  h.k().Emit(kbd, KeyFrame(KEY_LEFTMETA, 1));  // Super+L, say, held as the session locks
  ASSERT_TRUE(h.WaitSeen([](const auto& s) { return HasEvent(s, "pmr-twin", KEY_LEFTMETA, 1, Origin::Write); }));
  LinuxInputSetSessionUsable(false);
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.k().Node(kbd)->openCount == 0 && !h.Twin("Kbd"); }, 60000));
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "pmr-twin", KEY_LEFTMETA, 0, Origin::Write));
  h.k().Emit(kbd, KeyFrame(KEY_LEFTMETA, 0));
  h.k().Emit(kbd, KeyFrame(KEY_P, 1));
  h.k().Emit(kbd, KeyFrame(KEY_P, 0));
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "usb-kbd/input0", KEY_P, 0));
  // The tools' injection is dropped while locked.
  auto inject = h.k().NodeByPhys("pmr-inject");
  ASSERT_TRUE(inject);
  OsMouseButton(0, true, 1);
  OsKeyVk(65, true);
  EXPECT_TRUE(h.k().NodeByPhys("pmr-inject")->uinputWrites.empty());
  LinuxInputSetSessionUsable(false);  // no change, no harm
  LinuxInputSetSessionUsable(true);
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  EXPECT_TRUE(h.Twin("Kbd"));
  OsMouseButton(0, true, 1);
  OsMouseButton(0, false, 1);
  EXPECT_EQ(h.k().NodeByPhys("pmr-inject")->uinputWrites.size(), 2u);
  OsStopInputTap();
  ExpectNothingHeld(h.k());
}

// A device another program holds: one message, the device is listened to
// (its hotkeys still work once it is free) but never swallowed from.
TEST(Fault, DeviceTakenByAnotherGrabber) {
  InputHarness h;
  h.hooks.swallowKeys = {kVkF6};
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  ASSERT_TRUE(h.k().GrabByOther(kbd, true));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(OsStartInputTap());
  // The twin is made, the grab refused, the twin destroyed.
  EXPECT_TRUE(h.k().WaitNodes(
      [&](const std::vector<NodeInfo>& nodes) {
        for (const auto& n : nodes)
          if (n.phys == "pmr-twin" && n.name == "Kbd" && !n.exists) return true;
        return false;
      },
      60000));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "PMR input: /dev/input/" + kbd +
                     " is taken by another program; its hotkeys will not be swallowed\n");
  EXPECT_FALSE(h.Twin("Kbd"));
  EXPECT_EQ(h.k().Node(kbd)->openCount, 1);
  h.k().GrabByOther(kbd, false);
  h.k().Emit(kbd, KeyFrame(KEY_F6, 1));
  h.k().Emit(kbd, KeyFrame(KEY_F6, 0));
  h.Settle();
  EXPECT_EQ(h.hooks.CountKey(kVkF6, true), 1);
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "usb-kbd/input0", KEY_F6, 1));
  h.Settle(200);
  EXPECT_FALSE(h.k().Node(kbd)->grabbed);  // refused once, listened to for good
}

// A twin that cannot be made: the device is listened to, silently.
TEST(Fault, TwinCreationFails) {
  InputHarness h;
  h.hooks.swallowKeys = {kVkF6};
  h.k().FailUinputCreate([](const UinputSetupInfo& i) { return i.phys == "pmr-twin"; });
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.k().Node(kbd)->openCount == 1; }, 60000));
  h.Settle(400);
  h.k().Emit(kbd, KeyFrame(KEY_F6, 1));
  h.k().Emit(kbd, KeyFrame(KEY_F6, 0));
  h.Settle();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(h.k().Node(kbd)->grabbed);
  EXPECT_EQ(h.k().Node(kbd)->openCount, 1);
  EXPECT_EQ(h.hooks.CountKey(kVkF6, true), 1);
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "usb-kbd/input0", KEY_F6, 0));
}

// Stopping while keys are held on twins releases them there first.
TEST(Fault, ShutdownWhileKeysHeldOnTwins) {
  InputHarness h;
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  DeviceDesc mouse = BasicMouse("Mouse");
  mouse.phys = "usb-mouse/input0";
  std::string ms = h.Add(mouse);
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  ASSERT_TRUE(h.WaitGrabbed(ms));
  h.k().Emit(kbd, KeyFrame(KEY_LEFTCTRL, 1));
  h.k().Emit(kbd, KeyFrame(KEY_X, 1));
  h.k().Emit(ms, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.WaitSeen([](const auto& s) {
    return HasEvent(s, "pmr-twin", KEY_X, 1, Origin::Write) && HasEvent(s, "pmr-twin", BTN_LEFT, 1, Origin::Write);
  }));
  OsStopInputTap();
  auto seen = h.k().Desktop();
  for (int code : {KEY_LEFTCTRL, KEY_X, BTN_LEFT}) EXPECT_TRUE(HasEvent(seen, "pmr-twin", code, 0, Origin::Write)) << code;
  EXPECT_FALSE(h.Twin("Kbd"));
  EXPECT_FALSE(h.Twin("Mouse"));
  EXPECT_FALSE(h.k().Node(kbd)->grabbed);
  EXPECT_EQ(h.k().Node(kbd)->openCount, 0);
  EXPECT_EQ(h.k().OpenDescriptors(), 2);  // only the injection devices stay
  ExpectNothingHeld(h.k());
}

// Several evdev codes share one VK code (Enter and keypad Enter). When the
// hooks' per-VK swallow mark set by one of them is applied to the other's
// release, the capture must still let a release through whose press the
// desktop got, or Enter would stay held (and auto-repeat) on the desktop.
TEST(Fault, SharedVkCodeCannotStickAKey) {
  InputHarness h;
  // The hooks' tables: indexed by the low 8 bits of the VK code; a press is
  // swallowed when the hotkey is live, a release when its press was.
  static bool held[256], swallowed[256], hotkeyLive;
  std::fill(std::begin(held), std::end(held), false);
  std::fill(std::begin(swallowed), std::end(swallowed), false);
  hotkeyLive = false;
  h.hooks.keyRule = [](FakeHooks&, int vk, bool down) {
    const int i = vk & 0xFF;
    if (down) {
      if (held[i]) return swallowed[i];
      held[i] = true;
      if (vk == 13 && hotkeyLive) return swallowed[i] = true;
      return false;
    }
    held[i] = false;
    if (swallowed[i]) {
      swallowed[i] = false;
      return true;
    }
    return false;
  };
  ASSERT_EQ(EvdevToVk(KEY_ENTER), 13);
  ASSERT_EQ(EvdevToVk(KEY_KPENTER), 13);
  std::string kbd = h.Add(Keyboard("Kbd", "usb-kbd/input0"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  auto step = [&](int code, int value) {
    uint64_t mark = h.k().DesktopSeq();
    h.k().Emit(kbd, KeyFrame(code, value));
    EXPECT_TRUE(h.k().WaitDrained(kbd, 3000));
    h.Settle(30);
    return mark;
  };
  step(KEY_ENTER, 1);    // forwarded
  step(KEY_KPENTER, 1);  // "already held": forwarded
  step(KEY_KPENTER, 0);  // forwarded; the hooks now think VK 13 is up
  {
    std::lock_guard<std::mutex> lock(h.hooks.mu);
    hotkeyLive = true;   // e.g. the hotkey lock was just lifted
  }
  step(KEY_KPENTER, 1);  // swallowed as the hotkey
  step(KEY_ENTER, 0);    // the hooks say "swallow": it must still go through
  step(KEY_KPENTER, 0);
  std::string twin = h.Twin("Kbd")->node;
  EXPECT_FALSE(h.k().Node(twin)->keyState.test(KEY_ENTER));
  EXPECT_TRUE(HasEvent(h.k().Desktop(), "pmr-twin", KEY_ENTER, 0, Origin::Write));
  EXPECT_TRUE(HeldOnDesktop(h.k().Desktop(), twin).empty());
}

// Devices with odd capabilities are classified without harm.
TEST(BadInput, OddCapabilities) {
  InputHarness h;
  struct Case {
    const char* what;
    DeviceDesc desc;
    bool kept;
    bool twin;
  };
  auto kb = [](const char* name) { return Keyboard(name, std::string("usb-") + name); };
  std::vector<Case> cases;
  {
    DeviceDesc d = BasicMouse("RelOnly");
    d.phys = "usb-relonly";
    d.key.reset();
    d.ev.reset(EV_KEY);
    cases.push_back({"no EV_KEY", d, false, false});
  }
  {
    DeviceDesc d = kb("MacroPad");
    d.key.reset();
    for (int c = KEY_MACRO1; c <= KEY_MACRO30; ++c) d.key.set(c);
    for (int c = BTN_TRIGGER_HAPPY1; c <= BTN_TRIGGER_HAPPY40; ++c) d.key.set(c);
    cases.push_back({"keys without VK codes only", d, false, false});
  }
  {
    DeviceDesc d = kb("HugeAbs");
    d.ev.set(EV_ABS);
    d.abs.set(ABS_X).set(ABS_MISC);
    d.absinfo[ABS_X] = {0, INT32_MIN, INT32_MAX, 0, 0, 0};
    d.absinfo[ABS_MISC] = {0, -1000000000, 2000000000, 5, 7, 1};
    cases.push_back({"huge axis ranges", d, true, true});
  }
  {
    DeviceDesc d = kb("FakeSlots");
    d.ev.set(EV_ABS);
    d.abs.set(ABS_MT_SLOT);
    d.absinfo[ABS_MT_SLOT] = {0, 0, 255, 0, 0, 0};
    cases.push_back({"fake MT slot axis the kernel refuses", d, true, false});
  }
  {
    DeviceDesc d = kb("FakeMt");
    d.ev.set(EV_ABS);
    for (int c = 0x28; c <= 0x3f; ++c) d.abs.set(c);
    // The spare axes include ABS_MT_SLOT - 1: no touch device, a keyboard.
    cases.push_back({"receiver with spare ABS 0x28-0x3f", d, true, true});
  }
  {
    DeviceDesc d = kb("");
    cases.push_back({"empty name", d, true, false});
  }
  {
    DeviceDesc d = kb(std::string(200, 'N').c_str());
    d.phys = "usb-long";
    cases.push_back({"name longer than a twin takes", d, true, true});
  }
  std::vector<std::string> nodes;
  for (auto& c : cases) nodes.push_back(h.Add(c.desc));
  ASSERT_TRUE(h.k().AddDevice(BasicKeyboard("Plain")) != "");
  ASSERT_TRUE(OsStartInputTap());
  for (size_t i = 0; i < cases.size(); ++i)
    if (cases[i].twin) {
      ASSERT_TRUE(h.WaitGrabbed(nodes[i])) << cases[i].what;
    }
  h.Settle(400);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    auto n = h.k().Node(nodes[i]);
    EXPECT_EQ(n->openCount, cases[i].kept ? 1 : 0);
    EXPECT_EQ(n->grabbed, cases[i].twin);
    if (cases[i].twin) {
      auto twin = h.Twin(cases[i].desc.name.substr(0, 79));
      ASSERT_TRUE(twin);
      for (int a = 0; a < ABS_CNT; ++a) {
        if (!cases[i].desc.abs.test(a)) continue;
        EXPECT_EQ(twin->desc.absinfo[a].minimum, cases[i].desc.absinfo[a].minimum);
        EXPECT_EQ(twin->desc.absinfo[a].maximum, cases[i].desc.absinfo[a].maximum);
        EXPECT_EQ(twin->desc.absinfo[a].resolution, cases[i].desc.absinfo[a].resolution);
      }
    }
  }
}

// Short and truncated reads, a reader that never stops saying EAGAIN, and
// codes beyond the key range: nothing crashes, other devices keep working,
// the capture stops cleanly.
TEST(BadInput, MisbehavingReadersAndCodes) {
  InputHarness h;
  h.hooks.swallowKeys = {kVkF6};
  std::string one = h.Add(Keyboard("OnePerRead", "usb-one"));
  std::string cut = h.Add(Keyboard("Truncated", "usb-cut"));
  std::string stuck = h.Add(Keyboard("Eagain", "usb-eagain"));
  std::string good = h.Add(Keyboard("Good", "usb-good"));
  ASSERT_TRUE(OsStartInputTap());
  for (const auto& n : {one, cut, stuck, good}) ASSERT_TRUE(h.WaitGrabbed(n));
  h.k().SetReadFault(one, ReadFault::OneEventPerRead);
  h.k().SetReadFault(cut, ReadFault::Truncated);
  h.k().SetReadFault(stuck, ReadFault::EagainForever);
  h.k().Emit(cut, KeyFrame(KEY_Z, 1, true));
  h.k().Emit(stuck, KeyFrame(KEY_Z, 1, true));
  // Codes the kernel never sends, types beyond EV_MAX, odd SYN codes.
  h.k().Emit(one, {Ev(EV_MSC, MSC_SCAN, 7), Ev(EV_KEY, 800, 1), Ev(EV_KEY, 65535, 0), Ev(EV_KEY, KEY_MAX, 1),
                   Ev(EV_KEY, KEY_A, 1), Ev(0x1f, 3, -5), Ev(EV_SYN, 9, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  h.k().Emit(one, KeyFrame(KEY_A, 0));
  h.k().Emit(good, KeyFrame(KEY_F6, 1));
  h.k().Emit(good, KeyFrame(KEY_F6, 0));
  h.k().Emit(good, KeyFrame(KEY_G, 1));
  h.k().Emit(good, KeyFrame(KEY_G, 0));
  ASSERT_TRUE(h.WaitSeen([](const auto& s) {
    return HasEvent(s, "pmr-twin", KEY_G, 0, Origin::Write) && HasEvent(s, "pmr-twin", KEY_A, 0, Origin::Write);
  }));
  auto seen = h.k().Desktop();
  EXPECT_FALSE(HasEvent(seen, "pmr-twin", KEY_F6, 1, Origin::Write));
  EXPECT_TRUE(HasEvent(seen, "pmr-twin", KEY_A, 1, Origin::Write));
  for (const auto& s : seen) EXPECT_LT(s.ev.code, KEY_CNT);
  EXPECT_TRUE(g_TapRunning.load());
  OsStopInputTap();
  EXPECT_EQ(h.k().OpenDescriptors(), 2);
}

// The session-locked hook forgets what the hooks were holding (a hotkey held
// as the session locks is not swallowed afterwards) and wakes the signal
// processor; no tool reports hold mode here, so nothing is stopped.
TEST(Fault, SessionLockedHookResetsTheHooks) {
  InputHarness h;
  h.UseRealHooks();
  EXPECT_TRUE(TapKey(kVkF6, true));  // the auto clicker's hotkey: swallowed and remembered
  g_SignalWake.flag.store(false);
  OsInputTapOnSessionLocked();
  EXPECT_TRUE(g_SignalWake.flag.load());
  EXPECT_FALSE(triggerAutoClickStop.load());
  EXPECT_FALSE(triggerKeySpamStop.load());
  EXPECT_FALSE(TapKey(kVkF6, false));  // its release is no longer taken for the hotkey's
}

// A keyboard unplugged and another plugged in under the same node name before
// the capture looked: the newcomer is still picked up.
TEST(Fault, ReplugUnderTheSameNodeName) {
  InputHarness h;
  h.hooks.stallVk = kVkF7;
  h.hooks.stallMs = 300;
  std::string other = h.Add(Keyboard("Other", "usb-other/input0"));
  std::string kbd = h.Add(Keyboard("Old", "usb-old/input0"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  h.k().Emit(other, KeyFrame(KEY_F7, 1));  // keeps the capture thread busy for a moment
  h.k().Emit(other, KeyFrame(KEY_F7, 0));
  ASSERT_TRUE(h.k().WaitDrained(other, 3000));
  ASSERT_TRUE(h.k().Unplug(kbd));
  ASSERT_EQ(h.Add(Keyboard("New", "usb-new/input0")), kbd);
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  EXPECT_TRUE(h.Twin("New"));
  EXPECT_FALSE(h.Twin("Old"));
}
