#pragma once
// Private D-Bus buses and small fake desktop services for tests: a
// dbus-daemon with its own configuration (a stand-in system or session bus),
// a fake org.freedesktop.login1 (manager, the caller's session, the user's
// display session) and fake screensavers emitting ActiveChanged. The fakes
// serve their objects from a thread of their own, so a test's main thread
// may make blocking calls to them.
#include <sys/types.h>

#include <memory>
#include <string>

namespace pmrtest {

class PrivateBus {
 public:
  PrivateBus() = default;
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  // Starts a dbus-daemon listening on a socket in a fresh directory; false
  // when it did not come up within a few seconds.
  bool Start(const std::string& tag);
  void Stop();
  const std::string& Address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string dir_;
  std::string address_;
};

class FakeLogin1 {
 public:
  static constexpr const char* kSessionPath = "/org/freedesktop/login1/session/_31";

  struct Options {
    bool active = true;
    bool lockedHint = false;
    // GetSessionByPID answers with kSessionPath; otherwise it fails (as for a
    // process that belongs to no session).
    bool answerGetSessionByPid = true;
    // The user's "Display" property ("(so)": id and object path). Empty: the
    // property read fails. displayWrongType: it has type "s" instead.
    std::string userDisplayPath;
    bool displayWrongType = false;
  };

  FakeLogin1();
  ~FakeLogin1();
  FakeLogin1(const FakeLogin1&) = delete;
  FakeLogin1& operator=(const FakeLogin1&) = delete;

  // Connects to the bus, owns org.freedesktop.login1 and exports the objects.
  bool Start(const std::string& busAddress, const Options& options);
  void Stop();

  // Changes the session's properties and emits PropertiesChanged for them.
  void SetSession(bool active, bool lockedHint);
  void EmitLock();
  void EmitUnlock();
  // Emits a signal on the session path with the given member from this
  // service (any other signal name, e.g. "PauseDevice").
  void EmitSessionSignal(const char* interfaceName, const char* member);
  // Number of GetAll calls on the session object so far.
  int GetAllCalls() const;
  int GetSessionByPidCalls() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Emits screensaver signals on a bus from a connection of its own.
class FakeScreensaver {
 public:
  FakeScreensaver();
  ~FakeScreensaver();
  bool Start(const std::string& busAddress);
  // ActiveChanged(b) on interfaceName from object /org/freedesktop/ScreenSaver.
  void EmitActiveChanged(const char* interfaceName, bool active);
  // ActiveChanged with other parameters, given as a GVariant text ("('x',)").
  void EmitActiveChangedRaw(const char* interfaceName, const char* variantText);
  // Any signal from this connection (which does not own login1).
  void EmitSignal(const char* path, const char* interfaceName, const char* member);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A stand-in RealtimeKit (org.freedesktop.RealtimeKit1) that grants what it
// is asked for with the privileges of the test process: the thread given by
// its id gets SCHED_FIFO, or the nice level asked for.
class FakeRealtimeKit {
 public:
  FakeRealtimeKit();
  ~FakeRealtimeKit();
  FakeRealtimeKit(const FakeRealtimeKit&) = delete;
  FakeRealtimeKit& operator=(const FakeRealtimeKit&) = delete;
  // maxPriority 0: real-time is refused (MakeThreadRealtime fails).
  bool Start(const std::string& busAddress, int maxPriority);
  void Stop();
  int RealtimeCalls() const;
  int HighPriorityCalls() const;
  int LastPriority() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pmrtest
