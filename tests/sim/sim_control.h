#pragma once
// Test-side client of a simulated input subsystem that runs in another
// process, and a launcher that starts the real program under it.
// tests/sim/README.md shows how end-to-end tests use them.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/sim_kernel.h"

namespace pmrsim {

struct RemoteNode {
  std::string node;
  bool exists = false;
  bool fromUinput = false;
  bool grabbed = false;
  bool grabbedByOther = false;
  int openCount = 0;
  int opensEver = 0;
  input_id id{};
  std::vector<int> keysDown;
  std::vector<int> ledsOn;
  std::string phys;
  std::string name;
  bool grabChecked = false;  // see NodeInfo::grabChecked
};

class SimControl {
 public:
  SimControl() = default;
  ~SimControl();
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;

  // Connects to the control socket, retrying until it exists.
  bool Connect(const std::string& socketPath, int timeoutMs = 10000);
  void Disconnect();
  bool connected() const { return fd_ >= 0; }

  // One command; the answer lines (the first begins with "ok" or "err").
  std::vector<std::string> Command(const std::string& line);
  // "ok <payload>" → payload; nullopt on "err" or a broken connection.
  std::optional<std::string> Ok(const std::string& line);

  bool Go();  // lets a program started with waitForGo run

  // Devices. Node names ("event3") are returned; empty on failure.
  std::string AddEvemu(const std::string& evemuPath, const std::string& phys = "usb-sim/input0");
  std::string AddKeyboard(const std::string& phys = "usb-sim-kbd/input0", const std::string& name = "Sim Keyboard");
  std::string AddMouse(const std::string& phys = "usb-sim-mouse/input0", const std::string& name = "Sim Mouse",
                       bool hiRes = false);
  bool Emit(const std::string& node, const std::vector<input_event>& events);
  bool EmitLost(const std::string& node, const std::vector<input_event>& events);
  bool Key(const std::string& node, int code, int value);  // key event + SYN_REPORT
  bool Tap(const std::string& node, int code);             // press, then release
  bool Replay(const std::string& node, const std::string& evemuPath);
  bool Unplug(const std::string& node);
  bool SetAccess(const std::string& node, bool read, bool write);
  bool SetUinputAccess(bool allowed);
  bool GrabByOther(const std::string& node, bool grab);
  bool SetReadFault(const std::string& node, const std::string& fault);  // none|one|truncated|eagain
  bool FailUinputCreate(const std::string& phys);                        // "off" clears
  bool DesktopWriteLed(const std::string& node, int code, int value);
  bool SetClientBufferSize(size_t events);  // 0: the kernel's estimate

  // The desktop side.
  std::vector<SeenEvent> Desktop(uint64_t since = 0);
  uint64_t DesktopSeq();
  bool WaitDesktop(const std::function<bool(const std::vector<SeenEvent>&)>& pred, int timeoutMs);

  // Nodes (present and removed, oldest first).
  std::vector<RemoteNode> Nodes();
  std::optional<RemoteNode> NodeByPhys(const std::string& phys);  // newest present one
  std::optional<RemoteNode> NodeByName(const std::string& name);  // newest present one
  bool WaitNodes(const std::function<bool(const std::vector<RemoteNode>&)>& pred, int timeoutMs);
  // Every write to a uinput-created node, one event list per write.
  std::vector<std::vector<input_event>> Writes(const std::string& node);

 private:
  int fd_ = -1;
  std::string pending_;
};

// Starts the real program (build/pellomar by default) under the simulation.
class SimProgram {
 public:
  struct Options {
    std::string exe;                      // default: the build's pellomar
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;  // extra variables
    bool waitForGo = true;  // hold the program before main until Go()
  };
  SimProgram() = default;
  ~SimProgram();
  SimProgram(const SimProgram&) = delete;
  SimProgram& operator=(const SimProgram&) = delete;

  // Makes a private HOME / XDG dirs, starts the program with the preload
  // library and connects the control client. With waitForGo the program waits
  // until control().Go().
  bool Start(const Options& options);
  bool Start() { return Start(Options{}); }
  SimControl& control() { return control_; }
  pid_t pid() const { return pid_; }
  bool Running();
  const std::string& home() const { return home_; }
  std::string dataDir() const { return home_ + "/.local/share/Pellomar"; }
  // Everything the program wrote to standard error so far.
  std::string Stderr() const;
  // SIGTERM, then SIGKILL after the timeout; the exit status (or 128+signal).
  int Stop(int timeoutMs = 10000);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string home_;
  SimControl control_;
};

}  // namespace pmrsim
