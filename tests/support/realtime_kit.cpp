#include "tests/support/realtime_kit.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/process.h"

namespace pmrtest {

namespace {

constexpr const char* kPolkitd = "/usr/lib/polkit-1/polkitd";
constexpr const char* kRtkitd = "/usr/libexec/rtkit-daemon";

void StopPid(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  ChildProcess c;
  c.pid = pid;
  if (WaitFor(c, 5) < 0) kill(pid, SIGKILL);
  pid = -1;
}

// True once `name` has an owner on the bus.
bool HasOwner(const std::string& bus, const std::string& name) {
  std::string out;
  const int rc = Run({"gdbus", "call", "--address", bus, "--dest", "org.freedesktop.DBus", "--object-path",
                      "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name},
                     &out, {}, 10);
  return rc == 0 && out.find("true") != std::string::npos;
}

bool WaitOwner(const std::string& bus, const std::string& name) {
  for (int i = 0; i < 150; ++i) {
    if (HasOwner(bus, name)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

RealRealtimeKit::~RealRealtimeKit() { Stop(); }

std::string RealRealtimeKit::Start() {
  if (geteuid() != 0) return "needs root";
  if (access(kPolkitd, X_OK) != 0 || access(kRtkitd, X_OK) != 0)
    return "rtkit and polkitd are not installed (scripts/packages/test.txt)";
  dir_ = MakeTempDir("rtkit");
  // The daemons drop to their own users and must reach the bus socket in it.
  chmod(dir_.c_str(), 0755);
  const std::string socket = dir_ + "/bus";
  {
    std::ofstream conf(dir_ + "/bus.conf");
    conf << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><listen>unix:path="
         << socket
         << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
            "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n";
  }
  const std::string rules = dir_ + "/rules";
  Run({"mkdir", "-p", rules});
  {
    std::ofstream rule(rules + "/50-realtime.rules");
    rule << "polkit.addRule(function(action, subject) {\n"
            "  if (action.id.indexOf('org.freedesktop.RealtimeKit1.') == 0) return polkit.Result.YES;\n"
            "});\n";
  }
  ChildProcess bus = Spawn({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork"}, {}, false);
  busPid_ = bus.pid;
  bus_ = "unix:path=" + socket;
  for (int i = 0; i < 250 && access(socket.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string env = "DBUS_SYSTEM_BUS_ADDRESS=" + bus_;
  ChildProcess polkit = Spawn({"unshare", "-m", "sh", "-c",
                               "mount --make-rprivate / && mount --bind '" + rules +
                                   "' /etc/polkit-1/rules.d && exec " + kPolkitd + " --no-debug"},
                              {env}, false);
  polkitPid_ = polkit.pid;
  if (!WaitOwner(bus_, "org.freedesktop.PolicyKit1")) {
    Stop();
    return "polkitd did not come up on the private bus";
  }
  // The daemon logs to standard error; its own resource limits would forbid
  // writing to a log file, so they are left alone.
  ChildProcess rtkit = Spawn({"sh", "-c", std::string(kRtkitd) + " --stderr --no-canary --no-limit-resources 2>" + dir_ +
                                              "/rtkit.log"},
                             {env}, false);
  rtkitPid_ = rtkit.pid;
  if (!WaitOwner(bus_, "org.freedesktop.RealtimeKit1")) {
    Stop();
    return "rtkit-daemon did not come up on the private bus";
  }
  return {};
}

void RealRealtimeKit::Stop() {
  StopPid(rtkitPid_);
  StopPid(polkitPid_);
  StopPid(busPid_);
}

std::string RealRealtimeKit::Log() const {
  std::ifstream in(dir_ + "/rtkit.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace pmrtest
