// The modes of the command line that do not start the program: help, the
// version, a usage error, and requests to the running program, which reach
// it through its actions on the session bus (app/remote_control.h).
#include <cstdio>
#include <string>

#include "app/app.h"
#include "platform/os_remote.h"

namespace {

// One request; the exit status it ends the process with when it fails, 0
// when it was done.
int RunOne(const ControlCommand& c) {
  std::string message;
  RemoteResult r = RemoteResult::kDone;
  RemoteValue state;
  switch (c.verb) {
    case ControlCommand::kToggle: r = OsRemoteActivate(c.value, RemoteValue(), message); break;
    case ControlCommand::kStart: r = OsRemoteSetState(c.value, RemoteValue::Bool(true), message); break;
    case ControlCommand::kStop: r = OsRemoteSetState(c.value, RemoteValue::Bool(false), message); break;
    case ControlCommand::kStopAll: r = OsRemoteActivate("stop-all", RemoteValue(), message); break;
    case ControlCommand::kHotkeys: r = OsRemoteSetState("hotkeys", RemoteValue::Bool(c.value == "on"), message); break;
    case ControlCommand::kProfile: r = OsRemoteActivate("profile", RemoteValue::Text(c.value), message); break;
    case ControlCommand::kStatus: r = OsRemoteGetState("status", state, message); break;
  }
  if (r == RemoteResult::kNotRunning) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitNotRunning;
  }
  if (r == RemoteResult::kRefused) {
    std::fprintf(stderr, "pellomar: %s\n", message.c_str());
    return kExitRefused;
  }
  if (c.verb == ControlCommand::kStatus) {
    std::fwrite(state.text.data(), 1, state.text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int RunCommandLineMode(const CommandLine& cl) {
  switch (cl.mode) {
    case CommandLine::kHelp: std::fputs(CommandLineHelp().c_str(), stdout); return 0;
    case CommandLine::kVersion: std::fputs(CommandLineVersion().c_str(), stdout); return 0;
    case CommandLine::kUsageError:
      std::fprintf(stderr, "pellomar: %s; see 'pellomar --help'.\n", cl.usageError.c_str());
      return kExitUsage;
    case CommandLine::kControl:
      for (const ControlCommand& c : cl.control)
        if (int status = RunOne(c)) return status;
      return 0;
    case CommandLine::kRun: break;
  }
  return 0;
}
