// The real program under the simulated input subsystem: F6 on a keyboard is
// swallowed from the desktop (press, repeats and release) while typing on the
// same keyboard reaches the desktop unchanged, and F6 toggles the auto
// clicker, whose clicks arrive on the program's injection device.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <chrono>
#include <thread>

#include "tests/sim/sim_control.h"

using namespace pmrsim;

namespace {

const char* kKeyboardName = "Lenovo ThinkPad Compact USB Keyboard with TrackPoint";

std::vector<input_event> ScanKey(int code, int value) {
  return {Ev(EV_MSC, MSC_SCAN, 0x70000 + code), Ev(EV_KEY, code, value), Ev(EV_SYN, SYN_REPORT, 0)};
}

int Clicks(const std::vector<SeenEvent>& seen, int value) {
  int n = 0;
  for (const auto& s : seen)
    if (s.phys == "pmr-inject" && s.ev.type == EV_KEY && s.ev.code == BTN_LEFT && s.ev.value == value) ++n;
  return n;
}

}  // namespace

TEST(InputEndToEnd, F6IsSwallowedTypingPassesAndTogglesTheAutoClicker) {
  SimProgram prog;
  ASSERT_TRUE(prog.Start());
  SimControl& sim = prog.control();
  const std::string kbd =
      sim.AddEvemu(FixturePath("input/keyboard-usb-lenovo-compact.evemu"), "usb-0000:00:14.0-3/input0");
  ASSERT_EQ(kbd, "event0");
  ASSERT_TRUE(sim.Go());

  // The program makes its injection devices, then grabs the keyboard through a twin.
  ASSERT_TRUE(sim.WaitNodes(
      [&](const std::vector<RemoteNode>& nodes) {
        bool grabbed = false, twin = false;
        for (const auto& n : nodes) {
          grabbed |= n.node == kbd && n.exists && n.grabChecked;
          twin |= n.exists && n.phys == "pmr-twin" && n.name == kKeyboardName;
        }
        return grabbed && twin;
      },
      20000))
      << prog.Stderr();
  ASSERT_TRUE(sim.NodeByPhys("pmr-inject"));
  ASSERT_TRUE(sim.NodeByPhys("pmr-pointer"));

  const uint64_t mark = sim.DesktopSeq();
  // F6: press, auto-repeats, release.
  ASSERT_TRUE(sim.Emit(kbd, ScanKey(KEY_F6, 1)));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(sim.Emit(kbd, {Ev(EV_KEY, KEY_F6, 2), Ev(EV_SYN, SYN_REPORT, 1)}));
  ASSERT_TRUE(sim.Emit(kbd, ScanKey(KEY_F6, 0)));
  // Ordinary typing on the same keyboard: "hi", Shift+1.
  std::vector<std::vector<input_event>> typing = {ScanKey(KEY_H, 1),          ScanKey(KEY_H, 0),
                                                  ScanKey(KEY_I, 1),          ScanKey(KEY_I, 0),
                                                  ScanKey(KEY_LEFTSHIFT, 1),  ScanKey(KEY_1, 1),
                                                  ScanKey(KEY_1, 0),          ScanKey(KEY_LEFTSHIFT, 0)};
  std::vector<input_event> typed;
  for (const auto& f : typing) {
    ASSERT_TRUE(sim.Emit(kbd, f));
    typed.insert(typed.end(), f.begin(), f.end());
  }
  ASSERT_TRUE(sim.WaitDesktop(
      [&](const std::vector<SeenEvent>& seen) {
        for (const auto& s : seen)
          if (s.seq > mark && s.phys == "pmr-twin" && s.ev.code == KEY_LEFTSHIFT && s.ev.value == 0) return true;
        return false;
      },
      60000));

  std::vector<SeenEvent> seen = sim.Desktop(mark);
  std::vector<input_event> fromTwin;
  for (const auto& s : seen) {
    EXPECT_NE(s.ev.type == EV_KEY && s.ev.code == KEY_F6, true) << "F6 reached the desktop from " << s.phys;
    if (s.phys == "pmr-twin") fromTwin.push_back(s.ev);
    EXPECT_NE(s.phys, "usb-0000:00:14.0-3/input0");  // nothing straight from the grabbed keyboard
  }
  ASSERT_EQ(fromTwin.size(), typed.size());
  for (size_t i = 0; i < typed.size(); ++i) {
    EXPECT_EQ(fromTwin[i].type, typed[i].type) << i;
    EXPECT_EQ(fromTwin[i].code, typed[i].code) << i;
    EXPECT_EQ(fromTwin[i].value, typed[i].value) << i;
  }

  // F6 started the auto clicker: its clicks arrive on the injection device.
  ASSERT_TRUE(sim.WaitDesktop([&](const auto& all) { return Clicks(all, 0) >= 2; }, 15000)) << prog.Stderr();

  // F6 again stops it; the clicks stop and no button stays down.
  const uint64_t stopMark = sim.DesktopSeq();
  ASSERT_TRUE(sim.Emit(kbd, ScanKey(KEY_F6, 1)));
  ASSERT_TRUE(sim.Emit(kbd, ScanKey(KEY_F6, 0)));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const int pressesAfterStop = Clicks(sim.Desktop(stopMark), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(Clicks(sim.Desktop(stopMark), 1), pressesAfterStop) << "still clicking";
  auto all = sim.Desktop();
  EXPECT_EQ(Clicks(all, 1), Clicks(all, 0));
  for (const auto& s : sim.Desktop(mark))
    EXPECT_FALSE(s.ev.type == EV_KEY && s.ev.code == KEY_F6);

  // Stopping the program: the twin goes, nothing stays held.
  EXPECT_EQ(prog.Stop(), 0) << prog.Stderr();
  EXPECT_EQ(prog.Stderr().find("PMR input: "), std::string::npos) << prog.Stderr();
}
