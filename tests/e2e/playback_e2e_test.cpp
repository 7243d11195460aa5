// The real program under the simulated input subsystem plays macros back:
// a kept recording loops until F7 stops it (while a macro file named on the
// command line waits for its question and changes nothing); a sequence typed on a simulated keyboard with pauses is recorded with
// F8 and played with F7, and the desktop receives the same keys in the same
// order with the same pauses; F7 in the middle of a held chord leaves nothing
// held.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "state/macro_file.h"
#include "state/session_file.h"
#include "tests/sim/sim_control.h"
#include "tests/unit/bridge_json.h"
#include "tools/recorder.h"

using namespace pmrsim;

namespace {

struct KeyEv {
  int code;
  int value;
  int64_t ns;
};

// Key events (no repeats) the desktop received from devices of `phys` after `since`.
std::vector<KeyEv> KeysFrom(SimControl& sim, const std::string& phys, uint64_t since) {
  std::vector<KeyEv> out;
  for (const auto& s : sim.Desktop(since))
    if (s.phys == phys && s.ev.type == EV_KEY && s.ev.value != 2) out.push_back({s.ev.code, s.ev.value, s.ns});
  return out;
}

std::string Pairs(const std::vector<KeyEv>& keys) {
  std::string s;
  for (const auto& k : keys) s += std::to_string(k.code) + (k.value ? "+ " : "- ");
  return s;
}

// The status the page last polled, as the program wrote it to its status file.
struct StatusFile {
  std::string path;
  bool Read(bridgetest::Json& j) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return bridgetest::ParseJson(ss.str(), j);
  }
  bool WaitFor(const std::function<bool(const bridgetest::Json&)>& pred, int timeoutMs = 15000) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      bridgetest::Json j;
      if (Read(j) && pred(j)) return true;
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
};

bool HeldNothing(SimControl& sim) {
  auto inject = sim.NodeByPhys("pmr-inject");
  return inject && inject->keysDown.empty();
}

}  // namespace

TEST(PlaybackEndToEnd, OpenLoopRecordPlayAndStopMidChord) {
  // The recording kept from the last run: Ctrl+A, looping with a 100 ms
  // pause (settings fields 17 and 18).
  const std::string settings =
      "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,1,1,100,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121";
  const std::vector<UnifiedEvent> ctrlA = {{kEventKey, 0, 0, 0, 0, 17, true, 0},
                                           {kEventKey, 0.05, 0, 0, 0, 65, true, 0},
                                           {kEventKey, 0.06, 0, 0, 0, 65, false, 0},
                                           {kEventKey, 0.1, 0, 0, 0, 17, false, 0}};
  // A macro file named on the command line, as another machine exported it:
  // B at speed 10, no loop. It waits for the page's question.
  const std::string macro = testing::TempDir() + "/b.pmrmacro";
  {
    std::ofstream out(macro, std::ios::binary | std::ios::trunc);
    out << BuildMacroFileText("0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,10,0,0,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121",
                              {{kEventKey, 0, 0, 0, 0, 66, true, 0}, {kEventKey, 0.01, 0, 0, 0, 66, false, 0}});
  }
  SimProgram prog;
  SimProgram::Options options;
  options.args = {macro};
  ASSERT_TRUE(prog.Start(options));
  // Held before main: the session file is in place before the program reads it.
  ::mkdir(prog.dataDir().c_str(), 0700);
  {
    std::ofstream out(prog.dataDir() + "/session.dat", std::ios::binary | std::ios::trunc);
    out << BuildSessionText(settings, 0, {MacroProfile{kDefaultProfileName, "", ctrlA}});
  }
  SimControl& sim = prog.control();
  const std::string kbd = sim.AddKeyboard("usb-sim-kbd/input0");
  ASSERT_FALSE(kbd.empty());
  ASSERT_TRUE(sim.Go());
  ASSERT_TRUE(sim.WaitNodes(
      [&](const std::vector<RemoteNode>& nodes) {
        bool grabbed = false, twin = false;
        for (const auto& n : nodes) {
          grabbed |= n.node == kbd && n.exists && n.grabbed;
          twin |= n.exists && n.phys == "pmr-twin";
        }
        return grabbed && twin;
      },
      20000))
      << prog.Stderr();
  StatusFile status{prog.dataDir() + "/status.txt"};
  // The page polls; the file from the command line waits for its question
  // and the kept recording is still the profile's.
  ASSERT_TRUE(status.WaitFor([](const bridgetest::Json& j) { return j["macroAsk"].s == "b.pmrmacro"; }, 30000))
      << prog.Stderr();
  bridgetest::Json j;
  ASSERT_TRUE(status.Read(j));
  EXPECT_EQ(j["count"].n, 4);

  // F7: the macro loops until F7 again.
  uint64_t mark = sim.DesktopSeq();
  ASSERT_TRUE(sim.Tap(kbd, KEY_F7));
  ASSERT_TRUE(sim.WaitDesktop(
      [&](const std::vector<SeenEvent>&) { return KeysFrom(sim, "pmr-inject", mark).size() >= 12; }, 15000))
      << prog.Stderr();
  ASSERT_TRUE(status.WaitFor([](const bridgetest::Json& j) { return j["state"].s == "Playing" && j["playLoop"].n >= 3; }));
  ASSERT_TRUE(sim.Tap(kbd, KEY_F7));
  ASSERT_TRUE(status.WaitFor([](const bridgetest::Json& j) { return j["state"].s == "Idle"; }));
  ASSERT_TRUE(sim.WaitNodes([&](const std::vector<RemoteNode>&) { return HeldNothing(sim); }, 5000));
  std::vector<KeyEv> played = KeysFrom(sim, "pmr-inject", mark);
  const std::vector<std::pair<int, int>> pass = {{KEY_LEFTCTRL, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTCTRL, 0}};
  ASSERT_GE(played.size(), 12u);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(played[i].code, pass[i % 4].first) << i << ": " << Pairs(played);
    EXPECT_EQ(played[i].value, pass[i % 4].second) << i << ": " << Pairs(played);
  }
  // The 100 ms pause between passes is kept (measured between the end of
  // one pass and the start of the next).
  EXPECT_GE(played[4].ns - played[3].ns, 90000000) << "pause between loops";
  for (const auto& k : KeysFrom(sim, "pmr-twin", mark)) EXPECT_NE(k.code, KEY_F7) << "F7 reached the desktop";

  // F8, a sequence typed with pauses, F8: the recording replaces the opened one.
  const uint64_t recMark = sim.DesktopSeq();
  ASSERT_TRUE(sim.Tap(kbd, KEY_F8));
  ASSERT_TRUE(status.WaitFor([](const bridgetest::Json& j) { return j["state"].s == "Recording"; }));
  struct Step {
    int code, value, pauseMs;
  } steps[] = {{KEY_H, 1, 0},          {KEY_H, 0, 300},         {KEY_I, 1, 0},          {KEY_I, 0, 300},
               {KEY_LEFTCTRL, 1, 200}, {KEY_LEFTSHIFT, 1, 800}, {KEY_LEFTSHIFT, 0, 0}, {KEY_LEFTCTRL, 0, 0}};
  for (const Step& s : steps) {
    ASSERT_TRUE(sim.Key(kbd, s.code, s.value));
    // The pauses are part of the input being recorded.
    if (s.pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseMs));
  }
  ASSERT_TRUE(sim.WaitDesktop(
      [&](const std::vector<SeenEvent>&) { return KeysFrom(sim, "pmr-twin", recMark).size() >= 8; }, 5000));
  ASSERT_TRUE(sim.Tap(kbd, KEY_F8));
  ASSERT_TRUE(status.WaitFor([](const bridgetest::Json& j) { return j["state"].s == "Idle" && j["count"].n == 8; }))
      << prog.Stderr();
  const std::vector<KeyEv> typed = KeysFrom(sim, "pmr-twin", recMark);
  ASSERT_EQ(typed.size(), 8u) << Pairs(typed);

  // F7 plays it (the loop setting came with the file): the first pass is the
  // same keys in the same order, each at its time within a tolerance.
  mark = sim.DesktopSeq();
  ASSERT_TRUE(sim.Tap(kbd, KEY_F7));
  ASSERT_TRUE(sim.WaitDesktop(
      [&](const std::vector<SeenEvent>&) { return KeysFrom(sim, "pmr-inject", mark).size() >= 8; }, 15000));
  played = KeysFrom(sim, "pmr-inject", mark);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(played[i].code, typed[i].code) << i << ": " << Pairs(played);
    EXPECT_EQ(played[i].value, typed[i].value) << i << ": " << Pairs(played);
    const int64_t recorded = typed[i].ns - typed[0].ns;
    const int64_t replayed = played[i].ns - played[0].ns;
    // Generous for a busy build machine, still well below every pause.
    EXPECT_NEAR(static_cast<double>(replayed), static_cast<double>(recorded), 90e6) << "event " << i;
  }

  // In the second pass, F7 while Ctrl+Shift are held: both are released at once.
  ASSERT_TRUE(sim.WaitNodes(
      [&](const std::vector<RemoteNode>&) {
        auto inject = sim.NodeByPhys("pmr-inject");
        return KeysFrom(sim, "pmr-inject", mark).size() > 8 && inject && inject->keysDown.size() == 2;
      },
      15000));
  const uint64_t stopMark = sim.DesktopSeq();
  ASSERT_TRUE(sim.Tap(kbd, KEY_F7));
  ASSERT_TRUE(sim.WaitNodes([&](const std::vector<RemoteNode>&) { return HeldNothing(sim); }, 5000));
  ASSERT_TRUE(status.WaitFor([](const bridgetest::Json& j) { return j["state"].s == "Idle"; }));
  for (const auto& k : KeysFrom(sim, "pmr-inject", stopMark)) EXPECT_EQ(k.value, 0) << "only releases after the stop";

  EXPECT_EQ(prog.Stop(), 0) << prog.Stderr();
  EXPECT_EQ(prog.Stderr().find("PMR input: "), std::string::npos) << prog.Stderr();
}
