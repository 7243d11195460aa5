// The real program under the simulated input subsystem records what games
// need and plays it back as it came: with "Relative movement" on, a mouse's
// own relative motion and its high-resolution wheel steps (quarter and half
// notches, vertical and horizontal)
// are recorded with F8 and played with F7, and the desktop receives from the
// program's device the same relative frames, in the same order, with the
// same pauses, and no absolute position in between.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "state/session_file.h"
#include "tests/sim/sim_control.h"
#include "tests/unit/bridge_json.h"

using namespace pmrsim;

namespace {

// One frame the desktop received: its relative events and when.
struct RelFrame {
  std::vector<std::pair<int, int>> rel;  // (code, value)
  int64_t ns = 0;
  bool absolute = false;  // an EV_ABS event was in it
};

std::vector<RelFrame> FramesFrom(SimControl& sim, const std::string& phys, uint64_t since) {
  std::vector<RelFrame> out;
  RelFrame cur;
  for (const auto& s : sim.Desktop(since)) {
    if (s.phys != phys) continue;
    if (s.ev.type == EV_SYN && s.ev.code == SYN_REPORT) {
      if (!cur.rel.empty() || cur.absolute) out.push_back(cur);
      cur = RelFrame{};
      continue;
    }
    if (s.ev.type == EV_REL) {
      cur.rel.emplace_back(s.ev.code, s.ev.value);
      cur.ns = s.ns;
    }
    if (s.ev.type == EV_ABS) cur.absolute = true;
  }
  return out;
}

std::string Text(const std::vector<RelFrame>& frames) {
  std::string s;
  for (const auto& f : frames) {
    s += "[";
    for (const auto& [c, v] : f.rel) s += std::to_string(c) + ":" + std::to_string(v) + " ";
    s += "] ";
  }
  return s;
}

bool WaitStatus(const std::string& path, const std::function<bool(const bridgetest::Json&)>& pred) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    bridgetest::Json j;
    if (bridgetest::ParseJson(ss.str(), j) && pred(j)) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

TEST(PlaybackMotionEndToEnd, RelativeMotionAndFineWheelStepsAreReplayedAsRecorded) {
  // Movement recorded as relative counts (settings field 15).
  const std::string settings =
      "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,1,1,0,500,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121";
  SimProgram prog;
  ASSERT_TRUE(prog.Start());
  ::mkdir(prog.dataDir().c_str(), 0700);
  {
    std::ofstream out(prog.dataDir() + "/session.dat", std::ios::binary | std::ios::trunc);
    out << BuildSessionText(settings, 0, {MacroProfile{kDefaultProfileName, "", {}}});
  }
  SimControl& sim = prog.control();
  const std::string kbd = sim.AddKeyboard("usb-sim-kbd/input0");
  const std::string mouse = sim.AddMouse("usb-sim-mouse/input0", "Sim Hi-Res Mouse", true);
  ASSERT_FALSE(kbd.empty());
  ASSERT_FALSE(mouse.empty());
  ASSERT_TRUE(sim.Go());
  ASSERT_TRUE(sim.WaitNodes(
      [&](const std::vector<RemoteNode>& nodes) {
        int grabbed = 0;
        for (const auto& n : nodes) grabbed += n.exists && n.grabbed && (n.node == kbd || n.node == mouse);
        return grabbed == 2;
      },
      20000))
      << prog.Stderr();
  const std::string status = prog.dataDir() + "/status.txt";
  ASSERT_TRUE(WaitStatus(status, [](const bridgetest::Json& j) { return j["state"].s == "Idle"; })) << prog.Stderr();

  ASSERT_TRUE(sim.Tap(kbd, KEY_F8));
  ASSERT_TRUE(WaitStatus(status, [](const bridgetest::Json& j) { return j["state"].s == "Recording"; }));
  const uint64_t recMark = sim.DesktopSeq();
  const input_event syn = Ev(EV_SYN, SYN_REPORT, 0);
  // Motion in small steps, a pause, quarter-notch wheel steps as a
  // high-resolution wheel reports them (the whole notch on the fourth).
  struct Step {
    std::vector<input_event> frame;
    int pauseMs;
  };
  std::vector<Step> steps;
  for (int i = 0; i < 6; ++i) steps.push_back({{Ev(EV_REL, REL_X, 3 + i), Ev(EV_REL, REL_Y, -2), syn}, 40});
  steps.back().pauseMs = 300;
  for (int i = 1; i <= 5; ++i) {
    std::vector<input_event> f = {Ev(EV_REL, REL_WHEEL_HI_RES, 30)};
    if (i % 4 == 0) f.push_back(Ev(EV_REL, REL_WHEEL, 1));
    f.push_back(syn);
    steps.push_back({f, 60});
  }
  // The horizontal wheel too, and a frame that moves and scrolls at once.
  steps.push_back({{Ev(EV_REL, REL_HWHEEL_HI_RES, -60), syn}, 50});
  steps.push_back({{Ev(EV_REL, REL_HWHEEL_HI_RES, -60), Ev(EV_REL, REL_HWHEEL, -1), syn}, 50});
  steps.push_back({{Ev(EV_REL, REL_X, -7), syn}, 200});
  steps.push_back({{Ev(EV_REL, REL_WHEEL_HI_RES, -120), Ev(EV_REL, REL_WHEEL, -1), syn}, 0});
  for (const Step& s : steps) {
    ASSERT_TRUE(sim.Emit(mouse, s.frame));
    if (s.pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseMs));
  }
  ASSERT_TRUE(sim.WaitDesktop(
      [&](const std::vector<SeenEvent>&) { return FramesFrom(sim, "pmr-twin", recMark).size() >= steps.size(); },
      5000));
  ASSERT_TRUE(sim.Tap(kbd, KEY_F8));
  ASSERT_TRUE(WaitStatus(status, [&](const bridgetest::Json& j) {
    return j["state"].s == "Idle" && j["count"].n == static_cast<double>(steps.size());
  })) << prog.Stderr();
  const std::vector<RelFrame> recorded = FramesFrom(sim, "pmr-twin", recMark);
  ASSERT_EQ(recorded.size(), steps.size()) << Text(recorded);

  const uint64_t mark = sim.DesktopSeq();
  ASSERT_TRUE(sim.Tap(kbd, KEY_F7));
  ASSERT_TRUE(sim.WaitDesktop(
      [&](const std::vector<SeenEvent>&) { return FramesFrom(sim, "pmr-inject", mark).size() >= steps.size(); },
      15000));
  ASSERT_TRUE(WaitStatus(status, [](const bridgetest::Json& j) { return j["state"].s == "Idle"; }));
  const std::vector<RelFrame> played = FramesFrom(sim, "pmr-inject", mark);
  ASSERT_EQ(played.size(), recorded.size()) << "recorded " << Text(recorded) << "\nplayed " << Text(played);
  for (size_t i = 0; i < played.size(); ++i) {
    EXPECT_EQ(played[i].rel, recorded[i].rel) << i << "\nrecorded " << Text(recorded) << "\nplayed " << Text(played);
    EXPECT_FALSE(played[i].absolute) << i;
    // Generous for a busy build machine, still well below the pauses.
    EXPECT_NEAR(static_cast<double>(played[i].ns - played[0].ns),
                static_cast<double>(recorded[i].ns - recorded[0].ns), 30e6)
        << "frame " << i;
  }
  // Nothing absolute reached the desktop from the program's pointer device.
  for (const auto& f : FramesFrom(sim, "pmr-pointer", mark)) EXPECT_TRUE(f.rel.empty() && !f.absolute);
  EXPECT_EQ(prog.Stop(), 0) << prog.Stderr();
}
