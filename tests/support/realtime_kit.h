#pragma once
// The real RealtimeKit daemon (Debian's rtkit) on a private system bus, with
// the polkit daemon it asks. The polkit daemon runs in a mount namespace of
// its own in which a rule of the test grants RealtimeKit's actions, since the
// test processes belong to no login session. Needs root.
#include <sys/types.h>

#include <string>

namespace pmrtest {

class RealRealtimeKit {
 public:
  RealRealtimeKit() = default;
  ~RealRealtimeKit();
  RealRealtimeKit(const RealRealtimeKit&) = delete;
  RealRealtimeKit& operator=(const RealRealtimeKit&) = delete;

  // Empty when it runs; otherwise why it could not be started.
  std::string Start();
  void Stop();
  const std::string& BusAddress() const { return bus_; }
  // What the daemon logged so far.
  std::string Log() const;

 private:
  std::string dir_;
  std::string bus_;
  pid_t busPid_ = -1, polkitPid_ = -1, rtkitPid_ = -1;
};

}  // namespace pmrtest
