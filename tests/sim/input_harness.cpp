#include "tests/sim/input_harness.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "platform/linux/input/input_state.h"
#include "platform/os_input.h"
#include "tools/recorder.h"
#include "model/tool_state.h"

namespace pmrsim {
namespace {

FakeHooks* g_Fake = nullptr;

bool FakeKey(int vk, bool down) {
  FakeHooks& h = *g_Fake;
  int stall = 0;
  bool swallow;
  {
    std::lock_guard<std::mutex> lock(h.mu);
    h.calls.push_back({'k', vk, down, 0, 0, 0, 0});
    if (down && vk == h.stallVk) stall = h.stallMs;
    swallow = h.keyRule ? h.keyRule(h, vk, down) : h.swallowKeys.count(vk) != 0;
  }
  if (stall) std::this_thread::sleep_for(std::chrono::milliseconds(stall));
  return swallow;
}

int FakeButton(int button, bool down) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  g_Fake->calls.push_back({'b', button, down, 0, 0, 0, 0});
  return (g_Fake->swallowButtons.count(button) ? kButtonTapSwallow : 0) |
         (g_Fake->placeButtons ? kButtonTapRecord : 0);
}

void FakePlace(int button, bool down, int, bool have, double x, double y) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  g_Fake->calls.push_back({'p', button, down, x, y, have ? 1 : 0, 0});
}

void FakeMove(bool have, double x, double y, long dx, long dy) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  g_Fake->calls.push_back({'m', have ? 1 : 0, have, x, y, dx, dy});
}

void FakeScroll(int wheel) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  g_Fake->calls.push_back({'s', wheel, false, 0, 0, 0, 0});
}

bool FakePosition(double& x, double& y) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  g_Fake->positionQueries++;
  if (!g_Fake->havePosition) return false;
  x = g_Fake->px;
  y = g_Fake->py;
  return true;
}

bool FakeLayout(int& x, int& y, int& w, int& h) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  if (!g_Fake->haveLayout) return false;
  x = g_Fake->lx;
  y = g_Fake->ly;
  w = g_Fake->lw;
  h = g_Fake->lh;
  return true;
}

int FakePidAt(double, double) {
  std::lock_guard<std::mutex> lock(g_Fake->mu);
  return g_Fake->pidAt;
}

const InputCallouts kFake = {&FakeKey, &FakeButton, &FakePlace, &FakeMove, &FakeScroll, &FakePosition, &FakeLayout, &FakePidAt};
const InputCallouts kRealHooks = {&TapKey,       &TapMouseButton, &PlaceMouseButton, &TapMouseMove, &TapScroll,
                                  &FakePosition, &FakeLayout,     &FakePidAt};

}  // namespace

std::vector<FakeHooks::Call> FakeHooks::Calls(char kind) {
  std::lock_guard<std::mutex> lock(mu);
  std::vector<Call> out;
  for (const Call& c : calls)
    if (c.kind == kind) out.push_back(c);
  return out;
}

int FakeHooks::CountKey(int vk, bool down) {
  int n = 0;
  for (const Call& c : Calls('k'))
    if (c.code == vk && c.down == down) ++n;
  return n;
}

InputHarness::InputHarness() {
  ResetInputForTest();
  g_Fake = &hooks;
  SetInputCalloutsForTest(&kFake);
  OsSetInputHooks(&ToolInputHooks());
}

InputHarness::~InputHarness() {
  OsStopInputTap();
  ResetInputForTest();
  ResetToolStateForTest();
  ResetInputHooksForTest();
  SetInputCalloutsForTest(nullptr);
  OsSetInputHooks(nullptr);
  g_Fake = nullptr;
}

void InputHarness::UseRealHooks() {
  ResetToolStateForTest();
  ResetInputHooksForTest();
  SetInputCalloutsForTest(&kRealHooks);
}

std::string InputHarness::AddFixture(const std::string& file, const std::string& phys) {
  return Add(Fixture(file, phys));
}

bool InputHarness::WaitGrabbed(const std::string& node, bool grabbed, int timeoutMs) {
  // The capture checks the key state once more right after grabbing and lets
  // go if a key went down meanwhile; events sent before that check would meet
  // a grab about to be undone. A grab counts once that check has been made.
  return sim.kernel.WaitNodes(
      [&](const std::vector<NodeInfo>& nodes) {
        for (const NodeInfo& n : nodes)
          if (n.node == node && n.exists) return grabbed ? n.grabChecked : !n.grabbed;
        return false;
      },
      timeoutMs);
}

std::optional<NodeInfo> InputHarness::Twin(const std::string& name) {
  for (const NodeInfo& n : sim.kernel.Nodes())
    if (n.phys == "pmr-twin" && n.name == name) return n;
  return std::nullopt;
}

std::vector<SeenEvent> InputHarness::SeenFrom(const std::string& phys, uint64_t since) {
  std::vector<SeenEvent> out;
  for (const SeenEvent& s : sim.kernel.Desktop(since))
    if (s.phys == phys) out.push_back(s);
  return out;
}

void InputHarness::Settle(int ms) {
  for (const NodeInfo& n : sim.kernel.Nodes()) sim.kernel.WaitDrained(n.node, 3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::vector<Triple> Triples(const std::vector<input_event>& evs) {
  std::vector<Triple> t;
  for (const auto& e : evs) t.emplace_back(e.type, e.code, e.value);
  return t;
}

std::vector<Triple> Triples(const std::vector<SeenEvent>& evs) {
  std::vector<Triple> t;
  for (const auto& e : evs) t.emplace_back(e.ev.type, e.ev.code, e.ev.value);
  return t;
}

std::string Describe(const std::vector<Triple>& t) {
  std::ostringstream s;
  for (const auto& [a, b, c] : t) s << "(" << a << "," << b << "," << c << ")";
  return s.str();
}

}  // namespace pmrsim
