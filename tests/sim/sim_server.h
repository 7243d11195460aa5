#pragma once
// The control socket of a simulated kernel: a test drives the simulation that
// runs inside another process (the real program under the preload library)
// with one text command per line. See tests/sim/README.md for the commands.
#include <atomic>
#include <string>
#include <thread>

#include "tests/sim/sim_kernel.h"

namespace pmrsim {

// Runs one command against `k`; `out` gets the answer lines (the first begins
// with "ok" or "err"). `go` is set by the "go" command.
void HandleCommand(Kernel& k, const std::string& line, std::vector<std::string>& out,
                   std::atomic<bool>* go = nullptr);

class SimServer {
 public:
  SimServer(Kernel& k, std::string path);
  ~SimServer();
  bool Start();  // binds and listens; false when the socket cannot be made
  void Stop();
  // Blocks until a client sent "go" or the timeout passed.
  bool WaitGo(int timeoutMs);

 private:
  void Serve();
  void Session(int fd);
  Kernel& k_;
  std::string path_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::atomic<bool> go_{false};
  std::atomic<int> sessions_{0};
  std::thread thread_;
};

}  // namespace pmrsim
