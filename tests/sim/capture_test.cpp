// Capture from evdev with hotkey swallowing, run against the simulated
// kernel: which devices are grabbed, what reaches the desktop, what the
// recording hooks are offered.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "platform/linux/input/input_state.h"
#include "platform/linux/input/motion_positions.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "tests/sim/input_harness.h"
#include "model/tool_state.h"

using namespace pmrsim;

namespace {

constexpr int kVkF6 = 117;

enum class Role { Ignored, Listened, Grabbed };

struct FixtureCase {
  const char* file;
  Role role;
};

// What the device-opening rules make of each recording.
const FixtureCase kFixtures[] = {
    {"input/keyboard-usb-lenovo-compact.evemu", Role::Grabbed},
    {"input/keyboard-with-pointer-logitech-k400plus.evemu", Role::Grabbed},
    {"input/mouse-bt-logitech-ultrathin.evemu", Role::Grabbed},       // declares keyboard keys too
    {"input/touchpad-cypress-mt-buttonpad.evemu", Role::Listened},    // buttons, but MT and BUTTONPAD
    {"input/touchscreen-ep0430m09-direct.evemu", Role::Ignored},      // BTN_TOUCH only: no VK code, no mouse button
    {"input/tablet-pen-wacom-cintiq13hd.evemu", Role::Ignored},       // pen tools only
    {"input/gamepad-ff-madcatz-xbox360.evemu", Role::Ignored},        // BTN_SOUTH.. only
};

// The frames of a recording with the auto-repeat events taken out (the twin
// repeats by itself) and frames left with nothing but their SYN_REPORT dropped
// (the kernel never delivers those).
std::vector<Triple> WithoutRepeats(const std::vector<input_event>& events) {
  std::vector<Triple> out;
  for (const auto& frame : SplitFrames(events)) {
    std::vector<Triple> f;
    for (const auto& e : frame)
      if (!(e.type == EV_KEY && e.value == 2)) f.emplace_back(e.type, e.code, e.value);
    if (f.size() >= 2) out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// Keys a recording releases before pressing: they were held when it began.
std::vector<int> HeldAtStart(const std::vector<input_event>& events) {
  std::map<int, int> first;
  for (const auto& e : events)
    if (e.type == EV_KEY && e.value != 2 && !first.count(e.code)) first[e.code] = e.value;
  std::vector<int> held;
  for (auto [code, v] : first)
    if (v == 0) held.push_back(code);
  return held;
}

}  // namespace

// Each recorded device is classified as the rules say, and its recorded
// stream reaches the desktop unchanged: through its twin when it is grabbed,
// directly otherwise. The program's own devices are never kept open.
TEST(Capture, FixtureDevicesAreClassifiedAndForwardedUnchanged) {
  InputHarness h;
  // Recordings arrive here all at once; readers get room for a whole one.
  h.k().SetClientBufferSize(1024);
  std::vector<std::string> nodes;
  std::vector<DeviceDesc> descs;
  int i = 0;
  for (const FixtureCase& c : kFixtures) {
    descs.push_back(Fixture(c.file, "usb-fixture-" + std::to_string(i++) + "/input0"));
    nodes.push_back(h.Add(descs.back()));
    // Keys the recording starts with held are held now.
    for (int code : HeldAtStart(descs.back().events)) h.k().Emit(nodes.back(), KeyFrame(code, 1));
  }
  ASSERT_TRUE(EnsureInjectDevice());
  ASSERT_TRUE(OsStartInputTap());

  for (size_t d = 0; d < descs.size(); ++d) {
    SCOPED_TRACE(kFixtures[d].file);
    const auto frames = SplitFrames(descs[d].events);
    const std::vector<int> held = HeldAtStart(descs[d].events);
    size_t start = 0;
    if (!held.empty()) {
      // Nothing is grabbed while a key is held; the release reaches the
      // desktop from the device itself.
      h.Settle(400);
      EXPECT_FALSE(h.k().Node(nodes[d])->grabbed);
      uint64_t mark = h.k().DesktopSeq();
      h.k().Emit(nodes[d], frames[0]);
      auto direct = h.SeenFrom(descs[d].phys, mark);
      EXPECT_EQ(Triples(direct), Triples(frames[0]));
      start = 1;
    }
    if (kFixtures[d].role == Role::Grabbed) {
      ASSERT_TRUE(h.WaitGrabbed(nodes[d]));
    }
    std::vector<input_event> rest;
    for (size_t f = start; f < frames.size(); ++f) rest.insert(rest.end(), frames[f].begin(), frames[f].end());
    const uint64_t mark = h.k().DesktopSeq();
    h.k().Emit(nodes[d], rest);
    if (kFixtures[d].role == Role::Grabbed) {
      auto twin = h.Twin(descs[d].name);
      ASSERT_TRUE(twin);
      EXPECT_EQ(twin->id.vendor, descs[d].id.vendor);
      EXPECT_EQ(twin->id.product, descs[d].id.product);
      const auto expected = WithoutRepeats(rest);
      ASSERT_TRUE(h.WaitSeen([&](const auto&) { return h.SeenFrom("pmr-twin", mark).size() >= expected.size(); }));
      h.Settle(50);
      auto seen = h.SeenFrom("pmr-twin", mark);
      EXPECT_EQ(Describe(Triples(seen)), Describe(expected));
      EXPECT_TRUE(h.SeenFrom(descs[d].phys, mark).empty());
    } else {
      EXPECT_FALSE(h.Twin(descs[d].name));
      EXPECT_EQ(Triples(h.SeenFrom(descs[d].phys, mark)), Triples(rest));
    }
  }
  h.Settle(400);
  for (size_t d = 0; d < descs.size(); ++d) {
    SCOPED_TRACE(kFixtures[d].file);
    auto n = h.k().Node(nodes[d]);
    EXPECT_EQ(n->grabbed, kFixtures[d].role == Role::Grabbed);
    EXPECT_EQ(n->openCount, kFixtures[d].role == Role::Ignored ? 0 : 1);
  }
  int twins = 0;
  for (const NodeInfo& n : h.k().Nodes()) {
    if (n.phys.rfind("pmr-", 0) != 0) continue;
    SCOPED_TRACE(n.phys);
    EXPECT_EQ(n.openCount, 0);  // looked at once, never kept
    EXPECT_FALSE(n.grabbed);
    twins += n.phys == "pmr-twin";
  }
  EXPECT_EQ(twins, 3);  // no twin of a twin
}

// A receiver whose spare absolute axes run through the multitouch codes is a
// keyboard and a mouse: it is twinned and grabbed, and its hotkey is
// swallowed. The same device with a real multitouch claim (no spare axis just
// below ABS_MT_SLOT) stays a device that is only listened to.
TEST(Capture, SpareAxesOfAReceiverAreNoTouchDevice) {
  InputHarness h;
  h.hooks.swallowKeys = {kVkF6};
  DeviceDesc receiver = Fixture("input/receiver-spare-abs-axes.evemu", "usb-receiver/input0");
  ASSERT_TRUE(receiver.abs.test(ABS_MT_POSITION_X));
  DeviceDesc touch = receiver;
  touch.name = "Sim Touch Claim";
  touch.phys = "usb-touch-claim/input0";
  touch.abs.reset(ABS_MT_SLOT - 1);
  const std::string rx = h.Add(receiver);
  const std::string tc = h.Add(touch);
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(rx));
  ASSERT_TRUE(h.Twin(receiver.name));
  EXPECT_FALSE(h.Twin(touch.name));

  const uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(rx, KeyFrame(KEY_F6, 1, true));
  h.k().Emit(rx, KeyFrame(KEY_F6, 0, true));
  h.k().Emit(rx, KeyFrame(KEY_A, 1, true));
  h.k().Emit(rx, KeyFrame(KEY_A, 0, true));
  ASSERT_TRUE(h.WaitSeen([&](const auto&) { return h.SeenFrom("pmr-twin", mark).size() >= 6; }));
  for (const auto& seen : h.k().Desktop(mark)) {
    EXPECT_EQ(seen.phys, "pmr-twin");
    EXPECT_NE(seen.ev.code, KEY_F6) << "the hotkey reached the desktop";
  }
  EXPECT_EQ(h.hooks.CountKey(kVkF6, true), 1);
  h.Settle(400);
  EXPECT_FALSE(h.k().Node(tc)->grabbed);
  EXPECT_EQ(h.k().Node(tc)->openCount, 1);
}

// The touchpad is only listened to, but its buttons are still offered to the
// hooks; the ignored devices are not.
TEST(Capture, ListenedDevicesReachTheHooks) {
  InputHarness h;
  h.k().SetClientBufferSize(1024);
  std::string pad = h.AddFixture("input/touchpad-cypress-mt-buttonpad.evemu", "isa0060/serio1/input0");
  std::string pen = h.AddFixture("input/tablet-pen-wacom-cintiq13hd.evemu", "usb-pen/input0");
  h.Add(BasicKeyboard());
  ASSERT_TRUE(OsStartInputTap());
  h.Settle(100);
  DeviceDesc padDesc = Fixture("input/touchpad-cypress-mt-buttonpad.evemu");
  DeviceDesc penDesc = Fixture("input/tablet-pen-wacom-cintiq13hd.evemu");
  h.k().Emit(pen, penDesc.events);
  h.k().Emit(pad, padDesc.events);
  int buttons = 0;
  for (const auto& e : padDesc.events)
    if (e.type == EV_KEY && e.code >= BTN_LEFT && e.code <= BTN_BACK && e.value != 2) ++buttons;
  ASSERT_GT(buttons, 0);
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return static_cast<int>(h.hooks.Calls('b').size()) >= buttons; }, 60000));
  h.Settle(100);
  auto calls = h.hooks.Calls('b');
  EXPECT_EQ(static_cast<int>(calls.size()), buttons);
  for (const auto& c : calls) EXPECT_EQ(c.code, 2);  // BTN_RIGHT
  // One wheel report per frame of the touchpad, nothing from the pen.
  EXPECT_EQ(h.hooks.Calls('s').size(), SplitFrames(padDesc.events).size());
  EXPECT_FALSE(h.k().Node(pad)->grabbed);
}

// A hotkey press, its auto-repeats and its release are swallowed: nothing
// reaches the desktop and nothing is written to the twin; the scan codes of
// those frames go with them. Ordinary typing on the same keyboard passes.
TEST(Capture, HotkeyIsSwallowedTypingPasses) {
  InputHarness h;
  h.hooks.swallowKeys = {kVkF6};
  std::string kbd = h.AddFixture("input/keyboard-usb-lenovo-compact.evemu", "usb-kbd/input0");
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  auto twin = h.Twin("Lenovo ThinkPad Compact USB Keyboard with TrackPoint");
  ASSERT_TRUE(twin);
  const size_t writesBefore = h.k().Node(twin->node)->uinputWrites.size();
  const uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(kbd, KeyFrame(KEY_F6, 1, true));
  for (int i = 0; i < 5; ++i) h.k().Emit(kbd, {Ev(EV_KEY, KEY_F6, 2), Ev(EV_SYN, SYN_REPORT, 1)});
  h.k().Emit(kbd, KeyFrame(KEY_F6, 0, true));
  h.Settle();
  EXPECT_TRUE(h.k().Desktop(mark).empty());
  EXPECT_EQ(h.k().Node(twin->node)->uinputWrites.size(), writesBefore);
  EXPECT_EQ(h.hooks.CountKey(kVkF6, true), 6);  // the press and five repeats
  EXPECT_EQ(h.hooks.CountKey(kVkF6, false), 1);

  h.k().Emit(kbd, KeyFrame(KEY_A, 1, true));
  h.k().Emit(kbd, {Ev(EV_KEY, KEY_A, 2), Ev(EV_SYN, SYN_REPORT, 1)});
  h.k().Emit(kbd, KeyFrame(KEY_A, 0, true));
  ASSERT_TRUE(h.WaitSeen([&](const auto& seen) { return seen.size() >= 6; }));
  auto seen = h.k().Desktop(mark);
  EXPECT_EQ(Describe(Triples(seen)), Describe({{EV_MSC, MSC_SCAN, 0x70000 + KEY_A},
                                               {EV_KEY, KEY_A, 1},
                                               {EV_SYN, SYN_REPORT, 0},
                                               {EV_MSC, MSC_SCAN, 0x70000 + KEY_A},
                                               {EV_KEY, KEY_A, 0},
                                               {EV_SYN, SYN_REPORT, 0}}));
  for (const auto& s : seen) EXPECT_EQ(s.phys, "pmr-twin");
  // The unswallowed repeat is offered to the hooks as a further press.
  EXPECT_EQ(h.hooks.CountKey(EvdevToVk(KEY_A), true), 2);
}

// A frame with a swallowed and a forwarded key writes the forwarded key and
// the SYN_REPORT, in one write, without any scan code.
TEST(Capture, MixedFrameLosesOnlyTheSwallowedPart) {
  InputHarness h;
  h.hooks.swallowKeys = {kVkF6};
  std::string kbd = h.Add(BasicKeyboard());
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  auto twin = h.Twin("Sim Keyboard");
  const size_t before = h.k().Node(twin->node)->uinputWrites.size();
  h.k().Emit(kbd, {Ev(EV_MSC, MSC_SCAN, 0x7003f), Ev(EV_KEY, KEY_F6, 1), Ev(EV_MSC, MSC_SCAN, 0x70004),
                   Ev(EV_KEY, KEY_A, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.WaitSeen([](const auto& seen) { return seen.size() >= 2; }));
  auto writes = h.k().Node(twin->node)->uinputWrites;
  ASSERT_EQ(writes.size(), before + 1);
  EXPECT_EQ(Describe(Triples(writes.back())), Describe({{EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}}));
}

// What the hooks are told about pointer frames: summed motion, one position
// query per frame with buttons, wheel in 1/120 notch (hi-res devices report
// their own sum), the pick cancelled when no position is known.
TEST(Capture, PointerFramesReachTheHooks) {
  InputHarness h;
  DeviceDesc hi = BasicMouse("Hi Mouse", true);
  hi.phys = "usb-hi/input0";
  DeviceDesc lo = BasicMouse("Lo Mouse", false);
  lo.phys = "usb-lo/input0";
  std::string hiNode = h.Add(hi);
  std::string loNode = h.Add(lo);
  h.Add(BasicKeyboard());
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(hiNode));
  ASSERT_TRUE(h.WaitGrabbed(loNode));

  struct Case {
    const char* what;
    std::string node;
    std::vector<input_event> frame;
    bool havePosition;
    bool picking;
    int positionQueries;
    int buttonCalls;
    int moves;
    long dx, dy;
    int wheel;
    bool pickAfter;
  };
  HiResWheel wheel{8};
  std::vector<input_event> quarter = wheel.Frame(2);  // a quarter notch: no REL_WHEEL yet
  std::vector<input_event> rest = wheel.Frame(6);     // completes the notch
  const Case cases[] = {
      {"motion", loNode, {Ev(EV_REL, REL_X, 3), Ev(EV_REL, REL_Y, -2), Ev(EV_REL, REL_X, 4), Ev(EV_SYN, SYN_REPORT, 0)},
       true, false, 0, 0, 1, 7, -2, 0, false},
      {"two buttons, one query", loNode,
       {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_KEY, BTN_SIDE, 1), Ev(EV_SYN, SYN_REPORT, 0)}, true, false, 1, 2, 0, 0, 0, 0, false},
      {"button repeat is dropped", loNode, {Ev(EV_KEY, BTN_LEFT, 2), Ev(EV_SYN, SYN_REPORT, 1)}, true, false, 0, 0, 0, 0,
       0, 0, false},
      {"notches times 120", loNode, {Ev(EV_REL, REL_WHEEL, -2), Ev(EV_SYN, SYN_REPORT, 0)}, true, false, 0, 0, 0, 0, 0,
       -240, false},
      {"hi-res quarter notch", hiNode, quarter, true, false, 0, 0, 0, 0, 0, 30, false},
      {"hi-res rest of the notch", hiNode, rest, true, false, 0, 0, 0, 0, 0, 90, false},
      {"a button without a position", loNode, {Ev(EV_KEY, BTN_RIGHT, 1), Ev(EV_SYN, SYN_REPORT, 0)}, false, false, 1, 1,
       0, 0, 0, 0, false},
      {"and its release", loNode, {Ev(EV_KEY, BTN_RIGHT, 0), Ev(EV_SYN, SYN_REPORT, 0)}, true, false, 1, 1, 0, 0, 0, 0,
       false},
  };
  // A recording of relative movement: every button asks where it went (once
  // per frame), no movement asks anything.
  isRecording.store(true);
  bUseRelativeMouse = true;
  h.hooks.placeButtons = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::lock_guard<std::mutex> lock(h.hooks.mu);
      h.hooks.calls.clear();
      h.hooks.positionQueries = 0;
      h.hooks.havePosition = c.havePosition;
      h.hooks.px = 10.5;
      h.hooks.py = 20.25;
    }
    // The fake shell's answer changes between cases as if the pointer had
    // moved: no case may lean on the position an earlier one left known.
    MotionPositionsForget();
    isPickingLocation.store(c.picking);
    h.k().Emit(c.node, c.frame);
    ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return !h.hooks.Calls('s').empty(); }, 60000));
    ASSERT_TRUE(OsInputFlushMotion(60000));
    h.Settle(30);
    EXPECT_EQ(h.hooks.positionQueries, c.positionQueries);
    auto buttons = h.hooks.Calls('b');
    EXPECT_EQ(static_cast<int>(buttons.size()), c.buttonCalls);
    auto places = h.hooks.Calls('p');
    ASSERT_EQ(places.size(), buttons.size());
    for (size_t i = 0; i < places.size(); ++i) {
      EXPECT_EQ(places[i].code, buttons[i].code);
      EXPECT_EQ(places[i].dx, c.havePosition ? 1 : 0);
      EXPECT_EQ(places[i].x, c.havePosition ? 10.5 : 0);
      EXPECT_EQ(places[i].y, c.havePosition ? 20.25 : 0);
    }
    auto moves = h.hooks.Calls('m');
    EXPECT_EQ(static_cast<int>(moves.size()), c.moves);
    if (!moves.empty()) {
      EXPECT_EQ(moves[0].dx, c.dx);
      EXPECT_EQ(moves[0].dy, c.dy);
    }
    auto scrolls = h.hooks.Calls('s');
    ASSERT_EQ(scrolls.size(), 1u);
    EXPECT_EQ(scrolls[0].code, c.wheel);
    EXPECT_EQ(isPickingLocation.load(), c.pickAfter);
  }
  // The last case's answer came with nothing queued after it: while the
  // pointer stays put, the next click is placed there without asking again
  // (the shell would now say it does not know).
  {
    std::lock_guard<std::mutex> lock(h.hooks.mu);
    h.hooks.calls.clear();
    h.hooks.positionQueries = 0;
    h.hooks.havePosition = false;
  }
  h.k().Emit(loNode, {Ev(EV_KEY, BTN_LEFT, 1), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return !h.hooks.Calls('p').empty(); }, 60000));
  ASSERT_TRUE(OsInputFlushMotion(60000));
  EXPECT_EQ(h.hooks.positionQueries, 0);
  ASSERT_EQ(h.hooks.Calls('p').size(), 1u);
  EXPECT_EQ(h.hooks.Calls('p')[0].dx, 1);
  EXPECT_EQ(h.hooks.Calls('p')[0].x, 10.5);
  h.k().Emit(loNode, {Ev(EV_KEY, BTN_LEFT, 0), Ev(EV_SYN, SYN_REPORT, 0)});
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.hooks.Calls('p').size() >= 2; }, 60000));
  ASSERT_TRUE(OsInputFlushMotion(60000));
  isPickingLocation.store(false);
  isRecording.store(false);
  // Buttons map to their VK codes, the side buttons from both code pairs.
  const std::pair<int, int> mapping[] = {{BTN_LEFT, 1}, {BTN_RIGHT, 2}, {BTN_MIDDLE, 4}, {BTN_SIDE, 5},
                                          {BTN_BACK, 5}, {BTN_EXTRA, 6}, {BTN_FORWARD, 6}};
  for (auto [code, vk] : mapping) {
    SCOPED_TRACE(code);
    {
      std::lock_guard<std::mutex> lock(h.hooks.mu);
      h.hooks.calls.clear();
    }
    h.k().Emit(loNode, {Ev(EV_KEY, code, 0), Ev(EV_SYN, SYN_REPORT, 0)});
    ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return !h.hooks.Calls('b').empty(); }, 60000));
    EXPECT_EQ(h.hooks.Calls('b')[0].code, vk);
  }
}

// Keyboard lights the desktop sets on a twin reach the real keyboard.
TEST(Capture, LedFeedbackReachesTheDevice) {
  InputHarness h;
  std::string kbd = h.AddFixture("input/keyboard-usb-lenovo-compact.evemu", "usb-kbd/input0");
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  auto twin = h.Twin("Lenovo ThinkPad Compact USB Keyboard with TrackPoint");
  ASSERT_TRUE(twin);
  ASSERT_TRUE(h.k().DesktopWriteLed(twin->node, LED_CAPSL, 1));
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.k().Node(kbd)->ledState.test(LED_CAPSL); }, 60000));
  ASSERT_TRUE(h.k().DesktopWriteLed(twin->node, LED_CAPSL, 0));
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return !h.k().Node(kbd)->ledState.test(LED_CAPSL); }, 60000));
}

// Devices that appear later are picked up from the directory watch; one that
// cannot be opened yet is retried when its permissions change.
TEST(Capture, HotplugAndPermissionChanges) {
  InputHarness h;
  h.Add(BasicKeyboard("First"));
  ASSERT_TRUE(OsStartInputTap());
  h.Settle(100);
  DeviceDesc second = BasicKeyboard("Second");
  second.phys = "usb-second/input0";
  std::string node = h.Add(second);
  ASSERT_TRUE(h.WaitGrabbed(node));
  EXPECT_TRUE(h.Twin("Second"));

  DeviceDesc third = BasicKeyboard("Third");
  third.phys = "usb-third/input0";
  // Added without access: the open fails and is forgotten until IN_ATTRIB.
  {
    std::string n3 = h.k().AddDevice(third, false, false);
    h.Settle(400);
    EXPECT_FALSE(h.Twin("Third"));
    ASSERT_TRUE(h.k().SetAccess(n3, true, true));
    ASSERT_TRUE(h.WaitGrabbed(n3));
    EXPECT_TRUE(h.Twin("Third"));
  }
  // A read-only device is still listened to and grabbed (the grab needs no write access).
  DeviceDesc fourth = BasicKeyboard("Fourth");
  fourth.phys = "usb-fourth/input0";
  std::string n4 = h.k().AddDevice(fourth, true, false);
  ASSERT_TRUE(h.WaitGrabbed(n4));
}

TEST(Capture, ListenPermission) {
  InputHarness h;
  EXPECT_FALSE(OsListenEventAllowed());  // nothing there
  h.Add(BasicMouse());
  EXPECT_FALSE(OsListenEventAllowed());  // no KEY_A
  DeviceDesc own = BasicKeyboard("Pellomar virtual input");
  own.phys = "pmr-inject";
  h.Add(own);
  EXPECT_FALSE(OsListenEventAllowed());  // the program's own
  std::string kbd = h.Add(BasicKeyboard());
  h.k().SetAccess(kbd, false, false);
  EXPECT_FALSE(OsListenEventAllowed());
  EXPECT_FALSE(OsStartInputTap());
  h.k().SetAccess(kbd, true, false);
  EXPECT_TRUE(OsListenEventAllowed());
  // Starting needs the injection devices too.
  ResetInputForTest();
  h.k().SetUinputAccess(false);
  EXPECT_FALSE(OsStartInputTap());
  h.k().SetUinputAccess(true);
  EXPECT_TRUE(OsStartInputTap());
  EXPECT_TRUE(OsStartInputTap());  // already running
  OsStopInputTap();
  OsStopInputTap();  // already stopped
  EXPECT_FALSE(g_TapRunning.load());
}

// With the program's own hooks: F6 is the auto clicker's hotkey; its press,
// repeats and release never reach the desktop, the toggle trigger is set,
// and typing passes.
TEST(Capture, RealHooksSwallowTheHotkey) {
  InputHarness h;
  h.UseRealHooks();
  std::string kbd = h.AddFixture("input/keyboard-usb-lenovo-compact.evemu", "usb-kbd/input0");
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  const uint64_t mark = h.k().DesktopSeq();
  h.k().Emit(kbd, KeyFrame(KEY_F6, 1, true));
  h.k().Emit(kbd, {Ev(EV_KEY, KEY_F6, 2), Ev(EV_SYN, SYN_REPORT, 1)});
  h.k().Emit(kbd, KeyFrame(KEY_F6, 0, true));
  h.k().Emit(kbd, KeyFrame(KEY_K, 1, true));
  h.k().Emit(kbd, KeyFrame(KEY_K, 0, true));
  ASSERT_TRUE(h.WaitSeen([&](const auto&) { return h.k().Desktop(mark).size() >= 6; }));
  h.Settle(50);
  for (const auto& s : h.k().Desktop(mark)) EXPECT_NE(s.ev.code, KEY_F6);
  EXPECT_EQ(h.k().Desktop(mark).size(), 6u);
  EXPECT_TRUE(triggerAutoClicker.load());
}

// The same Enter / keypad Enter sequence as the fault test, with the
// program's hooks and the hotkeys switched on half-way.
TEST(Capture, RealHooksSharedVkCodeCannotStickAKey) {
  InputHarness h;
  h.UseRealHooks();
  vkAutoClicker.store(13);
  g_HotkeysEnabled.store(false);
  std::string kbd = h.Add(BasicKeyboard("Kbd"));
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.WaitGrabbed(kbd));
  auto step = [&](int code, int value) {
    h.k().Emit(kbd, KeyFrame(code, value));
    EXPECT_TRUE(h.k().WaitDrained(kbd, 3000));
    h.Settle(30);
  };
  step(KEY_ENTER, 1);
  step(KEY_KPENTER, 1);
  step(KEY_KPENTER, 0);
  g_HotkeysEnabled.store(true);
  step(KEY_KPENTER, 1);
  step(KEY_ENTER, 0);
  step(KEY_KPENTER, 0);
  auto twin = h.Twin("Kbd");
  ASSERT_TRUE(twin);
  EXPECT_TRUE(twin->keyState.none());
  EXPECT_TRUE(triggerAutoClicker.load());  // the keypad Enter press was the hotkey
}

// The twin copies the source: event types in a fixed order, keys, axes with
// their ranges, misc codes, lights, properties, name and id; its phys marks it
// as the program's own. The grab waits 300 ms after opening.
TEST(Capture, TwinCopiesTheSourceAndGrabWaits) {
  InputHarness h;
  DeviceDesc src = Fixture("input/keyboard-with-pointer-logitech-k400plus.evemu", "usb-k400/input0");
  src.props.set(INPUT_PROP_POINTER);
  std::string node = h.Add(src);
  ASSERT_TRUE(OsStartInputTap());
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.Twin(src.name).has_value(); }, 60000));
  const auto twinSeen = std::chrono::steady_clock::now();
  ASSERT_TRUE(h.k().WaitNodes([&](const auto&) { return h.k().Node(node)->grabChecked; }, 60000));
  EXPECT_GE(std::chrono::steady_clock::now() - twinSeen, std::chrono::milliseconds(250));
  auto twin = h.Twin(src.name);
  ASSERT_TRUE(twin);
  EXPECT_EQ(twin->phys, "pmr-twin");
  EXPECT_EQ(twin->name, src.name);
  EXPECT_EQ(twin->id.bustype, src.id.bustype);
  EXPECT_EQ(twin->id.vendor, src.id.vendor);
  EXPECT_EQ(twin->id.product, src.id.product);
  EXPECT_EQ(twin->id.version, src.id.version);
  std::vector<unsigned long> types;
  for (const auto& c : twin->uinputCalls)
    if (c.first == UI_SET_EVBIT) types.push_back(c.second);
  EXPECT_EQ(types, (std::vector<unsigned long>{EV_SYN, EV_KEY, EV_REL, EV_ABS, EV_MSC, EV_LED, EV_REP}));
  const DeviceDesc& t = twin->desc;
  EXPECT_EQ(t.key, src.key);
  EXPECT_EQ(t.rel, src.rel);
  EXPECT_EQ(t.abs, src.abs);
  EXPECT_EQ(t.msc, src.msc);
  EXPECT_EQ(t.led, src.led);
  EXPECT_EQ(t.props, src.props);
  EXPECT_TRUE(t.ev.test(EV_REP));
  for (int a = 0; a < ABS_CNT; ++a) {
    if (!src.abs.test(a)) continue;
    EXPECT_EQ(t.absinfo[a].minimum, src.absinfo[a].minimum);
    EXPECT_EQ(t.absinfo[a].maximum, src.absinfo[a].maximum);
    EXPECT_EQ(t.absinfo[a].fuzz, src.absinfo[a].fuzz);
    EXPECT_EQ(t.absinfo[a].flat, src.absinfo[a].flat);
    EXPECT_EQ(t.absinfo[a].resolution, src.absinfo[a].resolution);
  }
}
