// The real program controlled from outside its window, under the simulated
// input subsystem and on a private session bus: every command-line option
// with its output and exit status, with and without a running program; the
// actions on the bus called with gdbus as a desktop shortcut or script
// would, observed through the status and on the simulated desktop; a caller
// of another user refused.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "tests/sim/sim_control.h"
#include "tests/support/fake_login1.h"
#include "tests/support/process.h"
#include "tests/unit/bridge_json.h"

namespace {

using bridgetest::Json;

struct Result {
  int status = -1;
  std::string out, err;
};

Result RunCaptured(std::vector<std::string> argv, const std::vector<std::string>& env) {
  pmrtest::ChildProcess c = pmrtest::Spawn(argv, env, true);
  Result r;
  if (c.pid <= 0) return r;
  r.out = pmrtest::ReadAll(c.stdoutFd, 60);
  r.err = pmrtest::ReadAll(c.stderrFd, 10);
  const int st = pmrtest::WaitFor(c, 60);
  close(c.stdoutFd);
  close(c.stderrFd);
  r.status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

Result Pellomar(std::vector<std::string> args, const std::vector<std::string>& env) {
  args.insert(args.begin(), pmrtest::ProgramPath());
  return RunCaptured(args, env);
}

std::string Label(const std::vector<std::string>& args) {
  std::string s;
  for (const auto& a : args) s += a + " ";
  return s;
}

bool WaitUntil(const std::function<bool()>& cond, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Without a running program nothing starts: help and version answer, mistakes
// are usage errors, every request to the program says it is not running.
TEST(RemoteControl, OptionsWithoutRunningProgram) {
  pmrtest::PrivateBus bus;
  ASSERT_TRUE(bus.Start("cli-none"));
  const std::string home = pmrtest::MakeTempDir("cli-none");
  std::vector<std::string> env = {"HOME=" + home, "XDG_DATA_HOME=" + home + "/data",
                                  "XDG_CONFIG_HOME=" + home + "/config", "XDG_RUNTIME_DIR=" + home,
                                  "DBUS_SESSION_BUS_ADDRESS=" + bus.Address(), "DISPLAY=", "WAYLAND_DISPLAY="};
  const std::string notRunning = "Pellomar is not running.\n";
  const std::string usageHint = "; see 'pellomar --help'.\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--help"}, 0, CommandLineHelp(), ""},
      {{"--version"}, 0, "pellomar 1.0.2 (Free)\n", ""},
      {{"--bogus"}, 2, "", "pellomar: unknown option '--bogus'" + usageHint},
      {{"--toggle"}, 2, "", "pellomar: --toggle needs a value" + usageHint},
      {{"--start", "mouse"}, 2, "", "pellomar: --start takes clicker, spammer, record or play" + usageHint},
      {{"--hotkeys", "maybe"}, 2, "", "pellomar: --hotkeys takes on or off" + usageHint},
      {{"--status", "a.pmrmacro"}, 2, "",
       "pellomar: files to open cannot be given with options that control the running program" + usageHint},
      {{"--status"}, 3, "", notRunning},
      {{"--toggle", "clicker"}, 3, "", notRunning},
      {{"--start", "spammer"}, 3, "", notRunning},
      {{"--stop", "record"}, 3, "", notRunning},
      {{"--stop-all"}, 3, "", notRunning},
      {{"--hotkeys", "on"}, 3, "", notRunning},
      {{"--profile", "Work"}, 3, "", notRunning},
  };
  for (const Case& c : cases) {
    Result r = Pellomar(c.args, env);
    EXPECT_EQ(r.status, c.status) << Label(c.args);
    EXPECT_EQ(r.out, c.out) << Label(c.args);
    EXPECT_EQ(r.err, c.err) << Label(c.args);
  }
  // With no session bus at all the requests cannot reach anything either.
  env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + home + "/no-bus");
  Result r = Pellomar({"--status"}, env);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("There is no session bus to reach Pellomar on", 0), 0u) << r.err;
  // None of them took the single-instance lock or made the data directory.
  EXPECT_FALSE(Exists(home + "/data/Pellomar"));
}

class RunningProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus.Start("cli-run"));
    pmrsim::SimProgram::Options o;
    o.env = {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()},
             {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system-bus"},
             {"NO_AT_BRIDGE", "1"}};
    ASSERT_TRUE(prog.Start(o));
    kbd = prog.control().AddKeyboard("usb-sim-kbd/input0");
    ASSERT_FALSE(kbd.empty());
    ASSERT_TRUE(prog.control().Go());
    env = {"DBUS_SESSION_BUS_ADDRESS=" + bus.Address(), "HOME=" + prog.home()};
    // Up once its actions answer on the bus.
    ASSERT_TRUE(WaitUntil([&] { return Pellomar({"--status"}, env).status == 0; }, 90000)) << prog.Stderr();
  }
  void TearDown() override { prog.Stop(); }

  Json Status() {
    Result r = Pellomar({"--status"}, env);
    Json j;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(bridgetest::JsonReader(r.out.substr(0, r.out.size() - 1)).Parse(j)) << r.out;
    EXPECT_EQ(r.out.back(), '\n');
    return j;
  }
  bool WaitStatus(const std::function<bool(const Json&)>& pred, int ms = 20000) {
    return WaitUntil([&] { return pred(Status()); }, ms);
  }
  Result Gdbus(const std::string& method, std::vector<std::string> args, const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> argv = prefix;
    for (std::string a : {"gdbus", "call", "--session", "--dest", "app.pellomar.free", "--object-path",
                          "/app/pellomar/free", "--method"})
      argv.push_back(a);
    argv.push_back(method);
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCaptured(argv, env);
  }
  bool DesktopSees(int code, uint64_t since) {
    return prog.control().WaitDesktop(
        [&](const std::vector<pmrsim::SeenEvent>& seen) {
          for (const auto& s : seen)
            if (s.seq > since && s.phys == "pmr-inject" && s.ev.type == EV_KEY && s.ev.code == code && s.ev.value == 1)
              return true;
          return false;
        },
        20000);
  }
  bool HeldNothing() {
    auto inject = prog.control().NodeByPhys("pmr-inject");
    return inject && inject->keysDown.empty();
  }

  pmrtest::PrivateBus bus;
  pmrsim::SimProgram prog;
  std::string kbd;
  std::vector<std::string> env;
};

TEST_F(RunningProgram, CommandLineActsOnTheRunningProgram) {
  Json s = Status();
  for (const char* tool : {"clicker", "spammer", "record", "play"}) EXPECT_FALSE(s[tool].b) << tool;
  EXPECT_EQ(s["profile"].s, "Default Tracking Profile");
  ASSERT_EQ(s["profiles"].items.size(), 1u);
  EXPECT_TRUE(s["hotkeys"].b);
  EXPECT_FALSE(s["hotkeysLocked"].b);
  for (const char* key : {"clicks", "keys", "events"}) EXPECT_EQ(s[key].kind, Json::Number) << key;

  // The clicker clicks on the desktop while it runs and holds nothing after.
  uint64_t mark = prog.control().DesktopSeq();
  Result r = Pellomar({"--start", "clicker"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(DesktopSees(BTN_LEFT, mark));
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["clicker"].b && j["clicks"].n > 0; }));
  EXPECT_EQ(Pellomar({"--stop", "clicker"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["clicker"].b; }));
  EXPECT_TRUE(WaitUntil([&] { return HeldNothing(); }, 5000));

  // Toggling starts and stops.
  EXPECT_EQ(Pellomar({"--toggle", "clicker"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["clicker"].b; }));
  EXPECT_EQ(Pellomar({"--toggle", "clicker"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["clicker"].b; }));

  // Hotkeys off and on, saved as the window saves the switch.
  EXPECT_EQ(Pellomar({"--hotkeys", "off"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["hotkeys"].b; }));
  EXPECT_NE(Slurp(prog.dataDir() + "/appsettings.txt").find("hotkeysEnabled=0\n"), std::string::npos);
  EXPECT_EQ(Pellomar({"--hotkeys=on"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["hotkeys"].b; }));

  // Requests the program refuses: exit 1 and its reason.
  struct Refusal {
    std::vector<std::string> args;
    std::string err;
  } refusals[] = {
      {{"--profile", "Nope"}, "pellomar: There is no profile of that name.\n"},
      {{"--start", "play"}, "pellomar: The current profile has no recording to play.\n"},
      {{"--toggle", "play"}, "pellomar: The current profile has no recording to play.\n"},
  };
  for (const Refusal& f : refusals) {
    r = Pellomar(f.args, env);
    EXPECT_EQ(r.status, 1) << Label(f.args);
    EXPECT_EQ(r.err, f.err) << Label(f.args);
    EXPECT_EQ(r.out, "") << Label(f.args);
  }
  EXPECT_EQ(Pellomar({"--profile", "Default Tracking Profile"}, env).status, 0);

  // Recording on and off.
  EXPECT_EQ(Pellomar({"--start", "record"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["record"].b; }));
  EXPECT_EQ(Pellomar({"--stop", "record"}, env).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["record"].b; }));

  // Stop-all ends both tools at once and leaves nothing held; several
  // requests in one command run in order.
  mark = prog.control().DesktopSeq();
  EXPECT_EQ(Pellomar({"--start", "spammer", "--start", "clicker"}, env).status, 0);
  EXPECT_TRUE(DesktopSees(KEY_SPACE, mark));
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["spammer"].b && j["clicker"].b; }));
  r = Pellomar({"--stop-all", "--status"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"clicker\":", 0), 0u) << r.out;
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["spammer"].b && !j["clicker"].b; }));
  EXPECT_TRUE(WaitUntil([&] { return HeldNothing(); }, 5000));
}

TEST_F(RunningProgram, ActionsOverTheBusWithGdbus) {
  Result r = Gdbus("org.gtk.Actions.List", {});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"'clicker'", "'spammer'", "'record'", "'play'", "'hotkeys'", "'profile'", "'stop-all'",
                           "'show-window'", "'quit'", "'status'"})
    EXPECT_NE(r.out.find(name), std::string::npos) << name << " in " << r.out;

  // What a desktop shortcut calls: ActivateAction toggles the clicker.
  r = Gdbus("org.freedesktop.Application.ActivateAction", {"clicker", "[]", "{}"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["clicker"].b; }));
  r = Gdbus("org.gtk.Actions.Describe", {"clicker"});
  EXPECT_EQ(r.out, "((true, signature '', [<true>]),)\n");
  r = Gdbus("org.gtk.Actions.Activate", {"clicker", "[]", "{}"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["clicker"].b; }));

  // States set directly; the profile by name.
  EXPECT_EQ(Gdbus("org.gtk.Actions.SetState", {"spammer", "<true>", "{}"}).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return j["spammer"].b; }));
  EXPECT_EQ(Gdbus("org.gtk.Actions.SetState", {"spammer", "<false>", "{}"}).status, 0);
  EXPECT_TRUE(WaitStatus([](const Json& j) { return !j["spammer"].b; }));
  EXPECT_EQ(Gdbus("org.gtk.Actions.Activate", {"profile", "[<'Default Tracking Profile'>]", "{}"}).status, 0);
  r = Gdbus("org.gtk.Actions.Describe", {"status"});
  EXPECT_EQ(r.out.rfind("((false, signature '', [<'{\"clicker\":false,", 0), 0u) << r.out;
  r = Gdbus("org.freedesktop.Application.Activate", {"{}"});
  EXPECT_EQ(r.status, 0) << r.err;

  // Malformed requests are errors and change nothing.
  struct Bad {
    std::string method;
    std::vector<std::string> args;
    std::string error;
  } bad[] = {
      {"org.freedesktop.Application.ActivateAction", {"nope", "[]", "{}"}, "InvalidArgs: Unknown action 'nope'."},
      {"org.gtk.Actions.Activate", {"clicker", "[<true>]", "{}"}, "The action 'clicker' takes no parameter."},
      {"org.gtk.Actions.Activate", {"profile", "[]", "{}"}, "takes one parameter of type s"},
      {"org.gtk.Actions.Activate", {"status", "[]", "{}"}, "cannot be activated"},
      {"org.gtk.Actions.SetState", {"hotkeys", "<'yes'>", "{}"}, "cannot be set to that value"},
      {"org.gtk.Actions.SetState", {"stop-all", "<true>", "{}"}, "cannot be set to that value"},
      {"org.freedesktop.Application.Open", {"['file:///etc/passwd']", "{}"}, "NotSupported"},
  };
  for (const Bad& b : bad) {
    r = Gdbus(b.method, b.args);
    EXPECT_NE(r.status, 0) << b.method << " " << Label(b.args);
    EXPECT_NE(r.err.find(b.error), std::string::npos) << b.method << ": " << r.err;
  }
  Json s = Status();
  EXPECT_FALSE(s["clicker"].b);
  EXPECT_TRUE(s["hotkeys"].b);

  // A process of another user that reaches the bus (this bus admits every
  // user) is refused, and nothing starts.
  const std::string busDir = bus.Address().substr(std::string("unix:path=").size());
  chmod(busDir.substr(0, busDir.rfind('/')).c_str(), 0755);
  r = Gdbus("org.freedesktop.Application.ActivateAction", {"clicker", "[]", "{}"},
            {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("AccessDenied"), std::string::npos) << r.err;
  r = Gdbus("org.gtk.Actions.Describe", {"status"}, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  EXPECT_NE(r.err.find("AccessDenied"), std::string::npos) << r.err;
  EXPECT_FALSE(Status()["clicker"].b);

  // Quit ends the program in order.
  EXPECT_EQ(Gdbus("org.freedesktop.Application.ActivateAction", {"quit", "[]", "{}"}).status, 0);
  EXPECT_TRUE(WaitUntil([&] { return !prog.Running(); }, 30000));
  EXPECT_EQ(prog.Stop(), 0);
  EXPECT_EQ(Pellomar({"--status"}, env).status, 3);
}

}  // namespace
