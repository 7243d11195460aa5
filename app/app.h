#pragma once
// Process-wide state of start-up, threads and shutdown.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/read_file.h"
#include "model/wake.h"

extern std::vector<std::thread> g_Threads;

// The main window (a GtkWindow*), null once the main loop has ended.
extern void* g_MasterWindow;
extern std::function<void(const std::string&)> g_MasterEvalFn;
extern std::function<void(std::function<void()>)> g_MasterDispatchFn;

extern std::mutex g_UpdateUiMutex;
extern std::atomic<bool> g_UpdateInstallCancel;
extern std::string g_UpdateManifestOverride;

constexpr const char* kWindowTitle = "Pellomar (Free Version 1.0.2)";
constexpr const char* kMenuName = "Pellomar Free";
constexpr int kDefaultWindowWidth = 420;
constexpr int kDefaultWindowHeight = 560;

// Runs fn under g_UpdateUiMutex unless shutdown refused UI updates or there is no page.
bool UpdateUi(const std::function<void()>& fn);

void ShutDown();
void SaveGeometry();


// Command line handling of the process entry.
// One request to the running program, in the order given.
struct ControlCommand {
  enum Verb { kToggle, kStart, kStop, kStopAll, kHotkeys, kProfile, kStatus };
  Verb verb = kStatus;
  std::string value;  // the tool, "on"/"off" or the profile name
  bool operator==(const ControlCommand&) const = default;
};
struct CommandLine {
  bool child = false;               // first argument is exactly "--child"
  bool selfTest = false;            // a "--selftest-update=" argument was found
  std::string selfTestPath;
  std::string manifestOverride;     // last "--update-manifest=" value
  bool hasManifestOverride = false;
  // What the rest of the arguments ask for. kRun starts (or wakes) the
  // program as before; the others end the process without starting it.
  enum Mode { kRun, kHelp, kVersion, kUsageError, kControl };
  Mode mode = kRun;
  std::string usageError;                // kUsageError: one line, no line end
  std::vector<ControlCommand> control;   // kControl
};
CommandLine ParseCommandLine(int argc, char** argv);
// The --help and --version texts (each ends with a line feed).
std::string CommandLineHelp();
std::string CommandLineVersion();
// Exit statuses of the modes that do not start the program.
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotRunning = 3;
// Help, version, a usage error or the control requests: prints what they
// print and returns the exit status. The other modes are PmrMain's.
int RunCommandLineMode(const CommandLine& cl);

// Runs the whole program: command-line modes, start-up, main loop, shutdown.
int PmrMain(int argc, char** argv);

// The worker threads (started by PmrMain; exposed for tests).
void StartWorkerThreads();
