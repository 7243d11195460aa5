#pragma once
// A fresh simulated kernel with the input layer's device table and recording
// hooks that a test controls, for tests of capture and injection.
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/sim/sim_io.h"

namespace pmrsim {

// Stand-in for the recording hooks and the pointer backend.
struct FakeHooks {
  struct Call {
    char kind;  // 'k' key, 'b' button, 'p' button place, 'm' move, 's' scroll
    int code;   // VK code, button VK code, or wheel amount
    bool down;
    double x, y;
    long dx, dy;
  };
  std::mutex mu;
  // VK codes whose presses, repeats and releases are swallowed.
  std::set<int> swallowKeys;
  std::set<int> swallowButtons;
  // The button hook asks where every button went (as a recording does).
  bool placeButtons = false;
  // When set, the key hook decides instead of swallowKeys.
  bool (*keyRule)(FakeHooks& h, int vk, bool down) = nullptr;
  int stallVk = 0;   // TapKey(stallVk, press) sleeps stallMs
  int stallMs = 0;
  bool havePosition = false;
  double px = 0, py = 0;
  int positionQueries = 0;
  bool haveLayout = true;
  int lx = 0, ly = 0, lw = 1920, lh = 1080;
  int pidAt = 0;
  std::vector<Call> calls;

  std::vector<Call> Calls(char kind);
  int CountKey(int vk, bool down);
};

class InputHarness {
 public:
  InputHarness();
  ~InputHarness();  // stops the capture and forgets the injection devices
  InputHarness(const InputHarness&) = delete;
  InputHarness& operator=(const InputHarness&) = delete;

  Kernel& k() { return sim.kernel; }
  // The program's own recording hooks (tools/) instead of the fake ones; the
  // pointer backend stays fake.
  void UseRealHooks();
  std::string Add(const DeviceDesc& d) { return sim.kernel.AddDevice(d); }
  std::string AddFixture(const std::string& file, const std::string& phys);
  // Waits until the node is grabbed (or not grabbed) by a descriptor.
  bool WaitGrabbed(const std::string& node, bool grabbed = true, int timeoutMs = 60000);
  // The live twin made for the device called `name`.
  std::optional<NodeInfo> Twin(const std::string& name);
  // Events the desktop received from nodes whose phys is `phys`, after `since`.
  std::vector<SeenEvent> SeenFrom(const std::string& phys, uint64_t since = 0);
  bool WaitSeen(const std::function<bool(const std::vector<SeenEvent>&)>& pred, int timeoutMs = 60000) {
    return sim.kernel.WaitDesktop(pred, timeoutMs);
  }
  // Waits until every reader has read what was sent to it, then `ms` more
  // for the capture thread to act on it.
  void Settle(int ms = 150);

  SimScope sim;
  FakeHooks hooks;
};

// (type, code, value) of each event, for comparisons.
using Triple = std::tuple<int, int, int>;
std::vector<Triple> Triples(const std::vector<input_event>& evs);
std::vector<Triple> Triples(const std::vector<SeenEvent>& evs);
std::string Describe(const std::vector<Triple>& t);

}  // namespace pmrsim
