#pragma once
// The parts of the KWin backend that need no bus: the exported interface,
// the report list reader, the queries over a list, the script texts and the
// private script directory. Shared by platform/linux/shell/kwin.cpp, its
// tests and benchmarks.
#include <string>
#include <string_view>
#include <vector>

namespace pmrkwin {

inline constexpr const char* kObjectPath = "/app/pellomar/KWin";
inline constexpr const char* kIface = "app.pellomar.KWin1";
// Every call carries the key of this run first: any client of the session
// bus may have KWin load a script, and such a script calls us as KWin does.
inline constexpr const char* kIntrospection =
    "<node><interface name='app.pellomar.KWin1'><method name='Pointer'><arg type='s' direction='in'/>"
    "<arg type='i' direction='in'/><arg type='i' direction='in'/></method><method name='Windows'>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/></method></interface></node>";
inline constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr const char* kAccessDeniedText = "Only KWin may call this.";

// One window of the report, topmost first in a list.
struct KWinWindow {
  int pid = 0;
  int x = 0, y = 0, width = 0, height = 0;
  bool normal = false;  // a normal or utility window
};

// Reads a "Windows" report: records separated by ";", each six decimal
// numbers separated by ",". Records with fewer than six readable numbers are
// skipped; the rest are kept in order.
std::vector<KWinWindow> ParseWindowList(std::string_view list);
// Pid of the first window whose rectangle [x, x + width) x [y, y + height)
// holds the point; 0 if none.
int PidAtIn(const std::vector<KWinWindow>& windows, double x, double y);
// Frame of the first normal window of pid; false when there is none.
bool OwnFrameIn(const std::vector<KWinWindow>& windows, int pid, int& x, int& y, int& w, int& h);

// A bus name that may be written into a script (letters, digits, "-", ".",
// ":" and "_"; not empty).
bool ScriptSafeBusName(std::string_view name);

// A fresh key for one run: 32 lower-case hex digits from the kernel's random
// source; empty when it cannot be had.
std::string NewReportKey();
// The key a call carried equals ours (in a time that does not depend on where
// they differ). An empty key never matches.
bool ReportKeyMatches(std::string_view given, std::string_view key);

// The report script: calls `target` (a bus name) with `key` first in every call.
std::string ReportScriptText(const std::string& target, const std::string& key);
std::string ActionScriptText(int pid, const std::string& body);
std::string KeepAboveBody(bool above);
std::string MoveBody(int x, int y);

// The directory the script files are written to: "pellomar" in the user's
// runtime directory, or a fresh directory under /tmp when there is none;
// made with mode 0700 and checked to be a real directory of this user.
// Computed once; empty when no such directory can be had.
const std::string& ScriptDirectory();
// Writes a script file (never through a link; mode 0600).
bool WriteScriptFile(const std::string& path, const std::string& text);

// Deletes the script files in dir left by processes that no longer run
// (never those of ownPid or of a running process) and returns their script
// names.
std::vector<std::string> RemoveStaleScripts(const std::string& dir, int ownPid);

// Seams for tests (no effect on a running backend otherwise).
// Action scripts loaded whose unload is still pending.
int PendingActionCountForTest();
// Directory where the next ScriptDirectory() call looks; forgets the cached one.
void ResetScriptDirectoryForTest();

}  // namespace pmrkwin
